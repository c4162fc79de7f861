// The command-line front end: starts the worker over a run control, shows its
// progress (a redrawn terminal display, or one line per status change when not
// on a terminal), passes keys and signals on, and turns the end of the run
// into an exit code.
#pragma once

#include "app/cli_options.h"
#include "run/message_sink.h"
#include "run/run_control.h"
#include "sim/run.h"

#include <mutex>
#include <string>
#include <utility>
#include <vector>

// Exit codes of kova-compute.
constexpr int EXIT_RUN_OK = 0;
constexpr int EXIT_RUN_FAILED = 1;
constexpr int EXIT_USAGE = 2;
constexpr int EXIT_RUN_CANCELLED = 130;

// Takes the worker's messages. Failure reports ("KOVA Compute Error: <text>",
// then "detail: ...") go to stderr, diagnostic lines to stdout. While a
// display owns the terminal they are queued and written by the display, which
// is then the terminal's only writer.
class CFrontEndSink : public CMessageSink {
public:
    explicit CFrontEndSink(bool queue) : m_queue(queue) {}
    void ShowMessage(const char* caption, const char* text, const char* detail) override;
    void WriteDiagnostic(const char* line) override;
    // "kova-compute: warning: <line>" on stderr, in order with the messages.
    void WriteWarning(const char* line) override;
    // The queued lines with their file descriptors, oldest first.
    std::vector<std::pair<int, std::string>> TakePending();
    // Writes a status line to stderr, in order with the messages.
    void WriteStatus(const std::string& line);
    // The failure report lines shown so far.
    std::vector<std::string> Reports();
    // Whether a failure has been reported.
    bool HasReports();

private:
    void Emit(int fd, const std::string& line);
    std::mutex m_mutex;
    bool m_queue;
    std::vector<std::pair<int, std::string>> m_pending;
    std::vector<std::string> m_reports;
};

// Runs the model named by options.base on a worker thread that starts at
// worker (the one-process run, or rank 0 of a run over several processes);
// returns the exit code.
int RunFrontEnd(const CCliOptions& options, CRunControl::WorkerEntry worker = SimulationThread);
