#include "support/test_support.h"

#include <gtest/gtest.h>

using namespace kova_test;

namespace {

TEST(EndToEnd, MissingModelFileIsAnInputErrorAndWritesNothing) {
    TempDir dir;
    const std::string base = dir.File("absent");
    const ProcessResult r = RunCompute({base});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("KOVA Compute Error: ERROR - A kova Input Exception was caught"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("\nInput Error\n"), std::string::npos) << r.err;
    EXPECT_FALSE(FileExists(base + ".kvo"));
    EXPECT_FALSE(FileExists(base + ".kvt"));
}

TEST(EndToEnd, NoArgumentsIsAUsageError) {
    const ProcessResult r = RunCompute({});
    EXPECT_EQ(r.exitCode, 2);
}

} // namespace
