#include "app/cli_frontend.h"

#include "run/run_control.h"
#include "sim/run.h"

#include <chrono>
#include <ostream>
#include <thread>

namespace {

constexpr auto STATUS_POLL_INTERVAL = std::chrono::milliseconds(50);

} // namespace

void CStreamMessageSink::ShowMessage(const char* caption, const char* text, const char* detail) {
    m_out << caption << ": " << text << '\n';
    if (detail && *detail)
        m_out << "detail: " << detail << '\n';
    m_out.flush();
}

std::string JoinBasePath(const std::vector<std::string>& args) {
    std::string base;
    for (size_t k = 0; k < args.size(); ++k) {
        if (k > 0)
            base += ' ';
        base += args[k];
    }
    return base;
}

int RunModel(const std::string& base, std::ostream& err) {
    CStreamMessageSink sink(err);
    CRunControl runControl(base.c_str());
    runControl.SetMessageSink(&sink);
    runControl.SetStatus("Initalizing....");
    runControl.StartWorker(SimulationThread);

    // Follow the status until the worker has finished; one line per change.
    std::optional<std::string> shown;
    for (;;) {
        const bool running = runControl.IsRunning() != 0;
        std::optional<std::string> status = runControl.GetStatus();
        if (status && status != shown)
            err << *status << '\n' << std::flush;
        shown = status;
        if (!running)
            break;
        std::this_thread::sleep_for(STATUS_POLL_INTERVAL);
    }
    runControl.JoinWorker();

    if (runControl.HasError()) {
        err << runControl.GetError() << '\n' << std::flush;
        return EXIT_RUN_FAILED;
    }
    return runControl.IsCancelled() ? EXIT_RUN_CANCELLED : EXIT_RUN_OK;
}
