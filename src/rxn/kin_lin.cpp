#include "rxn/kin_lin.h"

#include "rxn/rxn_description.h"

#include <istream>

CKinLin::CKinLin(std::istream& in, int nComp, CSimulation* sim) : CRxn(in, nComp, sim) {
    in >> m_kd >> m_rate >> m_solute >> m_sorbed;
    CheckStream(in);
    CheckIndex(m_solute, "solute");
    CheckIndex(m_sorbed, "sorbed");
    CheckNotNegative(m_kd, "Kd");
}

double CKinLin::CompRate(const double* conc, const double* base, double* delta, double h) {
    const double x0 = base[m_solute];
    const double x1 = conc[m_solute];
    const double y0 = base[m_sorbed];
    const double y1 = conc[m_sorbed];
    const double amount = ((x1 + x0) * m_kd - y1 - y0) * m_rate * h * 0.5;
    return AddAlongStoich(delta, amount);
}

void CKinLin::Describe(CRxnDescription& d) const {
    d.SetType(11);
    d.AddVector("coefficients", m_stoich.get(), m_nComp);
    d.AddReal("Kd", m_kd);
    d.AddReal("k", m_rate);
    d.AddEntry("solute", m_solute);
    d.AddEntry("sorbed", m_sorbed);
}
