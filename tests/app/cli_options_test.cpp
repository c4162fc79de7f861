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

TEST(CliOptions, ThreadsAndTimings) {
    CCliOptions o = ParseCliOptions({"m"});
    EXPECT_EQ(o.threads, 0); // all hardware threads
    EXPECT_FALSE(o.timings);
    o = ParseCliOptions({"--threads", "3", "--timings", "m"});
    EXPECT_EQ(o.threads, 3);
    EXPECT_TRUE(o.timings);
    EXPECT_EQ(o.base, "m");
    o = ParseCliOptions({"--threads=1024", "m"});
    EXPECT_EQ(o.threads, 1024);
    EXPECT_TRUE(o.error.empty());
    for (const char* bad : {"0", "1025", "-1", "2x", "", " 2", "99999999999"}) {
        o = ParseCliOptions({"--threads", bad, "m"});
        EXPECT_EQ(o.error,
                  std::string("--threads needs a whole number from 1 to 1024, not '") + bad + "'")
            << "value '" << bad << "'";
    }
    EXPECT_EQ(ParseCliOptions({"--threads"}).error,
              "--threads needs a whole number from 1 to 1024, not ''");
}

} // namespace
