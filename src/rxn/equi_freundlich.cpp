#include "rxn/equi_freundlich.h"

#include "rxn/rxn_description.h"

#include <cmath>
#include <istream>

CEquiFreundlich::CEquiFreundlich(std::istream& in, int nComp, CSimulation* sim)
    : CEqui(in, nComp, sim) {
    in >> m_coefA >> m_coefB >> m_solute >> m_sorbed;
    CheckStream(in);
    CheckIndex(m_solute, "solute");
    CheckIndex(m_sorbed, "sorbed");
}

double CEquiFreundlich::CompQ(double x, const double* conc) const {
    const double* s = m_stoich.get();
    const double v = x * s[m_solute] + conc[m_solute];
    const double w = x * s[m_sorbed] + conc[m_sorbed];
    return m_coefA * std::pow(v, m_coefB) - w;
}

void CEquiFreundlich::Describe(CRxnDescription& d) const {
    d.SetType(10);
    d.AddVector("coefficients", m_stoich.get(), m_nComp);
    d.AddReal("A", m_coefA);
    d.AddReal("B", m_coefB);
    d.AddEntry("solute", m_solute);
    d.AddEntry("sorbed", m_sorbed);
}
