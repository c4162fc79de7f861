// First-order exchange between two components (type code 7).
//
// Law: r = k (x - y): drives the two components towards equal values. x is
// linear over the local step and y integrated by the trapezoid rule:
// amount = ((x1 + x0) - y1 - y0) x k x h x 0.5. The coefficient vector says
// which component loses and which gains.
//
// Record, after the coefficient vector: double k; ints x, y (state indices).
// Units: k in 1/T.
//
// Nothing is clamped: negative values enter as they are.
#pragma once

#include "rxn/rxn.h"

class CKinExchange : public CRxn {
public:
    CKinExchange(std::istream& in, int nComp, CSimulation* sim);
    void Describe(CRxnDescription& d) const override;

    double CompRate(const double* conc, const double* base, double* delta, double h) override;

    double m_rate = 0.0;
    int m_compA = 0; // x
    int m_compB = 0; // y
};
