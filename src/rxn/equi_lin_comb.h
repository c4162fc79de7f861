// Linear combination equilibrium (type code 15).
//
// Law: conc[m_target] = m_constant + sum over i of m_weight[i] * conc[i],
// reached by advancing a reaction along m_stoich, so every entry with a
// non-zero coefficient moves with the target and none is driven below zero.
// Because the sum moves with the extent, the extent is found in passes: each
// pass takes the extent that would meet the condition with the sum held
// fixed, x = (sum - conc[target]) / m_stoich[target], clamps it to the range
// keeping every entry non-negative (upper bound first) and applies it, until
// a pass moves less than 1e-40. After EQUI_MAX_LINCOMB_PASSES passes the next
// pass is applied and then TimeException is thrown.
//
// Record (after the type code): m_nComp doubles, the stoichiometry; integer
// m_target; double m_constant; m_nComp doubles, the weights, entry 0 first.
// The target must lie in 0..m_nComp-1 (InputException).
#pragma once

#include "rxn/rxn.h"

#include <memory>

class CEquiLinComb : public CRxn {
public:
    CEquiLinComb(std::istream& in, int nComp, CSimulation* sim);
    void Describe(CRxnDescription& d) const override;

    void CompEqui(double* conc) override;

    // The passes of CompEqui; returns how many were applied (0 when the
    // target's coefficient is zero). Throws TimeException, keeping the changes
    // of every pass, when the pass after the last allowed one has been applied.
    int Settle(double* conc) const;

private:
    int m_target = 0;                   // the entry that must equal the sum
    double m_constant = 0.0;            // the constant term
    std::unique_ptr<double[]> m_weight; // m_nComp weights of the sum
};
