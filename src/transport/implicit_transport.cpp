// The implicit transport step. For every mobile component the new values x
// solve, node by node,
//   x_n - dt * (sum over faces of -+F(x) / (w theta_n) + s_n x_n)
//       = c_n + dt * (sum over faces of -+G(c) / (w theta_n)) + injected_n + dt r_n
// (r_n the reactions' rate, below; s_n the node's sink rate where its source
// is negative, w its width along
// the face's normal, a face's flux counted out of its node a and into b):
// backward Euler with
//   F(x) = q x(u) - theta_f D (x(b) - x(a)) / d
// in the matrix: upstream advection, and the dispersion along the normal
// with the upstream node's coefficient (as the symmetric and tvd schemes take
// it). The matrix is then an M-matrix whose rows sum to 1 or more (the water
// is conserved), so the values stay within 0 and the right-hand side's range.
// "default" takes the same matrix: its Lax-Wendroff term belongs to
// the explicit step. With scheme = "symmetric" the advection in the matrix is
// central,
// q (x(a) + x(b)) / 2: second order, not monotone where a cell's Peclet
// number exceeds 2.
//
// Deferred to the right-hand side, from the state at the step's start:
// G, the cross dispersion across the upstream node's neighbours (every
// scheme), and with scheme = "tvd" the van Leer correction
// q/2 d s (s the limited slope of the explicit tvd scheme, without its
// Courant factor). Under "default" and "tvd" G is limited face by face so that
// no node's right-hand side leaves the range of its 3 x 3 neighbourhood at the
// step's start (Zalesak's limiter, as the explicit tvd scheme limits its
// cross term): with the upstream matrix the result is monotone whatever the
// step. Under "symmetric" G is taken whole. The limits shrink as the step
// grows (they compare dt G with the room a node has), so long steps lean
// towards the first-order upstream answer.
//
// The change put into m_transportDelta is taken from the fluxes of the
// solution, F(x) + G, face by face, and the sink s_n x_n: every face moves
// the same mass out of one node and into the other, so the budget closes to
// rounding whatever the solver's residual, which only makes the values differ
// from the exact solution of the system by that residual.
//
// The matrices (five-point, transport/five_point.h) and their factors by
// lines are made before the time loop (the flow field is steady), in arrays
// sized once; a reaction that turns a node's source or porosity, or a changed
// step, makes them anew at the next step. Components whose matrices are the
// same share a factor. With more than one thread the components are solved
// side by side, each with its own system and work and the same arithmetic as
// alone, so the bits do not depend on the threads. The solve is BiCGSTAB
// (transport/krylov_solve.h), its vectors made with the systems, so a step
// allocates nothing. The passes of one step share the step's deferred
// fluxes and right-hand side; each iteration starts from the last solution
// (a new step: from its start plus the last step's change), as the solution
// moves little from pass to pass and alike from step to step.
//
// The reactions follow the transport as after the explicit step, but a long
// step must know what they will do: the right-hand side carries the rate at
// which they changed each mobile entry in the last pass (the pass's change
// less what transport and injection applied). A step whose rate is not known
// well (the first, or one after a step whose rate moved by more than
// TRANSPORT_IMPLICIT_RATE_TOLERANCE of the entry's largest value) is taken in
// trial passes first, each from the same start and leaving no trace, until
// the rate settles (the time loop drives them).
#include "transport/implicit_transport.h"

#include "transport/five_point.h"
#include "transport/krylov_solve.h"
#include "transport/transport_faces.h"
#include "transport/upstream_faces.h"

#include "model/exceptions.h"
#include "model/extension.h"
#include "model/index.h"
#include "model/limits.h"
#include "model/node_view.h"
#include "model/number_text.h"
#include "model/phase_times.h"
#include "model/simulation.h"
#include "run/first_failure.h"
#include "run/message_sink.h"
#include "run/run_progress.h"
#include "run/thread_team.h"
#include "rxn/rxn.h"
#include "rxn/rxn_set.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace {

// The slots a system depends on besides the step, kept per node.
constexpr int IMPLICIT_KEPT[] = {SLOT_SOURCE, SLOT_POROSITY, SLOT_FLUXROW, SLOT_FLUXCOL};
constexpr int IMPLICIT_NKEPT = 4;

// What the deferred flux of a face reads besides the values: its upstream
// node, the node downstream and the one beyond the upstream node (FAR_NONE
// where there is none: no slope; FAR_HELD where the upstream node holds the
// entry: the downstream gradient), the cross term's factor and the
// neighbours it reads (up - across and up + across). Fixed while the flow
// field is, so made with the matrix.
constexpr int FAR_NONE = -1;
constexpr int FAR_HELD = -2;
struct CDeferredFace {
    double cross =
        0.0; // the upstream node's porosity times its cross coefficient over the distance
    double qHalf = 0.0; // half the face's flux
    double d = 0.0;     // the distance across the face
    double dUp = 0.0;   // from the upstream node to the one beyond it
    int up = 0;
    int down = 0;
    int far = FAR_NONE;
    int across = 0;
};

