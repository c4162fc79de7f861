// Monod kinetics with one substrate (type code 4).
//
// Law: r = k a s / (K + s), with a the biomass (1.0 when there is none) and s
// the substrate. Both are linear in time over the local step; the rate is
// integrated exactly (a logarithmic closed form), or at the mean state when
// the substrate hardly changes over the step (the closed form then loses all
// its digits to cancellation).
//
// Record, after the coefficient vector: doubles k, K; ints biomass (-1 for
// none), substrate (state indices).
// Units: k in extent per unit biomass per T; K in substrate units.
//
// Clamped: nothing is added when both biomass ends are negative or both
// substrate ends are not positive. A substrate end below zero shortens the
// step to the zero crossing (the biomass ends are kept as they are).
#pragma once

#include "rxn/rxn.h"

class CKinMonod : public CRxn {
public:
    CKinMonod(std::istream& in, int nComp, CSimulation* sim);
    void Describe(CRxnDescription& d) const override;

    double CompRate(const double* conc, const double* base, double* delta, double h) override;

    double m_rate = 0.0;
    double m_halfSat = 0.0;
    int m_biomass = -1;
    int m_substrate = 0;
};
