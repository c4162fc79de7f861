// The real binary on every model file: one row per model that runs to its end
// (what it is meant to show, the same bytes with 1, 2 and 3 threads, --check),
// one row per way a run fails (exit code, report, the files it leaves), a
// cancel by signal and the timings report.
#include "model/index.h"
#include "run/platform.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <sched.h>
#include <sstream>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace kova_test;

namespace {

// One run of a staged model file with its files and the report lines of
// stderr, the run's own directory replaced by DIR.
struct CRun {
    ProcessResult result;
    std::vector<unsigned char> kvo, kvt;
    bool hasKvo = false, hasKvt = false;
    std::string reports;
};

// The line of stderr that warns of water flowing towards the lower index, or "".
std::string ReverseFlowLine(const std::string& err) {
    const size_t at = err.find("towards the lower row or column index");
    if (at == std::string::npos)
        return "";
    const size_t begin = err.rfind('\n', at) == std::string::npos ? 0 : err.rfind('\n', at) + 1;
    return err.substr(begin, err.find('\n', at) + 1 - begin);
}

// Reads path when it is a regular file (not /dev/full, say).
std::vector<unsigned char> ReadIfRegular(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) ? ReadBinaryFile(path)
                                                                   : std::vector<unsigned char>();
}

// Runs kova-compute with args and base (none when empty).
CRun RunIn(const TempDir& dir, const std::string& base, std::vector<std::string> args,
           const std::function<void()>& inChild = nullptr) {
    if (!base.empty())
        args.push_back(base);
    CRun run;
    run.result = RunCompute(args, inChild);
    run.hasKvo = !base.empty() && FileExists(base + ".kvo");
    run.hasKvt = !base.empty() && FileExists(base + ".kvt");
    run.kvo = ReadIfRegular(base + ".kvo");
    run.kvt = ReadIfRegular(base + ".kvt");
    std::istringstream lines(run.result.err);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("KOVA Compute Error", 0) != 0 && line.rfind("detail:", 0) != 0)
            continue;
        for (size_t at; (at = line.find(dir.Path())) != std::string::npos;)
            line.replace(at, dir.Path().size(), "DIR");
        run.reports += line + "\n";
    }
    return run;
}

// A finished run's files decoded: the time file's header and record times,
// every record of the data file.
struct CRunOutput {
    int32_t nRecords = 0, nRows = 0, nCols = 0, nComp = 0;
    std::vector<double> times, values;
    double At(int r, int i, int j, int k) const {
        return values[ToSize(((r * nRows + i) * nCols + j) * nComp + k)];
    }
};

CRunOutput ReadRunOutput(const CRun& run, int nComp) {
    CRunOutput out;
    out.nRecords = IntAt(run.kvt, 0), out.nRows = IntAt(run.kvt, 4), out.nCols = IntAt(run.kvt, 8);
    out.nComp = nComp;
    EXPECT_EQ(run.kvt.size(), 36u + 8u * ToSize(out.nRecords));
    for (int r = 0; r < out.nRecords; ++r)
        out.times.push_back(DoubleAt(run.kvt, ToSize(36 + 8 * r)));
    EXPECT_EQ(run.kvo.size(), 8u * ToSize(out.nRecords * out.nRows * out.nCols * nComp));
    for (size_t at = 0; at + 8 <= run.kvo.size(); at += 8)
        out.values.push_back(DoubleAt(run.kvo, at));
    return out;
}

// Every entry beyond the hydraulic slots is not negative beyond the
// round-off of the transport step.
void ExpectNonNegative(const CRunOutput& out) {
    for (size_t t = 0; t < out.values.size(); ++t)
        if (t % ToSize(out.nComp) >= 7) {
            ASSERT_GE(out.values[t], -1e-9)
                << "entry " << t % ToSize(out.nComp) << " of value " << t;
        }
}

// C(x, t) / C0 behind a constant-concentration inlet of a semi-infinite column.
double OgataBanks(double x, double t, double v, double d) {
    const double spread = 2.0 * std::sqrt(d * t);
    return 0.5 * (std::erfc((x - v * t) / spread) +
                  std::exp(v * x / d) * std::erfc((x + v * t) / spread));
}

