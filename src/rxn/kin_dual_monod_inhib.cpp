#include "rxn/kin_dual_monod_inhib.h"

#include "rxn/rxn_description.h"

#include <istream>

namespace {

// Positions of the four concentrations in the start and end arrays, in the
// order in which the window is clipped.
constexpr int INHIB_BIOMASS = 0;
constexpr int INHIB_DONOR = 1;
constexpr int INHIB_ACCEPTOR = 2;
constexpr int INHIB_INHIBITOR = 3;
constexpr int INHIB_SPECIES_COUNT = 4;

} // namespace

CKinDualMonodInhib::CKinDualMonodInhib(std::istream& in, int nComp, CSimulation* sim)
    : CIntegrated(in, nComp, sim) {
    SetTermCounts(4, 3); // cubic over quadratic
    in >> m_rate >> m_halfDonor >> m_halfAcceptor >> m_inhib;
    in >> m_biomass >> m_donor >> m_acceptor >> m_inhibitor;
    CheckStream(in);
    CheckIndex(m_biomass, "biomass", true);
    CheckIndex(m_donor, "donor");
    CheckIndex(m_acceptor, "acceptor");
    CheckIndex(m_inhibitor, "inhibitor");
}

double CKinDualMonodInhib::CompRate(const double* conc, const double* base, double* delta,
                                    double h) {
    // 1. Start and end values.
    double x0[INHIB_SPECIES_COUNT];
    double x1[INHIB_SPECIES_COUNT];
    if (m_biomass == -1) {
        x0[INHIB_BIOMASS] = 1.0;
        x1[INHIB_BIOMASS] = 1.0;
    } else {
        x0[INHIB_BIOMASS] = base[m_biomass];
        x1[INHIB_BIOMASS] = conc[m_biomass];
    }
    x0[INHIB_DONOR] = base[m_donor];
    x1[INHIB_DONOR] = conc[m_donor];
    x0[INHIB_ACCEPTOR] = base[m_acceptor];
    x1[INHIB_ACCEPTOR] = conc[m_acceptor];
    x0[INHIB_INHIBITOR] = base[m_inhibitor];
    x1[INHIB_INHIBITOR] = conc[m_inhibitor];

    // 2. Biomass, donor and acceptor must each be present at one end at least.
    for (int s = INHIB_BIOMASS; s <= INHIB_ACCEPTOR; ++s)
        if (!(x0[s] > 0.0 || x1[s] > 0.0))
            return 0.0;

    // 3. The window [t0, t1] in which no concentration is negative.
    double t1 = h;
    for (int s = 0; s < INHIB_SPECIES_COUNT; ++s) {
        if (x1[s] < 0.0) {
            const double t = x0[s] / (x0[s] - x1[s]) * h;
            if (t < t1)
                t1 = t;
        }
    }
    double t0 = 0.0;
    for (int s = 0; s < INHIB_SPECIES_COUNT; ++s) {
        if (x0[s] < 0.0) {
            const double t = -(x0[s] / (x1[s] - x0[s])) * h;
            if (t > t0)
                t0 = t;
        }
    }
    if (t0 >= t1)
        return 0.0;

    // 4. Cut the end first, then (5) the start, with the h the end cut left.
    if (t1 < h) {
        for (int s = 0; s < INHIB_SPECIES_COUNT; ++s)
            x1[s] = x0[s] + (x1[s] - x0[s]) / h * t1;
        h = t1;
    }
    if (t0 > 0.0) {
        const double shortened = h - t0;
        for (int s = 0; s < INHIB_SPECIES_COUNT; ++s)
            x0[s] = x1[s] - (x1[s] - x0[s]) / h * shortened;
        h = shortened;
    }

    // 6., 7. The rate over the window, integrated by the trapezoid rule.
    CRationalPoly poly;
    BuildPolynomials(x0, x1, h, poly);
    const double amount = IntegrateStep(poly, h);

    // 8. This law only consumes along its stoichiometry.
    if (!(amount >= 0.0))
        return 0.0;
    return AddAlongStoich(delta, amount);
}

// Numerator k a(t) d(t) e(t) and denominator (d(t) + Kd)(c(t) Ki + Ka + e(t))
// with x(t) = x0 + (x1 - x0) t / h. Each coefficient is written in the end
// values of the factors: the t/h term of a product of linear factors is the
// sum of the products with one factor at its end value, less the product at
// the start times the number of factors; the top term is the product of the
// differences.
void CKinDualMonodInhib::BuildPolynomials(const double* x0, const double* x1, double h,
                                          CRationalPoly& poly) const {
    const double k = m_rate;
    const double a0 = x0[INHIB_BIOMASS], a1 = x1[INHIB_BIOMASS];
    const double d0 = x0[INHIB_DONOR], d1 = x1[INHIB_DONOR];
    const double e0 = x0[INHIB_ACCEPTOR], e1 = x1[INHIB_ACCEPTOR];
    const double c0 = x0[INHIB_INHIBITOR], c1 = x1[INHIB_INHIBITOR];
    const double h2 = h * h;
    const double h3 = h * h * h;

    poly.m_num[0] = k * a0 * d0 * e0;
    poly.m_num[1] = k * (a1 * d0 * e0 + a0 * d1 * e0 + a0 * d0 * e1 - 3.0 * a0 * d0 * e0) / h;
    poly.m_num[2] = k *
                    (a1 * d1 * e0 + a1 * d0 * e1 + a0 * d1 * e1 - 2.0 * a1 * d0 * e0 -
                     2.0 * a0 * d1 * e0 - 2.0 * a0 * d0 * e1 + 3.0 * a0 * d0 * e0) /
                    h2;
    poly.m_num[3] = k * (a1 - a0) * (d1 - d0) * (e1 - e0) / h3;

    // The two denominator factors at the ends of the window.
    const double p0 = d0 + m_halfDonor;
    const double p1 = d1 + m_halfDonor;
    const double q0 = c0 * m_inhib + m_halfAcceptor + e0;
    const double q1 = c1 * m_inhib + m_halfAcceptor + e1;
    poly.m_den[0] = p0 * q0;
    poly.m_den[1] = (p1 * q0 + p0 * q1 - 2.0 * p0 * q0) / h;
    poly.m_den[2] = (p1 - p0) * (q1 - q0) / h2;
    poly.m_den[3] = 0.0; // unused: the denominator is quadratic
}

void CKinDualMonodInhib::Describe(CRxnDescription& d) const {
    d.SetType(6);
    d.AddVector("coefficients", m_stoich.get(), m_nComp);
    d.AddReal("k", m_rate);
    d.AddReal("Kd", m_halfDonor);
    d.AddReal("Ka", m_halfAcceptor);
    d.AddReal("Ki", m_inhib);
    d.AddEntry("biomass", m_biomass);
    d.AddEntry("donor", m_donor);
    d.AddEntry("acceptor", m_acceptor);
    d.AddEntry("inhibitor", m_inhibitor);
}
