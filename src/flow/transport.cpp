// The transport step: an explicit finite-volume step of advection and
// dispersion of the mobile components over one global step, from the state at
// the start of the step (m_state). The change of every mobile entry is
// accumulated into m_transportDelta so that every face sees the same starting
// state; all other entries stay 0. The local reaction integration applies the
// change as a constant rate over the step.
//
// Written plainly, the step is a loop over the row faces, one over the column
// faces and one over the sinks (TransportStepFaceLoops). A run takes it as
// a gather instead: every node gathers the terms of its own four faces and
// its sink in that same order, each face's F computed by the same expression
// on both sides, so the two ways agree to the last bit; and the gather
// computes neighbouring columns together in the lanes of vector registers.
//
// The flux F across a face from a to b, per unit face area, is
//   (c(b) - c(a)) * ((q/2 - theta_f * D / d) - q^2 * dt / 2 / (theta_f * d))
//   - cross term + q * c(upstream)
// that is central advection with a Lax-Wendroff correction, Fickian
// dispersion with node a's coefficient and the face's mean porosity, the cross
// dispersion from a central difference across a's neighbours on the other
// axis, and upstream advection. Nodes with a negative water source also lose
// solute in proportion to their concentration.
#include "flow/transport.h"

#include "flow/implicit_transport.h"
#include "flow/injection.h"
#include "flow/lanes.h"
#include "flow/transport_faces.h"

#include "model/extension.h"
#include "model/limits.h"
#include "model/simulation.h"
#include "run/thread_team.h"

