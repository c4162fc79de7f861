// The budget's terms against what is known without the engine: a first-order
// decay in a batch, the outflow of a sink, sums that no order of addition
// changes.
#include "model/exact_sum.h"
#include "model/number_text.h"
#include "support/budget_rows.h"
#include "support/engine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <utility>
#include <vector>

#include <cmath>

using namespace kova_test;

namespace {

// One node of unit area, no flow, thickness 2: the mass of c is c x 0.3 x 2.
// source is the node's source rate; decay > 0 adds a first-order decay, whose
// extent also changes the seven hydraulic entries by the coefficients given.
std::string BatchModel(double source, double decay, double step,
                       const std::string& hydraulic = "0 0 0 0 0 0 0") {
    const std::string s = ExactText(source);
    std::string text = "1 1 0 1 " + std::string(decay > 0 ? "1" : "0") + " 1\n";
    text += "0 20 5 " + ExactText(step) + " 1e-13\n0\n0\n0 0 0\n";
    text += "0 " + s + " 0.3 0 0 0 0 2\n0\n0\n";
    if (decay > 0)
        text += "2  " + hydraulic + " -1  1 7 " + ExactText(decay) + "\n";
    text += "0\n0\n";
    text += decay > 0 ? "0  1 0\n" : "0 0\n";
    return text;
}

std::vector<CBudgetRow> RunBatch(const TempDir& dir, const std::string& model) {
    const std::string base = dir.File("batch");
    WriteTextFile(base + ".kvi", model);
    WriteTextFile(base + ".kvx", "[aquifer]\nthickness = 2\n[entries]\nmobile = [\"A\"]\n");
    const CInProcessRun run = RunInProcess(base);
    EXPECT_EQ(run.error, "");
    return ReadBudget(base + ".budget.csv");
}

constexpr double MASS0 = 2 * 0.3 * 2; // c 2, porosity 0.3, volume 2

// dc/dt = -k c: over [t0, t1] the batch loses M(t0) (1 - e^(-k (t1 - t0)))
// up to the local integration's accuracy, and the reaction term is every bit
// of the change.
TEST(MassBudget, DecayTermIsTheAnalyticLoss) {
    const TempDir dir;
    const double k = 0.05;
    const std::vector<CBudgetRow> rows = RunBatch(dir, BatchModel(0.0, k, 0.1));
    ASSERT_EQ(IntervalCount(rows), 4);
    for (int i = 0; i < 4; ++i) {
        const std::vector<CBudgetRow> a = RowsOf(rows, i, "A");
        const double t0 = a[0].m_timeStart;
        const double t1 = a[0].m_timeEnd;
        const double start = TermOf(a, "storage_start");
        const double loss = TermOf(a, "reaction 0 COrdered");
        EXPECT_NEAR(start, MASS0 * std::exp(-k * t0), 1e-4 * MASS0) << "at " << t0;
        EXPECT_NEAR(loss, -start * (1.0 - std::exp(-k * (t1 - t0))), 1e-5 * MASS0) << "at " << t0;
        EXPECT_NEAR(loss, TermOf(a, "storage_end") - start, 1e-14 * MASS0);
        EXPECT_EQ(TermOf(a, "sinks"), 0.0);
    }
}

// A named reaction's terms carry its name, an unnamed one's its type; the
// record number stays in front either way.
TEST(MassBudget, ReactionTermsAreNamedByTheExtensionFile) {
    const struct {
        const char* extension;
        const char* term;
    } cases[] = {
        {"[entries]\nmobile = [\"A\"]\n", "reaction 0 COrdered"},
        {"[entries]\nmobile = [\"A\"]\n[reactions]\nnames = [\"decay_A\"]\n", "reaction 0 decay_A"},
        {"[reactions]\nnames = [\"COrdered2\"]\n", "reaction 0 COrdered2"},
    };
    for (const auto& row : cases) {
        const TempDir dir;
        const std::string base = dir.File("batch");
        WriteTextFile(base + ".kvi", BatchModel(0.0, 0.05, 0.1));
        WriteTextFile(base + ".kvx", row.extension);
        const CInProcessRun run = RunInProcess(base);
        ASSERT_EQ(run.error, "") << row.extension;
        const std::vector<CBudgetRow> rows = ReadBudget(base + ".budget.csv");
        const std::string entry =
            std::string(row.extension).find("mobile") == std::string::npos ? "mobile_0" : "A";
        const std::vector<CBudgetRow> a = RowsOf(rows, 0, entry);
        int named = 0;
        for (const CBudgetRow& r : a)
            named += r.m_term.rfind("reaction ", 0) == 0 ? 1 : 0;
        EXPECT_EQ(named, 1) << row.extension;
        // The decay's loss is the whole change, whatever the term's name.
        EXPECT_NEAR(TermOf(a, row.term), TermOf(a, "storage_end") - TermOf(a, "storage_start"),
                    1e-14 * MASS0)
            << row.extension;
    }
}

// Water leaving at a rate s per unit pore volume takes c s dt with it every
// step: after N steps M0 (1 + s dt)^N is left, which tends to M0 e^(s t).
TEST(MassBudget, SinkTermIsTheOutflow) {
    const TempDir dir;
    const double s = -0.1;
    const double dt = 0.01;
    const std::vector<CBudgetRow> rows = RunBatch(dir, BatchModel(s, 0.0, dt));
    const int intervals = IntervalCount(rows);
    ASSERT_EQ(intervals, 4);
    double out = 0.0;
    for (int i = 0; i < intervals; ++i)
        out += TermOf(RowsOf(rows, i, "A"), "sinks");
    const std::vector<CBudgetRow> last = RowsOf(rows, intervals - 1, "A");
    const double t = last[0].m_timeEnd;
    const double steps = std::round(t / dt);
    EXPECT_NEAR(out, MASS0 * (std::pow(1 + s * dt, steps) - 1.0), 1e-12 * MASS0);
    EXPECT_NEAR(out, MASS0 * (std::exp(s * t) - 1.0), 1e-3 * MASS0);
    EXPECT_NEAR(TermOf(last, "storage_end"), MASS0 + out, 1e-12 * MASS0);
    // The water leaves at the node's rate: volume 2 x porosity 0.3 x s.
    const std::vector<CBudgetRow> water = RowsOf(rows, 0, "water");
    EXPECT_DOUBLE_EQ(TermOf(water, "sinks"), 0.6 * s);
    EXPECT_EQ(TermOf(water, "fixed_head_inflow"), 0.0);
}

// Nodes whose reactions change their porosity or their source: the budget
// weighs them with the porosity at the start of each step and finds the
// sinks each step (a source that turns negative takes solute out from then
// on), and still closes.
struct CHydraulicCase {
    const char* name;
    const char* coefficients; // of the seven hydraulic entries, per unit of extent
    const char* term;         // the term the change shows in
};

class HydraulicReactions : public ::testing::TestWithParam<CHydraulicCase> {};

TEST_P(HydraulicReactions, CloseTheBudget) {
    const TempDir dir;
    const std::vector<CBudgetRow> rows =
        RunBatch(dir, BatchModel(0.0, 0.05, 0.1, GetParam().coefficients));
    ASSERT_EQ(IntervalCount(rows), 4);
    for (int i = 0; i < 4; ++i) {
        const std::vector<CBudgetRow> a = RowsOf(rows, i, "A");
        EXPECT_LT(TermOf(a, GetParam().term), 0.0) << "interval " << i;
        // One node has no faces: all the transport step did was the sink's.
        EXPECT_EQ(TermOf(a, "transport"), 0.0) << "interval " << i;
        EXPECT_LE(std::fabs(TermOf(a, "discrepancy")), 1e-12 * MASS0) << "interval " << i;
    }
}

const CHydraulicCase HYDRAULIC[] = {
    {"source_turns_negative", "0 -0.5 0 0 0 0 0", "sinks"},
    {"porosity_falls", "0 0 -0.01 0 0 0 0", "porosity"},
};

INSTANTIATE_TEST_SUITE_P(MassBudget, HydraulicReactions, ::testing::ValuesIn(HYDRAULIC),
                         [](const ::testing::TestParamInfo<CHydraulicCase>& p) {
                             return std::string(p.param.name);
                         });

// 300 nodes without flow between them, two of them sinks: the last node of
// the first chunk of 256 and the first of the next. Each loses M0 ((1 +
// s dt)^N - 1), counted once.
TEST(MassBudget, SinksAtTheEdgeOfAChunkCountOnce) {
    const TempDir dir;
    std::string text = "1 300 0 1 0 1\n0 20 5 0.01 1e-13\n0\n";
    for (int j = 0; j < 300; ++j)
        text += std::to_string(j) + " ";
    text += "\n0 0 0\n0 0 0.3 0 0 0 0 2\n2\n0 255 1 -0.2\n0 256 1 -0.1\n0\n0\n0\n0 0\n";
    const std::vector<CBudgetRow> rows = RunBatch(dir, text);
    const int intervals = IntervalCount(rows);
    ASSERT_EQ(intervals, 4);
    double out = 0.0;
    for (int i = 0; i < intervals; ++i)
        out += TermOf(RowsOf(rows, i, "A"), "sinks");
    const double steps = std::round(RowsOf(rows, intervals - 1, "A")[0].m_timeEnd / 0.01);
    const double expected = MASS0 * (std::pow(1 - 0.2 * 0.01, steps) - 1.0) +
                            MASS0 * (std::pow(1 - 0.1 * 0.01, steps) - 1.0);
    EXPECT_NEAR(out, expected, 1e-12 * MASS0);
}

// 300 nodes without flow between them; those from first to 298 decay, the
// others react not at all (a second reaction set). The budget takes a chunk
// of 256 nodes with one set as a whole, and one with both set by set: with
// the set changing inside the first chunk and at its edge, the reaction
// term is the loss of exactly the decaying nodes and the budget closes.
class TwoReactionSets : public ::testing::TestWithParam<int> {};

TEST_P(TwoReactionSets, TakeTheAmountsOfTheirOwnNodes) {
    const int first = GetParam();
    const double k = 0.05;
    std::string text = "1 300 0 1 1 2\n0 20 5 0.1 1e-13\n0\n";
    for (int j = 0; j < 300; ++j)
        text += std::to_string(j) + " ";
    text += "\n0 0 0\n0 0 0.3 0 0 0 0 2\n0\n0\n";
    text += "2  0 0 0 0 0 0 0 -1  1 7 " + ExactText(k) + "\n";
    text += "0\n" + std::to_string(299 - first) + "\n";
    for (int j = first; j < 299; ++j)
        text += "0 " + std::to_string(j) + " 1\n";
    text += "0 0\n0  1 0\n";
    const TempDir dir;
    const std::vector<CBudgetRow> rows = RunBatch(dir, text);
    const int intervals = IntervalCount(rows);
    ASSERT_EQ(intervals, 4);
    double loss = 0.0;
    for (int i = 0; i < intervals; ++i) {
        const std::vector<CBudgetRow> a = RowsOf(rows, i, "A");
        loss += TermOf(a, "reaction 0 COrdered");
        EXPECT_LE(std::fabs(TermOf(a, "discrepancy")), 1e-12 * TermOf(a, "storage_start"))
            << "interval " << i;
    }
    // Every decaying node holds MASS0 at the start (a cell of width 1).
    const double t = RowsOf(rows, intervals - 1, "A")[0].m_timeEnd;
    EXPECT_NEAR(loss, -(299 - first) * MASS0 * (1.0 - std::exp(-k * t)),
                1e-4 * (299 - first) * MASS0);
}

// Inside the first chunk, at the edge of the second, and every interior node.
INSTANTIATE_TEST_SUITE_P(MassBudget, TwoReactionSets, ::testing::Values(100, 256, 1));

struct CSumCase {
    const char* name;
    std::vector<double> values;
    double sum;
};

class ExactSums : public ::testing::TestWithParam<CSumCase> {};

// Forwards, backwards and split in two halves added together: one sum.
TEST_P(ExactSums, DoNotDependOnTheOrder) {
    const std::vector<double>& v = GetParam().values;
    CExactSum forward;
    CExactSum backward;
    CExactSum low;
    CExactSum high;
    for (size_t i = 0; i < v.size(); ++i) {
        forward.Add(v[i]);
        backward.Add(v[v.size() - 1 - i]);
        (i % 2 ? high : low).Add(v[i]);
    }
    low.Add(high);
    EXPECT_EQ(forward.Value(), GetParam().sum);
    EXPECT_EQ(backward.Value(), GetParam().sum);
    EXPECT_EQ(low.Value(), GetParam().sum);
}

// A sum imaged halfway (as a checkpoint keeps it) and taken back into a new
// one goes on to the same sum.
TEST_P(ExactSums, GoOnFromTheirImage) {
    const std::vector<double>& v = GetParam().values;
    CExactSum first;
    for (size_t i = 0; i < v.size() / 2; ++i)
        first.Add(v[i]);
    int64_t words[CExactSum::IMAGE_WORDS];
    first.Image(words);
    CExactSum second;
    second.Add(99.0); // whatever it held goes
    ASSERT_TRUE(second.FromImage(words));
    for (size_t i = v.size() / 2; i < v.size(); ++i)
        second.Add(v[i]);
    EXPECT_EQ(second.Value(), GetParam().sum);
}

const CSumCase SUMS[] = {
    {"cancelling_giants", {1e16, 1.0, -1e16, 1.0}, 2.0},
    {"negative", {-3.5, 1.25, -0.75}, -3.0},
    {"tiny_and_huge", {1e300, 5e-324, -1e300}, 5e-324},
    {"below_the_last_bit", {1.0, 1e-20, -1.0}, 1e-20},
    {"huge_sum", {1.5e308, 1e308, -1e308}, 1.5e308},
    {"nothing", {}, 0.0},
};

INSTANTIATE_TEST_SUITE_P(MassBudget, ExactSums, ::testing::ValuesIn(SUMS),
                         [](const ::testing::TestParamInfo<CSumCase>& p) {
                             return std::string(p.param.name);
                         });

TEST(MassBudget, AnImageNoSumGivesIsRefused) {
    CExactSum sum;
    sum.Add(-2.5);
    sum.Add(std::numeric_limits<double>::infinity());
    int64_t words[CExactSum::IMAGE_WORDS];
    sum.Image(words);
    CExactSum back;
    ASSERT_TRUE(back.FromImage(words));
    EXPECT_EQ(back.Value(), std::numeric_limits<double>::infinity());
    for (const auto& [at, value] : std::vector<std::pair<int, int64_t>>{
             {0, -1}, {3, int64_t(1) << 32}, {67, int64_t(1) << 41}, {68, 2}}) {
        int64_t bad[CExactSum::IMAGE_WORDS];
        std::copy(words, words + CExactSum::IMAGE_WORDS, bad);
        bad[at] = value;
        EXPECT_FALSE(back.FromImage(bad)) << "word " << at;
    }
}

// A million addends that each fill a limb and a half.
TEST(MassBudget, ManyLargeAdditionsSumExactly) {
    CExactSum sum;
    for (int i = 0; i < (1 << 20); ++i)
        sum.Add(4294967295.0 * 65536.0);
    EXPECT_EQ(sum.Value(), 4294967295.0 * 65536.0 * (1 << 20));
}

} // namespace
