// Langmuir sorption isotherm at equilibrium (type code 9).
//
// Law: sorbed = A * solute / (solute + B), with A the sorption capacity and B
// the half-saturation constant (in the solute's units). With the trial values
//   v = x * m_stoich[m_solute] + conc[m_solute]
//   w = x * m_stoich[m_sorbed] + conc[m_sorbed]
// the residual is Q(x) = v * A / (v + B) - w.
//
// Record (after the type code): m_nComp doubles, the stoichiometry; double A;
// double B; integer m_solute; integer m_sorbed (the doubles come before the
// indices). Both indices must lie in 0..m_nComp-1 (InputException); A and B
// are not checked.
#pragma once

#include "rxn/equi.h"

class CEquiLangmuir : public CEqui {
public:
    CEquiLangmuir(std::istream& in, int nComp, CSimulation* sim);
    void Describe(CRxnDescription& d) const override;

    double CompQ(double x, const double* conc) const override;

private:
    int m_solute = 0;     // the dissolved entry that enters the isotherm
    int m_sorbed = 0;     // the entry the isotherm determines
    double m_coefA = 0.0; // sorption capacity A
    double m_coefB = 0.0; // half-saturation constant B
};
