// The local integration of one node over a global step: predictor and
// corrector, the halving of a failed local step, the node's fraction and hold,
// and the endings below opzero and below 2^-24 of the global step.
#include "io/rxn_factory.h"
#include "rxn/rxn_set.h"
#include "rxn/rxn_work.h"
#include "support/engine.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>

using namespace kova_test;

namespace {

constexpr int NCOMP = 9; // 7 hydraulic slots, 1 immobile, 1 mobile

// One node and a set of stand-in (or real) reactions.
struct CNode {
    CRunControl control{"m"};
    std::vector<std::unique_ptr<CRxn>> rxns;
    CRxnSet set{&control};
    double start[NCOMP] = {};
    double state[NCOMP] = {}; // on entry: the change over the previous step
    double transport[NCOMP] = {};
    double fraction = 1.0;
    int hold = 0;
    int calls = 0; // of the stand-ins
    CRxnWork work{NCOMP};

    // A kinetic rate adding rate x h to entry 7; while h is above failAbove
    // its change flips sign from call to call, so the corrector never settles.
    CNode& Rate(double rate, double failAbove) {
        double sign = 1.0;
        rxns.push_back(std::make_unique<CStandInRxn>(
            NCOMP, nullptr, [=](const double*, double* delta, double h) mutable {
                ++calls;
                delta[7] += h > failAbove ? (sign = -sign) : rate * h;
            }));
        return *this;
    }
    // An equilibrium flipping entry 7 between 1 and 2 for its first calls.
    CNode& Equi(int unsettledCalls) {
        rxns.push_back(std::make_unique<CStandInRxn>(NCOMP, nullptr, nullptr, [=](double* c) {
            if (++calls <= unsettledCalls)
                c[7] = c[7] == 1.0 ? 2.0 : 1.0;
        }));
        return *this;
    }
    CNode& Read(const std::string& record, double opzero) {
        set.Read(*ModelStream(record), rxns, NCOMP, 1, opzero);
        return *this;
    }
    std::string Integrate(double dt) {
        return Outcome([&] { set.Integrate(start, state, transport, dt, &fraction, &hold, work); });
    }
};

TEST(LocalIntegration, WithoutReactionsTheStateTakesTheTransportChange) {
    CNode f;
    f.Read("0 0", 1e-12);
    for (int i = 0; i < NCOMP; ++i)
        f.start[i] = 1.0 + i;
    f.transport[8] = 0.5;
    f.state[8] = 0.3; // the previous change: only the predictor sees it
    EXPECT_EQ(f.Integrate(2.0), "");
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(f.state[i], 1.0 + i) << "entry " << i;
    EXPECT_EQ(f.state[8], 9.5);
    EXPECT_EQ(f.work.m_elapsed, 2.0);
}

// Four local steps of a quarter (a reduced node), first-order decay of rate 2
// solved by the corrector as backward Euler (c' = c / (1 + 2h) a step), the
// transport taking 0.9 of the node's 1. As a constant rate the transport goes
// on draining the node after the decay has used it up: below zero. Applied
// whole first, the decay acts on the 0.1 that is left.
struct CSplitCase {
    bool atOnce;
    double expected;
};

class TransportChange : public ::testing::TestWithParam<CSplitCase> {};

TEST_P(TransportChange, EntersAsARateOrWholeBeforeTheReactions) {
    CNode f;
    f.rxns.push_back(
        std::make_unique<CStandInRxn>(NCOMP, nullptr, [](const double* c, double* delta, double h) {
            delta[8] -= 2.0 * c[8] * h;
        }));
    f.Read("0 1 0", 1e-15);
    f.fraction = 0.25;
    f.hold = 3;
    f.start[8] = 1.0;
    f.transport[8] = -0.9;
    const std::string outcome = Outcome([&] {
        if (GetParam().atOnce)
            f.set.IntegrateAfterTransport(f.start, f.state, f.transport, 1.0, &f.fraction, &f.hold,
                                          f.work);
        else
            f.set.Integrate(f.start, f.state, f.transport, 1.0, &f.fraction, &f.hold, f.work);
    });
    EXPECT_EQ(outcome, "");
    EXPECT_NEAR(f.state[8], GetParam().expected, 1e-13);
    EXPECT_EQ(f.work.m_elapsed, 1.0);
}

// Constant rate: c' = (c - 0.225) / 1.5 four times from 1; whole: 0.1 / 1.5^4.
INSTANTIATE_TEST_SUITE_P(
    Split, TransportChange,
    ::testing::Values(
        CSplitCase{false, ((((1.0 - 0.225) / 1.5 - 0.225) / 1.5 - 0.225) / 1.5 - 0.225) / 1.5},
        CSplitCase{true, 0.1 / (1.5 * 1.5 * 1.5 * 1.5)}));

TEST(LocalIntegration, AReducedNodeTakesOneOverFractionLocalSteps) {
    CNode f;
    f.Rate(1.0, 1e300).Read("0 1 0", 1e-12);
    f.fraction = 0.25;
    f.hold = 3;
    EXPECT_EQ(f.Integrate(1.0), "");
    EXPECT_NEAR(f.state[7], 1.0, 1e-15); // four steps of 0.25 at rate 1
    // The first local step needs two corrector passes; each later one is
    // predicted exactly by the change of the step before it.
    EXPECT_EQ(f.calls, 5);
    EXPECT_EQ(f.work.m_elapsed, 1.0);
    EXPECT_EQ(f.hold, 2);
    EXPECT_EQ(f.fraction, 0.25);
}

// The first pass lands on the start and differs from the predictor by exactly
// the previous change, 0.25: settled only when that is not above opzero.
TEST(LocalIntegration, ToleranceIsAStrictComparison) {
    for (double opzero : {0.25, 0.2499999}) {
        CNode f;
        f.Rate(0.0, 1e300).Read("0 1 0", opzero);
        f.state[7] = 0.25;
        EXPECT_EQ(f.Integrate(1.0), "");
        EXPECT_EQ(f.calls, opzero == 0.25 ? 1 : 2) << "opzero " << opzero;
        EXPECT_EQ(f.state[7], 0.0);
    }
}

TEST(LocalIntegration, ACorrectorThatNeedsMoreThan200PassesHalvesTheStep) {
    CNode f;
    f.Rate(1.0, 0.6).Read("0 1 0", 1e-12);
    EXPECT_EQ(f.Integrate(1.0), "");
    EXPECT_EQ(f.hold, 1);
    EXPECT_EQ(f.fraction, 1.0);
    EXPECT_GE(f.calls, RXN_MAX_CORRECTOR_PASSES);
    EXPECT_NEAR(f.state[7], 1.0, 1e-15); // two half steps at rate 1
    EXPECT_EQ(f.work.m_localStep, 0.5);

    // Equilibrium sweeps that never settle fail the local step the same way.
    CNode g;
    g.Equi(RXN_MAX_EQUI_SWEEPS).Read("1 0  0", 1e-12);
    g.start[7] = 1.0;
    EXPECT_EQ(g.Integrate(1.0), "");
    EXPECT_EQ(g.hold, 1);
    EXPECT_EQ(g.work.m_localStep, 0.5);
}

TEST(LocalIntegration, TheSixthFailureHalvesTheFractionAndStartsAHold) {
    CNode f;
    f.Rate(1.0, 0.6).Read("0 1 0", 1e-12);
    f.control.SetMinLocalStep(0.8);
    for (int step = 0; step < 5; ++step)
        f.Integrate(1.0);
    EXPECT_EQ(f.hold, 5);
    EXPECT_EQ(f.fraction, 1.0);
    f.Integrate(1.0);
    EXPECT_EQ(f.fraction, 0.5);
    EXPECT_EQ(f.hold, 2 * HOLD_STEPS_PER_FRACTION - 1); // one step of the hold used
    EXPECT_EQ(f.control.GetMinLocalStep(), 0.5);

    // A smaller value already shown stays.
    f.control.SetMinLocalStep(0.1);
    f.fraction = 1.0;
    f.hold = 5;
    f.Integrate(1.0);
    EXPECT_EQ(f.control.GetMinLocalStep(), 0.1);

    // At tiny fractions the hold saturates instead of overflowing.
    CNode tiny;
    tiny.Rate(1.0, std::ldexp(0.75, -14)).Read("0 1 0", 1e-9);
    tiny.fraction = std::ldexp(1.0, -14);
    tiny.hold = 5;
    tiny.Integrate(1.0);
    EXPECT_EQ(tiny.fraction, std::ldexp(1.0, -15));
    EXPECT_EQ(tiny.hold, INT_MAX - 1);
}

TEST(LocalIntegration, AHeldNodeDoublesItsFractionWhenTheHoldRunsOut) {
    CNode f;
    f.Read("0 0", 1e-12);
    f.fraction = 0.5;
    f.hold = 1;
    f.Integrate(1.0);
    EXPECT_EQ(f.fraction, 0.5);
    EXPECT_EQ(f.hold, 0);
    f.Integrate(1.0);
    EXPECT_EQ(f.fraction, 1.0);
    EXPECT_EQ(f.hold, 0);
    f.fraction = 0.25;
    f.Integrate(1.0);
    EXPECT_EQ(f.fraction, 0.5);
    EXPECT_EQ(f.hold, 2 * HOLD_STEPS_PER_FRACTION);
}

// Local steps halving until the run ends: below opzero, or below 2^-24 of the
// global step where opzero would allow far less.
TEST(LocalIntegration, HalvingEndsBelowOpzeroOrTheSmallestFraction) {
    const std::string opzero = "compute: Local Timestep reduced below opzero";
    const struct {
        const char* what;
        double failAbove; // the stand-in rate settles at h at or below this; < 0: no rate
        int unsettledEqui;
        const char* record;
        double dt, opzero;
        std::string failure;
        int hold;
        double localStep, fraction;
    } rows[] = {
        // h goes 0.05, 0.025, 0.0125; the fourth halving (0.00625) ends it.
        {"rate", 0.0, 0, "0 1 0", 0.1, 0.01, opzero, 4, 0.00625, 1.0},
        {"equilibrium sweeps", -1, 1 << 30, "1 0  0", 0.1, 0.01, opzero, 4, 0.00625, 1.0},
        // The passes of a linear combination swing between (0, 0.1) and (0.1, 0).
        {"linear combination", -1, 0, "1 0  0", 0.1, 0.01, opzero, 4, 0.00625, 1.0},
        // Ten halvings; the fraction halves from the sixth failure on.
        {"opzero above 2^-24", 0.0, 0, "0 1 0", 1.0, 1e-3, opzero, 32 * HOLD_STEPS_PER_FRACTION,
         std::ldexp(1.0, -10), std::ldexp(1.0, -5)},
        // Twenty-five halvings: the hold saturates.
        {"2^-24", std::ldexp(3.0, -30), 0, "0 1 0", 3.0, 0.0,
         "compute: Local Timestep reduced below 2^-24 of the global step", INT_MAX,
         std::ldexp(3.0, -25), std::ldexp(1.0, -20)},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        CNode f;
        if (row.failAbove >= 0)
            f.Rate(1.0, row.failAbove);
        else if (row.unsettledEqui > 0)
            f.Equi(row.unsettledEqui);
        else
            f.rxns.push_back(CreateRxn(
                15, *ModelStream("0 0 0 0 0 0 0 -1 1  8 0  0 0 0 0 0 0 0 5 0 "), NCOMP, nullptr));
        f.Read(row.record, row.opzero);
        f.start[7] = 0.1;
        EXPECT_EQ(f.Integrate(row.dt), row.failure);
        EXPECT_EQ(f.hold, row.hold);
        EXPECT_EQ(f.work.m_localStep, row.localStep);
        EXPECT_EQ(f.fraction, row.fraction);
    }
    // Steps just above the smallest fraction are taken.
    CNode f;
    f.Rate(1.0, std::ldexp(1.0, -16)).Read("0 1 0", 0.0);
    EXPECT_EQ(f.Integrate(1.0), "");
    EXPECT_EQ(f.work.m_localStep, std::ldexp(1.0, -16));
    EXPECT_NEAR(f.state[7], 1.0, 1e-9);
}

// First-order decay at rate x step 3000 and 1e6: the corrector's fixed
// point diverges to values that are not numbers, which is no convergence;
// the step halves until it settles, and the node decays to about nothing
// (to within opzero).
TEST(LocalIntegration, ADivergedCorrectorHalvesTheStep) {
    for (const char* rate : {"3000", "1e6"}) {
        SCOPED_TRACE(rate);
        CNode f;
        f.rxns.push_back(CreateRxn(
            2, *ModelStream(std::string("0 0 0 0 0 0 0 0 -1  1 8 ") + rate + " "), NCOMP, nullptr));
        f.Read("0 1 0", 1e-9);
        f.start[8] = 1.0;
        EXPECT_EQ(f.Integrate(1.0), "");
        EXPECT_NEAR(f.state[8], 0.0, 1e-6);
        EXPECT_GT(f.hold, 0) << "the step was halved";
    }
}

TEST(LocalIntegration, AReactionInTheWrongListFailsAtFirstUse) {
    for (const char* record : {"1 0  0", "0  1 0"}) {
        CNode f;
        f.rxns.push_back(std::make_unique<CStandInRxn>(NCOMP, nullptr, nullptr));
        f.Read(record, 1e-12);
        EXPECT_EQ(f.Integrate(1.0), std::string("not supported: CRxn does not support ") +
                                        (record[0] == '1' ? "equilibrium" : "kinetic") +
                                        " reactions");
    }
}

// A time-driven curve reads the reaction clock, which runs one global step
// behind the model time: the step of 1 that starts at model time 10 sees
// [9, 10], here in two local steps.
TEST(LocalIntegration, TimeDrivenCurvesReadTheReactionClock) {
    CEngine engine;
    CSimulation& sim = engine.sim;
    CReactions& rx = engine.rx;
    rx.m_sets.push_back(std::make_unique<CRxnSet>(nullptr));
    // Kinetic y = u adding to entry 0; equilibrium y = u setting entry 1.
    for (const char* record :
         {"1 0 0  1 -1 -1 2  0 0  100 100 ", "0 0 0  -1 -1 -1 2 1  0 0  100 100 "})
        rx.m_rxns.push_back(CreateRxn(14, *ModelStream(record), 3, &sim));
    rx.m_sets[0]->Read(*ModelStream("1 1  1 0 "), rx.m_rxns, 3, 1, 1e-9);
    sim.m_clock.m_rxnBaseTime = 10.0 - 1.0;
    const double start[3] = {}, transport[3] = {};
    double state[3] = {};
    double fraction = 0.5;
    int hold = 3;
    CRxnWork work(3);
    rx.m_sets[0]->Integrate(start, state, transport, 1.0, &fraction, &hold, work);
    EXPECT_EQ(state[0], 9.5);  // the integral of u over [9, 10], not [10, 11]
    EXPECT_EQ(state[1], 10.0); // u at the clock's end of the last local step
    EXPECT_EQ(state[2], 0.0);
}

} // namespace
