#include "heads/heads.h"

#include "heads/head_terms.h"
#include "heads/sparse_heads.h"
#include "model/exceptions.h"
#include "model/grid.h"
#include "model/index.h"
#include "model/lanes.h"
#include "model/limits.h"
#include "model/node_view.h"
#include "model/number_text.h"
#include "model/simulation.h"
#include "run/message_sink.h"
#include "run/run_progress.h"
#include "run/thread_team.h"

#include <cmath>
#include <cstdio>
#include <new>
#include <string>
#include <utility>
#include <vector>

namespace {

double* NodeState(CSimulation& s, int n) {
    return s.m_stateNew.get() + n * s.m_nComp;
}

void ClearFluxSlots(CSimulation& s) {
    for (int n = 0; n < s.m_nNodes; ++n) {
        double* node = NodeState(s, n);
        node[SLOT_FLUXROW] = 0.0;
        node[SLOT_FLUXCOL] = 0.0;
    }
}

} // namespace

namespace {

// Rows first..end-1 of the band matrix; see AssembleBandMatrix.
void AssembleBandRows(CSimulation& s, int first, int end) {
    const int band = s.m_nCols;
    const int width = 2 * band + 1;
    const unsigned char* nodeType = s.m_grid.m_nodeType.get();
    for (int n = first; n < end; ++n) {
        const int i = n / s.m_nCols;
        const int j = n % s.m_nCols;
        double* row = s.m_work.get() + n * width;
        double* node = NodeState(s, n);
        if (nodeType[n] == NODE_HEAD) {
            row[band] = 1.0;
            node[SLOT_FLUXCOL] = node[SLOT_HEAD];
            continue;
        }
        double total = 0.0;
        ForEachConductance(s, i, j, [&](int b, double g) {
            row[band + (b - n)] = g;
            total += g;
        });
        if (total == 0.0) {
            // An isolated node: its head becomes 0.
            row[band] = 1.0;
            node[SLOT_FLUXCOL] = 0.0;
        } else {
            row[band] = -total;
            node[SLOT_FLUXCOL] = -VolumeSource(s, i, j, CNodeView(node));
        }
    }
}

bool EliminatesOnThreads(const CSimulation& s) {
    return s.m_nThreads > 1 && s.m_nCols >= HEAD_BAND_THREADS_MIN_WIDTH;
}

} // namespace

// One row per node: a fixed head is its own equation; a computed head balances
// the conductances to its neighbours against the node's volume source. The
// right-hand side goes into SLOT_FLUXCOL. Where the elimination takes threads,
// so does the assembly: the matrix's first writes fault its fresh pages in,
// and the system clears each page then (on this kind of virtual machine, up
// to a few tenths of a second for a 200 x 200 grid's 128 MB).
void AssembleBandMatrix(CSimulation& s) {
    if (!EliminatesOnThreads(s)) {
        AssembleBandRows(s, 0, s.m_nNodes);
        return;
    }
    s.Team().ForBlocks(s.m_nNodes, [&](int begin, int end) { AssembleBandRows(s, begin, end); });
}

