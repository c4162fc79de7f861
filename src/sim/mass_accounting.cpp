#include "sim/mass_accounting.h"

#include "model/exceptions.h"
#include "model/index.h"
#include "model/limits.h"
#include "model/node_view.h"
#include "model/simulation.h"
#include "model/transport_scheme.h"
#include "rxn/reactions.h"
#include "rxn/rxn.h"
#include "rxn/rxn_description.h"
#include "rxn/rxn_set.h"
#include "rxn/rxn_work.h"
#include "sim/chunk_sums.h"

#include <algorithm>
#include <climits>
#include <memory>
#include <new>
#include <string>

namespace {

// "reaction 3 decay_TCE" for a named reaction, "reaction 3 COrdered" else;
// the record number keeps two reactions of one type apart.
std::string ReactionTermName(const CSimulation& s, const CReactions& rx, int record) {
    const std::vector<std::string>& names = s.m_ext.m_reactionNames;
    if (!names.empty())
        return "reaction " + std::to_string(record) + " " + names[ToSize(record)];
    CRxnDescription d;
    rx.m_rxns[ToSize(record)]->Describe(d);
    return "reaction " + std::to_string(record) + " " + d.TypeName();
}

// Whether some reaction of a set some node uses may change the slot.
bool SlotMayChange(const CReactions& rx, const std::vector<bool>& setUsed, int slot) {
    for (size_t set = 0; set < rx.m_sets.size(); ++set) {
        if (!setUsed[set])
            continue;
        const CRxnSet& rs = *rx.m_sets[set];
        for (int row = 0; row < rs.m_nKinetic + rs.m_nEqui; ++row)
            if (rs.LedgerReaction(row)->ChangePerAmount(slot, row >= rs.m_nKinetic) != 0.0)
                return true;
    }
    return false;
}

// The terms, entry by entry, each entry's reaction terms in record order;
// rxnTerm[record x nComp + k] is the term of a reaction record's change of
// entry k, made for every entry a used set's slot changes.
void MakeTerms(const CSimulation& s, const CReactions& rx, CMassBudget& b,
               std::vector<int>& rxnTerm) {
    std::vector<bool> setUsed(rx.m_sets.size(), false);
    for (int n = 0; n < s.m_nNodes; ++n)
        setUsed[s.m_nodeRxnSet[ToSize(n)]] = true;
    const size_t nComp = ToSize(s.m_nComp);
    std::vector<bool> changes(rx.m_rxns.size() * nComp, false);
    for (size_t set = 0; set < rx.m_sets.size(); ++set)
        if (setUsed[set])
            for (const CRxnSet::CLedgerSlot& slot : rx.m_sets[set]->m_ledgerSlots) {
                const int record = rx.IndexOf(rx.m_sets[set]->LedgerReaction(slot.m_row));
                changes[ToSize(record) * nComp + ToSize(slot.m_entry)] = true;
            }
    const bool porosity = SlotMayChange(rx, setUsed, SLOT_POROSITY);
    b.m_porosity = porosity;
    b.m_sourcesMayChange = SlotMayChange(rx, setUsed, SLOT_SOURCE);
    const int firstMobile = s.m_nComp - s.m_nMobile;
    b.m_sourceTerm.assign(nComp, -1);
    b.m_injectColumn.assign(nComp, -1);
    for (int k = SLOT_COUNT; k < s.m_nComp; ++k)
        b.m_injectColumn[ToSize(k)] = InjectColumn(s.m_ext.m_inject, k);
    b.m_sinkTerm.assign(nComp, -1);
    b.m_transportTerm.assign(nComp, -1);
    b.m_porosityTerm.assign(nComp, -1);
    rxnTerm.assign(rx.m_rxns.size() * nComp, -1);
    auto add = [&](int k, const std::string& name, EBudgetTerm kind) {
        b.m_terms.push_back(CBudgetTerm{k, name, kind});
        return static_cast<int>(b.m_terms.size()) - 1;
    };
    for (int k = SLOT_COUNT; k < s.m_nComp; ++k) {
        if (b.m_injectColumn[ToSize(k)] >= 0)
            b.m_sourceTerm[ToSize(k)] = add(k, "sources", EBudgetTerm::SOURCES);
        if (k >= firstMobile) {
            b.m_sinkTerm[ToSize(k)] = add(k, "sinks", EBudgetTerm::SINKS);
            b.m_transportTerm[ToSize(k)] = add(k, "transport", EBudgetTerm::TRANSPORT);
        }
        if (porosity)
            b.m_porosityTerm[ToSize(k)] = add(k, "porosity", EBudgetTerm::POROSITY);
        for (size_t record = 0; record < rx.m_rxns.size(); ++record)
            if (changes[record * nComp + ToSize(k)])
                rxnTerm[record * nComp + ToSize(k)] = add(
                    k, ReactionTermName(s, rx, static_cast<int>(record)), EBudgetTerm::REACTION);
    }
    b.m_nTerms = static_cast<int>(b.m_terms.size());
}

// The term, row and change of each ledger slot of each set.
void MapSets(const CSimulation& s, const CReactions& rx, CMassBudget& b,
             const std::vector<int>& rxnTerm) {
    const size_t nComp = ToSize(s.m_nComp);
    b.m_setSlots.resize(rx.m_sets.size());
    b.m_setRows.assign(rx.m_sets.size(), 0);
    for (size_t set = 0; set < rx.m_sets.size(); ++set) {
        const CRxnSet& rs = *rx.m_sets[set];
        if (!rs.m_ledgerSlots.empty())
            b.m_setRows[set] = rs.m_nKinetic + rs.m_nEqui;
        // Every set writes its amounts (a set without slots into rows no
        // sum reads), so the matrix has rows for the largest.
        b.m_nRows = std::max(b.m_nRows, rs.m_nKinetic + rs.m_nEqui);
        for (const CRxnSet::CLedgerSlot& slot : rs.m_ledgerSlots) {
            const size_t record = ToSize(rx.IndexOf(rs.LedgerReaction(slot.m_row)));
            const int term = rxnTerm[record * nComp + ToSize(slot.m_entry)];
            if (term >= 0)
                b.m_setSlots[set].push_back(CBudgetSlot{term, slot.m_row, slot.m_change});
        }
    }
}

// What no reaction changes is found once: the nodes' weights when no
// porosity changes (the same product the chunks would form every step), the
// sinks when no source changes, and where the nodes' reaction set changes.
void FixWeightsAndSinks(const CSimulation& s, CMassBudget& b) {
    const double* state = s.m_stateNew.get();
    if (!b.m_porosity) {
        b.m_weight = ZeroedNodeArray<double>(ToSize(s.m_nNodes), s.HoldsEveryNode());
        for (int n = s.m_heldFirst; n < s.m_heldEnd; ++n)
            b.m_weight[ToSize(n)] = NodeOf(state, s.m_nComp, n).Porosity() * b.m_volume[ToSize(n)];
    }
    if (!b.m_sourcesMayChange)
        for (int n = s.m_heldFirst; n < s.m_heldEnd; ++n)
            if (NodeOf(state, s.m_nComp, n).Source() < 0.0)
                b.m_sinks.push_back(n);
    const unsigned char* nodeSet = s.m_nodeRxnSet.get();
    for (int n = s.m_heldFirst + 1; n < s.m_heldEnd; ++n)
        if (nodeSet[n] != nodeSet[n - 1])
            b.m_setChanges.push_back(n);
}

// The rows of a thread's matrix of amounts: at least one, so that every
// node's column is an address in it even when no set keeps a ledger.
int MatrixRows(const CMassBudget& b) {
    return std::max(b.m_nRows, 1);
}

// A thread's chunk arrays: its nodes' amounts, a set's rows summed, and each
// mobile entry's transport change summed.
size_t AmountsPerThread(const CSimulation& s, const CMassBudget& b) {
    return ToSize(MatrixRows(b)) * ToSize(RXN_LEDGER_STRIDE) + ToSize(b.m_nRows) +
           ToSize(s.m_nMobile);
}

} // namespace

