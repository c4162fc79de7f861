// Dual Monod kinetics (type code 5).
//
// Law: r = k a d / (Kd + d) x e / (Ka + e), with a the biomass (1.0 when there
// is none), d the electron donor and e the electron acceptor. The rate is
// integrated over the local step by the trapezoid rule on each half step,
// with the concentrations linear in time (start, middle and end values). A
// half step whose two rates are both not positive is left out.
//
// Record, after the coefficient vector: doubles k, Kd, Ka; ints biomass (-1
// for none), donor, acceptor (state indices).
// Units: k in extent per unit biomass per T; Kd, Ka in the donor's and the
// acceptor's concentration units.
//
// Clamped: nothing is added unless biomass, donor and acceptor are each
// positive at one end at least, and the rate is positive at one end at least.
// A negative argument makes the rate negative, its size from the magnitudes.
#pragma once

#include "rxn/integrated.h"

class CKinDualMonod : public CIntegrated {
public:
    CKinDualMonod(std::istream& in, int nComp, CSimulation* sim);
    void Describe(CRxnDescription& d) const override;

    double CompRate(const double* conc, const double* base, double* delta, double h) override;

    // a d e / (d + Kd) / (e + Ka) on the magnitudes, negative when any
    // argument is negative.
    double MonodTerm(double a, double d, double e) const;

    double m_rate = 0.0;
    double m_halfDonor = 0.0;
    double m_halfAcceptor = 0.0;
    int m_biomass = -1;
    int m_donor = 0;
    int m_acceptor = 0;
};
