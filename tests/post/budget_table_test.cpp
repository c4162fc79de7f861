// The mass budget a run writes beside its records: what kova-plot refuses
// (naming file, line and column), what it leaves out of a run still being
// written, and the series it draws: the storage over time and each change
// term summed from the start.
#include "post/budget_table.h"
#include "post/result_exception.h"
#include "support/test_support.h"

#include <cmath>
#include <gtest/gtest.h>

using namespace kova_test;

namespace {

const std::string HEADER = "time_start,time_end,entry,term,mass\n";

// Two intervals of one entry with every kind of change term, and water.
const std::string TWO_INTERVALS = HEADER + "0,10,water,fixed_head_inflow,12.5\n"
                                           "0,10,water,fixed_head_outflow,-12.5\n"
                                           "0,10,NH4,storage_start,100\n"
                                           "0,10,NH4,storage_end,90\n"
                                           "0,10,NH4,sinks,-4\n"
                                           "0,10,NH4,reaction 0 CKinOrdered,-6\n"
                                           "0,10,NH4,discrepancy,0\n"
                                           "10,25,NH4,storage_start,90\n"
                                           "10,25,NH4,storage_end,83\n"
                                           "10,25,NH4,sinks,-2.5\n"
                                           "10,25,NH4,reaction 0 CKinOrdered,-4\n"
                                           "10,25,NH4,discrepancy,-0.5\n";

std::string Failure(const std::string& path) {
    try {
        ReadBudgetTable(path);
    } catch (const ResultException& e) {
        return e.Detail();
    }
    return "(read)";
}

TEST(BudgetTable, FilesThatDoNotFitAreRefusedNamingLineAndColumn) {
    const struct {
        const char* what;
        std::string text;
        std::string error; // after the path
    } cases[] = {
        {"an empty file", "", ": empty, expected the header time_start,time_end,entry,term,mass"},
        {"a header without its line feed", "time_start,time_end,entry,term,mass",
         " line 1: the header ends without its line feed (the run is still writing it, or it "
         "was cut short)"},
        {"only the header", HEADER, ": no intervals (only the header)"},
        {"another header", "time,entry,term,mass\n",
         " line 1: header \"time,entry,term,mass\", expected time_start,time_end,entry,term,mass"},
        {"a missing field", HEADER + "0,10,NH4,100\n",
         " line 2: 4 fields, expected 5 (time_start,time_end,entry,term,mass)"},
        {"an empty line", HEADER + "0,10,NH4,storage_start,1\n\n",
         " line 3: 1 field, expected 5 (time_start,time_end,entry,term,mass)"},
        {"a mass that is not a number", HEADER + "0,10,NH4,storage_start,1O0\n",
         " line 2, column 24: mass \"1O0\" is not a number"},
        {"a mass with a blank", HEADER + "0,10,NH4,storage_start, 100\n",
         " line 2, column 24: mass \" 100\" is not a number"},
        {"a hexadecimal time", HEADER + "0x0,10,NH4,storage_start,1\n",
         " line 2, column 1: time_start \"0x0\" is not a number"},
        {"an infinite time", HEADER + "0,inf,NH4,storage_start,1\n",
         " line 2, column 3: time_end inf is not a finite time"},
        {"an interval running back", HEADER + "10,5,NH4,storage_start,1\n",
         " line 2, column 4: time_end 5 is not after time_start 10"},
        {"an entry with a blank", HEADER + "0,10,NH 4,storage_start,1\n",
         " line 2, column 6: entry \"NH 4\" is not a name (letters, digits, _ and -)"},
        {"an unknown term", HEADER + "0,10,NH4,storage,1\n",
         " line 2, column 10: term \"storage\" is none of storage_start, storage_end, sources, "
         "sinks, transport, porosity, discrepancy, reaction N TypeName"},
        {"a reaction without its record", HEADER + "0,10,NH4,reaction CKinOrdered,1\n",
         " line 2, column 10: term \"reaction CKinOrdered\" is none of storage_start, "
         "storage_end, sources, sinks, transport, porosity, discrepancy, reaction N TypeName"},
        {"a term of an entry given to water", HEADER + "0,10,water,storage_start,1\n",
         " line 2, column 12: term \"storage_start\" of water is none of fixed_head_inflow, "
         "fixed_head_outflow, sources, sinks, discrepancy"},
        {"a term given twice", HEADER + "0,10,NH4,storage_start,1\n0,10,NH4,storage_start,1\n",
         " line 3, column 10: NH4 storage_start appears twice in the interval 0..10"},
        {"an interval that skips time",
         HEADER + "0,10,NH4,storage_start,1\n0,10,NH4,storage_end,1\n20,30,NH4,storage_start,1\n",
         " line 4, column 1: the interval 20..30 neither is nor follows the interval 0..10 of "
         "line 2"},
        {"water after the first interval",
         HEADER + "0,10,NH4,storage_start,1\n0,10,NH4,storage_end,1\n10,20,water,sinks,0\n",
         " line 4, column 7: water rows belong to the first interval only"},
        {"a first interval without its end storage",
         HEADER + "0,10,NH4,storage_start,1\n0,10,NH4,sinks,0\n",
         " lines 2-3 (the interval 0..10): NH4 has no storage_end row"},
        {"a term missing from a middle interval",
         HEADER + "0,1,A,storage_start,1\n0,1,A,storage_end,1\n0,1,A,sinks,0\n"
                  "1,2,A,storage_start,1\n1,2,A,storage_end,1\n"
                  "2,3,A,storage_start,1\n2,3,A,storage_end,1\n2,3,A,sinks,0\n",
         " lines 5-6 (the interval 1..2): A has no sinks row (the first interval has one)"},
        {"a term the first interval has not",
         HEADER + "0,1,A,storage_start,1\n0,1,A,storage_end,1\n"
                  "1,2,A,storage_start,1\n1,2,A,storage_end,1\n1,2,A,porosity,0\n"
                  "2,3,A,storage_start,1\n2,3,A,storage_end,1\n",
         " lines 4-6 (the interval 1..2): A has a porosity row, the first interval none"},
        {"an entry missing from a middle interval",
         HEADER + "0,1,A,storage_start,1\n0,1,A,storage_end,1\n"
                  "0,1,B,storage_start,1\n0,1,B,storage_end,1\n"
                  "1,2,A,storage_start,1\n1,2,A,storage_end,1\n"
                  "2,3,A,storage_start,1\n2,3,A,storage_end,1\n",
         " lines 6-7 (the interval 1..2): B has no rows (the first interval has)"},
    };
    TempDir dir;
    const std::string path = dir.File("m.budget.csv");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        WriteTextFile(path, c.text);
        EXPECT_EQ(Failure(path), path + c.error);
    }
    EXPECT_EQ(Failure(dir.File("none.budget.csv")),
              dir.File("none.budget.csv") + ": cannot open the budget file");
    EXPECT_EQ(Failure(dir.Path()), dir.Path() + ": not a regular file, so not a budget file");
}

