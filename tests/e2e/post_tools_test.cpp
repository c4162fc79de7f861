// kova-export and kova-plot run as a user runs them, on result files written
// in the documented layout with values that need all 17 digits.
#include "support/result_fixture.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <sstream>

using namespace kova_test;

namespace {

std::string Output(const ProcessResult& r) {
    return "exit " + std::to_string(r.exitCode) + "\nstdout:\n" + r.out + "stderr:\n" + r.err;
}

std::vector<std::string> Cells(const std::string& line) {
    std::vector<std::string> cells;
    std::stringstream row(line);
    for (std::string cell; std::getline(row, cell, ',');)
        cells.push_back(cell);
    return cells;
}

// Reads the VTK files back with VTK's own reader (Debian's python3-vtk9) and
// compares names, sizes, coordinates, times and values with the result files.
TEST(PostTools, VtkExportReadsBackWithVtk) {
    TempDir dir;
    const std::string base = dir.File("m");
    const CResultFixture fx;
    fx.Write(base);
    const std::string script = std::string(KOVA_E2E_DIR) + "/vtk_readback.py";
    const std::vector<std::string> shape = {base, std::to_string(fx.rows), std::to_string(fx.cols),
                                            std::to_string(fx.Comp()), std::to_string(fx.mobile)};
    ProcessResult r = RunProgram(KOVA_EXPORT_BIN, {base, "--format", "vtk", "-o", dir.File("vtk")});
    ASSERT_EQ(r.exitCode, 0) << Output(r);
    EXPECT_EQ(r.err, "");
    std::vector<std::string> args = {script, dir.File("vtk/m.pvd")};
    args.insert(args.end(), shape.begin(), shape.end());
    r = RunProgram("/usr/bin/python3", args);
    EXPECT_EQ(r.out, "checked 5 files\n") << Output(r);

    // Chosen records, written by default beside the run.
    r = RunProgram(KOVA_EXPORT_BIN, {base + ".kvo", "--format", "vtk", "--records", "3,1"});
    ASSERT_EQ(r.exitCode, 0) << Output(r);
    EXPECT_FALSE(FileExists(dir.File("m_0000.vtr")));
    args = {script, dir.File("m.pvd")};
    args.insert(args.end(), shape.begin(), shape.end());
    args.push_back("3,1");
    r = RunProgram("/usr/bin/python3", args);
    EXPECT_EQ(r.exitCode, 0) << Output(r);
}

// Every double of every record reads back with its bits: -0, a subnormal,
// the largest double, NaN and an infinity among them.
TEST(PostTools, CsvRoundTripsToTheSameDoubles) {
    TempDir dir;
    const std::string base = dir.File("m");
    const CResultFixture fx;
    fx.Write(base);
    const ProcessResult r =
        RunProgram(KOVA_EXPORT_BIN, {base, "--format", "csv", "-o", dir.File("csv")});
    ASSERT_EQ(r.exitCode, 0) << Output(r);
    std::istringstream in(ReadTextFile(dir.File("csv/m.csv")));
    std::string line;
    std::getline(in, line);
    EXPECT_EQ(line, "record,time,i,j,x,y,head,source,porosity,k_row,k_col,flux_row,flux_col,"
                    "immobile_0,mobile_0,mobile_1");
    for (int rec = 0; rec < 5; ++rec) {
        for (int n = 0; n < fx.Nodes(); ++n) {
            ASSERT_TRUE(std::getline(in, line)) << "record " << rec << " node " << n;
            const std::vector<std::string> c = Cells(line);
            ASSERT_EQ(c.size(), 16u) << line;
            const int i = n / fx.cols, j = n % fx.cols;
            EXPECT_EQ(c[0] + " " + c[2] + " " + c[3],
                      std::to_string(rec) + " " + std::to_string(i) + " " + std::to_string(j));
            EXPECT_EQ(std::strtod(c[1].c_str(), nullptr), fx.times[rec]);
            EXPECT_EQ(std::strtod(c[4].c_str(), nullptr), fx.colCoord[j]) << "x: the column";
            EXPECT_EQ(std::strtod(c[5].c_str(), nullptr), fx.rowCoord[i]) << "y: the row";
            for (int k = 0; k < fx.Comp(); ++k) {
                const double expected = fx.Value(rec, n, k);
                const double got = std::strtod(c[6 + k].c_str(), nullptr);
                EXPECT_TRUE(std::isnan(expected) ? std::isnan(got) : Bits(got) == Bits(expected))
                    << "record " << rec << " node " << n << " entry " << k << ": " << line;
            }
        }
    }
    EXPECT_FALSE(std::getline(in, line)) << line;
}

// An unfinished run is exported and drawn as far as it goes, and says so.
TEST(PostTools, AnUnfinishedRunIsUsedAndSaysSo) {
    TempDir dir;
    const std::string base = dir.File("m");
    CResultFixture fx;
    fx.times = {0.0, 3.0, 5.0};
    fx.Write(base, false);
    const ProcessResult r = RunProgram(KOVA_EXPORT_BIN, {base, "--format", "csv"});
    ASSERT_EQ(r.exitCode, 0) << Output(r);
    for (const std::string& part : {"kova-export: " + base +
                                       ".kvt holds only the marker of an "
                                       "unfinished run",
                                   "3 records taken from the length of " + base + ".kvo"})
        EXPECT_NE(r.err.find(part), std::string::npos) << r.err;
    std::istringstream in(ReadTextFile(dir.File("m.csv")));
    std::vector<std::string> times;
    for (std::string line; std::getline(in, line);)
        times.push_back(Cells(line)[1]);
    ASSERT_EQ(times.size(), 1u + 3u * 12u);
    EXPECT_EQ(times[1] + " " + times[13] + " " + times[36], "0 3 5");
    const ProcessResult plot =
        RunProgram(KOVA_PLOT_BIN, {base, "--entry", "head", "-o", dir.File("h.png")});
    EXPECT_EQ(plot.exitCode, 0) << Output(plot);
    EXPECT_NE(plot.err.find("unfinished run"), std::string::npos) << plot.err;
}

// Both tools refuse what they cannot use, name it, and write nothing.
TEST(PostTools, WhatCannotBeUsedIsNamedAndNothingIsWritten) {
    TempDir dir;
    const std::string base = dir.File("m");
    const CResultFixture fx;
    fx.Write(base);
    const std::vector<unsigned char> data = fx.DataBytes();
    WriteBinaryFile(base + ".kvo", std::vector<unsigned char>(data.begin(), data.end() - 8));
    const std::string out = dir.File("out");
    const struct {
        const char* bin;
        std::vector<std::string> args;
        int exitCode;
        std::string err; // the start of stderr
    } rows[] = {
        {KOVA_EXPORT_BIN,
         {base, "--format", "vtk", "-o", out},
         1,
         "kova-export: " + base + ".kvo: 4792 bytes, but"},
        {KOVA_EXPORT_BIN,
         {base, "--format", "csv", "-o", out},
         1,
         "kova-export: " + base + ".kvo: 4792 bytes, but"},
        {KOVA_PLOT_BIN, {base, "--entry", "head", "-o", out}, 1, "kova-plot: " + base + ".kvo:"},
        {KOVA_PLOT_BIN,
         {dir.File("none"), "--entry", "head", "-o", out},
         1,
         "kova-plot: " + dir.File("none") + ".kvi: cannot open the model file\n"},
        {KOVA_EXPORT_BIN, {"m", "--format", "pdf"}, 2, "kova-export: --format pdf is neither"},
        {KOVA_PLOT_BIN, {"m", "--entry", "head"}, 2, "kova-plot: no -o FILE.png given"},
    };
    for (const auto& row : rows) {
        const ProcessResult r = RunProgram(row.bin, row.args);
        EXPECT_EQ(r.exitCode, row.exitCode) << Output(r);
        EXPECT_EQ(r.err.rfind(row.err, 0), 0u) << Output(r);
        EXPECT_EQ(r.out, "");
        EXPECT_FALSE(FileExists(out));
    }
    WriteBinaryFile(base + ".kvt", {9, 9, 9});
    const ProcessResult r = RunProgram(KOVA_EXPORT_BIN, {base, "--format", "csv", "-o", out});
    EXPECT_EQ(r.err.rfind("kova-export: " + base + ".kvt: 3 bytes", 0), 0u) << Output(r);
    EXPECT_EQ(RunProgram(KOVA_PLOT_BIN, {"--help"}).exitCode, 0);
}

// A PNG of 900 x 700: the signature, then the IHDR chunk's big-endian size.
void ExpectPng(const std::string& path) {
    const std::vector<unsigned char> png = ReadBinaryFile(path);
    ASSERT_GT(png.size(), 1000u) << path;
    const std::vector<unsigned char> head(png.begin(), png.begin() + 24);
    const std::vector<unsigned char> expected = {0x89, 'P', 'N', 'G',  '\r', '\n', 0x1A, '\n',
                                                 0,    0,   0,   13,   'I',  'H',  'D',  'R',
                                                 0,    0,   3,   0x84, 0,    0,    2,    0xBC};
    EXPECT_EQ(head, expected) << path;
}

TEST(PostTools, PlotDrawsAFieldAndABreakthroughCurve) {
    TempDir dir;
    const std::string base = dir.File("m");
    CResultFixture().Write(base);
    const ProcessResult field = RunProgram(
        KOVA_PLOT_BIN, {base, "--entry", "mobile_0", "--time", "4.9", "-o", dir.File("f.png")});
    ASSERT_EQ(field.exitCode, 0) << Output(field);
    EXPECT_EQ(field.out, dir.File("f.png") + "\n");
    EXPECT_NE(field.err.find("drawing record 2 at t = 5"), std::string::npos) << field.err;
    ExpectPng(dir.File("f.png"));
    const ProcessResult curve =
        RunProgram(KOVA_PLOT_BIN, {base, "--node", "2,3", "--entry", "mobile_0", "--entry", "7",
                                   "-o", dir.File("b.png")});
    ASSERT_EQ(curve.exitCode, 0) << Output(curve);
    ExpectPng(dir.File("b.png"));
    const ProcessResult unknown =
        RunProgram(KOVA_PLOT_BIN, {base, "--entry", "mobile_5", "-o", dir.File("u.png")});
    EXPECT_EQ(unknown.exitCode, 1);
    EXPECT_NE(unknown.err.find("--entry mobile_5 names no entry"), std::string::npos);
    EXPECT_FALSE(FileExists(dir.File("u.png")));
}

} // namespace
