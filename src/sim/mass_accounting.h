// The mass budget's bookkeeping in the time loop (the terms are described in
// model/mass_budget.h): the terms made once, the changes of every node added
// after its integration, and an interval closed at every record.
#pragma once

#include "model/limits.h"
#include "model/mass_budget.h"
#include "model/node_view.h"
#include "rxn/rxn_work.h"

#include <vector>

class CSimulation;
struct CReactions;
struct CInjection;

// Makes s.m_budget (when s.m_settings.m_writeBudget), its terms and the ledgers of the
// reaction works, and the water balance of the steady flow field. After the
// flow field and the works are made.
void PrepareBudget(CSimulation& s, CReactions& rx);
// The steady flow's volume rates at the nodes first..end-1, split as the
// budget reports them.
CWaterBudget WaterBalanceOf(const CSimulation& s, int first, int end);

// What the changes of the nodes of one chunk are added with: the thread's
// chunk sums and the model's arrays, gathered once a chunk, for a loop that
// runs once per node and global step.
struct CBudgetChunk {
    // Before the nodes begin..end-1 of a chunk are integrated: the thread's
    // sums and the model's arrays.
    void Open(CSimulation& s, const CReactions& rx, int thread, int begin, int end);
    // Where the reactions' amounts of node n go (CRxnWork::m_ledgerPass);
    // the next node's column follows. None when the chunk's nodes have one
    // set whose reactions change no entry of the budget.
    double* Column(int n) const { return KeepsLedger() ? m_amounts + (n - m_begin) : nullptr; }
    bool KeepsLedger() const { return m_oneSet < 0 || m_setRows[m_oneSet] > 0; }
    // After node n is integrated, its local steps having covered elapsed:
    // the transport change was applied as a rate over those steps, which may
    // end past the global step (the steps are added in floating point until
    // they reach it), so its terms take that share of the change.
    void EndNode(int n, double elapsed) {
        if (elapsed != m_dt) {
            m_shareNode[m_nShares] = n;
            m_share[m_nShares++] = elapsed / m_dt;
        }
    }
    // Then, when a reaction may change a porosity: one that did changed the
    // mass of what is left.
    void EndNodePorosity(int n) {
        const int offset = n * m_nComp;
        const double porosity = NodeAt(m_state, offset).Porosity();
        const double porosityAfter = NodeAt(m_stateNew, offset).Porosity();
        if (porosityAfter != porosity)
            AddPorosityChange(m_stateNew + offset, porosityAfter - porosity, m_volume[n]);
    }
    // After the chunk's nodes: each node's weight (its pore volume at the
    // start of the step), the sinks, and the transport changes weighted and
    // summed. (A pass over the nodes before their integration waited for
    // memory: 2 to 3% of a run for 1% of its instructions.)
    void SumNodes();
    void WeighNodes();
    // Then the reactions' terms, from each set's amounts weighted and summed
    // over its nodes.
    void AddReactions();
    // The rows of set summed over its nodes of the chunk, times each node's
    // weight, into m_rowAmounts; every node of the chunk is in set when
    // !mixed.
    void SumSetRows(int set, bool mixed);
    void AddPorosityChange(const double* after, double change, double volume) const;
    // Then adds the transport, sink and injection changes of the chunk's
    // nodes to the sums, entry by entry (the transport change includes what
    // the sinks took and what injected water brought, computed as the
    // transport step computed them).
    void AddTransport();
    // What injected water brought entry k at the injected nodes first..last-1
    // of the chunk from node begin, weighted with w (per node of the chunk).
    double InjectedMass(int k, size_t first, size_t last, int begin, const double* w) const;

    double* m_sums = nullptr; // borrowed from the budget: the thread's chunk sums
    // Borrowed from the budget and the model; not freed here.
    const double* m_volume = nullptr;
    const double* m_fixedWeight = nullptr;          // per node; null when porosities change
    const std::vector<int>* m_fixedSinks = nullptr; // null when sources change
    const int* m_sourceTerm = nullptr;
    const int* m_injectColumn = nullptr;
    const CInjection* m_inject = nullptr; // the model's injected nodes
    const int* m_sinkTerm = nullptr;
    const int* m_transportTerm = nullptr;
    const int* m_porosityTerm = nullptr;
    const std::vector<CBudgetSlot>* m_setSlots = nullptr;
    const int* m_setRows = nullptr;
    // The thread's, borrowed from the budget: the amounts of the chunk's
    // nodes, row r of node i at m_amounts[r * RXN_LEDGER_STRIDE + i], and a
    // set's rows summed.
    double* m_amounts = nullptr;
    double* m_rowAmounts = nullptr;
    double* m_transportSum = nullptr; // per mobile entry, the chunk's
    bool m_porosity = false;
    const unsigned char* m_nodeSet = nullptr;
    int m_oneSet = -1; // the set of every node of the chunk; -1: several
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
    // The chunk's first node and node count (at most RXN_NODE_CHUNK); each
    // node's weight (porosity at the start of the step times cell volume).
    int m_begin = 0;
    int m_count = 0;
    const double* m_weights = nullptr; // the chunk's: m_w or the fixed weights
    double m_w[RXN_NODE_CHUNK];
    // The weight times the node's share of the step: m_weights when every
    // node covered the step exactly, else m_wt.
    const double* m_transportWeights = nullptr;
    double m_wt[RXN_NODE_CHUNK];
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
