#include "rxn/equi_langmuir.h"

#include "rxn/rxn_description.h"

#include <istream>

CEquiLangmuir::CEquiLangmuir(std::istream& in, int nComp, CSimulation* sim)
    : CEqui(in, nComp, sim) {
    in >> m_coefA >> m_coefB >> m_solute >> m_sorbed;
    CheckStream(in);
    CheckIndex(m_solute, "solute");
    CheckIndex(m_sorbed, "sorbed");
}

double CEquiLangmuir::CompQ(double x, const double* conc) const {
    const double* s = m_stoich.get();
    const double v = x * s[m_solute] + conc[m_solute];
    const double w = x * s[m_sorbed] + conc[m_sorbed];
    return v * m_coefA / (v + m_coefB) - w;
}

void CEquiLangmuir::Describe(CRxnDescription& d) const {
    d.SetType(9);
    d.AddVector("coefficients", m_stoich.get(), m_nComp);
    d.AddReal("A", m_coefA);
    d.AddReal("B", m_coefB);
    d.AddEntry("solute", m_solute);
    d.AddEntry("sorbed", m_sorbed);
}
