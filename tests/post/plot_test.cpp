#include "post/export_command.h"
#include "post/plot_command.h"
#include "post/plot_scripts.h"

#include <gtest/gtest.h>
#include <limits>

namespace {

TEST(PlotScripts, CellsReachHalfWayToEachNeighbour) {
    std::vector<double> lower, upper;
    CellEdges({0.0, 1.0, 3.0, 7.0}, 9.0, lower, upper);
    EXPECT_EQ(lower, std::vector<double>({-0.5, 0.5, 2.0, 5.0}));
    EXPECT_EQ(upper, std::vector<double>({0.5, 2.0, 5.0, 9.0}));
    CellEdges({4.0}, 3.0, lower, upper);
    EXPECT_EQ(lower, std::vector<double>({2.5}));
    EXPECT_EQ(upper, std::vector<double>({5.5}));
}

TEST(PlotScripts, GnuplotStringsDoubleTheirQuotes) {
    EXPECT_EQ(GnuplotQuote("it's a \"test\""), "'it''s a \"test\"'");
}

CModelGrid OneRow() {
    CModelGrid grid;
    grid.m_nRows = 1;
    grid.m_nCols = 3;
    grid.m_nComp = 8;
    grid.m_nMobile = 1;
    grid.m_nNodes = 3;
    grid.m_rowCoord = {2.0};
    grid.m_colCoord = {0.0, 1.0, 2.0};
    return grid;
}

TEST(PlotScripts, FieldCellsOverlapTheirNextNeighboursAndMissingValuesComeLast) {
    const CModelGrid grid = OneRow();
    std::vector<double> values(24, 1.0);
    values[7] = 0.25;
    values[15] = std::numeric_limits<double>::quiet_NaN();
    values[23] = 0.75;
    const CPlotJob job = BuildFieldPlot(grid, "t", "mobile_0", 7, values, "out.png");
    // x y x-low x-high y-low y-high value x-draw y-draw; the lone row is as
    // tall as a column is wide. Then, after two blank lines, the node without
    // a value.
    EXPECT_EQ(job.m_data, "0 2 -0.5 0.5 1.5 2.5 0.25 1 2.5\n"
                          "2 2 1.5 2.5 1.5 2.5 0.75 2.5 2.5\n"
                          "\n\n"
                          "1 2 0.5 1.5 1.5 2.5\n");
    EXPECT_NE(job.m_script.find("set cbrange [0.25:0.75]"), std::string::npos) << job.m_script;
    EXPECT_NE(job.m_script.find("set output 'out.png'"), std::string::npos);
    const size_t cells = job.m_script.find("plot KOVA_DATA index 0 using 1:2:3:8:5:9:7");
    const size_t grey = job.m_script.find("KOVA_DATA index 1 using 1:2:3:4:5:6");
    ASSERT_NE(cells, std::string::npos) << job.m_script;
    ASSERT_NE(grey, std::string::npos) << job.m_script;
    EXPECT_LT(cells, grey);
    EXPECT_NE(job.m_script.find("set title 't; grey: no value'"), std::string::npos);

    values[15] = 0.5;
    const CPlotJob full = BuildFieldPlot(grid, "t", "mobile_0", 7, values, "out.png");
    EXPECT_EQ(full.m_script.find("index 1"), std::string::npos) << full.m_script;
}

TEST(PlotScripts, AFlatFieldStillGetsAColourRange) {
    const CModelGrid grid = OneRow();
    const CPlotJob flat =
        BuildFieldPlot(grid, "t", "head", 0, std::vector<double>(24, 4.0), "o.png");
    EXPECT_NE(flat.m_script.find("set cbrange [2:6]"), std::string::npos) << flat.m_script;
    const CPlotJob zero =
        BuildFieldPlot(grid, "t", "head", 0, std::vector<double>(24, 0.0), "o.png");
    EXPECT_NE(zero.m_script.find("set cbrange [-0.5:0.5]"), std::string::npos) << zero.m_script;
}

TEST(PlotScripts, BreakthroughHasOneColumnPerEntry) {
    const CPlotJob job = BuildBreakthroughPlot("t", {"mobile_0", "head"}, {0.0, 2.5},
                                               {{1.0, 0.5}, {10.0, 9.0}}, "b.png");
    EXPECT_EQ(job.m_data, "0 1 10\n2.5 0.5 9\n");
    EXPECT_NE(job.m_script.find("using 1:2 with linespoints"), std::string::npos);
    EXPECT_NE(job.m_script.find("using 1:3 with linespoints"), std::string::npos);
    EXPECT_NE(job.m_script.find("title 'head'"), std::string::npos);
    EXPECT_EQ(job.m_script.find("range"), std::string::npos) << job.m_script; // gnuplot's own

    // One record whose values are not finite: explicit ranges, or gnuplot has none.
    const CPlotJob empty = BuildBreakthroughPlot(
        "t", {"head"}, {4.0}, {{std::numeric_limits<double>::quiet_NaN()}}, "b.png");
    EXPECT_EQ(empty.m_data, "4 ?\n");
    EXPECT_NE(empty.m_script.find("set xrange [2:6]"), std::string::npos) << empty.m_script;
    EXPECT_NE(empty.m_script.find("set yrange [0:1]"), std::string::npos) << empty.m_script;
}

TEST(ToolOptions, ExportCommandLine) {
    CExportOptions o = ParseExportOptions({"run/m.kvi", "--format", "csv", "-o", "out"});
    EXPECT_EQ(o.error, "");
    EXPECT_EQ(o.base, "run/m");
    EXPECT_EQ(o.format, "csv");
    EXPECT_EQ(o.records, "all");
    EXPECT_EQ(o.outDir, "out");
    EXPECT_EQ(ParseExportOptions({"m"}).error, "no --format given");
    EXPECT_EQ(ParseExportOptions({"--format", "vtk"}).error, "no BASE given");
    EXPECT_EQ(ParseExportOptions({"m", "--format", "xml"}).error,
              "--format xml is neither vtk nor csv");
    EXPECT_EQ(ParseExportOptions({"m", "--format"}).error, "--format needs a value");
    EXPECT_EQ(ParseExportOptions({"m", "n", "--format", "vtk"}).error,
              "more than one BASE given (m, n)");
    EXPECT_EQ(ParseExportOptions({"m", "--frmat", "vtk"}).error, "unknown option --frmat");
    EXPECT_TRUE(ParseExportOptions({"--help"}).help);
}

TEST(ToolOptions, PlotCommandLine) {
    CPlotOptions o = ParsePlotOptions(
        {"m", "--node", "1,2", "--entry", "head", "--entry", "mobile_0", "-o", "b.png"});
    EXPECT_EQ(o.error, "");
    EXPECT_EQ(o.node, "1,2");
    EXPECT_EQ(o.entries, std::vector<std::string>({"head", "mobile_0"}));
    EXPECT_EQ(ParsePlotOptions({"m", "--entry", "head"}).error, "no -o FILE.png given");
    EXPECT_EQ(ParsePlotOptions({"m", "-o", "f.png"}).error,
              "give --entry NAME for a field or --node I,J for a breakthrough curve");
    EXPECT_EQ(
        ParsePlotOptions({"m", "--entry", "head", "--record", "1", "--time", "2", "-o", "f.png"})
            .error,
        "give --record or --time, not both");
}

} // namespace
