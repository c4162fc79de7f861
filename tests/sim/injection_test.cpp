// Injected water in whole runs: a fixed-head node's source, known only once
// the heads are, is checked before anything is written; the budget's sources
// are the loading of the inflow, and the budget still closes.
#include "support/budget_rows.h"
#include "support/engine.h"
#include "support/injection_model.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <string>

using namespace kova_test;

namespace {

struct CHeldCase {
    const char* name;
    double headA; // held at (0, 0); (0, 2) is held at 0
    const char* place;
    const char* detail; // the refusal starts with it; empty: the run goes through
};

class HeldNodes : public ::testing::TestWithParam<CHeldCase> {};

// One row of three nodes 10 apart; (0, 1) takes water in. With headA above
// 0 the water enters at (0, 0) and leaves at (0, 2); with 0 the two ends
// exchange no water but what (0, 1) brings.
TEST_P(HeldNodes, NeedAPositiveComputedSource) {
    const TempDir dir;
    const std::string base = dir.File("m");
    const CTestModel model = CTestModel()
                                 .Grid(1, 3, {0}, {0, 10, 20})
                                 .Mobile(1, 0.1, 0)
                                 .Set(0, 0, SLOT_HEAD, GetParam().headA)
                                 .Set(0, 1, SLOT_SOURCE, 1e-3)
                                 .Fixed(0, 0)
                                 .Fixed(0, 2);
    WriteTextFile(base + ".kvi", model.Text());
    WriteTextFile(base + ".kvx", "[[inject]]\n" + std::string(GetParam().place) +
                                     "\nconcentration = { mobile_0 = 1 }\n");
    const CInProcessRun run = RunInProcess(base);
    const std::string detail = GetParam().detail;
    if (detail.empty()) {
        EXPECT_EQ(run.error, "") << (run.details.empty() ? "" : run.details[0]);
        EXPECT_TRUE(FileExists(base + ".kvo"));
        return;
    }
    EXPECT_EQ(run.error, "Input Error");
    ASSERT_EQ(run.details.size(), 1u);
    EXPECT_EQ(run.details[0].rfind(detail, 0), 0u) << run.details[0];
    const std::string file = "(file " + base + ".kvx)";
    EXPECT_EQ(run.details[0].substr(run.details[0].size() - file.size()), file) << run.details[0];
    EXPECT_FALSE(FileExists(base + ".kvo")) << "nothing is written for a refused model";
    EXPECT_FALSE(FileExists(base + ".budget.csv"));
}

const CHeldCase HELD_CASES[] = {
    {"inflow", 10, "nodes = [[0, 0], [0, 1]]", ""},
    {"outflow", 10, "nodes = [[0, 1],\n         [0, 2]]",
     "key inject[0].nodes[1] (line 3): the fixed-head node (0, 2) has the source -"},
    {"outflow_in_a_rectangle", 10, "rectangle = [0, 1, 0, 2]",
     "key inject[0].rectangle (line 2): the fixed-head node (0, 2) has the source -"},
    // Both ends held at 0: what (0, 1) brings leaves at both.
    {"both_ends_outflow", 0, "nodes = [[0, 0]]",
     "key inject[0].nodes[0] (line 2): the fixed-head node (0, 0) has the source -"},
};

INSTANTIATE_TEST_SUITE_P(Injection, HeldNodes, ::testing::ValuesIn(HELD_CASES),
                         [](const ::testing::TestParamInfo<CHeldCase>& p) {
                             return std::string(p.param.name);
                         });

// A held node with no flow at all: its computed source is 0, exactly.
TEST(Injection, AHeldNodeWithoutFlowIsRefused) {
    const TempDir dir;
    const std::string base = dir.File("m");
    const CTestModel model =
        CTestModel().Grid(1, 2, {0}, {0, 10}).Mobile(1, 0.1, 0).Fixed(0, 0).Fixed(0, 1);
    WriteTextFile(base + ".kvi", model.Text());
    WriteTextFile(base + ".kvx",
                  "[[inject]]\nnodes = [[0, 1]]\nconcentration = { mobile_0 = 1 }\n");
    const CInProcessRun run = RunInProcess(base);
    ASSERT_EQ(run.details.size(), 1u);
    EXPECT_EQ(
        run.details[0].rfind("key inject[0].nodes[0] (line 2): the fixed-head node (0, 1) has "
                             "the source 0 computed from the heads, not a positive one",
                             0),
        0u)
        << run.details[0];
}

struct CInjectionRun {
    std::vector<CBudgetRow> rows;
    std::vector<unsigned char> records;
};

CInjectionRun RunInjectionModel(const TempDir& dir, bool inject, const std::string& scheme = "") {
    const std::string base = dir.File("inject");
    WriteTextFile(base + ".kvi", InjectionModel().Text());
    WriteTextFile(base + ".kvx", InjectionExtension(inject, scheme));
    const CInProcessRun run = RunInProcess(base);
    EXPECT_EQ(run.error, "") << (run.details.empty() ? "" : run.details[0]);
    return {ReadBudget(base + ".budget.csv"), ReadBinaryFile(base + ".kvo")};
}

// What the water entering at the held nodes of column 0 brings, per unit of
// time and concentration: their sources as the heads gave them, in the first
// record, times porosity and volume.
double BoundaryInflow(const std::vector<unsigned char>& records) {
    const size_t nComp = 10;
    double inflow = 0.0;
    for (size_t i = 0; i < 20; ++i) {
        const double source = DoubleAt(records, (i * 30 * nComp + SLOT_SOURCE) * 8);
        EXPECT_GT(source, 0.0) << "row " << i;
        inflow += source * INJECTION_POROSITY * INJECTION_VOLUME;
    }
    return inflow;
}

std::vector<std::string> TermsOf(const std::vector<CBudgetRow>& rows) {
    std::vector<std::string> terms;
    for (const CBudgetRow& row : rows)
        terms.push_back(row.m_term);
    return terms;
}

class InjectionBudget : public ::testing::TestWithParam<const char*> {};

// sources = sum over the injected nodes of c_in x Q, times the time elapsed,
// in every interval, whatever the transport scheme; the transport moves
// solute only (zero up to rounding), and every interval closes.
TEST_P(InjectionBudget, SourcesAreTheLoadingOfTheInflow) {
    const TempDir dir;
    const CInjectionRun run = RunInjectionModel(dir, true, GetParam());
    const double rate[2] = {InjectedRateGiven('A'),
                            InjectedRateGiven('B') + 3.0 * BoundaryInflow(run.records)};
    const int intervals = IntervalCount(run.rows);
    ASSERT_EQ(intervals, 4);
    for (int e = 0; e < 2; ++e) {
        const std::string entry = e == 0 ? "A" : "B";
        double largest = 0.0;
        for (int i = 0; i < intervals; ++i)
            largest = std::max(largest, TermOf(RowsOf(run.rows, i, entry), "storage_end"));
        double total = 0.0;
        for (int i = 0; i < intervals; ++i) {
            const std::vector<CBudgetRow> terms = RowsOf(run.rows, i, entry);
            EXPECT_EQ(TermsOf(terms),
                      (std::vector<std::string>{"storage_start", "storage_end", "sources", "sinks",
                                                "transport", "discrepancy"}));
            const double elapsed = terms[0].m_timeEnd - terms[0].m_timeStart;
            const double sources = TermOf(terms, "sources");
            EXPECT_NEAR(sources, rate[e] * elapsed, 1e-12 * rate[e] * elapsed)
                << entry << " interval " << i;
            EXPECT_LE(std::fabs(TermOf(terms, "transport")), 1e-10 * largest)
                << entry << " interval " << i;
            EXPECT_LE(TermOf(terms, "sinks"), 0.0);
            const double change = TermOf(terms, "storage_end") - TermOf(terms, "storage_start") -
                                  sources - TermOf(terms, "sinks") - TermOf(terms, "transport");
            EXPECT_NEAR(TermOf(terms, "discrepancy"), change, 1e-12 * largest);
            EXPECT_LE(std::fabs(TermOf(terms, "discrepancy")), 1e-9 * largest);
            total += sources;
        }
        const double elapsed =
            RowsOf(run.rows, intervals - 1, entry)[0].m_timeEnd - run.rows[0].m_timeStart;
        EXPECT_NEAR(total, rate[e] * elapsed, 1e-12 * rate[e] * elapsed) << entry;
    }
    // The immobile entry gets no injection and no term for it.
    EXPECT_EQ(TermsOf(RowsOf(run.rows, 0, "X")),
              (std::vector<std::string>{"storage_start", "storage_end", "discrepancy"}));
}

INSTANTIATE_TEST_SUITE_P(Injection, InjectionBudget, ::testing::Values("", "symmetric", "tvd"),
                         [](const ::testing::TestParamInfo<const char*>& p) {
                             return *p.param ? std::string(p.param) : std::string("default");
                         });

// Without [[inject]] the mobile entries have no sources term at all.
TEST(Injection, WithoutInjectionTheBudgetHasNoSources) {
    const TempDir dir;
    const CInjectionRun run = RunInjectionModel(dir, false);
    for (const char* entry : {"A", "B"})
        EXPECT_EQ(TermsOf(RowsOf(run.rows, 0, entry)),
                  (std::vector<std::string>{"storage_start", "storage_end", "sinks", "transport",
                                            "discrepancy"}))
            << entry;
}

} // namespace
