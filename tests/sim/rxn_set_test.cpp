#include "model/exceptions.h"
#include "model/limits.h"
#include "model/rxn_work.h"
#include "run/run_control.h"
#include "rxn/rxn.h"
#include "rxn/rxn_set.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <sstream>

using namespace kova_test;

namespace {

constexpr int NCOMP = 9; // 7 hydraulic slots, 1 immobile, 1 mobile
constexpr int NMOBILE = 1;

std::string Zeros(int n) {
    std::string s;
    for (int i = 0; i < n; ++i)
        s += "0 ";
    return s;
}

// Stand-in kinetic reaction. While h is above `failAbove`, its contribution to
// entry 7 alternates in sign from call to call, so the corrector never settles;
// otherwise it adds rate x h to entry 7. Counts its calls.
class CStandInRate : public CRxn {
public:
    CStandInRate(double rate, double failAbove)
        : CRxn(*ModelStream(Zeros(NCOMP)), NCOMP, nullptr), m_rate(rate), m_failAbove(failAbove) {}
    void CompRate(const double*, const double*, double* delta, double h) override {
        ++calls;
        if (h > m_failAbove) {
            m_sign = -m_sign;
            delta[7] += m_sign;
        } else {
            delta[7] += m_rate * h;
        }
    }
    int calls = 0;

private:
    double m_rate;
    double m_failAbove;
    double m_sign = 1.0;
};

// Stand-in equilibrium reaction that flips entry 7 between 1 and 2 for its
// first `unsettledCalls` calls, then leaves the state alone.
class CStandInEqui : public CRxn {
public:
    explicit CStandInEqui(int unsettledCalls)
        : CRxn(*ModelStream(Zeros(NCOMP)), NCOMP, nullptr), m_unsettled(unsettledCalls) {}
    void CompEqui(double* conc) override {
        if (++calls <= m_unsettled)
            conc[7] = conc[7] == 1.0 ? 2.0 : 1.0;
    }
    int calls = 0;

private:
    int m_unsettled;
};

struct SetFixture {
    CRunControl control{"m"};
    std::vector<std::shared_ptr<CRxn>> rxns;
    CRxnSet set{&control};
    double start[NCOMP] = {0};
    double state[NCOMP] = {0}; // on entry: the change over the previous step
    double transport[NCOMP] = {0};
    double fraction = 1.0;
    int hold = 0;

