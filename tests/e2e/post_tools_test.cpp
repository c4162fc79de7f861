// kova-export and kova-plot run as a user runs them, on result files written
// in the documented layout with values that need all 17 digits.
#include "model/index.h"
#include "support/result_fixture.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <set>
#include <sstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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
        {[] {}, {base, "--format", "csv", "--records", "-1", "-o", out}, "--records: ",
         "record -1 is negative (the records are 0..4)"},
        {[] {}, {base, "--format", "csv", "--records", "0-2147483647", "-o", out}, "--records: ",
         "record 2147483647 outside 0..4"},
        {[] {}, {base, "--format", "csv", "--records", "1-", "-o", out}, "--records: ",
         "\"1-\" is not a record index"},
        {[] {}, {"plot", base, "--entry", "mobile_5", "-o", out},
         "--entry mobile_5 names no entry", ""},
        {[] {}, {base, "--format", "netcdf", "--entries", "mobile_0,benzene", "-o", out},
         "--entries benzene names no entry of " + kvi,
         "(head, source, porosity, k_row, k_col, flux_row, flux_col, immobile_0, mobile_0, "
         "mobile_1)"},
        {[] {}, {"m", "--format", "csv", "--entries", "head,,mobile_0"},
         "--entries \"head,,mobile_0\" has an empty name", "usage: kova-export", 2},
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

// The names in a folder that begin with a dot: what an export left beside
// its files.
std::set<std::string> HiddenNames(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        if (entry.path().filename().string()[0] == '.')
            names.insert(entry.path().filename().string());
    return names;
}

bool IsFileType(const std::string& path, mode_t type) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0 && (info.st_mode & S_IFMT) == type;
}

// An export of each format: the file a test plants something at (the .pvd,
// written last, for VTK), how the tool names that file, and the first file
// the export writes, with a file size limit under its size.
struct CExportCase {
    const char* format;
    const char* file;
    const char* what;
    const char* first;
    rlim_t limit;
};
const CExportCase EXPORTS[] = {
    {"csv", "m.csv", "CSV file", "m.csv", 4096},
    {"vtk", "m.pvd", "VTK file", "m_0000.vtr", 1024},
    {"netcdf", "m.nc", "NetCDF file", "m.nc", 4096},
};

// A link at an export's file is replaced, its target left as it was; a FIFO
// is refused before anything is written.
TEST(PostTools, AnExportReplacesALinkAtItsFileAndRefusesAFifo) {
    for (const CExportCase& c : EXPORTS) {
        SCOPED_TRACE(c.format);
        TempDir dir;
        const std::string base = dir.File("m"), out = dir.File("out");
        const std::string target = out + "/" + c.file, precious = dir.File("precious.txt");
        CResultFixture().Write(base);
        std::filesystem::create_directory(out);
        WriteTextFile(precious, "precious\n");
        ASSERT_EQ(symlink(precious.c_str(), target.c_str()), 0);
        ProcessResult r = RunProgram(KOVA_EXPORT_BIN, {base, "--format", c.format, "-o", out});
        EXPECT_EQ(r.exitCode, 0) << Output(r);
        EXPECT_EQ(ReadTextFile(precious), "precious\n");
        EXPECT_TRUE(IsFileType(target, S_IFREG));
        EXPECT_TRUE(HiddenNames(out).empty());

        std::filesystem::remove_all(out);
        std::filesystem::create_directory(out);
        ASSERT_EQ(mkfifo(target.c_str(), 0644), 0);
        // Held open, so that a tool writing into the FIFO would not block.
        const int reader = open(target.c_str(), O_RDONLY | O_NONBLOCK);
        r = RunProgram(KOVA_EXPORT_BIN, {base, "--format", c.format, "-o", out});
        close(reader);
        EXPECT_EQ(r.exitCode, 1) << Output(r);
        EXPECT_EQ(r.err, "kova-export: " + target + ": a FIFO, not a " + c.what + "\n");
        EXPECT_TRUE(IsFileType(target, S_IFIFO));
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(out),
                                std::filesystem::directory_iterator()),
                  1);
    }
}

