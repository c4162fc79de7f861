// The command line of kova-compute: options first, then the base path.
#include "app/cli_options.h"

#include <gtest/gtest.h>

namespace {

TEST(CliOptions, OptionsThenTheBaseJoinedByBlanks) {
    const struct {
        std::vector<std::string> args;
        std::string base, error;
        bool noProgress = false, check = false, timings = false;
        int threads = 0; // 0: all hardware threads
    } rows[] = {
        {{"my", "model", "dir/run"}, "my model dir/run", ""},
        {{"--no-progress", "a  b"}, "a  b", "", true},           // inner blanks stay as given
        {{"model", "--no-progress"}, "model --no-progress", ""}, // options end at the base
        {{"--", "-odd name"}, "-odd name", ""},
        {{"-"}, "-", ""}, // a lone dash is a name
        {{"--check", "models/m"}, "models/m", "", false, true},
        {{"--threads", "3", "--timings", "m"}, "m", "", false, false, true, 3},
        {{"--threads=1024", "m"}, "m", "", false, false, false, 1024},
        {{}, "", "no model given"},
        {{"--no-progress"}, "", "no model given", true},
        {{"--frobnicate", "m"}, "", "unknown option --frobnicate"},
        {{"--threads"}, "", "--threads needs a whole number from 1 to 1024, not ''"},
    };
    for (const auto& row : rows) {
        const CCliOptions o = ParseCliOptions(row.args);
        EXPECT_EQ(o.error, row.error) << row.base;
        if (!row.error.empty())
            continue;
        EXPECT_EQ(o.base, row.base);
        EXPECT_EQ(o.noProgress, row.noProgress) << row.base;
        EXPECT_EQ(o.check, row.check) << row.base;
        EXPECT_EQ(o.timings, row.timings) << row.base;
        EXPECT_EQ(o.threads, row.threads) << row.base;
    }
    for (const char* bad : {"0", "1025", "-1", "2x", "", " 2", "99999999999"})
        EXPECT_EQ(ParseCliOptions({"--threads", bad, "m"}).error,
                  std::string("--threads needs a whole number from 1 to 1024, not '") + bad + "'");
    EXPECT_TRUE(ParseCliOptions({"--help"}).help);
    EXPECT_TRUE(ParseCliOptions({"--version"}).version);
    // Answered without a model, like --version.
    EXPECT_TRUE(ParseCliOptions({"--reaction-types"}).reactionTypes);
    EXPECT_EQ(ParseCliOptions({"--reaction-types"}).error, "");
    EXPECT_TRUE(ParseCliOptions({"--no-budget", "m"}).noBudget);
    EXPECT_TRUE(ParseCliOptions({"--progress=json", "m"}).progressJson);
    EXPECT_EQ(ParseCliOptions({"--progress=xml", "m"}).error, "unknown option --progress=xml");
}

// What the run takes from the command line: the threads it is given, whether
// --threads asked for them (a small grid then takes no fewer), and the budget.
TEST(CliOptions, RunSettingsFollowTheOptions) {
    const struct {
        std::vector<std::string> args;
        bool forced;
        bool keepBudget;
    } rows[] = {
        {{"m"}, false, true},
        {{"--threads", "3", "m"}, true, true},
        {{"--no-budget", "m"}, false, false},
        {{"--threads=2", "--no-budget", "m"}, true, false},
    };
    for (const auto& row : rows) {
        const CRunSettings settings = RunSettingsOf(ParseCliOptions(row.args), 5);
        EXPECT_EQ(settings.m_threads, 5) << row.args[0];
        EXPECT_EQ(settings.m_threadsForced, row.forced) << row.args[0];
        EXPECT_EQ(settings.m_keepBudget, row.keepBudget) << row.args[0];
    }
}

// --continue and --until T, in either spelling, reach the run's settings.
TEST(CliOptions, ContinueAndUntil) {
    const struct {
        std::vector<std::string> args;
        std::string error;
        bool resume = false, untilGiven = false;
        double until = 0.0;
    } rows[] = {
        {{"--continue", "m"}, "", true},
        {{"--continue", "--until", "250", "m"}, "", true, true, 250.0},
        {{"--until=1e3", "--continue", "m"}, "", true, true, 1000.0},
        {{"--continue", "--until", "-2.5", "m"}, "", true, true, -2.5},
        {{"--until", "250", "m"},
         "--until goes with --continue: a new run ends at its model's "
         "end time"},
        {{"--continue", "--until", "inf", "m"},
         "--until needs a time (a finite number), not 'inf'"},
        {{"--continue", "--until", "1e999", "m"},
         "--until needs a time (a finite number), not '1e999'"},
        {{"--continue", "--until=", "m"}, "--until needs a time (a finite number), not ''"},
        {{"--continue", "--until", "5 d", "m"},
         "--until needs a time (a finite number), not '5 d'"},
        {{"--continue", "--check", "m"},
         "--check reads a model and runs nothing: it does not go on with --continue"},
    };
    for (const auto& row : rows) {
        const CCliOptions o = ParseCliOptions(row.args);
        EXPECT_EQ(o.error, row.error) << row.args[1];
        if (!row.error.empty())
            continue;
        const CRunSettings settings = RunSettingsOf(o, 1);
        EXPECT_EQ(settings.m_continue, row.resume) << row.args[1];
        EXPECT_EQ(settings.m_untilGiven, row.untilGiven) << row.args[1];
        EXPECT_EQ(settings.m_until, row.until) << row.args[1];
    }
}

} // namespace
