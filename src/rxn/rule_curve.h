// A reaction driven by a user-given curve (type code 14).
//
// The curve is a table of points (x, y), joined by straight lines and held
// flat beyond its first and last point. Its abscissa is the reaction clock
// (driver -1) or the value of a driving component. As a kinetic reaction the
// curve is a rate: the amount over a local step is the integral of curve x
// multiplier over the step (the multiplier linear between its start and end
// values), added along the coefficient vector. As an equilibrium reaction the
// curve is a value: the target component is set to curve x multiplier.
//
// Record, after the coefficient vector: int kind (< 0 equilibrium use only,
// > 0 kinetic use only, 0 both), int driver (state index, or -1 for the
// reaction clock), int multiplier (state index, or -1 for none), int number
// of points (at least 1), int target (state index; only when kind < 0), then
// the points as pairs x y with ascending x.
// Units: a kinetic curve gives extent per T (time-driven) or per T along the
// driver's path; an equilibrium curve gives the target's units.
//
// A time-driven curve reads the model's reaction clock, which during the
// reactions of a global step lags the model time by the input's global step.
// A kind-0 record has no target: it may not be listed among a set's
// equilibrium reactions.
#pragma once

#include "rxn/rxn.h"

#include <vector>

class CRuleCurve : public CRxn {
public:
    CRuleCurve(std::istream& in, int nComp, CSimulation* sim);
    void Describe(CRxnDescription& d) const override;
    // Along the coefficients as a rate; as an equilibrium, the target it sets.
    double ChangePerAmount(int k, bool equilibrium) const override {
        if (equilibrium)
            return k == m_target ? 1.0 : 0.0;
        return CRxn::ChangePerAmount(k, false);
    }

    double CompRate(const double* conc, const double* base, double* delta, double h) override;
    void CompEqui(double* conc) override;
    void CheckEquilibriumListing() const override;

    // The curve at u: linear between points, flat beyond the ends.
    double CurveValue(double u) const;
    // Signed integral from lo to hi of CurveValue(u) x m(u), m linear with
    // m(lo) = mlo and m(hi) = mhi. Exact for the piecewise linear curve; a
    // curve without multiplier is integrated by the trapezoid on each piece.
    double CurveIntegral(double lo, double hi, double mlo, double mhi) const;

    int m_driver = -1;
    int m_target = -1; // -1 when the record has none (kind >= 0)
    int m_multiplier = -1;
    int m_nPoints = 0;
    int m_kind = 0;
    std::vector<double> m_x; // abscissae, ascending
    std::vector<double> m_y; // ordinates
};