// One mobile component's system.
struct CComponentSystem {
    CFivePointMatrix m_matrix;
    CFivePointLineIlu m_factor;
    // The factor the component's solve takes: its own, or that of an
    // earlier component whose matrix is the same (same dispersion, no node
    // holding one and not the other).
    const CFivePointLineIlu* m_shared = nullptr;
    CKrylovWork m_work;
    // Per node: F = coef[0] x(a) + coef[1] x(b) across its row face below,
    // coef[2] and coef[3] across its column face to the right.
    std::vector<double> m_coef;
    // The work of one step, the component's own so that the components can
    // be solved side by side.
    Eigen::VectorXd m_rhs;
    Eigen::VectorXd m_x; // the guess, then the solution
    // What every pass of a step shares: its start (the component's values),
    // its right-hand side less the reactions' rate, its limited deferred
    // fluxes; the build and the step they belong to.
    std::vector<double> m_stepStart;
    Eigen::VectorXd m_stepRhs;
    std::vector<double> m_stepDeferred;
    long long m_stepBuild = -1;
    double m_stepDt = 0.0;
    // The last pass's solution and the start of the step it belonged to,
    // from which the next step guesses.
    Eigen::VectorXd m_passSolution;
    std::vector<double> m_passStart;
    bool m_havePass = false;
    // The rate the last solve carried, and whether it was a trial's.
    std::vector<double> m_solvedRate;
    bool m_solvedTrial = false;
    std::vector<double> m_deferred; // G per face: 2 per node (row face below, column face right)
    std::vector<double> m_limits;   // R+ and R- per node (default and tvd schemes)
    std::vector<double> m_range;    // work of the limits: 2 per node
    std::vector<CDeferredFace> m_faces; // 2 per node, as m_deferred
    CImplicitTimes m_times;             // its share of where the step's time goes
};

} // namespace

class CImplicitTransport {
public:
    std::vector<std::unique_ptr<CComponentSystem>> m_systems;
    // Per node and mobile component: the rate at which the reactions changed
    // it in the last pass (0 before the first), which the next pass carries,
    // and the rate the last step ended with.
    std::vector<double> m_rate;
    std::vector<double> m_stepRate;
    bool m_haveRate = false;
    bool m_settled = false; // the last step ended with about the rate of the one before
    bool m_trial = false;   // a pass that leaves no trace
    int m_trialPasses = 0;  // trial passes of the step in progress
    bool m_warnedUnsettled = false;
    CStepStart m_saved;                // what a step taken again must start from
    std::vector<double> m_kept;        // IMPLICIT_KEPT per node, as the systems were made
    std::vector<unsigned char> m_held; // per node and mobile component: its value is held
    double m_step = 0.0;               // the global step they were made with
    long long m_builds = 0;            // systems made so far
    std::vector<double> m_scale;       // per node: NodeScales
    int m_maxIterations = TRANSPORT_IMPLICIT_MAX_ITERATIONS;
    CImplicitTimes m_times; // the systems' making, the passes and the copies
};

CImplicitSolver::CImplicitSolver() = default;
CImplicitSolver::~CImplicitSolver() = default;