CWaterBudget WaterBalanceOf(const CSimulation& s, int first, int end) {
    CWaterBudget w;
    const double* state = s.m_stateNew.get();
    for (int n = first; n < end; ++n) {
        const double* c = state + n * s.m_nComp;
        const double area =
            s.m_grid.m_rowWidth[ToSize(n / s.m_nCols)] * s.m_grid.m_colWidth[ToSize(n % s.m_nCols)];
        const CNodeView node(c);
        const double q = node.Porosity() * area * s.m_ext.m_thickness * node.Source();
        const bool held = s.m_grid.m_nodeType[ToSize(n)] == NODE_HEAD;
        if (q > 0.0)
            (held ? w.m_fixedHeadIn : w.m_sources) += q;
        else if (q < 0.0)
            (held ? w.m_fixedHeadOut : w.m_sinks) += q;
    }
    w.m_discrepancy = w.m_fixedHeadIn + w.m_fixedHeadOut + w.m_sources + w.m_sinks;
    return w;
}

namespace {

// The storage sums as masses, the sums cleared for the next record.
void StorageFromSums(const CSimulation& s, CMassBudget& b, std::vector<double>& out) {
    for (size_t k = SLOT_COUNT; k < ToSize(s.m_nComp); ++k) {
        out[k] = b.m_storageSums[k].Value();
        b.m_storageSums[k].Clear();
    }
}

} // namespace