namespace {

// A face, or faces of neighbouring nodes in lanes: lane l's values lie
// l * stride (state) and l * coefStride (coefficients) past lane 0's.
template <class V> struct CFaceLanes {
    const double* a;    // node a's first value
    const double* b;    // node b's first value
    const double* low;  // a's neighbour below on the other axis (with a cross term)
    const double* high; // and above
    const double* coef; // a's dispersion triples
    int stride;
    int coefStride;
    int diagCoef; // 0: Drr (row faces), 1: Dcc (column faces)
    bool cross;
    V q;
    V thetaA;
    V thetaF; // the face's mean porosity
    V d;
    V crossD;
    V laxWendroff; // q^2 dt / 2 / (thetaF d), the same for every component
};

// Completes a face's lanes once its flux, porosity and distance are in.
template <class V> KOVA_LANES_INLINE void FinishFace(CFaceLanes<V>& f, double dt) {
    f.laxWendroff = f.q * dt * f.q * 0.5 / (f.thetaF * f.d);
}

// The flux F across a face of mobile component m (state entry k): both ways
// of running the step compute every F by this one expression.
template <class V> KOVA_LANES_INLINE V FluxLanes(const CFaceLanes<V>& f, int m, int k) {
    const V q = f.q;
    const V ca = LoadLanes<V>(f.a + k, f.stride);
    const V cb = LoadLanes<V>(f.b + k, f.stride);
    const V diag = LoadLanes<V>(f.coef + 3 * m + f.diagCoef, f.coefStride);
    V flux = (cb - ca) * ((q * 0.5 - f.thetaF * diag / f.d) - f.laxWendroff);
    if (f.cross) {
        const V drc = LoadLanes<V>(f.coef + 3 * m + 2, f.coefStride);
        const V high = LoadLanes<V>(f.high + k, f.stride);
        const V low = LoadLanes<V>(f.low + k, f.stride);
        flux = flux - (high - low) * f.thetaA * drc / f.crossD;
    }
    return flux + q * IfNotNegative(q, ca, cb);
}

inline double Flux(const double* state, const CFace& f, int m, int k, double thetaA, double thetaF,
                   double dt) {
    CFaceLanes<double> one{state + f.a, state + f.b, state + f.crossLow, state + f.crossHigh,
                           f.coef,      0,           0,           f.diagCoef,
                           f.cross,     f.q,         thetaA,      thetaF,
                           f.d,         f.crossD,    0.0};
    FinishFace(one, dt);
    return FluxLanes(one, m, k);
}

// Adds the transport across one face to the changes of its two nodes.
void TransportAcrossFace(const CSimulation& s, const CFace& f, double dt) {
    const double* state = s.m_state;
    double* delta = s.m_transportDelta;
    const double thetaA = state[f.a + SLOT_POROSITY];
    const double thetaB = state[f.b + SLOT_POROSITY];
    const double thetaF = (thetaA + thetaB) * 0.5;
    const int firstMobile = s.m_nComp - s.m_nMobile;

    for (int m = 0; m < s.m_nMobile; ++m) {
        const int k = firstMobile + m;
        const double flux = Flux(state, f, m, k, thetaA, thetaF, dt);
        delta[f.a + k] -= flux * dt / f.wa / thetaA;
        delta[f.b + k] += flux * dt / f.wb / thetaB;
    }
}

// What the gather of a range of rows reads and writes; borrowed from the model.
struct CGather {
    const double* state;
    double* delta;
    const double* coef;
    const double* rowCoord;
    const double* colCoord;
    const double* rowWidth;
    const double* colWidth;
    int nComp;
    int nMobile;
    int nRows;
    int nCols;
    double dt;
};

CGather GatherOf(const CSimulation& s) {
    return CGather{s.m_state,           s.m_transportDelta,  s.m_dispCoef.get(),
                   s.m_rowCoord.get(),  s.m_colCoord.get(),  s.m_rowWidth.get(),
                   s.m_colWidth.get(),  s.m_nComp,           s.m_nMobile,
                   s.m_nRows,           s.m_nCols,           s.m_globalStep};
}

// F of every mobile component across the row faces from (i, j) down (ROW)
// or the column faces from (i, j) to the right, a lane per column from j on,
// into out[m * nCols + j ...].
template <class V, bool ROW>
KOVA_LANES_INLINE void FacesLanes(const CGather& g, int i, int j, double* out) {
    const int n = i * g.nCols + j;
    const double* a = g.state + n * g.nComp;
    // Values from a node to its neighbour along the faces' normal and across it.
    const int along = ROW ? g.nCols * g.nComp : g.nComp;
    const int across = ROW ? g.nComp : g.nCols * g.nComp;
    CFaceLanes<V> f;
    f.a = a;
    f.b = a + along;
    f.low = a;
    f.high = a;
    f.coef = g.coef + 3 * n * g.nMobile;
    f.stride = g.nComp;
    f.coefStride = 3 * g.nMobile;
    f.diagCoef = ROW ? 0 : 1;
    // A lane block of row faces never holds the first or the last column.
    f.cross = ROW ? 0 < j && j < g.nCols - 1 : 0 < i && i < g.nRows - 1;
    f.q = LoadLanes<V>(a + (ROW ? SLOT_FLUXROW : SLOT_FLUXCOL), g.nComp);
    f.thetaA = LoadLanes<V>(a + SLOT_POROSITY, g.nComp);
    f.thetaF = (f.thetaA + LoadLanes<V>(f.b + SLOT_POROSITY, g.nComp)) * 0.5;
    if (ROW)
        f.d = SplatLanes<V>(g.rowCoord[i + 1] - g.rowCoord[i]);
    else
        f.d = LoadLanes<V>(g.colCoord + j + 1, 1) - LoadLanes<V>(g.colCoord + j, 1);
    f.crossD = f.d;
    if (f.cross) {
        f.low = a - across;
        f.high = a + across;
        if (ROW)
            f.crossD = LoadLanes<V>(g.colCoord + j + 1, 1) - LoadLanes<V>(g.colCoord + j - 1, 1);
        else
            f.crossD = SplatLanes<V>(g.rowCoord[i + 1] - g.rowCoord[i - 1]);
    }
    FinishFace(f, g.dt);
    const int firstMobile = g.nComp - g.nMobile;
    for (int m = 0; m < g.nMobile; ++m)
        StoreLanes<V>(out + m * g.nCols + j, 1, FluxLanes(f, m, firstMobile + m));
}

// The changes of the nodes (i, j) on, a lane per column: the terms of the
// row face above, the row face below, the column face to the left, the one
// to the right, then the sink, in the order in which the face loops add them.
template <class V>
KOVA_LANES_INLINE void NodeChangesLanes(const CGather& g, int i, int j, const double* above,
                                        const double* below, const double* column) {
    const int n = i * g.nCols + j;
    const double* a = g.state + n * g.nComp;
    double* delta = g.delta + n * g.nComp;
    const V theta = LoadLanes<V>(a + SLOT_POROSITY, g.nComp);
    const V source = LoadLanes<V>(a + SLOT_SOURCE, g.nComp);
    const double wRow = g.rowWidth[i];
    const V wColumn = LoadLanes<V>(g.colWidth + j, 1);
    const double dt = g.dt;
    const int firstMobile = g.nComp - g.nMobile;
    for (int k = 0; k < firstMobile; ++k)
        StoreLanes<V>(delta + k, g.nComp, SplatLanes<V>(0.0));
    for (int m = 0; m < g.nMobile; ++m) {
        const int at = m * g.nCols + j;
        V change = SplatLanes<V>(0.0);
        if (i > 0)
            change = change + LoadLanes<V>(above + at, 1) * dt / wRow / theta;
        if (i < g.nRows - 1)
            change = change - LoadLanes<V>(below + at, 1) * dt / wRow / theta;
        if (j > 0)
            change = change + LoadLanes<V>(column + at - 1, 1) * dt / wColumn / theta;
        if (j + CLaneWidth<V>::N < g.nCols)
            change = change - LoadLanes<V>(column + at, 1) * dt / wColumn / theta;
        // Sinks take solute out with the water; sources bring none in.
        const V c = LoadLanes<V>(a + firstMobile + m, g.nComp);
        change = IfNegative(source, change + c * source * dt, change);
        StoreLanes<V>(delta + firstMobile + m, g.nComp, change);
    }
}

// Each pass over a row takes a lane of V per column wherever a whole block
// of them lies away from the grid's first and last column, one column at a
// time elsewhere.

// F across the row faces from row i down, into out.
template <class V>
KOVA_LANES_INLINE void RowFacesRow(const CGather& g, int i, double* out) {
    constexpr int W = CLaneWidth<V>::N;
    for (int j = 0; j < g.nCols;) {
        if (j > 0 && j + W <= g.nCols - 1) {
            FacesLanes<V, true>(g, i, j, out);
            j += W;
        } else {
            FacesLanes<double, true>(g, i, j++, out);
        }
    }
}

// F across the column faces of row i, into out.
template <class V>
KOVA_LANES_INLINE void ColumnFacesRow(const CGather& g, int i, double* out) {
    constexpr int W = CLaneWidth<V>::N;
    for (int j = 0; j < g.nCols - 1;) {
        if (j + W <= g.nCols - 1) {
            FacesLanes<V, false>(g, i, j, out);
            j += W;
        } else {
            FacesLanes<double, false>(g, i, j++, out);
        }
    }
}

// The changes of the nodes of row i.
template <class V>
KOVA_LANES_INLINE void NodeChangesRow(const CGather& g, int i, const double* above,
                                      const double* below, const double* column) {
    constexpr int W = CLaneWidth<V>::N;
    for (int j = 0; j < g.nCols;) {
        if (j > 0 && j + W <= g.nCols - 1) {
            NodeChangesLanes<V>(g, i, j, above, below, column);
            j += W;
        } else {
            NodeChangesLanes<double>(g, i, j++, above, below, column);
        }
    }
}

// The three passes over a row at one width, each a function of its own so
// that the compiler keeps its few values in registers.
struct CGatherPasses {
    int lanes;
    void (*rowFaces)(const CGather&, int, double*);
    void (*columnFaces)(const CGather&, int, double*);
    void (*nodeChanges)(const CGather&, int, const double*, const double*, const double*);
};

template <class V> void RowFacesPass(const CGather& g, int i, double* out) {
    RowFacesRow<V>(g, i, out);
}
template <class V> void ColumnFacesPass(const CGather& g, int i, double* out) {
    ColumnFacesRow<V>(g, i, out);
}
template <class V>
void NodeChangesPass(const CGather& g, int i, const double* above, const double* below,
                     const double* column) {
    NodeChangesRow<V>(g, i, above, below, column);
}

const CGatherPasses GATHER_BY_1 = {1, RowFacesPass<double>, ColumnFacesPass<double>,
                                   NodeChangesPass<double>};
const CGatherPasses GATHER_BY_2 = {2, RowFacesPass<CLanes2>, ColumnFacesPass<CLanes2>,
                                   NodeChangesPass<CLanes2>};

#if KOVA_LANES_AVX2
KOVA_TARGET_AVX2 void RowFacesBy4(const CGather& g, int i, double* out) {
    RowFacesRow<CLanes4>(g, i, out);
}
KOVA_TARGET_AVX2 void ColumnFacesBy4(const CGather& g, int i, double* out) {
    ColumnFacesRow<CLanes4>(g, i, out);
}
KOVA_TARGET_AVX2 void NodeChangesBy4(const CGather& g, int i, const double* above,
                                     const double* below, const double* column) {
    NodeChangesRow<CLanes4>(g, i, above, below, column);
}
const CGatherPasses GATHER_BY_4 = {4, RowFacesBy4, ColumnFacesBy4, NodeChangesBy4};
#endif

const CGatherPasses* WidestGather() {
    return WidestLanes(&GATHER_BY_2, KOVA_IF_AVX2(&GATHER_BY_4));
}

// The gather's width: chosen once, from what the processor has.
const CGatherPasses*& GatherSlot() {
    static const CGatherPasses* gather = WidestGather();
    return gather;
}

// The changes of the nodes of rows begin..end-1. Each F is computed once:
// the row faces below a row serve the next row as the faces above it; the
// first row of the range computes those above it afresh.
// scratch: GatherScratchSize doubles of the calling thread.
void GatherRowsWith(const CGatherPasses& passes, const CGather& g, int begin, int end,
                    double* scratch) {
    const int perRow = g.nCols * g.nMobile;
    double* above = scratch;
    double* below = scratch + perRow;
    double* column = scratch + 2 * perRow;
    for (int i = begin; i < end; ++i) {
        if (i > 0 && i == begin)
            passes.rowFaces(g, i - 1, above);
        if (i < g.nRows - 1)
            passes.rowFaces(g, i, below);
        passes.columnFaces(g, i, column);
        passes.nodeChanges(g, i, above, below, column);
        double* const swap = above;
        above = below;
        below = swap;
    }
}

void GatherRows(const CSimulation& s, int begin, int end, double* scratch) {
    GatherRowsWith(*GatherSlot(), GatherOf(s), begin, end, scratch);
}

} // namespace

