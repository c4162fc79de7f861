// Cancelling a run while its time loop is under way: by the keys' path (pause,
// then cancel and resume) and by a signal to the real binary. Either way the
// output files are closed as after any cancel.
#include "run/run_control.h"
#include "sim/run.h"
#include "support/run_output.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdint>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace kova_test;

namespace {

// The plume example over a long time, so that a run is still going when the
// test acts on it.
std::string StageLongPlume(const TempDir& dir) {
    std::string text = ReadTextFile(std::string(KOVA_EXAMPLES_DIR) + "/plume.kvi");
    const size_t line2 = text.find('\n') + 1;
    const size_t line3 = text.find('\n', line2);
    text.replace(line2, line3 - line2, "0.0 100000.0 10.0 0.0 1e-09");
    WriteTextFile(dir.File("long.kvi"), text);
    return dir.File("long");
}

long FileSize(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 ? static_cast<long>(info.st_size) : -1;
}

// Waits until the data file holds at least one record of the 100 x 100 plume.
bool WaitForFirstRecord(const std::string& base) {
    const long recordBytes = 100L * 100 * 8 * 8;
    for (int k = 0; k < 6000; ++k) {
        if (FileSize(base + ".kvo") >= recordBytes)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// The time file is complete and counts every record of the data file.
void ExpectCompleteTimeFile(const std::string& base) {
    const std::vector<unsigned char> times = ReadBinaryFile(base + ".kvt");
    ASSERT_GE(times.size(), 36u);
    const int32_t records = IntAt(times, 0);
    EXPECT_GE(records, 2); // the first record and the one written at the cancel
    EXPECT_EQ(times.size(), 36u + 8u * static_cast<size_t>(records));
    EXPECT_EQ(FileSize(base + ".kvo"), static_cast<long>(records) * 100 * 100 * 8 * 8);
}

TEST(Cancel, PauseThenCancelWakesTheWorkerAndClosesTheFiles) {
    TempDir dir;
    const std::string base = StageLongPlume(dir);
    CRunControl control(base.c_str());
    CRecordingSink sink;
    control.SetMessageSink(&sink);
    control.StartWorker(SimulationThread);
    ASSERT_TRUE(WaitForFirstRecord(base));
    control.Pause();
    control.Cancel();
    control.Resume(); // the abort answer: a paused worker wakes and stops
    control.JoinWorker();
    EXPECT_EQ(control.IsRunning(), 0);
    EXPECT_EQ(control.HasError(), 0);
    EXPECT_EQ(control.GetStatus().value(), "Done.");
    ExpectCompleteTimeFile(base);
}

TEST(Cancel, SigintDuringARunExitsWith130AndACompleteTimeFile) {
    TempDir dir;
    const std::string base = StageLongPlume(dir);
    const std::string errPath = dir.File("stderr.txt");
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(err, 2);
        execl(KOVA_COMPUTE_BIN, KOVA_COMPUTE_BIN, base.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    const bool started = WaitForFirstRecord(base);
    kill(pid, SIGINT);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(started) << ReadTextFile(errPath);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 130) << ReadTextFile(errPath);
    ExpectCompleteTimeFile(base);
    const std::string err = ReadTextFile(errPath);
    EXPECT_NE(err.find("Done."), std::string::npos) << err;
    EXPECT_EQ(err.find("Error"), std::string::npos) << err;
}

} // namespace
