// The extent-solving equilibrium reactions: mass action, Langmuir, Freundlich.
#include "model/exceptions.h"
#include "rxn/equi.h"
#include "rxn/equi_freundlich.h"
#include "rxn/equi_langmuir.h"
#include "rxn/equi_mass_action.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

template <class T> std::unique_ptr<T> Build(const std::string& record, int nComp) {
    auto in = kova_test::ModelStream(record);
    return std::make_unique<T>(*in, nComp, nullptr);
}

std::string Show(const std::vector<double>& v) {
    std::string text = "(";
    for (size_t i = 0; i < v.size(); ++i) {
        char buffer[40];
        std::snprintf(buffer, sizeof buffer, "%s%.17g", i ? ", " : "", v[i]);
        text += buffer;
    }
    return text + ")";
}

void ExpectNear(const std::vector<double>& actual, const std::vector<double>& expected,
                double relative) {
    ASSERT_EQ(actual.size(), expected.size());
    for (size_t i = 0; i < actual.size(); ++i)
        EXPECT_NEAR(actual[i], expected[i], relative * std::fabs(expected[i]))
            << "entry " << i << " of " << Show(actual) << ", expected " << Show(expected);
}

// A + B = P: stoichiometry and exponents (-1, -1, 1), Keq = 10.
const char* const A_PLUS_B_RECORD = "-1 -1 1  -1 -1 1  10 ";

TEST(EquiMassAction, ForwardReactionReachesKeq) {
    auto rxn = Build<CEquiMassAction>(A_PLUS_B_RECORD, 3);
    std::vector<double> c = {1, 2, 0.5};
    rxn->CompEqui(c.data());
    ExpectNear(c, {0.12268120235368551, 1.1226812023536854, 1.3773187976463146}, 1e-12);
    EXPECT_NEAR(c[2] / (c[0] * c[1]), 10.0, 1e-10) << Show(c);
}

TEST(EquiMassAction, AbsentReactantRunsTheReactionBackwards) {
    // hi = 0: A is absent, so only a negative extent is feasible.
    auto rxn = Build<CEquiMassAction>(A_PLUS_B_RECORD, 3);
    std::vector<double> c = {0, 2, 0.5};
    rxn->CompEqui(c.data());
    ExpectNear(c, {0.0235455, 2.0235455, 0.4764545}, 1e-5);
    EXPECT_NEAR(c[2] / (c[0] * c[1]), 10.0, 1e-10) << Show(c);
    EXPECT_DOUBLE_EQ(c[1] - c[0], 2.0) << Show(c);
}

TEST(EquiMassAction, IsomerisationSettlesExactly) {
    auto rxn = Build<CEquiMassAction>("-1 1  -1 1  0.5 ", 2);
    std::vector<double> c = {3, 0};
    rxn->CompEqui(c.data());
    EXPECT_EQ(c, (std::vector<double>{2, 1})) << Show(c);
}

TEST(EquiMassAction, EqualTrialExtentsLeaveTheStateAtTheLowerBound) {
    // Product absent: lo = 0 and lo + 1 >= hi = 1, so both trial extents are lo
    // and the iteration stops at once with the extent 0.
    auto rxn = Build<CEquiMassAction>(A_PLUS_B_RECORD, 3);
    std::vector<double> c = {1, 2, 0};
    rxn->CompEqui(c.data());
    EXPECT_EQ(c, (std::vector<double>{1, 2, 0})) << Show(c);
}

TEST(EquiMassAction, ZeroResidualAtTheStartLeavesTheStateUntouched) {
    // lo < 0 < hi and Q(0) = -ln 2 - ln 1 + ln 2 = 0 exactly.
    auto rxn = Build<CEquiMassAction>("-1 1  -1 1  2 ", 2);
    std::vector<double> c = {1, 2};
    ASSERT_EQ(rxn->CompQ(0, c.data()), 0.0);
    rxn->CompEqui(c.data());
    EXPECT_EQ(c, (std::vector<double>{1, 2}));
}

