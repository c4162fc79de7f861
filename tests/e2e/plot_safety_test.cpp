// kova-plot and an existing picture: a gnuplot that fails, draws nothing or
// is killed must leave the picture as it was, and a stop signal during a slow
// gnuplot must take gnuplot, the scratch folder and the temporary picture
// with it. Stand-ins for gnuplot are given through KOVA_GNUPLOT.
#include "support/result_fixture.h"
#include "support/test_support.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <set>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace kova_test;

namespace {

std::string Output(const ProcessResult& r) {
    return "exit " + std::to_string(r.exitCode) + "\nstdout:\n" + r.out + "stderr:\n" + r.err;
}

// The names in a folder, hidden ones too.
std::set<std::string> Names(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    return names;
}

void WriteScript(const std::string& path, const std::string& body) {
    WriteTextFile(path, "#!/bin/sh\n" + body);
    chmod(path.c_str(), 0755);
}

// A finished run, a folder with an existing picture, a scratch folder for
// TMPDIR and one for the stand-ins.
struct CPlotSetup {
    TempDir dir;
    std::string base = dir.File("m");
    std::string pictures = dir.File("pictures");
    std::string picture = pictures + "/field.png";
    std::string scratch = dir.File("tmp");
    std::string fakes = dir.File("fakes");
    std::vector<unsigned char> oldPicture = {'o', 'l', 'd', '\n'};

    CPlotSetup() {
        CResultFixture fx;
        fx.Write(base);
        for (const std::string& folder : {pictures, scratch, fakes})
            std::filesystem::create_directory(folder);
        WriteBinaryFile(picture, oldPicture);
    }

    // kova-plot with KOVA_GNUPLOT and TMPDIR set, drawing a field into picture.
    std::vector<std::string> Command(const std::string& gnuplot) const {
        return {"KOVA_GNUPLOT=" + gnuplot,
                "TMPDIR=" + scratch,
                KOVA_PLOT_BIN,
                base,
                "--entry",
                "head",
                "-o",
                picture};
    }

