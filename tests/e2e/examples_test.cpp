// The shipped examples (examples/*.kvi), run by the real binary: --check on
// each, each run to its end, and what each is meant to show: the column
// against the Ogata-Banks solution, degradation limiting the hydrocarbon
// plume, the daughters of the decay chain, the mass-action condition of the
// complexation.
#include "support/run_output.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

using namespace kova_test;

namespace {

// Runs the example to its end and reads both files; nComp entries per node.
CRunOutput RunExample(const TempDir& dir, const std::string& name, int nComp) {
    const std::string base = StageModel(dir, KOVA_EXAMPLES_DIR, name);
    const ProcessResult r = RunCompute({base});
    EXPECT_EQ(r.exitCode, 0) << name << "\n" << r.err;
    return ReadRunOutput(base, nComp, name);
}

// Every component of every node and record is finite and not negative beyond
// the round-off of the transport step.
void ExpectFiniteNonNegative(const CRunOutput& run, const std::string& name) {
    constexpr double ROUND_OFF = 1e-9;
    for (int r = 0; r < run.nRecords; ++r)
        for (int i = 0; i < run.nRows; ++i)
            for (int j = 0; j < run.nCols; ++j)
                for (int k = 7; k < run.nComp; ++k) {
                    const double v = run.At(r, i, j, k);
                    ASSERT_TRUE(std::isfinite(v) && v >= -ROUND_OFF)
                        << name << ": entry " << k << " of node (" << i << ", " << j
                        << ") in record " << r << " is " << v;
                }
}

const char* const EXAMPLES[] = {"two_nodes",         "column",      "plume",
                                "hydrocarbon_plume", "decay_chain", "complexation"};

TEST(Examples, CheckPrintsTheSummaryOfEveryExample) {
    for (const char* name : EXAMPLES) {
        TempDir dir;
        const std::string base = StageModel(dir, KOVA_EXAMPLES_DIR, name);
        const ProcessResult r = RunCompute({"--check", base});
        EXPECT_EQ(r.exitCode, 0) << name << "\n" << r.err;
        EXPECT_EQ(r.err, "") << name;
        for (const char* label :
             {"model: ", "\ngrid:\n", "\ncounts:\n", "\ntimes:\n", "\ninitial state",
              "\nfixed heads: ", "\nreactions: ", "\nreaction sets: ", "\n  set 0: used by "})
            EXPECT_NE(r.out.find(label), std::string::npos) << name << " lacks " << label;
        // Nothing is run, so nothing is written.
        EXPECT_FALSE(FileExists(base + ".kvo")) << name;
        EXPECT_FALSE(FileExists(base + ".kvt")) << name;
    }
}

TEST(Examples, CheckOnTheComplexationNamesItsReactions) {
    TempDir dir;
    const ProcessResult r =
        RunCompute({"--check", StageModel(dir, KOVA_EXAMPLES_DIR, "complexation")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    for (const char* part :
         {"  reaction 0: CEquiMassAction (type 0, equilibrium)\n"
          "    coefficients: -1 mobile_0 (8), -1 mobile_1 (9), 1 mobile_2 (10)\n"
          "    exponents: -1 mobile_0 (8), -1 mobile_1 (9), 1 mobile_2 (10)\n"
          "    Keq: 0.0794\n",
          "  set 2: used by 3 nodes\n    equilibrium: 3 CLinAssign, 0 CEquiMassAction, 1 CEquiLin\n"
          "    kinetic: none\n    nodes:\n      rows 9..11: column 3\n",
          "fixed heads: 42 nodes\n  rows 0..20: columns 0, 40\n"})
        EXPECT_NE(r.out.find(part), std::string::npos) << part << "\nin:\n" << r.out;
}

// A broken file fails as a run fails: report, detail naming the field and
// record, error text last; nothing on stdout.
TEST(Examples, CheckOnABrokenFileFailsWithTheDetailLine) {
    TempDir dir;
    const std::string base = dir.File("broken");
    std::string text = ReadTextFile(std::string(KOVA_EXAMPLES_DIR) + "/column.kvi");
    // The inlet's linear assignment targets entry 7; make it 8, outside the
    // eight entries of a node.
    const std::string hold = "  7 1.0\n";
    ASSERT_NE(text.find(hold), std::string::npos);
    text.replace(text.find(hold), hold.size(), "  8 1.0\n");
    WriteTextFile(base + ".kvi", text);
    const ProcessResult r = RunCompute({"--check", base});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "KOVA Compute Error: ERROR - A kova Input Exception was caught\n"
                     "detail: target index 8 outside 0..7 in reaction record 0 (field 18) (file " +
                         base +
                         ".kvi)\n"
                         "Input Error\n");

    const ProcessResult missing = RunCompute({"--check", dir.File("missing")});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(
        missing.err.find(
            "\ndetail: Bad File: the model file cannot be read: No such file or directory (file " +
            dir.File("missing") + ".kvi)\n"),
        std::string::npos)
        << missing.err;
}

// C(x, t) / C0 of a constant-concentration inlet at x = 0 in a semi-infinite
// column: 1/2 [erfc((x - vt) / 2 sqrt(Dt)) + exp(vx / D) erfc((x + vt) / 2 sqrt(Dt))].
double OgataBanks(double x, double t, double v, double d) {
    const double spread = 2.0 * std::sqrt(d * t);
    return 0.5 * (std::erfc((x - v * t) / spread) +
                  std::exp(v * x / d) * std::erfc((x + v * t) / spread));
}

// The column: pore velocity 1 m/d, D = 0.25 m x 1 m/d + 1e-4 m2/d, nodes
// 0.25 m apart, inlet held at 1 mg/L. The run follows the analytic front to
// within 1 % of the inlet concentration at every node from day 5 on, and
// within 2 % from day 1 on, while the front is still steep on the grid.
TEST(Examples, ColumnFollowsTheOgataBanksSolution) {
    TempDir dir;
    const CRunOutput run = RunExample(dir, "column", 8);
    ASSERT_EQ(run.nRecords, 31);
    ASSERT_EQ(run.nCols, 101);
    ASSERT_FALSE(run.values.empty());
    ExpectFiniteNonNegative(run, "column");
    const double v = 1.0;
    const double d = 0.25 * v + 1e-4;
    double worstLate = 0.0;
    for (int r = 0; r < run.nRecords; ++r) {
        const double t = run.times[r];
        if (t < 1.0)
            continue;
        const double tolerance = t >= 5.0 ? 0.01 : 0.02;
        for (int j = 0; j < run.nCols; ++j) {
            const double x = 0.25 * j;
            const double expected = OgataBanks(x, t, v, d);
            const double c = run.At(r, 0, j, 7);
            EXPECT_NEAR(c, expected, tolerance) << "x = " << x << " m, t = " << t << " d";
            if (t >= 5.0)
                worstLate = std::max(worstLate, std::fabs(c - expected));
        }
    }
    // Half-way at the front after 15 days: the run has really moved it.
    EXPECT_GT(run.At(run.nRecords - 1, 0, 60, 7), 0.4);
    EXPECT_LT(run.At(run.nRecords - 1, 0, 60, 7), 0.6);
    EXPECT_GT(worstLate, 0.0);
}

// Oxygen-limited degradation: the core of the plume runs out of oxygen,
// biomass grows at its fringes, and the plume ends inside the model.
TEST(Examples, HydrocarbonPlumeIsDegradedWithinTheModel) {
    TempDir dir;
    const CRunOutput run = RunExample(dir, "hydrocarbon_plume", 11);
    ASSERT_EQ(run.nRecords, 11);
    ASSERT_FALSE(run.values.empty());
    ExpectFiniteNonNegative(run, "hydrocarbon_plume");
    const int last = run.nRecords - 1;
    // Entries: 7 biomass, 8 sorbed, 9 hydrocarbon, 10 oxygen.
    EXPECT_EQ(run.At(last, 16, 3, 9), 5.0) << "source";
    EXPECT_GT(run.At(last, 16, 10, 8), 0.01) << "sorbed below the source";
    EXPECT_LT(run.At(last, 16, 10, 10), 1.0) << "oxygen in the plume's core";
    EXPECT_EQ(run.At(last, 0, 0, 10), 8.0) << "oxygen held on the inflow column";
    double biomass = 0.0, outflow = 0.0;
    for (int i = 0; i < run.nRows; ++i) {
        outflow = std::max(outflow, run.At(last, i, run.nCols - 1, 9));
        for (int j = 0; j < run.nCols; ++j)
            biomass = std::max(biomass, run.At(last, i, j, 7));
    }
    EXPECT_GT(biomass, 1.0);
    EXPECT_LT(outflow, 0.2);
}

// At the monitoring well 90 m downstream of the source the daughters outweigh the parent
// once the chain has reached its steady state.
TEST(Examples, DecayChainGrowsItsDaughters) {
    TempDir dir;
    const CRunOutput run = RunExample(dir, "decay_chain", 10);
    ASSERT_EQ(run.nRecords, 31);
    ASSERT_FALSE(run.values.empty());
    ExpectFiniteNonNegative(run, "decay_chain");
    const int last = run.nRecords - 1;
    const double tce = run.At(last, 14, 20, 7);
    const double dce = run.At(last, 14, 20, 8);
    const double vc = run.At(last, 14, 20, 9);
    EXPECT_GT(tce, 0.1);
    EXPECT_GT(dce, tce);
    EXPECT_GT(vc, tce);
    // Steady: the last two records at the well agree closely.
    EXPECT_NEAR(run.At(last - 1, 14, 20, 8), dce, 0.01 * dce);
}

// Every node of the aquifer ends in equilibrium: the mass-action quotient is
// Keq and the sorbed zinc four times the free zinc; the citrate carries zinc
// stripped from the sediment ahead of it, above the background of 5 umol/L.
TEST(Examples, ComplexationHoldsTheMassActionCondition) {
    TempDir dir;
    const CRunOutput run = RunExample(dir, "complexation", 11);
    ASSERT_EQ(run.nRecords, 11);
    ASSERT_FALSE(run.values.empty());
    ExpectFiniteNonNegative(run, "complexation");
    const int last = run.nRecords - 1;
    double complexMax = 0.0;
    for (int i = 0; i < run.nRows; ++i)
        for (int j = 1; j < run.nCols; ++j) {
            const double sorbed = run.At(last, i, j, 7);
            const double zn = run.At(last, i, j, 8);
            const double cit = run.At(last, i, j, 9);
            const double complex = run.At(last, i, j, 10);
            complexMax = std::max(complexMax, complex);
            if (zn > 1e-3 && cit > 1e-3) {
                EXPECT_NEAR(complex / (zn * cit), 0.0794, 1e-6 * 0.0794)
                    << "node (" << i << ", " << j << ")";
            }
            EXPECT_NEAR(sorbed, 4.0 * zn, 1e-9) << "node (" << i << ", " << j << ")";
        }
    EXPECT_GT(complexMax, 10.0);
    // The hold comes first in the source's set; the complexation after it
    // takes what the last sweep leaves within opzero.
    EXPECT_NEAR(run.At(last, 10, 3, 9), 200.0, 1e-6) << "citrate held at the source";
}

} // namespace
