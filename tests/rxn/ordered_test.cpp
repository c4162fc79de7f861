#include "rxn/mixed_ordered.h"
#include "rxn/ordered.h"

#include "kinetic_test_util.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

using namespace kova_test;

namespace {

// Three entries: the reaction consumes entry 2 and produces entry 0; entry 1
// is the component of the rate law.
const char* const STOICH = "1 0 -1";

std::string OrderedRecord(int order, double rate, int species = 1) {
    return std::string(STOICH) + " " + std::to_string(order) + " " + std::to_string(species) + " " +
           std::to_string(rate);
}

// k x the integral over [0, h] of c^n, c linear from b to e.
double ExactPowerIntegral(int n, double b, double e, double k, double h) {
    if (e == b)
        return k * h * std::pow(b, n);
    return k * h * (std::pow(e, n + 1) - std::pow(b, n + 1)) / ((n + 1) * (e - b));
}

// The integral over s in [0, 1] of the product of the linear factors
// b_j + (e_j - b_j) s, by expanding the product into polynomial coefficients.
double ExactProductIntegral(const std::vector<double>& b, const std::vector<double>& e) {
    std::vector<double> poly{1.0};
    for (size_t j = 0; j < b.size(); ++j) {
        std::vector<double> next(poly.size() + 1, 0.0);
        for (size_t i = 0; i < poly.size(); ++i) {
            next[i] += poly[i] * b[j];
            next[i + 1] += poly[i] * (e[j] - b[j]);
        }
        poly = next;
    }
    double sum = 0.0;
    for (size_t i = 0; i < poly.size(); ++i)
        sum += poly[i] / static_cast<double>(i + 1);
    return sum;
}

TEST(Ordered, OrderTwoFromOneToTwoIsSevenThirdsKH) {
    auto rxn = MakeRxn<COrdered>(OrderedRecord(2, 1.0), 3);
    const double base[3] = {0.0, 1.0, 0.0};
    const double conc[3] = {0.0, 2.0, 0.0};
    double delta[3] = {0.5, 0.25, -0.5}; // contributions of earlier reactions stay
    rxn->CompRate(conc, base, delta, 1.0);
    EXPECT_EQ(delta[0], 0.5 + 7.0 / 3.0);
    EXPECT_EQ(delta[1], 0.25);
    EXPECT_EQ(delta[2], -0.5 - 7.0 / 3.0);

    auto scaled = MakeRxn<COrdered>(OrderedRecord(2, 0.75), 3);
    EXPECT_TRUE(NearRel(scaled->Amount(1.0, 2.0, 0.4), 7.0 / 3.0 * 0.75 * 0.4));
}

TEST(Ordered, EveryOrderIsTheExactIntegralOfTheLinearPath) {
    const double k = 0.3, h = 0.7;
    const double ends[][2] = {{0.5, 1.5}, {2.0, 0.25}, {-0.75, 1.25}, {1.1, 1.1}};
    for (int n = 0; n <= ORDERED_MAX_ORDER; ++n) {
        auto rxn = MakeRxn<COrdered>(OrderedRecord(n, k), 3);
        for (const auto& be : ends)
            EXPECT_TRUE(NearRel(rxn->Amount(be[0], be[1], h),
                                ExactPowerIntegral(n, be[0], be[1], k, h), 1e-13))
                << "order " << n << " b " << be[0] << " e " << be[1];
    }
}

TEST(Ordered, OrderZeroIgnoresTheStateAndSignChangesIntegrateThroughZero) {
    auto zero = MakeRxn<COrdered>(OrderedRecord(0, 2.5), 3);
    EXPECT_EQ(zero->Amount(-7.0, 3.0, 0.5), 2.5 * 0.5);

    // Odd orders over a symmetric sign change cancel exactly; even orders do not.
    auto first = MakeRxn<COrdered>(OrderedRecord(1, 1.0), 3);
    EXPECT_EQ(first->Amount(-1.0, 1.0, 2.0), 0.0);
    auto third = MakeRxn<COrdered>(OrderedRecord(3, 1.0), 3);
    EXPECT_EQ(third->Amount(-1.0, 1.0, 2.0), 0.0);
    auto second = MakeRxn<COrdered>(OrderedRecord(2, 1.0), 3);
    EXPECT_EQ(second->Amount(-1.0, 1.0, 3.0), 1.0);
    // A negative concentration gives the signed power: -(2^5) over a constant path.
    auto fifth = MakeRxn<COrdered>(OrderedRecord(5, 1.0), 3);
    EXPECT_EQ(fifth->Amount(-2.0, -2.0, 1.0), -32.0);
}

TEST(Ordered, OrdersOutsideZeroToSixAreRefusedWithTheirText) {
    EXPECT_NO_THROW(MakeRxn<COrdered>(OrderedRecord(6, 1.0), 3));
    EXPECT_EQ(InputErrorOf<COrdered>(OrderedRecord(7, 1.0), 3),
              "Ordered Reaction can not support order of 7");
    EXPECT_EQ(InputErrorOf<COrdered>(OrderedRecord(-1, 1.0), 3),
              "Ordered Reaction can not support order of -1");
    // The order is tested before the stream: a record cut after its order
    // still reports the order.
    EXPECT_EQ(InputErrorOf<COrdered>(std::string(STOICH) + " 9", 3),
              "Ordered Reaction can not support order of 9");
}

TEST(Ordered, TruncatedRecordIsBadFileAndBadIndexIsAnInputError) {
    EXPECT_THROW(MakeRxn<COrdered>(std::string(STOICH) + " 2 1", 3), BadFileException);
    EXPECT_EQ(InputErrorOf<COrdered>(OrderedRecord(2, 1.0, 3), 3), "species index 3 outside 0..2");
    EXPECT_EQ(InputErrorOf<COrdered>(OrderedRecord(1, 1.0, -1), 3),
              "species index -1 outside 0..2");
}

std::string MixedRecord(double rate, const std::vector<int>& species) {
    std::string r =
        std::string(STOICH) + " " + std::to_string(rate) + " " + std::to_string(species.size());
    for (int s : species)
        r += " " + std::to_string(s);
    return r;
}

TEST(MixedOrdered, OrderTwoOfOneComponentListedTwiceEqualsOrderedOrderTwo) {
    auto mixed = MakeRxn<CMixedOrdered>(MixedRecord(1.0, {1, 1}), 3);
    auto ordered = MakeRxn<COrdered>(OrderedRecord(2, 1.0), 3);
    const double base[3] = {0.0, 1.0, 0.0};
    const double conc[3] = {0.0, 2.0, 0.0};
    double dm[3] = {0.0, 0.0, 0.0};
    double dord[3] = {0.0, 0.0, 0.0};
    mixed->CompRate(conc, base, dm, 1.0);
    ordered->CompRate(conc, base, dord, 1.0);
    EXPECT_EQ(dm[0], 7.0 / 3.0);
    EXPECT_EQ(dm[0], dord[0]);
    EXPECT_EQ(dm[2], dord[2]);
}

TEST(MixedOrdered, RepeatedComponentMatchesOrderedForEveryOrder) {
    const double k = 0.8, h = 0.3;
    const double ends[][2] = {{0.5, 1.5}, {2.0, 0.25}, {-0.75, 1.25}};
    for (int n = 0; n <= ORDERED_MAX_ORDER; ++n) {
        auto ordered = MakeRxn<COrdered>(OrderedRecord(n, k), 3);
        auto mixed = MakeRxn<CMixedOrdered>(MixedRecord(k, std::vector<int>(n, 1)), 3);
        for (const auto& be : ends) {
            const double base[3] = {0.0, be[0], 0.0};
            const double conc[3] = {0.0, be[1], 0.0};
            double dm[3] = {0.0, 0.0, 0.0};
            mixed->CompRate(conc, base, dm, h);
            EXPECT_TRUE(NearRel(dm[0], ordered->Amount(be[0], be[1], h), 1e-13))
                << "order " << n << " b " << be[0] << " e " << be[1];
        }
    }
}

TEST(MixedOrdered, SubsetSumMatchesTheClosedFormsAndTheExactIntegral) {
    const double b[6] = {0.5, -1.25, 2.0, 0.75, 1.5, -0.5};
    const double e[6] = {1.5, 0.5, 0.25, 1.0, -2.0, 3.0};
    // The listed closed forms of orders 1 and 2 (k = h = 1).
    EXPECT_TRUE(NearRel(CMixedOrdered::SubsetSum(1, b, e), (e[0] + b[0]) * 0.5, 1e-15));
    EXPECT_TRUE(NearRel(CMixedOrdered::SubsetSum(2, b, e),
                        (e[1] * (2 * e[0] + b[0]) + b[1] * (2 * b[0] + e[0])) / 6, 1e-15));
    EXPECT_EQ(CMixedOrdered::SubsetSum(0, b, e), 1.0);
    for (int n = 1; n <= ORDERED_MAX_ORDER; ++n)
        EXPECT_TRUE(NearRel(
            CMixedOrdered::SubsetSum(n, b, e),
            ExactProductIntegral(std::vector<double>(b, b + n), std::vector<double>(e, e + n)),
            1e-13))
            << "order " << n;
    // Order 5: the two one-end terms weigh 10/60 each.
    const double ones[5] = {1.0, 1.0, 1.0, 1.0, 1.0};
    const double zeros[5] = {0.0, 0.0, 0.0, 0.0, 0.0};
    EXPECT_TRUE(NearRel(CMixedOrdered::SubsetSum(5, ones, zeros), 10.0 / 60.0, 1e-15));
}

TEST(MixedOrdered, ClosedFormsOfLowOrdersUseTheListedFactors) {
    const double base[3] = {2.0, 0.5, 3.0};
    const double conc[3] = {1.0, 1.5, -1.0};
    auto order1 = MakeRxn<CMixedOrdered>(MixedRecord(2.0, {2}), 3);
    double d1[3] = {0.0, 0.0, 0.0};
    order1->CompRate(conc, base, d1, 0.5);
    EXPECT_EQ(d1[0], (-1.0 + 3.0) * 2.0 * 0.5 * 0.5);

    // Factors in record order: c_1 is entry 0, c_2 is entry 1.
    auto order2 = MakeRxn<CMixedOrdered>(MixedRecord(2.0, {0, 1}), 3);
    double d2[3] = {0.0, 0.0, 0.0};
    order2->CompRate(conc, base, d2, 0.5);
    EXPECT_EQ(d2[0], (1.5 * (2 * 1.0 + 2.0) + 0.5 * (2 * 2.0 + 1.0)) * 2.0 * 0.5 / 6);
}

TEST(MixedOrdered, OrderZeroReadsNoIndices) {
    auto in = ModelStream(std::string(STOICH) + " 1.5 0 42 ");
    CMixedOrdered rxn(*in, 3, nullptr);
    EXPECT_EQ(rxn.m_species, nullptr);
    int next = 0;
    *in >> next;
    EXPECT_EQ(next, 42); // the next record's first number is still there
    double delta[3] = {0.0, 0.0, 0.0};
    const double state[3] = {9.0, 9.0, 9.0};
    rxn.CompRate(state, state, delta, 2.0);
    EXPECT_EQ(delta[0], 3.0);
}

TEST(MixedOrdered, OrderAndIndexChecks) {
    EXPECT_NO_THROW(MakeRxn<CMixedOrdered>(MixedRecord(1.0, {0, 1, 2, 0, 1, 2}), 3));
    EXPECT_EQ(InputErrorOf<CMixedOrdered>(MixedRecord(1.0, {0, 1, 2, 0, 1, 2, 0}), 3),
              "Mixed Ordered Reaction can not support order of 7");
    EXPECT_EQ(InputErrorOf<CMixedOrdered>(std::string(STOICH) + " 1.0 -1", 3),
              "Mixed Ordered Reaction can not support order of -1");
    EXPECT_EQ(InputErrorOf<CMixedOrdered>(MixedRecord(1.0, {0, 5}), 3),
              "factor index 5 outside 0..2");
    // A list cut short is a bad file, not a factor left unset.
    EXPECT_THROW(MakeRxn<CMixedOrdered>(std::string(STOICH) + " 1.0 3 0 1", 3), BadFileException);
}

} // namespace
