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
#include "transport/transport.h"

#include "model/lanes.h"
#include "transport/implicit_transport.h"
#include "transport/injection.h"
#include "transport/transport_faces.h"

#include "model/extension.h"
#include "model/limits.h"
#include "model/node_view.h"
#include "model/simulation.h"
#include "model/transport_scheme.h"
#include "run/thread_team.h"

#include <algorithm>
#include <cmath>

namespace {

// A face, or faces of neighbouring nodes in lanes: lane l's values lie
// l * stride (state) and l * coefStride (coefficients) past lane 0's.
template <class V> struct CFaceLanes {
    const double* a;    // node a's first value
    const double* b;    // node b's first value
    const double* low;  // a's neighbour below on the other axis (with a cross term)
    const double* high; // and above
    const double* coef; // a's dispersion triples
    int stride;         // from one lane to the next
    int coefStride;
    int entryStep; // from one entry of a node to the next
    int coefEntryStep;
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
    const V ca = LoadLanes<V>(f.a + k * f.entryStep, f.stride);
    const V cb = LoadLanes<V>(f.b + k * f.entryStep, f.stride);
    const V diag = LoadLanes<V>(f.coef + (3 * m + f.diagCoef) * f.coefEntryStep, f.coefStride);
    V flux = (cb - ca) * ((q * 0.5 - f.thetaF * diag / f.d) - f.laxWendroff);
    if (f.cross) {
        const V drc = LoadLanes<V>(f.coef + (3 * m + 2) * f.coefEntryStep, f.coefStride);
        const V high = LoadLanes<V>(f.high + k * f.entryStep, f.stride);
        const V low = LoadLanes<V>(f.low + k * f.entryStep, f.stride);
        flux = flux - (high - low) * f.thetaA * drc / f.crossD;
    }
    return flux + q * IfNotNegative(q, ca, cb);
}

inline double Flux(const double* state, const CFace& f, int m, int k, double thetaA, double thetaF,
                   double dt) {
    CFaceLanes<double> one{};
    one.a = state + f.a;
    one.b = state + f.b;
    one.low = state + f.crossLow;
    one.high = state + f.crossHigh;
    one.coef = f.coef;
    one.entryStep = 1; // the node's own values, side by side
    one.coefEntryStep = 1;
    one.diagCoef = f.diagCoef;
    one.cross = f.cross;
    one.q = f.q;
    one.thetaA = thetaA;
    one.thetaF = thetaF;
    one.d = f.d;
    one.crossD = f.crossD;
    FinishFace(one, dt);
    return FluxLanes(one, m, k);
}

// Adds the transport across one face to the changes of its two nodes.
void TransportAcrossFace(const CSimulation& s, const CFace& f, double dt) {
    const double* state = s.m_state;
    double* delta = s.m_transportDelta;
    const double thetaA = NodeAt(state, f.a).Porosity();
    const double thetaB = NodeAt(state, f.b).Porosity();
    const double thetaF = MeanPorosity(state, f);
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
    return CGather{s.m_state,
                   s.m_transportDelta,
                   s.m_dispCoef.get(),
                   s.m_grid.m_rowCoord.get(),
                   s.m_grid.m_colCoord.get(),
                   s.m_grid.m_rowWidth.get(),
                   s.m_grid.m_colWidth.get(),
                   s.m_nComp,
                   s.m_nMobile,
                   s.m_nRows,
                   s.m_nCols,
                   s.m_clock.m_globalStep};
}

// The gather reads a row's values side by side, entry by entry, so that a
// lane block of columns loads each value with one vector load instead of
// one load per lane from nodes m_nComp doubles apart. A row's line holds
// entry e of column j at e * nCols + j: these entries, then the mobile ones.
enum { LINE_POROSITY, LINE_FLUXROW, LINE_FLUXCOL, LINE_SOURCE, LINE_MOBILE };

// The lines of the three rows a row's faces read (above, the row, below) and
// the row's dispersion coefficients (entry 3 m + c, c: Drr, Dcc, Drc), all in
// the calling thread's scratch. Rows beyond the grid have no line (null).
struct CLines {
    const double* above;
    const double* here;
    const double* below;
    const double* coef;
};

// The gather reads the state and the coefficients and writes the changes in
// one pass through memory, but with too much arithmetic in between for the
// processor's own prefetching to keep up: it asks for the values of the node
// GATHER_AHEAD_NODES ahead itself. (The 400 x 400 bench grid's step with one
// thread: 4.1 ms without, 2.8 ms 32 nodes ahead, 2.4 ms 128 to 400 ahead,
// 2.7 ms 800 ahead.)
constexpr int GATHER_AHEAD_NODES = 256;

// Asks for the values of the W nodes that lie GATHER_AHEAD_NODES nodes past
// node n, whose first value p holds, each node having perNode values; nothing
// past the grid's last node. WRITE: 1 for values to be written, else 0.
template <int W, int WRITE>
KOVA_LANES_INLINE void Ahead(const CGather& g, int n, const double* p, int perNode) {
    if (n + GATHER_AHEAD_NODES + W > g.nRows * g.nCols)
        return;
    const double* ahead = p + GATHER_AHEAD_NODES * perNode;
    const int count = W * perNode;
    for (int t = 0; t < count; t += 8) // 8 doubles a cache line
        __builtin_prefetch(ahead + t, WRITE, 3);
    __builtin_prefetch(ahead + count - 1, WRITE, 3);
}

// Columns j on of row i's line, from the state, a lane per column.
template <class V>
KOVA_LANES_INLINE void FillLineLanes(const CGather& g, int i, int j, double* line) {
    const int n = g.nComp;
    const double* node = g.state + (i * g.nCols + j) * n;
    Ahead<CLaneWidth<V>::N, 0>(g, i * g.nCols + j, node, n);
    StoreLanes<V>(line + LINE_POROSITY * g.nCols + j, 1, LoadLanes<V>(node + SLOT_POROSITY, n));
    StoreLanes<V>(line + LINE_FLUXROW * g.nCols + j, 1, LoadLanes<V>(node + SLOT_FLUXROW, n));
    StoreLanes<V>(line + LINE_FLUXCOL * g.nCols + j, 1, LoadLanes<V>(node + SLOT_FLUXCOL, n));
    StoreLanes<V>(line + LINE_SOURCE * g.nCols + j, 1, LoadLanes<V>(node + SLOT_SOURCE, n));
    const int firstMobile = n - g.nMobile;
    for (int m = 0; m < g.nMobile; ++m)
        StoreLanes<V>(line + (LINE_MOBILE + m) * g.nCols + j, 1,
                      LoadLanes<V>(node + firstMobile + m, n));
}

// Columns j on of row i's dispersion coefficients, entry by entry.
template <class V>
KOVA_LANES_INLINE void FillCoefLanes(const CGather& g, int i, int j, double* line) {
    const int perNode = 3 * g.nMobile;
    const double* node = g.coef + (i * g.nCols + j) * perNode;
    Ahead<CLaneWidth<V>::N, 0>(g, i * g.nCols + j, node, perNode);
    for (int c = 0; c < perNode; ++c)
        StoreLanes<V>(line + c * g.nCols + j, 1, LoadLanes<V>(node + c, perNode));
}

// Row i's line into `line` and its dispersion coefficients into `coef`,
// either of them skipped where null.
template <class V>
KOVA_LANES_INLINE void FillRow(const CGather& g, int i, double* line, double* coef) {
    constexpr int W = CLaneWidth<V>::N;
    int j = 0;
    for (; j + W <= g.nCols; j += W) {
        if (line != nullptr)
            FillLineLanes<V>(g, i, j, line);
        if (coef != nullptr)
            FillCoefLanes<V>(g, i, j, coef);
    }
    for (; j < g.nCols; ++j) {
        if (line != nullptr)
            FillLineLanes<double>(g, i, j, line);
        if (coef != nullptr)
            FillCoefLanes<double>(g, i, j, coef);
    }
}

// F of every mobile component across the row faces from (i, j) down (ROW)
// or the column faces from (i, j) to the right, a lane per column from j on,
// into out[m * nCols + j ...].
template <class V, bool ROW>
KOVA_LANES_INLINE void FacesLanes(const CGather& g, const CLines& r, int i, int j, double* out) {
    const int step = g.nCols; // from one entry of a line to the next
    CFaceLanes<V> f;
    f.a = r.here + j;
    f.b = ROW ? r.below + j : f.a + 1;
    f.low = f.a;
    f.high = f.a;
    f.coef = r.coef + j;
    f.stride = 1;
    f.coefStride = 1;
    f.entryStep = step;
    f.coefEntryStep = step;
    f.diagCoef = ROW ? 0 : 1;
    // A lane block of row faces never holds the first or the last column.
    f.cross = ROW ? 0 < j && j < g.nCols - 1 : 0 < i && i < g.nRows - 1;
    f.q = LoadLanes<V>(f.a + (ROW ? LINE_FLUXROW : LINE_FLUXCOL) * step, 1);
    f.thetaA = LoadLanes<V>(f.a + LINE_POROSITY * step, 1);
    f.thetaF = (f.thetaA + LoadLanes<V>(f.b + LINE_POROSITY * step, 1)) * 0.5;
    if (ROW)
        f.d = SplatLanes<V>(g.rowCoord[i + 1] - g.rowCoord[i]);
    else
        f.d = LoadLanes<V>(g.colCoord + j + 1, 1) - LoadLanes<V>(g.colCoord + j, 1);
    f.crossD = f.d;
    if (f.cross) {
        f.low = ROW ? f.a - 1 : r.above + j;
        f.high = ROW ? f.a + 1 : r.below + j;
        if (ROW)
            f.crossD = LoadLanes<V>(g.colCoord + j + 1, 1) - LoadLanes<V>(g.colCoord + j - 1, 1);
        else
            f.crossD = SplatLanes<V>(g.rowCoord[i + 1] - g.rowCoord[i - 1]);
    }
    FinishFace(f, g.dt);
    for (int m = 0; m < g.nMobile; ++m)
        StoreLanes<V>(out + m * g.nCols + j, 1, FluxLanes(f, m, LINE_MOBILE + m));
}

// The changes of the nodes (i, j) on, a lane per column: the terms of the
// row face above, the row face below, the column face to the left, the one
// to the right, then the sink, in the order in which the face loops add them.
template <class V>
KOVA_LANES_INLINE void NodeChangesLanes(const CGather& g, const CLines& r, int i, int j,
                                        const double* above, const double* below,
                                        const double* column) {
    constexpr int W = CLaneWidth<V>::N;
    const double* a = r.here + j;
    double* delta = g.delta + (i * g.nCols + j) * g.nComp;
    const V theta = LoadLanes<V>(a + LINE_POROSITY * g.nCols, 1);
    const V source = LoadLanes<V>(a + LINE_SOURCE * g.nCols, 1);
    const double wRow = g.rowWidth[i];
    const V wColumn = LoadLanes<V>(g.colWidth + j, 1);
    const double dt = g.dt;
    // The lanes' nodes lie side by side: all their entries are cleared at
    // once, and the mobile ones then take their changes.
    Ahead<W, 1>(g, i * g.nCols + j, delta, g.nComp);
    for (int t = 0; t < W * g.nComp; ++t)
        delta[t] = 0.0;
    const int firstMobile = g.nComp - g.nMobile;
    for (int m = 0; m < g.nMobile; ++m) {
        const int at = m * g.nCols + j;
        V change = SplatLanes<V>(0.0);
        if (i > 0)
            change = change + LoadLanes<V>(above + at, 1) * dt / wRow / theta;
        if (i < g.nRows - 1)
            change = change - LoadLanes<V>(below + at, 1) * dt / wRow / theta;
        if (j > 0)
            change = change + LoadLanes<V>(column + at - 1, 1) * dt / wColumn / theta;
        if (j + W < g.nCols)
            change = change - LoadLanes<V>(column + at, 1) * dt / wColumn / theta;
        // Sinks take solute out with the water; sources bring none in.
        const V c = LoadLanes<V>(a + (LINE_MOBILE + m) * g.nCols, 1);
        change = IfNegative(source, change + c * source * dt, change);
        StoreLanes<V>(delta + firstMobile + m, g.nComp, change);
    }
}

// Each pass over a row takes a lane of V per column wherever a whole block
// of them lies away from the grid's first and last column, one column at a
// time elsewhere.

// F across the row faces from row i down, into out.
template <class V>
KOVA_LANES_INLINE void RowFacesRow(const CGather& g, const CLines& r, int i, double* out) {
    constexpr int W = CLaneWidth<V>::N;
    for (int j = 0; j < g.nCols;) {
        if (j > 0 && j + W <= g.nCols - 1) {
            FacesLanes<V, true>(g, r, i, j, out);
            j += W;
        } else {
            FacesLanes<double, true>(g, r, i, j++, out);
        }
    }
}

// F across the column faces of row i, into out.
template <class V>
KOVA_LANES_INLINE void ColumnFacesRow(const CGather& g, const CLines& r, int i, double* out) {
    constexpr int W = CLaneWidth<V>::N;
    for (int j = 0; j < g.nCols - 1;) {
        if (j + W <= g.nCols - 1) {
            FacesLanes<V, false>(g, r, i, j, out);
            j += W;
        } else {
            FacesLanes<double, false>(g, r, i, j++, out);
        }
    }
}

// The changes of the nodes of row i.
template <class V>
KOVA_LANES_INLINE void NodeChangesRow(const CGather& g, const CLines& r, int i, const double* above,
                                      const double* below, const double* column) {
    constexpr int W = CLaneWidth<V>::N;
    for (int j = 0; j < g.nCols;) {
        if (j > 0 && j + W <= g.nCols - 1) {
            NodeChangesLanes<V>(g, r, i, j, above, below, column);
            j += W;
        } else {
            NodeChangesLanes<double>(g, r, i, j++, above, below, column);
        }
    }
}

// The copy into lines and the three passes over a row at one width, each a
// function of its own so that the compiler keeps its few values in registers.
struct CGatherPasses {
    int lanes;
    void (*fill)(const CGather&, int, double*, double*);
    void (*rowFaces)(const CGather&, const CLines&, int, double*);
    void (*columnFaces)(const CGather&, const CLines&, int, double*);
    void (*nodeChanges)(const CGather&, const CLines&, int, const double*, const double*,
                        const double*);
};

// The passes in lanes of V (W wide), compiled for TARGET (an attribute, or
// nothing), as GATHER_BY_<W>.
#define KOVA_GATHER_PASSES(W, TARGET, V)                                                           \
    TARGET void FillBy##W(const CGather& g, int i, double* line, double* coef) {                   \
        FillRow<V>(g, i, line, coef);                                                              \
    }                                                                                              \
    TARGET void RowFacesBy##W(const CGather& g, const CLines& r, int i, double* out) {             \
        RowFacesRow<V>(g, r, i, out);                                                              \
    }                                                                                              \
    TARGET void ColumnFacesBy##W(const CGather& g, const CLines& r, int i, double* out) {          \
        ColumnFacesRow<V>(g, r, i, out);                                                           \
    }                                                                                              \
    TARGET void NodeChangesBy##W(const CGather& g, const CLines& r, int i, const double* above,    \
                                 const double* below, const double* column) {                      \
        NodeChangesRow<V>(g, r, i, above, below, column);                                          \
    }                                                                                              \
    const CGatherPasses GATHER_BY_##W = {W, FillBy##W, RowFacesBy##W, ColumnFacesBy##W,            \
                                         NodeChangesBy##W};

