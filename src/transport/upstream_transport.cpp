// The transport step of the two schemes that take every face from the side
// its water comes from ([transport] scheme = "symmetric" or "tvd"). Whichever
// way the water flows, a face is computed as the default scheme computes a
// face whose water flows towards the higher index: the upstream node u gives
// the advected value, the dispersion coefficients (its own tensor, with this
// face's flux along the normal) and the cross term (across u's neighbours).
// So a model and its mirror image compute every face's flux to the same bits
// with the sign turned, and forward faces keep the default's flux exactly.
//
// "symmetric": F = (c(b) - c(a)) * ((|q|/2 - theta_f * D / d) - q^2 dt / 2 / (theta_f d))
//              - cross + q c(u)
// that is central advection with the Lax-Wendroff correction, the half
// difference taken with the magnitude of the flux.
//
// "tvd": F = q c(u) + q/2 (1 - |q| dt / (theta_f d)) d s - theta_f D (c(b) - c(a)) / d
// with s the van Leer slope: the harmonic mean of the downstream and upstream
// gradients (c(down) - c(u)) / d and (c(u) - c(uu)) / d_uu where both have the
// same sign, else 0 (and 0 where u has no upstream neighbour). With the step of
// TvdStableStep this part is monotone. The cross term, which no explicit
// stencil keeps monotone, is added as a correction limited so that no node
// leaves the range of its 3 x 3 neighbourhood at the start of the step
// (Zalesak's flux-corrected transport).
//
// Every node gathers the terms of its four faces as (above + below) +
// (left + right), a sum that does not depend on which way an axis runs, then
// its sink: the bits are the same for every number of threads and mirror
// with the model.
#include "heads/flow_field.h"
#include "transport/transport.h"
#include "transport/transport_faces.h"
#include "transport/upstream_faces.h"

#include "model/extension.h"
#include "model/limits.h"
#include "model/node_view.h"
#include "model/simulation.h"
#include "run/thread_team.h"

#include <algorithm>
#include <cmath>

