// kova-plot --budget and --observe on tables written by hand beside a shipped
// example model, as a user runs them. A stand-in for gnuplot keeps the script
// and the data it was given, so the test sees exactly what would be drawn.
#include "support/result_fixture.h"
#include "support/test_support.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace kova_test;

namespace {

std::string Output(const ProcessResult& r) {
    return "exit " + std::to_string(r.exitCode) + "\nstdout:\n" + r.out + "stderr:\n" + r.err;
}

const char* const BUDGET = "time_start,time_end,entry,term,mass\n"
                           "0,10,water,fixed_head_inflow,12.5\n"
                           "0,10,water,fixed_head_outflow,-12.5\n"
                           "0,10,water,sources,0\n"
                           "0,10,water,sinks,0\n"
                           "0,10,water,discrepancy,1.2e-15\n"
                           "0,10,NH4,storage_start,100\n"
                           "0,10,NH4,storage_end,90\n"
                           "0,10,NH4,sinks,-4\n"
                           "0,10,NH4,transport,1e-16\n"
                           "0,10,NH4,reaction 0 CKinOrdered,-6\n"
                           "0,10,NH4,discrepancy,0\n"
                           "0,10,O2,storage_start,8\n"
                           "0,10,O2,storage_end,8\n"
                           "0,10,O2,discrepancy,0\n"
                           "10,20,NH4,storage_start,90\n"
                           "10,20,NH4,storage_end,85\n"
                           "10,20,NH4,sinks,-2\n"
                           "10,20,NH4,transport,-1e-16\n"
                           "10,20,NH4,reaction 0 CKinOrdered,-3\n"
                           "10,20,NH4,discrepancy,0.25\n"
                           "10,20,O2,storage_start,8\n"
                           "10,20,O2,storage_end,7.5\n"
                           "10,20,O2,discrepancy,-0.5\n";

const char* const WELLS = "time,MW1:NH4,MW2:NH4,MW1:mobile_0\n"
                          "0,1,5,0.5\n"
                          "0.10000000000000001,1.25,5,nan\n"
                          "0.20000000000000001,2,6,0.75\n";

// The two-node example with hand-written tables beside it, and a gnuplot
// stand-in that keeps its script and data in kept/ and draws a PNG signature.
struct CTableSetup {
    TempDir dir;
    std::string base = StageModel(dir, KOVA_EXAMPLES_DIR, "two_nodes");
    std::string picture = dir.File("picture.png");
    std::string kept = dir.File("kept");
    std::string fake = dir.File("gnuplot");

    CTableSetup() {
        WriteTextFile(base + ".budget.csv", BUDGET);
        WriteTextFile(base + ".obs.csv", WELLS);
        std::filesystem::create_directory(kept);
        WriteTextFile(fake, "#!/bin/sh\n"
                            "cp \"$1\" " +
                                kept +
                                "/plot.gp\n"
                                "data=$(sed -n \"s/^KOVA_DATA = '\\(.*\\)'\\$/\\1/p\" \"$1\")\n"
                                "cp \"$data\" " +
                                kept +
                                "/plot.dat\n"
                                "out=$(sed -n \"s/^set output '\\(.*\\)'\\$/\\1/p\" \"$1\")\n"
                                "printf '\\211PNG\\r\\n\\032\\n' > \"$out\"\n");
        chmod(fake.c_str(), 0755);
    }

