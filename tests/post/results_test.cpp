// The post-processing tools' own parts: reading a run's result files (and
// refusing those that do not fit), the record times of an unfinished run,
// record selections, command lines and the plot scripts.
#include "post/export_command.h"
#include "post/plot_command.h"
#include "post/plot_scripts.h"
#include "post/record_selection.h"
#include "post/record_times.h"
#include "post/result_exception.h"
#include "post/run_results.h"
#include "support/result_fixture.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <limits>

using namespace kova_test;

namespace {

// The failure of opening the run at base: "" when it opens.
std::string OpenFailure(const std::string& base) {
    try {
        CRunResults run(base);
    } catch (const ResultException& e) {
        return e.Detail();
    }
    return "";
}

TEST(ResultFiles, AFinishedRunGivesItsTimesAndEveryValueInPlace) {
    TempDir dir;
    const std::string base = dir.File("run");
    CResultFixture fx;
    fx.Write(base);
    CRunResults run(base);
    EXPECT_TRUE(run.m_files.IsFinished());
    EXPECT_EQ(run.UnfinishedNotice(), "");
    EXPECT_EQ(run.m_files.RecordTimes(), fx.times);
    EXPECT_EQ(run.m_grid.m_colCoord, fx.colCoord);
    std::vector<double> values;
    for (const int r : {4, 1, 0}) { // out of order: each read seeks afresh
        run.m_files.ReadRecord(r, values);
        ASSERT_EQ(values.size(), 120u);
        for (int n = 0; n < fx.Nodes(); ++n)
            for (int k = 0; k < fx.Comp(); ++k)
                ASSERT_EQ(Bits(values[n * 10 + k]), Bits(fx.Value(r, n, k))) << r << " " << n;
    }
    EXPECT_THROW(run.m_files.ReadRecord(5, values), ResultException);
    EXPECT_THROW(run.m_files.ReadRecord(-1, values), ResultException);
}

// A run that failed after its third record: the count comes from the data
// file, the times from a replay of the loop's cadence (or, with a computed
// step, the nominal output times).
TEST(ResultFiles, AnUnfinishedRunTakesItsCountFromTheDataFile) {
    for (const double step : {1.0, 0.0}) {
        TempDir dir;
        const std::string base = dir.File("run");
        CResultFixture fx;
        fx.globalStep = step;
        fx.times = step > 0 ? std::vector<double>{0, 3, 5} : std::vector<double>{0, 2.5, 5};
        fx.Write(base, false);
        CRunResults run(base);
        EXPECT_FALSE(run.m_files.IsFinished());
        EXPECT_EQ(run.m_files.TimesReplayed(), step > 0);
        EXPECT_EQ(run.m_files.RecordTimes(), fx.times);
        const std::string notice = run.UnfinishedNotice();
        EXPECT_NE(notice.find("run.kvt holds only the marker of an unfinished run"),
                  std::string::npos);
        EXPECT_NE(notice.find(step > 0 ? "3 records taken from the length of" : "estimated"),
                  std::string::npos)
            << notice;
    }
}

TEST(ResultFiles, FilesThatDoNotFitAreRefusedNamingTheFile) {
    TempDir dir;
    const std::string base = dir.File("run");
    const std::string kvt = base + ".kvt", kvo = base + ".kvo", kvi = base + ".kvi";
    const CResultFixture fx;
    const std::vector<unsigned char> times = fx.TimeBytes(), data = fx.DataBytes();
    auto bytes = [](std::vector<unsigned char> v, size_t at, unsigned char b) {
        v[at] = b;
        return v;
    };
    CResultFixture moreEntries = fx;
    moreEntries.immobile = 2;
    const struct {
        std::string file;
        std::function<void()> spoil;
        std::string part;
    } rows[] = {
        {kvt,
         [&] {
             WriteBinaryFile(kvt, {times.begin(), times.begin() + 2});
         },
         "2 bytes, too short"},
        {kvt,
         [&] {
             WriteBinaryFile(kvt, {times.begin(), times.begin() + 20});
         },
         "20 bytes, too short"},
        {kvt,
         [&] {
             WriteBinaryFile(kvt, {times.begin(), times.end() - 8});
         },
         "68 bytes, but its record count 5 needs 36 + 8 x 5 = 76"},
        {kvt,
         [&] {
             WriteBinaryFile(kvt, {1, 0, 0, 0});
         },
         "not the unfinished-run marker 0"},
        {kvt, [&] { WriteBinaryFile(kvt, bytes(times, 3, 0xFF)); }, "is negative"},
        {kvt, [&] { WriteBinaryFile(kvt, bytes(times, 8, 5)); },
         "grid 3 x 5 does not match the 3 x 4 grid"},
        {kvt, [&] { std::remove(kvt.c_str()); }, "cannot open the time file"},
        {kvt, [&] { std::remove(kvt.c_str()), std::filesystem::create_directory(kvt); },
         "not a regular file"},
        {kvo,
         [&] {
             WriteBinaryFile(kvo, {data.begin(), data.end() - 960});
         },
         "3840 bytes, but " + kvt + " lists 5 records of 960 bytes"},
        {kvo,
         [&] {
             WriteBinaryFile(kvo, {data.begin(), data.end() - 1});
         },
         "4799 bytes"},
        {kvo,
         [&] {
             auto longer = data;
             longer.push_back(0);
             WriteBinaryFile(kvo, longer);
         },
         "4801 bytes"},
        {kvo, [&] { WriteTextFile(kvi, moreEntries.ModelText()); }, "(12 nodes x 11 entries x 8)"},
        {kvo,
         [&] {
             WriteBinaryFile(kvt, {0, 0, 0, 0}),
                 WriteBinaryFile(kvo, {data.begin(), data.end() - 100});
         },
         "not a whole number of records of 960 bytes"},
        {kvo, [&] { std::remove(kvo.c_str()); }, "cannot open the data file"},
        {kvi, [&] { WriteTextFile(kvi, "3 4 1 2 0 1\n0 10 x"); }, "does not read: Bad File"},
        {kvi, [&] { std::remove(kvi.c_str()); }, "cannot open the model file"},
    };
    for (const auto& row : rows) {
        std::filesystem::remove_all(dir.File("run.kvt"));
        fx.Write(base);
        row.spoil();
        const std::string detail = OpenFailure(base);
        EXPECT_EQ(detail.rfind(row.file, 0), 0u) << detail;
        EXPECT_NE(detail.find(row.part), std::string::npos) << detail;
    }
}

CModelGrid Cadence(double start, double end, double interval, double step) {
    CModelGrid grid;
    grid.m_startTime = start;
    grid.m_endTime = end;
    grid.m_outputInterval = interval;
    grid.m_globalStep = step;
    return grid;
}

TEST(RecordTimes, AReplayFollowsTheLoopsCadence) {
    double sum = 0.0; // 0.1 added thirty times is not 3
    while (sum < 3.0)
        sum += 0.1;
    const struct {
        CModelGrid cadence;
        int count;
        bool replayed;
        std::vector<double> times;
    } rows[] = {
        {Cadence(0, 10, 2.5, 1), 5, true, {0, 3, 5, 8, 10}},
        {Cadence(0, 8, 1, 4), 3, true, {0, 4, 8}}, // an output time passed moves on
        {Cadence(0, 3, 3, 0.1), 2, true, {0, sum}},
        {Cadence(1, 100, 10, 0), 3, false, {1, 11, 21}}, // computed step: nominal times
        {Cadence(1, 100, 10, -1), 3, false, {1, 11, 21}},
        {Cadence(1, 100, 10, 1e-12), 3, false, {1, 11, 21}}, // far too many steps
        {Cadence(0, 1, 1, 1), 0, true, {}},
    };
    for (const auto& row : rows) {
        const CRecordTimes t = ReconstructRecordTimes(row.cadence, row.count);
        EXPECT_EQ(t.m_times, row.times) << row.cadence.m_globalStep;
        if (row.count) {
            EXPECT_EQ(t.m_replayed, row.replayed) << row.cadence.m_globalStep;
        }
    }
}

TEST(RecordSelection, ListsRangesAndLastOrTheProblem) {
    EXPECT_EQ(ParseRecordSelection("all", 3), std::vector<int>({0, 1, 2}));
    EXPECT_EQ(ParseRecordSelection("all", 0), std::vector<int>());
    EXPECT_EQ(ParseRecordSelection("4,0,2-3", 5), std::vector<int>({4, 0, 2, 3}));
    EXPECT_EQ(ParseRecordSelection("3-last", 5), std::vector<int>({3, 4}));
    EXPECT_EQ(ParseRecordSelection("1,1,0-2", 5), std::vector<int>({1, 0, 2})); // each once
    const std::pair<const char*, const char*> bad[] = {
        {"5", "record 5 outside 0..4"},          {"x", "\"x\" is not a record index"},
        {"1,", "\"\" is not a record index"},    {"-1", "\"\" is not a record"},
        {"3-1", "range \"3-1\" runs backwards"}, {"1-9", "record 9 outside 0..4"},
        {"99999999999", "is not a record index"}};
    for (const auto& [text, part] : bad) {
        try {
            ParseRecordSelection(text, 5, "--record");
            ADD_FAILURE() << "accepted \"" << text << "\"";
        } catch (const ResultException& e) {
            EXPECT_EQ(e.Detail().rfind("--record: ", 0), 0u) << e.Detail();
            EXPECT_NE(e.Detail().find(part), std::string::npos) << e.Detail();
        }
    }
    EXPECT_THROW(ParseRecordSelection("last", 0), ResultException);
}

TEST(ToolOptions, CommandLinesAndTheirProblems) {
    const CExportOptions o = ParseExportOptions({"run/m.kvi", "--format", "csv", "-o", "out"});
    EXPECT_EQ(o.base + " " + o.format + " " + o.records + " " + o.outDir + o.error,
              "run/m csv all out");
    const CPlotOptions p = ParsePlotOptions(
        {"m", "--node", "1,2", "--entry", "head", "--entry", "mobile_0", "-o", "b.png"});
    EXPECT_EQ(p.node, "1,2");
    EXPECT_EQ(p.entries, std::vector<std::string>({"head", "mobile_0"}));
    EXPECT_TRUE(ParseExportOptions({"--help"}).help);
    const std::pair<std::string, std::string> rows[] = {
        {ParseExportOptions({"m"}).error, "no --format given"},
        {ParseExportOptions({"--format", "vtk"}).error, "no BASE given"},
        {ParseExportOptions({"m", "--format", "xml"}).error, "--format xml is neither vtk nor csv"},
        {ParseExportOptions({"m", "--format"}).error, "--format needs a value"},
        {ParseExportOptions({"m", "n", "--format", "vtk"}).error,
         "more than one BASE given (m, n)"},
        {ParseExportOptions({"m", "--frmat", "vtk"}).error, "unknown option --frmat"},
        {ParsePlotOptions({"m", "--entry", "head"}).error, "no -o FILE.png given"},
        {ParsePlotOptions({"m", "-o", "f.png"}).error,
         "give --entry NAME for a field or --node I,J for a breakthrough curve"},
        {ParsePlotOptions({"m", "--entry", "head", "--record", "1", "--time", "2", "-o", "f.png"})
             .error,
         "give --record or --time, not both"},
    };
    for (const auto& [got, expected] : rows)
        EXPECT_EQ(got, expected);
}

// One row of three nodes: cells reach half way to each neighbour, the lone
// row is as tall as a column is wide; a node without a value comes last, grey.
TEST(PlotScripts, FieldAndBreakthroughDataAndScripts) {
    std::vector<double> lower, upper;
    CellEdges({0.0, 1.0, 3.0, 7.0}, 9.0, lower, upper);
    EXPECT_EQ(lower, std::vector<double>({-0.5, 0.5, 2.0, 5.0}));
    EXPECT_EQ(upper, std::vector<double>({0.5, 2.0, 5.0, 9.0}));
    EXPECT_EQ(GnuplotQuote("it's a \"test\""), "'it''s a \"test\"'");

    CModelGrid grid;
    grid.m_nRows = 1;
    grid.m_nCols = grid.m_nNodes = 3;
    grid.m_nComp = 8;
    grid.m_nMobile = 1;
    grid.m_rowCoord = {2.0};
    grid.m_colCoord = {0.0, 1.0, 2.0};
    std::vector<double> values(24, 1.0);
    values[7] = 0.25;
    values[15] = std::numeric_limits<double>::quiet_NaN();
    values[23] = 0.75;
    const CPlotJob job = BuildFieldPlot(grid, "t", "mobile_0", 7, values, "out.png");
    EXPECT_EQ(job.m_data, "0 2 -0.5 0.5 1.5 2.5 0.25 1 2.5\n2 2 1.5 2.5 1.5 2.5 0.75 2.5 2.5\n"
                          "\n\n1 2 0.5 1.5 1.5 2.5\n");
    for (const char* part :
         {"set cbrange [0.25:0.75]", "set output 'out.png'", "set title 't; grey: no value'",
          "KOVA_DATA index 1 using 1:2:3:4:5:6"})
        EXPECT_NE(job.m_script.find(part), std::string::npos) << part << " in " << job.m_script;
    // A flat field still gets a colour range.
    const CPlotJob flat =
        BuildFieldPlot(grid, "t", "head", 0, std::vector<double>(24, 4.0), "o.png");
    EXPECT_NE(flat.m_script.find("set cbrange [2:6]"), std::string::npos) << flat.m_script;

    const CPlotJob curve = BuildBreakthroughPlot("t", {"mobile_0", "head"}, {0.0, 2.5},
                                                 {{1.0, 0.5}, {10.0, 9.0}}, "b.png");
    EXPECT_EQ(curve.m_data, "0 1 10\n2.5 0.5 9\n");
    EXPECT_NE(curve.m_script.find("using 1:3 with linespoints"), std::string::npos);
    // One record without a finite value: explicit ranges, or gnuplot has none.
    const CPlotJob empty = BuildBreakthroughPlot("t", {"head"}, {4.0}, {{std::nan("")}}, "b.png");
    EXPECT_EQ(empty.m_data, "4 ?\n");
    EXPECT_NE(empty.m_script.find("set xrange [2:6]"), std::string::npos) << empty.m_script;
}

} // namespace