    void ExpectPictureAsItWas() const {
        EXPECT_EQ(ReadBinaryFile(picture), oldPicture);
        EXPECT_EQ(Names(pictures), std::set<std::string>({"field.png"}))
            << "a temporary picture was left beside the picture";
        EXPECT_TRUE(Names(scratch).empty()) << "a scratch folder was left in TMPDIR";
    }
};

// The output file named in a gnuplot script's "set output '...'" line.
const char* const OUTPUT_OF_SCRIPT = "out=$(sed -n \"s/^set output '\\(.*\\)'\\$/\\1/p\" \"$1\")\n";

TEST(PlotSafety, AGnuplotThatFailsLeavesTheExistingPictureAsItWas) {
    struct CCase {
        const char* what;
        const char* body; // the stand-in's script after the output's name is known
        const char* error;
    };
    const CCase cases[] = {
        {"fails after emptying its output", ": > \"$out\"\nexit 1\n",
         "did not draw the picture (exit 1)"},
        {"writes something else and exits 0", "echo 'not a picture' > \"$out\"\nexit 0\n",
         "did not draw the picture (exit 0)"},
        {"is killed half-way", "printf '\\211PNG' > \"$out\"\nkill -9 $$\n",
         "did not draw the picture (exit 137)"},
    };
    for (const CCase& c : cases) {
        SCOPED_TRACE(c.what);
        CPlotSetup setup;
        const std::string fake = setup.fakes + "/gnuplot";
        WriteScript(fake, std::string(OUTPUT_OF_SCRIPT) + c.body);
        const ProcessResult r = RunProgram("/usr/bin/env", setup.Command(fake));
        EXPECT_EQ(r.exitCode, 1) << Output(r);
        EXPECT_EQ(r.err, "kova-plot: " + setup.picture + ": " + fake + " " + c.error + "\n");
        EXPECT_EQ(r.out, "");
        setup.ExpectPictureAsItWas();
    }

    CPlotSetup setup;
    const std::string missing = setup.fakes + "/no-such-gnuplot";
    const ProcessResult r = RunProgram("/usr/bin/env", setup.Command(missing));
    EXPECT_EQ(r.exitCode, 1) << Output(r);
    EXPECT_EQ(r.err.rfind("kova-plot: cannot run " + missing + ": No such file or directory", 0),
              0u)
        << r.err;
    setup.ExpectPictureAsItWas();
}

TEST(PlotSafety, ADrawnPictureReplacesTheOldOneAndKeepsItsPermissions) {
    CPlotSetup setup;
    chmod(setup.picture.c_str(), 0640);
    const ProcessResult r =
        RunProgram(KOVA_PLOT_BIN, {setup.base, "--entry", "head", "-o", setup.picture});
    ASSERT_EQ(r.exitCode, 0) << Output(r);
    const std::vector<unsigned char> png = ReadBinaryFile(setup.picture);
    ASSERT_GT(png.size(), 8u);
    EXPECT_EQ(std::string(png.begin() + 1, png.begin() + 4), "PNG");
    EXPECT_EQ(Names(setup.pictures), std::set<std::string>({"field.png"}));
    struct stat info;
    ASSERT_EQ(stat(setup.picture.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);

    // A new picture gets the permissions of any new file, not a temporary's 0600.
    const std::string fresh = setup.pictures + "/new.png";
    const mode_t mask = umask(0);
    umask(mask);
    ASSERT_EQ(RunProgram(KOVA_PLOT_BIN, {setup.base, "--entry", "head", "-o", fresh}).exitCode, 0);
    ASSERT_EQ(stat(fresh.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0666u & ~mask);
}

TEST(PlotSafety, APictureThatCannotBeWrittenIsRefusedBeforeGnuplotRuns) {
    CPlotSetup setup;
    const std::string marker = setup.dir.File("gnuplot-ran");
    const std::string fake = setup.fakes + "/gnuplot";
    WriteScript(fake, "touch " + marker + "\nexit 1\n");
    // A FIFO, like a device, is not a picture to replace.
    const std::string fifo = setup.dir.File("fifo.png");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    for (const std::string& target : {setup.dir.File("missing/field.png"), setup.pictures, fifo}) {
        SCOPED_TRACE(target);
        std::vector<std::string> command = setup.Command(fake);
        command.back() = target;
        const ProcessResult r = RunProgram("/usr/bin/env", command);
        EXPECT_EQ(r.exitCode, 1) << Output(r);
        EXPECT_EQ(r.err.rfind("kova-plot: " + target + ": ", 0), 0u) << r.err;
        EXPECT_FALSE(FileExists(marker));
        setup.ExpectPictureAsItWas();
    }
    struct stat info;
    ASSERT_EQ(lstat(fifo.c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
}

// Waits for the stand-in to write its pid; 0 when it never does.
pid_t WaitForPid(const std::string& path) {
    for (int k = 0; k < 1000; ++k) {
        if (FileExists(path)) {
            const std::string text = ReadTextFile(path);
            if (!text.empty() && text.back() == '\n')
                return static_cast<pid_t>(std::stol(text));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return 0;
}

// Whether pid names a process that has not ended: a process orphaned in a
// container may stay a zombie, as its new parent does not reap it.
bool IsRunning(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line))
        return false;
    const size_t name = line.rfind(')');
    return name != std::string::npos && name + 2 < line.size() && line[name + 2] != 'Z' &&
           line[name + 2] != 'X';
}

// Whether pid is still running after a second: a process sent SIGKILL ends
// only when it is next scheduled.
bool OutlivesASecond(pid_t pid) {
    for (int k = 0; k < 100 && IsRunning(pid); ++k)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return IsRunning(pid);
}

// The stand-in is a wrapper, as an installation's gnuplot may be: what it
// starts must end with it.
TEST(PlotSafety, AStopSignalEndsGnuplotAndRemovesTheTemporaryFiles) {
    for (const int sig : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(strsignal(sig));
        CPlotSetup setup;
        const std::string pidFile = setup.dir.File("gnuplot.pid");
        const std::string childFile = setup.dir.File("child.pid");
        const std::string fake = setup.fakes + "/gnuplot";
        WriteScript(fake,
                    "sleep 60 &\necho $! > " + childFile + "\necho $$ > " + pidFile + "\nwait\n");
        const std::string errPath = setup.dir.File("stderr.txt");

        std::vector<std::string> command = setup.Command(fake);
        std::vector<char*> argv = {const_cast<char*>("env")};
        for (std::string& arg : command)
            argv.push_back(&arg[0]);
        argv.push_back(nullptr);
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(err, 2);
            // The test runner may ignore some of these; kova-plot must see them.
            signal(sig, SIG_DFL);
            execv("/usr/bin/env", argv.data());
            _exit(127);
        }
        const pid_t gnuplot = WaitForPid(pidFile);
        const pid_t child = WaitForPid(childFile);
        // While gnuplot runs: its scratch folder and the temporary picture exist.
        const bool scratchSeen = !Names(setup.scratch).empty();
        const size_t picturesSeen = Names(setup.pictures).size();
        kill(pid, sig);
        int status = 0;
        waitpid(pid, &status, 0);
        const bool gnuplotAlive = gnuplot > 0 && IsRunning(gnuplot);
        const bool childAlive = child > 0 && OutlivesASecond(child);
        for (const pid_t left : {gnuplotAlive ? gnuplot : 0, childAlive ? child : 0})
            if (left > 0)
                kill(left, SIGKILL);

        ASSERT_GT(gnuplot, 0) << "the stand-in never ran: " << ReadTextFile(errPath);
        EXPECT_TRUE(scratchSeen);
        EXPECT_EQ(picturesSeen, 2u);
        ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
        EXPECT_EQ(WEXITSTATUS(status), 130);
        EXPECT_FALSE(gnuplotAlive) << "gnuplot outlived kova-plot";
        EXPECT_FALSE(childAlive) << "what gnuplot started outlived kova-plot";
        EXPECT_EQ(ReadTextFile(errPath),
                  "kova-plot: interrupted; " + setup.picture + " is left as it was\n");
        setup.ExpectPictureAsItWas();
    }
}

} // namespace