void PrepareBudget(CSimulation& s, CReactions& rx) {
    s.m_budget.reset();
    if (!s.m_settings.m_writeBudget)
        return;
    try {
        auto b = std::make_unique<CMassBudget>();
        std::vector<int> rxnTerm;
        MakeTerms(s, rx, *b, rxnTerm);
        MapSets(s, rx, *b, rxnTerm);
        for (CRxnWork& work : rx.m_works)
            work.AllocateLedger(b->m_nRows);
        b->m_nThreads = static_cast<int>(rx.m_works.size());
        const size_t sums = ToSize(b->m_nTerms) * ToSize(b->m_nThreads);
        b->m_chunk.assign(sums, 0.0);
        b->m_amounts.assign(AmountsPerThread(s, *b) * ToSize(b->m_nThreads), 0.0);
        b->m_sums.assign(sums, CExactSum());
        b->m_change.assign(ToSize(b->m_nTerms), 0.0);
        const size_t nComp = ToSize(s.m_nComp);
        b->m_storageSums.assign(nComp, CExactSum());
        b->m_storageChunk.assign(nComp, 0.0);
        b->m_storageStart.assign(nComp, 0.0);
        b->m_storageEnd.assign(nComp, 0.0);
        b->m_discrepancy.assign(nComp, 0.0);
        // Over the nodes the process holds (every node where it is written).
        b->m_water = WaterBalanceOf(s, s.m_heldFirst, s.m_heldEnd);
        b->m_volume = ZeroedNodeArray<double>(ToSize(s.m_nNodes), s.HoldsEveryNode());
        for (int n = s.m_heldFirst; n < s.m_heldEnd; ++n)
            b->m_volume[ToSize(n)] = s.m_grid.m_rowWidth[ToSize(n / s.m_nCols)] *
                                     s.m_grid.m_colWidth[ToSize(n % s.m_nCols)] *
                                     s.m_ext.m_thickness;
        FixWeightsAndSinks(s, *b);
        s.m_budget = std::move(b);
    } catch (const std::bad_alloc&) {
        throw ComputeException("not enough memory for the mass budget (--no-budget runs without)");
    }
}

