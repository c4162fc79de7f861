// Dual Monod kinetics with an inhibition term (type code 6).
//
// Law: r = k a d e / ((d + Kd) (e + Ka + Ki c)), with a the biomass (1.0 when
// there is none), d the electron donor, e the electron acceptor and c the
// inhibitor. Each concentration is linear in time over the local step; the
// step is first clipped to the window in which none of the four is negative,
// then the rate is written as a cubic over a quadratic in t and integrated by
// the trapezoid rule over that window (CIntegrated).
//
// Record, after the coefficient vector: doubles k, Kd, Ka, Ki; then ints
// biomass (-1 for none), donor, acceptor, inhibitor (state indices).
// Units: k in extent per unit biomass per T; Kd, Ka in the donor's and the
// acceptor's concentration units; Ki in acceptor units per inhibitor unit.
//
// Clamped: nothing is added unless biomass, donor and acceptor are each
// positive at one end at least, when no window is left, or when the amount
// is negative (or not a number).
#pragma once

#include "rxn/integrated.h"

class CKinDualMonodInhib : public CIntegrated {
public:
    CKinDualMonodInhib(std::istream& in, int nComp, CSimulation* sim);
    void Describe(CRxnDescription& d) const override;

    double CompRate(const double* conc, const double* base, double* delta, double h) override;

    double m_rate = 0.0;
    double m_halfDonor = 0.0;
    double m_halfAcceptor = 0.0;
    double m_inhib = 0.0;
    int m_biomass = -1;
    int m_donor = 0;
    int m_acceptor = 0;
    int m_inhibitor = 0;

private:
    // The rate as a ratio of polynomials in t over [0, h], from start values
    // x0 and end values x1 of biomass, donor, acceptor, inhibitor.
    void BuildPolynomials(const double* x0, const double* x1, double h, CRationalPoly& poly) const;
};