TEST(BudgetTable, StorageAndSummedChangesOverTime) {
    TempDir dir;
    const std::string path = dir.File("m.budget.csv");
    WriteTextFile(path, TWO_INTERVALS);
    const CBudgetTable table = ReadBudgetTable(path);
    EXPECT_EQ(table.m_notice, "");
    const std::vector<CBudgetSeries> all = BuildBudgetSeries(table);
    ASSERT_EQ(all.size(), 1u) << "water is no entry of the mass budget";
    const CBudgetSeries& s = all[0];
    EXPECT_EQ(s.m_entry, "NH4");
    EXPECT_EQ(s.m_times, std::vector<double>({0, 10, 25}));
    // The start of the first interval, then the end of each; the later start
    // (90) is the end before it and adds no point.
    EXPECT_EQ(s.m_storage, std::vector<double>({100, 90, 83}));
    EXPECT_EQ(s.m_terms,
              std::vector<std::string>({"sinks", "reaction 0 CKinOrdered", "discrepancy"}));
    EXPECT_EQ(s.m_cumulative,
              std::vector<std::vector<double>>({{0, -4, -6.5}, {0, -6, -10}, {0, 0, -0.5}}));
    const std::vector<std::pair<std::string, double>> water = {{"fixed_head_inflow", 12.5},
                                                               {"fixed_head_outflow", -12.5}};
    EXPECT_EQ(WaterRates(table), water);
}

