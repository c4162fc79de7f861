#include "flow/heads.h"

#include "flow/head_terms.h"
#include "flow/lanes.h"
#include "flow/sparse_heads.h"
#include "model/exceptions.h"
#include "model/index.h"
#include "model/limits.h"
#include "model/number_text.h"
#include "model/simulation.h"
#include "run/message_sink.h"
#include "run/run_control.h"
#include "run/thread_team.h"

#include <cmath>
#include <cstdio>
#include <new>
#include <string>
#include <utility>
#include <vector>

void ComputeCellWidths(double* widths, const double* coords, int count) {
    if (count < 1)
        return;
    if (count == 1) {
        widths[0] = 1.0;
        return;
    }
    // Edge cells reach the full distance to their one neighbour.
    widths[0] = coords[1] - coords[0];
    widths[count - 1] = coords[count - 1] - coords[count - 2];
    for (int k = 1; k < count - 1; ++k)
        widths[k] = (coords[k + 1] - coords[k - 1]) * 0.5;
}

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

// One row per node: a fixed head is its own equation; a computed head balances
// the conductances to its neighbours against the node's volume source. The
// right-hand side goes into SLOT_FLUXCOL.
void AssembleBandMatrix(CSimulation& s) {
    const int band = s.m_nCols;
    const int width = 2 * band + 1;
    const unsigned char* nodeType = s.m_nodeType.get();
    for (int n = 0; n < s.m_nNodes; ++n) {
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
            node[SLOT_FLUXCOL] = -VolumeSource(s, i, j, node);
        }
    }
}

// Gaussian elimination without pivoting inside the band. Rows whose
// multiplier is 0 are skipped: most of the band below a row is empty.
// The rows below a pivot row are independent of each other, so threads take
// ranges of them, and each row's entries are computed in the lanes of the
// vector unit (AVX2 where the processor has it): the same operations on
// each entry in the same order, so the same bits for any number of threads
// and any width.

// Rows r + k, k in kBegin..kEnd-1, less their multiple of the eliminated
// row r.
[[gnu::always_inline]] inline void EliminateRowsBody(CSimulation& s, int r, int kBegin,
                                                     int kEnd) {
    const int band = s.m_nCols;
    const int width = 2 * band + 1;
    double* matrix = s.m_work.get();
    const double* rowR = matrix + r * width + band; // (r, r) on
    const double rhsR = NodeState(s, r)[SLOT_FLUXCOL];
    for (int k = kBegin; k < kEnd; ++k) {
        double* rowK = matrix + (r + k) * width + band - k; // (r+k, r) on
        const double f = -rowK[0];
        if (f != 0.0) {
            for (int c = 0; c <= band; ++c)
                rowK[c] = rowK[c] + f * rowR[c];
            double* rhsK = NodeState(s, r + k) + SLOT_FLUXCOL;
            *rhsK = *rhsK + f * rhsR;
        }
    }
}

void EliminateRowsGeneric(CSimulation& s, int r, int kBegin, int kEnd) {
    EliminateRowsBody(s, r, kBegin, kEnd);
}

#if KOVA_LANES_AVX2
KOVA_TARGET_AVX2 void EliminateRowsAvx2(CSimulation& s, int r, int kBegin, int kEnd) {
    EliminateRowsBody(s, r, kBegin, kEnd);
}
#endif

using CEliminateRows = void (*)(CSimulation&, int, int, int);

CEliminateRows WidestEliminateRows() {
#if KOVA_LANES_AVX2
    if (ProcessorHasAvx2())
        return EliminateRowsAvx2;
#endif
    return EliminateRowsGeneric;
}

void EliminateBand(CSimulation& s) {
    static const CEliminateRows eliminateRows = WidestEliminateRows();
    const int band = s.m_nCols;
    const int width = 2 * band + 1;
    const int nNodes = s.m_nNodes;
    double* matrix = s.m_work.get();
    const bool threads = s.m_nThreads > 1 && band >= HEAD_BAND_THREADS_MIN_WIDTH;
    for (int r = 0; r < nNodes; ++r) {
        double* rowR = matrix + r * width; // (r, c) at band + c - r
        double* rhsR = NodeState(s, r) + SLOT_FLUXCOL;
        const double p = rowR[band];
        for (int c = 0; c <= band; ++c)
            rowR[band + c] = rowR[band + c] / p;
        *rhsR = *rhsR / p;

        const int m = band + 1 < nNodes - r ? band + 1 : nNodes - r;
        if (!threads) {
            eliminateRows(s, r, 1, m);
            continue;
        }
        CThreadTeam& team = s.Team();
        const int rows = m - 1;
        const int each = (rows + team.Size() - 1) / team.Size();
        team.ForRanges(rows, each, [&](int begin, int end, int) {
            eliminateRows(s, r, 1 + begin, 1 + end);
        });
    }
}

