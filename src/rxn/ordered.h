// Power-law kinetics of one component (type code 2).
//
// Law: r = k c^n, order n from 0 to 6. The component is linear in time over
// the local step (from its start value b to its end value e), and the rate is
// integrated exactly: amount = k h (sum over j of e^j b^(n-j)) / (n + 1),
// evaluated in the fixed form of each order.
//
// Record, after the coefficient vector: int order n, int component (state
// index), double k.
// Units: k in extent per (concentration^n T).
//
// Nothing is clamped: a concentration that changes sign over the step is
// integrated through zero, negative values giving the signed powers.
#pragma once

#include "rxn/rxn.h"

// Orders accepted by the power-law reactions.
constexpr int ORDERED_MAX_ORDER = 6;

class COrdered : public CRxn {
public:
    COrdered(std::istream& in, int nComp, CSimulation* sim);
    void Describe(CRxnDescription& d) const override;

    double CompRate(const double* conc, const double* base, double* delta, double h) override;

    // k x the integral over [0, h] of c(t)^n, c linear from b to e.
    double Amount(double b, double e, double h) const;

    int m_order = 0;
    int m_species = 0;
    double m_rate = 0.0;
};
