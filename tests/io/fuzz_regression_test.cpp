// The inputs the model fuzzer found faults with (fuzz/regressions), run as the
// fuzzer runs them: each ends in a finished run or a failure a model file may
// cause, and the known ones in the failure named.
#include "fuzz_model.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

using namespace kova_test;

TEST(FuzzRegression, EveryFindingEndsCleanly) {
    // 129 x 2147483647 nodes: the band size overflowed 64 bits before the node
    // count was checked. A one-point rule curve driven by a component that
    // became not a number read a second point past the end of its table.
    std::map<std::string, std::string> known = {
        {"band-size-overflow.kvi",
         "Input Error: number of nodes 277025390463 exceeds the limit of 2147483647"},
        {"rule-curve-one-point-nan.kvi", "finished: "}};
    const std::string dir = std::string(KOVA_FUZZ_DIR) + "/regressions/";
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        if (entry.path().extension() != ".kvi")
            continue;
        const std::string name = entry.path().filename().string();
        TempDir run;
        const kova_fuzz::CFuzzResult r =
            kova_fuzz::RunModelText(ReadTextFile(entry.path().string()), run.File("model"));
        const std::string outcome =
            std::string(kova_fuzz::OutcomeName(r.outcome)) + ": " + r.detail;
        EXPECT_TRUE(kova_fuzz::IsCleanOutcome(r.outcome)) << name << ": " << outcome;
        if (known.count(name)) {
            EXPECT_EQ(outcome.rfind(known[name], 0), 0u) << name << ": " << outcome;
        }
        known.erase(name);
    }
    EXPECT_TRUE(known.empty()) << "a known finding is gone";
}