    // record: "e indices m indices" naming entries of rxns.
    void Read(const std::string& record, double opzero) {
        auto in = ModelStream(record);
        set.Read(*in, rxns, NCOMP, NMOBILE, opzero);
    }
    CRxnWork work{NCOMP};
    void Integrate(double dt) {
        set.Integrate(start, state, transport, dt, &fraction, &hold, work);
    }
};

TEST(RxnSet, WithoutReactionsTheStateTakesTheTransportChange) {
    SetFixture f;
    f.Read("0 0", 1e-12);
    for (int i = 0; i < NCOMP; ++i)
        f.start[i] = 1.0 + i;
    f.transport[8] = 0.5;
    f.state[8] = 0.3; // previous change: only the predictor sees it
    f.Integrate(2.0);
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(f.state[i], 1.0 + i) << "entry " << i;
    EXPECT_EQ(f.state[8], 9.5);
    EXPECT_EQ(f.fraction, 1.0);
    EXPECT_EQ(f.hold, 0);
    EXPECT_EQ(f.work.m_elapsed, 2.0);
}

TEST(RxnSet, AReducedNodeTakesOneOverFractionLocalSteps) {
    SetFixture f;
    f.rxns.push_back(std::make_unique<CStandInRate>(1.0, 1e300));
    f.Read("0 1 0", 1e-12);
    f.fraction = 0.25;
    f.hold = 3;
    f.Integrate(1.0);
    auto* rate = static_cast<CStandInRate*>(f.rxns[0].get());
    EXPECT_NEAR(f.state[7], 1.0, 1e-15); // four steps of 0.25 at rate 1
    // The first local step needs two corrector passes; each later one is
    // predicted exactly by the change of the step before it and needs one.
    EXPECT_EQ(rate->calls, 5);
    EXPECT_EQ(f.work.m_elapsed, 1.0);
    EXPECT_EQ(f.hold, 2);
}

TEST(RxnSet, ToleranceIsAStrictComparison) {
    // No reaction moves anything: the first pass lands on the start value and
    // differs from the predictor by exactly the previous change.
    for (double opzero : {0.25, 0.2499999}) {
        SetFixture f;
        f.rxns.push_back(std::make_unique<CStandInRate>(0.0, 1e300));
        f.Read("0 1 0", opzero);
        f.state[7] = 0.25;
        f.Integrate(1.0);
        auto* rate = static_cast<CStandInRate*>(f.rxns[0].get());
        EXPECT_EQ(rate->calls, opzero == 0.25 ? 1 : 2) << "opzero " << opzero;
        EXPECT_EQ(f.state[7], 0.0);
    }
}

TEST(RxnSet, ACorrectorThatNeedsMoreThan200PassesHalvesTheStep) {
    SetFixture f;
    f.rxns.push_back(std::make_unique<CStandInRate>(1.0, 0.6));
    f.Read("0 1 0", 1e-12);
    f.Integrate(1.0);
    auto* rate = static_cast<CStandInRate*>(f.rxns[0].get());
    EXPECT_EQ(f.fraction, 1.0);
    EXPECT_EQ(f.hold, 1);
    EXPECT_GE(rate->calls, RXN_MAX_CORRECTOR_PASSES);
    EXPECT_NEAR(f.state[7], 1.0, 1e-15); // two half steps at rate 1
    EXPECT_EQ(f.work.m_localStep, 0.5);
}

TEST(RxnSet, TheSixthFailureHalvesTheFractionAndStartsAHold) {
    SetFixture f;
    f.rxns.push_back(std::make_unique<CStandInRate>(1.0, 0.6));
    f.Read("0 1 0", 1e-12);
    f.control.SetMinLocalStep(0.8);
    for (int step = 0; step < 5; ++step)
        f.Integrate(1.0);
    EXPECT_EQ(f.hold, 5);
    EXPECT_EQ(f.fraction, 1.0);
    f.Integrate(1.0); // sixth failure
    EXPECT_EQ(f.fraction, 0.5);
    EXPECT_EQ(f.hold, 2 * HOLD_STEPS_PER_FRACTION - 1); // set to 200000, one step used
    EXPECT_EQ(f.control.GetMinLocalStep(), 0.5);

    // A smaller value already shown stays.
    f.control.SetMinLocalStep(0.1);
    f.fraction = 1.0;
    f.hold = 5;
    f.Integrate(1.0);
    EXPECT_EQ(f.control.GetMinLocalStep(), 0.1);
}

TEST(RxnSet, AHeldNodeDoublesItsFractionWhenTheHoldRunsOut) {
    SetFixture f;
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
    f.hold = 0;
    f.Integrate(1.0);
    EXPECT_EQ(f.fraction, 0.5);
    EXPECT_EQ(f.hold, 2 * HOLD_STEPS_PER_FRACTION);
}

TEST(RxnSet, AStepBelowOpzeroEndsTheRun) {
    SetFixture f;
    f.rxns.push_back(std::make_unique<CStandInRate>(1.0, 0.0)); // always fails
    f.Read("0 1 0", 0.01);
    try {
        f.Integrate(0.1);
        FAIL() << "expected ComputeException";
    } catch (const ComputeException& e) {
        EXPECT_EQ(e.Detail(), "Local Timestep reduced below opzero");
    }
    // h went 0.05, 0.025, 0.0125; the fourth halving (0.00625) throws.
    EXPECT_EQ(f.hold, 4);
    EXPECT_EQ(f.work.m_localStep, 0.00625);
    EXPECT_EQ(f.fraction, 1.0);
}

TEST(RxnSet, TheHoldSaturatesAtTinyFractions) {
    SetFixture f;
    f.rxns.push_back(std::make_unique<CStandInRate>(1.0, std::ldexp(1.0, -14) * 0.75));
    f.Read("0 1 0", 1e-9);
    f.fraction = std::ldexp(1.0, -14);
    f.hold = 5;
    f.Integrate(1.0); // the failure halves the fraction to 2^-15
    EXPECT_EQ(f.fraction, std::ldexp(1.0, -15));
    EXPECT_EQ(f.hold, INT_MAX - 1);
}

TEST(RxnSet, EquilibriumSweepsThatNeverSettleFailTheLocalStep) {
    SetFixture f;
    f.rxns.push_back(std::make_unique<CStandInEqui>(RXN_MAX_EQUI_SWEEPS));
    f.Read("1 0  0", 1e-12);
    f.start[7] = 1.0;
    f.Integrate(1.0);
    EXPECT_EQ(f.hold, 1);
    EXPECT_EQ(f.fraction, 1.0);
    EXPECT_EQ(f.work.m_localStep, 0.5);
}

TEST(RxnSet, AReactionInTheWrongListFailsAtFirstUse) {
    SetFixture f;
    f.rxns.push_back(std::make_unique<CRxn>(*ModelStream(Zeros(NCOMP)), NCOMP, nullptr));
    f.Read("1 0  0", 1e-12);
    try {
        f.Integrate(1.0);
        FAIL() << "expected NotSupportedException";
    } catch (const NotSupportedException& e) {
        EXPECT_EQ(e.Detail(), "CRxn does not support equilibrium reactions in reaction record 0");
    }
    SetFixture g;
    g.rxns.push_back(std::make_unique<CRxn>(*ModelStream(Zeros(NCOMP)), NCOMP, nullptr));
    g.Read("0 1 0", 1e-12);
    try {
        g.Integrate(1.0);
        FAIL() << "expected NotSupportedException";
    } catch (const NotSupportedException& e) {
        EXPECT_EQ(e.Detail(), "CRxn does not support kinetic reactions in reaction record 0");
    }
}

TEST(RxnSet, CommonRecordAndHydraulicTest) {
    // Twelve coefficients for 7 slots, 2 immobile and 3 mobile components.
    auto in = ModelStream("0 0 0 0 0 0 0 1 2 3 4 5 ");
    CRxn rxn(*in, 12, nullptr);
    EXPECT_EQ(rxn.GetStoich()[11], 5.0);
    EXPECT_EQ(rxn.AffectsHydraulic(), 0);
    auto hydraulic = ModelStream("0 0 0 0 0 0 -1 0 0 0 0 0 ");
    EXPECT_EQ(CRxn(*hydraulic, 12, nullptr).AffectsHydraulic(), 1);
    // End of file right after the last number is not good: Bad File.
    auto atEnd = ModelStream("0 0 0 0 0 0 0 1 2 3 4 5");
    EXPECT_THROW(CRxn(*atEnd, 12, nullptr), BadFileException);
    auto shortRecord = ModelStream("0 0 0 ");
    EXPECT_THROW(CRxn(*shortRecord, 12, nullptr), BadFileException);
}

} // namespace