// The eliminated rows have a unit diagonal; the solution goes into SLOT_FLUXROW.
void BackSubstitute(CSimulation& s) {
    const int band = s.m_nCols;
    const int width = 2 * band + 1;
    const int nNodes = s.m_nNodes;
    const int nComp = s.m_nComp;
    const double* matrix = s.m_work.get();
    double* state = s.m_stateNew.get();
    for (int r = nNodes - 1; r >= 0; --r) {
        const double* rowR = matrix + r * width;
        const int m = band < nNodes - r - 1 ? band : nNodes - r - 1;
        double x = state[r * nComp + SLOT_FLUXCOL];
        for (int k = m; k >= 1; --k)
            x = x - state[(r + k) * nComp + SLOT_FLUXROW] * rowR[band + k];
        state[r * nComp + SLOT_FLUXROW] = x;
    }
}

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
        if (!s.m_runControl->CheckContinue())
            return;
        // Posted once a sweep: the text is the same for every node.
        s.m_runControl->SetStatus("Computing Inital Heads ...");
        sum = 0.0;
        for (int i = 0; i < s.m_nRows; ++i)
            for (int j = 0; j < s.m_nCols; ++j)
                sum += RelaxNodeHead(s, i, j);
        if (!(sum > s.m_opzero))
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
    const unsigned char* nodeType = s.m_nodeType.get();
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
void CheckHeadsAreFinite(const CSimulation& s) { CheckHeadsAreFinite(s, 0, s.m_nNodes); }

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
    s.m_runControl->SetStatus("Initalizing Hydraulic Heads ...");
    ComputeCellWidths(s.m_rowWidth.get(), s.m_rowCoord.get(), s.m_nRows);
    ComputeCellWidths(s.m_colWidth.get(), s.m_colCoord.get(), s.m_nCols);
    ClearFluxSlots(s);
    CheckEveryGroupIsHeld(s);
    if (s.m_headSolve == EHeadSolve::SPARSE) {
        try {
            SolveHeadsSparse(s);
        } catch (const std::bad_alloc&) {
            throw ComputeException(OutOfMemory("the sparse solve of the heads of " +
                                                   std::to_string(s.m_nNodes) + " nodes",
                                               SparseHeadSolveBytes(s.m_nNodes)));
        }
    } else {
        AssembleBandMatrix(s);
        EliminateBand(s);
        BackSubstitute(s);
        const unsigned char* nodeType = s.m_nodeType.get();
        for (int n = 0; n < s.m_nNodes; ++n) {
            if (nodeType[n] == NODE_NORMAL) {
                double* node = NodeState(s, n);
                node[SLOT_HEAD] = node[SLOT_FLUXROW];
            }
        }
    }
    ClearFluxSlots(s);
    SweepHeads(s);
    if (s.m_runControl->CheckContinue())
        CheckHeadsAreFinite(s);
}

double RelaxNodeHead(CSimulation& s, int i, int j) {
    const int n = i * s.m_nCols + j;
    double* node = NodeState(s, n);
    if (node[SLOT_KROW] == 0.0)
        return 0.0;

    const double* state = s.m_stateNew.get();
    double total = 0.0;
    double weighted = 0.0;
    ForEachConductance(s, i, j, [&](int b, double g) {
        total += g;
        weighted += g * state[b * s.m_nComp + SLOT_HEAD];
    });

    const unsigned char type = s.m_nodeType.get()[n];
    if (type == NODE_NORMAL) {
        if (total == 0.0)
            return 0.0;
        const double head = (weighted + VolumeSource(s, i, j, node)) / total;
        const double old = node[SLOT_HEAD];
        node[SLOT_HEAD] = head;
        return std::fabs(old - head);
    }
    if (type == NODE_HEAD) {
        // The source rate per unit pore volume that balances the flow out.
        const double area = s.m_rowWidth.get()[i] * s.m_colWidth.get()[j];
        const double rate = (total * node[SLOT_HEAD] - weighted) / (node[SLOT_POROSITY] * area);
        const double old = node[SLOT_SOURCE];
        node[SLOT_SOURCE] = rate;
        return std::fabs(old - rate);
    }

    const std::string detail = "node (" + std::to_string(i) + ", " + std::to_string(j) +
                               ") has type " + std::to_string(type) +
                               ", neither NODE_NORMAL nor NODE_HEAD";
    if (CMessageSink* sink = s.m_runControl->GetMessageSink())
        sink->ShowMessage(HEAD_GUARD_CAPTION, HEAD_GUARD_TEXT, detail.c_str());
    throw Exception(detail);
}

void ThrowHeadsUnsettled(const CSimulation& s, double sum) {
    char detail[160];
    std::snprintf(detail, sizeof detail,
                  "initial heads did not settle in %d sweeps: last change sum %.17g above opzero "
                  "%.17g",
                  HEAD_MAX_SWEEPS, sum, s.m_opzero);
    throw ComputeException(detail);
}