namespace {

// Gaussian elimination without pivoting inside the band, the pivot rows taken
// HEAD_BAND_BLOCK at a time: a row below takes all of a block's pivot rows
// while its entries are in the nearest cache, and the block's rows stay there
// for every row below it. Each entry still takes the pivot rows one by one in
// ascending order, as entry + f x pivot entry, and a row whose multiplier for a
// pivot row is 0 skips that pivot row (most of the band below a row is empty
// at first): the operations, and so the bits, of taking one pivot row after
// the other to every row below it. The rows below a block are independent of
// each other, so threads take them, each its own (CRowDeal); the entries
// are computed in the lanes of the vector unit (AVX2 where the processor has
// it), the same operations on each entry, so the same bits for any number of
// threads and any width.

// Entry (i, c) of the band matrix at RowEntries(s, i)[c], for |c - i| <= band.
double* RowEntries(CSimulation& s, int i) {
    const int band = s.m_nCols;
    return s.m_work.get() + static_cast<ptrdiff_t>(i) * (2 * band + 1) + band - i;
}

// Row i less its multiples of the pivot rows qa..qb-1: rows above i, within
// its band and already divided by their diagonal (qb - qa <= band). First the
// columns qa..qb-1, pivot row by pivot row, which give each pivot row's
// multiplier; then each further column takes every pivot row that reaches it
// in turn, the entry kept in a register meanwhile.
[[gnu::always_inline]] inline void TakePivotRowsBody(CSimulation& s, int i, int qa, int qb) {
    const int band = s.m_nCols;
    double* a = RowEntries(s, i);
    double& rhs = NodeState(s, i)[SLOT_FLUXCOL];
    double f[HEAD_BAND_BLOCK];
    const double* pivot[HEAD_BAND_BLOCK];
    int reach[HEAD_BAND_BLOCK];
    int n = 0;
    for (int q = qa; q < qb; ++q) {
        const double fq = -a[q];
        if (fq == 0.0)
            continue;
        const double* p = RowEntries(s, q);
        for (int c = q; c < qb; ++c)
            a[c] = a[c] + fq * p[c];
        rhs = rhs + fq * NodeState(s, q)[SLOT_FLUXCOL];
        f[n] = fq;
        pivot[n] = p;
        reach[n] = q + band;
        ++n;
    }
    if (n == 0)
        return;
    // Columns qb up to the reach of the first pivot row taken: every pivot row
    // taken reaches them.
    const int full = reach[0];
    int c = qb;
    for (; c + 8 <= full + 1; c += 8) {
        CLanes4 x0 = LoadLanes<CLanes4>(a + c, 1);
        CLanes4 x1 = LoadLanes<CLanes4>(a + c + 4, 1);
        for (int t = 0; t < n; ++t) {
            x0 = x0 + f[t] * LoadLanes<CLanes4>(pivot[t] + c, 1);
            x1 = x1 + f[t] * LoadLanes<CLanes4>(pivot[t] + c + 4, 1);
        }
        StoreLanes<CLanes4>(a + c, 1, x0);
        StoreLanes<CLanes4>(a + c + 4, 1, x1);
    }
    for (; c <= full; ++c) {
        double x = a[c];
        for (int t = 0; t < n; ++t)
            x = x + f[t] * pivot[t][c];
        a[c] = x;
    }
    // The columns beyond: the pivot rows that still reach them.
    for (; c <= reach[n - 1]; ++c) {
        double x = a[c];
        for (int t = 0; t < n; ++t)
            if (reach[t] >= c)
                x = x + f[t] * pivot[t][c];
        a[c] = x;
    }
}

void TakePivotRowsGeneric(CSimulation& s, int i, int qa, int qb) {
    TakePivotRowsBody(s, i, qa, qb);
}

#if KOVA_LANES_AVX2
KOVA_TARGET_AVX2 void TakePivotRowsAvx2(CSimulation& s, int i, int qa, int qb) {
    TakePivotRowsBody(s, i, qa, qb);
}
#endif

using CTakePivotRows = void (*)(CSimulation&, int, int, int);

CTakePivotRows WidestTakePivotRows() {
#if KOVA_LANES_AVX2
    if (ProcessorHasAvx2())
        return TakePivotRowsAvx2;
#endif
    return TakePivotRowsGeneric;
}

// Row r and its right-hand side divided by the diagonal, once every pivot row
// above has been taken from it.
void DivideByPivot(CSimulation& s, int r) {
    double* a = RowEntries(s, r);
    double& rhs = NodeState(s, r)[SLOT_FLUXCOL];
    const double p = a[r];
    for (int c = r; c <= r + s.m_nCols; ++c)
        a[c] = a[c] / p;
    rhs = rhs / p;
}

// Pivot row q reaches rows q + 1 .. q + band; row i takes the pivot rows
// p0..p1-1 that lie above it within that reach.
void TakeBlock(CTakePivotRows takePivotRows, CSimulation& s, int i, int p0, int p1) {
    const int band = s.m_nCols;
    const int qa = i - band > p0 ? i - band : p0;
    const int qb = i < p1 ? i : p1;
    if (qa < qb)
        takePivotRows(s, i, qa, qb);
}

// The block's own rows p0..p1-1, one after the other: each is a pivot row
// for the next.
void MakePivotBlock(CTakePivotRows takePivotRows, CSimulation& s, int p0, int p1) {
    for (int r = p0; r < p1; ++r) {
        TakeBlock(takePivotRows, s, r, p0, p1);
        DivideByPivot(s, r);
    }
}

// The rows of the whole matrix in runs of `run` rows, dealt to the threads in
// turn: any band rows below a block of pivot rows are shared about evenly,
// and a row stays on its thread from its first pivot block to its own, so
// its values stay in that thread's caches. A run holds whole blocks.
struct CRowDeal {
    int run;
    int threads;
    int Owner(int i) const { return (i / run) % threads; }
    int RunEnd(int i) const { return (i / run + 1) * run; } // the end of row i's run
};

// Rows p1..end-1 of thread t take the pivot rows p0..p1-1. The thread of the
// next block, p1..p2-1, then makes it a pivot block at once: it is ready
// when the threads meet, and the caller need not read its rows.
void TakeBlockOnThread(CTakePivotRows takePivotRows, CSimulation& s, const CRowDeal& deal, int t,
                       int p0, int p1, int end, int p2) {
    for (int i = p1; i < end;) {
        const int runEnd = deal.RunEnd(i) < end ? deal.RunEnd(i) : end;
        if (deal.Owner(i) == t)
            for (int r = i; r < runEnd; ++r)
                TakeBlock(takePivotRows, s, r, p0, p1);
        i = runEnd;
    }
    if (p1 < p2 && deal.Owner(p1) == t)
        MakePivotBlock(takePivotRows, s, p1, p2);
}

} // namespace