// The area under the rule curve (0, 0), (10, 1), (20, 1), (30, 0) up to t.
double SourceArea(double t) {
    const double u = std::clamp(t, 0.0, 30.0);
    return u <= 10 ? u * u / 20 : u <= 20 ? u - 5 : 15 + (u - 20) - (u - 20) * (u - 20) / 20;
}

struct CModel {
    const char* directory;
    const char* name;
    int rows, cols, nComp, records;
    std::function<void(const CRunOutput&)> expect; // what the model is meant to show
};

void PrintTo(const CModel& m, std::ostream* os) {
    *os << m.name;
}

// The two-node example without --threads takes one thread, and says so in
// --timings when more were there to take; --threads 2 takes two, unasked.
TEST(Threads, ASmallGridTakesOneUnlessTold) {
    TempDir dir;
    const std::string base = StageModel(dir, KOVA_EXAMPLES_DIR, "two_nodes");
    const CRun chosen = RunIn(dir, base, {"--timings"});
    ASSERT_EQ(chosen.result.exitCode, 0) << chosen.result.err;
    EXPECT_NE(chosen.result.err.find("kova-compute timings: 1 thread, 2 nodes"), std::string::npos)
        << chosen.result.err;
    const bool offered = HardwareThreads() > 1; // as the child process sees them
    EXPECT_EQ(chosen.result.err.find("2 nodes give each further thread too few") !=
                  std::string::npos,
              offered)
        << chosen.result.err;
    TempDir other;
    const CRun forced = RunIn(other, StageModel(other, KOVA_EXAMPLES_DIR, "two_nodes"),
                              {"--timings", "--threads", "2"});
    ASSERT_EQ(forced.result.exitCode, 0) << forced.result.err;
    EXPECT_NE(forced.result.err.find("kova-compute timings: 2 threads, 2 nodes"), std::string::npos)
        << forced.result.err;
    EXPECT_EQ(forced.result.err.find("too few"), std::string::npos) << forced.result.err;
    EXPECT_TRUE(forced.kvo == chosen.kvo);
}

class Models : public ::testing::TestWithParam<CModel> {};

TEST_P(Models, RunToTheEndAndGiveTheSameBytesWithAnyThreadCount) {
    const CModel& m = GetParam();
    TempDir dir;
    const std::string base = StageModel(dir, m.directory, m.name);
    const CRun serial = RunIn(dir, base, {"--threads", "1", "--timings"});
    ASSERT_EQ(serial.result.exitCode, 0) << serial.result.err;
    // The status lines end with Done.; --timings reports every phase.
    for (const char* part : {"Done.\n", "kova-compute timings: 1 thread, ", "\n  read ",
                             "\n  heads ", " s (band solve)\n", "\n  flow field ", "\n  transport ",
                             "\n  reactions ", "\n  output ", "\n  total "})
        EXPECT_NE(serial.result.err.find(part), std::string::npos) << part << serial.result.err;
    ASSERT_GE(serial.kvt.size(), 36u);
    const CRunOutput out = ReadRunOutput(serial, m.nComp);
    ASSERT_EQ(out.nRecords, m.records);
    EXPECT_EQ(std::to_string(out.nRows) + " x " + std::to_string(out.nCols),
              std::to_string(m.rows) + " x " + std::to_string(m.cols));
    ASSERT_FALSE(out.values.empty());
    EXPECT_EQ(out.times[0], DoubleAt(serial.kvt, 12)) << "the first record at the start";
    EXPECT_EQ(out.times.back(), DoubleAt(serial.kvt, 20)) << "the last record time";
    for (int r = 1; r < out.nRecords; ++r)
        EXPECT_GT(out.times[ToSize(r)], out.times[ToSize(r - 1)]) << "record " << r;
    for (double v : out.values)
        ASSERT_TRUE(std::isfinite(v));
    m.expect(out);

    for (int threads : {2, 3}) {
        TempDir other;
        const CRun parallel = RunIn(other, StageModel(other, m.directory, m.name),
                                    {"--no-progress", "--threads", std::to_string(threads)});
        EXPECT_EQ(parallel.result.exitCode, 0) << parallel.result.err;
        EXPECT_EQ(parallel.result.err.find("timings"), std::string::npos) << "only when asked";
        EXPECT_TRUE(parallel.kvo == serial.kvo) << "data file with " << threads << " threads";
        EXPECT_TRUE(parallel.kvt == serial.kvt) << "time file with " << threads << " threads";
    }

    // --check reads the model as a run does and prints what it understood;
    // it writes nothing.
    TempDir checkDir;
    const CRun check = RunIn(checkDir, StageModel(checkDir, m.directory, m.name), {"--check"});
    EXPECT_EQ(check.result.exitCode, 0) << check.result.err;
    // The only thing it says on stderr is the reverse-flow warning, as the run says it.
    EXPECT_EQ(check.result.err, ReverseFlowLine(serial.result.err));
    for (const char* label :
         {"model: ", "\ngrid:\n", "\ncounts:\n", "\ntimes:\n", "\ninitial state",
          "\nreactions: ", "\nreaction sets: ", "\n  set 0: used by "})
        EXPECT_NE(check.result.out.find(label), std::string::npos) << "no " << label;
    EXPECT_FALSE(check.hasKvo || check.hasKvt);
}

