#include "rxn/kin_exchange.h"

#include "rxn/rxn_description.h"

#include <istream>

CKinExchange::CKinExchange(std::istream& in, int nComp, CSimulation* sim) : CRxn(in, nComp, sim) {
    in >> m_rate >> m_compA >> m_compB;
    CheckStream(in);
    CheckIndex(m_compA, "first exchange component");
    CheckIndex(m_compB, "second exchange component");
}

double CKinExchange::CompRate(const double* conc, const double* base, double* delta, double h) {
    const double x0 = base[m_compA];
    const double x1 = conc[m_compA];
    const double y0 = base[m_compB];
    const double y1 = conc[m_compB];
    // The linear form with a distribution coefficient of 1.
    const double amount = ((x1 + x0) - y1 - y0) * m_rate * h * 0.5;
    return AddAlongStoich(delta, amount);
}

void CKinExchange::Describe(CRxnDescription& d) const {
    d.SetType(7);
    d.AddVector("coefficients", m_stoich.get(), m_nComp);
    d.AddReal("k", m_rate);
    d.AddEntry("x", m_compA);
    d.AddEntry("y", m_compB);
}