void EliminateBand(CSimulation& s) {
    static const CTakePivotRows takePivotRows = WidestTakePivotRows();
    const int band = s.m_nCols;
    const int nNodes = s.m_nNodes;
    const int block = band < HEAD_BAND_BLOCK ? band : HEAD_BAND_BLOCK;
    if (!EliminatesOnThreads(s)) {
        for (int p0 = 0; p0 < nNodes; p0 += block) {
            const int p1 = nNodes - p0 > block ? p0 + block : nNodes;
            MakePivotBlock(takePivotRows, s, p0, p1);
            const int end = nNodes - (p1 - 1) > band ? p1 + band : nNodes; // rows p1..end-1
            for (int i = p1; i < end; ++i)
                TakeBlock(takePivotRows, s, i, p0, p1);
        }
        return;
    }
    CThreadTeam& team = s.Team();
    const int each = (band + team.Size() - 1) / team.Size();
    const CRowDeal deal{(each + block - 1) / block * block, team.Size()};
    MakePivotBlock(takePivotRows, s, 0, nNodes > block ? block : nNodes);
    for (int p0 = 0; p0 < nNodes; p0 += block) {
        const int p1 = nNodes - p0 > block ? p0 + block : nNodes;
        if (p1 == nNodes)
            break;
        const int end = nNodes - (p1 - 1) > band ? p1 + band : nNodes; // rows p1..end-1
        const int p2 = nNodes - p1 > block ? p1 + block : nNodes;
        // Range t holds thread t's rows; a thread late to the job has its
        // rows taken by another, with the same operations.
        team.ForRanges(team.Size(), 1, [&](int t, int, int) {
            TakeBlockOnThread(takePivotRows, s, deal, t, p0, p1, end, p2);
        });
    }
}

