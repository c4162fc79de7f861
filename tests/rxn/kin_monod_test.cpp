#include "rxn/kin_dual_monod.h"
#include "rxn/kin_monod.h"

#include "kinetic_test_util.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

using namespace kova_test;

namespace {

// Four entries: biomass 0, substrate (or donor) 1, acceptor 2, product 3.
const int N = 4;

std::string MonodRecord(double k, double halfSat, int biomass) {
    return "0 -1 0 1 " + std::to_string(k) + " " + std::to_string(halfSat) + " " +
           std::to_string(biomass) + " 1";
}

double MonodAmount(CRxn& rxn, double a0, double a1, double s0, double s1, double h) {
    const double base[N] = {a0, s0, 0.0, 0.0};
    const double conc[N] = {a1, s1, 0.0, 0.0};
    double delta[N] = {0.0, 0.0, 0.0, 0.0};
    rxn.CompRate(conc, base, delta, h);
    EXPECT_EQ(delta[1], -delta[3]);
    return delta[3];
}

// k x the integral over [0, h] of a s / (K + s), both linear, by quadrature.
double MonodQuadrature(double k, double K, double a0, double a1, double s0, double s1, double h) {
    auto rate = [&](double t) {
        const double a = a0 + (a1 - a0) * t / h;
        const double s = s0 + (s1 - s0) * t / h;
        return k * a * s / (K + s);
    };
    return Simpson(rate, 0.0, h, 20000);
}

TEST(KinMonod, ConstantSubstrateUsesTheMeanForm) {
    auto rxn = MakeRxn<CKinMonod>(MonodRecord(0.5, 2.0, 0), N);
    // k h a_mean s / (K + s) with a_mean = 1.5, s = 3.
    EXPECT_TRUE(NearRel(MonodAmount(*rxn, 1.0, 2.0, 3.0, 3.0, 0.4), 0.5 * 0.4 * 1.5 * 3.0 / 5.0));
}

TEST(KinMonod, MeanFormBelowTheLimitAndLogarithmicFormAbove) {
    const double k = 0.5, K = 0.25, h = 2.0;
    auto rxn = MakeRxn<CKinMonod>(MonodRecord(k, K, 0), N);
    // s 1.0 -> 1.0005: change squared 2.5e-7 < 1e-6, the mean form exactly.
    const double s1 = 1.0005;
    const double mean = (1.0 + 2.0) * k * (1.0 + s1) * h / (((1.0 + s1) * 0.5 + K) * 4.0);
    EXPECT_EQ(MonodAmount(*rxn, 1.0, 2.0, 1.0, s1, h), mean);

    // s 1.0 -> 1.01: the exact integral, which the mean form misses.
    const double exact = MonodQuadrature(k, K, 1.0, 2.0, 1.0, 1.01, h);
    const double got = MonodAmount(*rxn, 1.0, 2.0, 1.0, 1.01, h);
    EXPECT_TRUE(NearRel(got, exact, 1e-10));
    const double meanAt101 = (1.0 + 2.0) * k * (1.0 + 1.01) * h / (((1.0 + 1.01) * 0.5 + K) * 4.0);
    EXPECT_GT(std::fabs(got - meanAt101), 1e-7) << got << " vs mean form " << meanAt101;
}

TEST(KinMonod, WithoutBiomassTheLogarithmicFormReduces) {
    const double k = 0.7, K = 0.5, h = 0.3, s0 = 2.0, s1 = 0.5;
    auto rxn = MakeRxn<CKinMonod>(MonodRecord(k, K, -1), N);
    const double change = s1 - s0;
    const double reduced = k * h * (1 - K * std::log((K + s1) / (K + s0)) / change);
    // Entry 0 is not read as biomass.
    EXPECT_TRUE(NearRel(MonodAmount(*rxn, -3.0, -3.0, s0, s1, h), reduced, 1e-13));
}

TEST(KinMonod, NegativeSubstrateEndShortensTheStep) {
    const double k = 0.5, K = 0.25;
    auto rxn = MakeRxn<CKinMonod>(MonodRecord(k, K, 0), N);
    // s 1.0 -> -1.0 over h = 2: h becomes 1 and s1 becomes 0; the biomass
    // still goes from 1 to 3 over the shortened step.
    const double exact = MonodQuadrature(k, K, 1.0, 3.0, 1.0, 0.0, 1.0);
    EXPECT_TRUE(NearRel(MonodAmount(*rxn, 1.0, 3.0, 1.0, -1.0, 2.0), exact, 1e-10));

    // s -1.0 -> 1.0 over h = 2: the step is [1, 2] with s 0 -> 1.
    const double rising = MonodQuadrature(k, K, 1.0, 3.0, 0.0, 1.0, 1.0);
    EXPECT_TRUE(NearRel(MonodAmount(*rxn, 1.0, 3.0, -1.0, 1.0, 2.0), rising, 1e-10));
}

TEST(KinMonod, NothingWithoutSubstrateOrBiomass) {
    auto rxn = MakeRxn<CKinMonod>(MonodRecord(0.5, 0.25, 0), N);
    EXPECT_EQ(MonodAmount(*rxn, 1.0, 1.0, 0.0, -1.0, 1.0), 0.0);
    EXPECT_EQ(MonodAmount(*rxn, -1.0, -0.5, 1.0, 1.0, 1.0), 0.0);
    // One negative biomass end is not enough to skip.
    EXPECT_GT(MonodAmount(*rxn, -1.0, 2.0, 1.0, 1.0, 1.0), 0.0);
}

TEST(KinMonod, RecordChecks) {
    auto rxn = MakeRxn<CKinMonod>("0 -1 0 1 1.5 2.5 -1 2", N);
    EXPECT_EQ(rxn->m_rate, 1.5);
    EXPECT_EQ(rxn->m_halfSat, 2.5);
    EXPECT_EQ(rxn->m_biomass, -1);
    EXPECT_EQ(rxn->m_substrate, 2);
    EXPECT_THROW(MakeRxn<CKinMonod>("0 -1 0 1 1.5 2.5 -1", N), BadFileException);
    EXPECT_EQ(InputErrorOf<CKinMonod>("0 -1 0 1 1.5 2.5 -1 -1", N),
              "substrate index -1 outside 0..3");
    EXPECT_EQ(InputErrorOf<CKinMonod>("0 -1 0 1 1.5 2.5 -2 1", N),
              "biomass index -2 outside 0..3 (or -1 for none)");
}

// Dual Monod: k = 2, Kd = 1, Ka = 3; donor 1 and acceptor 2 are consumed.
const char* const DUAL = "0 -1 -1 1 2 1 3";

double DualAmount(CKinDualMonod& rxn, const double* base, const double* conc, double h) {
    double delta[N] = {0.0, 0.0, 0.0, 0.0};
    rxn.CompRate(conc, base, delta, h);
    EXPECT_EQ(delta[1], -delta[3]);
    return delta[3];
}

TEST(KinDualMonod, MonodTermSigns) {
    auto rxn = MakeRxn<CKinDualMonod>(std::string(DUAL) + " 0 1 2", N);
    const double f = 2.0 * 4.0 * 6.0 / (4.0 + 1.0) / (6.0 + 3.0);
    EXPECT_EQ(rxn->MonodTerm(2.0, 4.0, 6.0), f);
    EXPECT_EQ(rxn->MonodTerm(2.0, -4.0, 6.0), -f);
    EXPECT_EQ(rxn->MonodTerm(-2.0, -4.0, 6.0), -f); // two negatives: still negative
    EXPECT_EQ(rxn->MonodTerm(-2.0, -4.0, -6.0), -f);
}

TEST(KinDualMonod, ThreePointRuleAndDroppedHalves) {
    auto rxn = MakeRxn<CKinDualMonod>(std::string(DUAL) + " 0 1 2", N);
    const double h = 0.5, k = 2.0;
    auto term = [&](double a, double d, double e) { return rxn->MonodTerm(a, d, e); };

    // Everything positive: F0 + 2 Fm + F1.
    const double b1[N] = {1.0, 2.0, 1.0, 0.0}, c1[N] = {2.0, 1.0, 3.0, 0.0};
    const double full = (term(1, 2, 1) + 2.0 * term(1.5, 1.5, 2) + term(2, 1, 3)) * k * h * 0.25;
    EXPECT_EQ(DualAmount(*rxn, b1, c1, h), full);

    // Acceptor zero at the start: F0 = 0 but Fm > 0, so the full sum is used.
    const double b2[N] = {1.0, 2.0, 0.0, 0.0}, c2[N] = {1.0, 2.0, 2.0, 0.0};
    EXPECT_EQ(DualAmount(*rxn, b2, c2, h),
              (0.0 + 2.0 * term(1, 2, 1) + term(1, 2, 2)) * k * h * 0.25);

    // Donor -3 -> 1: F0 < 0 and Fm < 0, the first half is left out: Fm + F1.
    const double b3[N] = {1.0, -3.0, 1.0, 0.0}, c3[N] = {1.0, 1.0, 1.0, 0.0};
    ASSERT_LT(term(1, -1, 1), 0.0);
    EXPECT_EQ(DualAmount(*rxn, b3, c3, h), (term(1, -1, 1) + term(1, 1, 1)) * k * h * 0.25);

    // Donor 1 -> -3: the second half is left out: Fm + F0.
    EXPECT_EQ(DualAmount(*rxn, c3, b3, h), (term(1, -1, 1) + term(1, 1, 1)) * k * h * 0.25);

    // Donor 1 -> -0.5: F1 < 0 but Fm > 0, all three points count.
    const double c4[N] = {1.0, -0.5, 1.0, 0.0};
    EXPECT_EQ(DualAmount(*rxn, c3, c4, h),
              (term(1, 1, 1) + 2.0 * term(1, 0.25, 1) + term(1, -0.5, 1)) * k * h * 0.25);
}

TEST(KinDualMonod, NothingUnlessEverySpeciesAndOneRateArePositive) {
    auto rxn = MakeRxn<CKinDualMonod>(std::string(DUAL) + " 0 1 2", N);
    const double base[N] = {1.0, 1.0, 0.0, 0.0}, conc[N] = {1.0, 1.0, -1.0, 0.0};
    EXPECT_EQ(DualAmount(*rxn, base, conc, 1.0), 0.0); // no acceptor
    // Acceptor only positive where the donor is negative: both end rates < 0.
    const double b2[N] = {1.0, 1.0, -1.0, 0.0}, c2[N] = {1.0, -1.0, 1.0, 0.0};
    EXPECT_EQ(DualAmount(*rxn, b2, c2, 1.0), 0.0);
    // Without biomass (-1) entry 0 is not read.
    auto free = MakeRxn<CKinDualMonod>(std::string(DUAL) + " -1 1 2", N);
    const double b3[N] = {-1.0, 1.0, 1.0, 0.0};
    EXPECT_EQ(DualAmount(*free, b3, b3, 1.0), 4.0 * 1.0 * 1.0 / 2.0 / 4.0 * 2.0 * 0.25);
}

TEST(KinDualMonod, RecordChecks) {
    auto rxn = MakeRxn<CKinDualMonod>(std::string(DUAL) + " -1 1 2", N);
    EXPECT_EQ(rxn->m_rate, 2.0);
    EXPECT_EQ(rxn->m_halfDonor, 1.0);
    EXPECT_EQ(rxn->m_halfAcceptor, 3.0);
    EXPECT_EQ(rxn->m_biomass, -1);
    EXPECT_EQ(rxn->m_donor, 1);
    EXPECT_EQ(rxn->m_acceptor, 2);
    EXPECT_THROW(MakeRxn<CKinDualMonod>(std::string(DUAL) + " -1 1", N), BadFileException);
    EXPECT_EQ(InputErrorOf<CKinDualMonod>(std::string(DUAL) + " 0 1 4", N),
              "acceptor index 4 outside 0..3");
    EXPECT_EQ(InputErrorOf<CKinDualMonod>(std::string(DUAL) + " 0 -1 2", N),
              "donor index -1 outside 0..3");
}

} // namespace
