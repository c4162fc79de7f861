// Full runs of the kinetic example models in tests/data: a 1-D column with
// first-order decay, a dual Monod biodegradation plume with kinetic sorption,
// and a source driven by a time rule curve. They need the whole run (heads,
// flow field, transport, output files and the time loop).
#include "support/run_output.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

using namespace kova_test;

namespace {

// Runs a copy of tests/data/<name>.kvi in a temporary directory.
ProcessResult RunDataModel(const TempDir& dir, const std::string& name) {
    return RunCompute({StageModel(dir, KOVA_TEST_DATA_DIR, name)});
}

TEST(KineticModelsFullRun, FirstOrderDecayColumnRunsToTheEnd) {
    TempDir dir;
    const ProcessResult r = RunDataModel(dir, "column_decay");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const CRunOutput out = ReadRunOutput(dir.File("column_decay"), 8);
    ASSERT_EQ(out.nRecords, 5);
    EXPECT_EQ(out.nRows, 1);
    EXPECT_EQ(out.nCols, 10);
    ASSERT_EQ(out.times, (std::vector<double>{0.0, 5.0, 10.0, 15.0, 20.0}));
    ASSERT_EQ(out.values.size(), 5u * 10u * 8u);

    // Away from the ends the column stays uniform, so the middle nodes decay
    // as the trapezoid rule of the local steps gives: by (1 - kh/2) / (1 + kh/2)
    // per global step of h = 1 with k = 0.05.
    const double perStep = (1.0 - 0.025) / (1.0 + 0.025);
    for (int rec = 0; rec < out.nRecords; ++rec) {
        const double expected = std::pow(perStep, 5.0 * rec);
        for (int j = 4; j <= 5; ++j)
            EXPECT_NEAR(out.At(rec, 0, j, 7), expected, 1e-4 * expected)
                << "record " << rec << " node " << j;
    }
    for (int j = 0; j < 10; ++j)
        EXPECT_LT(out.At(4, 0, j, 7), out.At(0, 0, j, 7)) << "node " << j;
}

TEST(KineticModelsFullRun, DualMonodPlumeWithKineticSorptionRunsToTheEnd) {
    TempDir dir;
    const ProcessResult r = RunDataModel(dir, "dual_monod_plume");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const int nComp = 11;
    const CRunOutput out = ReadRunOutput(dir.File("dual_monod_plume"), nComp);
    ASSERT_EQ(out.nRecords, 6);
    ASSERT_EQ(out.values.size(), 6u * 24u * nComp);
    for (double v : out.values)
        ASSERT_TRUE(std::isfinite(v));

    // Entries: biomass 7, sorbed donor 8, donor 9, acceptor 10. Widths and
    // porosity are uniform, so transport keeps the plain sum over the nodes
    // apart from what leaves through the outflow column.
    const int last = out.nRecords - 1;
    double donorFirst = 0.0, donorLast = 0.0;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 8; ++j) {
            donorFirst += out.At(0, i, j, 8) + out.At(0, i, j, 9);
            donorLast += out.At(last, i, j, 8) + out.At(last, i, j, 9);
            for (int rec = 0; rec <= last; ++rec) {
                EXPECT_GE(out.At(rec, i, j, 10), -1e-6) << "acceptor at " << i << "," << j;
                EXPECT_LE(out.At(rec, i, j, 10), 4.0 + 1e-9) << "acceptor at " << i << "," << j;
            }
        }
    EXPECT_EQ(donorFirst, 5.0);
    EXPECT_LT(donorLast, donorFirst);
    // At the source node: donor sorbed, acceptor used, biomass grown.
    EXPECT_GT(out.At(last, 1, 1, 8), 0.0);
    EXPECT_LT(out.At(last, 1, 1, 10), 4.0);
    EXPECT_GT(out.At(last, 1, 1, 7), 0.2);
}

// Area under the source curve (0, 0), (10, 1), (20, 1), (30, 0) from 0 to t.
double SourceArea(double t) {
    if (t <= 0.0)
        return 0.0;
    if (t <= 10.0)
        return t * t / 20.0;
    if (t <= 20.0)
        return 5.0 + (t - 10.0);
    if (t <= 30.0)
        return 15.0 + (t - 20.0) - (t - 20.0) * (t - 20.0) / 20.0;
    return 20.0;
}

TEST(KineticModelsFullRun, TimeDrivenRuleCurveSourceRunsToTheEnd) {
    TempDir dir;
    const ProcessResult r = RunDataModel(dir, "rule_curve_source");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const CRunOutput out = ReadRunOutput(dir.File("rule_curve_source"), 8);
    ASSERT_EQ(out.nRecords, 9);
    ASSERT_EQ(out.values.size(), 9u * 5u * 8u);

    // Diffusion only (no flow, equal widths): the sum over the nodes is what
    // the source added. The reaction clock lags the model time by the global
    // step of 1, so the record at time t holds the area up to t - 1.
    for (int rec = 0; rec < out.nRecords; ++rec) {
        const double t = out.times[rec];
        double total = 0.0;
        for (int j = 0; j < 5; ++j)
            total += out.At(rec, 0, j, 7);
        EXPECT_NEAR(total, SourceArea(t - 1.0), 1e-9) << "record at time " << t;
    }
    // At time 10 the lag is visible: 4.05 rather than 5.
    EXPECT_EQ(out.times[2], 10.0);
    EXPECT_GT(std::fabs(SourceArea(10.0) - SourceArea(9.0)), 0.5);
    // Diffusion has carried some of it away from the source node.
    EXPECT_GT(out.At(out.nRecords - 1, 0, 4, 7), 0.0);
}

} // namespace
