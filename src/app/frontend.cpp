#include "app/frontend.h"

#include "app/key_controller.h"
#include "app/progress_json.h"
#include "app/progress_lines.h"
#include "app/progress_view.h"
#include "app/terminal_session.h"
#include "model/exceptions.h"
#include "model/number_text.h"
#include "run/platform.h"
#include "run/run_control.h"
#include "sim/run.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <poll.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// The display refreshes twice a second; without a display the status is
// followed more closely so that short stages still show their line.
constexpr auto DISPLAY_REFRESH = std::chrono::milliseconds(500);
constexpr auto STATUS_POLL = std::chrono::milliseconds(50);
constexpr auto JSON_PROGRESS_EVERY = std::chrono::seconds(1);

} // namespace

void CFrontEndSink::Emit(int fd, const std::string& line) {
    if (m_queue) {
        m_pending.emplace_back(fd, line);
        return;
    }
    const std::string text = line + "\n";
    WriteAll(fd, text.data(), text.size());
}

void CFrontEndSink::ShowMessage(const char* caption, const char* text, const char* detail) {
    std::lock_guard<std::mutex> guard(m_mutex);
    const std::string report = std::string(caption) + ": " + text;
    m_reports.push_back(report);
    Emit(STDERR_FILENO, report);
    if (detail && *detail) {
        m_reports.push_back(std::string("detail: ") + detail);
        Emit(STDERR_FILENO, m_reports.back());
    }
}

void CFrontEndSink::WriteDiagnostic(const char* line) {
    std::lock_guard<std::mutex> guard(m_mutex);
    Emit(STDOUT_FILENO, line);
}

void CFrontEndSink::WriteWarning(const char* line) {
    std::lock_guard<std::mutex> guard(m_mutex);
    Emit(STDERR_FILENO, std::string("kova-compute: warning: ") + line);
}

void CFrontEndSink::WriteStatus(const std::string& line) {
    std::lock_guard<std::mutex> guard(m_mutex);
    Emit(STDERR_FILENO, line);
}

std::vector<std::pair<int, std::string>> CFrontEndSink::TakePending() {
    std::lock_guard<std::mutex> guard(m_mutex);
    std::vector<std::pair<int, std::string>> pending;
    pending.swap(m_pending);
    return pending;
}

std::vector<std::string> CFrontEndSink::Reports() {
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_reports;
}

bool CFrontEndSink::HasReports() {
    std::lock_guard<std::mutex> guard(m_mutex);
    return !m_reports.empty();
}

namespace {

// The display drawn in place on a terminal, at the size its window has at
// each draw (see CDisplayPainter).
class CTerminalDisplay {
public:
    explicit CTerminalDisplay(int fd) : m_fd(fd), m_painter(fd) {}

    CTerminalSize Size() const { return TerminalSize(m_fd); }

    // Writes pending message lines above the block, then redraws the block.
    void Draw(const std::vector<std::string>& lines,
              const std::vector<std::pair<int, std::string>>& above, CTerminalSize size) {
        for (const auto& [fd, text] : m_painter.Paint(lines, above, size))
            WriteAll(fd, text.data(), text.size());
    }

private:
    int m_fd;
    CDisplayPainter m_painter;
};

// Waits up to `wait` for a key or a signal. Returns the keys read.
std::string WaitForInput(bool keys, CSignalWatch& signals, Clock::duration wait, bool& signalled) {
    struct pollfd fds[2];
    int count = 0;
    fds[count++] = {signals.ReadFd(), POLLIN, 0};
    if (keys)
        fds[count++] = {STDIN_FILENO, POLLIN, 0};
    const int ms =
        static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(wait).count());
    std::string input;
    if (poll(fds, static_cast<nfds_t>(count), ms < 0 ? 0 : ms) <= 0)
        return input;
    if (fds[0].revents & POLLIN)
        signalled = signals.Drain() || signalled;
    if (count > 1 && (fds[1].revents & POLLIN)) {
        char buffer[64];
        const ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
        if (n > 0)
            input.assign(buffer, static_cast<size_t>(n));
    }
    return input;
}

