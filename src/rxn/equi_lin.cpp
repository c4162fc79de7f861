#include "rxn/equi_lin.h"

#include "model/exceptions.h"
#include "model/number_text.h"
#include "model/simulation.h"
#include "rxn/rxn_description.h"

#include <algorithm>
#include <cmath>
#include <istream>
#include <string>

namespace {

constexpr double EQUI_LIN_BOUND = 1e60; // "no bound" on the extent

} // namespace

CEquiLin::CEquiLin(std::istream& in, int nComp, CSimulation* sim) : CRxn(in, nComp, sim) {
    in >> m_kd >> m_solute >> m_sorbed;
    CheckStream(in);
    CheckIndex(m_solute, "solute");
    CheckIndex(m_sorbed, "sorbed");
    // A negative Kd would push more than all of the solute onto the sorbent.
    CheckNotNegative(m_kd, "Kd");
}

// Entry i is negative by no more than round-off: the corrector settles each
// node's state to within opzero (an absolute sum), so an entry may fall below
// zero by opzero times the largest entry the reaction touches (at least 1,
// the scale at which opzero is absolute).
double CEquiLin::RoundOff(const double* conc) const {
    const double* s = m_stoich.get();
    double scale = 1.0;
    for (int i = 0; i < m_nComp; ++i)
        if (s[i] != 0.0)
            scale = std::max(scale, std::fabs(conc[i]));
    const double opzero = m_sim ? m_sim->m_settings.m_opzero : 0.0;
    return opzero > 0.0 ? opzero * scale : 0.0;
}

// The extents at which each entry with a non-zero coefficient reaches zero
// bound the extent; an entry within roundOff below zero counts as at zero.
void CEquiLin::Bounds(const double* conc, double roundOff, double& lo, double& hi) const {
    const double* s = m_stoich.get();
    hi = EQUI_LIN_BOUND;
    lo = -EQUI_LIN_BOUND;
    for (int i = 0; i < m_nComp; ++i) {
        if (s[i] != 0.0) {
            const double c = conc[i] < 0.0 && -conc[i] <= roundOff ? 0.0 : conc[i];
            const double t = -(c / s[i]);
            if (s[i] < 0.0) {
                if (t < hi)
                    hi = t;
            } else {
                if (t > lo)
                    lo = t;
            }
        }
    }
}

// The most negative entry the reaction touches, for the failure's detail.
std::string CEquiLin::InfeasibleDetail(const double* conc) const {
    int worst = -1;
    for (int i = 0; i < m_nComp; ++i)
        if (m_stoich[static_cast<size_t>(i)] != 0.0 && conc[i] < 0.0 &&
            (worst < 0 || conc[i] < conc[worst]))
            worst = i;
    std::string text =
        "Error, can not find a feasible solution to equilibrium linear sorption condition";
    if (worst >= 0)
        text += ": entry " + std::to_string(worst) + " is " + ExactText(conc[worst]) +
                ", below zero by more than round-off (" + ExactText(RoundOff(conc)) + ")";
    return text;
}

void CEquiLin::CompEqui(double* conc) {
    const double* s = m_stoich.get();
    const int a = m_solute;
    const int w = m_sorbed;

    // 1-2. The bounds of the extent.
    double lo = 0.0;
    double hi = 0.0;
    Bounds(conc, 0.0, lo, hi);

    // 3. Infeasible before degenerate; an entry negative by round-off only
    //    (left by transport or the corrector) stands at its bound.
    if (hi < lo)
        Bounds(conc, RoundOff(conc), lo, hi);
    if (hi < lo)
        throw ComputeException(InfeasibleDetail(conc));

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
    d.SetType(8);
    d.AddVector("coefficients", m_stoich.get(), m_nComp);
    d.AddReal("Kd", m_kd);
    d.AddEntry("solute", m_solute);
    d.AddEntry("sorbed", m_sorbed);
}