const CModel MODELS[] = {
    // No time to cover: the state as read, with the heads' source rates of
    // the fixed nodes and the flow field.
    {KOVA_TEST_DATA_DIR, "no_time", 1, 2, 8, 1,
     [](const CRunOutput& out) {
         const std::vector<double> expected{10, 1.0 / 3,  0.3, 1, 1, 0, 1, 1,
                                            0,  -1.0 / 3, 0.3, 1, 1, 0, 0, 0};
         EXPECT_EQ(out.values, expected);
     }},
    // Away from its ends the column stays uniform: the middle nodes decay by
    // the trapezoid rule of the local steps, (1 - kh/2) / (1 + kh/2) a step.
    {KOVA_TEST_DATA_DIR, "column_decay", 1, 10, 8, 5,
     [](const CRunOutput& out) {
         EXPECT_EQ(out.times, (std::vector<double>{0, 5, 10, 15, 20}));
         for (int r = 0; r < out.nRecords; ++r) {
             const double expected = std::pow(0.975 / 1.025, 5.0 * r);
             for (int j = 4; j <= 5; ++j)
                 EXPECT_NEAR(out.At(r, 0, j, 7), expected, 1e-4 * expected) << r << " " << j;
         }
         for (int j = 0; j < 10; ++j)
             EXPECT_LT(out.At(4, 0, j, 7), out.At(0, 0, j, 7)) << "node " << j;
     }},
    // Diffusion only: the sum over the nodes is what the source added. The
    // reaction clock lags the model time by the global step of 1.
    {KOVA_TEST_DATA_DIR, "rule_curve_source", 1, 5, 8, 9,
     [](const CRunOutput& out) {
         for (int r = 0; r < out.nRecords; ++r) {
             double total = 0.0;
             for (int j = 0; j < 5; ++j)
                 total += out.At(r, 0, j, 7);
             EXPECT_NEAR(total, SourceArea(out.times[ToSize(r)] - 1.0), 1e-9)
                 << "at " << out.times[ToSize(r)];
         }
         EXPECT_GT(out.At(8, 0, 4, 7), 0.0) << "diffusion carried some away";
     }},
    // Every equilibrium type in one set: every node of the last record meets
    // all six conditions. A hundred steps of 0.1 fall short of 10: one more.
    {KOVA_TEST_DATA_DIR, "equilibrium_set", 1, 2, 19, 11,
     [](const CRunOutput& out) {
         EXPECT_NEAR(out.times.back(), 10.1, 1e-9);
         enum { P = 7, S_LANG, S_FREUND, S_LIN, TOTAL_A, X, Y, A, B, C_LANG, C_FREUND, C_LIN };
         for (int j = 0; j < 2; ++j) {
             auto c = [&](int k) { return out.At(10, 0, j, k); };
             EXPECT_NEAR(c(P) / (c(A) * c(B)), 10.0, 1e-6) << "node " << j;
             EXPECT_NEAR(c(S_LANG), 0.7 * c(C_LANG) / (c(C_LANG) + 0.6), 1e-6) << "node " << j;
             EXPECT_NEAR(c(S_FREUND), 0.7 * std::pow(c(C_FREUND), 0.6), 1e-6) << "node " << j;
             EXPECT_NEAR(c(S_LIN), 2 * c(C_LIN), 1e-6) << "node " << j;
             EXPECT_NEAR(c(TOTAL_A), c(P) + c(A), 1e-6) << "node " << j;
             EXPECT_NEAR(c(Y), 0.5 * c(X), 1e-6) << "node " << j;
         }
     }},
    // Steps of 0.1 add up to just below 1, 2, ...: records at 0, 1.1, 2.0, ..., 10.1.
    {KOVA_EXAMPLES_DIR, "two_nodes", 1, 2, 8, 11,
     [](const CRunOutput& out) {
         EXPECT_EQ(out.times[0], 0.0);
         EXPECT_NEAR(out.times[1], 1.1, 1e-9);
         EXPECT_NEAR(out.times[10], 10.1, 1e-9);
     }},
    {KOVA_EXAMPLES_DIR, "plume", 100, 100, 8, 7, [](const CRunOutput&) {}},
    // Pore velocity 1 m/d, D = 0.25 m x 1 m/d + 1e-4 m2/d, nodes 0.25 m apart,
    // inlet held at 1 mg/L: the analytic front within 1 % of the inlet from
    // day 5 on, within 2 % from day 1 on, while the front is still steep.
    {KOVA_EXAMPLES_DIR, "column", 1, 101, 8, 31,
     [](const CRunOutput& out) {
         ExpectNonNegative(out);
         const double d = 0.25 + 1e-4;
         for (int r = 0; r < out.nRecords; ++r) {
             const double t = out.times[ToSize(r)];
             if (t < 1.0)
                 continue;
             for (int j = 0; j < out.nCols; ++j)
                 EXPECT_NEAR(out.At(r, 0, j, 7), OgataBanks(0.25 * j, t, 1.0, d),
                             t >= 5.0 ? 0.01 : 0.02)
                     << "x = " << 0.25 * j << " m, t = " << t << " d";
         }
         EXPECT_NEAR(out.At(30, 0, 60, 7), 0.5, 0.1) << "the front has moved to 15 m";
     }},
    // Oxygen-limited degradation: entries 7 biomass, 8 sorbed, 9 hydrocarbon,
    // 10 oxygen. The core runs out of oxygen, biomass grows at the fringes,
    // the plume ends inside the model.
    {KOVA_EXAMPLES_DIR, "hydrocarbon_plume", 33, 41, 11, 11,
     [](const CRunOutput& out) {
         ExpectNonNegative(out);
         EXPECT_EQ(out.At(10, 16, 3, 9), 5.0) << "source";
         EXPECT_GT(out.At(10, 16, 10, 8), 0.01) << "sorbed below the source";
         EXPECT_LT(out.At(10, 16, 10, 10), 1.0) << "oxygen in the core";
         EXPECT_EQ(out.At(10, 0, 0, 10), 8.0) << "oxygen held on the inflow column";
         double biomass = 0.0, outflow = 0.0;
         for (int i = 0; i < out.nRows; ++i) {
             outflow = std::max(outflow, out.At(10, i, out.nCols - 1, 9));
             for (int j = 0; j < out.nCols; ++j)
                 biomass = std::max(biomass, out.At(10, i, j, 7));
         }
         EXPECT_GT(biomass, 1.0);
         EXPECT_LT(outflow, 0.2);
     }},
    // At the well 90 m downstream the daughters outweigh the parent once the
    // chain is steady.
    {KOVA_EXAMPLES_DIR, "decay_chain", 29, 61, 10, 31,
     [](const CRunOutput& out) {
         ExpectNonNegative(out);
         const double tce = out.At(30, 14, 20, 7), dce = out.At(30, 14, 20, 8);
         EXPECT_GT(tce, 0.1);
         EXPECT_GT(dce, tce);
         EXPECT_GT(out.At(30, 14, 20, 9), tce);
         EXPECT_NEAR(out.At(29, 14, 20, 8), dce, 0.01 * dce);
     }},
    // Every node ends in equilibrium: the complex over zinc and citrate is Keq
    // and the sorbed zinc four times the free; the citrate strips zinc ahead.
    {KOVA_EXAMPLES_DIR, "complexation", 21, 41, 11, 11,
     [](const CRunOutput& out) {
         ExpectNonNegative(out);
         double complexMax = 0.0;
         for (int i = 0; i < out.nRows; ++i)
             for (int j = 1; j < out.nCols; ++j) {
                 const double zn = out.At(10, i, j, 8), cit = out.At(10, i, j, 9);
                 const double complex = out.At(10, i, j, 10);
                 complexMax = std::max(complexMax, complex);
                 if (zn > 1e-3 && cit > 1e-3) {
                     EXPECT_NEAR(complex / (zn * cit), 0.0794, 1e-6 * 0.0794) << i << ", " << j;
                 }
                 EXPECT_NEAR(out.At(10, i, j, 7), 4.0 * zn, 1e-9) << i << ", " << j;
             }
         EXPECT_GT(complexMax, 10.0);
         EXPECT_NEAR(out.At(10, 10, 3, 9), 200.0, 1e-6) << "citrate held at the source";
     }},
};