void TransportStep(CSimulation& s) {
    if (IsImplicit(s))
        TransportStepImplicit(s);
    else if (s.m_ext.m_scheme != ETransportScheme::DEFAULT)
        TransportStepUpstream(s);
    else
        TransportStepGather(s);
    AddInjection(s);
}

void TransportStepFaceLoops(CSimulation& s) {
    const double dt = s.m_globalStep;
    const int nComp = s.m_nComp;
    for (int t = 0; t < s.m_nValues; ++t)
        s.m_transportDelta[t] = 0.0;
    if (s.m_nMobile <= 0)
        return;

    for (int i = 0; i < s.m_nRows - 1; ++i)
        for (int j = 0; j < s.m_nCols; ++j)
            TransportAcrossFace(s, RowFace(s, i, j), dt);
    for (int j = 0; j < s.m_nCols - 1; ++j)
        for (int i = 0; i < s.m_nRows; ++i)
            TransportAcrossFace(s, ColumnFace(s, i, j), dt);

    // Sinks take solute out with the water; sources bring none in.
    const int firstMobile = nComp - s.m_nMobile;
    for (int n = 0; n < s.m_nNodes; ++n) {
        const int a = n * nComp;
        const double source = s.m_state[a + SLOT_SOURCE];
        if (source < 0.0)
            for (int k = firstMobile; k < nComp; ++k)
                s.m_transportDelta[a + k] += s.m_state[a + k] * source * dt;
    }
}

