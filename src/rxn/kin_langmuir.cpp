#include "rxn/kin_langmuir.h"

#include "rxn/rxn_description.h"

#include <istream>

CKinLangmuir::CKinLangmuir(std::istream& in, int nComp, CSimulation* sim) : CRxn(in, nComp, sim) {
    in >> m_coefA >> m_coefB >> m_rate >> m_solute >> m_sorbed;
    CheckStream(in);
    CheckIndex(m_solute, "solute");
    CheckIndex(m_sorbed, "sorbed");
}

double CKinLangmuir::CompRate(const double* conc, const double* base, double* delta, double h) {
    const double x0 = base[m_solute];
    const double x1 = conc[m_solute];
    const double y0 = base[m_sorbed];
    const double y1 = conc[m_sorbed];
    const double mean = (x0 + x1) * 0.5;
    const double q = m_coefA * mean / (mean + m_coefB);
    const double amount = (2.0 * q - y1 - y0) * m_rate * h * 0.5;
    return AddAlongStoich(delta, amount);
}

void CKinLangmuir::Describe(CRxnDescription& d) const {
    d.SetType(12);
    d.AddVector("coefficients", m_stoich.get(), m_nComp);
    d.AddReal("Q", m_coefA);
    d.AddReal("K", m_coefB);
    d.AddReal("k", m_rate);
    d.AddEntry("solute", m_solute);
    d.AddEntry("sorbed", m_sorbed);
}