void CBudgetChunk::Open(CSimulation& s, const CReactions& rx, int thread, int begin, int end) {
    CMassBudget& b = *s.m_budget;
    // Every set's amounts fit in the thread's ledger and matrix.
    const int ledgerRows = rx.m_works[ToSize(thread)].m_ledgerRows;
    if (ledgerRows < b.m_nRows)
        throw Exception("reaction work ledger of " + std::to_string(ledgerRows) +
                        " rows for sets of up to " + std::to_string(b.m_nRows));
    m_sums = b.m_chunk.data() + thread * b.m_nTerms;
    m_volume = b.m_volume.get();
    m_fixedWeight = b.m_weight.get();
    m_fixedSinks = b.m_sourcesMayChange ? nullptr : &b.m_sinks;
    m_sourceTerm = b.m_sourceTerm.data();
    m_injectColumn = b.m_injectColumn.data();
    m_inject = &s.m_ext.m_inject;
    m_sinkTerm = b.m_sinkTerm.data();
    m_transportTerm = b.m_transportTerm.data();
    m_porosityTerm = b.m_porosityTerm.data();
    m_setSlots = b.m_setSlots.data();
    m_setRows = b.m_setRows.data();
    m_amounts = b.m_amounts.data() + ToSize(thread) * AmountsPerThread(s, b);
    m_rowAmounts = m_amounts + MatrixRows(b) * RXN_LEDGER_STRIDE;
    m_transportSum = m_rowAmounts + b.m_nRows;
    m_porosity = b.m_porosity;
    m_nodeSet = s.m_nodeRxnSet.get();
    m_state = s.m_state;
    m_stateNew = s.m_stateNew.get();
    m_transport = s.m_transportDelta;
    m_nComp = s.m_nComp;
    m_firstMobile = s.m_nComp - s.m_nMobile;
    m_dt = s.m_clock.m_globalStep;
    m_sinkAtEnd = s.Transport().IsImplicit();
    m_nShares = 0;
    m_begin = begin;
    m_count = end - begin;
    const std::vector<int>& changes = b.m_setChanges;
    const auto change = std::upper_bound(changes.begin(), changes.end(), begin);
    const bool oneSet = change == changes.end() || *change >= end;
    m_oneSet = oneSet && m_count > 0 ? m_nodeSet[begin] : -1;
}

// Each node's weight, the weight its transport change takes (its share of
// the step), and the sinks.
void CBudgetChunk::WeighNodes() {
    // Locals, as the arrays written could be the members read for all the
    // compiler knows.
    const int nComp = m_nComp;
    const double* state = m_state + m_begin * nComp;
    const int count = m_count;
    if (m_fixedWeight) {
        m_weights = m_fixedWeight + m_begin;
    } else {
        const double* volume = m_volume + m_begin;
        for (int i = 0; i < count; ++i)
            m_w[i] = NodeOf(state, nComp, i).Porosity() * volume[i];
        m_weights = m_w;
    }
    // The transport change was applied over the node's local steps.
    m_transportWeights = m_weights;
    if (m_nShares > 0) {
        std::copy(m_weights, m_weights + count, m_wt);
        for (int j = 0; j < m_nShares; ++j)
            m_wt[m_shareNode[j] - m_begin] *= m_share[j];
        m_transportWeights = m_wt;
    }
    int nSinks = 0;
    if (m_fixedSinks) {
        const std::vector<int>& sinks = *m_fixedSinks;
        for (auto n = std::lower_bound(sinks.begin(), sinks.end(), m_begin);
             n != sinks.end() && *n < m_begin + count; ++n)
            m_sinkNodes[nSinks++] = *n - m_begin;
    } else {
        for (int i = 0; i < count; ++i)
            if (NodeOf(state, nComp, i).Source() < 0.0)
                m_sinkNodes[nSinks++] = i;
    }
    m_nSinks = nSinks;
}