namespace {

// A face as the implicit step sees it, its flux read from state.
CAxisFace FaceFrom(const CSimulation& s, const double* state, int i, int j, int axis) {
    CAxisFace g = AxisFace(s, i, j, axis == 0);
    g.f.q = state[g.f.a + (axis == 0 ? SLOT_FLUXROW : SLOT_FLUXCOL)];
    return g;
}

bool HasFace(const CSimulation& s, int i, int j, int axis) {
    return axis == 0 ? i < s.m_nRows - 1 : j < s.m_nCols - 1;
}

bool Held(const CSimulation& s, const unsigned char* held, int n, int m) {
    return held[ToSize(n) * ToSize(s.m_nMobile) + ToSize(m)] != 0;
}

// fn(g, axis) for every face of the grid, its flux read from state.
template <typename Fn> void ForEachFace(const CSimulation& s, const double* state, Fn&& fn) {
    for (int i = 0; i < s.m_nRows; ++i)
        for (int j = 0; j < s.m_nCols; ++j)
            for (int axis = 0; axis < 2; ++axis)
                if (HasFace(s, i, j, axis))
                    fn(FaceFrom(s, state, i, j, axis), axis);
}

// The nodes whose reaction set holds a mobile entry at a constant.
void FindHeld(const CSimulation& s, std::vector<unsigned char>& held) {
    held.assign(ToSize(s.m_nNodes) * ToSize(s.m_nMobile), 0);
    const std::vector<unsigned char>& holds = s.m_setHoldsMobile;
    const unsigned char* sets = s.m_nodeRxnSet.get();
    for (int n = 0; n < s.m_nNodes; ++n)
        for (int m = 0; m < s.m_nMobile; ++m) {
            const size_t at = ToSize(sets[n]) * ToSize(s.m_nMobile) + ToSize(m);
            if (at < holds.size() && holds[at])
                held[ToSize(n) * ToSize(s.m_nMobile) + ToSize(m)] = 1;
        }
}

// The matrix of mobile component m from state, and the faces' coefficients.
void BuildSystem(const CSimulation& s, const double* state, int m, double dt,
                 const unsigned char* held, CComponentSystem& system) {
    const int nComp = s.m_nComp;
    const bool central = s.m_ext.m_scheme == ETransportScheme::SYMMETRIC;
    CFivePointMatrix& matrix = system.m_matrix;
    matrix.SetZero();
    system.m_coef.assign(4 * ToSize(s.m_nNodes), 0.0);
    for (int n = 0; n < s.m_nNodes; ++n) {
        const double source = NodeOf(state, nComp, n).Source();
        const bool sink = source < 0.0 && !Held(s, held, n, m);
        matrix.Row(n)[STENCIL_SELF] = 1.0 + (sink ? -source * dt : 0.0);
    }
    ForEachFace(s, state, [&](const CAxisFace& g, int axis) {
        const CFace& f = g.f;
        const double thetaA = NodeAt(state, f.a).Porosity();
        const double thetaB = NodeAt(state, f.b).Porosity();
        const double dispersion = MeanPorosity(state, f) * Upstream(s, state, g, m).diag / f.d;
        const double advA = central ? 0.5 * f.q : std::max(f.q, 0.0);
        const double advB = central ? 0.5 * f.q : std::min(f.q, 0.0);
        const double coefA = advA + dispersion;
        const double coefB = advB - dispersion;
        const int a = f.a / nComp;
        const int b = f.b / nComp;
        double* kept = system.m_coef.data() + 4 * ToSize(a) + 2 * ToSize(axis);
        kept[0] = coefA;
        kept[1] = coefB;
        const double scaleA = dt / (f.wa * thetaA);
        const double scaleB = dt / (f.wb * thetaB);
        // A held node's row stays x = its value at the step's start.
        if (!Held(s, held, a, m)) {
            double* row = matrix.Row(a);
            row[STENCIL_SELF] += scaleA * coefA;
            row[axis == 0 ? STENCIL_DOWN : STENCIL_RIGHT] += scaleA * coefB;
        }
        if (!Held(s, held, b, m)) {
            double* row = matrix.Row(b);
            row[axis == 0 ? STENCIL_UP : STENCIL_LEFT] += -scaleB * coefA;
            row[STENCIL_SELF] += -scaleB * coefB;
        }
    });
}

void Factor(const CSimulation& s, int m, CComponentSystem& system) {
    if (!system.m_factor.Compute(system.m_matrix)) {
        const int k = s.m_nComp - s.m_nMobile + m;
        throw ComputeException("the implicit transport of mobile component " +
                               EntryName(s.m_ext, s.m_nComp, s.m_nMobile, k) +
                               ": its matrix has no incomplete LU factor (a zero pivot)");
    }
}

// Each node's scales: the step over its width along the rows' normal and
// the columns', over its porosity.
void NodeScales(const CSimulation& s, const double* state, double dt, std::vector<double>& scale) {
    for (int i = 0; i < s.m_nRows; ++i)
        for (int j = 0; j < s.m_nCols; ++j) {
            const int n = i * s.m_nCols + j;
            const double theta = NodeOf(state, s.m_nComp, n).Porosity();
            scale[2 * ToSize(n)] = dt / s.m_grid.m_rowWidth.get()[i] / theta;
            scale[2 * ToSize(n) + 1] = dt / s.m_grid.m_colWidth.get()[j] / theta;
        }
}

// The face's deferred terms as Cross and LimitedSlope read them.
CDeferredFace DeferredFace(const CSimulation& s, const double* state, const CAxisFace& g, int m) {
    const int nComp = s.m_nComp;
    const CFace& f = g.f;
    const bool forward = f.q >= 0.0;
    CDeferredFace face;
    face.up = (forward ? f.a : f.b) / nComp;
    face.down = (forward ? f.b : f.a) / nComp;
    face.across = g.tangentStep / nComp;
    if (f.cross) {
        const CUpstream up = Upstream(s, state, g, m);
        face.cross = CNodeView(state + up.node).Porosity() * up.cross / f.crossD;
    }
    face.qHalf = f.q * 0.5;
    face.d = f.d;
    if (forward ? g.beforeA : g.afterB) {
        face.far = face.up + (forward ? -1 : 1) * g.step / nComp;
        face.dUp = forward ? g.dBeforeA : g.dAfterB;
    } else {
        face.far = HoldsMobile(s, face.up, m) ? FAR_HELD : FAR_NONE;
    }
    return face;
}

void MakeDeferredFaces(const CSimulation& s, const double* state, int m, CComponentSystem& system) {
    system.m_faces.assign(2 * ToSize(s.m_nNodes), CDeferredFace());
    ForEachFace(s, state, [&](const CAxisFace& g, int axis) {
        const int a = g.f.a / s.m_nComp;
        system.m_faces[2 * ToSize(a) + ToSize(axis)] = DeferredFace(s, state, g, m);
    });
}

// Makes every component's system from state with step dt.
void Build(const CSimulation& s, CImplicitTransport& t, const double* state, double dt) {
    for (int m = 0; m < s.m_nMobile; ++m) {
        CComponentSystem& system = *t.m_systems[ToSize(m)];
        CStopwatch watch;
        BuildSystem(s, state, m, dt, t.m_held.data(), system);
        MakeDeferredFaces(s, state, m, system);
        t.m_times.m_assembly += watch.Lap();
        t.m_times.m_assemblies += 1;
        system.m_shared = &system.m_factor;
        for (int e = 0; e < m; ++e)
            if (t.m_systems[ToSize(e)]->m_matrix == system.m_matrix) {
                system.m_shared = t.m_systems[ToSize(e)]->m_shared;
                break;
            }
        if (system.m_shared == &system.m_factor) {
            Factor(s, m, system);
            t.m_times.m_setups += 1;
        }
        t.m_times.m_setup += watch.Lap();
    }
    NodeScales(s, state, dt, t.m_scale);
    t.m_builds += 1;
    for (int n = 0; n < s.m_nNodes; ++n)
        for (int e = 0; e < IMPLICIT_NKEPT; ++e)
            t.m_kept[ToSize(n * IMPLICIT_NKEPT + e)] = state[n * s.m_nComp + IMPLICIT_KEPT[e]];
    t.m_step = dt;
}

bool StillValid(const CSimulation& s, const CImplicitTransport& t) {
    if (t.m_step != s.m_clock.m_globalStep)
        return false;
    for (int n = 0; n < s.m_nNodes; ++n)
        for (int e = 0; e < IMPLICIT_NKEPT; ++e)
            if (t.m_kept[ToSize(n * IMPLICIT_NKEPT + e)] !=
                s.m_state[n * s.m_nComp + IMPLICIT_KEPT[e]])
                return false;
    return true;
}

// LimitedSlope from the table.
double Slope(const CDeferredFace& face, const double* c) {
    if (face.far == FAR_NONE)
        return 0.0;
    if (face.far == FAR_HELD)
        return (c[face.down] - c[face.up]) / face.d;
    const double cu = c[face.up];
    const double gradDown = (c[face.down] - cu) / face.d;
    const double gradUp = (cu - c[face.far]) / face.dUp;
    if (!(gradDown * gradUp > 0.0))
        return 0.0;
    return 2.0 * gradDown * gradUp / (gradDown + gradUp);
}

// The deferred flux G of every face from the step's start c (the
// component's values, node by node).
void DeferredFluxes(const CSimulation& s, CComponentSystem& t, const double* c) {
    const bool tvd = s.m_ext.m_scheme == ETransportScheme::TVD;
    const size_t count = 2 * ToSize(s.m_nNodes);
    const CDeferredFace* faces = t.m_faces.data();
    double* deferred = t.m_deferred.data();
    for (size_t f = 0; f < count; ++f) {
        const CDeferredFace& face = faces[f];
        double g = 0.0;
        if (face.cross != 0.0)
            g = -((c[face.up + face.across] - c[face.up - face.across]) * face.cross);
        if (tvd)
            g += face.qHalf * (face.d * Slope(face, c));
        deferred[f] = g;
    }
}

// The change of every node by the per-face fluxes flux, summed as the
// explicit schemes sum them: (above + below) + (left + right); a face's
// flux changes a node by the flux times the node's scale across it.
void NodeChanges(const CSimulation& s, const double* scale, const double* flux, double* change) {
    const int nCols = s.m_nCols;
    for (int i = 0; i < s.m_nRows; ++i) {
        const bool above = i > 0;
        const bool below = i < s.m_nRows - 1;
        for (int j = 0; j < nCols; ++j) {
            const int n = i * nCols + j;
            const double across = scale[2 * n];
            const double along = scale[2 * n + 1];
            const double up = above ? flux[2 * (n - nCols)] * across : 0.0;
            const double down = below ? -(flux[2 * n] * across) : 0.0;
            const double left = j > 0 ? flux[2 * (n - 1) + 1] * along : 0.0;
            const double right = j < nCols - 1 ? -(flux[2 * n + 1] * along) : 0.0;
            change[n] = (up + down) + (left + right);
        }
    }
}

// The range of each node's row neighbours and itself: low, high per node.
void RowRanges(const CSimulation& s, const double* c, double* range) {
    const int nCols = s.m_nCols;
    for (int n = 0; n < s.m_nNodes; ++n) {
        const int j = n % nCols;
        double low = c[n];
        double high = low;
        if (j > 0) {
            low = std::min(low, c[n - 1]);
            high = std::max(high, c[n - 1]);
        }
        if (j < nCols - 1) {
            low = std::min(low, c[n + 1]);
            high = std::max(high, c[n + 1]);
        }
        range[2 * n] = low;
        range[2 * n + 1] = high;
    }
}

// Zalesak's limits of every node: the share of its incoming (R+) and
// outgoing (R-) deferred changes that keep it within the range of its 3 x 3
// neighbourhood.
void NodeLimits(const CSimulation& s, CComponentSystem& t, const double* c, const double* scale) {
    const int nCols = s.m_nCols;
    double* range = t.m_range.data();
    RowRanges(s, c, range);
    const double* g = t.m_deferred.data();
    const double room = TRANSPORT_TVD_MARGIN;
    for (int i = 0; i < s.m_nRows; ++i)
        for (int j = 0; j < nCols; ++j) {
            const int n = i * nCols + j;
            double low = range[2 * n];
            double high = range[2 * n + 1];
            if (i > 0) {
                low = std::min(low, range[2 * (n - nCols)]);
                high = std::max(high, range[2 * (n - nCols) + 1]);
            }
            if (i < s.m_nRows - 1) {
                low = std::min(low, range[2 * (n + nCols)]);
                high = std::max(high, range[2 * (n + nCols) + 1]);
            }
            // Above, below, left, right: the node is b of the first and third.
            const double terms[4] = {i > 0 ? g[2 * (n - nCols)] * scale[2 * n] : 0.0,
                                     i < s.m_nRows - 1 ? -(g[2 * n] * scale[2 * n]) : 0.0,
                                     j > 0 ? g[2 * (n - 1) + 1] * scale[2 * n + 1] : 0.0,
                                     j < nCols - 1 ? -(g[2 * n + 1] * scale[2 * n + 1]) : 0.0};
            double gains = 0.0;
            double losses = 0.0;
            for (double term : terms)
                (term > 0.0 ? gains : losses) += term;
            const double value = c[n];
            double* limits = t.m_limits.data() + 2 * ToSize(n);
            limits[0] = gains > 0.0 ? std::min(1.0, room * (high - value) / gains) : 1.0;
            limits[1] = losses < 0.0 ? std::min(1.0, room * (value - low) / -losses) : 1.0;
        }
}

// Each face's deferred flux scaled by the smaller share its giving and its
// receiving node allow.
void LimitDeferred(const CSimulation& s, CComponentSystem& t, const double* c,
                   const double* scale) {
    NodeLimits(s, t, c, scale);
    const double* limits = t.m_limits.data();
    for (int n = 0; n < s.m_nNodes; ++n)
        for (int axis = 0; axis < 2; ++axis) {
            double& g = t.m_deferred[2 * ToSize(n) + ToSize(axis)];
            if (g == 0.0)
                continue;
            const size_t a = 2 * ToSize(n);
            const size_t b = 2 * ToSize(axis == 0 ? n + s.m_nCols : n + 1);
            // A positive flux takes from a and gives to b.
            g *= g > 0.0 ? std::min(limits[b], limits[a + 1]) : std::min(limits[a], limits[b + 1]);
        }
}

[[noreturn]] void ThrowFailed(const CSimulation& s, int k, const std::string& why) {
    throw ComputeException("the implicit transport of mobile component " +
                           EntryName(s.m_ext, s.m_nComp, s.m_nMobile, k) + " " + why +
                           " in the global step from time " + ExactText(s.m_clock.m_currentTime));
}

// The injected water's load of entry k at the nodes, as AddInjection adds it.
void AddInjected(const CSimulation& s, int k, Eigen::VectorXd& rhs) {
    const CInjection& inject = s.m_ext.m_inject;
    for (size_t e = 0; e < inject.m_entries.size(); ++e) {
        if (inject.m_entries[e] != k)
            continue;
        for (size_t i = 0; i < inject.m_nodes.size(); ++i) {
            const int n = inject.m_nodes[i];
            const double source = NodeOf(s.m_state, s.m_nComp, n).Source();
            if (!(source > 0.0))
                continue;
            const double c = inject.m_tables[ToSize(inject.m_nodeTable[i])].m_concentration[e];
            rhs[n] += c * source * s.m_clock.m_globalStep;
        }
    }
}

// The reactions' change of entry k over the step, at the rate they had over
// the last step taken. Without it a long step would carry the solute as if
// it did not react and leave the reactions to catch up from that overshoot;
// with it, a steady state of transport and reactions together is a steady
// state of the step. The budget does not see it: the change handed on is
// still the solution's fluxes.
void AddReactionRate(const CSimulation& s, const CImplicitTransport& t, int m,
                     Eigen::VectorXd& rhs) {
    const double dt = s.m_clock.m_globalStep;
    const double* rate = t.m_rate.data();
    for (int n = 0; n < s.m_nNodes; ++n)
        rhs[n] += rate[ToSize(n) * ToSize(s.m_nMobile) + ToSize(m)] * dt;
}

// The iteration's start for a new step: its start c plus the last step's
// solution's change over its own start. Steps of a run change the values
// alike from one to the next, so this starts closer than c alone: on the
// 300 x 300 plume in steps of 10 d, 1.6 iterations a solve against 2.0 from
// c and 2.0 from the last solution. The first step starts from c.
void StartGuess(const CSimulation& s, CComponentSystem& system) {
    const double* c = system.m_stepStart.data();
    const double* before = system.m_passStart.data();
    for (int n = 0; n < s.m_nNodes; ++n) {
        const size_t at = ToSize(n);
        system.m_x[n] = system.m_havePass ? c[at] + (system.m_passSolution[n] - before[at]) : c[at];
    }
    std::copy(system.m_stepStart.begin(), system.m_stepStart.end(), system.m_passStart.begin());
}

// Whether the step's start is that of the component's last pass, which
// left the step's deferred fluxes and right-hand side: a trial pass and the
// step taken for good share them. The start's values are compared, not
// counted steps, so that a step taken outside the time loop is safe.
bool SameStepStart(const CSimulation& s, const CImplicitTransport& t,
                   const CComponentSystem& system, int k) {
    if (system.m_stepBuild != t.m_builds || system.m_stepDt != s.m_clock.m_globalStep)
        return false;
    const double* state = s.m_state;
    const double* start = system.m_stepStart.data();
    const int nComp = s.m_nComp;
    for (int n = 0; n < s.m_nNodes; ++n)
        if (start[n] != state[n * nComp + k])
            return false;
    return true;
}

// The step's deferred fluxes, limited, and its right-hand side without the
// reactions' rate; the iteration's start.
void StartStep(const CSimulation& s, const CImplicitTransport& t, CComponentSystem& system, int k) {
    const int nComp = s.m_nComp;
    const double dt = s.m_clock.m_globalStep;
    const double* state = s.m_state;
    for (int n = 0; n < s.m_nNodes; ++n)
        system.m_stepStart[ToSize(n)] = state[n * nComp + k];
    DeferredFluxes(s, system, system.m_stepStart.data());
    const double* scale = t.m_scale.data();
    if (s.m_ext.m_scheme != ETransportScheme::SYMMETRIC)
        LimitDeferred(s, system, system.m_stepStart.data(), scale);
    NodeChanges(s, scale, system.m_deferred.data(), system.m_stepRhs.data());
    for (int n = 0; n < s.m_nNodes; ++n)
        system.m_stepRhs[n] += system.m_stepStart[ToSize(n)];
    AddInjected(s, k, system.m_stepRhs);
    std::copy(system.m_deferred.begin(), system.m_deferred.end(), system.m_stepDeferred.begin());
    system.m_stepBuild = t.m_builds;
    system.m_stepDt = dt;
    StartGuess(s, system);
}

// The pass's right-hand side: the step's, with the reactions' rate.
void PassRhs(const CSimulation& s, const CImplicitTransport& t, CComponentSystem& system, int m,
             int k) {
    system.m_rhs = system.m_stepRhs;
    AddReactionRate(s, t, m, system.m_rhs);
    for (int n = 0; n < s.m_nNodes; ++n)
        if (Held(s, t.m_held.data(), n, m))
            system.m_rhs[n] = s.m_state[n * s.m_nComp + k];
}

// Whether a trial pass of the step can keep the last pass's solution: that
// pass was a trial of the same step too (solved to the same tolerance) and
// the rate the component carries has not changed since, bit for bit (an
// entry that no reaction changes carries 0 in every pass).
bool RateUnchanged(const CSimulation& s, const CImplicitTransport& t,
                   const CComponentSystem& system, int m, bool sameStep) {
    if (!t.m_trial || !sameStep || !system.m_solvedTrial)
        return false;
    const double* rate = t.m_rate.data();
    for (int n = 0; n < s.m_nNodes; ++n)
        if (rate[ToSize(n) * ToSize(s.m_nMobile) + ToSize(m)] != system.m_solvedRate[ToSize(n)])
            return false;
    return true;
}

void KeepSolvedRate(const CSimulation& s, const CImplicitTransport& t, CComponentSystem& system,
                    int m) {
    system.m_solvedTrial = t.m_trial;
    const double* rate = t.m_rate.data();
    for (int n = 0; n < s.m_nNodes; ++n)
        system.m_solvedRate[ToSize(n)] = rate[ToSize(n) * ToSize(s.m_nMobile) + ToSize(m)];
}

void Solve(const CSimulation& s, const CImplicitTransport& t, CComponentSystem& system, int k) {
    // A trial pass only finds the reactions' rate: a coarser solve will do.
    const CKrylovResult solved =
        SolveBicgstab(system.m_matrix, *system.m_shared, system.m_rhs, system.m_x, system.m_work,
                      t.m_trial ? TRANSPORT_IMPLICIT_TRIAL_TOLERANCE : TRANSPORT_IMPLICIT_TOLERANCE,
                      t.m_maxIterations);
    system.m_times.m_solves += 1;
    system.m_times.m_iterations += solved.m_iterations;
    if (solved.m_info == Eigen::NumericalIssue)
        ThrowFailed(s, k,
                    "broke down after " + std::to_string(solved.m_iterations) +
                        " iterations (a singular or badly conditioned system)");
    if (solved.m_info != Eigen::Success)
        ThrowFailed(s, k,
                    "did not converge in " + std::to_string(solved.m_iterations) +
                        " iterations (relative residual " + ExactText(solved.m_error) + ")");
    for (int n = 0; n < s.m_nNodes; ++n)
        if (!std::isfinite(system.m_x[n]))
            ThrowFailed(s, k,
                        "gave " + ExactText(system.m_x[n]) + " at node (" +
                            std::to_string(n / s.m_nCols) + ", " + std::to_string(n % s.m_nCols) +
                            "), not a finite number");
    system.m_passSolution = system.m_x;
    system.m_havePass = true;
}

// The change of entry k from the solution's fluxes: the faces' whole fluxes
// into the per-face array, then each node's sum.
void PutChange(CSimulation& s, const CImplicitTransport& t, CComponentSystem& system, int k) {
    const int nComp = s.m_nComp;
    const double dt = s.m_clock.m_globalStep;
    const double* state = s.m_state;
    std::copy(system.m_stepDeferred.begin(), system.m_stepDeferred.end(),
              system.m_deferred.begin());
    for (int n = 0; n < s.m_nNodes; ++n)
        for (int axis = 0; axis < 2; ++axis) {
            const size_t at = 2 * ToSize(n) + ToSize(axis);
            if (!HasFace(s, n / s.m_nCols, n % s.m_nCols, axis))
                continue;
            const double* coef = system.m_coef.data() + 2 * at;
            const int b = axis == 0 ? n + s.m_nCols : n + 1;
            system.m_deferred[at] += coef[0] * system.m_x[n] + coef[1] * system.m_x[b];
        }
    // The right-hand side is done with: it takes the changes.
    double* change = system.m_rhs.data();
    NodeChanges(s, t.m_scale.data(), system.m_deferred.data(), change);
    for (int n = 0; n < s.m_nNodes; ++n) {
        const double source = NodeOf(state, nComp, n).Source();
        s.m_transportDelta[n * nComp + k] =
            source < 0.0 ? change[n] + system.m_x[n] * source * dt : change[n];
    }
}

// Solves component m and puts its change, from the solution's fluxes, into
// m_transportDelta.
void SolveComponent(CSimulation& s, const CImplicitTransport& t, int m) {
    const int k = s.m_nComp - s.m_nMobile + m;
    CComponentSystem& system = *t.m_systems[ToSize(m)];
    CStopwatch watch;
    const bool sameStep = SameStepStart(s, t, system, k);
    if (!sameStep)
        StartStep(s, t, system, k);
    if (RateUnchanged(s, t, system, m, sameStep)) {
        system.m_times.m_skipped += 1;
    } else {
        PassRhs(s, t, system, m, k);
        system.m_times.m_rhs += watch.Lap();
        Solve(s, t, system, k);
        KeepSolvedRate(s, t, system, m);
        system.m_times.m_solve += watch.Lap();
    }
    PutChange(s, t, system, k);
    system.m_times.m_change += watch.Lap();
}

void Add(CImplicitTimes& sum, const CImplicitTimes& part) {
    sum.m_assembly += part.m_assembly;
    sum.m_setup += part.m_setup;
    sum.m_rhs += part.m_rhs;
    sum.m_solve += part.m_solve;
    sum.m_change += part.m_change;
    sum.m_copies += part.m_copies;
    sum.m_assemblies += part.m_assemblies;
    sum.m_setups += part.m_setups;
    sum.m_solves += part.m_solves;
    sum.m_iterations += part.m_iterations;
    sum.m_passes += part.m_passes;
    sum.m_trialPasses += part.m_trialPasses;
    sum.m_skipped += part.m_skipped;
}

// The systems' own figures are kept apart so that components solved side by
// side do not share a counter; the run's are their sum.
void ReportTimes(CSimulation& s, const CImplicitTransport& t) {
    CImplicitTimes sum = t.m_times;
    for (const std::unique_ptr<CComponentSystem>& system : t.m_systems)
        Add(sum, system->m_times);
    s.m_times.m_implicit = sum;
}

} // namespace

