// Injected water in whole runs: a fixed-head node's source, known only once
// the heads are, is checked before anything is written.
#include "support/engine.h"

#include <gtest/gtest.h>

#include <string>

using namespace kova_test;

namespace {

struct CHeldCase {
    const char* name;
    double headA; // held at (0, 0); (0, 2) is held at 0
    const char* place;
    const char* detail; // the refusal starts with it; empty: the run goes through
};

class HeldNodes : public ::testing::TestWithParam<CHeldCase> {};

// One row of three nodes 10 apart; (0, 1) takes water in. With headA above
// 0 the water enters at (0, 0) and leaves at (0, 2); with 0 the two ends
// exchange no water but what (0, 1) brings.
TEST_P(HeldNodes, NeedAPositiveComputedSource) {
    const TempDir dir;
    const std::string base = dir.File("m");
    const CTestModel model = CTestModel()
                                 .Grid(1, 3, {0}, {0, 10, 20})
                                 .Mobile(1, 0.1, 0)
                                 .Set(0, 0, SLOT_HEAD, GetParam().headA)
                                 .Set(0, 1, SLOT_SOURCE, 1e-3)
                                 .Fixed(0, 0)
                                 .Fixed(0, 2);
    WriteTextFile(base + ".kvi", model.Text());
    WriteTextFile(base + ".kvx", "[[inject]]\n" + std::string(GetParam().place) +
                                     "\nconcentration = { mobile_0 = 1 }\n");
    const CInProcessRun run = RunInProcess(base);
    const std::string detail = GetParam().detail;
    if (detail.empty()) {
        EXPECT_EQ(run.error, "") << (run.details.empty() ? "" : run.details[0]);
        EXPECT_TRUE(FileExists(base + ".kvo"));
        return;
    }
    EXPECT_EQ(run.error, "Input Error");
    ASSERT_EQ(run.details.size(), 1u);
    EXPECT_EQ(run.details[0].rfind(detail, 0), 0u) << run.details[0];
    const std::string file = "(file " + base + ".kvx)";
    EXPECT_EQ(run.details[0].substr(run.details[0].size() - file.size()), file) << run.details[0];
    EXPECT_FALSE(FileExists(base + ".kvo")) << "nothing is written for a refused model";
    EXPECT_FALSE(FileExists(base + ".budget.csv"));
}

const CHeldCase HELD_CASES[] = {
    {"inflow", 10, "nodes = [[0, 0], [0, 1]]", ""},
    {"outflow", 10, "nodes = [[0, 1],\n         [0, 2]]",
     "key inject[0].nodes[1] (line 3): the fixed-head node (0, 2) has the source -"},
    {"outflow_in_a_rectangle", 10, "rectangle = [0, 1, 0, 2]",
     "key inject[0].rectangle (line 2): the fixed-head node (0, 2) has the source -"},
    // Both ends held at 0: what (0, 1) brings leaves at both.
    {"both_ends_outflow", 0, "nodes = [[0, 0]]",
     "key inject[0].nodes[0] (line 2): the fixed-head node (0, 0) has the source -"},
};

INSTANTIATE_TEST_SUITE_P(Injection, HeldNodes, ::testing::ValuesIn(HELD_CASES),
                         [](const ::testing::TestParamInfo<CHeldCase>& p) {
                             return std::string(p.param.name);
                         });

// A held node with no flow at all: its computed source is 0, exactly.
TEST(Injection, AHeldNodeWithoutFlowIsRefused) {
    const TempDir dir;
    const std::string base = dir.File("m");
    const CTestModel model =
        CTestModel().Grid(1, 2, {0}, {0, 10}).Mobile(1, 0.1, 0).Fixed(0, 0).Fixed(0, 1);
    WriteTextFile(base + ".kvi", model.Text());
    WriteTextFile(base + ".kvx", "[[inject]]\nnodes = [[0, 1]]\nconcentration = { mobile_0 = 1 }\n");
    const CInProcessRun run = RunInProcess(base);
    ASSERT_EQ(run.details.size(), 1u);
    EXPECT_EQ(run.details[0].rfind("key inject[0].nodes[0] (line 2): the fixed-head node (0, 1) has "
                                   "the source 0 computed from the heads, not a positive one",
                                   0),
              0u)
        << run.details[0];
}

} // namespace
