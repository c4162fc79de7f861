// Linear assignment (type code 1).
//
// Law: conc[m_target] = m_constant + sum over i of weight[i] * conc[i], the sum
// taken in index order with the target's old value included when its weight
// is non-zero. No other entry changes; nothing is clamped, so the result may
// be negative. The coefficient vector of the record holds the weights (it is
// no stoichiometry here).
//
// Record (after the type code): m_nComp doubles, the weights; integer
// m_target; double m_constant. The target must lie in 0..m_nComp-1
// (InputException). The stream is not tested after the two fields: a failed
// read of them comes to light at the next reader's test.
#pragma once

#include "rxn/rxn.h"

class CLinAssign : public CRxn {
public:
    CLinAssign(std::istream& in, int nComp, CSimulation* sim);
    void Describe(CRxnDescription& d) const override;
    // Only the target is set; the coefficients are weights.
    double ChangePerAmount(int k, bool) const override { return k == m_target ? 1.0 : 0.0; }

    // 1 when the target is a hydraulic slot (entries 0..6).
    int AffectsHydraulic() const override;
    void CompEqui(double* conc) override;
    // The target with every weight 0: a held value.
    bool HoldsEntry(int k) const override;

private:
    int m_target = 0;        // the entry that is set
    double m_constant = 0.0; // the constant term
};