void CImplicitSolver::Release() {
    m_transport.reset();
}

void CImplicitSolver::Prepare(CSimulation& s, int maxIterations) {
    m_transport.reset();
    if (s.m_nMobile == 0)
        return;
    m_transport = std::make_unique<CImplicitTransport>();
    CImplicitTransport& t = *m_transport;
    t.m_maxIterations = maxIterations;
    for (int m = 0; m < s.m_nMobile; ++m)
        t.m_systems.push_back(std::make_unique<CComponentSystem>());
    for (const std::unique_ptr<CComponentSystem>& system : t.m_systems) {
        system->m_rhs.resize(s.m_nNodes);
        system->m_x.resize(s.m_nNodes);
        system->m_work.Resize(s.m_nNodes);
        system->m_matrix.Resize(s.m_nRows, s.m_nCols);
        system->m_stepStart.assign(ToSize(s.m_nNodes), 0.0);
        system->m_stepRhs.resize(s.m_nNodes);
        system->m_stepDeferred.assign(2 * ToSize(s.m_nNodes), 0.0);
        system->m_passSolution.resize(s.m_nNodes);
        system->m_passStart.assign(ToSize(s.m_nNodes), 0.0);
        system->m_solvedRate.assign(ToSize(s.m_nNodes), 0.0);
        system->m_deferred.assign(2 * ToSize(s.m_nNodes), 0.0);
        system->m_limits.assign(2 * ToSize(s.m_nNodes), 1.0);
        system->m_range.assign(2 * ToSize(s.m_nNodes), 0.0);
    }
    t.m_kept.assign(ToSize(IMPLICIT_NKEPT) * ToSize(s.m_nNodes), 0.0);
    t.m_scale.assign(2 * ToSize(s.m_nNodes), 0.0);
    t.m_rate.assign(ToSize(s.m_nNodes) * ToSize(s.m_nMobile), 0.0);
    t.m_stepRate.assign(ToSize(s.m_nNodes) * ToSize(s.m_nMobile), 0.0);
    t.m_saved.Size(s, 0, s.m_nNodes);
    FindHeld(s, t.m_held);
    Build(s, t, s.m_stateNew.get(), s.m_clock.m_globalStep);
}

