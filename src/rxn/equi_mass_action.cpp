#include "rxn/equi_mass_action.h"

#include "model/exceptions.h"
#include "model/index.h"
#include "rxn/rxn_description.h"

#include <cmath>
#include <istream>

namespace {

constexpr double MASS_ACTION_FLOOR = 1e-50; // smallest trial value taken to the log

} // namespace

CEquiMassAction::CEquiMassAction(std::istream& in, int nComp, CSimulation* sim)
    : CEqui(in, nComp, sim), m_exponent(new int[ToSize(nComp > 0 ? nComp : 0)]()) {
    int* exponent = m_exponent.get();
    for (int i = 0; i < m_nComp; ++i)
        in >> exponent[i];
    in >> m_keq;
    // A Keq that failed to read is 0 and is refused here as well.
    if (!(m_keq > 0.0))
        throw InputException("Equilibrium Equaitons must have a positive Keq");
    CheckStream(in);
}

double CEquiMassAction::CompQ(double x, const double* conc) const {
    const double* s = m_stoich.get();
    const int* exponent = m_exponent.get();
    double q = -std::log(m_keq);
    for (int i = 0; i < m_nComp; ++i) {
        if (exponent[i] == 0)
            continue;
        double v = x * s[i] + conc[i];
        if (!(v > MASS_ACTION_FLOOR))
            v = MASS_ACTION_FLOOR;
        q += exponent[i] * std::log(v);
    }
    return q;
}

void CEquiMassAction::Describe(CRxnDescription& d) const {
    d.SetType(0);
    d.AddVector("coefficients", m_stoich.get(), m_nComp);
    d.AddIntVector("exponents", m_exponent.get(), m_nComp);
    d.AddReal("Keq", m_keq);
}