// Every node gathers its own change, so the threads write disjoint values,
// and sums the same terms in the same order as the face loops: the bits are
// theirs. The threads take ranges of rows.
void TransportStepGather(CSimulation& s) {
    const size_t scratch = GatherScratchSize(s) * ToSize(s.m_nThreads);
    if (s.m_transportScratch.size() < scratch)
        s.m_transportScratch.assign(scratch, 0.0); // before the time loop
    TransportStepRows(s, 0, s.m_nRows);
}

size_t GatherScratchSize(const CSimulation& s) {
    // 3 x m_nCols x m_nMobile is at most the checked count of dispersion
    // coefficients, so it fits int; that times the threads need not.
    return ToSize(3 * s.m_nCols * s.m_nMobile);
}

void SetGatherLanes(int lanes) {
    GatherSlot() = lanes == 1 ? &GATHER_BY_1 : lanes == 2 ? &GATHER_BY_2 : WidestGather();
}

int GatherLanes() { return GatherSlot()->lanes; }

void TransportStepRows(CSimulation& s, int rowBegin, int rowEnd) {
    if (s.m_nMobile <= 0) {
        const int first = rowBegin * s.m_nCols * s.m_nComp;
        const int last = rowEnd * s.m_nCols * s.m_nComp;
        for (int t = first; t < last; ++t)
            s.m_transportDelta[t] = 0.0;
        return;
    }
    const size_t perThread = GatherScratchSize(s);
    double* scratch = s.m_transportScratch.data();
    if (s.m_nThreads == 1) {
        GatherRows(s, rowBegin, rowEnd, scratch);
        return;
    }
    CThreadTeam& team = s.Team();
    const int rows = rowEnd - rowBegin;
    team.ForRanges(rows, team.BlockSize(rows), [&](int begin, int end, int thread) {
        GatherRows(s, rowBegin + begin, rowBegin + end, scratch + perThread * ToSize(thread));
    });
}

