// Whole implicit runs with reactions: a few long steps reach what many short
// ones reach, because each step carries the reactions' rate; without it a
// step of one decay time lost half the plume's peak.
#include "support/budget_rows.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

using namespace kova_test;

namespace {

constexpr int COLS = 40;
constexpr int COMP = 8; // seven hydraulic slots and the mobile entry

// One row of COLS nodes 10 m apart, water at 0.24 m/d (porosity 0.3, heads
// held at both ends), dispersivity 10 m, first-order decay at rate decay (a
// kinetic power law of order 1), water injected at node 3 at 1e-4 of its pore
// volume a day with concentration 100; steps of step up to end, one record
// there.
std::string ModelText(double step, double end, double decay) {
    const double dx = 10.0, v = 0.24, porosity = 0.3, k = 10.0;
    const double drop = v * porosity * dx * (COLS - 1) / k;
    std::string text = "1 " + std::to_string(COLS) + " 0 1 1 1\n";
    text += "0.0 " + std::to_string(end) + " " + std::to_string(end) + " " + std::to_string(step) +
            " 1e-09\n0.0\n";
    for (int j = 0; j < COLS; ++j)
        text += std::to_string(dx * j) + " ";
    text += "\n10.0 1.0 0.0\n10.0 0.0 0.3 10.0 10.0 0.0 0.0 0.0\n";
    text += "2 0 0 0 " + std::to_string(10.0 + drop) + " 0 3 1 1e-4\n";
    text += "2 0 0 0 " + std::to_string(COLS - 1) + "\n";
    text += "2  0 0 0 0 0 0 0 -1  1 7 " + std::to_string(decay) + "\n0\n0\n0  1 0\n";
    return text;
}

const char* EXTENSION = "[entries]\nmobile = [\"c\"]\n[transport]\ntime = \"implicit\"\n"
                        "scheme = \"%s\"\n[[inject]]\nname = \"well\"\nnodes = [[0, 3]]\n"
                        "concentration = { c = 100.0 }\n";

// The concentrations of the last record of a run with count steps.
std::vector<double> LastRecord(const TempDir& dir, const std::string& scheme, int count,
                               double decay) {
    const double end = 20000.0;
    const std::string base = dir.Path() + "/row_" + scheme + "_" + std::to_string(count);
    WriteTextFile(base + ".kvi", ModelText(end / count, end, decay));
    char ext[512];
    std::snprintf(ext, sizeof ext, EXTENSION, scheme.c_str());
    WriteTextFile(base + ".kvx", ext);
    const ProcessResult run = RunCompute({"--no-progress", base});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    const std::vector<unsigned char> kvo = ReadBinaryFile(base + ".kvo");
    const size_t record = 8 * size_t(COLS) * COMP;
    std::vector<double> c;
    if (kvo.size() < record)
        return c;
    for (int j = 0; j < COLS; ++j)
        c.push_back(DoubleAt(kvo, kvo.size() - record + 8 * (size_t(j) * COMP + COMP - 1)));
    return c;
}

struct CDecayCase {
    const char* scheme;
    double decay; // decay rate x the long step: 1 and 0.01
};

class LongImplicitSteps : public ::testing::TestWithParam<CDecayCase> {};

TEST_P(LongImplicitSteps, EndWhereShortOnesDo) {
    const TempDir dir;
    const std::vector<double> few = LastRecord(dir, GetParam().scheme, 10, GetParam().decay);
    const std::vector<double> many = LastRecord(dir, GetParam().scheme, 2000, GetParam().decay);
    ASSERT_EQ(few.size(), size_t(COLS));
    ASSERT_EQ(many.size(), size_t(COLS));
    const double top = *std::max_element(many.begin(), many.end());
    ASSERT_GT(top, 0.1);
    for (int j = 0; j < COLS; ++j) {
        EXPECT_NEAR(few[size_t(j)], many[size_t(j)], 1e-4 * top) << "node " << j;
        EXPECT_GE(few[size_t(j)], -1e-9 * top) << "node " << j;
    }
}

INSTANTIATE_TEST_SUITE_P(Schemes, LongImplicitSteps,
                         ::testing::Values(CDecayCase{"default", 1e-3},
                                           CDecayCase{"symmetric", 1e-3},
                                           CDecayCase{"default", 1e-5}));

// A held inlet at the last of 30 nodes (a linear assignment holds it at 1),
// water flowing towards the first at q = 0.072 m/d (a = q / (d theta) =
// 0.024 /d), no dispersion, first-order decay k = 1e-3 /d elsewhere: the
// upstream step's steady state is c(j) = c(j + 1) a / (a + k) at every node
// between the two held heads, exactly (to the local integration's
// tolerance). 40 implicit steps of k dt = 0.5.
TEST(HeldInletImplicit, ReachesTheExactUpstreamSteadyStateWithDecay) {
    const TempDir dir;
    const int cols = 30;
    const double dx = 10.0, porosity = 0.3, k = 10.0, q = 0.072, decay = 1e-3;
    const double drop = q * dx * (cols - 1) / k;
    std::string text =
        "1 " + std::to_string(cols) + " 0 1 2 2\n0.0 20000.0 20000.0 500.0 1e-09\n0.0\n";
    for (int j = 0; j < cols; ++j)
        text += std::to_string(dx * j) + " ";
    text += "\n0.0 0.0 0.0\n10.0 0.0 0.3 10.0 10.0 0.0 0.0 0.0\n";
    text += "1 0 " + std::to_string(cols - 1) + " 0 " + std::to_string(10.0 + drop) + "\n";
    text += "2 0 0 0 " + std::to_string(cols - 1) + "\n";
    text += "1  0 0 0 0 0 0 0 0  7  1.0\n";
    text += "2  0 0 0 0 0 0 0 -1  1 7 " + std::to_string(decay) + "\n";
    text += "0\n1 0 " + std::to_string(cols - 1) + " 1\n0 1 1\n1 0 0\n";
    const std::string base = dir.Path() + "/held_inlet";
    WriteTextFile(base + ".kvi", text);
    WriteTextFile(base + ".kvx", "[transport]\ntime = \"implicit\"\n");
    const ProcessResult run = RunCompute({"--no-progress", base});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const std::vector<unsigned char> kvo = ReadBinaryFile(base + ".kvo");
    const size_t record = 8 * size_t(cols) * COMP;
    ASSERT_GE(kvo.size(), record);
    auto c = [&](int j) {
        return DoubleAt(kvo, kvo.size() - record + 8 * (size_t(j) * COMP + COMP - 1));
    };
    const double a = q / (dx * porosity);
    EXPECT_EQ(c(cols - 1), 1.0);
    double expected = 1.0;
    for (int j = cols - 2; j >= 1; --j) {
        expected *= a / (a + decay);
        EXPECT_NEAR(c(j), expected, 1e-7 * expected) << "node " << j;
    }
}

// A unit patch in a 5 x 8 grid with water through it at 4.76 m/d (a cell
// passage takes 0.21 d) and first-order decay of rate 0.1, taken in implicit
// steps of rate x step 0.2, 0.8, 8 and 100. The transport empties the patch's nodes
// within a step; taken as a constant rate over the step it went on draining
// them after the decay had used up what they held (-0.042 at rate x step 8).
// Every value of every record stays at zero or above (to the reactions'
// tolerance, 1e-9), every interval's budget closes, and a rate that could not
// settle is said.
struct CEmptiedCase {
    double step;
    bool unsettled; // the run warns that the reactions' rate did not settle
};

class EmptiedNodes : public ::testing::TestWithParam<CEmptiedCase> {};

TEST_P(EmptiedNodes, StayAtZeroOrAbove) {
    const TempDir dir;
    const double step = GetParam().step;
    std::string text = "5 8 0 1 1 1\n0 " + std::to_string(5 * step) + " " + std::to_string(step) +
                       " " + std::to_string(step) + " 1e-09\n0 1 2 3 4\n0 1 2 3 4 5 6 7\n";
    text += "1.0 0.1 0.0\n0 0 0.3 1.0 1.0 0 0 0.0\n11\n";
    for (int i = 0; i < 5; ++i)
        text += std::to_string(i) + " 0 0 10.0\n" + std::to_string(i) + " 7 0 0.0\n";
    text += "2 1 7 1.0\n10\n";
    for (int i = 0; i < 5; ++i)
        text += std::to_string(i) + " 0\n" + std::to_string(i) + " 7\n";
    text += "2 0 0 0 0 0 0 0 -1 1 7 0.1\n0\n0\n0 1 0\n";
    const std::string base = dir.Path() + "/patch";
    WriteTextFile(base + ".kvi", text);
    WriteTextFile(base + ".kvx", "[transport]\ntime = \"implicit\"\n");
    const ProcessResult run = RunCompute({"--no-progress", base});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err.find("did not settle") != std::string::npos, GetParam().unsettled) << run.err;
    const std::vector<unsigned char> kvo = ReadBinaryFile(base + ".kvo");
    const size_t record = 8 * 40 * size_t(COMP);
    ASSERT_EQ(kvo.size(), 6 * record);
    for (size_t at = COMP - 1; at * 8 < kvo.size(); at += COMP)
        EXPECT_GE(DoubleAt(kvo, 8 * at), -1e-9)
            << "record " << at * 8 / record << " node " << (at * 8 % record) / (8 * COMP);
    const std::vector<CBudgetRow> rows = ReadBudget(base + ".budget.csv");
    ASSERT_EQ(IntervalCount(rows), 5);
    for (int i = 0; i < 5; ++i)
        EXPECT_LE(std::fabs(TermOf(RowsOf(rows, i, "mobile_0"), "discrepancy")), 1e-12)
            << "interval " << i;
}

INSTANTIATE_TEST_SUITE_P(RateTimesStep, EmptiedNodes,
                         ::testing::Values(CEmptiedCase{2.0, false}, CEmptiedCase{8.0, true},
                                           CEmptiedCase{80.0, true}, CEmptiedCase{1000.0, true}));

} // namespace