TEST(BudgetTable, EntriesInterleavedInAnIntervalKeepTheirOwnSums) {
    TempDir dir;
    const std::string path = dir.File("m.budget.csv");
    WriteTextFile(path, HEADER + "0,1,A,storage_start,5\n0,1,B,storage_start,7\n"
                                 "0,1,B,storage_end,6\n0,1,A,storage_end,4\n"
                                 "0,1,A,sinks,-1\n0,1,B,sinks,-1\n"
                                 "1,2,B,storage_start,6\n1,2,B,storage_end,3\n1,2,B,sinks,-3\n"
                                 "1,2,A,sinks,nan\n1,2,A,storage_start,4\n1,2,A,storage_end,4\n");
    const std::vector<CBudgetSeries> all = BuildBudgetSeries(ReadBudgetTable(path));
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].m_entry, "A");
    EXPECT_EQ(all[0].m_storage, std::vector<double>({5, 4, 4}));
    ASSERT_EQ(all[0].m_cumulative.size(), 1u);
    EXPECT_EQ(all[0].m_cumulative[0][1], -1);
    EXPECT_TRUE(std::isnan(all[0].m_cumulative[0][2])) << "a NaN change is drawn as no value";
    EXPECT_EQ(all[1].m_entry, "B");
    EXPECT_EQ(all[1].m_storage, std::vector<double>({7, 6, 3}));
    EXPECT_EQ(all[1].m_cumulative, std::vector<std::vector<double>>({{0, -1, -4}}));
}

// A run still writing its budget: the last interval is left out, named.
TEST(BudgetTable, ALastIntervalThatIsNotWholeIsLeftOutWithANotice) {
    const std::string cut = " (no line feed: it is being written or was cut), which is left out";
    const std::string whole = HEADER + "0,1,A,storage_start,5\n0,1,A,storage_end,4\n"
                                       "0,1,A,sinks,-1\n";
    const struct {
        const char* what;
        std::string tail;
        std::string notice; // after the path
    } cases[] = {
        {"a line cut short", "1,2,A,stor", " ends inside line 5" + cut},
        {"a cut line after a whole row", "1,2,A,storage_start,4\n1,2,A,storage_end,",
         " ends inside line 6" + cut +
             "; PATH lines 5-5 (the interval 1..2) is not whole (A has no storage_end row) and "
             "is left out"},
        {"a term still missing", "1,2,A,storage_start,4\n1,2,A,storage_end,4\n",
         " lines 5-6 (the interval 1..2) is not whole (A has no sinks row (the first interval "
         "has one)) and is left out"},
        // "-1.5e-15" cut short: it reads, as a number 1e15 times too large.
        {"a last line without its line feed that reads",
         "1,2,A,storage_start,4\n"
         "1,2,A,storage_end,4\n1,2,A,sinks,-1.5",
         " ends inside line 7" + cut +
             "; PATH lines 5-6 (the interval 1..2) is not whole (A has no sinks row (the first "
             "interval has one)) and is left out"},
        {"a whole last interval", "1,2,A,storage_start,4\n1,2,A,storage_end,4\n1,2,A,sinks,0\n",
         ""},
    };
    TempDir dir;
    const std::string path = dir.File("m.budget.csv");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        WriteTextFile(path, whole + c.tail);
        const CBudgetTable table = ReadBudgetTable(path);
        std::string notice = c.notice.empty() ? "" : path + c.notice;
        const size_t at = notice.find("PATH");
        if (at != std::string::npos)
            notice.replace(at, 4, path);
        EXPECT_EQ(table.m_notice, notice);
        const std::vector<CBudgetSeries> all = BuildBudgetSeries(table);
        ASSERT_EQ(all.size(), 1u);
        EXPECT_EQ(all[0].m_times.size(), c.notice.empty() ? 3u : 2u);
    }
}

} // namespace
