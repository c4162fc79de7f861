#include "rxn/kin_freundlich.h"

#include "rxn/rxn_description.h"

#include <cmath>
#include <istream>

CKinFreundlich::CKinFreundlich(std::istream& in, int nComp, CSimulation* sim)
    : CRxn(in, nComp, sim) {
    in >> m_coefA >> m_coefB >> m_rate >> m_solute >> m_sorbed;
    CheckStream(in);
    CheckIndex(m_solute, "solute");
    CheckIndex(m_sorbed, "sorbed");
}

double CKinFreundlich::CompRate(const double* conc, const double* base, double* delta, double h) {
    const double x0 = base[m_solute];
    double x1 = conc[m_solute];
    const double y0 = base[m_sorbed];
    const double y1 = conc[m_sorbed];

    // 1., 2. Only the part of the step with solute counts.
    if (x0 <= 0.0)
        return 0.0;
    if (x1 < 0.0) {
        h = h * x0 / (x0 - x1);
        x1 = 0.0;
    }

    // 3., 4.
    const double mean = (x1 + x0) * 0.5;
    const double q = m_coefA * std::pow(mean, m_coefB);
    const double amount = (2.0 * q - y1 - y0) * m_rate * h * 0.5;
    return AddAlongStoich(delta, amount);
}

void CKinFreundlich::Describe(CRxnDescription& d) const {
    d.SetType(13);
    d.AddVector("coefficients", m_stoich.get(), m_nComp);
    d.AddReal("K", m_coefA);
    d.AddReal("n", m_coefB);
    d.AddReal("k", m_rate);
    d.AddEntry("solute", m_solute);
    d.AddEntry("sorbed", m_sorbed);
}
