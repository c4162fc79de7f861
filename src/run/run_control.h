// State shared by the front end (display) thread and the worker thread.
//
// Every member except the file name, the message sink, the thread count and the
// pause event sits behind one lock, held for the whole of each operation. Pausing
// closes a manual-reset event on which the worker waits, outside the lock, inside
// CheckContinue.
#pragma once

#include "run/manual_reset_event.h"
#include "run/run_progress.h"
#include "run/run_settings.h"

#include <mutex>
#include <optional>
#include <string>
#include <thread>

class CRunControl final : public CRunProgress {
public:
    using WorkerEntry = void (*)(CRunControl*);

    explicit CRunControl(const char* fileName);
    ~CRunControl(); // waits for a started worker to end
    CRunControl(const CRunControl&) = delete;
    CRunControl& operator=(const CRunControl&) = delete;

    // Sets running, then starts the worker while still holding the lock, so the
    // worker's first locked call waits until the start is complete. A thread
    // the system will not start throws std::system_error, running unset.
    void StartWorker(WorkerEntry entry);
    // Waits until the worker thread has returned (after SetFinished).
    void JoinWorker();

    void Pause();
    void Resume();
    void Cancel();
    void SetFinished();
    void SetError(const char* text); // does not mark the state changed
    void ClearChanged();
    // Blocks while paused, then returns 1 to go on or 0 after a cancel.
    int CheckContinue() override;

    // While the worker has changed no file yet (reading the model, the
    // heads), the front end may end the process at once on a cancel rather
    // than wait for the worker's next check, which a long solve may not
    // reach for many seconds. The worker calls SetAbandonable at its start
    // and EndAbandonable before it first changes a file (false: cancelled or
    // abandoned, change nothing). Abandon, from the front end, cancels and
    // returns true when the process may end now.
    void SetAbandonable();
    bool EndAbandonable();
    bool Abandon();

    void SetProgress(double currentTime, double minLocalStep, int reducedNodes) override;
    void SetStartTime(double value) override;
    void SetCurrentTime(double value) override;
    void SetEndTime(double value) override;
    void SetGlobalStep(double value) override;
    void SetMinLocalStep(double value);
    // The smallest local step becomes min(its value, value), read and written
    // under one hold of the lock so that concurrent reports are never lost.
    void LowerMinLocalStep(double value) override;
    void SetStatus(const char* text) override; // null clears the status

    const char* GetFileName() const { return m_fileName.c_str(); }
    double GetStartTime();
    double GetCurrentTime();
    double GetEndTime();
    double GetGlobalStep();
    double GetMinLocalStep();
    int GetReducedNodes();
    int IsRunning();
    int IsChanged();
    int IsPaused();
    int IsCancelled();
    int HasError();
    // Read only after the worker has finished, when nothing writes it any more.
    const char* GetError() const { return m_error ? m_error->c_str() : nullptr; }
    // A copy taken under the lock: the worker may replace the text at any time.
    std::optional<std::string> GetStatus();

    // Where the worker's error reports go; set before StartWorker. Borrowed.
    void SetMessageSink(CMessageSink* sink) { m_sink = sink; }
    CMessageSink* GetMessageSink() const override { return m_sink; }
    // A diagnostic line for standard output (without its newline): through the
    // message sink when there is one, else straight to stdout.
    void WriteDiagnostic(const char* line) override;

    // The run's settings from the command line; set before StartWorker.
    void SetSettings(const CRunSettings& settings) { m_settings = settings; }
    const CRunSettings& Settings() const { return m_settings; }
    // The worker's phase times as text, left at the end of its run for the
    // front end; empty until then.
    void SetTimingReport(const std::string& text);
    std::string GetTimingReport();
    // The mass budget's summary of a finished run (empty: none).
    void SetBudgetSummary(const std::string& text) override;
    std::string GetBudgetSummary();

private:
    std::mutex m_lock;
    const std::string m_fileName;
    int m_running = 0;
    int m_paused = 0;
    int m_cancelled = 0;
    int m_abandonable = 0;
    double m_startTime = 0.0;
    double m_currentTime = 0.0;
    double m_endTime = 0.0;
    double m_globalStep = 0.0;
    double m_minLocalStep = 0.0;
    int m_reducedNodes = 0;
    int m_changed = 1;
    std::optional<std::string> m_status;
    std::optional<std::string> m_error;
    CManualResetEvent m_pauseEvent{true};
    CMessageSink* m_sink = nullptr; // borrowed from the front end
    CRunSettings m_settings;
    std::string m_timingReport;
    std::string m_budgetSummary;
    std::thread m_worker;
};
