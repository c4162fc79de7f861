#include "rxn/rxn.h"

#include "model/exceptions.h"
#include "model/index.h"
#include "model/number_text.h"
#include "rxn/rxn_description.h"

#include <istream>
#include <string>

CRxn::CRxn(std::istream& in, int nComp, CSimulation* sim)
    : m_nComp(nComp), m_stoich(new double[ToSize(nComp > 0 ? nComp : 0)]()), m_sim(sim) {
    double* stoich = m_stoich.get();
    for (int i = 0; i < m_nComp; ++i)
        in >> stoich[i];
    CheckStream(in);
}

CRxn::~CRxn() = default;

int CRxn::AffectsHydraulic() const {
    // The state vector always has the seven hydraulic slots.
    const double* stoich = m_stoich.get();
    for (int i = 0; i < 7 && i < m_nComp; ++i)
        if (stoich[i] != 0.0)
            return 1;
    return 0;
}

double CRxn::CompRate(const double*, const double*, double*, double) {
    throw NotSupportedException("CRxn does not support kinetic reactions");
}

void CRxn::CompEqui(double*) {
    throw NotSupportedException("CRxn does not support equilibrium reactions");
}

void CRxn::CheckIndex(int index, const char* field, bool allowNone) const {
    if (allowNone && index == -1)
        return;
    if (index < 0 || index >= m_nComp)
        throw InputException(std::string(field) + " index " + std::to_string(index) +
                             " outside 0.." + std::to_string(m_nComp - 1) +
                             (allowNone ? " (or -1 for none)" : ""));
}

void CRxn::CheckNotNegative(double value, const char* field) {
    if (!(value >= 0.0))
        throw InputException(std::string(field) + " " + ExactText(value) + " is not a number >= 0");
}

void CRxn::CheckStream(const std::istream& in) {
    if (!in.good())
        throw BadFileException();
}

void CRxn::Describe(CRxnDescription& d) const {
    d.AddVector("coefficients", m_stoich.get(), m_nComp);
}
