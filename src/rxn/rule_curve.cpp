#include "rxn/rule_curve.h"

#include "model/exceptions.h"
#include "model/simulation.h"
#include "rxn/rxn_description.h"
#include "rxn/rxn_work.h"

#include <istream>
#include <string>

namespace {

// Points reserved up front; a larger count grows the table as points arrive,
// so a corrupt count cannot ask for memory the file does not back.
constexpr int RULE_CURVE_RESERVE = 1024;

} // namespace

CRuleCurve::CRuleCurve(std::istream& in, int nComp, CSimulation* sim) : CRxn(in, nComp, sim) {
    in >> m_kind >> m_driver >> m_multiplier >> m_nPoints;
    if (m_kind < 0)
        in >> m_target;
    if (in.fail())
        throw BadFileException("Bad File: missing or malformed rule curve header");
    if (m_nPoints < 1)
        throw InputException("rule curve with " + std::to_string(m_nPoints) +
                             " points: at least 1 point needed");

    m_x.reserve(ToSize(m_nPoints < RULE_CURVE_RESERVE ? m_nPoints : RULE_CURVE_RESERVE));
    m_y.reserve(m_x.capacity());
    for (int i = 0; i < m_nPoints; ++i) {
        double x = 0.0;
        double y = 0.0;
        in >> x >> y;
        if (in.fail())
            throw BadFileException("Bad File: missing rule curve point " + std::to_string(i));
        m_x.push_back(x);
        m_y.push_back(y);
    }
    CheckStream(in);

    CheckIndex(m_driver, "driver", true);
    CheckIndex(m_multiplier, "multiplier", true);
    if (m_kind < 0)
        CheckIndex(m_target, "target");
}

void CRuleCurve::CheckEquilibriumListing() const {
    if (m_kind == 0)
        throw InputException("a rule curve of kind 0 has no target component and cannot be "
                             "listed among the equilibrium reactions (use a negative kind)");
}

double CRuleCurve::CurveValue(double u) const {
    const double* x = m_x.data();
    const double* y = m_y.data();
    const int last = m_nPoints - 1;
    // One point is flat everywhere; a u that compares with nothing (not a
    // number) would otherwise fall through to a second point there is not.
    if (last == 0)
        return y[0];
    if (u <= x[0])
        return y[0];
    if (u >= x[last])
        return y[last];
    // The first point at or beyond u; the bound keeps a u that compares with
    // nothing (not a number) inside the table.
    int i = 1;
    while (i < last && !(x[i] >= u))
        ++i;
    return y[i - 1] + (y[i] - y[i - 1]) / (x[i] - x[i - 1]) * (u - x[i - 1]);
}

double CRuleCurve::CurveIntegral(double lo, double hi, double mlo, double mhi) const {
    // 1. Integrate upwards; a reversed interval changes the sign.
    double sign = 1.0;
    if (hi < lo) {
        double swap = lo;
        lo = hi;
        hi = swap;
        swap = mlo;
        mlo = mhi;
        mhi = swap;
        sign = -1.0;
    }
    const bool trapezoid = m_multiplier == -1;

    // 2.-5. One piece per curve point inside [lo, hi), then the last piece.
    // The multiplier slope is formed only when a point lies inside, so an
    // empty interval never divides by zero.
    double sum = 0.0;
    double ua = lo;
    double fa = CurveValue(lo);
    double ma = mlo;
    const double* x = m_x.data();
    const double* y = m_y.data();
    int i = 0;
    while (i < m_nPoints && !(x[i] >= lo))
        ++i;
    for (; i < m_nPoints && x[i] < hi; ++i) {
        const double ub = x[i];
        const double fb = y[i];
        const double mb = mlo + (mhi - mlo) / (hi - lo) * (ub - lo);
        if (trapezoid)
            sum += (ub - ua) * (fa + fb) * 0.5;
        else
            sum += (ub - ua) * (2.0 * ma * fa + ma * fb + mb * fa + 2.0 * mb * fb) / 6.0;
        ua = ub;
        fa = fb;
        ma = mb;
    }
    const double ub = hi;
    const double fb = CurveValue(hi);
    const double mb = mhi;
    if (trapezoid)
        sum += (ub - ua) * (fa + fb) * 0.5;
    else
        sum += (ub - ua) * (2.0 * ma * fa + ma * fb + mb * fa + 2.0 * mb * fb) / 6.0;

    // 6.
    return sign * sum;
}

double CRuleCurve::CompRate(const double* conc, const double* base, double* delta, double h) {
    if (m_kind < 0)
        throw NotSupportedException("Incorrect Type for a Kinetic Rule Curve Reaction");

    // 2. Multiplier ends.
    double m0 = 1.0;
    double m1 = 1.0;
    if (m_multiplier != -1) {
        m0 = base[m_multiplier];
        m1 = conc[m_multiplier];
    }

    double amount;
    if (m_driver == -1) {
        // 3. A rate in time, over the local step on the reaction clock.
        const double t0 = LocalTime(*m_sim);
        amount = CurveIntegral(t0, t0 + h, m0, m1);
    } else {
        // 4. The mean of curve x multiplier along the driver's path, times h.
        const double x0 = base[m_driver];
        const double x1 = conc[m_driver];
        if (x0 == x1)
            amount = 0.0;
        else
            amount = CurveIntegral(x0, x1, m0, m1) / (x1 - x0) * h;
    }

    // 5.
    return AddAlongStoich(delta, amount);
}

void CRuleCurve::CompEqui(double* conc) {
    if (m_kind > 0)
        throw NotSupportedException("Incorrect Type for an Equilibrium Rule Curve Reaction");
    // A kind-0 curve is refused in equilibrium lists when the sets are read;
    // called anyway it has no target to set.
    if (m_target < 0)
        throw NotSupportedException("Rule Curve Reaction without a target component");

    const double u = m_driver == -1 ? LocalEndTime(*m_sim) : conc[m_driver];
    const double v = CurveValue(u);
    if (m_multiplier == -1)
        AssignEntry(conc, m_target, v);
    else
        AssignEntry(conc, m_target, v * conc[m_multiplier]);
}

void CRuleCurve::Describe(CRxnDescription& d) const {
    // A kind of 0 reads no target, so it serves only as a kinetic reaction.
    d.SetType(14, m_kind < 0 ? ERxnKind::Equilibrium : ERxnKind::Kinetic);
    d.AddVector("coefficients", m_stoich.get(), m_nComp);
    d.AddInteger("kind", m_kind);
    d.AddEntry("driver", m_driver, "time");
    d.AddEntry("multiplier", m_multiplier);
    d.AddInteger("points", m_nPoints);
    if (m_kind < 0)
        d.AddEntry("target", m_target);
    d.AddPoints("curve", m_x.data(), m_y.data(), m_nPoints);
}