    ProcessResult Plot(std::vector<std::string> args) const {
        args.insert(args.begin(), {"KOVA_GNUPLOT=" + fake, KOVA_PLOT_BIN});
        args.insert(args.end(), {"-o", picture});
        return RunProgram("/usr/bin/env", args);
    }
    std::string Script() const { return ReadTextFile(kept + "/plot.gp"); }
    std::string Data() const { return ReadTextFile(kept + "/plot.dat"); }
};

TEST(PlotTables, TheBudgetDrawsStorageAndSummedChangesPerEntry) {
    CTableSetup setup;
    const ProcessResult r = setup.Plot({setup.base, "--budget"});
    ASSERT_EQ(r.exitCode, 0) << Output(r);
    EXPECT_EQ(r.out, setup.picture + "\n");
    EXPECT_EQ(r.err, "");
    // A block per entry, water left out: time, storage, then the sums of
    // sinks, transport, the reaction and the discrepancy (NH4), of the
    // discrepancy (O2).
    EXPECT_EQ(setup.Data(), "0 100 0 0 0 0\n"
                            "10 90 -4 9.9999999999999998e-17 -6 0\n"
                            "20 85 -6 0 -9 0.25\n"
                            "\n\n"
                            "0 8 0\n"
                            "10 8 0\n"
                            "20 7.5 -0.5\n");
    const std::string script = setup.Script();
    for (const char* part :
         {"set multiplot layout 1,2", "set title 'NH4'", "set title 'O2'", "set xlabel 'time'\n",
          "set ylabel 'mass'\n", "index 0 using 1:5", "title 'reaction 0 CKinOrdered (sum)'",
          "index 1 using 1:3", "title 'discrepancy (sum)'", "unset multiplot"})
        EXPECT_NE(script.find(part), std::string::npos) << part << " not in\n" << script;
    EXPECT_EQ(script.find("water"), std::string::npos) << script;
}

TEST(PlotTables, AWellDrawsItsEntriesAtEveryStep) {
    CTableSetup setup;
    // The table's own name stands for BASE too.
    const ProcessResult r = setup.Plot({setup.base + ".obs.csv", "--observe", "--well", "MW1"});
    ASSERT_EQ(r.exitCode, 0) << Output(r);
    EXPECT_EQ(setup.Data(), "0 1 0.5\n"
                            "0.10000000000000001 1.25 ?\n"
                            "0.20000000000000001 2 0.75\n");
    const std::string script = setup.Script();
    for (const char* part : {"set title 'two_nodes: well MW1'", "using 1:2", "title 'NH4'",
                             "using 1:3", "title 'mobile_0'", "set ylabel 'value'"})
        EXPECT_NE(script.find(part), std::string::npos) << part << " not in\n" << script;
}

// A title tells the time a person reads, in the model's time unit, not the
// index of a record.
TEST(PlotTables, ATitleGivesTheTimeInTheModelsUnit) {
    const struct {
        const char* what;
        const char* units;             // the [units] of m.kvx; empty: no extension file
        std::vector<std::string> args; // m is put first
        std::string title;             // m: stands for the stem
        std::string notice;            // stderr
    } cases[] = {
        // clang-format off
        {"a record", "time = \"d\"", {"--entry", "mobile_0", "--record", "2"},
         "m: mobile_0 at t = 5 d", ""},
        {"the last record", "time = \"yr\"", {"--entry", "head"}, "m: head at t = 10 yr", ""},
        {"the record nearest a time", "time = \"h\"", {"--entry", "head", "--time", "4.2"},
         "m: head at t = 5 h", "kova-plot: no record at t = 4.2 h; drawing record 2 at t = 5 h\n"},
        {"no time unit", "", {"--entry", "head", "--time", "9.5"}, "m: head at t = 10",
         "kova-plot: no record at t = 9.5; drawing record 4 at t = 10\n"},
        {"a length unit alone", "length = \"m\"", {"--entry", "head", "--record", "0"},
         "m: head at t = 0", ""},
        {"the budget", "time = \"d\"", {"--budget"},
         "m: mass budget, storage and each change summed from t = 0 d", ""},
        // clang-format on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        CTableSetup setup;
        const std::string base = setup.dir.File("m");
        CResultFixture().Write(base);
        WriteTextFile(base + ".budget.csv", BUDGET);
        if (*c.units != '\0')
            WriteTextFile(base + ".kvx", std::string("[units]\n") + c.units + "\n");
        std::vector<std::string> args = {base};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const ProcessResult r = setup.Plot(args);
        ASSERT_EQ(r.exitCode, 0) << Output(r);
        EXPECT_EQ(r.err, c.notice);
        const std::string script = setup.Script();
        // The title ends there, or a field's note of grey nodes follows.
        const size_t at = script.find("title '" + c.title);
        ASSERT_NE(at, std::string::npos) << script;
        EXPECT_NE(std::string("';").find(script[at + 7 + c.title.size()]), std::string::npos)
            << script;
        EXPECT_EQ(script.find("record"), std::string::npos) << script;
    }
}

TEST(PlotTables, WhatCannotBeDrawnIsNamedAndNoPictureIsWritten) {
    const struct {
        const char* what;
        std::vector<std::string> args; // BASE is put first
        std::string budget;            // the budget file; empty: as in BUDGET
        std::string err;               // after "kova-plot: "; BASE stands for the base
        int exitCode;
    } cases[] = {
        {"an unknown well",
         {"--observe", "--well", "MW3"},
         "",
         "--well MW3 names no well; BASE.obs.csv has the wells MW1, MW2\n",
         1},
        {"no well", {"--observe"}, "", "no --well given; BASE.obs.csv has the wells MW1, MW2\n", 1},
        {"a bad budget line",
         {"--budget"},
         "time_start,time_end,entry,term,mass\n0,10,NH4,storage_start,lots\n",
         "BASE.budget.csv line 2, column 24: mass \"lots\" is not a number\n",
         1},
        {"a budget with only water",
         {"--budget"},
         "time_start,time_end,entry,term,mass\n0,10,water,sinks,0\n",
         "BASE.budget.csv: no entry but water, so no mass to draw\n",
         1},
        {"the budget with a field",
         {"--budget", "--entry", "head"},
         "",
         "--budget draws its own table; --entry, --node, --record and --time do not apply\n",
         2},
        {"both tables", {"--budget", "--observe"}, "", "give --budget or --observe, not both\n", 2},
        {"a well without --observe",
         {"--entry", "head", "--well", "MW1"},
         "",
         "--well goes with --observe\n",
         2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        CTableSetup setup;
        if (!c.budget.empty())
            WriteTextFile(setup.base + ".budget.csv", c.budget);
        std::vector<std::string> args = c.args;
        args.insert(args.begin(), setup.base);
        const ProcessResult r = setup.Plot(args);
        EXPECT_EQ(r.exitCode, c.exitCode) << Output(r);
        std::string err = c.err;
        for (size_t at; (at = err.find("BASE")) != std::string::npos;)
            err.replace(at, 4, setup.base);
        EXPECT_EQ(r.err.substr(0, std::min(r.err.size(), 11 + err.size())), "kova-plot: " + err);
        EXPECT_FALSE(FileExists(setup.picture));
        EXPECT_FALSE(FileExists(setup.kept + "/plot.gp")) << "gnuplot ran";
    }

    // The model is needed for its units; without it the tables are not drawn.
    CTableSetup setup;
    std::remove((setup.base + ".kvi").c_str());
    const ProcessResult r = setup.Plot({setup.base, "--budget"});
    EXPECT_EQ(r.exitCode, 1) << Output(r);
    EXPECT_NE(r.err.find(setup.base + ".kvi"), std::string::npos) << r.err;
    EXPECT_FALSE(FileExists(setup.picture));
}

} // namespace
