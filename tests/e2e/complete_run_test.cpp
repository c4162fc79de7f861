// Complete runs of the real binary: the bytes of the output files.
#include "support/run_output.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <unistd.h>

using namespace kova_test;

namespace {

// The time file's header and the data file's size agree with a grid of
// rows x cols nodes of nComp values; returns the record count.
int ExpectConsistentOutput(const std::string& base, int rows, int cols, int nComp) {
    const std::vector<unsigned char> kvt = ReadBinaryFile(base + ".kvt");
    const std::vector<unsigned char> kvo = ReadBinaryFile(base + ".kvo");
    EXPECT_GE(kvt.size(), 36u) << base;
    if (kvt.size() < 36)
        return 0;
    const int n = IntAt(kvt, 0);
    EXPECT_GE(n, 1) << base;
    EXPECT_EQ(kvt.size(), 36u + 8u * n) << base;
    EXPECT_EQ(IntAt(kvt, 4), rows) << base;
    EXPECT_EQ(IntAt(kvt, 8), cols) << base;
    EXPECT_EQ(kvo.size(), static_cast<size_t>(n) * rows * cols * nComp * 8) << base;
    if (n >= 1 && kvt.size() == 36u + 8u * n) {
        EXPECT_EQ(DoubleAt(kvt, 20), DoubleAt(kvt, 36 + 8 * (n - 1))) << "last record time";
        EXPECT_EQ(DoubleAt(kvt, 36), DoubleAt(kvt, 12)) << "first record at the start";
        for (int r = 1; r < n; ++r)
            EXPECT_GT(DoubleAt(kvt, 36 + 8 * r), DoubleAt(kvt, 36 + 8 * (r - 1))) << r;
    }
    return n;
}

TEST(CompleteRun, TwoNodeExample) {
    TempDir dir;
    const std::string base = StageModel(dir, KOVA_TEST_DATA_DIR, "two_nodes");
    const ProcessResult r = RunCompute({base});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("Done.\n"), std::string::npos) << r.err;
    // 0.1 steps add up to just below 1, 2, ...: records at 0, ~1.1, ~2.0, ..., ~10.1.
    const int n = ExpectConsistentOutput(base, 1, 2, 8);
    EXPECT_EQ(n, 11);
    const std::vector<unsigned char> kvt = ReadBinaryFile(base + ".kvt");
    EXPECT_EQ(DoubleAt(kvt, 12), 0.0);
    EXPECT_EQ(DoubleAt(kvt, 28), 1.0);
    EXPECT_GE(DoubleAt(kvt, 20), 10.0);
    EXPECT_LT(DoubleAt(kvt, 20), 10.1 + 1e-9);
}

// No time to cover: one record holding the state as read, completed by the
// heads (source rates of the fixed nodes) and the flow field.
TEST(CompleteRun, FirstRecordIsTheInitialStateWithHeadsAndFluxes) {
    TempDir dir;
    const std::string base = StageModel(dir, KOVA_TEST_DATA_DIR, "no_time");
    const ProcessResult r = RunCompute({base});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    ASSERT_EQ(ExpectConsistentOutput(base, 1, 2, 8), 1);
    const std::vector<unsigned char> kvo = ReadBinaryFile(base + ".kvo");
    const double expected[16] = {10.0, 1.0 / 3.0,  0.3, 1.0, 1.0, 0.0, 1.0, 1.0,
                                 0.0,  -1.0 / 3.0, 0.3, 1.0, 1.0, 0.0, 0.0, 0.0};
    for (int v = 0; v < 16; ++v)
        EXPECT_EQ(DoubleAt(kvo, 8 * v), expected[v]) << "value " << v;
    const std::vector<unsigned char> kvt = ReadBinaryFile(base + ".kvt");
    EXPECT_EQ(DoubleAt(kvt, 36), 0.0);
}

