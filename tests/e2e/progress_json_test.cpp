// kova-compute --progress=json as a program that follows a run reads it: a
// JSON object a line up to the last status, the run's own report lines
// between them unchanged.
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace kova_test;

namespace {

std::vector<std::string> JsonLines(const std::string& err) {
    std::vector<std::string> lines;
    std::istringstream in(err);
    std::string line;
    while (std::getline(in, line))
        if (!line.empty() && line[0] == '{')
            lines.push_back(line);
    return lines;
}

std::string Status(const std::string& line) {
    const size_t start = line.find("\"status\":\"") + 10;
    return line.substr(start, line.find('"', start) - start);
}

TEST(ProgressJson, AFinishedRunEndsAtItsEnd) {
    const TempDir dir;
    const std::string base = StageModel(dir, KOVA_EXAMPLES_DIR, "column");
    const ProcessResult run = RunCompute({"--progress=json", base});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const std::vector<std::string> lines = JsonLines(run.err);
    ASSERT_GE(lines.size(), 2u) << run.err;
    for (const std::string& line : lines)
        EXPECT_EQ(line.back(), '}') << line;
    EXPECT_EQ(Status(lines.back()), "Closing ...");
    EXPECT_NE(lines.back().find("\"fraction\":1,"), std::string::npos) << lines.back();
    // No plain status line beside the objects.
    EXPECT_EQ(run.err.find("\nSimulating ...\n"), std::string::npos) << run.err;
}

TEST(ProgressJson, AFailedRunEndsWithItsErrorText) {
    const TempDir dir;
    const std::string base = dir.File("broken");
    WriteTextFile(base + ".kvi", "1 2 0 1 0 1\n0 10 1 0.1 1e-6\n0\n0 10\n");
    const ProcessResult run = RunCompute({"--progress=json", base});
    EXPECT_EQ(run.exitCode, 1);
    const std::vector<std::string> lines = JsonLines(run.err);
    ASSERT_FALSE(lines.empty()) << run.err;
    EXPECT_EQ(Status(lines.back()), "Input Error") << run.err;
    EXPECT_NE(run.err.find("\ndetail: "), std::string::npos) << run.err;
}

} // namespace
