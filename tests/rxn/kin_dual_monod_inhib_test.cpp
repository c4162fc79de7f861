#include "rxn/kin_dual_monod_inhib.h"

#include "kinetic_test_util.h"

#include <gtest/gtest.h>

#include <string>

using namespace kova_test;

namespace {

// Six entries: biomass 0, donor 1, acceptor 2, inhibitor 3, product 4, and
// entry 5 untouched. The reaction consumes donor and acceptor and makes product.
const int N = 6;
const char* const STOICH = "0 -1 -2 0 1 0";

struct SLaw {
    double k, kd, ka, ki;
    double Rate(double a, double d, double e, double c) const {
        return k * a * d * e / ((d + kd) * (e + ka + ki * c));
    }
};

std::string Record(const SLaw& law, int biomass = 0) {
    return std::string(STOICH) + " " + std::to_string(law.k) + " " + std::to_string(law.kd) + " " +
           std::to_string(law.ka) + " " + std::to_string(law.ki) + " " + std::to_string(biomass) +
           " 1 2 3";
}

// The amount added along the stoichiometry (read from the product entry).
double AmountOf(CKinDualMonodInhib& rxn, const double* base, const double* conc, double h) {
    double delta[N] = {0, 0, 0, 0, 0, 0};
    rxn.CompRate(conc, base, delta, h);
    EXPECT_EQ(delta[1], -delta[4]);
    EXPECT_EQ(delta[2], -2.0 * delta[4]);
    EXPECT_EQ(delta[5], 0.0);
    return delta[4];
}

const SLaw LAW{0.5, 0.25, 0.125, 0.75};

TEST(Integrated, EvaluateIsTheRatioOfThePolynomials) {
    auto rxn = MakeRxn<CKinDualMonodInhib>(Record(LAW), N);
    EXPECT_EQ(rxn->GetNNum(), 4);
    EXPECT_EQ(rxn->GetNDen(), 3);
    CRationalPoly poly{{1.0, 2.0, 3.0, 4.0}, {1.0, 1.0, 1.0, 99.0}};
    // (1 + 4 + 12 + 32) / (1 + 2 + 4): the fourth denominator entry is unused.
    EXPECT_EQ(rxn->Evaluate(poly, 2.0), 7.0);
    EXPECT_EQ(rxn->Evaluate(poly, 0.0), 1.0);
    EXPECT_EQ(rxn->IntegrateStep(poly, 2.0), (7.0 + 1.0) * 2.0 * 0.5);
}

TEST(Integrated, BothDivideByZeroTests) {
    auto rxn = MakeRxn<CKinDualMonodInhib>(Record(LAW), N);
    // A zero constant term throws even where the denominator is not zero.
    CRationalPoly zeroConstant{{1.0, 0.0, 0.0, 0.0}, {0.0, 1.0, 0.0, 0.0}};
    try {
        rxn->Evaluate(zeroConstant, 1.0);
        ADD_FAILURE() << "no ComputeException for m_den[0] = 0";
    } catch (const ComputeException& e) {
        EXPECT_EQ(e.Detail(), "Integrated Reaction divide by zero");
    }
    // A denominator 1 - t vanishes at t = 1 only.
    CRationalPoly vanishing{{1.0, 0.0, 0.0, 0.0}, {1.0, -1.0, 0.0, 0.0}};
    EXPECT_EQ(rxn->Evaluate(vanishing, 0.5), 2.0);
    EXPECT_THROW(rxn->Evaluate(vanishing, 1.0), ComputeException);
    EXPECT_THROW(rxn->IntegrateStep(vanishing, 1.0), ComputeException);
}

TEST(KinDualMonodInhib, PositiveStepIsTheTrapezoidOfTheRateAtBothEnds) {
    auto rxn = MakeRxn<CKinDualMonodInhib>(Record(LAW), N);
    const double base[N] = {0.5, 2.0, 1.0, 0.5, 0, 0};
    const double conc[N] = {0.75, 1.5, 0.25, 1.0, 0, 0};
    const double h = 0.4;
    const double expected =
        (LAW.Rate(0.75, 1.5, 0.25, 1.0) + LAW.Rate(0.5, 2.0, 1.0, 0.5)) * h * 0.5;
    EXPECT_TRUE(NearRel(AmountOf(*rxn, base, conc, h), expected, 1e-14));
}

TEST(KinDualMonodInhib, NoBiomassMeansOneAtBothEnds) {
    auto rxn = MakeRxn<CKinDualMonodInhib>(Record(LAW, -1), N);
    // Entry 0 holds a negative value that must not be read as biomass.
    const double base[N] = {-5.0, 2.0, 1.0, 0.5, 0, 0};
    const double conc[N] = {-5.0, 1.5, 0.25, 1.0, 0, 0};
    const double expected =
        (LAW.Rate(1.0, 1.5, 0.25, 1.0) + LAW.Rate(1.0, 2.0, 1.0, 0.5)) * 1.0 * 0.5;
    EXPECT_TRUE(NearRel(AmountOf(*rxn, base, conc, 1.0), expected, 1e-14));
}

TEST(KinDualMonodInhib, NothingWithoutDonorOrWithNegativeRateConstant) {
    auto rxn = MakeRxn<CKinDualMonodInhib>(Record(LAW), N);
    const double base[N] = {1.0, 0.0, 1.0, 0.0, 0, 0};
    const double conc[N] = {1.0, 0.0, 1.0, 0.0, 0, 0};
    EXPECT_EQ(AmountOf(*rxn, base, conc, 1.0), 0.0);

    SLaw negative = LAW;
    negative.k = -0.5;
    auto reversed = MakeRxn<CKinDualMonodInhib>(Record(negative), N);
    const double base2[N] = {1.0, 1.0, 1.0, 0.0, 0, 0};
    EXPECT_EQ(AmountOf(*reversed, base2, base2, 1.0), 0.0);
}

TEST(KinDualMonodInhib, FallingDonorEndsTheWindowAtItsZeroCrossing) {
    auto rxn = MakeRxn<CKinDualMonodInhib>(Record(LAW), N);
    // Donor 1 -> -1 over h = 2: the window is [0, 1] with the donor 1 -> 0;
    // the other species are cut at t = 1 as well.
    const double base[N] = {1.0, 1.0, 2.0, 0.0, 0, 0};
    const double conc[N] = {1.0, -1.0, 1.0, 2.0, 0, 0};
    const double expected = (LAW.Rate(1.0, 1.0, 2.0, 0.0) + 0.0) * 1.0 * 0.5;
    EXPECT_TRUE(NearRel(AmountOf(*rxn, base, conc, 2.0), expected, 1e-14));
}

TEST(KinDualMonodInhib, RisingAcceptorStartsTheWindowAtItsZeroCrossing) {
    auto rxn = MakeRxn<CKinDualMonodInhib>(Record(LAW), N);
    // Acceptor -1 -> 1 over h = 2: the window is [1, 2]; at t = 1 the donor
    // is 1.5 and the inhibitor 0.5, the acceptor 0 (rate 0 at the start).
    const double base[N] = {1.0, 2.0, -1.0, 0.0, 0, 0};
    const double conc[N] = {1.0, 1.0, 1.0, 1.0, 0, 0};
    const double expected = (LAW.Rate(1.0, 1.0, 1.0, 1.0) + 0.0) * 1.0 * 0.5;
    EXPECT_TRUE(NearRel(AmountOf(*rxn, base, conc, 2.0), expected, 1e-14));
}

TEST(KinDualMonodInhib, EndCutComesBeforeStartCut) {
    auto rxn = MakeRxn<CKinDualMonodInhib>(Record(LAW), N);
    // Over h = 4: donor 3 -> -1 crosses zero at t = 3, acceptor -1 -> 3 at
    // t = 1. The window is [1, 3]: donor 2 -> 0, acceptor 0 -> 2, so the rate
    // is 0 at both ends of the window.
    const double base[N] = {1.0, 3.0, -1.0, 0.0, 0, 0};
    const double conc[N] = {1.0, -1.0, 3.0, 0.0, 0, 0};
    EXPECT_NEAR(AmountOf(*rxn, base, conc, 4.0), 0.0, 1e-15);

    // Donor 1 -> -3 ends the window at 0.5, acceptor -1 -> 1 starts it at 1:
    // no window is left.
    const double base2[N] = {1.0, 1.0, -1.0, 0.0, 0, 0};
    const double conc2[N] = {1.0, -3.0, 1.0, 0.0, 0, 0};
    EXPECT_EQ(AmountOf(*rxn, base2, conc2, 2.0), 0.0);
}

TEST(KinDualMonodInhib, ZeroDonorHalfSaturationAtTheWindowEndIsAComputeError) {
    SLaw law = LAW;
    law.kd = 0.0;
    law.ki = 0.0;
    auto rxn = MakeRxn<CKinDualMonodInhib>(Record(law), N);
    // The donor reaches 0 at the end of the window: d + Kd = 0 there.
    const double base[N] = {1.0, 1.0, 1.0, 0.0, 0, 0};
    const double conc[N] = {1.0, -1.0, 1.0, 0.0, 0, 0};
    double delta[N] = {0, 0, 0, 0, 0, 0};
    EXPECT_THROW(rxn->CompRate(conc, base, delta, 2.0), ComputeException);
}

TEST(KinDualMonodInhib, RecordOrderAndChecks) {
    auto rxn = MakeRxn<CKinDualMonodInhib>(std::string(STOICH) + " 1.5 2.5 3.5 4.5 -1 1 2 3", N);
    EXPECT_EQ(rxn->m_rate, 1.5);
    EXPECT_EQ(rxn->m_halfDonor, 2.5);
    EXPECT_EQ(rxn->m_halfAcceptor, 3.5);
    EXPECT_EQ(rxn->m_inhib, 4.5);
    EXPECT_EQ(rxn->m_biomass, -1);
    EXPECT_EQ(rxn->m_donor, 1);
    EXPECT_EQ(rxn->m_acceptor, 2);
    EXPECT_EQ(rxn->m_inhibitor, 3);

    EXPECT_THROW(MakeRxn<CKinDualMonodInhib>(std::string(STOICH) + " 1 1 1 1 0 1 2", N),
                 BadFileException);
    EXPECT_EQ(InputErrorOf<CKinDualMonodInhib>(std::string(STOICH) + " 1 1 1 1 0 1 2 -1", N),
              "inhibitor index -1 outside 0..5");
    EXPECT_EQ(InputErrorOf<CKinDualMonodInhib>(std::string(STOICH) + " 1 1 1 1 6 1 2 3", N),
              "biomass index 6 outside 0..5 (or -1 for none)");
}

} // namespace
