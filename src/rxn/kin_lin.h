// Kinetic linear sorption (type code 11).
//
// Law: r = k (Kd x - y), x the solute, y the sorbed amount. x is linear over
// the local step and y integrated by the trapezoid rule:
// amount = ((x1 + x0) Kd - y1 - y0) x k x h x 0.5. The coefficient vector says
// which component loses and which gains.
//
// Record, after the coefficient vector: doubles Kd, k; ints solute, sorbed
// (state indices). Kd must be >= 0 (InputException).
// Units: Kd in sorbed per solute units; k in 1/T.
//
// Nothing is clamped: negative values enter as they are.
#pragma once

#include "rxn/rxn.h"

class CKinLin : public CRxn {
public:
    CKinLin(std::istream& in, int nComp, CSimulation* sim);
    void Describe(CRxnDescription& d) const override;

    double CompRate(const double* conc, const double* base, double* delta, double h) override;

    int m_solute = 0;
    int m_sorbed = 0;
    double m_kd = 0.0;
    double m_rate = 0.0;
};
