// The observation wells a run writes every step: what kova-plot refuses
// (naming file, line and column), the columns of one well, and a last row
// still being written.
#include "post/csv_table.h"
#include "post/observation_table.h"
#include "post/result_exception.h"
#include "support/test_support.h"

#include <cmath>
#include <gtest/gtest.h>

using namespace kova_test;

namespace {

const std::string WELLS = "time,MW1:NH4,MW1:O2,MW-2:NH4\n"
                          "0,1,2,3\n"
                          "0.5,1.5,2,3.25\n"
                          "1.25,2,nan,4\n";

std::string Failure(const std::string& path) {
    try {
        ReadObservationTable(path);
    } catch (const ResultException& e) {
        return e.Detail();
    }
    return "(read)";
}

TEST(ObservationTable, FilesThatDoNotFitAreRefusedNamingLineAndColumn) {
    const struct {
        const char* what;
        std::string text;
        std::string error; // after the path
    } cases[] = {
        {"an empty file", "", ": empty, expected the header time,WELL:ENTRY,..."},
        {"no time column", "t,MW1:NH4\n",
         " line 1, column 1: the first column is \"t\", "
         "expected time"},
        {"no well column", "time\n0\n", " line 1: no WELL:ENTRY columns after time"},
        {"a column without its entry", "time,MW1:NH4,MW1\n",
         " line 1, column 14: column \"MW1\" is not WELL:ENTRY (an entry has letters, digits, "
         "_ and -)"},
        {"a column without its well", "time,:NH4\n",
         " line 1, column 6: column \":NH4\" is not WELL:ENTRY (an entry has letters, digits, "
         "_ and -)"},
        {"a column twice", "time,MW1:NH4,MW1:NH4\n",
         " line 1, column 14: column MW1:NH4 appears twice"},
        {"only the header", "time,MW1:NH4\n", ": no rows (only the header)"},
        {"a value missing", "time,MW1:NH4,MW1:O2\n0,1,2\n1,1\n",
         " line 3: 2 fields, expected 3 (time and one value per WELL:ENTRY column)"},
        {"a value too many", "time,MW1:NH4\n0,1,2\n",
         " line 2: 3 fields, expected 2 (time and one value per WELL:ENTRY column)"},
        {"a value that is not a number", "time,MW1:NH4,MW1:O2\n0,1,2\n1,1,two\n",
         " line 3, column 5: MW1:O2 \"two\" is not a number"},
        {"an empty value", "time,MW1:NH4\n0,\n", " line 2, column 3: MW1:NH4 \"\" is not a number"},
        {"a time not a finite number", "time,MW1:NH4\nnan,1\n",
         " line 2, column 1: time nan is not a finite time"},
        {"a time that goes back", "time,MW1:NH4\n0,1\n2,1\n1.5,1\n",
         " line 4, column 1: time 1.5 is not after the time of the row before (2)"},
        {"a time repeated", "time,MW1:NH4\n0,1\n0,1\n",
         " line 3, column 1: time 0 is not after the time of the row before (0)"},
        {"a cut line that is not the last", "time,MW1:NH4\n0,1\n1,\n2,1\n",
         " line 3, column 3: MW1:NH4 \"\" is not a number"},
        {"a header without its line feed", "time,MW1:NH4",
         " line 1: the header ends without its line feed (the run is still writing it, or it "
         "was cut short)"},
    };
    TempDir dir;
    const std::string path = dir.File("m.obs.csv");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        WriteTextFile(path, c.text);
        EXPECT_EQ(Failure(path), path + c.error);
    }
    EXPECT_EQ(Failure(dir.File("none.obs.csv")),
              dir.File("none.obs.csv") + ": cannot open the observation file");
}

