// The command-line front end: starts the worker over a run control, follows
// its status and reports how the run ended.
#pragma once

#include "run/message_sink.h"

#include <iosfwd>
#include <string>
#include <vector>

// Exit codes of kova-compute.
constexpr int EXIT_RUN_OK = 0;
constexpr int EXIT_RUN_FAILED = 1;
constexpr int EXIT_USAGE = 2;
constexpr int EXIT_RUN_CANCELLED = 130;

// Prints the worker's failure reports: "KOVA Compute Error: <text>" and a
// "detail: ..." line when there is one.
class CStreamMessageSink : public CMessageSink {
public:
    explicit CStreamMessageSink(std::ostream& out) : m_out(out) {}
    void ShowMessage(const char* caption, const char* text, const char* detail) override;

private:
    std::ostream& m_out;
};

// The model's base path: the arguments joined by single blanks, unchanged.
std::string JoinBasePath(const std::vector<std::string>& args);

// Runs the model at base and returns the exit code; status lines, failure
// reports and the closing error text go to err.
int RunModel(const std::string& base, std::ostream& err);
