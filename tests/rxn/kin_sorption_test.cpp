#include "rxn/kin_exchange.h"
#include "rxn/kin_freundlich.h"
#include "rxn/kin_langmuir.h"
#include "rxn/kin_lin.h"

#include "kinetic_test_util.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

using namespace kova_test;

namespace {

// Three entries: solute x at 1, sorbed y at 2; the reaction moves solute to
// the sorbed phase (x loses, y gains); entry 0 is untouched.
const int N = 3;
const char* const STOICH = "0 -1 1";

double Amount(CRxn& rxn, double x0, double x1, double y0, double y1, double h) {
    const double base[N] = {0.0, x0, y0};
    const double conc[N] = {0.0, x1, y1};
    double delta[N] = {0.25, 0.0, 0.0}; // an earlier contribution is kept
    rxn.CompRate(conc, base, delta, h);
    EXPECT_EQ(delta[0], 0.25);
    EXPECT_EQ(delta[1], -delta[2]);
    return delta[2];
}

TEST(KinExchange, TwoAgainstZeroGivesOne) {
    auto rxn = MakeRxn<CKinExchange>(std::string(STOICH) + " 0.5 1 2", N);
    EXPECT_EQ(rxn->m_rate, 0.5);
    EXPECT_EQ(rxn->m_compA, 1);
    EXPECT_EQ(rxn->m_compB, 2);
    EXPECT_EQ(Amount(*rxn, 2.0, 2.0, 0.0, 0.0, 1.0), 1.0);
    // Reversed difference, reversed direction.
    EXPECT_EQ(Amount(*rxn, 0.0, 0.0, 2.0, 2.0, 1.0), -1.0);
    // Equal values at both ends: nothing moves.
    EXPECT_EQ(Amount(*rxn, 1.0, 3.0, 1.0, 3.0, 0.7), 0.0);
}

TEST(KinLin, RecordReadsDoublesFirstAndEquilibriumAddsNothing) {
    auto rxn = MakeRxn<CKinLin>(std::string(STOICH) + " 2.0 0.5 1 2", N);
    EXPECT_EQ(rxn->m_kd, 2.0);
    EXPECT_EQ(rxn->m_rate, 0.5);
    EXPECT_EQ(rxn->m_solute, 1);
    EXPECT_EQ(rxn->m_sorbed, 2);
    // y = Kd x at both ends.
    EXPECT_EQ(Amount(*rxn, 1.0, 3.0, 2.0, 6.0, 0.4), 0.0);
    // ((x1 + x0) Kd - y1 - y0) k h / 2 = (8 - 1) 0.5 0.4 / 2.
    EXPECT_EQ(Amount(*rxn, 1.0, 3.0, 0.0, 1.0, 0.4), (4.0 * 2.0 - 1.0 - 0.0) * 0.5 * 0.4 * 0.5);
    // Negative values are not guarded.
    EXPECT_EQ(Amount(*rxn, -1.0, -1.0, 0.0, 0.0, 1.0), -2.0 * 2.0 * 0.5 * 0.5);
}

TEST(KinLangmuir, EquilibriumAtBothEndsStillMovesALittle) {
    const double Q = 4.0, K = 1.0, k = 0.5, h = 1.0;
    auto rxn = MakeRxn<CKinLangmuir>(std::string(STOICH) + " 4 1 0.5 1 2", N);
    EXPECT_EQ(rxn->m_coefA, Q);
    EXPECT_EQ(rxn->m_coefB, K);
    EXPECT_EQ(rxn->m_rate, k);
    auto q = [&](double x) { return Q * x / (x + K); };
    // q is concave: q at the mean solute lies above the mean of q.
    const double got = Amount(*rxn, 1.0, 3.0, q(1.0), q(3.0), h);
    EXPECT_TRUE(NearRel(got, k * h * (q(2.0) - (q(1.0) + q(3.0)) / 2)));
    EXPECT_GT(got, 0.0);
}

TEST(KinFreundlich, GuardsOfTheSolute) {
    const double K = 2.0, n = 0.5, k = 0.25;
    auto rxn = MakeRxn<CKinFreundlich>(std::string(STOICH) + " 2 0.5 0.25 1 2", N);
    EXPECT_EQ(rxn->m_coefA, K);
    EXPECT_EQ(rxn->m_coefB, n);
    EXPECT_EQ(rxn->m_rate, k);
    // Solute zero or negative at the start: nothing, however far from equilibrium.
    EXPECT_EQ(Amount(*rxn, 0.0, 4.0, 100.0, 100.0, 1.0), 0.0);
    EXPECT_EQ(Amount(*rxn, -1.0, 4.0, 0.0, 0.0, 1.0), 0.0);
    // x 1 -> -1 over h = 2: h becomes 1, the mean solute 0.5, y kept.
    EXPECT_EQ(Amount(*rxn, 1.0, -1.0, 0.25, 0.5, 2.0),
              (2.0 * (K * std::pow(0.5, n)) - 0.5 - 0.25) * k * 1.0 * 0.5);
    // Ordinary step: q at the mean solute 2.
    EXPECT_TRUE(
        NearRel(Amount(*rxn, 1.0, 3.0, 0.0, 1.0, 0.5), k * 0.5 * (K * std::sqrt(2.0) - 0.5)));
}

TEST(KineticSorption, TruncatedRecordsAndBadIndices) {
    EXPECT_THROW(MakeRxn<CKinExchange>(std::string(STOICH) + " 0.5 1", N), BadFileException);
    EXPECT_THROW(MakeRxn<CKinLin>(std::string(STOICH) + " 2 0.5 1", N), BadFileException);
    EXPECT_THROW(MakeRxn<CKinLangmuir>(std::string(STOICH) + " 4 1 0.5 1", N), BadFileException);
    EXPECT_THROW(MakeRxn<CKinFreundlich>(std::string(STOICH) + " 2 0.5 0.25 1", N),
                 BadFileException);
    EXPECT_EQ(InputErrorOf<CKinExchange>(std::string(STOICH) + " 0.5 1 3", N),
              "second exchange component index 3 outside 0..2");
    EXPECT_EQ(InputErrorOf<CKinLin>(std::string(STOICH) + " 2 0.5 -1 2", N),
              "solute index -1 outside 0..2");
    EXPECT_EQ(InputErrorOf<CKinLangmuir>(std::string(STOICH) + " 4 1 0.5 1 7", N),
              "sorbed index 7 outside 0..2");
    EXPECT_EQ(InputErrorOf<CKinFreundlich>(std::string(STOICH) + " 2 0.5 0.25 9 2", N),
              "solute index 9 outside 0..2");
}

} // namespace
