#include "rxn/kin_dual_monod.h"

#include "rxn/rxn_description.h"

#include <istream>

CKinDualMonod::CKinDualMonod(std::istream& in, int nComp, CSimulation* sim)
    : CIntegrated(in, nComp, sim) {
    // The same rational form as the inhibited law; this class integrates by
    // the three-point rule instead and never evaluates the polynomials.
    SetTermCounts(4, 3);
    in >> m_rate >> m_halfDonor >> m_halfAcceptor >> m_biomass >> m_donor >> m_acceptor;
    CheckStream(in);
    CheckIndex(m_biomass, "biomass", true);
    CheckIndex(m_donor, "donor");
    CheckIndex(m_acceptor, "acceptor");
}

double CKinDualMonod::MonodTerm(double a, double d, double e) const {
    double sign = 1.0;
    if (a < 0.0) {
        a = -a;
        sign = -1.0;
    }
    if (d < 0.0) {
        d = -d;
        sign = -1.0;
    }
    if (e < 0.0) {
        e = -e;
        sign = -1.0;
    }
    return sign * a * d * e / (d + m_halfDonor) / (e + m_halfAcceptor);
}

double CKinDualMonod::CompRate(const double* conc, const double* base, double* delta, double h) {
    // 1. Ends of the step.
    double a0 = 1.0;
    double a1 = 1.0;
    if (m_biomass != -1) {
        a0 = base[m_biomass];
        a1 = conc[m_biomass];
    }
    const double d0 = base[m_donor];
    const double d1 = conc[m_donor];
    const double e0 = base[m_acceptor];
    const double e1 = conc[m_acceptor];

    // 2. Each of biomass, donor and acceptor present at one end at least.
    if (!((a0 > 0.0 || a1 > 0.0) && (d0 > 0.0 || d1 > 0.0) && (e0 > 0.0 || e1 > 0.0)))
        return 0.0;

    // 3. Rates at the ends.
    const double f0 = MonodTerm(a0, d0, e0);
    const double f1 = MonodTerm(a1, d1, e1);
    if (f0 <= 0.0 && f1 <= 0.0)
        return 0.0;

    // 4. Rate at the mid-step state.
    const double fm = MonodTerm((a0 + a1) * 0.5, (d0 + d1) * 0.5, (e0 + e1) * 0.5);

    // 5. Trapezoid on each half, leaving out a half with no positive rate.
    double sum;
    if (f0 <= 0.0 && fm <= 0.0)
        sum = fm + f1;
    else if (f1 <= 0.0 && fm <= 0.0)
        sum = fm + f0;
    else
        sum = f0 + 2.0 * fm + f1;

    // 6.
    const double amount = sum * m_rate * h * 0.25;
    return AddAlongStoich(delta, amount);
}

void CKinDualMonod::Describe(CRxnDescription& d) const {
    d.SetType(5);
    d.AddVector("coefficients", m_stoich.get(), m_nComp);
    d.AddReal("k", m_rate);
    d.AddReal("Kd", m_halfDonor);
    d.AddReal("Ka", m_halfAcceptor);
    d.AddEntry("biomass", m_biomass);
    d.AddEntry("donor", m_donor);
    d.AddEntry("acceptor", m_acceptor);
}