// The eliminated rows have a unit diagonal; the solution goes into SLOT_FLUXROW.
// Each row subtracts its products from the right-hand side from the last
// column of its band to the first. A row's sum needs the solution of the row
// right below it only for its last product, so four rows whose bands lie
// inside the matrix sum their products alongside each other down to their
// fourth column, then finish one after the other: four chains of additions
// at once, each in its own order, so the same bits.
void BackSubstitute(CSimulation& s) {
    const int band = s.m_nCols;
    const int width = 2 * band + 1;
    const int nNodes = s.m_nNodes;
    const int nComp = s.m_nComp;
    const double* matrix = s.m_work.get();
    double* state = s.m_stateNew.get();
    auto solution = [&](int n) { return state[n * nComp + SLOT_FLUXROW]; };
    // Row r's products from column k down to column 1 taken from x.
    auto finish = [&](int r, int k, double x) {
        const double* rowR = matrix + r * width + band;
        for (; k >= 1; --k)
            x = x - solution(r + k) * rowR[k];
        state[r * nComp + SLOT_FLUXROW] = x;
    };
    int r = nNodes - 1;
    for (; r >= 0 && nNodes - r - 1 < band; --r)
        finish(r, nNodes - r - 1, state[r * nComp + SLOT_FLUXCOL]);
    const int last = band < 3 ? band : 3; // the columns each row finishes alone
    for (; r >= 3; r -= 4) {
        const double* row0 = matrix + r * width + band;
        const double* row1 = row0 - width;
        const double* row2 = row1 - width;
        const double* row3 = row2 - width;
        double x0 = state[r * nComp + SLOT_FLUXCOL];
        double x1 = state[(r - 1) * nComp + SLOT_FLUXCOL];
        double x2 = state[(r - 2) * nComp + SLOT_FLUXCOL];
        double x3 = state[(r - 3) * nComp + SLOT_FLUXCOL];
        for (int k = band; k >= 4; --k) {
            x0 = x0 - solution(r + k) * row0[k];
            x1 = x1 - solution(r - 1 + k) * row1[k];
            x2 = x2 - solution(r - 2 + k) * row2[k];
            x3 = x3 - solution(r - 3 + k) * row3[k];
        }
        finish(r, last, x0);
        finish(r - 1, last, x1);
        finish(r - 2, last, x2);
        finish(r - 3, last, x3);
    }
    for (; r >= 0; --r)
        finish(r, band, state[r * nComp + SLOT_FLUXCOL]);
}

namespace {

int FindGroup(int* parent, int x) {
    while (parent[x] != x) {
        parent[x] = parent[parent[x]];
        x = parent[x];
    }
    return x;
}

// Gauss-Seidel sweeps in place until one sweep changes the heads and source
// rates by no more than opzero. A cancel ends them early (the run then skips
// its later stages); a model that never settles is a computational error
// rather than a run that never ends.
void SweepHeads(CSimulation& s) {
    double sum = 0.0;
    for (int sweep = 1; sweep <= HEAD_MAX_SWEEPS; ++sweep) {
        if (!s.m_progress->CheckContinue())
            return;
        // Posted once a sweep: the text is the same for every node.
        s.m_progress->SetStatus("Computing Inital Heads ...");
        sum = 0.0;
        for (int i = 0; i < s.m_nRows; ++i)
            for (int j = 0; j < s.m_nCols; ++j)
                sum += RelaxNodeHead(s, i, j);
        s.m_times.m_headSweeps = sweep;
        if (!(sum > s.m_settings.m_opzero))
            return;
    }
    ThrowHeadsUnsettled(s, sum);
}

} // namespace

// A group of computed-head nodes joined by conductances that no fixed head
// reaches has no unique heads: its equations are singular, and either solve
// would fill the heads with infinities, not-a-number values or rounding
// noise. Nodes without any conductance (batch reactors) are their own group,
// held by their unit equation.
void CheckEveryGroupIsHeld(const CSimulation& s) {
    std::vector<unsigned char> coupling(ToSize(s.m_nNodes));
    for (int n = 0; n < s.m_nNodes; ++n)
        coupling[ToSize(n)] = CouplingBits(s, n);
    CheckEveryGroupIsHeld(s, coupling.data());
}