// An export that cannot be written in full (here a file size limit, as a
// full disk) says why, and the export before it stays as it was. NetCDF
// must not crash on the file HDF5 failed to write.
TEST(PostTools, AnExportThatFailsLeavesTheEarlierExportAsItWas) {
    for (const CExportCase& c : EXPORTS) {
        SCOPED_TRACE(c.format);
        TempDir dir;
        const std::string base = dir.File("m"), out = dir.File("out");
        CResultFixture().Write(base);
        const std::vector<std::string> args = {base, "--format", c.format, "-o", out};
        std::vector<std::string> earlier = args;
        earlier.insert(earlier.end(), {"--records", "0"});
        ASSERT_EQ(RunProgram(KOVA_EXPORT_BIN, earlier).exitCode, 0);
        const std::string first = out + "/" + c.first, file = out + "/" + c.file;
        const std::vector<unsigned char> firstBefore = ReadBinaryFile(first);
        const std::vector<unsigned char> fileBefore = ReadBinaryFile(file);

        const rlim_t limit = c.limit;
        const ProcessResult r = RunProgram(KOVA_EXPORT_BIN, args, [limit] {
            const struct rlimit size = {limit, limit};
            setrlimit(RLIMIT_FSIZE, &size);
            signal(SIGXFSZ, SIG_IGN);
        });
        EXPECT_EQ(r.exitCode, 1) << Output(r);
        EXPECT_EQ(r.err.rfind("kova-export: " + first + ": cannot ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find("File too large)\n"), std::string::npos) << r.err;
        EXPECT_EQ(ReadBinaryFile(first), firstBefore);
        EXPECT_EQ(ReadBinaryFile(file), fileBefore);
        EXPECT_TRUE(HiddenNames(out).empty());
    }
}

// Runs kova-export on args, its stderr to errPath, and sends it SIGTERM as
// soon as a temporary file shows in out. Returns the wait status; seen tells
// whether the file showed before the export ended.
int StopOnceWriting(const std::vector<std::string>& args, const std::string& out,
                    const std::string& errPath, bool& seen) {
    std::vector<std::string> command = args;
    std::vector<char*> argv = {const_cast<char*>(KOVA_EXPORT_BIN)};
    for (std::string& arg : command)
        argv.push_back(&arg[0]);
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(err, 2);
        signal(SIGTERM, SIG_DFL);
        execv(KOVA_EXPORT_BIN, argv.data());
        _exit(127);
    }
    int status = 0;
    seen = false;
    while (pid > 0 && !seen && waitpid(pid, &status, WNOHANG) == 0)
        seen = !HiddenNames(out).empty();
    if (seen) {
        kill(pid, SIGTERM);
        waitpid(pid, &status, 0);
    }
    return status;
}

// Stopped while it writes, an export removes its temporary file and leaves
// the earlier export as it was.
TEST(PostTools, AnExportStoppedHalfWayLeavesTheEarlierExportAsItWas) {
    TempDir dir;
    const std::string base = dir.File("m"), out = dir.File("out");
    const std::string csv = out + "/m.csv", errPath = dir.File("stderr.txt");
    CResultFixture fx; // large enough to take a while to write
    fx.rows = fx.cols = 80;
    fx.rowCoord.resize(80);
    fx.colCoord.resize(80);
    for (size_t k = 0; k < 80; ++k)
        fx.rowCoord[k] = fx.colCoord[k] = static_cast<double>(k);
    fx.Write(base);
    const std::string stopped = "kova-export: interrupted; " + csv + " is left as it was\n";
    // On a busy machine the signal may come only once the file is in place;
    // such a try proves nothing and is made again.
    for (int attempt = 0; attempt < 5; ++attempt) {
        ASSERT_EQ(
            RunProgram(KOVA_EXPORT_BIN, {base, "--format", "csv", "--records", "0", "-o", out})
                .exitCode,
            0);
        const std::vector<unsigned char> before = ReadBinaryFile(csv);
        bool seen = false;
        const int status =
            StopOnceWriting({base, "--format", "csv", "-o", out}, out, errPath, seen);
        ASSERT_TRUE(seen) << "no temporary file: the export writes in place";
        const std::string err = ReadTextFile(errPath);
        if (err.find(" is left as it was") == std::string::npos && attempt < 4)
            continue;
        ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
        EXPECT_EQ(WEXITSTATUS(status), 130);
        EXPECT_EQ(err, stopped);
        EXPECT_EQ(ReadBinaryFile(csv), before);
        EXPECT_TRUE(HiddenNames(out).empty());
        break;
    }
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