KOVA_GATHER_PASSES(1, , double)
KOVA_GATHER_PASSES(2, , CLanes2)
#if KOVA_LANES_AVX2
KOVA_GATHER_PASSES(4, KOVA_TARGET_AVX2, CLanes4)
KOVA_GATHER_PASSES(8, KOVA_TARGET_AVX512, CLanes8)
#endif
#undef KOVA_GATHER_PASSES

const CGatherPasses* WidestGather() {
    return WidestLanes(&GATHER_BY_2, KOVA_IF_AVX2(&GATHER_BY_4), KOVA_IF_AVX2(&GATHER_BY_8));
}

// The gather's width: chosen once, from what the processor has.
const CGatherPasses*& GatherSlot() {
    static const CGatherPasses* gather = WidestGather();
    return gather;
}

// Doubles of a thread's scratch per column: the F of the faces above, below
// and to the right of a row, three rows' lines and a row's coefficients.
int GatherScratchPerColumn(const CGather& g) {
    return 3 * g.nMobile + 3 * (LINE_MOBILE + g.nMobile) + 3 * g.nMobile;
}

// The changes of the nodes of rows begin..end-1. Each F is computed once:
// the row faces below a row serve the next row as the faces above it; the
// first row of the range computes those above it afresh. Row r's line stays
// in the r % 3rd place of three while rows r - 1 to r + 1 are computed.
// scratch: GatherScratchSize doubles of the calling thread.
void GatherRowsWith(const CGatherPasses& passes, const CGather& g, int begin, int end,
                    double* scratch) {
    // A row's fluxes and a line each fit int (they are at most the checked
    // counts of coefficients and of state values); three lines need not.
    const size_t perRow = ToSize(g.nCols * g.nMobile);
    double* above = scratch;
    double* below = scratch + perRow;
    double* column = scratch + 2 * perRow;
    double* lines = scratch + 3 * perRow;
    const size_t perLine = ToSize(g.nCols * (LINE_MOBILE + g.nMobile));
    double* coef = lines + 3 * perLine;
    const auto line = [&](int r) { return lines + ToSize(r % 3) * perLine; };
    if (begin >= end)
        return;
    if (begin > 0) {
        passes.fill(g, begin - 1, line(begin - 1), coef);
        passes.fill(g, begin, line(begin), nullptr);
        passes.rowFaces(g, CLines{nullptr, line(begin - 1), line(begin), coef}, begin - 1, above);
    } else {
        passes.fill(g, begin, line(begin), nullptr);
    }
    for (int i = begin; i < end; ++i) {
        passes.fill(g, i, nullptr, coef);
        if (i < g.nRows - 1)
            passes.fill(g, i + 1, line(i + 1), nullptr);
        const CLines r{i > 0 ? line(i - 1) : nullptr, line(i),
                       i < g.nRows - 1 ? line(i + 1) : nullptr, coef};
        if (i < g.nRows - 1)
            passes.rowFaces(g, r, i, below);
        passes.columnFaces(g, r, i, column);
        passes.nodeChanges(g, r, i, above, below, column);
        double* const swap = above;
        above = below;
        below = swap;
    }
}