// Bit d: the d-th of the neighbours ForEachConductance visits, in its order.
unsigned char CouplingBits(const CSimulation& s, int n) {
    unsigned char bits = 0;
    ForEachConductance(s, n / s.m_nCols, n % s.m_nCols, [&](int b, double g) {
        if (g == 0.0)
            return;
        if (b == n - s.m_nCols)
            bits |= 1;
        else if (b == n + s.m_nCols)
            bits |= 2;
        else if (b == n - 1)
            bits |= 4;
        else
            bits |= 8;
    });
    return bits;
}

void CheckEveryGroupIsHeld(const CSimulation& s, const unsigned char* coupling) {
    std::vector<int> parentOwner(ToSize(s.m_nNodes));
    std::vector<char> heldOwner(ToSize(s.m_nNodes), 0);
    std::vector<char> coupledOwner(ToSize(s.m_nNodes), 0);
    int* parent = parentOwner.data();
    char* held = heldOwner.data();
    char* coupled = coupledOwner.data();
    const unsigned char* nodeType = s.m_grid.m_nodeType.get();
    for (int n = 0; n < s.m_nNodes; ++n)
        parent[n] = n;
    for (int n = 0; n < s.m_nNodes; ++n) {
        if (nodeType[n] != NODE_NORMAL)
            continue;
        const int neighbours[4] = {n - s.m_nCols, n + s.m_nCols, n - 1, n + 1};
        for (int d = 0; d < 4; ++d) {
            if (!(coupling[n] & (1 << d)))
                continue;
            const int b = neighbours[d];
            coupled[n] = 1;
            if (nodeType[b] != NODE_NORMAL)
                held[n] = 1;
            else
                parent[FindGroup(parent, n)] = FindGroup(parent, b);
        }
    }
    // A group is held when one of its nodes is: marked at the group's root.
    for (int n = 0; n < s.m_nNodes; ++n)
        if (held[n])
            held[FindGroup(parent, n)] = 1;
    for (int n = 0; n < s.m_nNodes; ++n) {
        if (nodeType[n] != NODE_NORMAL || !coupled[n] || held[FindGroup(parent, n)])
            continue;
        const int group = FindGroup(parent, n);
        int size = 0;
        for (int u = 0; u < s.m_nNodes; ++u)
            size += FindGroup(parent, u) == group ? 1 : 0;
        throw ComputeException("the heads of the " + std::to_string(size) +
                               " coupled nodes from node (" + std::to_string(n / s.m_nCols) + ", " +
                               std::to_string(n % s.m_nCols) +
                               ") on are held by no fixed head: the head equations have no "
                               "unique solution");
    }
}

// Heads and source rates that are not finite (a fixed head near the largest
// double, say) would flow into every flux and concentration.
void CheckHeadsAreFinite(const CSimulation& s) {
    CheckHeadsAreFinite(s, 0, s.m_nNodes);
}

void CheckHeadsAreFinite(const CSimulation& s, int first, int end) {
    for (int n = first; n < end; ++n) {
        const double* node = s.m_stateNew.get() + n * s.m_nComp;
        for (const auto& [slot, name] : {std::pair<int, const char*>{SLOT_HEAD, "head"},
                                         std::pair<int, const char*>{SLOT_SOURCE, "source rate"}})
            if (!std::isfinite(node[slot]))
                throw ComputeException(std::string("the initial ") + name + " of node (" +
                                       std::to_string(n / s.m_nCols) + ", " +
                                       std::to_string(n % s.m_nCols) + ") is " +
                                       ExactText(node[slot]) + ", not a finite number");
    }
}

