// The mass budget and the observation wells of whole runs: every interval of
// every model closes, the files do not depend on the threads, the wells read
// as the records at record times, and --no-budget leaves the records alone.
#include "support/budget_rows.h"
#include "support/injection_model.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>

using namespace kova_test;

namespace {

// Copies the model and its extension file, if any, into dir; the base path.
std::string Stage(const TempDir& dir, const std::string& from, const std::string& name) {
    const std::string base = StageModel(dir, from, name);
    const std::string ext = from + "/" + name + ".kvx";
    if (FileExists(ext))
        WriteTextFile(base + ".kvx", ReadTextFile(ext));
    return base;
}

std::string RunModel(const std::string& base, const std::vector<std::string>& options = {}) {
    std::vector<std::string> args = {"--no-progress"};
    args.insert(args.end(), options.begin(), options.end());
    args.push_back(base);
    const ProcessResult run = RunCompute(args);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    return run.err;
}

// BASE.water.csv: the header, then per interval of the budget (its times to
// the last bit) the five water rates of the budget's first interval, in
// order, each the budget's number.
void ExpectWaterFileHoldsTheBudgetsRates(const std::string& base,
                                         const std::vector<CBudgetRow>& budget) {
    std::vector<const CBudgetRow*> water;
    for (const CBudgetRow& row : budget)
        if (row.m_entry == "water")
            water.push_back(&row);
    ASSERT_EQ(water.size(), 5u);
    std::vector<std::pair<double, double>> intervals;
    for (const CBudgetRow& row : budget)
        if (intervals.empty() || intervals.back() != std::make_pair(row.m_timeStart, row.m_timeEnd))
            intervals.emplace_back(row.m_timeStart, row.m_timeEnd);
    std::istringstream in(ReadTextFile(base + ".water.csv"));
    std::string line;
    ASSERT_TRUE(std::getline(in, line));
    EXPECT_EQ(line, "time_start,time_end,term,rate");
    for (const auto& [start, end] : intervals)
        for (const CBudgetRow* rate : water) {
            ASSERT_TRUE(std::getline(in, line)) << "interval from " << start;
            char term[64] = {};
            double a = 0.0, b = 0.0, r = 0.0;
            ASSERT_EQ(std::sscanf(line.c_str(), "%lf,%lf,%63[^,],%lf", &a, &b, term, &r), 4)
                << line;
            EXPECT_EQ(a, start) << line;
            EXPECT_EQ(b, end) << line;
            EXPECT_EQ(term, rate->m_term) << line;
            EXPECT_EQ(r, rate->m_mass) << line;
        }
    EXPECT_FALSE(std::getline(in, line)) << "a row after the last interval: " << line;
}

struct CModelCase {
    const char* directory;
    const char* name;
    const char* scheme = nullptr; // a transport scheme added to its extension file
    bool implicit = false;        // and [transport] time = "implicit"
};

class Closure : public ::testing::TestWithParam<CModelCase> {};

// Every entry in every interval: the discrepancy is the storage change less
// every change term, and no more than 1e-9 of the entry's largest storage.
TEST_P(Closure, EveryEntryInEveryInterval) {
    const TempDir dir;
    const std::string base = Stage(dir, GetParam().directory, GetParam().name);
    if (GetParam().scheme) {
        const std::string ext = FileExists(base + ".kvx") ? ReadTextFile(base + ".kvx") : "";
        WriteTextFile(base + ".kvx", ext + "\n[transport]\nscheme = \"" + GetParam().scheme +
                                         "\"\n" +
                                         (GetParam().implicit ? "time = \"implicit\"\n" : ""));
    }
    RunModel(base);
    const std::vector<CBudgetRow> rows = ReadBudget(base + ".budget.csv");
    std::map<std::string, double> largest;
    for (const CBudgetRow& row : rows)
        if (row.m_term.rfind("storage", 0) == 0)
            largest[row.m_entry] = std::max(largest[row.m_entry], std::fabs(row.m_mass));
    ASSERT_FALSE(largest.empty());
    const int intervals = IntervalCount(rows);
    ASSERT_GT(intervals, 0);
    for (int i = 0; i < intervals; ++i)
        for (const auto& [entry, big] : largest) {
            const std::vector<CBudgetRow> terms = RowsOf(rows, i, entry);
            double change = TermOf(terms, "storage_end") - TermOf(terms, "storage_start");
            for (const CBudgetRow& row : terms)
                if (row.m_term.rfind("storage", 0) != 0 && row.m_term != "discrepancy")
                    change -= row.m_mass;
            const double discrepancy = TermOf(terms, "discrepancy");
            EXPECT_NEAR(discrepancy, change, 1e-12 * big) << entry << " interval " << i;
            EXPECT_LE(std::fabs(discrepancy), 1e-9 * big) << entry << " interval " << i;
        }
    ExpectWaterFileHoldsTheBudgetsRates(base, rows);
}

const CModelCase MODELS[] = {
    {KOVA_EXAMPLES_DIR, "column"},
    {KOVA_EXAMPLES_DIR, "plume"},
    {KOVA_EXAMPLES_DIR, "complexation"},
    {KOVA_EXAMPLES_DIR, "decay_chain"},
    {KOVA_EXAMPLES_DIR, "hydrocarbon_plume"},
    {KOVA_EXAMPLES_DIR, "two_nodes"},
    {KOVA_TEST_DATA_DIR, "column_decay"},
    {KOVA_TEST_DATA_DIR, "dual_monod_plume"},
    {KOVA_TEST_DATA_DIR, "equilibrium_set"},
    {KOVA_TEST_DATA_DIR, "grid_2x3"},
    {KOVA_TEST_DATA_DIR, "rule_curve_source"},
    // Seven mobile entries, each its own values, and a sink: more entries
    // than the chunk's transport sums keep in registers.
    {KOVA_TEST_DATA_DIR, "seven_tracers"},
    // The other schemes move mass across the same faces: their budgets close
    // too. With tvd's longer steps some nodes of the hydrocarbon plume take
    // local steps of 1/16 of the global step whose floating-point sum ends one
    // step past it: the transport term is what those steps applied.
    {KOVA_EXAMPLES_DIR, "plume", "symmetric"},
    {KOVA_EXAMPLES_DIR, "plume", "tvd"},
    {KOVA_EXAMPLES_DIR, "hydrocarbon_plume", "tvd"},
    {KOVA_TEST_DATA_DIR, "dual_monod_plume", "symmetric"},
    // The implicit step takes its change from the solution's face fluxes:
    // its budgets close whatever the solver's residual, with every scheme, a
    // held inlet (column), sinks and a source a rule curve turns (its systems
    // are made anew then).
    {KOVA_EXAMPLES_DIR, "column", "default", true},
    {KOVA_EXAMPLES_DIR, "plume", "default", true},
    {KOVA_EXAMPLES_DIR, "plume", "symmetric", true},
    {KOVA_EXAMPLES_DIR, "plume", "tvd", true},
    {KOVA_EXAMPLES_DIR, "hydrocarbon_plume", "tvd", true},
    {KOVA_EXAMPLES_DIR, "decay_chain", "tvd", true},
    {KOVA_TEST_DATA_DIR, "dual_monod_plume", "tvd", true},
    {KOVA_TEST_DATA_DIR, "rule_curve_source", "tvd", true},
};

INSTANTIATE_TEST_SUITE_P(Budget, Closure, ::testing::ValuesIn(MODELS),
                         [](const ::testing::TestParamInfo<CModelCase>& p) {
                             return std::string(p.param.name) +
                                    (p.param.scheme ? std::string("_") + p.param.scheme : "") +
                                    (p.param.implicit ? "_implicit" : "");
                         });

// The held source of the column example is its inlet's linear assignment:
// the mass it adds is that reaction's term, and nothing else adds any.
TEST(Budget, AHeldConcentrationIsTheMassItsReactionAdds) {
    const TempDir dir;
    const std::string base = Stage(dir, KOVA_EXAMPLES_DIR, "column");
    RunModel(base);
    const std::vector<CBudgetRow> rows = ReadBudget(base + ".budget.csv");
    const std::vector<CBudgetRow> first = RowsOf(rows, 0, "tracer");
    std::vector<std::string> terms;
    for (const CBudgetRow& row : first)
        terms.push_back(row.m_term);
    EXPECT_EQ(terms, (std::vector<std::string>{"storage_start", "storage_end", "sinks", "transport",
                                               "reaction 0 CLinAssign", "discrepancy"}));
    EXPECT_GT(TermOf(first, "reaction 0 CLinAssign"), 0.0);
    EXPECT_EQ(TermOf(first, "sinks"), 0.0);
}

// The plume's 10 000 nodes are many chunks: the threads share them
// differently on every run, and the files must not show it.
TEST(Budget, FilesAreTheSameForAnyThreads) {
    const TempDir one;
    const TempDir two;
    const std::string a = Stage(one, KOVA_EXAMPLES_DIR, "plume");
    const std::string b = Stage(two, KOVA_EXAMPLES_DIR, "plume");
    RunModel(a, {"--threads", "1"});
    RunModel(b, {"--threads", "2"});
    for (const char* file : {".budget.csv", ".water.csv", ".obs.csv", ".kvo"})
        EXPECT_TRUE(ReadBinaryFile(a + file) == ReadBinaryFile(b + file)) << file;
}

// The injection model in dir: its model and extension files; the base path.
std::string StageInjection(const TempDir& dir, const std::string& transport = "") {
    const std::string base = dir.File("inject");
    WriteTextFile(base + ".kvi", InjectionModel().Text());
    WriteTextFile(base + ".kvx", InjectionExtension(true) + transport);
    return base;
}

// The implicit step with injection, sinks and held heads: the files are the
// same for any threads, and what the faces move between nodes sums to no
// mass, the sinks' and the sources' terms taking all that leaves and enters.
TEST(Budget, ImplicitTransportMovesNoMassOfItsOwn) {
    for (const char* scheme : {"default", "symmetric", "tvd"}) {
        const std::string transport =
            std::string("[transport]\ntime = \"implicit\"\nscheme = \"") + scheme + "\"\n";
        const TempDir one;
        const TempDir two;
        const std::string a = StageInjection(one, transport);
        const std::string b = StageInjection(two, transport);
        RunModel(a, {"--threads", "1"});
        RunModel(b, {"--threads", "2"});
        for (const char* file : {".budget.csv", ".kvo", ".kvt"})
            EXPECT_TRUE(ReadBinaryFile(a + file) == ReadBinaryFile(b + file)) << file << scheme;
        const std::vector<CBudgetRow> rows = ReadBudget(a + ".budget.csv");
        for (const char* entry : {"A", "B"}) {
            double sources = 0.0;
            double sinks = 0.0;
            double largest = 0.0;
            for (const CBudgetRow& row : rows) {
                if (row.m_entry != entry)
                    continue;
                sources += row.m_term == "sources" ? row.m_mass : 0.0;
                sinks += row.m_term == "sinks" ? row.m_mass : 0.0;
                if (row.m_term == "transport")
                    largest = std::max(largest, std::fabs(row.m_mass));
            }
            EXPECT_GT(sources, 1.0) << entry << " " << scheme;
            EXPECT_LT(sinks, 0.0) << entry << " " << scheme;
            EXPECT_LE(largest, 1e-9 * sources) << entry << " " << scheme;
        }
    }
}

// The injection is added after the threads' transport, in one pass: the
// files are the same for any threads, and the summary counts the injected
// mass in.
TEST(Budget, InjectionIsTheSameForAnyThreadsAndIsCountedIn) {
    const TempDir one;
    const TempDir two;
    const std::string a = StageInjection(one);
    const std::string b = StageInjection(two);
    const std::string err = RunModel(a, {"--threads", "1"});
    RunModel(b, {"--threads", "2"});
    for (const char* file : {".budget.csv", ".kvo", ".kvt"})
        EXPECT_TRUE(ReadBinaryFile(a + file) == ReadBinaryFile(b + file)) << file;
    const std::vector<CBudgetRow> rows = ReadBudget(a + ".budget.csv");
    for (const char* entry : {"A", "B"}) {
        double sources = 0.0;
        double transport = 0.0;
        for (const CBudgetRow& row : rows) {
            if (row.m_entry != entry)
                continue;
            sources += row.m_term == "sources" ? row.m_mass : 0.0;
            transport += row.m_term == "transport" ? row.m_mass : 0.0;
        }
        EXPECT_GT(sources, 1.0) << entry;
        const size_t at = err.find("\n" + std::string(entry) + " ");
        ASSERT_NE(at, std::string::npos) << err;
        std::istringstream line(err.substr(at + 2));
        double initial = 0, final = 0, in = 0;
        line >> initial >> final >> in;
        EXPECT_NEAR(in, sources + std::max(transport, 0.0), 1e-5 * sources) << entry;
    }
}

// The summary's numbers are the table's: the storage at both ends, what the
// sinks took out, no reaction.
TEST(Budget, TheSummaryAddsUpTheTable) {
    const TempDir dir;
    const std::string base = Stage(dir, KOVA_EXAMPLES_DIR, "two_nodes");
    const std::string err = RunModel(base);
    const std::vector<CBudgetRow> rows = ReadBudget(base + ".budget.csv");
    double sinks = 0.0;
    for (const CBudgetRow& row : rows)
        if (row.m_entry == "tracer" && row.m_term == "sinks")
            sinks += row.m_mass;
    const size_t at = err.find("\ntracer ");
    ASSERT_NE(at, std::string::npos) << err;
    std::istringstream line(err.substr(at + 8));
    double initial = 0, final = 0, in = 0, out = 0, reactions = 0;
    line >> initial >> final >> in >> out >> reactions;
    const int last = IntervalCount(rows) - 1;
    EXPECT_EQ(initial, 3.0);
    EXPECT_NEAR(final, TermOf(RowsOf(rows, last, "tracer"), "storage_end"), 1e-5);
    EXPECT_NEAR(in, 0.0, 1e-12); // the transport, zero up to rounding
    EXPECT_NEAR(out, sinks, 1e-5 * std::fabs(sinks));
    EXPECT_LT(out, -2.5);
    EXPECT_EQ(reactions, 0.0);
}

// The summary names each entry with its storage and its discrepancy.
TEST(Budget, TheRunEndsWithASummary) {
    const TempDir dir;
    const std::string base = Stage(dir, KOVA_EXAMPLES_DIR, "decay_chain");
    const std::string err = RunModel(base);
    EXPECT_NE(err.find("Mass budget from 0 to "), std::string::npos) << err;
    EXPECT_NE(err.find("(mass in g)"), std::string::npos) << err;
    for (const char* entry : {"\nTCE ", "\ncDCE ", "\nVC "})
        EXPECT_NE(err.find(entry), std::string::npos) << entry << " in " << err;
}

TEST(Budget, NoBudgetWritesNoneAndTheSameRecords) {
    const TempDir one;
    const TempDir two;
    const std::string a = Stage(one, KOVA_EXAMPLES_DIR, "hydrocarbon_plume");
    const std::string b = Stage(two, KOVA_EXAMPLES_DIR, "hydrocarbon_plume");
    RunModel(a);
    const std::string err = RunModel(b, {"--no-budget"});
    EXPECT_FALSE(FileExists(b + ".budget.csv"));
    EXPECT_FALSE(FileExists(b + ".water.csv"));
    EXPECT_EQ(err.find("Mass budget"), std::string::npos);
    for (const char* file : {".kvo", ".kvt", ".obs.csv"})
        EXPECT_TRUE(ReadBinaryFile(a + file) == ReadBinaryFile(b + file)) << file;
}

// Every row of the well file at a record's time holds that record's values,
// to the last bit; between records there is a row after every step.
TEST(Observation, RowsAtRecordTimesAreTheRecords) {
    const TempDir dir;
    const std::string base = Stage(dir, KOVA_EXAMPLES_DIR, "hydrocarbon_plume");
    RunModel(base);
    const std::vector<unsigned char> times = ReadBinaryFile(base + ".kvt");
    const std::vector<unsigned char> data = ReadBinaryFile(base + ".kvo");
    const int records = IntAt(times, 0);
    const int cols = IntAt(times, 8);
    const int nComp = 11;
    std::istringstream obs(ReadTextFile(base + ".obs.csv"));
    std::string line;
    std::getline(obs, line);
    EXPECT_EQ(line, "time,MW1:benzene,MW1:O2,MW1:biomass");
    std::map<double, std::vector<double>> rows;
    while (std::getline(obs, line)) {
        std::vector<double> values;
        std::istringstream fields(line);
        std::string field;
        while (std::getline(fields, field, ','))
            values.push_back(std::stod(field));
        rows[values[0]] = values;
    }
    EXPECT_GT(rows.size(), static_cast<size_t>(records) * 2);
    const size_t node = static_cast<size_t>(16 * cols + 20);
    for (int r = 0; r < records; ++r) {
        const double time = DoubleAt(times, 36 + 8 * static_cast<size_t>(r));
        ASSERT_EQ(rows.count(time), 1u) << "no row at record time " << time;
        const size_t at = (static_cast<size_t>(r) * static_cast<size_t>(IntAt(times, 4)) *
                               static_cast<size_t>(cols) +
                           node) *
                          nComp * 8;
        const std::vector<double>& row = rows[time];
        EXPECT_EQ(row[1], DoubleAt(data, at + 9 * 8)) << "benzene at " << time;
        EXPECT_EQ(row[2], DoubleAt(data, at + 10 * 8)) << "O2 at " << time;
        EXPECT_EQ(row[3], DoubleAt(data, at + 7 * 8)) << "biomass at " << time;
    }
}

} // namespace
