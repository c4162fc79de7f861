#include "app/cli_options.h"

#include <gtest/gtest.h>

namespace {

TEST(CliOptions, BaseIsTheRemainingArgumentsJoinedByBlanks) {
    CCliOptions o = ParseCliOptions({"my", "model", "dir/run"});
    EXPECT_EQ(o.base, "my model dir/run");
    EXPECT_TRUE(o.error.empty());
    o = ParseCliOptions({"--no-progress", "a  b"}); // inner blanks stay as given
    EXPECT_TRUE(o.noProgress);
    EXPECT_EQ(o.base, "a  b");
    o = ParseCliOptions({"model", "--no-progress"}); // options end at the base
    EXPECT_FALSE(o.noProgress);
    EXPECT_EQ(o.base, "model --no-progress");
    o = ParseCliOptions({"--", "-odd name"});
    EXPECT_EQ(o.base, "-odd name");
    o = ParseCliOptions({"-"}); // a lone dash is a name
    EXPECT_EQ(o.base, "-");
}

TEST(CliOptions, UsageErrors) {
    EXPECT_EQ(ParseCliOptions({}).error, "no model given");
    EXPECT_EQ(ParseCliOptions({"--no-progress"}).error, "no model given");
    EXPECT_EQ(ParseCliOptions({"--frobnicate", "m"}).error, "unknown option --frobnicate");
    EXPECT_TRUE(ParseCliOptions({"--help"}).help);
    EXPECT_TRUE(ParseCliOptions({"--help"}).error.empty());
    EXPECT_TRUE(ParseCliOptions({"--version"}).version);
}

} // namespace
