// The inputs the model fuzzer found faults with (fuzz/regressions), run as the
// fuzzer runs them: each must end in a finished run or a reported failure of
// the kind a model file may cause, and the known ones in the failure named.
#include "fuzz_model.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

using namespace kova_test;
using kova_fuzz::EOutcome;

namespace {

const std::string REGRESSIONS = std::string(KOVA_FUZZ_DIR) + "/regressions/";

kova_fuzz::CFuzzResult RunRegression(const std::string& name) {
    TempDir dir;
    return kova_fuzz::RunModelText(ReadTextFile(REGRESSIONS + name), dir.File("model"));
}

TEST(FuzzRegression, EveryFileEndsCleanly) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(REGRESSIONS))
        if (entry.path().extension() == ".kvi")
            names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    ASSERT_FALSE(names.empty());
    for (const std::string& name : names) {
        const kova_fuzz::CFuzzResult r = RunRegression(name);
        EXPECT_TRUE(kova_fuzz::IsCleanOutcome(r.outcome))
            << name << ": " << kova_fuzz::OutcomeName(r.outcome) << ": " << r.detail;
    }
}

// Each finding with the failure it must give now.
TEST(FuzzRegression, KnownFindingsGiveTheirFailure) {
    const struct {
        const char* name;
        EOutcome outcome;
        const char* detail;
    } cases[] = {
        // 129 x 2147483647 nodes: the band size overflowed 64 bits before the
        // node count was checked.
        {"band-size-overflow.kvi", EOutcome::INPUT_ERROR,
         "number of nodes 277025390463 exceeds the limit of 2147483647"},
        // A one-point rule curve driven by a component that became not a
        // number read a second point past the end of its table. The not-a-
        // number came from heads no fixed head held, which are now refused.
        {"rule-curve-one-point-nan.kvi", EOutcome::COMPUTE_ERROR, "held by no fixed head"},
    };
    for (const auto& c : cases) {
        const kova_fuzz::CFuzzResult r = RunRegression(c.name);
        EXPECT_EQ(r.outcome, c.outcome) << c.name << ": " << kova_fuzz::OutcomeName(r.outcome);
        EXPECT_NE(r.detail.find(c.detail), std::string::npos) << c.name << ": " << r.detail;
    }
}

} // namespace
