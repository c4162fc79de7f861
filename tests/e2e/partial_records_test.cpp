// kova-export and kova-plot on the files of a run stopped hard: the time file
// holds the unfinished-run marker and the data file ends inside a record. The
// tools use every whole record, say which record they skip, and succeed.
#include "support/result_fixture.h"
#include "support/test_support.h"

#include <chrono>
#include <csignal>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace kova_test;

namespace {

std::string Output(const ProcessResult& r) {
    return "exit " + std::to_string(r.exitCode) + "\nstdout:\n" + r.out + "stderr:\n" + r.err;
}

long FileSize(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 ? static_cast<long>(info.st_size) : -1;
}

// The lines of a text file.
std::vector<std::string> Lines(const std::string& path) {
    std::istringstream in(ReadTextFile(path));
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

TEST(PartialRecords, ToolsUseTheWholeRecordsOfARunCutShort) {
    TempDir dir;
    const std::string base = dir.File("m");
    CResultFixture fx;
    fx.Write(base, false);
    std::vector<unsigned char> data = fx.DataBytes();
    data.resize(3 * 960 + 200); // 200 bytes into record 3
    WriteBinaryFile(base + ".kvo", data);
    const std::string skipped = base + ".kvo ends 200 bytes into record 3, which is skipped\n";

    const ProcessResult csv = RunProgram(KOVA_EXPORT_BIN, {base, "--format", "csv"});
    ASSERT_EQ(csv.exitCode, 0) << Output(csv);
    EXPECT_NE(csv.err.find("kova-export: " + skipped), std::string::npos) << csv.err;
    EXPECT_NE(csv.err.find("3 records taken from the length of"), std::string::npos) << csv.err;
    const std::vector<std::string> rows = Lines(dir.File("m.csv"));
    ASSERT_EQ(rows.size(), 1u + 3u * 12u);
    EXPECT_EQ(rows.back().substr(0, 4), "2,5,") << rows.back(); // record 2 at t = 5

    const ProcessResult vtk =
        RunProgram(KOVA_EXPORT_BIN, {base, "--format", "vtk", "-o", dir.File("vtk")});
    ASSERT_EQ(vtk.exitCode, 0) << Output(vtk);
    EXPECT_TRUE(FileExists(dir.File("vtk/m_0002.vtr")));
    EXPECT_FALSE(FileExists(dir.File("vtk/m_0003.vtr")));

    // The last record drawn is the last whole one.
    const ProcessResult field =
        RunProgram(KOVA_PLOT_BIN, {base, "--entry", "head", "-o", dir.File("f.png")});
    ASSERT_EQ(field.exitCode, 0) << Output(field);
    EXPECT_NE(field.err.find("kova-plot: " + skipped), std::string::npos) << field.err;
    EXPECT_TRUE(FileExists(dir.File("f.png")));
    const ProcessResult curve =
        RunProgram(KOVA_PLOT_BIN, {base, "--node", "1,1", "-o", dir.File("b.png")});
    ASSERT_EQ(curve.exitCode, 0) << Output(curve);
    const ProcessResult beyond = RunProgram(
        KOVA_PLOT_BIN, {base, "--entry", "head", "--record", "3", "-o", dir.File("r3.png")});
    EXPECT_EQ(beyond.exitCode, 1) << Output(beyond);
    EXPECT_FALSE(FileExists(dir.File("r3.png")));
}

TEST(PartialRecords, NoWholeRecordIsNothingToExport) {
    TempDir dir;
    const std::string base = dir.File("m");
    CResultFixture fx;
    fx.Write(base, false);
    WriteBinaryFile(base + ".kvo", std::vector<unsigned char>(959, 0));

    const ProcessResult r = RunProgram(KOVA_EXPORT_BIN, {base, "--format", "csv"});
    EXPECT_EQ(r.exitCode, 1) << Output(r);
    EXPECT_NE(r.err.find("kova-export: " + base +
                         ".kvo ends 959 bytes into record 0, which is "
                         "skipped\n"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("kova-export: " + base + ".kvo: no records to export"), std::string::npos)
        << r.err;
    EXPECT_FALSE(FileExists(dir.File("m.csv")));
}

TEST(PartialRecords, ARunKilledHardCanStillBeExported) {
    TempDir dir;
    // The plume example over a long time, so that it is still going when killed.
    std::string text = ReadTextFile(std::string(KOVA_EXAMPLES_DIR) + "/plume.kvi");
    const size_t line2 = text.find('\n') + 1;
    text.replace(line2, text.find('\n', line2) - line2, "0.0 100000.0 10.0 0.0 1e-09");
    WriteTextFile(dir.File("long.kvi"), text);
    const std::string base = dir.File("long");
    const long recordBytes = 100L * 100 * 8 * 8;

    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        freopen("/dev/null", "w", stdout);
        freopen("/dev/null", "w", stderr);
        execl(KOVA_COMPUTE_BIN, KOVA_COMPUTE_BIN, "--no-progress", base.c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    bool started = false;
    for (int k = 0; k < 6000 && !started; ++k) {
        started = FileSize(base + ".kvo") >= 2 * recordBytes;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(started);
    ASSERT_EQ(FileSize(base + ".kvt"), 4) << "a killed run keeps the marker";

    // Where the kill lands depends on the writer's buffering; make sure the
    // data file ends inside a record either way.
    long size = FileSize(base + ".kvo");
    if (size % recordBytes == 0) {
        ASSERT_EQ(truncate((base + ".kvo").c_str(), size - 1000), 0);
        size -= 1000;
    }
    const long whole = size / recordBytes;

    const ProcessResult r = RunProgram(
        KOVA_EXPORT_BIN, {base, "--format", "csv", "--records", "last", "-o", dir.File("out")});
    ASSERT_EQ(r.exitCode, 0) << Output(r);
    EXPECT_NE(r.err.find("kova-export: " + base + ".kvo ends " +
                         std::to_string(size % recordBytes) + " bytes into record " +
                         std::to_string(whole) + ", which is skipped\n"),
              std::string::npos)
        << r.err;
    const std::vector<std::string> rows = Lines(dir.File("out/long.csv"));
    ASSERT_EQ(rows.size(), 1u + 100u * 100u);
    EXPECT_EQ(rows[1].substr(0, rows[1].find(',')), std::to_string(whole - 1));
}

} // namespace
