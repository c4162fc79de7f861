// kova-export and kova-plot run as a user runs them, on result files written
// in the documented layout with values that need all 17 digits.
#include "model/index.h"
#include "support/result_fixture.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <functional>
#include <sstream>
#include <sys/stat.h>

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
    CResultFixture().Write(base);
    auto readBack = [&](const std::string& pvd, const std::string& records) {
        std::vector<std::string> args = {std::string(KOVA_E2E_DIR) + "/vtk_readback.py",
                                         pvd,
                                         base,
                                         "3",
                                         "4",
                                         "10",
                                         "2"}; // rows, columns, entries, mobile
        if (!records.empty())
            args.push_back(records);
        return RunProgram("/usr/bin/python3", args);
    };
    ProcessResult r = RunProgram(KOVA_EXPORT_BIN, {base, "--format", "vtk", "-o", dir.File("vtk")});
    ASSERT_EQ(r.exitCode, 0) << Output(r);
    EXPECT_EQ(r.err, "");
    r = readBack(dir.File("vtk/m.pvd"), "");
    EXPECT_EQ(r.out, "checked 5 files\n") << Output(r);
    // A model without unit labels heads each file with its record and time alone.
    EXPECT_EQ(ReadTextFile(dir.File("vtk/m_0003.vtr")).substr(0, 60),
              "<?xml version=\"1.0\"?>\n<!-- KOVA Compute record 3 time 8 -->\n");

    // Chosen records, written by default beside the run.
    r = RunProgram(KOVA_EXPORT_BIN, {base + ".kvo", "--format", "vtk", "--records", "3,1"});
    ASSERT_EQ(r.exitCode, 0) << Output(r);
    EXPECT_FALSE(FileExists(dir.File("m_0000.vtr")));
    r = readBack(dir.File("m.pvd"), "3,1");
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
            EXPECT_EQ(std::strtod(c[1].c_str(), nullptr), fx.times[ToSize(rec)]);
            EXPECT_EQ(std::strtod(c[4].c_str(), nullptr), fx.colCoord[ToSize(j)])
                << "x: the column";
            EXPECT_EQ(std::strtod(c[5].c_str(), nullptr), fx.rowCoord[ToSize(i)]) << "y: the row";
            for (int k = 0; k < fx.Comp(); ++k) {
                const double expected = fx.Value(rec, n, k);
                const double got = std::strtod(c[ToSize(6 + k)].c_str(), nullptr);
                EXPECT_TRUE(std::isnan(expected) ? std::isnan(got) : Bits(got) == Bits(expected))
                    << "record " << rec << " node " << n << " entry " << k << ": " << line;
            }
        }
    }
    EXPECT_FALSE(std::getline(in, line)) << line;
}

// An unfinished run is exported and drawn as far as it goes, and says so:
// the record count from the data file, the times replayed from the global
// step (or, with a computed step, estimated from the output interval).
TEST(PostTools, AnUnfinishedRunIsUsedAndSaysSo) {
    for (const double step : {1.0, 0.0}) {
        TempDir dir;
        const std::string base = dir.File("m");
        CResultFixture fx;
        fx.globalStep = step;
        fx.times = {0.0, step > 0 ? 3.0 : 2.5, 5.0};
        fx.Write(base, false);
        const ProcessResult r = RunProgram(KOVA_EXPORT_BIN, {base, "--format", "csv"});
        ASSERT_EQ(r.exitCode, 0) << Output(r);
        for (const std::string& part :
             {"kova-export: " + base + ".kvt holds only the marker of an unfinished run",
              "3 records taken from the length of " + base + ".kvo",
              std::string(step > 0 ? "replayed" : "estimated")})
            EXPECT_NE(r.err.find(part), std::string::npos) << part << " in " << r.err;
        std::istringstream in(ReadTextFile(dir.File("m.csv")));
        std::vector<double> times;
        for (std::string line; std::getline(in, line);)
            if (line[0] != 'r' && Cells(line)[2] == "0" && Cells(line)[3] == "0")
                times.push_back(std::strtod(Cells(line)[1].c_str(), nullptr));
        EXPECT_EQ(times, fx.times);
    }
    TempDir dir;
    CResultFixture().Write(dir.File("m"), false);
    const ProcessResult plot =
        RunProgram(KOVA_PLOT_BIN, {dir.File("m"), "--entry", "head", "-o", dir.File("h.png")});
    EXPECT_EQ(plot.exitCode, 0) << Output(plot);
    EXPECT_NE(plot.err.find("unfinished run"), std::string::npos) << plot.err;
}