void InitHeads(CSimulation& s) {
    s.m_progress->SetStatus("Initalizing Hydraulic Heads ...");
    SetCellWidths(s);
    ClearFluxSlots(s);
    CheckEveryGroupIsHeld(s);
    if (s.m_headSolve == EHeadSolve::SPARSE || s.m_headSolve == EHeadSolve::AMG) {
        const EHeadSolve solve = s.m_headSolve;
        try {
            SolveHeadsSparse(s);
        } catch (const std::bad_alloc&) {
            throw ComputeException(
                OutOfMemory(std::string(solve == EHeadSolve::AMG ? "the AMG" : "the sparse") +
                                " solve of the heads of " + std::to_string(s.m_nNodes) + " nodes",
                            SparseHeadSolveBytes(solve, s.m_nNodes)));
        }
    } else {
        AssembleBandMatrix(s);
        EliminateBand(s);
        BackSubstitute(s);
        const unsigned char* nodeType = s.m_grid.m_nodeType.get();
        for (int n = 0; n < s.m_nNodes; ++n) {
            if (nodeType[n] == NODE_NORMAL) {
                double* node = NodeState(s, n);
                node[SLOT_HEAD] = node[SLOT_FLUXROW];
            }
        }
    }
    ClearFluxSlots(s);
    SweepHeads(s);
    if (s.m_progress->CheckContinue())
        CheckHeadsAreFinite(s);
}

double RelaxNodeHead(CSimulation& s, int i, int j) {
    const int n = i * s.m_nCols + j;
    double* node = NodeState(s, n);
    const CNodeView slots(node);
    if (slots.KRow() == 0.0)
        return 0.0;

    const double* state = s.m_stateNew.get();
    double total = 0.0;
    double weighted = 0.0;
    ForEachConductance(s, i, j, [&](int b, double g) {
        total += g;
        weighted += g * NodeOf(state, s.m_nComp, b).Head();
    });

    const unsigned char type = s.m_grid.m_nodeType.get()[n];
    if (type == NODE_NORMAL) {
        if (total == 0.0)
            return 0.0;
        const double head = (weighted + VolumeSource(s, i, j, slots)) / total;
        const double old = node[SLOT_HEAD];
        node[SLOT_HEAD] = head;
        return std::fabs(old - head);
    }
    if (type == NODE_HEAD) {
        // The source rate per unit pore volume that balances the flow out.
        const double area = s.m_grid.m_rowWidth.get()[i] * s.m_grid.m_colWidth.get()[j];
        const double rate = (total * slots.Head() - weighted) / (slots.Porosity() * area);
        const double old = node[SLOT_SOURCE];
        node[SLOT_SOURCE] = rate;
        return std::fabs(old - rate);
    }

    const std::string detail = "node (" + std::to_string(i) + ", " + std::to_string(j) +
                               ") has type " + std::to_string(type) +
                               ", neither NODE_NORMAL nor NODE_HEAD";
    if (CMessageSink* sink = s.m_progress->GetMessageSink())
        sink->ShowMessage(HEAD_GUARD_CAPTION, HEAD_GUARD_TEXT, detail.c_str());
    throw Exception(detail);
}

void ThrowHeadsUnsettled(const CSimulation& s, double sum) {
    char detail[400];
    int length = std::snprintf(detail, sizeof detail,
                               "initial heads did not settle in %d sweeps: last change sum %.17g "
                               "above opzero %.17g",
                               HEAD_MAX_SWEEPS, sum, s.m_settings.m_opzero);
    // The AMG solve before them stops on a residual, the sweeps on their
    // changes: say which of the two held the heads settled.
    if (s.m_headSolve == EHeadSolve::AMG && length > 0) {
        const double residual = s.m_times.m_headResidual;
        const int iterations = s.m_times.m_headIterations;
        const size_t used = static_cast<size_t>(length);
        if (residual <= HEAD_AMG_RESIDUAL)
            std::snprintf(detail + used, sizeof detail - used,
                          ", though the AMG solve before them had settled the heads to a relative "
                          "residual of %.3g (its target %.0e) in %d iterations",
                          residual, HEAD_AMG_RESIDUAL, iterations);
        else
            std::snprintf(detail + used, sizeof detail - used,
                          "; nor had the AMG solve before them settled the heads: it stopped at a "
                          "relative residual of %.3g after %d iterations, above its %.0e",
                          residual, iterations, HEAD_AMG_RESIDUAL);
    }
    throw ComputeException(detail);
}