TEST(ObservationTable, AWellsColumnsInFileOrder) {
    TempDir dir;
    const std::string path = dir.File("m.obs.csv");
    WriteTextFile(path, WELLS);
    const CObservationTable table = ReadObservationTable(path);
    EXPECT_EQ(table.m_times, std::vector<double>({0, 0.5, 1.25}));
    EXPECT_EQ(WellNames(table), std::vector<std::string>({"MW1", "MW-2"}));
    EXPECT_EQ(WellColumns(table, "MW1"), std::vector<size_t>({0, 1}));
    EXPECT_EQ(WellColumns(table, "MW-2"), std::vector<size_t>({2}));
    EXPECT_EQ(table.m_entries[1], "O2");
    EXPECT_EQ(table.m_values[2], std::vector<double>({3, 3.25, 4}));
    EXPECT_TRUE(std::isnan(table.m_values[1][2]));

    const struct {
        std::string well;
        std::string error;
    } unknown[] = {
        {"MW", "--well MW names no well; " + path + " has the wells MW1, MW-2"},
        {"NH4", "--well NH4 names no well; " + path + " has the wells MW1, MW-2"},
        {"", "no --well given; " + path + " has the wells MW1, MW-2"},
    };
    for (const auto& c : unknown) {
        try {
            WellColumns(table, c.well);
            ADD_FAILURE() << c.well << " was found";
        } catch (const ResultException& e) {
            EXPECT_EQ(e.Detail(), c.error);
        }
    }
}

// A last row without its line feed is never read, even when it looks whole:
// a number cut short (a full disk: "0.006374" of "0.0063741...") reads as a
// number too.
TEST(ObservationTable, ALastRowBeingWrittenIsLeftOutWithANotice) {
    TempDir dir;
    const std::string path = dir.File("m.obs.csv");
    for (const char* cut : {"2,", "2,5", "2", "2,1,0.006374", "2,1,2\r"}) {
        SCOPED_TRACE(cut);
        WriteTextFile(path, std::string("time,MW1:NH4,MW1:O2\n0,1,2\n1,1,2\n") + cut);
        const CObservationTable table = ReadObservationTable(path);
        EXPECT_EQ(table.m_times, std::vector<double>({0, 1}));
        EXPECT_EQ(table.m_notice, path + " ends inside line 4 (no line feed: it is being "
                                         "written or was cut), which is left out");
    }
    // CR LF ends a line too.
    WriteTextFile(path, "time,MW1:NH4\r\n0,1\r\n1,2\r\n");
    const CObservationTable table = ReadObservationTable(path);
    EXPECT_EQ(table.m_times, std::vector<double>({0, 1}));
    EXPECT_EQ(table.m_notice, "");
}

TEST(CsvNumber, TakesWhatPrintfWritesAndNothingElse) {
    const struct {
        const char* text;
        bool number;
        double value;
    } cases[] = {
        {"0", true, 0.0},
        {"-12.5", true, -12.5},
        {"1.2e-15", true, 1.2e-15},
        {"1E+300", true, 1e300},
        {".5", true, 0.5},
        {"5.", true, 5.0},
        {"0.10000000000000001", true, 0.1},
        {"", false, 0},
        {"-", false, 0},
        {"e5", false, 0},
        {"1e", false, 0},
        {"1e+", false, 0},
        {"1.2.3", false, 0},
        {" 1", false, 0},
        {"1 ", false, 0},
        {"0x10", false, 0},
        {"infinity", false, 0},
        {"NaN", false, 0},
        {"1,5", false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        double value = -1.0;
        ASSERT_EQ(ParseCsvNumber(c.text, value), c.number);
        if (c.number) {
            EXPECT_EQ(value, c.value);
        }
    }
    double value = 0.0;
    for (const char* text : {"nan", "-nan"}) {
        ASSERT_TRUE(ParseCsvNumber(text, value)) << text;
        EXPECT_TRUE(std::isnan(value)) << text;
    }
    ASSERT_TRUE(ParseCsvNumber("-inf", value));
    EXPECT_EQ(value, -HUGE_VAL);
}

} // namespace