int CountReverseFaces(const CSimulation& s) { return CountReverseFaces(s, 0, s.m_nNodes); }

int CountReverseFaces(const CSimulation& s, int first, int end) {
    const double* state = s.m_stateNew.get();
    int count = 0;
    for (int n = first; n < end; ++n) {
        const double* node = state + n * s.m_nComp;
        count += (node[SLOT_FLUXROW] < 0.0) + (node[SLOT_FLUXCOL] < 0.0);
    }
    return count;
}

std::string ReverseFlowWarning(const CSimulation& s) {
    if (!WarnsOfReverseFlow(s))
        return std::string();
    return ReverseFlowWarning(CountReverseFaces(s));
}

bool WarnsOfReverseFlow(const CSimulation& s) {
    return s.m_ext.m_scheme == ETransportScheme::DEFAULT && !IsImplicit(s) && s.m_nMobile > 0;
}

std::string ReverseFlowWarning(int count) {
    if (count == 0)
        return std::string();
    return std::to_string(count) + (count == 1 ? " face carries" : " faces carry") +
           " water towards the lower row or column index; the default transport scheme "
           "takes the half difference there with the signed flux, q (3 c(b) - c(a)) / 2, "
           "which adds numerical dispersion and can make the solute oscillate; "
           "[transport] scheme = \"symmetric\" or \"tvd\" in the extension file "
           "treats both directions alike (docs/transport.md)";
}
