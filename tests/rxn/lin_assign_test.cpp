// Linear assignment: constant plus weighted sum into one entry.
#include "model/exceptions.h"
#include "rxn/lin_assign.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

std::unique_ptr<CLinAssign> Build(const std::string& record, int nComp) {
    auto in = kova_test::ModelStream(record);
    return std::make_unique<CLinAssign>(*in, nComp, nullptr);
}

TEST(LinAssign, SetsTheTargetToConstantPlusWeightedSum) {
    struct Case {
        const char* record; // weights, target, constant
        std::vector<double> start;
        std::vector<double> expected;
    };
    const Case cases[] = {
        {"0.5 0.25 0  2  1 ", {2, 4, 9}, {2, 4, 3}},
        // The target's own old value takes part in the sum.
        {"1 1 1  0  0.5 ", {1, 2, 3}, {6.5, 2, 3}},
        // No weights: the target becomes the constant.
        {"0 0 0  1  -4.25 ", {1, 2, 3}, {1, -4.25, 3}},
    };
    for (const Case& k : cases) {
        auto rxn = Build(k.record, 3);
        std::vector<double> c = k.start;
        rxn->CompEqui(c.data());
        EXPECT_EQ(c, k.expected) << "record " << k.record;
    }
}

TEST(LinAssign, AffectsHydraulicWhenTheTargetIsAHydraulicSlot) {
    const std::string weights = "0 0 0 0 0 0 0 0 ";
    EXPECT_EQ(Build(weights + "0 1 ", 8)->AffectsHydraulic(), 1);
    EXPECT_EQ(Build(weights + "6 1 ", 8)->AffectsHydraulic(), 1);
    EXPECT_EQ(Build(weights + "7 1 ", 8)->AffectsHydraulic(), 0);
    // Non-zero weights on the hydraulic slots do not count.
    EXPECT_EQ(Build("1 1 1 1 1 1 1 0  7 1 ", 8)->AffectsHydraulic(), 0);
}

TEST(LinAssign, TargetOutsideTheStateIsAnInputError) {
    for (const char* target : {"3", "-1"}) {
        auto in = kova_test::ModelStream(std::string("1 1 1  ") + target + " 0 ");
        try {
            CLinAssign rxn(*in, 3, nullptr);
            FAIL() << "target " << target << " accepted";
        } catch (const InputException& e) {
            EXPECT_EQ(e.Detail(), std::string("target index ") + target + " outside 0..2");
        }
    }
}

} // namespace
