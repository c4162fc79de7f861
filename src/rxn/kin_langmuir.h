// Kinetic Langmuir sorption (type code 12).
//
// Law: r = k (q(x) - y), q(x) = Q x / (x + K), x the solute, y the sorbed
// amount. q is taken at the mean solute value of the local step (midpoint
// rule) and y by the trapezoid rule:
// amount = (2 q(xm) - y1 - y0) x k x h x 0.5, xm = (x0 + x1) x 0.5. The
// coefficient vector says which component loses and which gains.
//
// Record, after the coefficient vector: doubles Q, K, k; ints solute, sorbed
// (state indices).
// Units: Q in sorbed units; K in solute units; k in 1/T.
//
// Nothing is clamped: negative values enter as they are (xm + K = 0 gives an
// infinite amount).
#pragma once

#include "rxn/rxn.h"

class CKinLangmuir : public CRxn {
public:
    CKinLangmuir(std::istream& in, int nComp, CSimulation* sim);
    void Describe(CRxnDescription& d) const override;

    double CompRate(const double* conc, const double* base, double* delta, double h) override;

    int m_solute = 0;
    int m_sorbed = 0;
    double m_coefA = 0.0; // Q, the capacity
    double m_coefB = 0.0; // K, the half-saturation concentration
    double m_rate = 0.0;
};
