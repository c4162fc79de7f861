// The inputs the model fuzzer found faults with (fuzz/regressions), run as the
// fuzzer runs them: each ends in a finished run or a failure a model file may
// cause. (What the known ones must give is in the reader's and the reactions'
// tables: a node count beyond 32 bits, a one-point curve of a driver that is
// not a number.)
#include "fuzz_model.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace kova_test;

TEST(FuzzRegression, EveryFindingEndsCleanly) {
    int files = 0;
    for (const auto& entry :
         std::filesystem::directory_iterator(std::string(KOVA_FUZZ_DIR) + "/regressions")) {
        if (entry.path().extension() != ".kvi")
            continue;
        TempDir run;
        const kova_fuzz::CFuzzResult r =
            kova_fuzz::RunModelText(ReadTextFile(entry.path().string()), run.File("model"));
        EXPECT_TRUE(kova_fuzz::IsCleanOutcome(r.outcome))
            << entry.path() << ": " << kova_fuzz::OutcomeName(r.outcome) << ": " << r.detail;
        ++files;
    }
    EXPECT_GE(files, 2);
}