void GatherRows(const CSimulation& s, int begin, int end, double* scratch) {
    GatherRowsWith(*GatherSlot(), GatherOf(s), begin, end, scratch);
}

} // namespace

void TransportStepFaceLoops(CSimulation& s) {
    const double dt = s.m_clock.m_globalStep;
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
        const double source = NodeAt(s.m_state, a).Source();
        if (source < 0.0)
            for (int k = firstMobile; k < nComp; ++k)
                s.m_transportDelta[a + k] += s.m_state[a + k] * source * dt;
    }
}

// Every node gathers its own change, so the threads write disjoint values,
// and sums the same terms in the same order as the face loops: the bits are
// theirs. The threads take ranges of rows.
void TransportStepGather(CSimulation& s) {
    SizeGatherScratch(s); // the time loop has sized it already
    TransportStepRows(s, 0, s.m_nRows);
}

void SizeGatherScratch(CSimulation& s) {
    const size_t scratch = GatherScratchSize(s) * ToSize(s.m_nThreads);
    if (s.m_transportWork.m_gatherScratch.size() < scratch)
        s.m_transportWork.m_gatherScratch.assign(scratch, 0.0);
}

size_t GatherScratchSize(const CSimulation& s) {
    return ToSize(s.m_nCols) * ToSize(GatherScratchPerColumn(GatherOf(s)));
}

