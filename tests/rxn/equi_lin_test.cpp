// Linear sorption equilibrium: the one-step extent, its clamps and its errors.
#include "model/exceptions.h"
#include "rxn/equi_lin.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

std::unique_ptr<CEquiLin> Build(const std::string& record, int nComp) {
    auto in = kova_test::ModelStream(record);
    return std::make_unique<CEquiLin>(*in, nComp, nullptr);
}

struct Case {
    const char* record; // stoichiometry, Kd, solute, sorbed
    std::vector<double> start;
    std::vector<double> expected;
};

TEST(EquiLin, OneStepExtentWithItsClamps) {
    const Case cases[] = {
        // Sorbs until sorbed = 3 x dissolved.
        {"0 -1 1  3  1 2 ", {0, 2, 0}, {0, 0.5, 1.5}},
        // The same reaction desorbs.
        {"0 -1 1  3  1 2 ", {0, 2, 10}, {0, 3, 9}},
        // hi = 0, lo = -1: x = -2/3 lies inside.
        {"-1 1  0.5  0 1 ", {0, 1}, {0.6666666666666666, 0.33333333333333337}},
        // Kd = 0 sends everything back to the dissolved entry (x = lo).
        {"-1 1  0  0 1 ", {1, 0.5}, {1.5, 0}},
        // A third consumed entry, already zero: hi = 0, nothing moves.
        {"-1 1 -1  2  0 1 ", {1, 0.2, 0}, {1, 0.2, 0}},
        // The extent 0.6 is clamped to 0.5, where the third entry runs out.
        {"-1 1 -1  2  0 1 ", {1, 0.2, 0.5}, {0.5, 0.7, 0}},
    };
    for (const Case& k : cases) {
        auto rxn = Build(k.record, static_cast<int>(k.start.size()));
        std::vector<double> c = k.start;
        rxn->CompEqui(c.data());
        EXPECT_EQ(c, k.expected) << "record " << k.record;
    }
}

TEST(EquiLin, FeasibilityIsTestedBeforeTheDegenerateExchange) {
    // d = 1 - 1 x 1 = 0 and the bounds cross (hi = 1 from the third entry,
    // lo = 2 from the first): the feasibility error wins.
    auto both = Build("1 1 -1  1  0 1 ", 3);
    std::vector<double> c = {-2, -2, 1};
    try {
        both->CompEqui(c.data());
        FAIL() << "no ComputeException";
    } catch (const ComputeException& e) {
        EXPECT_EQ(e.Detail(),
                  "Error, can not find a feasible solution to equilibrium linear sorption "
                  "condition");
    }
    EXPECT_EQ(c, (std::vector<double>{-2, -2, 1}));

    auto crossed = Build("-1 1  1  0 1 ", 2);
    c = {-1, -1};
    EXPECT_THROW(crossed->CompEqui(c.data()), ComputeException);
    EXPECT_EQ(c, (std::vector<double>{-1, -1}));
}

TEST(EquiLin, ExchangeThatCannotChangeTheConditionIsAnError) {
    auto rxn = Build("1 1  1  0 1 ", 2);
    std::vector<double> c = {1, 1};
    try {
        rxn->CompEqui(c.data());
        FAIL() << "no ComputeException";
    } catch (const ComputeException& e) {
        EXPECT_EQ(e.Detail(), "Problem in EQuilin Reaction");
    }
    EXPECT_EQ(c, (std::vector<double>{1, 1}));
}

TEST(EquiLin, ReadingChecksTheStreamThenTheIndices) {
    struct Bad {
        const char* record;
        bool badFile;
        const char* detail;
    };
    const Bad cases[] = {
        {"-1 1  0.5  0 2 ", false, "sorbed index 2 outside 0..1"},
        {"-1 1  0.5  -3 1 ", false, "solute index -3 outside 0..1"},
        {"-1 1  0.5  0 1", true, "Bad File"},
        {"-1 1  0.5  7", true, "Bad File"},
    };
    for (const Bad& k : cases) {
        auto in = kova_test::ModelStream(k.record);
        try {
            CEquiLin rxn(*in, 2, nullptr);
            FAIL() << "accepted: " << k.record;
        } catch (const InputException& e) {
            EXPECT_EQ(dynamic_cast<const BadFileException*>(&e) != nullptr, k.badFile) << k.record;
            EXPECT_EQ(e.Detail(), k.detail) << k.record;
        }
    }
}

} // namespace
