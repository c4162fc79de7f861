// Equilibrium reactions solved for a single reaction extent x.
//
// Advancing the reaction by x changes every state entry i by x * m_stoich[i].
// A derived class states its condition as a residual CompQ(x, conc), zero when
// the state conc[i] + x * m_stoich[i] is in equilibrium. CompEqui finds that
// extent by a safeguarded secant iteration and applies it to the state.
//
// The extent is clamped to the feasible range [lo, hi]: hi is the largest
// extent before a consumed entry (negative coefficient) reaches zero, lo the
// most negative extent before a produced entry reaches zero, so no entry that
// starts non-negative becomes negative. A root beyond a bound settles on the
// bound (the limiting entry ends at exactly zero).
//
// Record: the coefficient vector (the stoichiometry) only; the derived classes
// read their own fields after it.
#pragma once

#include "rxn/rxn.h"

class CEqui : public CRxn {
public:
    CEqui(std::istream& in, int nComp, CSimulation* sim);

    // Finds the extent that makes CompQ vanish and adds it, times each
    // coefficient, to every entry. Leaves conc unchanged when no extent keeps
    // every entry non-negative (the bounds cross) or when the residual at
    // x = 0 is exactly zero. Throws ComputeException when no coefficient
    // bounds the extent, and TimeException when the iteration has not settled
    // after EQUI_MAX_SECANT_PASSES passes (conc then unchanged).
    void CompEqui(double* conc) override;

    // The residual of the equilibrium condition at conc[i] + x * m_stoich[i];
    // never changes conc. The base throws NotSupportedException.
    virtual double CompQ(double x, const double* conc) const;
};