TEST(EquiMassAction, CrossedBoundsLeaveTheStateUnchanged) {
    // hi = -1, lo = 1: no extent repairs both negative entries; no error.
    auto rxn = Build<CEquiMassAction>("-1 1  -1 1  2 ", 2);
    std::vector<double> c = {-1, -1};
    rxn->CompEqui(c.data());
    EXPECT_EQ(c, (std::vector<double>{-1, -1}));
}

TEST(EquiMassAction, ResidualFloorsVanishingEntries) {
    auto rxn = Build<CEquiMassAction>("-1 1  -1 2  3 ", 2);
    const double c[] = {0, 0.5};
    // -ln 3 - ln(1e-50) + 2 ln 0.5, in that order.
    const double expected = -std::log(3.0) + -1 * std::log(1e-50) + 2 * std::log(0.5);
    EXPECT_EQ(rxn->CompQ(0, c), expected);
    // x = -1 drives the second entry below zero: floored as well.
    const double floored = -std::log(3.0) + -1 * std::log(1.0) + 2 * std::log(1e-50);
    EXPECT_EQ(rxn->CompQ(-1, c), floored);
}

TEST(EquiMassAction, ZeroStoichiometryReadsButFailsAtItsFirstSweep) {
    auto rxn = Build<CEquiMassAction>("0 0 0  1 1 1  2 ", 3);
    std::vector<double> c = {1, 2, 3};
    try {
        rxn->CompEqui(c.data());
        FAIL() << "no ComputeException";
    } catch (const ComputeException& e) {
        EXPECT_EQ(e.Detail(), "No Stiometry for an equilibrium Reaction.");
    }
    EXPECT_EQ(c, (std::vector<double>{1, 2, 3}));
}

TEST(EquiMassAction, KeqMustBePositive) {
    for (const char* keq : {"0 ", "-2 "}) {
        auto in = kova_test::ModelStream(std::string("-1 1  -1 1  ") + keq);
        try {
            CEquiMassAction rxn(*in, 2, nullptr);
            FAIL() << "Keq " << keq << " accepted";
        } catch (const BadFileException&) {
            FAIL() << "Keq " << keq << " reported as a bad file";
        } catch (const InputException& e) {
            EXPECT_EQ(e.Detail(), "Equilibrium Equaitons must have a positive Keq") << keq;
        }
    }
}

TEST(EquiMassAction, MissingKeqFailsTheKeqTestBeforeTheStreamTest) {
    auto in = kova_test::ModelStream("-1 1  -1 1");
    try {
        CEquiMassAction rxn(*in, 2, nullptr);
        FAIL() << "a record without Keq was accepted";
    } catch (const InputException& e) {
        EXPECT_EQ(e.Detail(), "Equilibrium Equaitons must have a positive Keq");
    }
}

TEST(EquiMassAction, EndOfFileAfterKeqIsABadFile) {
    auto in = kova_test::ModelStream("-1 1  -1 1  2");
    EXPECT_THROW(CEquiMassAction(*in, 2, nullptr), BadFileException);
}

// Sorption of entry 1 onto entry 3: stoichiometry (0, -1, 0, 1), A = 0.7, B = 0.6.
const char* const SORPTION_RECORD = "0 -1 0 1  0.7 0.6  1 3 ";

TEST(EquiLangmuir, ResidualAndSolve) {
    auto rxn = Build<CEquiLangmuir>(SORPTION_RECORD, 4);
    std::vector<double> c = {0, 2, 0, 0.3};
    EXPECT_EQ(rxn->CompQ(0, c.data()), 0.23846153846153845);
    rxn->CompEqui(c.data());
    ExpectNear(c, {0, 1.77671453348037, 0, 0.52328546651963}, 1e-12);
    EXPECT_NEAR(0.7 * c[1] / (c[1] + 0.6), c[3], 1e-12) << Show(c);
}

