#include "rxn/equi_langmuir.h"

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
