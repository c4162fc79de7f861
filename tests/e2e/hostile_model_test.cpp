// Model files that used to hang the real binary or that are cut short: each
// ends with a report and exit 1.
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cctype>

using namespace kova_test;

namespace {

// A Monod rate of 1e12 per unit time: the fixed-point corrector settles only
// for local steps near 1e-12, and opzero (1e-300) allows them. The run once
// took 1e12 local steps for its one global step, deaf to SIGINT and SIGTERM
// (a cancel waits for the step to end); the local step now stops halving at
// 2^-24 of the global step.
TEST(HostileModel, AStiffRateEndsAtTheSmallestLocalStep) {
    TempDir dir;
    const std::string base = StageModel(dir, KOVA_TEST_DATA_DIR, "stiff_monod");
    const ProcessResult r = RunCompute({"--no-progress", base});
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_NE(r.err.find("Local Timestep reduced below 2^-24 of the global step"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("\nComputational Error\n"), std::string::npos) << r.err;
}

// The in-process cuts of every model file are tested in tests/io; here a few
// of each example go through the binary for its exit code and report.
TEST(HostileModel, CutExamplesExitWithAnInputError) {
    for (const char* name : {"two_nodes", "column", "plume"}) {
        const std::string text = ReadTextFile(std::string(KOVA_EXAMPLES_DIR) + "/" + name + ".kvi");
        // The ends of the first token, of a token in the middle and of the
        // last token but one.
        std::vector<size_t> ends;
        for (size_t k = 0; k < text.size(); ++k)
            if (!std::isspace(static_cast<unsigned char>(text[k])) &&
                (k + 1 == text.size() || std::isspace(static_cast<unsigned char>(text[k + 1]))))
                ends.push_back(k + 1);
        ASSERT_GE(ends.size(), 3u) << name;
        for (size_t cut : {ends.front(), ends[ends.size() / 2], ends[ends.size() - 2]}) {
            TempDir dir;
            const std::string base = dir.File(name);
            WriteTextFile(base + ".kvi", text.substr(0, cut));
            const ProcessResult r = RunCompute({"--no-progress", base});
            EXPECT_EQ(r.exitCode, 1) << name << " cut at " << cut << "\n" << r.err;
            EXPECT_NE(r.err.find("ERROR - A kova Input Exception was caught"), std::string::npos)
                << name << " cut at " << cut << "\n"
                << r.err;
            EXPECT_NE(r.err.find("\nInput Error\n"), std::string::npos) << r.err;
            EXPECT_FALSE(FileExists(base + ".kvt")) << name << " cut at " << cut;
        }
    }
}

} // namespace
