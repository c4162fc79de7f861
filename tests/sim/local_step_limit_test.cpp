// The smallest local step: a node whose local step halves below 2^-24 of the
// global step ends the run, as one below opzero does, instead of taking more
// local steps in one global step than a run could ever finish (and with no
// cancel between them).
#include "model/exceptions.h"
#include "model/limits.h"
#include "model/rxn_work.h"
#include "run/run_control.h"
#include "rxn/rxn.h"
#include "rxn/rxn_set.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace kova_test;

namespace {

constexpr int NCOMP = 8; // 7 hydraulic slots, 1 immobile

// Kinetic stand-in: while h is above failAbove its change of entry 7 flips
// sign from pass to pass, so the corrector never settles; below it adds h.
class CFlipAbove : public CRxn {
public:
    explicit CFlipAbove(double failAbove)
        : CRxn(*ModelStream("0 0 0 0 0 0 0 0 "), NCOMP, nullptr), m_failAbove(failAbove) {}
    void CompRate(const double*, const double*, double* delta, double h) override {
        if (h > m_failAbove) {
            m_sign = -m_sign;
            delta[7] += m_sign;
        } else {
            delta[7] += h;
        }
    }

private:
    double m_failAbove;
    double m_sign = 1.0;
};

struct Node {
    CRunControl control{"m"};
    std::vector<std::shared_ptr<CRxn>> rxns;
    CRxnSet set{&control};
    double start[NCOMP] = {0};
    double state[NCOMP] = {0};
    double transport[NCOMP] = {0};
    double fraction = 1.0;
    int hold = 0;
    CRxnWork work{NCOMP};

    Node(double failAbove, double opzero) {
        rxns.push_back(std::make_unique<CFlipAbove>(failAbove));
        set.Read(*ModelStream("0 1 0"), rxns, NCOMP, 0, opzero);
    }
    void Integrate(double dt) {
        set.Integrate(start, state, transport, dt, &fraction, &hold, work);
    }
};

TEST(LocalStepLimit, AStepBelowTheSmallestFractionEndsTheRun) {
    // Converging only below 2^-30 of the step; opzero would allow far less.
    const double dt = 3.0;
    Node node(dt * std::ldexp(1.0, -30), 0.0);
    try {
        node.Integrate(dt);
        FAIL() << "expected ComputeException";
    } catch (const ComputeException& e) {
        EXPECT_EQ(e.Detail(), "Local Timestep reduced below 2^-24 of the global step");
    }
    // Twenty-five halvings: the first step below the limit is refused.
    EXPECT_EQ(node.work.m_localStep, dt * std::ldexp(1.0, -25));
    EXPECT_EQ(node.fraction, std::ldexp(1.0, -20)); // halved from the sixth failure on
}

TEST(LocalStepLimit, OpzeroStillEndsTheRunFirstWhenItIsLarger) {
    Node node(0.0, 1e-3);
    try {
        node.Integrate(1.0);
        FAIL() << "expected ComputeException";
    } catch (const ComputeException& e) {
        EXPECT_EQ(e.Detail(), "Local Timestep reduced below opzero");
    }
    EXPECT_EQ(node.work.m_localStep, std::ldexp(1.0, -10));
}

TEST(LocalStepLimit, StepsAboveTheLimitAreTaken) {
    const double dt = 1.0;
    Node node(std::ldexp(1.0, -16), 0.0);
    node.Integrate(dt);
    EXPECT_EQ(node.work.m_localStep, std::ldexp(1.0, -16));
    EXPECT_EQ(node.work.m_elapsed, dt);
    EXPECT_NEAR(node.state[7], 1.0, 1e-9);
}

} // namespace
