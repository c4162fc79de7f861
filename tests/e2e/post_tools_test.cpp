// kova-export and kova-plot run as a user runs them, on result files written
// in the documented layout.
#include "support/result_fixture.h"
#include "support/test_support.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <gtest/gtest.h>
#include <sstream>

using namespace kova_test;

namespace {

ProcessResult RunExport(const std::vector<std::string>& args) {
    return RunProgram(KOVA_EXPORT_BIN, args);
}

ProcessResult RunPlot(const std::vector<std::string>& args) {
    return RunProgram(KOVA_PLOT_BIN, args);
}

// Reads the VTK files back with VTK's own reader (Debian's python3-vtk9) and
// compares names, sizes, coordinates, times and values with the result files.
ProcessResult CheckWithVtk(const std::string& pvd, const std::string& base,
                           const CResultFixture& fx, const std::string& records = "") {
    std::vector<std::string> args = {std::string(KOVA_E2E_DIR) + "/vtk_readback.py",
                                     pvd,
                                     base,
                                     std::to_string(fx.rows),
                                     std::to_string(fx.cols),
                                     std::to_string(fx.Comp()),
                                     std::to_string(fx.mobile)};
    if (!records.empty())
        args.push_back(records);
    return RunProgram("/usr/bin/python3", args);
}

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

uint32_t BigEndian32(const std::vector<unsigned char>& bytes, size_t at) {
    return static_cast<uint32_t>(bytes[at]) << 24 | static_cast<uint32_t>(bytes[at + 1]) << 16 |
           static_cast<uint32_t>(bytes[at + 2]) << 8 | bytes[at + 3];
}

// A PNG file of the given size: signature, then the IHDR chunk.
void ExpectPng(const std::string& path, uint32_t width, uint32_t height) {
    const std::vector<unsigned char> png = ReadBinaryFile(path);
    ASSERT_GT(png.size(), 1000u) << path;
    const unsigned char signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    EXPECT_TRUE(std::equal(signature, signature + 8, png.begin())) << path;
    EXPECT_EQ(std::string(png.begin() + 12, png.begin() + 16), "IHDR");
    EXPECT_EQ(BigEndian32(png, 16), width);
    EXPECT_EQ(BigEndian32(png, 20), height);
}

TEST(PostTools, VtkExportReadsBackWithVtk) {
    TempDir dir;
    const std::string base = dir.File("m");
    CResultFixture fx;
    fx.Write(base);

    const ProcessResult r = RunExport({base, "--format", "vtk", "-o", dir.File("vtk")});
    ASSERT_EQ(r.exitCode, 0) << Output(r);
    EXPECT_EQ(r.err, "");
    for (int rec = 0; rec < 5; ++rec)
        EXPECT_TRUE(FileExists(dir.File("vtk/m_000" + std::to_string(rec) + ".vtr")));
    const ProcessResult check = CheckWithVtk(dir.File("vtk/m.pvd"), base, fx);
    EXPECT_EQ(check.exitCode, 0) << Output(check);
    EXPECT_EQ(check.out, "checked 5 files\n") << Output(check);
}

TEST(PostTools, VtkExportOfChosenRecordsListsOnlyThose) {
    TempDir dir;
    const std::string base = dir.File("m");
    CResultFixture fx;
    fx.Write(base);

    // The default directory is the one holding the run.
    const ProcessResult r = RunExport({base + ".kvo", "--format", "vtk", "--records", "3,1"});
    ASSERT_EQ(r.exitCode, 0) << Output(r);
    EXPECT_TRUE(FileExists(dir.File("m_0001.vtr")));
    EXPECT_TRUE(FileExists(dir.File("m_0003.vtr")));
    EXPECT_FALSE(FileExists(dir.File("m_0000.vtr")));
    const ProcessResult check = CheckWithVtk(dir.File("m.pvd"), base, fx, "3,1");
    EXPECT_EQ(check.exitCode, 0) << Output(check);
}

TEST(PostTools, CsvRoundTripsToTheSameDoubles) {
    TempDir dir;
    const std::string base = dir.File("m");
    CResultFixture fx;
    fx.Write(base);

    const ProcessResult r = RunExport({base, "--format", "csv", "-o", dir.File("csv")});
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
            EXPECT_EQ(c[0], std::to_string(rec));
            EXPECT_EQ(std::strtod(c[1].c_str(), nullptr), fx.times[static_cast<size_t>(rec)]);
            EXPECT_EQ(c[2], std::to_string(i));
            EXPECT_EQ(c[3], std::to_string(j));
            EXPECT_EQ(std::strtod(c[4].c_str(), nullptr), fx.colCoord[static_cast<size_t>(j)]);
            EXPECT_EQ(std::strtod(c[5].c_str(), nullptr), fx.rowCoord[static_cast<size_t>(i)]);
            for (int k = 0; k < fx.Comp(); ++k) {
                const double expected = fx.Value(rec, n, k);
                const double got = std::strtod(c[static_cast<size_t>(6 + k)].c_str(), nullptr);
                if (std::isnan(expected))
                    EXPECT_TRUE(std::isnan(got)) << line;
                else
                    EXPECT_EQ(Bits(got), Bits(expected))
                        << "record " << rec << " node " << n << " entry " << k << ": " << line;
            }
        }
    }
    EXPECT_FALSE(std::getline(in, line)) << line;
}