// Records at 0, 3, 5, 8 and 10 on a 2 x 3 grid with 9 values per node.
TEST(CompleteRun, TwoByThreeGridWritesTheDocumentedTimeFile) {
    TempDir dir;
    const std::string base = StageModel(dir, KOVA_TEST_DATA_DIR, "grid_2x3");
    const ProcessResult r = RunCompute({base});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    ASSERT_EQ(ExpectConsistentOutput(base, 2, 3, 9), 5);
    const std::vector<unsigned char> kvt = ReadBinaryFile(base + ".kvt");
    ASSERT_EQ(kvt.size(), 76u);
    EXPECT_EQ(DoubleAt(kvt, 20), 10.0);
    EXPECT_EQ(DoubleAt(kvt, 28), 2.5);
    const double times[] = {0.0, 3.0, 5.0, 8.0, 10.0};
    for (int k = 0; k < 5; ++k)
        EXPECT_EQ(DoubleAt(kvt, 36 + 8 * k), times[k]) << k;
    EXPECT_EQ(ReadBinaryFile(base + ".kvo").size(), 5u * 6 * 9 * 8);
}

TEST(CompleteRun, ASecondRunReplacesBothFilesWithTheSameBytes) {
    TempDir dir;
    const std::string base = StageModel(dir, KOVA_TEST_DATA_DIR, "grid_2x3");
    ASSERT_EQ(RunCompute({base}).exitCode, 0);
    const std::vector<unsigned char> kvo = ReadBinaryFile(base + ".kvo");
    const std::vector<unsigned char> kvt = ReadBinaryFile(base + ".kvt");
    WriteTextFile(base + ".kvo", std::string(10000, 'x'));
    ASSERT_EQ(RunCompute({base}).exitCode, 0);
    EXPECT_EQ(ReadBinaryFile(base + ".kvo"), kvo);
    EXPECT_EQ(ReadBinaryFile(base + ".kvt"), kvt);
}

// A failure inside the time loop: the record written before it is on disk,
// the time file keeps the marker of an unfinished run.
TEST(CompleteRun, FailureInTheLoopKeepsTheRecordsAndTheMarker) {
    TempDir dir;
    const std::string base = StageModel(dir, KOVA_TEST_DATA_DIR, "clock_stall");
    const ProcessResult r = RunCompute({base});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("ERROR - A kova Compute Exception was caught"), std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("no longer advances the clock"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("\nComputational Error\n"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("Done."), std::string::npos) << r.err;
    EXPECT_EQ(ReadBinaryFile(base + ".kvo").size(), 2u * 8 * 8);
    const std::vector<unsigned char> kvt = ReadBinaryFile(base + ".kvt");
    ASSERT_EQ(kvt.size(), 4u);
    EXPECT_EQ(IntAt(kvt, 0), 0);
}

// A barely moving node with strong diffusion: the stable-step rule cancels
// to a step that is not positive.
TEST(CompleteRun, UnusableStableStepIsAComputationalErrorNamingTheNode) {
    TempDir dir;
    const std::string base = StageModel(dir, KOVA_TEST_DATA_DIR, "zero_stable_step");
    const ProcessResult r = RunCompute({base});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("not positive at node (0, 0)"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("\nComputational Error\n"), std::string::npos) << r.err;
}

// The shipped examples, as README's first command runs them.
TEST(CompleteRun, ShippedExamplesRun) {
    const struct {
        const char* name;
        int rows, cols;
    } examples[] = {{"two_nodes", 1, 2}, {"column", 1, 101}, {"plume", 100, 100}};
    for (const auto& e : examples) {
        TempDir dir;
        const std::string base = StageModel(dir, KOVA_EXAMPLES_DIR, e.name);
        const ProcessResult r = RunCompute({base});
        ASSERT_EQ(r.exitCode, 0) << e.name << "\n" << r.err;
        EXPECT_GE(ExpectConsistentOutput(base, e.rows, e.cols, 8), 2) << e.name;
    }
}

} // namespace
