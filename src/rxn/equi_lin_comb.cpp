#include "rxn/equi_lin_comb.h"

#include "model/exceptions.h"
#include "model/index.h"
#include "model/limits.h"
#include "rxn/rxn_description.h"

#include <istream>

namespace {

constexpr double LINCOMB_SETTLED = 1e-40; // a pass moving no more than this ends them

} // namespace

CEquiLinComb::CEquiLinComb(std::istream& in, int nComp, CSimulation* sim)
    : CRxn(in, nComp, sim), m_weight(new double[ToSize(nComp > 0 ? nComp : 0)]()) {
    in >> m_target >> m_constant;
    double* weight = m_weight.get();
    for (int i = 0; i < m_nComp; ++i)
        in >> weight[i];
    CheckStream(in);
    CheckIndex(m_target, "target");
}

void CEquiLinComb::CompEqui(double* conc) {
    Settle(conc);
}

int CEquiLinComb::Settle(double* conc) const {
    const int n = m_nComp;
    const double* s = m_stoich.get();
    const double* weight = m_weight.get();
    const int k = m_target;

    // 1. The reaction cannot move the target.
    if (s[k] == 0.0)
        return 0;

    // 2-3.
    int passes = 0;
    for (;;) {
        // 3.1-3.2. The extent that meets the condition with the sum held fixed.
        double sum = m_constant;
        for (int i = 0; i < n; ++i)
            sum += weight[i] * conc[i];
        double x = (sum - conc[k]) / s[k];

        // 3.3. Consumed entries bound the extent from above, produced ones
        //      from below.
        bool hasUpper = false;
        bool hasLower = false;
        double upper = 0.0;
        double lower = 0.0;
        for (int i = 0; i < n; ++i) {
            if (s[i] == 0.0)
                continue;
            const double t = -(conc[i] / s[i]);
            if (s[i] < 0.0) {
                if (!hasUpper || t < upper)
                    upper = t;
                hasUpper = true;
            } else if (s[i] > 0.0) {
                if (!hasLower || t > lower)
                    lower = t;
                hasLower = true;
            }
        }

        // 3.4. No extent keeps every entry non-negative: keep what the
        //      earlier passes did.
        if (hasUpper && hasLower && upper < lower)
            return passes;

        // 3.5.
        if (hasUpper && x > upper)
            x = upper;
        if (hasLower && x < lower)
            x = lower;

        // 3.6.
        ApplyExtent(conc, x);

        // 3.7. The limit comes before the convergence test: the pass after the
        //      last allowed one is applied, then the local step fails.
        ++passes;
        if (passes > EQUI_MAX_LINCOMB_PASSES)
            throw TimeException("linear combination did not settle");

        // 3.8.
        if (!(x > LINCOMB_SETTLED || x < -LINCOMB_SETTLED))
            return passes;
    }
}

void CEquiLinComb::Describe(CRxnDescription& d) const {
    d.SetType(15);
    d.AddVector("coefficients", m_stoich.get(), m_nComp);
    d.AddEntry("target", m_target);
    d.AddReal("b", m_constant);
    d.AddVector("weights", m_weight.get(), m_nComp);
}