void SetGatherLanes(int lanes) {
    if (lanes == 1)
        GatherSlot() = &GATHER_BY_1;
    else if (lanes == 2)
        GatherSlot() = &GATHER_BY_2;
    else if (lanes == 4)
        GatherSlot() = WidestLanes(&GATHER_BY_2, KOVA_IF_AVX2(&GATHER_BY_4));
    else
        GatherSlot() = WidestGather();
}

int GatherLanes() {
    return GatherSlot()->lanes;
}

void TransportStepRows(CSimulation& s, int rowBegin, int rowEnd) {
    if (s.m_nMobile <= 0) {
        const int first = rowBegin * s.m_nCols * s.m_nComp;
        const int last = rowEnd * s.m_nCols * s.m_nComp;
        for (int t = first; t < last; ++t)
            s.m_transportDelta[t] = 0.0;
        return;
    }
    const size_t perThread = GatherScratchSize(s);
    double* scratch = s.m_transportWork.m_gatherScratch.data();
    if (s.m_nThreads == 1) {
        GatherRows(s, rowBegin, rowEnd, scratch);
        return;
    }
    CThreadTeam& team = s.Team();
    const int rows = rowEnd - rowBegin;
    // Each thread the rows nearest its own nodes, in one range: the work is
    // even, and rows taken by another thread would move their values over.
    const auto share = [&](int t) {
        return (s.NodeShareStart(t) + s.m_nCols / 2) / s.m_nCols - rowBegin;
    };
    team.ForShares(rows, rows, share, [&](int begin, int end, int thread) {
        GatherRows(s, rowBegin + begin, rowBegin + end, scratch + perThread * ToSize(thread));
    });
}