TEST(EquiFreundlich, Solve) {
    auto rxn = Build<CEquiFreundlich>(SORPTION_RECORD, 4);
    std::vector<double> c = {0, 2, 0, 0.3};
    rxn->CompEqui(c.data());
    EXPECT_EQ(c, (std::vector<double>{0, 1.4317887522650687, 0, 0.8682112477349313})) << Show(c);
    EXPECT_NEAR(0.7 * std::pow(c[1], 0.6), c[3], 1e-12) << Show(c);
}

TEST(EquiFreundlich, RootBeyondABoundSettlesOnIt) {
    // Entry 2 is consumed along with the solute and runs out at x = 0.05, well
    // before the isotherm is met: the extent is that bound.
    auto rxn = Build<CEquiFreundlich>("0 -1 -1 1  50 1  1 3 ", 4);
    std::vector<double> c = {0, 0.5, 0.05, 0.1};
    rxn->CompEqui(c.data());
    EXPECT_EQ(c[2], 0.0) << Show(c);
    ExpectNear(c, {0, 0.45, 0, 0.15}, 1e-15);
}

TEST(EquiLangmuir, EqualTrialExtentsLeaveTheStateAtTheLowerBound) {
    // Nothing sorbed yet and less than one unit dissolved: lo = 0 and
    // lo + 1 >= hi, so the extent is lo and the state stays as it is.
    auto rxn = Build<CEquiLangmuir>(SORPTION_RECORD, 4);
    std::vector<double> c = {0, 0.5, 0, 0};
    rxn->CompEqui(c.data());
    EXPECT_EQ(c, (std::vector<double>{0, 0.5, 0, 0})) << Show(c);
}

TEST(EquiIsotherms, IndicesAreCheckedAfterTheStreamTest) {
    struct Case {
        const char* record;
        bool badFile;
        const char* detail;
    };
    const Case cases[] = {
        {"0 -1 0 1  0.7 0.6  4 3 ", false, "solute index 4 outside 0..3"},
        {"0 -1 0 1  0.7 0.6  1 -1 ", false, "sorbed index -1 outside 0..3"},
        {"0 -1 0 1  0.7 0.6  9", true, "Bad File"},
        {"0 -1 0 1  0.7 0.6  1 x ", true, "Bad File"},
    };
    for (const Case& k : cases) {
        for (int type = 0; type < 2; ++type) {
            auto in = kova_test::ModelStream(k.record);
            try {
                if (type == 0)
                    CEquiLangmuir(*in, 4, nullptr);
                else
                    CEquiFreundlich(*in, 4, nullptr);
                FAIL() << "accepted: " << k.record;
            } catch (const InputException& e) {
                EXPECT_EQ(dynamic_cast<const BadFileException*>(&e) != nullptr, k.badFile)
                    << k.record;
                EXPECT_EQ(e.Detail(), k.detail) << k.record;
            }
        }
    }
}

// A residual whose sign flips at 0.3 and is never near zero: the secant
// passes can never settle.
class CStepResidual : public CEqui {
public:
    using CEqui::CEqui;
    double CompQ(double x, const double*) const override {
        ++m_calls;
        return x > 0.3 ? 1.0 : -1.0;
    }
    mutable int m_calls = 0;
};

TEST(Equi, UnsettledIterationIsATimeExceptionWithTheStateUnchanged) {
    // lo = -0.5 < 0 < hi = 1: the trials cycle through the bounds and the
    // midpoints without ever meeting the tolerance.
    auto rxn = Build<CStepResidual>("-1 1 ", 2);
    std::vector<double> c = {1, 0.5};
    EXPECT_THROW(rxn->CompEqui(c.data()), TimeException);
    EXPECT_EQ(c, (std::vector<double>{1, 0.5}));
    // Q(0) at the start, the two trial extents, one per pass.
    EXPECT_EQ(rxn->m_calls, 3 + 300);
}

} // namespace
