// Freundlich sorption isotherm at equilibrium (type code 10).
//
// Law: sorbed = A * solute^B, with A the Freundlich coefficient and B the
// Freundlich exponent. With the trial values
//   v = x * m_stoich[m_solute] + conc[m_solute]
//   w = x * m_stoich[m_sorbed] + conc[m_sorbed]
// the residual is Q(x) = A * pow(v, B) - w. The extent bounds keep v
// non-negative whenever the state starts non-negative; a negative v with a
// non-integral B has no real power, and the resulting residual that is not a
// number ends at the bounds or at the pass limit of the extent solve.
//
// Record (after the type code): m_nComp doubles, the stoichiometry; double A;
// double B; integer m_solute; integer m_sorbed (the doubles come before the
// indices). Both indices must lie in 0..m_nComp-1 (InputException); A and B
// are not checked.
#pragma once

#include "rxn/equi.h"

class CEquiFreundlich : public CEqui {
public:
    CEquiFreundlich(std::istream& in, int nComp, CSimulation* sim);
    void Describe(CRxnDescription& d) const override;

    double CompQ(double x, const double* conc) const override;

private:
    int m_solute = 0;     // the dissolved entry that enters the isotherm
    int m_sorbed = 0;     // the entry the isotherm determines
    double m_coefA = 0.0; // Freundlich coefficient A
    double m_coefB = 0.0; // Freundlich exponent B
};
