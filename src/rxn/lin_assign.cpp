#include "rxn/lin_assign.h"

#include "model/limits.h"
#include "rxn/rxn_description.h"

#include <istream>

CLinAssign::CLinAssign(std::istream& in, int nComp, CSimulation* sim) : CRxn(in, nComp, sim) {
    in >> m_target >> m_constant;
    // A failed read leaves the target at 0 (or at the clamped value of a
    // number too large for an int, which is refused here).
    CheckIndex(m_target, "target");
}

int CLinAssign::AffectsHydraulic() const {
    return m_target >= 0 && m_target < SLOT_COUNT;
}

void CLinAssign::CompEqui(double* conc) {
    const double* weight = m_stoich.get();
    double sum = m_constant;
    for (int i = 0; i < m_nComp; ++i)
        sum += weight[i] * conc[i];
    AssignEntry(conc, m_target, sum);
}

bool CLinAssign::HoldsEntry(int k) const {
    if (k != m_target)
        return false;
    for (int i = 0; i < m_nComp; ++i)
        if (m_stoich[static_cast<size_t>(i)] != 0.0)
            return false;
    return true;
}

void CLinAssign::Describe(CRxnDescription& d) const {
    d.SetType(1);
    d.AddVector("weights", m_stoich.get(), m_nComp);
    d.AddEntry("target", m_target);
    d.AddReal("b", m_constant);
}
