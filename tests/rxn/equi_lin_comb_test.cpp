// Linear combination equilibrium: repeated clamped passes along the
// stoichiometry, and the pass limit.
#include "model/exceptions.h"
#include "model/limits.h"
#include "rxn/equi_lin_comb.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

std::unique_ptr<CEquiLinComb> Build(const std::string& record, int nComp) {
    auto in = kova_test::ModelStream(record);
    return std::make_unique<CEquiLinComb>(*in, nComp, nullptr);
}

// Record: stoichiometry, target, constant, weights.
TEST(EquiLinComb, ContractingPassesEndWhenAPassMovesNothing) {
    auto rxn = Build("-1 1  1 0  0.5 0 ", 2);
    std::vector<double> c = {2, 0};
    EXPECT_EQ(rxn->Settle(c.data()), 56);
    EXPECT_EQ(c, (std::vector<double>{1.3333333333333335, 0.6666666666666667}));

    // The same through the equilibrium interface.
    c = {2, 0};
    rxn->CompEqui(c.data());
    EXPECT_EQ(c, (std::vector<double>{1.3333333333333335, 0.6666666666666667}));
}

TEST(EquiLinComb, TargetWeightAndConstantTakePart) {
    auto rxn = Build("-1 1  1 0.1  0.5 0.2 ", 2);
    std::vector<double> c = {2, 0};
    rxn->CompEqui(c.data());
    EXPECT_EQ(c, (std::vector<double>{1.1538461538461533, 0.8461538461538458}));
}

TEST(EquiLinComb, UsedUpEntryStopsTheReaction) {
    auto rxn = Build("-1 1  1 0  0.5 1.5 ", 2);
    std::vector<double> c = {2, 0};
    rxn->CompEqui(c.data());
    EXPECT_EQ(c, (std::vector<double>{0, 2}));
}

TEST(EquiLinComb, AlternatingPassesThrowAfterApplyingThePassOverTheLimit) {
    // The passes swing between (0, 0.1) and (0.1, 0); pass 301 (odd, so at
    // (0, 0.1)) is applied and then the step fails.
    auto rxn = Build("-1 1  1 0  5 0 ", 2);
    std::vector<double> c = {0.1, 0};
    EXPECT_THROW(rxn->CompEqui(c.data()), TimeException);
    static_assert(EQUI_MAX_LINCOMB_PASSES % 2 == 0, "pass 301 must be an odd pass");
    EXPECT_EQ(c, (std::vector<double>{0, 0.1}));
}

TEST(EquiLinComb, ReactionThatCannotMoveTheTargetChangesNothing) {
    auto rxn = Build("0 1  0 3  1 1 ", 2);
    std::vector<double> c = {1, 2};
    EXPECT_EQ(rxn->Settle(c.data()), 0);
    EXPECT_EQ(c, (std::vector<double>{1, 2}));
}

TEST(EquiLinComb, CrossedBoundsKeepTheEarlierPasses) {
    // Both entries negative: U = -1 < L = 1 at the first pass, nothing moves.
    auto rxn = Build("-1 1  1 0  0.5 0 ", 2);
    std::vector<double> c = {-1, -1};
    EXPECT_EQ(rxn->Settle(c.data()), 0);
    EXPECT_EQ(c, (std::vector<double>{-1, -1}));
}

TEST(EquiLinComb, OneSidedBoundsClampOnlyThatSide) {
    // Only produced entries: no upper bound, so the target may rise freely;
    // the extent is exact in one pass, the second moves nothing.
    auto rxn = Build("0 1  1 5  0 0 ", 2);
    std::vector<double> c = {0, 1};
    EXPECT_EQ(rxn->Settle(c.data()), 2);
    EXPECT_EQ(c, (std::vector<double>{0, 5}));
}

TEST(EquiLinComb, ReadingChecksTheStreamThenTheTarget) {
    {
        auto in = kova_test::ModelStream("-1 1  2 0  0.5 0 ");
        try {
            CEquiLinComb rxn(*in, 2, nullptr);
            FAIL() << "target 2 accepted";
        } catch (const BadFileException&) {
            FAIL() << "reported as a bad file";
        } catch (const InputException& e) {
            EXPECT_EQ(e.Detail(), "target index 2 outside 0..1");
        }
    }
    {
        // One weight short, with a target that is out of range as well.
        auto in = kova_test::ModelStream("-1 1  9 0  0.5");
        EXPECT_THROW(CEquiLinComb(*in, 2, nullptr), BadFileException);
    }
}

} // namespace
