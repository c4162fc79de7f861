// Mass-action equilibrium (type code 0).
//
// Law: the product over the entries of (conc[i] + x * m_stoich[i]) raised to
// the integer exponent e[i] equals Keq. It is solved in logarithms:
//   Q(x) = -ln(Keq) + sum over e[i] != 0, in index order, of
//          e[i] * ln(max(conc[i] + x * m_stoich[i], 1e-50))
// A trial value at or below 1e-50 (or not a number) is floored at 1e-50, so an
// entry that vanishes at a bound gives a large finite residual.
//
// Record (after the type code): m_nComp doubles, the stoichiometry; m_nComp
// integers, the exponents (0 leaves an entry out), entry 0 first; one double,
// Keq. Keq must be greater than 0 (InputException, tested before the stream).
// Units: Keq in the units the exponents give the state entries.
#pragma once

#include "rxn/equi.h"

#include <memory>

class CEquiMassAction : public CEqui {
public:
    CEquiMassAction(std::istream& in, int nComp, CSimulation* sim);
    void Describe(CRxnDescription& d) const override;

    double CompQ(double x, const double* conc) const override;

private:
    double m_keq = 0.0;
    std::unique_ptr<int[]> m_exponent; // m_nComp exponents
};