void CBudgetChunk::SumNodes() {
    WeighNodes();
    WeightedEntrySums(m_transport + m_begin * m_nComp + m_firstMobile, m_nComp,
                      m_nComp - m_firstMobile, m_transportWeights, m_count, m_transportSum);
}

// The transport terms from the partial sums, less what the sinks took and
// what injected water brought, which go to their own terms.
void CBudgetChunk::AddTransport() {
    const int begin = m_begin;
    const int end = m_begin + m_count;
    // The sinks and the injection take the same share as the transport.
    const double* w = m_transportWeights;
    const int* sinkNodes = m_sinkNodes;
    const int nSinks = m_nSinks;
    // The chunk's injected nodes: a range of the ascending list.
    const std::vector<int>& injected = m_inject->m_nodes;
    const size_t firstInjected = ToSize(static_cast<int>(
        std::lower_bound(injected.begin(), injected.end(), begin) - injected.begin()));
    const size_t endInjected = ToSize(static_cast<int>(
        std::lower_bound(injected.begin(), injected.end(), end) - injected.begin()));
    for (int k = m_firstMobile; k < m_nComp; ++k) {
        const double* change = m_transport + begin * m_nComp + k;
        // What the sinks took is in the transport change: it moves from the
        // transport term to the sinks' term.
        double sinks = 0.0;
        for (int j = 0; j < nSinks; ++j) {
            const int node = begin + sinkNodes[j];
            const double* before = m_state + node * m_nComp;
            // The implicit step's sink takes the value at the step's end.
            const double c = m_sinkAtEnd ? before[k] + change[sinkNodes[j] * m_nComp] : before[k];
            sinks += c * CNodeView(before).Source() * m_dt * w[sinkNodes[j]];
        }
        const double net = m_transportSum[k - m_firstMobile] - sinks;
        m_sums[m_sinkTerm[k]] += sinks;
        if (m_sourceTerm[k] < 0) {
            m_sums[m_transportTerm[k]] += net;
            continue;
        }
        // So is what the injected water brought: it moves to the sources.
        const double sources = InjectedMass(k, firstInjected, endInjected, begin, w);
        m_sums[m_sourceTerm[k]] += sources;
        m_sums[m_transportTerm[k]] += net - sources;
    }
}

// The same expression as AddInjection's, times the node's weight.
double CBudgetChunk::InjectedMass(int k, size_t first, size_t last, int begin,
                                  const double* w) const {
    const size_t column = ToSize(m_injectColumn[k]);
    double mass = 0.0;
    for (size_t i = first; i < last; ++i) {
        const int node = m_inject->m_nodes[i];
        const double source = NodeOf(m_state, m_nComp, node).Source();
        if (!(source > 0.0))
            continue;
        const double c =
            m_inject->m_tables[ToSize(m_inject->m_nodeTable[i])].m_concentration[column];
        mass += c * source * m_dt * w[node - begin];
    }
    return mass;
}

// Each set's amounts, weighted and summed over its nodes, times the change
// per amount of each slot. Nearly every chunk has the nodes of one set; one
// whose nodes have several takes each of them in turn.
void CBudgetChunk::AddReactions() {
    if (m_count <= 0)
        return;
    if (m_oneSet >= 0) {
        SumSetRows(m_oneSet, false);
        return;
    }
    const unsigned char* nodeSet = m_nodeSet + m_begin;
    // A node's set is one byte.
    bool met[UCHAR_MAX + 1] = {};
    for (int i = 0; i < m_count; ++i) {
        const int set = nodeSet[i];
        if (!met[set]) {
            met[set] = true;
            SumSetRows(set, true);
        }
    }
}

