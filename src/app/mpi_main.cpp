// mpirun -np N kova-compute-mpi [options] BASE: runs the model BASE.kvi on N
// processes (par/par_run.h), with the files, messages and exit code of
// kova-compute. Rank 0 runs the front end; the other ranks compute silently.
#include "app/cli_options.h"
#include "app/frontend.h"
#include "app/model_check.h"
#include "app/rxn_types_json.h"
#include "io/model_file.h"
#include "par/mpi_session.h"
#include "par/par_run.h"
#include "run/message_sink.h"
#include "run/platform.h"
#include "run/run_control.h"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <iostream>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

// The other ranks' reports: rank 0 shows the run's, and the same failure is
// agreed on every rank, so theirs would only repeat it.
class CSilentSink : public CMessageSink {
public:
    void ShowMessage(const char*, const char*, const char*) override {}
    void WriteDiagnostic(const char*) override {}
};

// mpirun forwards SIGUSR1 to every rank (SIGINT and SIGTERM end the whole
// job): on rank 0 it cancels the run as SIGTERM does a one-process run.
extern "C" void CancelOnUsr1(int) {
    kill(getpid(), SIGTERM);
}

// Whether rank 0's worker has started: until it has, the other ranks wait
// in the run's first agreement, and a front end that could not start it must
// end them.
std::atomic<bool> g_rootWorkerStarted{false};
// Read before rank 0's worker starts, unchanged after.
CParSettings g_parSettings;

constexpr const char* MPI_USAGE =
    "kova-compute-mpi also takes, before BASE:\n"
    "  --heads distributed  solve the initial heads over the processes (hypre's\n"
    "                       conjugate gradients with algebraic multigrid, then\n"
    "                       Gauss-Seidel sweeps per slab): the heads agree with\n"
    "                       the default ones to 1e-10 relative, not bit for bit\n";

// Takes kova-compute-mpi's own options out of the options part of args (up
// to the first other argument or "--"), so that kova-compute's parser reads
// the rest. Returns the error text, empty when none.
std::string TakeMpiOptions(std::vector<std::string>& args, CParSettings& settings) {
    for (size_t k = 0; k < args.size() && args[k].rfind("-", 0) == 0 && args[k] != "--";) {
        std::string value;
        if (args[k] == "--heads") {
            if (k + 1 == args.size())
                return "--heads needs a value: distributed";
            value = args[k + 1];
            args.erase(args.begin() + static_cast<long>(k),
                       args.begin() + static_cast<long>(k) + 2);
        } else if (args[k].rfind("--heads=", 0) == 0) {
            value = args[k].substr(8);
            args.erase(args.begin() + static_cast<long>(k));
        } else {
            // --threads and --until are kova-compute's options with a value after them.
            k += args[k] == "--threads" || args[k] == "--until" ? 2u : 1u;
            continue;
        }
        if (value != "distributed")
            return "--heads takes distributed, not '" + value + "'";
        settings.m_distributedHeads = true;
    }
    return "";
}

void RootWorker(CRunControl* runControl) {
    g_rootWorkerStarted = true;
    ParSimulationThread(runControl, g_parSettings);
}

int RunOtherRank(const CCliOptions& options) {
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGUSR1, SIGPIPE})
        std::signal(sig, SIG_IGN);
    CSilentSink sink;
    CRunControl control(options.base.c_str());
    control.SetMessageSink(&sink);
    control.SetSettings(RunSettingsOf(options, std::min(options.threads, HardwareThreads())));
    ParSimulationThread(&control, g_parSettings);
    return control.HasError() ? EXIT_RUN_FAILED : EXIT_RUN_OK;
}

} // namespace

int main(int argc, char** argv) {
    EnsureStandardDescriptors();
    const CMpiSession mpi(&argc, &argv);
    const bool root = mpi.Rank() == 0;
    std::vector<std::string> args(argv + 1, argv + argc);
    const std::string mpiError = TakeMpiOptions(args, g_parSettings);
    CCliOptions options = ParseCliOptions(args);
    if (options.error.empty() && !mpiError.empty())
        options.error = mpiError;
    if (options.help) {
        if (root)
            std::cout << CLI_USAGE << MPI_USAGE;
        return EXIT_RUN_OK;
    }
    if (options.version) {
        if (root)
            std::cout << "kova-compute-mpi " << KOVA_VERSION << '\n';
        return EXIT_RUN_OK;
    }
    if (options.reactionTypes) {
        if (root)
            std::cout << RxnTypesJson();
        return EXIT_RUN_OK;
    }
    if (!options.error.empty()) {
        if (root)
            std::cerr << "kova-compute-mpi: " << options.error << '\n' << CLI_USAGE << MPI_USAGE;
        return EXIT_USAGE;
    }
    options.base = ModelBaseOf(options.base);
    if (options.check) {
        if (!root)
            return EXIT_RUN_OK;
        std::signal(SIGPIPE, SIG_IGN);
        return RunModelCheck(options.base);
    }
    if (!mpi.ThreadsServed()) {
        if (root)
            std::cerr << "kova-compute-mpi: the MPI library does not serve a worker thread "
                         "(MPI_THREAD_SERIALIZED)\n";
        return EXIT_RUN_FAILED;
    }
    // One thread per process unless asked: mpirun places a process per core.
    if (options.threads <= 0)
        options.threads = 1;
    if (!root)
        return RunOtherRank(options);
    std::signal(SIGUSR1, CancelOnUsr1);
    const int code = RunFrontEnd(options, RootWorker);
    if (!g_rootWorkerStarted)
        MPI_Abort(MPI_COMM_WORLD, code);
    return code;
}
