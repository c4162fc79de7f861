// Power-law kinetics of a product of components (type code 3).
//
// Law: r = k c_1 c_2 ... c_n, n from 0 to 6 listed components (a component
// may be listed more than once). Each factor is linear in time over the local
// step, from its start value b_j to its end value e_j, and the rate is
// integrated exactly:
//
//   amount = k h sum over subsets S of the factors of
//            w(|S|) x (product over j in S of e_j) x (product over j not in S of b_j),
//   w(m) = m! (n - m)! / (n + 1)!.
//
// Orders 0 to 2 use their short closed forms. From order 3 on the subsets are
// taken in the order of a bit mask running from 0 to 2^n - 1 (bit j set: factor
// j at its end value); each term is w(m) times the end values of S in list
// order, times the start values of the other factors in list order; the terms
// are summed in mask order and the sum is multiplied by k h.
//
// Record, after the coefficient vector: double k, int n, then n ints (state
// indices of the factors; none for n = 0).
// Units: k in extent per (concentration^n T).
//
// Nothing is clamped: negative concentrations enter as they are.
#pragma once

#include "rxn/rxn.h"

#include <memory>

class CMixedOrdered : public CRxn {
public:
    CMixedOrdered(std::istream& in, int nComp, CSimulation* sim);
    void Describe(CRxnDescription& d) const override;

    double CompRate(const double* conc, const double* base, double* delta, double h) override;

    // k x the integral over [0, h] of the product of the factors, each linear
    // from start[j] to end[j] (j from 0 to n - 1).
    double Amount(const double* start, const double* end, double h) const;
    // The sum over all subsets of the weighted products (the bracket of the
    // law), as used from order 3 on; valid for every n from 0 to 6.
    static double SubsetSum(int n, const double* start, const double* end);

    double m_rate = 0.0;
    int m_order = 0;
    std::unique_ptr<int[]> m_species; // m_order entries; null for order 0
};