int CountReverseFaces(const CSimulation& s) {
    return CountReverseFaces(s, 0, s.m_nNodes, ReverseFaceThreshold(LargestFlux(s, 0, s.m_nNodes)));
}

double LargestFlux(const CSimulation& s, int first, int end) {
    const double* state = s.m_stateNew.get();
    double largest = 0.0;
    for (int n = first; n < end; ++n) {
        const CNodeView node(state + n * s.m_nComp);
        largest = std::max(largest, std::max(std::fabs(node.FluxRow()), std::fabs(node.FluxCol())));
    }
    return largest;
}

double ReverseFaceThreshold(double largestFlux) {
    return FLOW_REVERSE_RELATIVE * largestFlux;
}

int CountReverseFaces(const CSimulation& s, int first, int end, double threshold) {
    const double* state = s.m_stateNew.get();
    int count = 0;
    for (int n = first; n < end; ++n) {
        const CNodeView node(state + n * s.m_nComp);
        count += (node.FluxRow() < -threshold) + (node.FluxCol() < -threshold);
    }
    return count;
}

std::string ReverseFlowWarning(const CSimulation& s) {
    if (!s.Transport().WarnsOfReverseFlow(s))
        return std::string();
    return ReverseFlowWarning(CountReverseFaces(s));
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