// The end of the run as the display reports it: the error text after a
// failure, the time reached after a cancel (its files are closed as a
// finished run's, so the status must tell it apart), else "Closing ...".
void PostEndStatus(CRunControl& runControl) {
    if (runControl.HasError())
        runControl.SetStatus(runControl.GetError());
    else if (runControl.IsCancelled())
        runControl.SetStatus(("Cancelled at time " + ExactText(runControl.GetCurrentTime()) +
                              " of " + ExactText(runControl.GetEndTime()))
                                 .c_str());
    else
        runControl.SetStatus("Closing ...");
}

// The run was cancelled before it changed any file: the process ends now
// rather than when a long solve next looks (RunFrontEnd ends it).
constexpr int EXIT_ABANDONED = -1;

int ExitCode(CRunControl& runControl) {
    if (runControl.HasError())
        return EXIT_RUN_FAILED;
    return runControl.IsCancelled() ? EXIT_RUN_CANCELLED : EXIT_RUN_OK;
}

// The threads a run computes with: all the hardware threads the process may
// use, or those asked for, but never more: a thread without a core of its own
// waits for one at every job of every step and slows the run down manifold.
int RunThreads(int asked) {
    const int hardware = HardwareThreads();
    if (asked <= 0)
        return hardware;
    if (asked <= hardware)
        return asked;
    const std::string note = "kova-compute: --threads " + std::to_string(asked) +
                             " is more than the " + std::to_string(hardware) +
                             " hardware threads this process may use; computing with " +
                             std::to_string(hardware) + "\n";
    WriteAll(STDERR_FILENO, note.data(), note.size());
    return hardware;
}

// Starts the worker; a thread the system will not start (its limit of
// threads, or of memory for a stack) is reported as a failed run.
bool StartWorker(CRunControl& runControl, CFrontEndSink& sink, CRunControl::WorkerEntry worker) {
    try {
        runControl.StartWorker(worker);
        return true;
    } catch (const std::exception& e) {
        sink.ShowMessage(
            RUN_ERROR_CAPTION, "ERROR - A kova Compute Exception was caught",
            SystemFailure(std::string("could not start the worker thread: ") + e.what())
                .Detail()
                .c_str());
        runControl.SetError("Computational Error");
        return false;
    }
}

int RunWithDisplay(CRunControl& runControl, CFrontEndSink& sink, CRunControl::WorkerEntry worker) {
    CSignalWatch signals;
    CRawKeyboard keyboard(true);
    CHiddenCursor cursor(STDERR_FILENO);
    CTerminalDisplay display(STDERR_FILENO);
    CProgressView view;
    CKeyController keys(runControl);

    auto draw = [&] {
        const CTerminalSize size = display.Size();
        const auto lines =
            RenderProgressLines(view, keys.Buttons(), keys.Asking(),
                                keyboard.Active() && runControl.IsRunning(), DisplayWidth(size));
        display.Draw(lines, sink.TakePending(), size);
    };
    view.Refresh(runControl);
    draw();
    if (!StartWorker(runControl, sink, worker)) {
        PostEndStatus(runControl);
        view.Refresh(runControl);
        draw();
        return EXIT_RUN_FAILED;
    }

    Clock::time_point nextTick = Clock::now() + DISPLAY_REFRESH;
    for (;;) {
        bool signalled = false;
        const std::string input =
            WaitForInput(keyboard.Active(), signals, nextTick - Clock::now(), signalled);
        bool redraw = false;
        if (signalled) {
            runControl.Cancel();
            runControl.Resume();
        }
        for (char key : input)
            redraw |= keys.HandleKey(key);
        if (runControl.IsCancelled() && runControl.Abandon())
            return EXIT_ABANDONED; // the display's objects restore the terminal
        if (Clock::now() >= nextTick) {
            nextTick += DISPLAY_REFRESH;
            const bool finished = !runControl.IsRunning();
            if (finished) {
                keys.DropQuestion();
                PostEndStatus(runControl);
            }
            view.Refresh(runControl);
            draw();
            if (finished)
                break;
        } else if (redraw) {
            draw();
        }
    }
    runControl.JoinWorker();
    return ExitCode(runControl);
}

