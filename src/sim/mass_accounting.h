// The mass budget's bookkeeping in the time loop (the terms are described in
// model/mass_budget.h): the terms made once, the changes of every node added
// after its integration, and an interval closed at every record.
#pragma once

#include "model/limits.h"
#include "model/mass_budget.h"
#include "model/rxn_work.h"

#include <vector>

class CSimulation;
struct CInjection;

// Makes s.m_budget (when s.m_writeBudget), its terms and the ledgers of the
// reaction works, and the water balance of the steady flow field. After the
// flow field and the works are made.
void PrepareBudget(CSimulation& s);
// The steady flow's volume rates at the nodes first..end-1, split as the
// budget reports them.
CWaterBudget WaterBalanceOf(const CSimulation& s, int first, int end);

// What the changes of the nodes of one chunk are added with: the thread's
// chunk sums and the model's arrays, gathered once a chunk, for a loop that
// runs once per node and global step.
// Copies of the sums a chunk's nodes add to in turn.
constexpr int BUDGET_LANES = 4;

struct CBudgetChunk {
    // Before the nodes begin..end-1 of a chunk are integrated: the thread's
    // sums and the model's arrays, and for each node its weight (its pore
    // volume at the start of the step) and where its reactions' amounts go:
    // its set's sums, in a copy of them that consecutive nodes take in turn,
    // so that an addition need not wait for the one before.
    void Open(CSimulation& s, int thread, int begin, int end);
    // The weights, the sums each node's amounts go to and the sinks of the
    // nodes begin..end-1.
    void PlanNodes(int begin, int end);
    // Before node n is integrated.
    void StartNode(int n, CRxnWork& work) const {
        work.m_ledgerSums = m_target[n - m_begin];
        work.m_ledgerWeight = m_w[n - m_begin];
    }
    // After node n is integrated, its local steps having covered elapsed:
    // the transport change was applied as a rate over those steps, which may
    // end past the global step (the steps are added in floating point until
    // they reach it), so its terms take that share of the change. And a
    // reaction that changed the porosity changed the mass of what is left.
    void EndNode(int n, double elapsed) {
        if (elapsed != m_dt) {
            m_shareNode[m_nShares] = n;
            m_share[m_nShares++] = elapsed / m_dt;
        }
        if (!m_porosity)
            return;
        const int offset = n * m_nComp;
        const double porosity = m_state[offset + SLOT_POROSITY];
        const double porosityAfter = m_stateNew[offset + SLOT_POROSITY];
        if (porosityAfter != porosity)
            AddPorosityChange(m_stateNew + offset, porosityAfter - porosity, m_volume[n]);
    }
    // After the chunk's nodes: the reactions' terms from the sets' sums.
    void AddReactions();
    void AddPorosityChange(const double* after, double change, double volume) const;
    // Adds the transport, sink and injection changes of the nodes
    // begin..end-1 (at most RXN_NODE_CHUNK) to the sums, entry by entry (the
    // transport change includes what the sinks took and what injected water
    // brought, computed as the transport step computed them).
    void AddTransport(int begin, int end);
    // What injected water brought entry k at the injected nodes first..last-1
    // of the chunk from node begin, weighted with w (per node of the chunk).
    double InjectedMass(int k, size_t first, size_t last, int begin, const double* w) const;

    double* m_sums = nullptr; // borrowed from the budget: the thread's chunk sums
    // Borrowed from the budget and the model; not freed here.
    const double* m_volume = nullptr;
    const int* m_sourceTerm = nullptr;
    const int* m_injectColumn = nullptr;
    const CInjection* m_inject = nullptr; // the model's injected nodes
    const int* m_sinkTerm = nullptr;
    const int* m_transportTerm = nullptr;
    const int* m_porosityTerm = nullptr;
    const std::vector<CBudgetSlot>* m_setSlots = nullptr;
    const int* m_setRowStart = nullptr; // -1: the set keeps no ledger
    const int* m_setRows = nullptr;
    double* m_rowSums = nullptr; // the thread's BUDGET_LANES copies, borrowed from the budget
    unsigned char* m_setMet = nullptr;    // the thread's, borrowed from the budget
    int* m_setsMet = nullptr;             // the thread's, borrowed from the budget
    int m_nSetsMet = 0;
    int m_nRows = 0;
    bool m_porosity = false;
    const unsigned char* m_nodeSet = nullptr;
    const double* m_state = nullptr;
    const double* m_stateNew = nullptr;
    const double* m_transport = nullptr;
    int m_nComp = 0;
    int m_firstMobile = 0;
    double m_dt = 0.0;
    bool m_sinkAtEnd = false; // the sinks take the transported value (implicit step)
    // The few nodes whose local steps did not end on the global step, and
    // the share of it they covered; every other node covered it exactly.
    int m_nShares = 0;
    int m_shareNode[RXN_NODE_CHUNK];
    double m_share[RXN_NODE_CHUNK];
    // The chunk's first node; each node's weight (porosity at the start of
    // the step times cell volume) and the sums its reactions' amounts go to
    // (null: its set keeps no ledger).
    int m_begin = 0;
    double m_w[RXN_NODE_CHUNK];
    double* m_target[RXN_NODE_CHUNK];
    // The chunk's nodes with a negative source (sinks), as indices in it.
    int m_nSinks = 0;
    int m_sinkNodes[RXN_NODE_CHUNK];
};

// Adds the chunk sums of thread to its interval sums, exactly, and clears them.
void EndNodeChunk(CSimulation& s, int thread);

// At every record: the first sets the storage at the start; each later one
// closes the interval since the previous record (storage at its end, the
// sums of the changes, the discrepancy) for the budget file to write.
void RecordBudget(CSimulation& s);
// The storage of the nodes first..end-1 added to the budget's storage sums
// (first a multiple of RXN_NODE_CHUNK: the chunks of a one-process run, so
// the sums of consecutive ranges are the sum of the whole grid, bit for bit).
void AddStorage(CSimulation& s, int first, int end);
// RecordBudget once the storage sums hold every node's storage (added over
// several processes).
void RecordBudgetFromStorageSums(CSimulation& s);
