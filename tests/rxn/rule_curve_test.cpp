#include "rxn/rule_curve.h"

#include "model/rxn_work.h"
#include "model/simulation.h"
#include "run/run_control.h"
#include "rxn/rxn_set.h"

#include "kinetic_test_util.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

using namespace kova_test;

namespace {

// Three entries; a kinetic curve adds to entry 0 and takes from entry 2.
const int N = 3;
const char* const STOICH = "1 0 -1";

// A one-node model whose reaction clock reads base + elapsed (+ local step):
// its work is the thread's current work while the model lives.
class CClockModel {
public:
    CClockModel() : m_control("clock"), m_sim(&m_control), m_work(N), m_current(m_work) {
        m_sim.m_rxnSets.push_back(std::make_unique<CRxnSet>(nullptr));
        m_sim.m_nodeRxnSet.reset(new unsigned char[1]());
        m_sim.m_currentNode = 0;
    }
    void SetClock(double baseTime, double elapsed, double localStep) {
        m_sim.m_rxnBaseTime = baseTime;
        m_work.m_elapsed = elapsed;
        m_work.m_localStep = localStep;
    }
    CSimulation* Sim() { return &m_sim; }

private:
    CRunControl m_control;
    CSimulation m_sim;
    CRxnWork m_work;
    CRxnWorkScope m_current;
};

// A trapezoid curve: 0 up to u = 0, rising to 2 at u = 1, flat to u = 3,
// falling to 0 at u = 4, and 0 beyond.
const char* const TRAPEZOID = "4  0 0  1 2  3 2  4 0";

double RateAmount(CRuleCurve& rxn, const double* base, const double* conc, double h) {
    double delta[N] = {0.0, 0.0, 0.0};
    rxn.CompRate(conc, base, delta, h);
    EXPECT_EQ(delta[1], 0.0);
    EXPECT_EQ(delta[2], -delta[0]);
    return delta[0];
}

TEST(RuleCurve, OnePointIsAConstant) {
    auto rxn = MakeRxn<CRuleCurve>(std::string(STOICH) + " 1 -1 -1 1  5 3.5", N);
    EXPECT_EQ(rxn->CurveValue(-1e9), 3.5);
    EXPECT_EQ(rxn->CurveValue(5.0), 3.5);
    EXPECT_EQ(rxn->CurveValue(1e9), 3.5);
    // A driver that is not a number reads no second point (found by fuzzing).
    EXPECT_EQ(rxn->CurveValue(std::nan("")), 3.5);
    EXPECT_EQ(rxn->CurveIntegral(4.0, 6.0, 1.0, 1.0), 7.0);
}

TEST(RuleCurve, LinearBetweenPointsAndFlatBeyondTheEnds) {
    auto rxn = MakeRxn<CRuleCurve>(std::string(STOICH) + " 1 -1 -1 " + TRAPEZOID, N);
    EXPECT_EQ(rxn->CurveValue(-2.0), 0.0);
    EXPECT_EQ(rxn->CurveValue(0.25), 0.5);
    EXPECT_EQ(rxn->CurveValue(1.0), 2.0);
    EXPECT_EQ(rxn->CurveValue(2.0), 2.0);
    EXPECT_EQ(rxn->CurveValue(3.5), 1.0);
    EXPECT_EQ(rxn->CurveValue(7.0), 0.0);
}

TEST(RuleCurve, IntegralOverFlatTailsAndReversedBounds) {
    auto rxn = MakeRxn<CRuleCurve>(std::string(STOICH) + " 1 -1 -1 " + TRAPEZOID, N);
    // Area 1 + 4 + 1 with the flat tails adding nothing.
    EXPECT_EQ(rxn->CurveIntegral(-5.0, 9.0, 1.0, 1.0), 6.0);
    EXPECT_EQ(rxn->CurveIntegral(9.0, -5.0, 1.0, 1.0), -6.0);
    // From inside a piece: 0.5 x (1 + 2) / 2 + 1 x 2.
    EXPECT_EQ(rxn->CurveIntegral(0.5, 2.0, 1.0, 1.0), 0.75 + 2.0);
    // A flat tail of height 5 past the last point.
    auto tail = MakeRxn<CRuleCurve>(std::string(STOICH) + " 1 -1 -1 2  0 0  1 5", N);
    EXPECT_EQ(tail->CurveIntegral(0.0, 3.0, 1.0, 1.0), 2.5 + 10.0);
}

TEST(RuleCurve, IntegralWithAMultiplierIsTheExactProduct) {
    // Curve u on [0, 1], multiplier 1 + 2u: integral 1/2 + 2/3.
    auto rxn = MakeRxn<CRuleCurve>(std::string(STOICH) + " 1 -1 1 2  0 0  1 1", N);
    EXPECT_TRUE(NearRel(rxn->CurveIntegral(0.0, 1.0, 1.0, 3.0), 7.0 / 6.0, 1e-15));
    // Over [-1, 2] with the multiplier 1 + u: tails 0 below 0 and 1 x (1 + u)
    // above 1, so 1/2 + 1/3 + (2 - 1) + (4 - 1) / 2.
    EXPECT_TRUE(
        NearRel(rxn->CurveIntegral(-1.0, 2.0, 0.0, 3.0), 0.5 + 1.0 / 3.0 + 1.0 + 1.5, 1e-15));
    EXPECT_TRUE(NearRel(rxn->CurveIntegral(2.0, -1.0, 3.0, 0.0), -(0.5 + 1.0 / 3.0 + 2.5), 1e-15));
}

TEST(RuleCurve, TimeDrivenRateIntegratesFromTheLocalTime) {
    CClockModel model;
    // y = 2 everywhere, no multiplier, h = 0.5: 1.0 x stoich.
    auto flat = MakeRxn<CRuleCurve>(std::string(STOICH) + " 1 -1 -1 1  0 2", N, model.Sim());
    model.SetClock(100.0, 3.0, 0.5);
    const double state[N] = {7.0, 7.0, 7.0};
    EXPECT_EQ(RateAmount(*flat, state, state, 0.5), 1.0);

    // y = u: from base 4 + elapsed 1 over h = 2, the integral over [5, 7].
    auto ramp =
        MakeRxn<CRuleCurve>(std::string(STOICH) + " 1 -1 -1 2  0 0  100 100", N, model.Sim());
    model.SetClock(4.0, 1.0, 2.0);
    EXPECT_EQ(RateAmount(*ramp, state, state, 2.0), 12.0);
}

TEST(RuleCurve, ComponentDrivenRateIsTheMeanAlongTheDriverTimesH) {
    // Driver entry 1, no multiplier, y = 2: the mean is 2 whichever way the
    // driver moves.
    auto flat = MakeRxn<CRuleCurve>(std::string(STOICH) + " 1 1 -1 1  0 2", N);
    const double high[N] = {0.0, 3.0, 0.0};
    const double low[N] = {0.0, 1.0, 0.0};
    EXPECT_EQ(RateAmount(*flat, high, low, 0.5), 1.0); // falling driver
    EXPECT_EQ(RateAmount(*flat, low, high, 0.5), 1.0); // rising driver
    // A driver that does not move adds nothing (no division by zero).
    EXPECT_EQ(RateAmount(*flat, high, high, 0.5), 0.0);

    // Curve u with multiplier entry 0 going 1 -> 3 while the driver goes
    // 0 -> 1: mean 7/6 over the driver's path.
    auto ramp = MakeRxn<CRuleCurve>(std::string(STOICH) + " 1 1 0 2  0 0  1 1", N);
    const double b[N] = {1.0, 0.0, 0.0};
    const double e[N] = {3.0, 1.0, 0.0};
    double delta[N] = {0.0, 0.0, 0.0};
    ramp->CompRate(e, b, delta, 0.25);
    EXPECT_TRUE(NearRel(delta[0], 7.0 / 6.0 * 0.25, 1e-15));
}

TEST(RuleCurve, EquilibriumSetsTheTargetAtTheLocalEndTime) {
    CClockModel model;
    // Kind -1 (equilibrium), time-driven, multiplier entry 2, target entry 1.
    auto rxn =
        MakeRxn<CRuleCurve>(std::string(STOICH) + " -1 -1 2 2 1  0 0  100 100", N, model.Sim());
    EXPECT_EQ(rxn->m_target, 1);
    model.SetClock(4.0, 1.0, 2.0);
    double conc[N] = {5.0, 5.0, 0.5};
    rxn->CompEqui(conc);
    EXPECT_EQ(conc[0], 5.0);
    EXPECT_EQ(conc[1], 7.0 * 0.5);
    EXPECT_EQ(conc[2], 0.5);

    // Component-driven, no multiplier: target = curve(driver).
    auto driven = MakeRxn<CRuleCurve>(std::string(STOICH) + " -1 0 -1 4 2  0 0  1 2  3 2  4 0", N);
    double c2[N] = {3.5, 9.0, 9.0};
    driven->CompEqui(c2);
    EXPECT_EQ(c2[2], 1.0);
    EXPECT_EQ(c2[1], 9.0);
}

TEST(RuleCurve, KindDecidesWhichUseIsAllowed) {
    auto equi = MakeRxn<CRuleCurve>(std::string(STOICH) + " -1 0 -1 1 2  0 1", N);
    const double state[N] = {1.0, 2.0, 3.0};
    double delta[N] = {0.0, 0.0, 0.0};
    try {
        equi->CompRate(state, state, delta, 1.0);
        ADD_FAILURE() << "an equilibrium-only curve answered CompRate";
    } catch (const NotSupportedException& e) {
        EXPECT_EQ(e.Detail(), "Incorrect Type for a Kinetic Rule Curve Reaction");
    }
    auto kinetic = MakeRxn<CRuleCurve>(std::string(STOICH) + " 1 0 -1 1  0 1", N);
    double conc[N] = {1.0, 2.0, 3.0};
    try {
        kinetic->CompEqui(conc);
        ADD_FAILURE() << "a kinetic-only curve answered CompEqui";
    } catch (const NotSupportedException& e) {
        EXPECT_EQ(e.Detail(), "Incorrect Type for an Equilibrium Rule Curve Reaction");
    }
    EXPECT_EQ(conc[0], 1.0);
    EXPECT_EQ(conc[1], 2.0);
    EXPECT_EQ(conc[2], 3.0);
}

TEST(RuleCurve, RecordHasATargetOnlyForNegativeKinds) {
    // Kind 0: the number after the point count is the first abscissa.
    auto both = MakeRxn<CRuleCurve>(std::string(STOICH) + " 0 1 2 2  2 20  4 40", N);
    EXPECT_EQ(both->m_kind, 0);
    EXPECT_EQ(both->m_driver, 1);
    EXPECT_EQ(both->m_multiplier, 2);
    EXPECT_EQ(both->m_nPoints, 2);
    EXPECT_EQ(both->m_target, -1);
    ASSERT_EQ(both->m_x.size(), 2u);
    EXPECT_EQ(both->m_x[0], 2.0);
    EXPECT_EQ(both->m_y[1], 40.0);
    auto equi = MakeRxn<CRuleCurve>(std::string(STOICH) + " -3 1 2 2 0  2 20  4 40", N);
    EXPECT_EQ(equi->m_target, 0);
    EXPECT_EQ(equi->m_x[0], 2.0);
}

TEST(RuleCurve, RecordChecks) {
    EXPECT_EQ(InputErrorOf<CRuleCurve>(std::string(STOICH) + " 1 -1 -1 0  0 1", N),
              "rule curve with 0 points: at least 1 point needed");
    EXPECT_EQ(InputErrorOf<CRuleCurve>(std::string(STOICH) + " 1 -1 -1 -4", N),
              "rule curve with -4 points: at least 1 point needed");
    EXPECT_THROW(MakeRxn<CRuleCurve>(std::string(STOICH) + " 1 -1 -1 3  0 1  2 3", N),
                 BadFileException);
    EXPECT_EQ(InputErrorOf<CRuleCurve>(std::string(STOICH) + " 1 3 -1 1  0 1", N),
              "driver index 3 outside 0..2 (or -1 for none)");
    EXPECT_EQ(InputErrorOf<CRuleCurve>(std::string(STOICH) + " 1 -1 -2 1  0 1", N),
              "multiplier index -2 outside 0..2 (or -1 for none)");
    EXPECT_EQ(InputErrorOf<CRuleCurve>(std::string(STOICH) + " -1 -1 -1 1 -1  0 1", N),
              "target index -1 outside 0..2");
}

// A set record naming the curve among its equilibrium reactions.
void ReadSet(CRxnSet& set, const std::vector<std::shared_ptr<CRxn>>& rxns, const char* record) {
    auto in = ModelStream(record);
    set.Read(*in, rxns, N, 1, 1e-9);
}

TEST(RuleCurve, KindZeroMayNotBeListedAsAnEquilibrium) {
    std::vector<std::shared_ptr<CRxn>> rxns;
    rxns.push_back(MakeRxn<CRuleCurve>(std::string(STOICH) + " 0 -1 -1 1  0 1", N));
    rxns.push_back(MakeRxn<CRuleCurve>(std::string(STOICH) + " 1 -1 -1 1  0 1", N));
    CRxnSet set(nullptr);
    EXPECT_THROW(ReadSet(set, rxns, "1 0  0 "), InputException);
    // Kinetic use of kind 0 is fine; kind 1 in the equilibrium list is read and
    // fails only when used.
    CRxnSet kinetic(nullptr);
    EXPECT_NO_THROW(ReadSet(kinetic, rxns, "0  1 0 "));
    CRxnSet wrongList(nullptr);
    EXPECT_NO_THROW(ReadSet(wrongList, rxns, "1 1  0 "));
}

TEST(RuleCurve, TimeDrivenCurveLagsTheModelTimeByOneGlobalStep) {
    CClockModel model;
    CSimulation& sim = *model.Sim();
    // Kinetic y = u adding to entry 0; equilibrium y = u setting entry 1.
    sim.m_rxns.push_back(MakeRxn<CRuleCurve>("1 0 0  1 -1 -1 2  0 0  100 100", N, model.Sim()));
    sim.m_rxns.push_back(MakeRxn<CRuleCurve>("0 0 0  -1 -1 -1 2 1  0 0  100 100", N, model.Sim()));
    ReadSet(*sim.m_rxnSets[0], sim.m_rxns, "1 1  1 0 ");

    // The global step g = 1 that starts at model time s = 10: the clock reads
    // s - g. Two local steps (fraction 0.5) cover [9, 10] on the clock.
    sim.m_rxnBaseTime = 10.0 - 1.0;
    const double start[N] = {0.0, 0.0, 0.0};
    double state[N] = {0.0, 0.0, 0.0};
    const double transport[N] = {0.0, 0.0, 0.0};
    double fraction = 0.5;
    int hold = 3;
    CRxnWork work(N);
    sim.m_rxnSets[0]->Integrate(start, state, transport, 1.0, &fraction, &hold, work);
    EXPECT_EQ(state[0], 9.5);  // the integral of u over [9, 10], not [10, 11]
    EXPECT_EQ(state[1], 10.0); // the curve at the clock's end of the last local step
    EXPECT_EQ(state[2], 0.0);
}

} // namespace
