// Models whose reaction set holds every equilibrium reaction type.
#include "support/run_output.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

using namespace kova_test;

namespace {

TEST(EndToEnd, EquilibriumKeqZeroIsAnInputError) {
    TempDir dir;
    const std::string base = StageModel(dir, KOVA_TEST_DATA_DIR, "equilibrium_keq_zero");
    const ProcessResult r = RunCompute({base});
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_NE(r.err.find("KOVA Compute Error: ERROR - A kova Input Exception was caught"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("detail: Equilibrium Equaitons must have a positive Keq in reaction "
                         "record 0 (field 18)"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("\nInput Error\n"), std::string::npos) << r.err;
    EXPECT_FALSE(FileExists(base + ".kvo"));
    EXPECT_FALSE(FileExists(base + ".kvt"));
}

// State entries of equilibrium_set: 7 hydraulic slots, 7 immobile, 5 mobile.
enum Entry { P = 7, S_LANG, S_FREUND, S_LIN, TOTAL_A, X, Y, A, B, C_LANG, C_FREUND, C_LIN };
constexpr int N_COMP = 19;
constexpr int N_NODES = 2;

TEST(EndToEnd, EquilibriumSetRunsToTheEnd) {
    TempDir dir;
    const std::string base = StageModel(dir, KOVA_TEST_DATA_DIR, "equilibrium_set");
    const ProcessResult r = RunCompute({base});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("Done."), std::string::npos) << r.err;

    const std::vector<unsigned char> times = ReadBinaryFile(base + ".kvt");
    ASSERT_GE(times.size(), 36u);
    const int32_t records = IntAt(times, 0);
    ASSERT_GE(records, 1);
    // A hundred steps of 0.1 fall just short of 10: one more step ends the run.
    EXPECT_NEAR(DoubleAt(times, 20), 10.1, 1e-9);

    const std::vector<unsigned char> data = ReadBinaryFile(base + ".kvo");
    const size_t recordBytes = sizeof(double) * N_NODES * N_COMP;
    ASSERT_EQ(data.size(), records * recordBytes);

    // Every node of the last record meets all six conditions.
    const size_t last = (records - 1) * recordBytes;
    for (int node = 0; node < N_NODES; ++node) {
        double c[N_COMP];
        std::memcpy(c, data.data() + last + node * N_COMP * sizeof(double), sizeof c);
        const double tol = 1e-6;
        EXPECT_NEAR(c[P] / (c[A] * c[B]), 10.0, tol) << "node " << node;
        EXPECT_NEAR(c[S_LANG], 0.7 * c[C_LANG] / (c[C_LANG] + 0.6), tol) << "node " << node;
        EXPECT_NEAR(c[S_FREUND], 0.7 * std::pow(c[C_FREUND], 0.6), tol) << "node " << node;
        EXPECT_NEAR(c[S_LIN], 2 * c[C_LIN], tol) << "node " << node;
        EXPECT_NEAR(c[TOTAL_A], c[P] + c[A], tol) << "node " << node;
        EXPECT_NEAR(c[Y], 0.5 * c[X], tol) << "node " << node;
    }
}

} // namespace