void CImplicitSolver::Step(CSimulation& s) {
    for (int v = 0; v < s.m_nValues; ++v)
        s.m_transportDelta[v] = 0.0;
    if (s.m_nMobile == 0)
        return;
    if (!m_transport)
        Prepare(s);
    CImplicitTransport& t = *m_transport;
    if (!StillValid(s, t))
        Build(s, t, s.m_state, s.m_clock.m_globalStep);
    t.m_times.m_passes += 1;
    if (s.m_nThreads == 1 || s.m_nMobile == 1) {
        for (int m = 0; m < s.m_nMobile; ++m)
            SolveComponent(s, t, m);
        ReportTimes(s, t);
        return;
    }
    // The components side by side, each with its own system and work and
    // the same arithmetic as alone; a failure is the lowest component's, as
    // in the serial loop.
    CFirstFailure failure;
    s.Team().ForRanges(s.m_nMobile, 1, [&](int begin, int end, int) {
        for (int m = begin; m < end; ++m) {
            if (failure.Skips(m))
                return;
            try {
                SolveComponent(s, t, m);
            } catch (...) {
                failure.Record(m, std::current_exception());
            }
        }
    });
    failure.Rethrow();
    ReportTimes(s, t);
}

bool CImplicitSolver::NeedsAnotherPass(int passes) const {
    if (!m_transport || passes >= TRANSPORT_IMPLICIT_MAX_PASSES)
        return false;
    const CImplicitTransport& t = *m_transport;
    return passes > 0 || !t.m_haveRate || !t.m_settled;
}

