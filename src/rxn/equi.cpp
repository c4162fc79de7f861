#include "rxn/equi.h"

#include "model/exceptions.h"
#include "model/limits.h"

namespace {

constexpr double EQUI_BOUND = 1e50;         // "no bound" on the extent
constexpr double EQUI_RESIDUAL_TOL = 1e-12; // |Q| at or below this is equilibrium

const char* const NO_STOICH_TEXT = "No Stiometry for an equilibrium Reaction.";

} // namespace

CEqui::CEqui(std::istream& in, int nComp, CSimulation* sim) : CRxn(in, nComp, sim) {}

double CEqui::CompQ(double, const double*) const {
    throw NotSupportedException("CEqui does not know how to CompQ");
}

void CEqui::CompEqui(double* conc) {
    const int n = m_nComp;
    const double* s = m_stoich.get();

    // 1. Nothing to advance.
    if (n <= 0)
        throw ComputeException(NO_STOICH_TEXT);

    // 2. Feasible range of the extent; zero coefficients do not bound it.
    double hi = EQUI_BOUND;
    double lo = -EQUI_BOUND;
    for (int i = 0; i < n; ++i) {
        if (s[i] < 0) {
            const double t = -(conc[i] / s[i]);
            if (t < hi)
                hi = t;
        } else if (s[i] > 0) {
            const double t = -(conc[i] / s[i]);
            if (t > lo)
                lo = t;
        }
    }

    // 3. No extent keeps every entry non-negative: leave the state alone.
    if (hi < lo)
        return;

    // 4. First trial extent: near the lower bound if there is one, else near
    //    the upper bound.
    double a;
    if (lo > -EQUI_BOUND) {
        a = lo > -1 ? lo : -1;
    } else {
        if (hi >= EQUI_BOUND)
            throw ComputeException(NO_STOICH_TEXT);
        a = hi < 1 ? hi : 1;
    }

    // 5. Second trial extent: one unit inside a one-sided range, else zero.
    double b;
    if (lo >= 0) {
        b = lo + 1 < hi ? lo + 1 : lo;
    } else if (hi <= 0) {
        b = hi - 1 > lo ? hi - 1 : hi;
    } else {
        b = 0;
        if (CompQ(0, conc) == 0.0)
            return;
    }
    // Two equal trials would end the secant before its first pass (a product
    // at 0 with at most one unit of what it consumes): start from the middle.
    if (b == a && lo < hi)
        b = (lo + hi) / 2;

    // 6.
    double qa = CompQ(a, conc);
    double qb = CompQ(b, conc);

    // 7. Secant passes, each new trial extent clamped into the range.
    for (int pass = 1;; ++pass) {
        // Two successive trials on the same bound: the root lies beyond it.
        if (b == hi && a == hi)
            break;
        if (b == lo && a == lo)
            break;
        // A residual that never settles (not a number, or no root the secant
        // can reach) is a failed local step, not an endless loop.
        if (pass > EQUI_MAX_SECANT_PASSES)
            throw TimeException("equilibrium extent did not settle");

        const double slope = (qa - qb) / (a - b);
        const double next = -(qb - slope * b) / slope;
        a = b;
        qa = qb;
        b = next;

        // The upper clamp first; a b that is not a number goes to lo.
        if (b >= hi)
            b = hi;
        if (!(b > lo))
            b = lo;

        qb = CompQ(b, conc);
        if (-EQUI_RESIDUAL_TOL <= qb && qb <= EQUI_RESIDUAL_TOL)
            break;
    }

    // 8. Apply the extent.
    ApplyExtent(conc, b);
}