namespace {

double SymmetricFlux(const CSimulation& s, const CAxisFace& g, int m, int k, double dt) {
    const double* state = s.m_state;
    const CFace& f = g.f;
    const double q = f.q;
    const double thetaF = MeanPorosity(state, f);
    const CUpstream up = Upstream(s, s.m_state, g, m);
    const double ca = state[f.a + k];
    const double cb = state[f.b + k];
    double flux = (cb - ca) * ((std::fabs(q) * 0.5 - thetaF * up.diag / f.d) -
                               q * dt * q * 0.5 / (thetaF * f.d));
    if (f.cross)
        flux = flux - Cross(state, g, up, k);
    return flux + q * state[up.node + k];
}

// The tvd flux without the cross term.
double TvdFlux(const CSimulation& s, const CAxisFace& g, int m, int k, double dt) {
    const double* state = s.m_state;
    const CFace& f = g.f;
    const double q = f.q;
    const double thetaF = MeanPorosity(state, f);
    const CUpstream up = Upstream(s, s.m_state, g, m);
    const double ca = state[f.a + k];
    const double cb = state[f.b + k];
    // Above the stable step the correction only takes away: upstream advection.
    const double keep = std::max(0.0, 1.0 - std::fabs(q) * dt / (thetaF * f.d));
    double flux = (cb - ca) * -(thetaF * up.diag / f.d);
    flux = flux + q * state[up.node + k];
    return flux + q * 0.5 * keep * (f.d * LimitedSlope(s, state, g, m, k));
}

double CrossCorrection(const CSimulation& s, const CAxisFace& g, int m, int k) {
    if (!g.f.cross)
        return 0.0;
    return -Cross(s.m_state, g, Upstream(s, s.m_state, g, m), k);
}

// The four faces of a node: above (i-1), below (i+1), left (j-1), right (j+1);
// the node is b of the first and third and a of the others.
enum { FACE_ABOVE, FACE_BELOW, FACE_LEFT, FACE_RIGHT, FACES };

struct CNodeFaces {
    bool has[FACES] = {};
    CAxisFace face[FACES];
    double width[FACES] = {}; // the node's own width along each face's normal
};

CNodeFaces FacesOf(const CSimulation& s, int i, int j) {
    CNodeFaces n;
    n.has[FACE_ABOVE] = i > 0;
    n.has[FACE_BELOW] = i < s.m_nRows - 1;
    n.has[FACE_LEFT] = j > 0;
    n.has[FACE_RIGHT] = j < s.m_nCols - 1;
    if (n.has[FACE_ABOVE])
        n.face[FACE_ABOVE] = AxisFace(s, i - 1, j, true);
    if (n.has[FACE_BELOW])
        n.face[FACE_BELOW] = AxisFace(s, i, j, true);
    if (n.has[FACE_LEFT])
        n.face[FACE_LEFT] = AxisFace(s, i, j - 1, false);
    if (n.has[FACE_RIGHT])
        n.face[FACE_RIGHT] = AxisFace(s, i, j, false);
    n.width[FACE_ABOVE] = n.width[FACE_BELOW] = s.m_grid.m_rowWidth.get()[i];
    n.width[FACE_LEFT] = n.width[FACE_RIGHT] = s.m_grid.m_colWidth.get()[j];
    return n;
}

// The change of the node by a flux across face f: it gains across the faces
// where it is b and loses across the others.
inline double Term(int f, double flux, double dt, double width, double theta) {
    const double change = flux * dt / width / theta;
    return f == FACE_ABOVE || f == FACE_LEFT ? change : -change;
}

// The terms of the four faces added so that turning an axis round gives the
// same bits.
inline double SumOfFaces(const double* t) {
    return (t[FACE_ABOVE] + t[FACE_BELOW]) + (t[FACE_LEFT] + t[FACE_RIGHT]);
}

// Where a face's value is kept, per mobile component m: the row face below
// node n (axis 0) and the column face to its right (axis 1).
inline size_t FaceSlot(int n, int nMobile, int m, int axis) {
    return 2 * (ToSize(n) * ToSize(nMobile) + ToSize(m)) + ToSize(axis);
}

// The first pass: the flux of every mobile component across the faces whose
// node a is (i, j), and with the tvd scheme their cross corrections.
template <typename FluxOf>
void FacesFrom(const CSimulation& s, int i, int j, FluxOf fluxOf, double* flux, double* cross) {
    const int n = i * s.m_nCols + j;
    const int firstMobile = s.m_nComp - s.m_nMobile;
    for (int axis = 0; axis < 2; ++axis) {
        if (axis == 0 ? i == s.m_nRows - 1 : j == s.m_nCols - 1)
            continue;
        const CAxisFace g = AxisFace(s, i, j, axis == 0);
        for (int m = 0; m < s.m_nMobile; ++m) {
            flux[FaceSlot(n, s.m_nMobile, m, axis)] = fluxOf(g, m, firstMobile + m);
            if (cross)
                cross[FaceSlot(n, s.m_nMobile, m, axis)] =
                    CrossCorrection(s, g, m, firstMobile + m);
        }
    }
}

// The terms of node (i, j)'s four faces for mobile component m, from the
// values kept per face.
void FaceTerms(const CSimulation& s, int i, int j, int m, const double* values, double dt,
               double theta, double* t) {
    const int n = i * s.m_nCols + j;
    const int nMobile = s.m_nMobile;
    const double rowWidth = s.m_grid.m_rowWidth.get()[i];
    const double colWidth = s.m_grid.m_colWidth.get()[j];
    t[FACE_ABOVE] = i > 0 ? Term(FACE_ABOVE, values[FaceSlot(n - s.m_nCols, nMobile, m, 0)], dt,
                                 rowWidth, theta)
                          : 0.0;
    t[FACE_BELOW] = i < s.m_nRows - 1
                        ? Term(FACE_BELOW, values[FaceSlot(n, nMobile, m, 0)], dt, rowWidth, theta)
                        : 0.0;
    t[FACE_LEFT] =
        j > 0 ? Term(FACE_LEFT, values[FaceSlot(n - 1, nMobile, m, 1)], dt, colWidth, theta) : 0.0;
    t[FACE_RIGHT] = j < s.m_nCols - 1
                        ? Term(FACE_RIGHT, values[FaceSlot(n, nMobile, m, 1)], dt, colWidth, theta)
                        : 0.0;
}

// The smallest and largest value of entry k over the node's 3 x 3 neighbourhood.
void RangeAround(const CSimulation& s, int i, int j, int k, double& low, double& high) {
    low = high = s.m_state[(i * s.m_nCols + j) * s.m_nComp + k];
    for (int r = std::max(0, i - 1); r <= std::min(s.m_nRows - 1, i + 1); ++r)
        for (int c = std::max(0, j - 1); c <= std::min(s.m_nCols - 1, j + 1); ++c) {
            const double v = s.m_state[(r * s.m_nCols + c) * s.m_nComp + k];
            low = std::min(low, v);
            high = std::max(high, v);
        }
}

// For the limited cross term: the fraction of its incoming (R+) and outgoing
// (R-) corrections the node can take without leaving its neighbourhood's
// range, after the monotone part; a little of the room is left for the
// rounding of the sums.
void CrossLimits(const CSimulation& s, int i, int j, int m, double dt, double theta,
                 double* limits) {
    const int n = i * s.m_nCols + j;
    const int k = s.m_nComp - s.m_nMobile + m;
    double t[FACES];
    FaceTerms(s, i, j, m, s.m_transportWork.m_faceCross.get(), dt, theta, t);
    double gain[FACES];
    double loss[FACES];
    for (int f = 0; f < FACES; ++f) {
        gain[f] = std::max(t[f], 0.0);
        loss[f] = std::min(t[f], 0.0);
    }
    const double gains = SumOfFaces(gain);
    const double losses = SumOfFaces(loss);
    double low = 0.0;
    double high = 0.0;
    RangeAround(s, i, j, k, low, high);
    const size_t at = 2 * (ToSize(n) * ToSize(s.m_nMobile) + ToSize(m));
    const double after = s.m_state[n * s.m_nComp + k] + s.m_transportDelta[n * s.m_nComp + k];
    const double room = TRANSPORT_TVD_MARGIN;
    limits[at] = gains > 0.0 ? std::min(1.0, room * std::max(0.0, high - after) / gains) : 1.0;
    limits[at + 1] =
        losses < 0.0 ? std::min(1.0, room * std::max(0.0, after - low) / -losses) : 1.0;
}

// The second pass: every node's change from its faces' fluxes, then its sink;
// with limits (tvd with a cross term) also the node's limits.
void GatherNode(const CSimulation& s, int i, int j, double dt, double* limits) {
    const int nComp = s.m_nComp;
    const int firstMobile = nComp - s.m_nMobile;
    const int a = (i * s.m_nCols + j) * nComp;
    double* delta = s.m_transportDelta + a;
    const double theta = NodeAt(s.m_state, a).Porosity();
    for (int k = 0; k < nComp; ++k)
        delta[k] = 0.0;
    for (int m = 0; m < s.m_nMobile; ++m) {
        double t[FACES];
        FaceTerms(s, i, j, m, s.m_transportWork.m_faceFlux.get(), dt, theta, t);
        delta[firstMobile + m] = SumOfFaces(t);
    }
    const double source = NodeAt(s.m_state, a).Source();
    if (source < 0.0)
        for (int k = firstMobile; k < nComp; ++k)
            delta[k] += s.m_state[a + k] * source * dt;
    if (limits)
        for (int m = 0; m < s.m_nMobile; ++m)
            CrossLimits(s, i, j, m, dt, theta, limits);
}

// The third pass: each face's cross correction scaled by the smaller fraction
// its receiving and its giving node allow.
void AddLimitedCross(const CSimulation& s, int i, int j, double dt) {
    const int nMobile = s.m_nMobile;
    const int n = i * s.m_nCols + j;
    double* delta = s.m_transportDelta + n * s.m_nComp + (s.m_nComp - nMobile);
    const double theta = NodeOf(s.m_state, s.m_nComp, n).Porosity();
    const double* limits = s.m_transportWork.m_crossLimits.get();
    // Node a and node b of each face.
    const int sides[FACES][2] = {{n - s.m_nCols, n}, {n, n + s.m_nCols}, {n - 1, n}, {n, n + 1}};
    for (int m = 0; m < nMobile; ++m) {
        double t[FACES];
        FaceTerms(s, i, j, m, s.m_transportWork.m_faceCross.get(), dt, theta, t);
        for (int f = 0; f < FACES; ++f) {
            if (t[f] == 0.0)
                continue;
            const int axis = f == FACE_ABOVE || f == FACE_BELOW ? 0 : 1;
            const double flux =
                s.m_transportWork.m_faceCross[FaceSlot(sides[f][0], nMobile, m, axis)];
            const size_t a = 2 * (ToSize(sides[f][0]) * ToSize(nMobile) + ToSize(m));
            const size_t b = 2 * (ToSize(sides[f][1]) * ToSize(nMobile) + ToSize(m));
            // A positive flux takes from a and gives to b.
            const double fraction = flux >= 0.0 ? std::min(limits[b], limits[a + 1])
                                                : std::min(limits[b + 1], limits[a]);
            const double width =
                axis == 0 ? s.m_grid.m_rowWidth.get()[i] : s.m_grid.m_colWidth.get()[j];
            t[f] = Term(f, fraction * flux, dt, width, theta);
        }
        delta[m] += SumOfFaces(t);
    }
}

// Runs body(i, j) over the nodes of rows first..end-1 (clamped to the grid),
// by ranges of rows when there is a team.
template <typename Body> void ForNodes(CSimulation& s, int first, int end, Body body) {
    first = std::max(0, first);
    end = std::min(s.m_nRows, end);
    if (first >= end)
        return;
    auto rows = [&](int begin, int stop) {
        for (int i = first + begin; i < first + stop; ++i)
            for (int j = 0; j < s.m_nCols; ++j)
                body(i, j);
    };
    if (s.m_nThreads == 1) {
        rows(0, end - first);
        return;
    }
    CThreadTeam& team = s.Team();
    team.ForRanges(end - first, team.BlockSize(end - first),
                   [&](int begin, int stop, int) { rows(begin, stop); });
}

// The sum, over a node's faces, of the fractions of the node's value that
// upstream advection with its limited correction and the dispersion may move
// in a step dt is at most
//   sum over axes of C (2 - C) + dt * (sum over faces of theta_f D / (d w theta) + sink)
// with C = dt * (the larger |q| of the axis's faces) / (w theta): the node's
// new value is then a weighted mean of its neighbourhood's. The step is the
// smaller root of that sum = 1, a little less, so that rounding cannot carry
// a node whose water is all replaced below 0.
double TvdNodeStep(const CSimulation& s, int i, int j, int m) {
    const double* state = s.m_stateNew.get();
    const int n = i * s.m_nCols + j;
    const double theta = NodeOf(state, s.m_nComp, n).Porosity();
    const CNodeFaces faces = FacesOf(s, i, j);
    double advection[2] = {};
    double rate = std::max(0.0, -NodeOf(state, s.m_nComp, n).Source());
    for (int f = 0; f < FACES; ++f) {
        if (!faces.has[f])
            continue;
        CAxisFace g = faces.face[f];
        g.f.q = state[g.f.a + (g.rowFace ? SLOT_FLUXROW : SLOT_FLUXCOL)];
        const double w = faces.width[f];
        const double thetaF = MeanPorosity(state, g.f);
        const int axis = g.rowFace ? 0 : 1;
        advection[axis] = std::max(advection[axis], std::fabs(g.f.q) / (w * theta));
        rate += thetaF * Upstream(s, state, g, m).diag / (g.f.d * w * theta);
    }
    const double a2 = advection[0] * advection[0] + advection[1] * advection[1];
    const double b = 2.0 * (advection[0] + advection[1]) + rate;
    if (!(b > 0.0))
        return HUGE_VAL; // nothing moves: no limit
    return TRANSPORT_TVD_MARGIN * 2.0 / (b + std::sqrt(b * b - 4.0 * a2));
}

// The default's rule for one node with what the node's faces carry, so that
// it does not depend on which way an axis runs: along each axis the larger
// |q| of the node's faces, and the largest of its faces' coefficients
// (each its upstream node's, as the step uses it), the cross term by its
// magnitude where a face takes one.
double SymmetricNodeStep(const CSimulation& s, int i, int j, int m) {
    const double* state = s.m_stateNew.get();
    const int n = i * s.m_nCols + j;
    const double theta = NodeOf(state, s.m_nComp, n).Porosity();
    const CNodeFaces faces = FacesOf(s, i, j);
    double flux[2] = {};
    double diag[2] = {};
    double cross = 0.0;
    for (int f = 0; f < FACES; ++f) {
        if (!faces.has[f])
            continue;
        CAxisFace g = faces.face[f];
        g.f.q = state[g.f.a + (g.rowFace ? SLOT_FLUXROW : SLOT_FLUXCOL)];
        const CUpstream up = Upstream(s, state, g, m);
        const int axis = g.rowFace ? 0 : 1;
        flux[axis] = std::max(flux[axis], std::fabs(g.f.q));
        diag[axis] = std::max(diag[axis], up.diag);
        if (g.f.cross)
            cross = std::max(cross, std::fabs(up.cross));
    }
    const double x = faces.width[FACE_ABOVE];
    const double y = faces.width[FACE_LEFT];
    const double vr = flux[0] / theta;
    const double vc = flux[1] / theta;
    const double v = vr * vr / (x * x) + vc * vc / (y * y);
    if (!(v > 0.0))
        return HUGE_VAL; // no flow: the node sets no limit
    return LaxWendroffCandidate(v, diag[0] / (x * x) + diag[1] / (y * y) + cross / (x * y));
}

template <typename NodeStep>
double SmallestNodeStep(const CSimulation& s, double duration, int* limiting, NodeStep nodeStep,
                        int rowBegin, int rowEnd) {
    double step = duration;
    *limiting = -1;
    rowEnd = std::min(rowEnd, s.m_nRows);
    for (int i = rowBegin; i < rowEnd; ++i)
        for (int j = 0; j < s.m_nCols; ++j)
            for (int m = 0; m < s.m_nMobile; ++m) {
                const double candidate = nodeStep(s, i, j, m);
                if (candidate < step) {
                    step = candidate;
                    *limiting = i * s.m_nCols + j;
                }
            }
    return step;
}

} // namespace