void CImplicitSolver::SaveStepStart(const CSimulation& s) {
    CImplicitTransport& t = *m_transport;
    t.m_trial = true;
    t.m_trialPasses += 1;
    CStopwatch watch;
    t.m_saved.Save(s);
    t.m_times.m_copies += watch.Lap();
    t.m_times.m_trialPasses += 1;
}

void CImplicitSolver::RestoreStepStart(CSimulation& s) {
    CImplicitTransport& t = *m_transport;
    t.m_trial = false;
    CStopwatch watch;
    t.m_saved.Restore(s);
    t.m_times.m_copies += watch.Lap();
}

void CStepStart::Size(const CSimulation& s, int first, int end) {
    m_first = first;
    m_end = end;
    m_change.assign(ToSize(end - first) * ToSize(s.m_nComp), 0.0);
    m_fraction.assign(ToSize(end - first), 0.0);
    m_hold.assign(ToSize(end - first), 0);
}

void CStepStart::Save(const CSimulation& s) {
    std::copy(s.m_stateNew.get() + m_first * s.m_nComp, s.m_stateNew.get() + m_end * s.m_nComp,
              m_change.begin());
    std::copy(s.m_localFraction.get() + m_first, s.m_localFraction.get() + m_end,
              m_fraction.begin());
    std::copy(s.m_localHold.get() + m_first, s.m_localHold.get() + m_end, m_hold.begin());
}

