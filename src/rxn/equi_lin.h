// Linear sorption at equilibrium (type code 8).
//
// Law: sorbed = Kd * solute. The condition is linear in the extent, so one
// step finds it: x = (conc[solute] * Kd - conc[sorbed]) / d with
// d = m_stoich[sorbed] - m_stoich[solute] * Kd, clamped to the range that
// keeps every entry with a non-zero coefficient non-negative, and applied
// along the stoichiometry. A clamped extent leaves the limiting entry at zero
// and the condition unmet.
//
// Record (after the type code): m_nComp doubles, the stoichiometry (e.g. -1 on
// the dissolved and +1 on the sorbed entry); double Kd; integer m_solute;
// integer m_sorbed. Both indices must lie in 0..m_nComp-1 and Kd must be
// >= 0 (InputException). Units: Kd in sorbed units per solute unit.
//
// Round-off: an entry below zero by at most opzero times the largest entry
// the reaction touches (at least 1) is taken as at zero when the bounds
// would otherwise cross; anything more negative ends the run.
#pragma once

#include "rxn/rxn.h"

#include <string>

class CEquiLin : public CRxn {
public:
    CEquiLin(std::istream& in, int nComp, CSimulation* sim);
    void Describe(CRxnDescription& d) const override;

    // Throws ComputeException, state unchanged, when the bounds cross (some
    // entry already negative beyond round-off) or when d is zero, in that order.
    void CompEqui(double* conc) override;

private:
    double RoundOff(const double* conc) const;
    void Bounds(const double* conc, double roundOff, double& lo, double& hi) const;
    std::string InfeasibleDetail(const double* conc) const;

    double m_kd = 0.0; // distribution coefficient Kd
    int m_solute = 0;  // the dissolved entry (multiplied by Kd)
    int m_sorbed = 0;  // the sorbed entry (must equal Kd times the dissolved)
};