// The status, or with json the whole progress as a JSON line.
std::string StatusLine(CRunControl& runControl, const std::string& status, bool json) {
    if (!json)
        return status;
    CProgressState state;
    state.status = status;
    state.time = runControl.GetCurrentTime();
    state.start = runControl.GetStartTime();
    state.end = runControl.GetEndTime();
    state.step = runControl.GetGlobalStep();
    state.reduced = runControl.GetReducedNodes();
    return ProgressJsonLine(state);
}

int RunWithStatusLines(CRunControl& runControl, CFrontEndSink& sink, bool json,
                       CRunControl::WorkerEntry worker) {
    CSignalWatch signals;
    if (!StartWorker(runControl, sink, worker)) {
        sink.WriteStatus(StatusLine(runControl, runControl.GetError(), json));
        return EXIT_RUN_FAILED;
    }
    std::optional<std::string> shown;
    Clock::time_point nextJson = Clock::now() + JSON_PROGRESS_EVERY;
    // Once a failure is reported only the end status follows the report: a
    // status from before the failure, sampled after it while the worker
    // winds down, would read as the run going on.
    auto follow = [&](bool end) {
        if (!end && sink.HasReports())
            return;
        const std::optional<std::string> status = runControl.GetStatus();
        const bool due = json && status && Clock::now() >= nextJson;
        if (status && (status != shown || due)) {
            sink.WriteStatus(StatusLine(runControl, *status, json));
            nextJson = Clock::now() + JSON_PROGRESS_EVERY;
        }
        shown = status;
    };
    follow(false);
    for (;;) {
        bool signalled = false;
        WaitForInput(false, signals, STATUS_POLL, signalled);
        if (signalled) {
            // A signal cancels at once: the worker stops at its next check
            // and closes its output files as after any cancel, or, while it
            // has written nothing, the process ends now.
            if (runControl.Abandon())
                return EXIT_ABANDONED;
            runControl.Resume();
        }
        const bool finished = !runControl.IsRunning();
        if (finished) {
            // The worker's last status first (none after a failure), then
            // the end.
            follow(false);
            PostEndStatus(runControl);
        }
        follow(finished);
        if (finished)
            break;
    }
    runControl.JoinWorker();
    return ExitCode(runControl);
}

} // namespace

int RunFrontEnd(const CCliOptions& options, CRunControl::WorkerEntry worker) {
    // A file-size limit (ulimit -f) would otherwise kill the process at the
    // write that crosses it; ignored, the write fails and the run reports it.
    std::signal(SIGXFSZ, SIG_IGN);
    // A reader of stdout or stderr that goes away (`| head -1`) must not end
    // the run: the writes fail and are dropped.
    std::signal(SIGPIPE, SIG_IGN);
    const bool display =
        !options.noProgress && !options.progressJson && isatty(STDERR_FILENO) && DrawableTerminal();
    CFrontEndSink sink(display);
    CRunControl runControl(options.base.c_str());
    runControl.SetMessageSink(&sink);
    runControl.SetSettings(RunSettingsOf(options, RunThreads(options.threads)));
    runControl.SetStatus("Initalizing....");
    const int code = display ? RunWithDisplay(runControl, sink, worker)
                             : RunWithStatusLines(runControl, sink, options.progressJson, worker);
    if (code == EXIT_ABANDONED) {
        // The worker is still reading or solving and has changed no file:
        // nothing is lost by not waiting for it.
        for (const auto& [fd, line] : sink.TakePending()) {
            const std::string text = line + "\n";
            WriteAll(fd, text.data(), text.size());
        }
        std::fflush(nullptr);
        std::_Exit(EXIT_RUN_CANCELLED);
    }
    // Below the display's last screen, or after the last status line.
    const std::string summary = runControl.GetBudgetSummary();
    WriteAll(STDERR_FILENO, summary.data(), summary.size());
    if (options.timings) {
        // After the display has ended: the report stays below its last lines.
        const std::string report = runControl.GetTimingReport();
        WriteAll(STDERR_FILENO, report.data(), report.size());
    }
    return code;
}