void CStepStart::Restore(CSimulation& s) const {
    std::copy(m_change.begin(), m_change.end(), s.m_stateNew.get() + m_first * s.m_nComp);
    std::copy(m_fraction.begin(), m_fraction.end(), s.m_localFraction.get() + m_first);
    std::copy(m_hold.begin(), m_hold.end(), s.m_localHold.get() + m_first);
}

namespace {

// Once a run: the step goes on with the last pass's rate, which is the
// answer's weak part; a user needs to know to shorten the step.
void WarnRateUnsettled(const CSimulation& s, CImplicitTransport& t) {
    if (t.m_warnedUnsettled)
        return;
    t.m_warnedUnsettled = true;
    CMessageSink* sink = s.m_progress->GetMessageSink();
    if (!sink)
        return;
    const std::string line = "the reactions' rate of the implicit step from time " +
                             ExactText(s.m_clock.m_currentTime) + " did not settle in " +
                             std::to_string(TRANSPORT_IMPLICIT_MAX_PASSES) +
                             " trial passes: reactions this fast against the global step " +
                             ExactText(s.m_clock.m_globalStep) +
                             " leave the results off by more than the step's usual " +
                             "error; a shorter global step follows them";
    sink->WriteWarning(line.c_str());
}

} // namespace

bool CImplicitSolver::NoteReactionRate(const CSimulation& s) {
    if (!m_transport)
        return true;
    CImplicitTransport& t = *m_transport;
    const int nComp = s.m_nComp;
    const int first = nComp - s.m_nMobile;
    const double dt = s.m_clock.m_globalStep;
    bool settled = t.m_haveRate;
    for (int m = 0; m < s.m_nMobile; ++m) {
        double largest = 0.0;
        double moved = 0.0;
        for (int n = 0; n < s.m_nNodes; ++n) {
            const size_t v = ToSize(n * nComp + first + m);
            const double end = s.m_stateNew.get()[v];
            const double rate = (end - s.m_state[v] - s.m_transportDelta[v]) / dt;
            const size_t at = ToSize(n) * ToSize(s.m_nMobile) + ToSize(m);
            // A trial pass compares with the pass before, the step with the
            // step before.
            double& before = t.m_trial ? t.m_rate[at] : t.m_stepRate[at];
            moved = std::max(moved, std::fabs(rate - before) * dt);
            largest = std::max(largest, std::fabs(end));
            before = rate;
            t.m_rate[at] = rate;
        }
        if (!(moved <= TRANSPORT_IMPLICIT_RATE_TOLERANCE * largest))
            settled = false;
    }
    t.m_haveRate = true;
    if (!t.m_trial) {
        t.m_settled = settled;
        t.m_trialPasses = 0;
    } else if (!settled && t.m_trialPasses >= TRANSPORT_IMPLICIT_MAX_PASSES) {
        WarnRateUnsettled(s, t);
    }
    return settled;
}