INSTANTIATE_TEST_SUITE_P(
    Runs, Models, ::testing::ValuesIn(MODELS), [](const ::testing::TestParamInfo<CModel>& param) {
        return std::string(param.param.directory == std::string(KOVA_EXAMPLES_DIR) ? "example_"
                                                                                   : "data_") +
               param.param.name;
    });

// Files after a failure: none, the 4-byte marker of an unfinished run, or
// (data file) what the records before the failure took.
enum class EFile { NONE, MARKER, ANY };

// A small tmpfs in a mount namespace of this test process alone: it goes
// away with the process whatever happens here. Needs root.
std::string MountSmallDisk(const std::string& path) {
    if (geteuid() != 0)
        return "mounting a tmpfs needs root";
    if (unshare(CLONE_NEWNS) != 0 ||
        mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return std::string("no private mount namespace: ") + std::strerror(errno);
    if (mkdir(path.c_str(), 0700) != 0 || mount("tmpfs", path.c_str(), "tmpfs", 0, "size=64k") != 0)
        return std::string("cannot mount a tmpfs: ") + std::strerror(errno);
    return "";
}

// Runs in the child: files may grow to `bytes` at most.
std::function<void()> FileSizeLimit(rlim_t bytes) {
    return [bytes] {
        const struct rlimit limit = {bytes, bytes};
        setrlimit(RLIMIT_FSIZE, &limit);
    };
}

// As root permissions do not bind: the run drops to the unprivileged user.
void Unprivileged() {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
        _exit(126);
}

struct CFailure {
    const char* what;
    const char* directory;
    const char* model; // "": a model file that does not exist; null: no base at all
    // Prepares the files before the run (base: the staged model, which it
    // may move); returns a reason to skip, or "".
    std::function<std::string(const TempDir& dir, std::string& base)> prepare;
    std::function<void()> inChild;
    std::vector<std::string> args;
    int exitCode;
    std::vector<std::string> err; // parts of stderr, in order
    EFile kvt, kvo;
};

void PrintTo(const CFailure& f, std::ostream* os) {
    *os << f.what;
}

class Failures : public ::testing::TestWithParam<CFailure> {};

// Every failure is reported the same with 1 and with 2 threads.
TEST_P(Failures, EndWithTheirExitCodeReportAndFiles) {
    const CFailure& f = GetParam();
    CRun runs[2];
    for (int threads : {1, 2}) {
        TempDir dir;
        std::string base = !f.model     ? ""
                           : f.model[0] ? StageModel(dir, f.directory, f.model)
                                        : dir.File("m");
        const std::string skip = f.prepare ? f.prepare(dir, base) : "";
        if (!skip.empty())
            GTEST_SKIP() << skip;
        std::vector<std::string> args = f.args;
        args.insert(args.begin(), {"--threads", std::to_string(threads)});
        CRun& run = runs[threads - 1] = RunIn(dir, base, args, f.inChild);
        chmod(dir.Path().c_str(), 0700);
        umount(dir.File("disk").c_str());
        if (run.result.exitCode == 126)
            GTEST_SKIP() << "cannot run the binary as an unprivileged user here";
        EXPECT_EQ(run.result.exitCode, f.exitCode) << run.result.err;
        size_t at = 0;
        for (const std::string& part : f.err) {
            at = run.result.err.find(part, at);
            EXPECT_NE(at, std::string::npos) << "no \"" << part << "\" in order in:\n"
                                             << run.result.err;
        }
        EXPECT_EQ(run.result.err.find("Done."), std::string::npos) << run.result.err;
        if (f.args == std::vector<std::string>{"--check"}) {
            EXPECT_EQ(run.result.out, "");
        }
        EXPECT_EQ(run.hasKvt, f.kvt != EFile::NONE);
        if (f.kvt == EFile::MARKER) {
            EXPECT_EQ(run.kvt, std::vector<unsigned char>(4, 0));
        }
        EXPECT_EQ(run.hasKvo, f.kvo != EFile::NONE);
    }
    EXPECT_EQ(runs[1].reports, runs[0].reports);
    EXPECT_TRUE(runs[1].kvo == runs[0].kvo);
}

const std::string INPUT = "KOVA Compute Error: ERROR - A kova Input Exception was caught\n";
const std::string COMPUTE = "KOVA Compute Error: ERROR - A kova Compute Exception was caught\n";
const std::string COMPUTATIONAL = "\nComputational Error\n";

// The ways of preparing a run's files.
// The model file cut to its first `bytes` bytes (a fraction of its length
// when below 1).
std::function<std::string(const TempDir&, std::string&)> CutTo(double bytes) {
    return [bytes](const TempDir&, std::string& base) {
        const std::string text = ReadTextFile(base + ".kvi");
        WriteTextFile(
            base + ".kvi",
            text.substr(0, static_cast<size_t>(bytes < 1 ? bytes * static_cast<double>(text.size())
                                                         : bytes)));
        return std::string();
    };
}
std::function<std::string(const TempDir&, std::string&)> DataFileTo(const char* device) {
    return [device](const TempDir&, std::string& base) {
        return std::string(symlink(device, (base + ".kvo").c_str()) ? "no device" : "");
    };
}
// 64 KiB hold the model, the marker and a few records of the column.
std::string OnASmallDisk(const TempDir& dir, std::string& base) {
    const std::string skip = MountSmallDisk(dir.File("disk"));
    if (skip.empty())
        base = CopyModel(KOVA_EXAMPLES_DIR, "column", dir.File("disk/column"));
    return skip;
}
std::string ReadOnly(const TempDir& dir, std::string&) {
    chmod(dir.Path().c_str(), 0555);
    return "";
}
// A time file left writable by an earlier run: it stays as it was.
std::string ReadOnlyWithATimeFile(const TempDir& dir, std::string& base) {
    WriteTextFile(base + ".kvt", "an earlier run's time file");
    chmod((base + ".kvt").c_str(), 0666);
    return ReadOnly(dir, base);
}
// The column's inlet assignment to entry 8, outside the node's eight entries.
std::string BreakTheInlet(const TempDir&, std::string& base) {
    std::string text = ReadTextFile(base + ".kvi");
    const size_t hold = text.find("  7 1.0\n");
    if (hold == std::string::npos)
        return "no inlet assignment";
    WriteTextFile(base + ".kvi", text.replace(hold, 8, "  8 1.0\n"));
    return "";
}

const EFile NONE = EFile::NONE, MARKER = EFile::MARKER, ANY = EFile::ANY;
const char* const DATA = KOVA_TEST_DATA_DIR;
const char* const EXAMPLES = KOVA_EXAMPLES_DIR;

// clang-format off
const CFailure FAILURES[] = {
    {"no_model_given", "", nullptr, nullptr, nullptr, {}, 2, {"usage"}, NONE, NONE},
    {"missing_model_file", "", "", nullptr, nullptr, {}, 1,
     {INPUT, "detail: Bad File: the model file cannot be read: No such file or directory (file ",
      ".kvi)\n", "\nInput Error\n"},
     NONE, NONE},
    {"keq_zero", DATA, "equilibrium_keq_zero", nullptr, nullptr, {}, 1,
     {INPUT, "detail: Equilibrium Equaitons must have a positive Keq in reaction record 0 "
             "(field 18)", "\nInput Error\n"}, NONE, NONE},
    {"cut_two_nodes", EXAMPLES, "two_nodes", CutTo(1), nullptr, {}, 1,
     {INPUT, "\nInput Error\n"}, NONE, NONE},
    {"cut_plume", EXAMPLES, "plume", CutTo(0.5), nullptr, {}, 1, {INPUT, "\nInput Error\n"},
     NONE, NONE},
    // The record written before the failure stays; the time file keeps the marker.
    {"clock_stall", DATA, "clock_stall", nullptr, nullptr, {}, 1,
     {COMPUTE, "detail: the global step 1 no longer advances the clock at time 1e+17",
      COMPUTATIONAL},
     MARKER, ANY},
    // A barely moving node with strong diffusion: the stable step cancels to 0.
    {"zero_stable_step", DATA, "zero_stable_step", nullptr, nullptr, {}, 1,
     {COMPUTE, "not positive at node (0, 0)", COMPUTATIONAL}, MARKER, ANY},
    // A Monod rate of 1e12: the local step stops halving at 2^-24 of the
    // global step, where opzero (1e-300) would allow 1e12 local steps.
    {"stiff_rate", DATA, "stiff_monod", nullptr, nullptr, {}, 1,
     {COMPUTE, "Local Timestep reduced below 2^-24 of the global step", COMPUTATIONAL}, MARKER,
      ANY},
    // A link planted at the data file is not written through; no time file is left.
    {"planted_link", EXAMPLES, "two_nodes", DataFileTo("/dev/full"), nullptr, {}, 1,
     {INPUT, "is a symbolic link: a run does not write through one", "\nInput Error\n"},
     NONE, ANY},
    // The records of the column (6464 bytes each) soon cross the limit.
    {"file_size_limit", EXAMPLES, "column", nullptr, FileSizeLimit(4096), {}, 1,
     {COMPUTE, "to the data output file: File too large", COMPUTATIONAL}, MARKER, ANY},
    {"small_disk", EXAMPLES, "column", OnASmallDisk, nullptr, {}, 1,
     {COMPUTE, "No space left on device", COMPUTATIONAL}, MARKER, ANY},
    {"read_only_directory", EXAMPLES, "two_nodes", ReadOnly, Unprivileged, {}, 1,
     {COMPUTE, "Could not open time output file.", COMPUTATIONAL}, NONE, NONE},
    {"read_only_directory_with_a_time_file", EXAMPLES, "two_nodes", ReadOnlyWithATimeFile,
     Unprivileged, {}, 1, {COMPUTE, "Could not open data output file.", COMPUTATIONAL}, ANY,
      NONE},
    // --check fails as a run does: the report, the detail with the field and
    // the record, the error text last; nothing on stdout.
    {"check_of_a_broken_model", EXAMPLES, "column", BreakTheInlet, nullptr, {"--check"}, 1,
     {INPUT, "detail: target index 8 outside 0..7 in reaction record 0 (field 18) (file ",
      ".kvi)\nInput Error\n"},
     NONE, NONE},
    {"check_of_a_missing_model", "", "", nullptr, nullptr, {"--check"}, 1,
     {INPUT, "\ndetail: Bad File: the model file cannot be read: No such file or directory (file ",
      ".kvi)\n"}, NONE, NONE},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Runs, Failures, ::testing::ValuesIn(FAILURES),
                         [](const ::testing::TestParamInfo<CFailure>& param) {
                             return std::string(param.param.what);
                         });

// A signal cancels a running model: exit 130 after one more record at the
// time reached, both files complete.
TEST(Runs, SigintCancelsARunWithCompleteFiles) {
    TempDir dir;
    std::string text = ReadTextFile(std::string(KOVA_EXAMPLES_DIR) + "/plume.kvi");
    const size_t line2 = text.find('\n') + 1;
    text.replace(line2, text.find('\n', line2) - line2, "0.0 100000.0 10.0 0.0 1e-09");
    const std::string base = dir.File("long");
    WriteTextFile(base + ".kvi", text);
    const std::string errPath = dir.File("stderr.txt");
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        dup2(open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
        dup2(open("/dev/null", O_WRONLY), 1);
        execl(KOVA_COMPUTE_BIN, KOVA_COMPUTE_BIN, base.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    const size_t record = 100 * 100 * 8 * 8;
    for (int k = 0; k < 6000 && ReadBinaryFile(base + ".kvo").size() < record; ++k)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    kill(pid, SIGINT);
    int status = 0;
    waitpid(pid, &status, 0);
    const std::string err = ReadTextFile(errPath);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 130) << err;
    EXPECT_NE(err.find("Done."), std::string::npos) << err;
    EXPECT_EQ(err.find("Error"), std::string::npos) << err;
    const std::vector<unsigned char> kvt = ReadBinaryFile(base + ".kvt");
    ASSERT_GE(kvt.size(), 36u);
    const int32_t records = IntAt(kvt, 0);
    EXPECT_GE(records, 2); // the first record and the one at the cancel
    EXPECT_EQ(kvt.size(), 36u + 8u * ToSize(records));
    EXPECT_EQ(ReadBinaryFile(base + ".kvo").size(), ToSize(records) * record);
}

} // namespace