namespace {

// The share of a node's own value that stays in it over a step dt, summed
// over its faces as the default (or symmetric) step computes them, is
//   1 + L dt - Q dt^2
// with each face's k = h - theta_f D / d - q^2 dt / (2 theta_f d) (h: q / 2,
// or |q| / 2 for symmetric; D: node a's, or the upstream node's) entering
// the node's own value as k, or k - q where the node gives the advected
// value, over the node's w theta, and the sink. Where that share goes below
// 0 the node's value swings against itself from step to step and grows (a
// node of low porosity between ones of high porosity takes theta_f / theta
// times its dispersion): the largest step that keeps it >= 0.
double SelfShareNodeStep(const CSimulation& s, int i, int j, int m, bool symmetric) {
    const double* state = s.m_stateNew.get();
    const int n = i * s.m_nCols + j;
    const double theta = NodeOf(state, s.m_nComp, n).Porosity();
    const CNodeFaces faces = FacesOf(s, i, j);
    double linear = std::min(0.0, NodeOf(state, s.m_nComp, n).Source());
    double square = 0.0;
    for (int f = 0; f < FACES; ++f) {
        if (!faces.has[f])
            continue;
        CAxisFace g = faces.face[f];
        const double q = state[g.f.a + (g.rowFace ? SLOT_FLUXROW : SLOT_FLUXCOL)];
        g.f.q = q;
        const double thetaF = MeanPorosity(state, g.f);
        const double diag =
            symmetric ? Upstream(s, state, g, m).diag : g.f.coef[3 * m + g.f.diagCoef];
        const double k1 = (symmetric ? std::fabs(q) : q) * 0.5 - thetaF * diag / g.f.d;
        const double k2 = q * q * 0.5 / (thetaF * g.f.d);
        // The node is b of the faces above and to the left, a of the others.
        const bool gives = (f == FACE_ABOVE || f == FACE_LEFT) ? q < 0.0 : q >= 0.0;
        const double scale = faces.width[f] * theta;
        linear += (gives ? k1 - q : k1) / scale;
        square += k2 / scale;
    }
    const double root = std::sqrt(linear * linear + 4.0 * square) - linear;
    if (!(root > 0.0))
        return HUGE_VAL; // the node keeps its value whatever the step
    return 2.0 / root;
}

} // namespace

