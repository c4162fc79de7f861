#include "rxn/equi_lin.h"

#include "model/exceptions.h"
#include "rxn/rxn_description.h"

#include <istream>

namespace {

constexpr double EQUI_LIN_BOUND = 1e60; // "no bound" on the extent

} // namespace

CEquiLin::CEquiLin(std::istream& in, int nComp, CSimulation* sim) : CRxn(in, nComp, sim) {
    in >> m_kd >> m_solute >> m_sorbed;
    CheckStream(in);
    CheckIndex(m_solute, "solute");
    CheckIndex(m_sorbed, "sorbed");
}

void CEquiLin::CompEqui(double* conc) {
    const int n = m_nComp;
    const double* s = m_stoich.get();
    const int a = m_solute;
    const int w = m_sorbed;

    // 1-2. The extents at which each entry with a non-zero coefficient reaches
    //      zero bound the extent.
    double hi = EQUI_LIN_BOUND;
    double lo = -EQUI_LIN_BOUND;
    for (int i = 0; i < n; ++i) {
        if (s[i] != 0.0) {
            const double t = -(conc[i] / s[i]);
            if (s[i] < 0.0) {
                if (t < hi)
                    hi = t;
            } else {
                if (t > lo)
                    lo = t;
            }
        }
    }

    // 3. Infeasible before degenerate.
    if (hi < lo)
        throw ComputeException(
            "Error, can not find a feasible solution to equilibrium linear sorption condition");

    // 4. The exchange must change sorbed minus Kd times dissolved.
    const double d = s[w] - s[a] * m_kd;
    if (d == 0.0)
        throw ComputeException("Problem in EQuilin Reaction");

    // 5. The extent after which conc[w] equals Kd * conc[a].
    double x = (conc[a] * m_kd - conc[w]) / d;

    // 6. Lower clamp first (an extent that is not a number goes to lo).
    if (!(x >= lo))
        x = lo;
    if (x > hi)
        x = hi;

    // 7.
    ApplyExtent(conc, x);
}

void CEquiLin::Describe(CRxnDescription& d) const {
    d.SetType(8, "CEquiLin", ERxnKind::Equilibrium);
    d.AddVector("coefficients", m_stoich.get(), m_nComp);
    d.AddReal("Kd", m_kd);
    d.AddEntry("solute", m_solute);
    d.AddEntry("sorbed", m_sorbed);
}