void CBudgetChunk::SumSetRows(int set, bool mixed) {
    const int rows = m_setRows[set];
    const unsigned char* nodeSet = m_nodeSet + m_begin;
    const double* w = m_weights;
    const int count = m_count;
    if (!mixed) {
        WeightedRowSums(m_amounts, RXN_LEDGER_STRIDE, rows, w, count, m_rowAmounts);
    } else {
        // The same partial sums over the set's nodes alone.
        for (int r = 0; r < rows; ++r) {
            const double* amount = m_amounts + r * RXN_LEDGER_STRIDE;
            double lane[4] = {};
            for (int i = 0; i < count; ++i)
                if (nodeSet[i] == set)
                    lane[i % 4] += amount[i] * w[i];
            m_rowAmounts[r] = (lane[0] + lane[1]) + (lane[2] + lane[3]);
        }
    }
    for (const CBudgetSlot& slot : m_setSlots[set])
        m_sums[slot.m_term] += m_rowAmounts[slot.m_row] * slot.m_change;
}

void CBudgetChunk::AddPorosityChange(const double* after, double change, double volume) const {
    for (int k = SLOT_COUNT; k < m_nComp; ++k)
        if (m_porosityTerm[k] >= 0)
            m_sums[m_porosityTerm[k]] += after[k] * change * volume;
}

void EndNodeChunk(CSimulation& s, int thread) {
    CMassBudget& b = *s.m_budget;
    double* chunk = b.m_chunk.data() + thread * b.m_nTerms;
    CExactSum* sums = b.m_sums.data() + thread * b.m_nTerms;
    for (int t = 0; t < b.m_nTerms; ++t) {
        sums[t].Add(chunk[t]);
        chunk[t] = 0.0;
    }
}

// Mass in storage of every entry of the state: node by node within chunks,
// the chunk sums added exactly.
void AddStorage(CSimulation& s, int first, int end) {
    CMassBudget& b = *s.m_budget;
    std::vector<CExactSum>& sums = b.m_storageSums;
    std::vector<double>& chunk = b.m_storageChunk;
    const double* state = s.m_stateNew.get();
    for (int begin = first; begin < end; begin += RXN_NODE_CHUNK) {
        const int stop = std::min(end, begin + RXN_NODE_CHUNK);
        for (int n = begin; n < stop; ++n) {
            const double* c = state + n * s.m_nComp;
            const double w = CNodeView(c).Porosity() * b.m_volume[ToSize(n)];
            for (int k = SLOT_COUNT; k < s.m_nComp; ++k)
                chunk[ToSize(k)] += c[k] * w;
        }
        for (size_t k = SLOT_COUNT; k < ToSize(s.m_nComp); ++k) {
            sums[k].Add(chunk[k]);
            chunk[k] = 0.0;
        }
    }
}

void RecordBudget(CSimulation& s) {
    AddStorage(s, 0, s.m_nNodes);
    RecordBudgetFromStorageSums(s);
}

void RecordBudgetFromStorageSums(CSimulation& s) {
    CMassBudget& b = *s.m_budget;
    if (!b.m_started) {
        StorageFromSums(s, b, b.m_storageStart);
        b.m_timeStart = s.m_clock.m_currentTime;
        b.m_started = true;
        return;
    }
    if (b.m_intervals > 0) {
        b.m_storageStart.swap(b.m_storageEnd);
        b.m_timeStart = b.m_timeEnd;
    }
    StorageFromSums(s, b, b.m_storageEnd);
    b.m_timeEnd = s.m_clock.m_currentTime;
    for (size_t k = SLOT_COUNT; k < ToSize(s.m_nComp); ++k)
        b.m_discrepancy[k] = b.m_storageEnd[k] - b.m_storageStart[k];
    for (int t = 0; t < b.m_nTerms; ++t) {
        CExactSum total;
        for (int thread = 0; thread < b.m_nThreads; ++thread) {
            CExactSum& part = b.m_sums[ToSize(thread * b.m_nTerms + t)];
            total.Add(part);
            part.Clear();
        }
        b.m_change[ToSize(t)] = total.Value();
        b.m_discrepancy[ToSize(b.m_terms[ToSize(t)].m_entry)] -= b.m_change[ToSize(t)];
    }
    b.m_intervals += 1;
}