double SelfShareStableStep(const CSimulation& s, double duration, int* limiting, bool symmetric,
                           int rowBegin, int rowEnd) {
    return SmallestNodeStep(
        s, duration, limiting,
        [symmetric](const CSimulation& sim, int i, int j, int m) {
            return SelfShareNodeStep(sim, i, j, m, symmetric);
        },
        rowBegin, rowEnd);
}

double SymmetricStableStep(const CSimulation& s, double duration, int* limiting, int rowBegin,
                           int rowEnd) {
    return SmallestNodeStep(s, duration, limiting, SymmetricNodeStep, rowBegin, rowEnd);
}

double TvdStableStep(const CSimulation& s, double duration, int* limiting, int rowBegin,
                     int rowEnd) {
    return SmallestNodeStep(s, duration, limiting, TvdNodeStep, rowBegin, rowEnd);
}

namespace {

// Whether the tvd scheme has a cross term to limit.
bool NeedsCrossLimits(const CSimulation& s) {
    if (s.m_ext.m_scheme != ETransportScheme::TVD || s.m_nRows < 3 || s.m_nCols < 3)
        return false;
    for (int m = 0; m < s.m_nMobile; ++m)
        if (s.m_dispersivityL.get()[m] != s.m_dispersivityT.get()[m])
            return true;
    return false;
}

// Values of each per-face array.
size_t FaceValues(const CSimulation& s) {
    return 2 * ToSize(s.m_nNodes) * ToSize(s.m_nMobile);
}

int UpstreamArrays(const CSimulation& s) {
    if (s.m_ext.m_scheme == ETransportScheme::DEFAULT ||
        s.m_ext.m_time == ETransportTime::IMPLICIT || s.m_nMobile == 0)
        return 0;
    return NeedsCrossLimits(s) ? 3 : 1;
}

} // namespace

