// What a run and --check warn of before the first step: an end before the
// start, and a reaction that would move the heads that are computed once.
#include "sim/model_warnings.h"
#include "sim/time_loop.h"
#include "support/engine.h"
#include "transport/transport_schemes.h"

#include <gtest/gtest.h>

#include <string>

using namespace kova_test;

namespace {

// One node of 7 entries, times TIMES, reaction record RXN in set SET
// (equilibrium list, kinetic list).
std::string OneNode(const std::string& times, const std::string& rxn, const std::string& set) {
    return "1 1 0 0 " + std::string(rxn.empty() ? "0" : "1") + " 1\n" + times +
           "\n0\n0\n0 0 0.3 1 1 0 0\n0\n0\n" + rxn + (rxn.empty() ? "" : "\n") + "0\n0\n" + set +
           "\n";
}

TEST(ModelWarnings, NameTheEndBeforeTheStartAndReactionsOnTheFlow) {
    const char* const times = "0 10 1 0.1 1e-6";
    const struct {
        const char* what;
        std::string model;
        std::vector<std::string> expected;
    } rows[] = {
        {"nothing to say", OneNode(times, "", "0 0"), {}},
        {"end before start",
         OneNode("10 2 1 0.1 1e-6", "", "0 0"),
         {"the end time 2 is before the start time 10; the run writes the state at the start "
          "time only"}},
        {"end at the start", OneNode("10 10 1 0.1 1e-6", "", "0 0"), {}},
        {"assignment of the source",
         OneNode(times, "1  0 0 0 0 0 0 0  1 0.5", "1 0  0"),
         {"reaction record 0 changes the water source of node (0, 0) during the run, but the "
          "heads and the flow field are those of the start time for the whole run"}},
        {"decay of the column conductivity",
         OneNode(times, "2  0 0 0 0 -1 0 0  1 4 0.1", "0  1 0"),
         {"reaction record 0 changes the conductivity of node (0, 0) during the run, but the "
          "heads and the flow field are those of the start time for the whole run"}},
        // Listed in no set a node uses: it changes nothing.
        {"assignment in no set", OneNode(times, "1  0 0 0 0 0 0 0  1 0.5", "0 0"), {}},
        // The porosity and the head move no flux.
        {"assignment of the porosity", OneNode(times, "1  0 0 0 0 0 0 0  2 0.5", "1 0  0"), {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        CEngine engine;
        engine.Read(row.model);
        EXPECT_EQ(ModelWarnings(engine.sim, engine.rx), row.expected);
    }
}

// A fixed-head node that the head sweeps leave alone (k_row 0) while water
// reaches it along its row (k_col above 0) keeps the model file's source: the
// budgets cannot close, and the warning names how many and the first.
TEST(ModelWarnings, AFixedHeadWithoutKRowIsNamed) {
    const std::string heldSource = " k_row 0 and k_col above 0: the heads leave its water source "
                                   "at the model file's value, not the water its held head takes "
                                   "from or gives to its neighbours, so the water and mass budgets "
                                   "do not close there; a k_row above 0 has it computed";
    const struct {
        const char* what;
        const char* node; // head source porosity k_row k_col
        const char* fixed;
        std::string expected;
    } rows[] = {
        {"k_row 0", "1 0.1 0.3 0 1", "1\n0 2", "the fixed-head node (0, 2) has" + heldSource},
        {"two of them", "1 0.1 0.3 0 1", "2\n0 0\n0 2",
         "2 fixed-head nodes, the first (0, 0), have" + heldSource},
        {"k_row above 0", "1 0.1 0.3 1 1", "1\n0 2", ""},
        {"no flow at all", "1 0.1 0.3 0 0", "1\n0 2", ""},
        {"no fixed head", "1 0.1 0.3 0 1", "0", ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        CEngine engine;
        engine.Read(std::string("1 3 0 0 0 1\n0 1 1 0 1e-6\n0\n0 1 2\n") + row.node + " 0 0\n0\n" +
                    row.fixed + "\n0\n0\n0 0\n");
        EXPECT_EQ(HeldSourceWarning(engine.sim), row.expected);
    }
}

// A computed step that a node of tiny porosity sets so small that the run
// would take more than a million steps is said, naming that node; the same
// model with that node like the others is not.
TEST(ModelWarnings, AComputedStepOfTooManyStepsNamesItsNode) {
    for (const char* porosity : {"1e-12", "0.3"}) {
        SCOPED_TRACE(porosity);
        CEngine e;
        e.Read(std::string("1 3 0 1 0 1 0 8 1 0 1e-9\n0\n0 1 2\n0 0 1\n0 0 0.3 1 1 0 0 0\n"
                           "2  0 1 2 ") +
               porosity + "  0 0 7 1\n3  0 0  0 1  0 2\n0\n0\n0\n0 0\n");
        e.Heads();
        const CTransportChoice choice(e.sim);
        PrepareFlowAndStep(e.sim);
        if (std::string(porosity) == "0.3") {
            EXPECT_EQ(e.sink.warnings, std::vector<std::string>{});
            continue;
        }
        ASSERT_EQ(e.sink.warnings.size(), 1u);
        const std::string& w = e.sink.warnings[0];
        EXPECT_EQ(w.rfind("the global step ", 0), 0u) << w;
        EXPECT_NE(w.find(", set by node (0, 1) of porosity 9.9999999999999998e-13, takes 2.4e+12 "
                         "global steps to reach the end time 8: the run may not end in any "
                         "reasonable time"),
                  std::string::npos)
            << w;
    }
}

} // namespace