// Both tools refuse what they cannot use, name the file and the problem on
// the first line, and write nothing.
TEST(PostTools, WhatCannotBeUsedIsNamedAndNothingIsWritten) {
    TempDir dir;
    const std::string base = dir.File("m"), out = dir.File("out");
    const std::string kvt = base + ".kvt", kvo = base + ".kvo", kvi = base + ".kvi";
    const CResultFixture fx;
    const std::vector<unsigned char> times = fx.TimeBytes(), data = fx.DataBytes();
    auto set = [](std::vector<unsigned char> v, size_t at, unsigned char b) {
        v[at] = b;
        return v;
    };
    CResultFixture moreEntries = fx;
    moreEntries.immobile = 2;
    const std::vector<std::string> csv = {base, "--format", "csv", "-o", out};
    const struct {
        std::function<void()> spoil;
        std::vector<std::string> args; // of kova-export, or of kova-plot after "plot"
        std::string err;               // the start of stderr
        std::string part;              // and a part of it
        int exitCode = 1;
    } rows[] = {
        // clang-format off
        {[&] { WriteBinaryFile(kvt, {times.begin(), times.begin() + 2}); }, csv, kvt,
         "2 bytes, too short"},
        {[&] { WriteBinaryFile(kvt, {times.begin(), times.begin() + 20}); }, csv, kvt,
         "20 bytes, too short"},
        {[&] { WriteBinaryFile(kvt, {times.begin(), times.end() - 8}); }, csv, kvt,
         "68 bytes, but its record count 5 needs 36 + 8 x 5 = 76"},
        {[&] { WriteBinaryFile(kvt, {1, 0, 0, 0}); }, csv, kvt, "not the unfinished-run marker 0"},
        {[&] { WriteBinaryFile(kvt, set(times, 3, 0xFF)); }, csv, kvt, "is negative"},
        {[&] { WriteBinaryFile(kvt, set(times, 8, 5)); }, csv, kvt,
         "grid 3 x 5 does not match the 3 x 4 grid"},
        {[&] { std::remove(kvt.c_str()); }, csv, kvt, "cannot open the time file"},
        {[&] { std::remove(kvt.c_str()), mkdir(kvt.c_str(), 0700); }, csv, kvt,
         "not a regular file"},
        {[&] { WriteBinaryFile(kvo, {data.begin(), data.end() - 960}); }, csv, kvo,
         "3840 bytes, but " + kvt + " lists 5 records of 960 bytes"},
        {[&] { WriteBinaryFile(kvo, {data.begin(), data.end() - 8}); }, {"plot", base, "--entry",
         "head",
         "-o", out}, kvo, "4792 bytes, but"},
        {[&] { auto more = data; more.push_back(0); WriteBinaryFile(kvo, more); }, csv, kvo,
         "4801 bytes"},
        {[&] { WriteTextFile(kvi, moreEntries.ModelText()); }, csv, kvo,
         "(12 nodes x 11 entries x 8)"},
        {[&] { std::remove(kvo.c_str()); }, csv, kvo, "cannot open the data file"},
        // The model file's failures read as a run's: the detail, then the file.
        {[&] { WriteTextFile(kvi, "3 4 1 2 0 1\n0 10 x"); }, csv,
         "Bad File: missing or malformed number", "(file " + kvi + ")"},
        {[&] { std::remove(kvi.c_str()); }, {"plot", base, "--entry", "head", "-o", out},
         "Bad File: the model file cannot be read: No such file or directory", "(file " + kvi + ")"},
        {[] {}, {base, "--format", "csv", "--records", "5", "-o", out}, "--records: ",
         "record 5 outside 0..4"},
        {[] {}, {base, "--format", "csv", "--records", "3-1", "-o", out}, "--records: ",
         "range \"3-1\" runs backwards"},
        {[] {}, {base, "--format", "csv", "--records", "x", "-o", out}, "--records: ",
         "\"x\" is not a record index"},
        {[] {}, {"plot", base, "--entry", "mobile_5", "-o", out},
         "--entry mobile_5 names no entry", ""},
        {[] {}, {"m", "--format", "pdf"}, "--format pdf is none of vtk, csv, netcdf",
         "usage: kova-export", 2},
        {[] {}, {"m", "n", "--format", "vtk"}, "more than one BASE given (m, n)", "", 2},
        {[] {}, {"plot", "m", "--entry", "head"}, "no -o FILE.png given", "usage: kova-plot", 2},
        {[] {}, {"plot", "m", "-o", "f.png"},
         "give --entry NAME for a field or --node I,J for a breakthrough curve", "", 2},
        {[] {}, {"plot", "m", "--entry", "head", "--record", "1", "--time", "2", "-o", "f.png"},
         "give --record or --time, not both", "", 2},
        // clang-format on
    };
    for (const auto& row : rows) {
        std::filesystem::remove_all(kvt);
        fx.Write(base);
        row.spoil();
        const bool plot = row.args[0] == "plot";
        const std::vector<std::string> args(row.args.begin() + plot, row.args.end());
        const ProcessResult r = RunProgram(plot ? KOVA_PLOT_BIN : KOVA_EXPORT_BIN, args);
        EXPECT_EQ(r.exitCode, row.exitCode) << Output(r);
        const std::string tool = plot ? "kova-plot: " : "kova-export: ";
        EXPECT_EQ(r.err.rfind(tool + row.err, 0), 0u) << Output(r);
        EXPECT_NE(r.err.find(row.part), std::string::npos) << Output(r);
        EXPECT_EQ(r.out, "");
        EXPECT_FALSE(FileExists(out));
    }
    EXPECT_EQ(RunProgram(KOVA_PLOT_BIN, {"--help"}).exitCode, 0);
}

// A PNG of 900 x 700: the signature, then the IHDR chunk's big-endian size.
void ExpectPng(const std::string& path) {
    const std::string png = ReadTextFile(path);
    EXPECT_GT(png.size(), 1000u) << path;
    EXPECT_EQ(png.substr(0, 24),
              std::string("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR\0\0\x03\x84\0\0\x02\xbc", 24))
        << path;
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
}

} // namespace