double UpstreamWorkBytes(const CSimulation& s) {
    return 8.0 * UpstreamArrays(s) * static_cast<double>(FaceValues(s));
}

void PrepareUpstreamWork(CSimulation& s) {
    const int arrays = UpstreamArrays(s);
    s.m_transportWork.m_faceFlux.reset();
    s.m_transportWork.m_faceCross.reset();
    s.m_transportWork.m_crossLimits.reset();
    if (arrays >= 1)
        s.m_transportWork.m_faceFlux = ZeroedNodeArray<double>(FaceValues(s), s.HoldsEveryNode());
    if (arrays >= 3) {
        s.m_transportWork.m_faceCross = ZeroedNodeArray<double>(FaceValues(s), s.HoldsEveryNode());
        s.m_transportWork.m_crossLimits =
            ZeroedNodeArray<double>(FaceValues(s), s.HoldsEveryNode());
    }
}

void TransportStepUpstream(CSimulation& s) {
    TransportStepUpstreamRows(s, 0, s.m_nRows);
}

// The changes of rows rowBegin..rowEnd-1 take the limited cross corrections
// of their faces, which take the limits of the rows beside them (second
// pass), which take the faces of the row above them (first pass): each pass
// runs over the rows the next one reads, and a row's faces read one row
// beyond their nodes, so the state of rows rowBegin - 3 to rowEnd + 2 is read
// (SLAB_UPSTREAM_HALO_ROWS); the changes of the rows beside the range are
// computed and left unused.
void TransportStepUpstreamRows(CSimulation& s, int rowBegin, int rowEnd) {
    const double dt = s.m_clock.m_globalStep;
    const bool tvd = s.m_ext.m_scheme == ETransportScheme::TVD;
    if (s.m_nMobile == 0) {
        const int first = rowBegin * s.m_nCols * s.m_nComp;
        const int last = rowEnd * s.m_nCols * s.m_nComp;
        for (int t = first; t < last; ++t)
            s.m_transportDelta[t] = 0.0;
        return;
    }
    double* flux = s.m_transportWork.m_faceFlux.get();
    double* cross = s.m_transportWork.m_faceCross.get();
    double* limits = cross ? s.m_transportWork.m_crossLimits.get() : nullptr;
    // With limits, the second pass runs over one row more on each side.
    const int gatherBegin = limits ? rowBegin - 1 : rowBegin;
    const int gatherEnd = limits ? rowEnd + 1 : rowEnd;
    if (tvd)
        ForNodes(s, gatherBegin - 1, gatherEnd, [&](int i, int j) {
            FacesFrom(
                s, i, j, [&](const CAxisFace& g, int m, int k) { return TvdFlux(s, g, m, k, dt); },
                flux, cross);
        });
    else
        ForNodes(s, gatherBegin - 1, gatherEnd, [&](int i, int j) {
            FacesFrom(
                s, i, j,
                [&](const CAxisFace& g, int m, int k) { return SymmetricFlux(s, g, m, k, dt); },
                flux, nullptr);
        });
    ForNodes(s, gatherBegin, gatherEnd, [&](int i, int j) { GatherNode(s, i, j, dt, limits); });
    if (cross)
        ForNodes(s, rowBegin, rowEnd, [&](int i, int j) { AddLimitedCross(s, i, j, dt); });
}
