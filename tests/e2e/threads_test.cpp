// Runs of the real binary with one and with several threads: the output files
// agree byte for byte, and so do the failure reports.
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

using namespace kova_test;

namespace {

struct CThreadRun {
    int exitCode = -1;
    std::vector<unsigned char> kvo;
    std::vector<unsigned char> kvt;
    std::string reports; // the failure report lines of stderr
};

// Runs directory/name.kvi in a fresh directory with the given thread count.
CThreadRun RunWithThreads(const std::string& directory, const std::string& name, int threads) {
    TempDir dir;
    const std::string base = StageModel(dir, directory, name);
    const ProcessResult r =
        RunCompute({"--no-progress", "--threads", std::to_string(threads), base});
    CThreadRun run;
    run.exitCode = r.exitCode;
    if (FileExists(base + ".kvo"))
        run.kvo = ReadBinaryFile(base + ".kvo");
    if (FileExists(base + ".kvt"))
        run.kvt = ReadBinaryFile(base + ".kvt");
    // Status lines follow the run's progress as it is polled; the reports are
    // what the run says about its end.
    std::istringstream lines(r.err);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("KOVA Compute Error", 0) != 0 && line.rfind("detail:", 0) != 0)
            continue;
        // The detail names the model file, which lies in this run's own directory.
        for (size_t at; (at = line.find(dir.Path())) != std::string::npos;)
            line.replace(at, dir.Path().size(), "DIR");
        run.reports += line + "\n";
    }
    return run;
}

void ExpectSameRuns(const std::string& directory, const std::string& name) {
    const CThreadRun serial = RunWithThreads(directory, name, 1);
    for (int threads : {2, 3}) {
        const CThreadRun parallel = RunWithThreads(directory, name, threads);
        EXPECT_EQ(parallel.exitCode, serial.exitCode) << name << " with " << threads;
        EXPECT_EQ(parallel.reports, serial.reports) << name << " with " << threads;
        EXPECT_TRUE(parallel.kvo == serial.kvo)
            << name << ".kvo differs with " << threads << " threads";
        EXPECT_TRUE(parallel.kvt == serial.kvt)
            << name << ".kvt differs with " << threads << " threads";
    }
}

TEST(Threads, ShippedExamplesGiveTheSameBytesWithAnyThreadCount) {
    for (const char* name : {"plume", "column", "two_nodes"}) {
        ExpectSameRuns(KOVA_EXAMPLES_DIR, name);
        EXPECT_EQ(RunWithThreads(KOVA_EXAMPLES_DIR, name, 2).exitCode, 0) << name;
    }
}

TEST(Threads, ReactiveModelsGiveTheSameBytesWithAnyThreadCount) {
    for (const char* name : {"column_decay", "dual_monod_plume", "equilibrium_set",
                             "rule_curve_source", "grid_2x3", "no_time"})
        ExpectSameRuns(KOVA_TEST_DATA_DIR, name);
}

TEST(Threads, FailedRunsReportTheSameWithAnyThreadCount) {
    for (const char* name : {"clock_stall", "zero_stable_step", "equilibrium_keq_zero"})
        ExpectSameRuns(KOVA_TEST_DATA_DIR, name);
}

TEST(Threads, TimingsReportEveryPhaseAndTheHeadSolve) {
    TempDir dir;
    const std::string base = StageModel(dir, KOVA_TEST_DATA_DIR, "two_nodes");
    const ProcessResult r = RunCompute({"--no-progress", "--timings", "--threads", "2", base});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("kova-compute timings: 2 threads, 2 nodes, 101 global steps"),
              std::string::npos)
        << r.err;
    for (const char* phase :
         {"read", "heads", "flow field", "transport", "reactions", "output", "total"})
        EXPECT_NE(r.err.find(std::string("\n  ") + phase + " "), std::string::npos)
            << phase << " in " << r.err;
    EXPECT_NE(r.err.find(" s (band solve)\n"), std::string::npos) << r.err;
    // Without the option there is no report.
    const ProcessResult quiet = RunCompute({"--no-progress", base});
    EXPECT_EQ(quiet.err.find("timings"), std::string::npos) << quiet.err;
}

} // namespace
