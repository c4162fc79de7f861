// The stable global step of the explicit transport step. Every node with flow
// and every mobile component gives a candidate from the velocity term
// V = vr^2 / x^2 + vc^2 / y^2 and the dispersion term
// D = Drr / x^2 + Dcc / y^2 + Drc / (x y): 1 / sqrt(V) without dispersion, the
// root form (sqrt(V + c^2 D^2) - c D) / V while sqrt(V) / D <= STABLE_STEP_SWITCH,
// else 1 / sqrt(V) - 2 D / V. The step is the smallest candidate, at most the
// run's duration. The symmetric and tvd schemes have rules of their own
// (SymmetricStableStep, TvdStableStep). The default and symmetric steps are
// further kept within SelfShareStableStep, which the rule meets wherever
// porosity and dispersion change gently from node to node.
#include "transport/transport.h"

#include "model/exceptions.h"
#include "model/limits.h"
#include "model/node_view.h"
#include "model/number_text.h"
#include "model/simulation.h"
#include "model/transport_scheme.h"
#include "run/run_progress.h"

#include <cmath>
#include <cstdio>
#include <string>

double LaxWendroffCandidate(double v, double d) {
    const double root = std::sqrt(v);
    if (d == 0.0)
        return 1.0 / root;
    if (root / d <= STABLE_STEP_SWITCH)
        return (std::sqrt(v + STABLE_STEP_ROOT_COEF_SQUARED * (d * d)) -
                STABLE_STEP_ROOT_COEF * d) /
               v;
    return 1.0 / root - 2.0 * d / v;
}

namespace {

double LaxWendroffStableStep(const CSimulation& s, double duration, int* limiting, int rowBegin,
                             int rowEnd) {
    double step = duration;
    *limiting = -1;
    const double* rowWidth = s.m_grid.m_rowWidth.get();
    const double* colWidth = s.m_grid.m_colWidth.get();
    for (int i = rowBegin; i < rowEnd; ++i) {
        for (int j = 0; j < s.m_nCols; ++j) {
            const int n = i * s.m_nCols + j;
            const double x = rowWidth[i];
            const double y = colWidth[j];
            const CNodeView node(s.m_stateNew.get() + n * s.m_nComp);
            const double vr = node.FluxRow() / node.Porosity();
            const double vc = node.FluxCol() / node.Porosity();
            const double v = vr * vr / (x * x) + vc * vc / (y * y);
            if (!(v > 0.0))
                continue; // no flow: the node sets no limit
            for (int k = 0; k < s.m_nMobile; ++k) {
                const double* coef = s.m_dispCoef.get() + 3 * (n * s.m_nMobile + k);
                const double d = coef[0] / (x * x) + coef[1] / (y * y) + coef[2] / (x * y);
                const double candidate = LaxWendroffCandidate(v, d);
                if (candidate < step) {
                    step = candidate;
                    *limiting = n;
                }
            }
        }
    }
    return step;
}

} // namespace

namespace {

// The rule's step, or the self-share bound where that is smaller (and its
// node limits the step).
double WithinSelfShare(const CSimulation& s, double duration, int* limiting, double step,
                       bool symmetric, int rowBegin, int rowEnd) {
    int node = -1;
    const double bound = SelfShareStableStep(s, duration, &node, symmetric, rowBegin, rowEnd);
    if (!(bound < step))
        return step;
    *limiting = node;
    return bound;
}

} // namespace

double StableStepWithinSelfShare(const CSimulation& s, double duration, int* limiting,
                                 bool symmetric, int rowBegin, int rowEnd) {
    const double step = symmetric ? SymmetricStableStep(s, duration, limiting, rowBegin, rowEnd)
                                  : LaxWendroffStableStep(s, duration, limiting, rowBegin, rowEnd);
    return WithinSelfShare(s, duration, limiting, step, symmetric, rowBegin, rowEnd);
}

void ComputeStableStep(CSimulation& s, double duration) {
    int limiting = -1; // the node whose candidate is the step
    const double step = s.Transport().StableStep(s, duration, &limiting, 0, s.m_nRows);
    SetStableStep(s, duration, step, limiting);
}

void SetStableStep(CSimulation& s, double duration, double step, int limiting) {
    // A step of 0 or below would never move the clock over the run.
    if (duration > 0.0 && !(step > 0.0)) {
        std::string where = limiting >= 0 ? " at node (" + std::to_string(limiting / s.m_nCols) +
                                                ", " + std::to_string(limiting % s.m_nCols) + ")"
                                          : "";
        throw ComputeException("stable global step " + ExactText(step) + " is not positive" +
                               where);
    }
    s.m_clock.m_globalStep = step;
    s.m_progress->SetGlobalStep(step);
}
