// Output files the disk will not take: a file-size limit (as `ulimit -f`
// sets it) on the data file, a full disk, and a directory that may not be
// written. Each ends the real binary with exit 1 and "Computational
// Error", never a kill by signal, and the time file, where one exists, is the
// 4-byte marker of a run that did not finish.
#include "support/run_output.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace kova_test;

namespace {

constexpr uid_t NOBODY = 65534;

void ExpectComputationalError(const ProcessResult& r, const std::string& detail) {
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_NE(r.err.find("ERROR - A kova Compute Exception was caught"), std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find(detail), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("\nComputational Error\n"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("Done."), std::string::npos) << r.err;
}

void ExpectMarker(const std::string& path) {
    const std::vector<unsigned char> kvt = ReadBinaryFile(path);
    ASSERT_EQ(kvt.size(), 4u) << path;
    const int32_t value = IntAt(kvt, 0);
    EXPECT_EQ(value, 0) << path;
}

// Runs in the child: files may grow to `bytes` at most.
std::function<void()> FileSizeLimit(rlim_t bytes) {
    return [bytes] {
        const struct rlimit limit = {bytes, bytes};
        setrlimit(RLIMIT_FSIZE, &limit);
    };
}

// The records of the column example (6464 bytes each) soon cross the limit.
TEST(OutputFailure, AFileSizeLimitOnTheDataFileIsAComputationalError) {
    TempDir dir;
    const std::string base = StageModel(dir, KOVA_EXAMPLES_DIR, "column");
    const ProcessResult r = RunCompute({"--no-progress", base}, FileSizeLimit(4096));
    ExpectComputationalError(r, "to the data output file: File too large");
    ExpectMarker(base + ".kvt");
    EXPECT_LE(ReadBinaryFile(base + ".kvo").size(), 4096u);
}

// A small tmpfs mounted in a mount namespace of this test process alone: it
// goes away with the process whatever happens here.
class CSmallDisk {
public:
    explicit CSmallDisk(const std::string& path) : m_path(path) {
        if (geteuid() != 0) {
            m_skip = "mounting a tmpfs needs root";
            return;
        }
        if (unshare(CLONE_NEWNS) != 0 ||
            mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
            m_skip = std::string("no private mount namespace: ") + std::strerror(errno);
            return;
        }
        if (mkdir(path.c_str(), 0700) != 0 ||
            mount("tmpfs", path.c_str(), "tmpfs", 0, "size=64k") != 0) {
            m_skip = std::string("cannot mount a tmpfs: ") + std::strerror(errno);
            return;
        }
        m_mounted = true;
    }
    ~CSmallDisk() {
        if (m_mounted)
            umount(m_path.c_str());
    }
    const std::string& Skip() const { return m_skip; }

private:
    std::string m_path;
    std::string m_skip;
    bool m_mounted = false;
};

// 64 KiB hold the model and the marker and a few records of the column
// example (6464 bytes each) of the sixteen it writes.
TEST(OutputFailure, AFullDiskIsAComputationalError) {
    TempDir dir;
    CSmallDisk disk(dir.File("disk"));
    if (!disk.Skip().empty())
        GTEST_SKIP() << disk.Skip();
    const std::string base = dir.File("disk/column");
    CopyModel(KOVA_EXAMPLES_DIR, "column", base);
    const ProcessResult r = RunCompute({"--no-progress", base});
    ExpectComputationalError(r, "No space left on device");
    ExpectMarker(base + ".kvt");
}

// A directory the run may not write into. As root, permissions do not bind,
// so the run drops to the unprivileged user first.
class ReadOnlyDirectory : public ::testing::Test {
protected:
    void SetUp() override {
        m_base = StageModel(m_dir, KOVA_TEST_DATA_DIR, "two_nodes");
        ASSERT_EQ(chmod(m_dir.Path().c_str(), 0555), 0);
    }
    void TearDown() override { chmod(m_dir.Path().c_str(), 0700); }

    ProcessResult Run() {
        const bool root = geteuid() == 0;
        ProcessResult r = RunCompute({"--no-progress", m_base}, [root] {
            if (root && (setgid(NOBODY) != 0 || setuid(NOBODY) != 0))
                _exit(126);
        });
        if (r.exitCode == 126 || r.exitCode == 127)
            m_skip = "cannot run the binary as an unprivileged user here (exit " +
                     std::to_string(r.exitCode) + ")";
        return r;
    }

    TempDir m_dir;
    std::string m_base;
    std::string m_skip;
};

TEST_F(ReadOnlyDirectory, NoTimeFileCanBeCreated) {
    const ProcessResult r = Run();
    if (!m_skip.empty())
        GTEST_SKIP() << m_skip;
    ExpectComputationalError(r, "Could not open time output file.");
    EXPECT_FALSE(FileExists(m_base + ".kvt"));
    EXPECT_FALSE(FileExists(m_base + ".kvo"));
}

// A time file left writable from an earlier run; the data file cannot be
// created beside it: the earlier results stay as they were.
TEST_F(ReadOnlyDirectory, NoDataFileCanBeCreated) {
    ASSERT_EQ(chmod(m_dir.Path().c_str(), 0700), 0);
    WriteTextFile(m_base + ".kvt", "an earlier run's time file");
    ASSERT_EQ(chmod((m_base + ".kvt").c_str(), 0666), 0);
    ASSERT_EQ(chmod(m_dir.Path().c_str(), 0555), 0);
    const ProcessResult r = Run();
    if (!m_skip.empty())
        GTEST_SKIP() << m_skip;
    ExpectComputationalError(r, "Could not open data output file.");
    const std::vector<unsigned char> kvt = ReadBinaryFile(m_base + ".kvt");
    EXPECT_EQ(std::string(kvt.begin(), kvt.end()), "an earlier run's time file");
    EXPECT_FALSE(FileExists(m_base + ".kvo"));
}

} // namespace
