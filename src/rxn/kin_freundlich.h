// Kinetic Freundlich sorption (type code 13).
//
// Law: r = k (q(x) - y), q(x) = K x^n, x the solute, y the sorbed amount. q is
// taken at the mean solute value of the local step (midpoint rule) and y by
// the trapezoid rule: amount = (2 q(xm) - y1 - y0) x k x h x 0.5,
// xm = (x1 + x0) x 0.5. The coefficient vector says which component loses and
// which gains.
//
// Record, after the coefficient vector: doubles K, n, k; ints solute, sorbed
// (state indices).
// Units: K in sorbed units per (solute units)^n; n dimensionless; k in 1/T.
//
// Clamped: nothing is added when the solute is not positive at the start of
// the step; a solute end below zero shortens the step to the zero crossing
// (the sorbed ends are kept), so the power never sees a negative base.
#pragma once

#include "rxn/rxn.h"

class CKinFreundlich : public CRxn {
public:
    CKinFreundlich(std::istream& in, int nComp, CSimulation* sim);
    void Describe(CRxnDescription& d) const override;

    double CompRate(const double* conc, const double* base, double* delta, double h) override;

    int m_solute = 0;
    int m_sorbed = 0;
    double m_coefA = 0.0; // K, the coefficient
    double m_coefB = 0.0; // n, the exponent
    double m_rate = 0.0;
};
