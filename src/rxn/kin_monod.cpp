#include "rxn/kin_monod.h"

#include "rxn/rxn_description.h"

#include <cmath>
#include <istream>

namespace {

// Below this squared substrate change the mean form replaces the closed form.
constexpr double MONOD_MEAN_FORM_LIMIT = 1e-6;

} // namespace

CKinMonod::CKinMonod(std::istream& in, int nComp, CSimulation* sim) : CRxn(in, nComp, sim) {
    in >> m_rate >> m_halfSat >> m_biomass >> m_substrate;
    CheckStream(in);
    CheckIndex(m_biomass, "biomass", true);
    CheckIndex(m_substrate, "substrate");
}

double CKinMonod::CompRate(const double* conc, const double* base, double* delta, double h) {
    const double k = m_rate;
    const double halfSat = m_halfSat;

    // 1. Ends of the step.
    double a0 = 1.0;
    double a1 = 1.0;
    if (m_biomass != -1) {
        a0 = base[m_biomass];
        a1 = conc[m_biomass];
    }
    double s0 = base[m_substrate];
    double s1 = conc[m_substrate];

    // 2. No biomass or no substrate over the whole step.
    if (a0 < 0.0 && a1 < 0.0)
        return 0.0;
    if (s0 <= 0.0 && s1 <= 0.0)
        return 0.0;

    // 3. Only the part of the step with substrate counts.
    if (s0 < 0.0) {
        h = h * s1 / (s1 - s0);
        s0 = 0.0;
    } else if (s1 < 0.0) {
        h = h * s0 / (s0 - s1);
        s1 = 0.0;
    }

    // 4.-6. Mean form for a nearly constant substrate, else the exact integral.
    const double change = s1 - s0;
    double amount;
    if (change * change < MONOD_MEAN_FORM_LIMIT) {
        amount = (a0 + a1) * k * (s0 + s1) * h / (((s0 + s1) * 0.5 + halfSat) * 4.0);
    } else {
        const double u0 = halfSat + s0;
        const double u1 = halfSat + s1;
        const double logRatio = std::log(u1 / u0);
        amount = k * h *
                 ((a0 + a1) / 2.0 - halfSat * (a1 - a0) / change -
                  halfSat * logRatio * (a0 * u1 - a1 * u0) / (change * change));
    }

    // 7.
    return AddAlongStoich(delta, amount);
}

void CKinMonod::Describe(CRxnDescription& d) const {
    d.SetType(4);
    d.AddVector("coefficients", m_stoich.get(), m_nComp);
    d.AddReal("k", m_rate);
    d.AddReal("K", m_halfSat);
    d.AddEntry("biomass", m_biomass);
    d.AddEntry("substrate", m_substrate);
}
