// What a run must never do: write numbers that are not finite into a record
// and report success, or take a global step larger than the stable one
// without saying so; and a reaction's failure names where it happened.
#include "support/engine.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <sys/stat.h>

using namespace kova_test;

namespace {

struct CRun {
    std::string error;
    CRecordingSink sink;
    size_t kvoBytes = 0;
    size_t kvtBytes = 0;
};

void RunModel(const std::string& text, CRun& run) {
    TempDir dir;
    CEngine engine(dir.File("model"));
    WriteTextFile(dir.File("model.kvi"), text);
    engine.Run();
    run.error = engine.control.HasError() ? engine.control.GetError() : "";
    run.sink = engine.sink;
    run.kvoBytes = ReadBinaryFile(dir.File("model.kvo")).size();
    run.kvtBytes = ReadBinaryFile(dir.File("model.kvt")).size();
}

// One batch node whose mobile entry (7) a linear assignment multiplies by
// `weight` in every sweep.
std::string Amplifier(const std::string& weight) {
    return "1 1 0 1 1 1  0 2 1 0.5 1e-6\n0\n0\n0 0 0\n0 0 0.3 0 0 0 0 1e10\n0\n0\n"
           "1  0 0 0 0 0 0 0 " +
           weight + "  7 0\n0\n0\n1 0  0\n";
}

TEST(RuntimeFaults, ANonFiniteStateEndsTheRunBeforeItsRecord) {
    CRun run;
    RunModel(Amplifier("1e300"), run);
    EXPECT_EQ(run.error, "Computational Error");
    ASSERT_EQ(run.sink.details.size(), 1u);
    EXPECT_EQ(run.sink.details[0], "entry 7 of node (0, 0) is inf at time 1, not a finite "
                                   "number: the record is not written");
    EXPECT_EQ(run.kvoBytes, 8u * 8) << "the first record only";
    EXPECT_EQ(run.kvtBytes, 4u) << "the marker";

    CRun finite;
    RunModel(Amplifier("1"), finite);
    EXPECT_EQ(finite.error, "");
    EXPECT_EQ(finite.kvoBytes, 3u * 8 * 8);
}

// Two fixed heads 10 apart, flux 1, porosity 0.3: the stable step is below 3.
std::string TwoNodes(const std::string& step) {
    return "1 2 0 1 0 1 0 10 1 " + step +
           " 1e-6\n0\n0 10\n1 0.1 0\n0 0 0.3 1 1 0 0 0\n2  0 0 0 10  0 0 7 1\n"
           "2  0 0  0 1\n0\n0\n0\n0 0\n";
}

TEST(RuntimeFaults, AGivenStepAboveTheStableStepIsWarnedAboutOnce) {
    for (const auto& [step, warned] :
         std::vector<std::pair<std::string, bool>>{{"5", true}, {"0.1", false}, {"0", false}}) {
        CRun run;
        RunModel(TwoNodes(step), run);
        EXPECT_EQ(run.error, "") << step;
        ASSERT_EQ(run.sink.warnings.size(), warned ? 1u : 0u) << step;
        if (warned) {
            const std::string& w = run.sink.warnings[0];
            EXPECT_EQ(w.rfind("the global step 5 of the model is larger than the stable step ", 0),
                      0u)
                << w;
            EXPECT_NE(w.find("(node (0, 0)); the transport may oscillate"), std::string::npos) << w;
        }
    }
}

// Three nodes held at one head (no flow), diffusion 1, porosity 0.3, 0.01,
// 0.3, the unit at the first: the middle node takes 0.155 / 0.01 times the
// dispersion of each face, which no step of the flow's rule limits.
std::string Contrast(const std::string& step) {
    return "1 3 0 1 0 1 0 8 1 " + step +
           " 1e-9\n0\n0 1 2\n0 0 1\n0 0 0.3 1 1 0 0 0\n2  0 1 2 0.01  0 0 7 1\n"
           "3  0 0  0 1  0 2\n0\n0\n0\n0 0\n";
}

// A given step that makes the transport grow ends the run at the first record
// beyond a million times the largest initial value, before it is written,
// naming the value and both steps; the computed step keeps it in range.
TEST(RuntimeFaults, ATransportThatGrowsWithoutBoundEndsTheRun) {
    CRun run;
    RunModel(Contrast("1"), run);
    EXPECT_EQ(run.error, "Computational Error");
    ASSERT_EQ(run.sink.details.size(), 1u);
    const std::string& detail = run.sink.details[0];
    EXPECT_EQ(detail.rfind("mobile_0 (entry 7) of node (0, 1) is ", 0), 0u) << detail;
    EXPECT_NE(detail.find(" at time 5, beyond 1000000, a million times the largest initial or "
                          "injected value: the transport has grown without bound with the "
                          "global step 1 against the stable step 0.032258064516129031 of node "
                          "(0, 1); the record is not written"),
              std::string::npos)
        << detail;
    EXPECT_EQ(run.kvoBytes, 5u * 3 * 8 * 8) << "the records of times 0 to 4";

    CRun computed;
    RunModel(Contrast("0"), computed);
    EXPECT_EQ(computed.error, "");
    EXPECT_EQ(computed.kvoBytes, 9u * 3 * 8 * 8);
}

// Files may grow to `bytes` at most while the object lives; a write beyond
// fails with EFBIG instead of killing the process.
class CFileSizeLimit {
public:
    explicit CFileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &m_old);
        m_handler = std::signal(SIGXFSZ, SIG_IGN);
        const struct rlimit limit = {bytes, m_old.rlim_max};
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~CFileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_handler);
    }

private:
    struct rlimit m_old;
    void (*m_handler)(int);
};

// Output that does not reach the disk: each record is flushed, so its own
// write fails and the records before it stay; a time file that cannot be
// written gets its marker back; a data file that cannot be opened leaves no
// time file behind.
TEST(RuntimeFaults, OutputTheDiskWillNotTake) {
    TempDir dir;
    const std::string base = dir.File("run");
    CEngine engine;
    engine.Read(CModelFields().Text()); // 2 nodes of 8 values: 128 bytes a record
    engine.Open(base);
    engine.Record();
    {
        const CFileSizeLimit limit(200);
        EXPECT_EQ(Outcome([&] { engine.Record(); }),
                  "compute: could not write record 1 to the data output file: File too large "
                  "(a failure of the system, not of the model)");
    }
    engine.Abandon();
    EXPECT_EQ(ReadBinaryFile(base + ".kvo").size(), 200u) << "record 0 and what fitted";
    EXPECT_EQ(ReadBinaryFile(base + ".kvt"), std::vector<unsigned char>(4, 0));

    CEngine empty;
    empty.Read(CModelFields().Text());
    empty.Open(base);
    {
        const CFileSizeLimit limit(20); // the marker fits, the 36 bytes do not
        EXPECT_EQ(Outcome([&] { empty.Close(base); })
                      .rfind("compute: could not write the time "
                             "output file",
                             0),
                  0u);
    }
    EXPECT_EQ(ReadBinaryFile(base + ".kvt"), std::vector<unsigned char>(4, 0)) << "marker back";

    const std::string blocked = dir.File("blocked");
    ASSERT_EQ(mkdir((blocked + ".kvo").c_str(), 0700), 0);
    EXPECT_EQ(Outcome([&] { empty.Open(blocked); }),
              "compute: Could not open data output file. (" + blocked +
                  ".kvo: Is a directory) (a failure of the system, not of the model)");
    EXPECT_FALSE(FileExists(blocked + ".kvt"));
}

} // namespace