TEST(PostTools, UnfinishedRunIsExportedAndSaysSo) {
    TempDir dir;
    const std::string base = dir.File("m");
    CResultFixture fx;
    fx.times = {0.0, 3.0, 5.0};
    fx.Write(base, false);

    const ProcessResult r = RunExport({base, "--format", "csv"});
    ASSERT_EQ(r.exitCode, 0) << Output(r);
    EXPECT_NE(
        r.err.find("kova-export: " + base + ".kvt holds only the marker of an unfinished run"),
        std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("3 records taken from the length of " + base + ".kvo"), std::string::npos)
        << r.err;
    std::istringstream in(ReadTextFile(dir.File("m.csv")));
    std::string line;
    std::vector<std::string> times;
    while (std::getline(in, line))
        times.push_back(Cells(line)[1]);
    ASSERT_EQ(times.size(), 1u + 3u * 12u);
    EXPECT_EQ(times[1], "0");
    EXPECT_EQ(times[13], "3");
    EXPECT_EQ(times[36], "5");

    const ProcessResult plot = RunPlot({base, "--entry", "head", "-o", dir.File("h.png")});
    EXPECT_EQ(plot.exitCode, 0) << Output(plot);
    EXPECT_NE(plot.err.find("unfinished run"), std::string::npos) << plot.err;
}

TEST(PostTools, BadFilesAreNamedAndNothingIsWritten) {
    TempDir dir;
    const std::string base = dir.File("m");
    CResultFixture fx;
    fx.Write(base);
    const std::vector<unsigned char> data = fx.DataBytes();
    WriteBinaryFile(base + ".kvo", std::vector<unsigned char>(data.begin(), data.end() - 8));

    for (const char* format : {"vtk", "csv"}) {
        const ProcessResult r = RunExport({base, "--format", format, "-o", dir.File("out")});
        EXPECT_EQ(r.exitCode, 1) << Output(r);
        EXPECT_EQ(r.err.rfind("kova-export: " + base + ".kvo: 4792 bytes, but", 0), 0u) << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_FALSE(FileExists(dir.File("out")));
    }
    const ProcessResult plot = RunPlot({base, "--entry", "head", "-o", dir.File("h.png")});
    EXPECT_EQ(plot.exitCode, 1) << Output(plot);
    EXPECT_EQ(plot.err.rfind("kova-plot: " + base + ".kvo:", 0), 0u) << plot.err;
    EXPECT_FALSE(FileExists(dir.File("h.png")));

    WriteBinaryFile(base + ".kvt", {9, 9, 9});
    const ProcessResult shortTime = RunExport({base, "--format", "csv", "-o", dir.File("out")});
    EXPECT_EQ(shortTime.exitCode, 1);
    EXPECT_EQ(shortTime.err.rfind("kova-export: " + base + ".kvt: 3 bytes", 0), 0u)
        << shortTime.err;

    const ProcessResult missing = RunExport({dir.File("none"), "--format", "vtk"});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_EQ(
        missing.err,
        "kova-export: Bad File: the model file cannot be read: No such file or directory (file " +
            dir.File("none") + ".kvi)\n");
}

TEST(PostTools, UnusableCommandLinesAreUsageErrors) {
    const ProcessResult r = RunExport({"m", "--format", "pdf"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("usage: kova-export"), std::string::npos) << r.err;
    const ProcessResult p = RunPlot({"m", "--entry", "head"});
    EXPECT_EQ(p.exitCode, 2);
    EXPECT_NE(p.err.find("usage: kova-plot"), std::string::npos) << p.err;
    EXPECT_EQ(RunPlot({"--help"}).exitCode, 0);
}

TEST(PostTools, PlotDrawsAFieldAndABreakthroughCurve) {
    TempDir dir;
    const std::string base = dir.File("m");
    CResultFixture fx;
    fx.Write(base);

    const ProcessResult field =
        RunPlot({base, "--entry", "mobile_0", "--time", "4.9", "-o", dir.File("field.png")});
    ASSERT_EQ(field.exitCode, 0) << Output(field);
    EXPECT_EQ(field.out, dir.File("field.png") + "\n");
    EXPECT_NE(field.err.find("drawing record 2 at t = 5"), std::string::npos) << field.err;
    ExpectPng(dir.File("field.png"), 900, 700);

    const ProcessResult curve = RunPlot(
        {base, "--node", "2,3", "--entry", "mobile_0", "--entry", "7", "-o", dir.File("b.png")});
    ASSERT_EQ(curve.exitCode, 0) << Output(curve);
    ExpectPng(dir.File("b.png"), 900, 700);

    const ProcessResult unknown = RunPlot({base, "--entry", "mobile_5", "-o", dir.File("u.png")});
    EXPECT_EQ(unknown.exitCode, 1);
    EXPECT_NE(unknown.err.find("--entry mobile_5 names no entry"), std::string::npos)
        << unknown.err;
    EXPECT_FALSE(FileExists(dir.File("u.png")));
}

} // namespace
