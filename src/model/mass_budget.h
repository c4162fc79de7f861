// The mass budget of a run: for every immobile and mobile entry, the mass in
// storage at each record and every change the run made to it between two
// records, each term summed from what was applied:
//
//   storage   sum over nodes of value x porosity x cell area x thickness
//   sources   what injected water brought in at positive sources (only for
//             the entries an [[inject]] table names)
//   sinks     what water leaving at negative sources took along
//   transport the net change by the face fluxes (zero up to rounding on a
//             grid that is closed at its edges)
//   porosity  the change of mass a reaction made by changing the porosity
//   reaction  one term per reaction record that may change the entry, from
//             the changes it applied in accepted local steps only
//
// The discrepancy is storage_end - storage_start - (sum of the changes): a
// check of the sums, never a term of its own.
//
// Every change is weighted by its node's porosity at the start of the global
// step, cell area and thickness, summed node by node within chunks of
// RXN_NODE_CHUNK nodes and the chunk sums added without rounding, so the
// budget has the same bits for every number of threads.
#pragma once

#include "model/exact_sum.h"
#include "model/node_array.h"

#include <string>
#include <utility>
#include <vector>

enum class EBudgetTerm { SOURCES, SINKS, TRANSPORT, POROSITY, REACTION };

// One change term of one entry.
struct CBudgetTerm {
    int m_entry = 0;    // state index
    std::string m_name; // "sources", "sinks", "transport", "porosity", "reaction 3 CLinAssign"
    EBudgetTerm m_kind = EBudgetTerm::REACTION;
};

// A reaction's change of one entry at the nodes of one reaction set: the
// amounts in the ledger's row times the change per amount.
struct CBudgetSlot {
    int m_term = 0;
    int m_row = 0;
    double m_change = 0.0;
};

// The steady water balance, volume rates.
struct CWaterBudget {
    double m_fixedHeadIn = 0.0;  // into the grid at fixed-head nodes (> 0)
    double m_fixedHeadOut = 0.0; // out of the grid at fixed-head nodes (< 0)
    double m_sources = 0.0;      // at the other nodes, positive sources
    double m_sinks = 0.0;        // at the other nodes, negative sources
    double m_discrepancy = 0.0;  // the sum of all four: zero for a balanced field
};

struct CMassBudget {
    // --- layout, fixed before the time loop
    int m_nTerms = 0;
    std::vector<CBudgetTerm> m_terms; // entry by entry, in state order
    std::vector<int> m_sourceTerm;    // per state index: term, or -1
    std::vector<int> m_injectColumn;  // per state index: its place in CInjection::m_entries, or -1
    std::vector<int> m_sinkTerm;      // per state index: term, or -1
    std::vector<int> m_transportTerm; // per state index: term, or -1
    std::vector<int> m_porosityTerm;  // per state index: term, or -1
    // Per reaction set: each entry its reactions change, as the term, the
    // reaction's row in the set's ledger and the change per amount.
    std::vector<std::vector<CBudgetSlot>> m_setSlots;
    // Per reaction set: how many rows of its ledger the budget sums (0 when
    // its reactions change no entry of the budget).
    std::vector<int> m_setRows;
    int m_nRows = 0;                 // rows of the largest set: one per reaction
    bool m_porosity = false;         // a reaction may change a porosity
    bool m_sourcesMayChange = false; // a reaction may change a source
    CNodeArray<double> m_volume;     // per node: cell area x thickness (the held nodes)
    // When no porosity changes, per node: porosity x volume (the held nodes).
    CNodeArray<double> m_weight;
    std::vector<int> m_sinks; // when no source changes: the held nodes with a negative one
    // The held nodes whose reaction set is not the one of the node before,
    // ascending: a chunk without one has the nodes of one set.
    std::vector<int> m_setChanges;

    // --- sums of the interval in progress
    int m_nThreads = 0;
    std::vector<double> m_chunk; // per thread, m_nTerms: the chunk in progress
    // Per thread, the chunk in progress: the amounts of its nodes, row by
    // row (m_nRows rows of RXN_LEDGER_STRIDE, at least one), a set's rows
    // summed over its nodes (m_nRows), each mobile entry's transport change
    // summed.
    std::vector<double> m_amounts;
    std::vector<CExactSum> m_sums;        // per thread, m_nTerms: the interval's sums
    std::vector<CExactSum> m_storageSums; // per state index, for the storage at a record
    std::vector<double> m_storageChunk;   // per state index, the chunk in progress

    // --- the last closed interval, which the budget file writes
    double m_timeStart = 0.0;
    double m_timeEnd = 0.0;
    std::vector<double> m_storageStart; // per state index
    std::vector<double> m_storageEnd;   // per state index
    std::vector<double> m_change;       // per term
    std::vector<double> m_discrepancy;  // per state index
    int m_intervals = 0;                // intervals closed so far
    bool m_started = false;             // the first record has set the storage

    CWaterBudget m_water;
};
