// The model of one run: times, grid, per-node state, transport parameters,
// each node's reaction set and per-node local-step control.
//
// The ground floor of the engine: the reader (io/reader.h) fills the fields,
// the heads and flow field (heads/), the transport (transport/), the
// reactions and their local integration (rxn/) and the output files (io/)
// work on them in place, and the run sequence (sim/) calls those in order.
// The model calls none of them. Each public field has one writer floor
// (scripts/check-layers.py checks it). What it holds is owned here:
// FreeArrays releases the node arrays, the thread team and the transport
// work at the end of a run; the mass budget goes with the model (the
// destructor). The reactions and their sets are a CReactions (rxn/) of
// whoever runs the model; the transport's form, with the implicit step's
// systems, belongs to whoever chose it (CTransportChoice). A node's vector
// is read by its slots' names through model/node_view.h.
#pragma once

#include "model/extension.h"
#include "model/grid.h"
#include "model/index.h"
#include "model/limits.h"
#include "model/mass_budget.h"
#include "model/node_array.h"
#include "model/phase_times.h"
#include "model/run_parts.h"
#include "model/transport_work.h"
#include "run/run_settings.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class CRunProgress;
class CThreadTeam;
class CTransportScheme;

// The nodes first..end-1.
struct CNodeRange {
    int m_first = 0;
    int m_end = 0;
};

// Node and value offsets are int; AllocateArrays checks every count and
// product fits (nodes, values = nodes x entries, the dispersion coefficients,
// the work buffer with the head band), so an offset such as n * m_nComp + k is
// computed in int and cannot overflow. Where a standard container or an
// allocation takes a size, the count goes through ToSize (model/index.h).

class CSimulation {
public:
    explicit CSimulation(CRunProgress* progress);
    ~CSimulation();
    CSimulation(const CSimulation&) = delete;
    CSimulation& operator=(const CSimulation&) = delete;

    // Storage, sized from the counts of the header (the hydraulic slots are
    // always SLOT_COUNT). AllocateArrays returns 0 (and does nothing) after a
    // cancel; the reader creates the reaction sets after it.
    int AllocateArrays();
    void FreeArrays();

    // Takes the threads and the results to keep from the run's settings.
    void UseSettings(const CRunSettings& settings);

    // --- settings (model file, options) and the run's clock (model/run_parts.h)
    CModelSettings m_settings;
    CRunClock m_clock;

    // --- grid
    CGrid m_grid;

    // --- state and transport
    CNodeArray<double> m_dispCoef;      // 3 per (node, mobile component)
    CNodeArray<double> m_work;          // head band matrix, later m_state + m_transportDelta
    double* m_state = nullptr;          // borrowed: first m_nValues doubles of m_work
    double* m_transportDelta = nullptr; // borrowed: m_work + m_nValues
    CNodeArray<double> m_stateNew;
    CNodeArray<double> m_dispersivityL;
    CNodeArray<double> m_dispersivityT;
    CNodeArray<double> m_diffusion;
    CNodeArray<unsigned char> m_nodeRxnSet;

    // The nodes whose state the process holds: m_heldFirst..m_heldEnd-1.
    // The reader stores and checks the state of these nodes only. Every node,
    // unless m_holdOnRead says otherwise once the grid's size is known: a rank
    // of a run over several processes holds its rows and their halo, or none
    // until rank 0 sends them.
    std::function<CNodeRange(int rows, int cols)> m_holdOnRead;
    int m_heldFirst = 0;
    int m_heldEnd = 0;
    bool Holds(int node) const { return m_heldFirst <= node && node < m_heldEnd; }
    bool HoldsEveryNode() const { return m_heldFirst == 0 && m_heldEnd == m_nNodes; }
    // Makes the nodes first..end-1 the held ones, each at a full local step.
    void HoldNodes(int first, int end);

    // --- counts
    int m_nRows = 0;
    int m_nCols = 0;
    int m_nImmobile = 0;
    int m_nMobile = 0;
    int m_nComp = 0;
    int m_nNodes = 0;
    int m_nValues = 0;
    int m_nDispCoef = 0;
    int m_nRxn = 0;
    int m_nRxnSets = 0;
    int m_workSize = 0;
    int m_currentNode = 0; // node being integrated; kept by the one-thread path only

    // The team of m_nThreads threads, started on first use (the time loop
    // starts it before its first step).
    CThreadTeam& Team();
    // The first node of thread t's share of the nodes (t = 0..m_nThreads):
    // whole chunks of RXN_NODE_CHUNK, as the reactions' ranges are dealt.
    // The jobs over nodes, rows or values split alike, so that a thread keeps
    // the same nodes from job to job.
    int NodeShareStart(int t) const;

    // --- threads, head solve, timings
    int m_nThreads = 1; // 1: the serial loops, no other thread
    std::unique_ptr<CThreadTeam> m_team;
    CTransportWork m_transportWork;
    // The transport's form for the run: borrowed from a CTransportChoice
    // (transport/transport_schemes.h) while one lives; not freed here.
    CTransportScheme* m_transport = nullptr;
    // It; a model without one is asked to step by mistake (Exception).
    CTransportScheme& Transport() const;
    EHeadSolve m_headSolve = EHeadSolve::NONE; // chosen by AllocateArrays
    CPhaseTimes m_times;

    // --- local-step control, per node
    CNodeArray<double> m_localFraction;
    CNodeArray<int> m_localHold;

    // --- what the extension file adds (names, units, thickness, wells), and
    // whether the run writes its mass budget
    CExtension m_ext;
    std::unique_ptr<CMassBudget> m_budget; // made before the time loop when kept

    // Per reaction set and mobile entry: the set's equilibria hold the entry
    // at a constant (made by the reader; empty: none does).
    std::vector<unsigned char> m_setHoldsMobile;

    // --- run control (the reactions and their sets are a CReactions of
    // rxn/reactions.h, owned by whoever runs the model)
    CRunProgress* m_progress = nullptr; // borrowed from the run control; not freed here
};

// Bytes the sparse or AMG solve of the initial heads takes at its peak, about,
// for a grid of the given nodes.
double SparseHeadSolveBytes(EHeadSolve solve, int64_t nodes);

// The detail of a failed allocation: what it was for and its size in MiB.
std::string OutOfMemory(const std::string& what, double bytes);