// Besides the rate, each system's last solution and the start of its step,
// from which the next step starts its iteration: a run continued from a
// checkpoint then takes the same iterations as one never stopped, and
// writes the same bytes.
std::vector<double> CImplicitSolver::Carried() const {
    if (!m_transport)
        return {};
    const CImplicitTransport& t = *m_transport;
    std::vector<double> carried = {t.m_haveRate ? 1.0 : 0.0, t.m_settled ? 1.0 : 0.0,
                                   t.m_warnedUnsettled ? 1.0 : 0.0};
    carried.insert(carried.end(), t.m_rate.begin(), t.m_rate.end());
    carried.insert(carried.end(), t.m_stepRate.begin(), t.m_stepRate.end());
    for (const std::unique_ptr<CComponentSystem>& system : t.m_systems) {
        carried.push_back(system->m_havePass ? 1.0 : 0.0);
        carried.insert(carried.end(), system->m_passSolution.begin(), system->m_passSolution.end());
        carried.insert(carried.end(), system->m_passStart.begin(), system->m_passStart.end());
    }
    return carried;
}

bool CImplicitSolver::TakeCarried(const std::vector<double>& carried) {
    if (!m_transport)
        return carried.empty();
    CImplicitTransport& t = *m_transport;
    const size_t rates = t.m_rate.size();
    const size_t nodes = t.m_systems.empty() ? 0 : t.m_systems[0]->m_passStart.size();
    if (carried.size() != 3 + 2 * rates + t.m_systems.size() * (1 + 2 * nodes) ||
        t.m_stepRate.size() != rates)
        return false;
    for (int flag = 0; flag < 3; ++flag)
        if (carried[ToSize(flag)] != 0.0 && carried[ToSize(flag)] != 1.0)
            return false;
    auto at = carried.begin() + 3;
    for (size_t m = 0; m < t.m_systems.size(); ++m) {
        const double flag = *(at + static_cast<std::ptrdiff_t>(2 * rates + m * (1 + 2 * nodes)));
        if (flag != 0.0 && flag != 1.0)
            return false;
    }
    t.m_haveRate = carried[0] == 1.0;
    t.m_settled = carried[1] == 1.0;
    t.m_warnedUnsettled = carried[2] == 1.0;
    const auto take = [&](size_t count, auto out) {
        std::copy(at, at + static_cast<std::ptrdiff_t>(count), out);
        at += static_cast<std::ptrdiff_t>(count);
    };
    take(rates, t.m_rate.begin());
    take(rates, t.m_stepRate.begin());
    for (const std::unique_ptr<CComponentSystem>& system : t.m_systems) {
        system->m_havePass = *at == 1.0;
        ++at;
        take(nodes, system->m_passSolution.begin());
        take(nodes, system->m_passStart.begin());
    }
    return true;
}

double ImplicitStep(const CSimulation& s, double duration, int* limiting) {
    const double* state = s.m_stateNew.get();
    double passage = HUGE_VAL; // the shortest time water takes through a cell
    int node = -1;
    ForEachFace(s, state, [&](const CAxisFace& g, int) {
        const double q = std::fabs(g.f.q);
        if (!(q > 0.0))
            return;
        const double a = NodeAt(state, g.f.a).Porosity() * g.f.wa / q;
        const double b = NodeAt(state, g.f.b).Porosity() * g.f.wb / q;
        if (std::min(a, b) < passage) {
            passage = std::min(a, b);
            node = (b < a ? g.f.b : g.f.a) / s.m_nComp;
        }
    });
    const double step =
        std::min(TRANSPORT_IMPLICIT_COURANT * passage, duration / TRANSPORT_IMPLICIT_MIN_STEPS);
    if (limiting)
        *limiting = step < duration / TRANSPORT_IMPLICIT_MIN_STEPS ? node : -1;
    return step;
}

void ComputeImplicitStep(CSimulation& s, double duration, int* limiting) {
    const double step = ImplicitStep(s, duration, limiting);
    if (duration > 0.0 && !(step > 0.0))
        throw ComputeException("implicit global step " + ExactText(step) + " is not positive");
    s.m_clock.m_globalStep = step;
    s.m_progress->SetGlobalStep(step);
}
