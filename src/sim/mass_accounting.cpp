#include "sim/mass_accounting.h"

#include "model/exceptions.h"
#include "model/index.h"
#include "model/limits.h"
#include "model/rxn_work.h"
#include "model/simulation.h"
#include "rxn/rxn.h"
#include "rxn/rxn_description.h"
#include "rxn/rxn_set.h"

#include <algorithm>
#include <memory>
#include <new>
#include <string>

namespace {

std::string ReactionTermName(const CSimulation& s, int record) {
    CRxnDescription d;
    s.m_rxns[ToSize(record)]->Describe(d);
    return "reaction " + std::to_string(record) + " " + d.TypeName();
}

// Whether some reaction of a set some node uses may change the porosity.
bool PorosityMayChange(const CSimulation& s, const std::vector<bool>& setUsed) {
    for (size_t set = 0; set < s.m_rxnSets.size(); ++set) {
        if (!setUsed[set])
            continue;
        const CRxnSet& rs = *s.m_rxnSets[set];
        for (const auto* list : {&rs.m_kinetic, &rs.m_equi})
            for (const CRxn* rxn : *list)
                if (rxn->MayChange(SLOT_POROSITY))
                    return true;
    }
    return false;
}

// The reaction records that may change entry k at some node, in record order.
std::vector<int> ReactionsChanging(const CSimulation& s, const std::vector<bool>& setUsed, int k) {
    std::vector<int> records;
    for (size_t r = 0; r < s.m_rxns.size(); ++r) {
        const CRxn* rxn = s.m_rxns[r].get();
        bool used = false;
        for (size_t set = 0; set < s.m_rxnSets.size() && !used; ++set) {
            if (!setUsed[set])
                continue;
            const CRxnSet& rs = *s.m_rxnSets[set];
            used = std::find(rs.m_kinetic.begin(), rs.m_kinetic.end(), rxn) != rs.m_kinetic.end() ||
                   std::find(rs.m_equi.begin(), rs.m_equi.end(), rxn) != rs.m_equi.end();
        }
        if (used && rxn->MayChange(k))
            records.push_back(static_cast<int>(r));
    }
    return records;
}

int RecordOf(const CSimulation& s, const CRxn* rxn) {
    for (size_t r = 0; r < s.m_rxns.size(); ++r)
        if (s.m_rxns[r].get() == rxn)
            return static_cast<int>(r);
    return -1;
}

// The terms, entry by entry; rxnTerm[record x nComp + k] is the term of a
// reaction record's change of entry k (-1: none).
void MakeTerms(const CSimulation& s, CMassBudget& b, std::vector<int>& rxnTerm) {
    std::vector<bool> setUsed(s.m_rxnSets.size(), false);
    for (int n = 0; n < s.m_nNodes; ++n)
        setUsed[s.m_nodeRxnSet[ToSize(n)]] = true;
    const bool porosity = PorosityMayChange(s, setUsed);
    const int firstMobile = s.m_nComp - s.m_nMobile;
    const size_t nComp = ToSize(s.m_nComp);
    b.m_sinkTerm.assign(nComp, -1);
    b.m_transportTerm.assign(nComp, -1);
    b.m_porosityTerm.assign(nComp, -1);
    rxnTerm.assign(s.m_rxns.size() * nComp, -1);
    auto add = [&](int k, const std::string& name) {
        b.m_terms.push_back(CBudgetTerm{k, name});
        return static_cast<int>(b.m_terms.size()) - 1;
    };
    for (int k = SLOT_COUNT; k < s.m_nComp; ++k) {
        if (k >= firstMobile) {
            b.m_sinkTerm[ToSize(k)] = add(k, "sinks");
            b.m_transportTerm[ToSize(k)] = add(k, "transport");
        }
        if (porosity)
            b.m_porosityTerm[ToSize(k)] = add(k, "porosity");
        for (int record : ReactionsChanging(s, setUsed, k))
            rxnTerm[ToSize(record) * nComp + ToSize(k)] = add(k, ReactionTermName(s, record));
    }
    b.m_nTerms = static_cast<int>(b.m_terms.size());
}

// Each set's (ledger offset, term) pairs.
void MapSets(const CSimulation& s, CMassBudget& b, const std::vector<int>& rxnTerm) {
    const int nComp = s.m_nComp;
    b.m_setTerms.resize(s.m_rxnSets.size());
    for (size_t set = 0; set < s.m_rxnSets.size(); ++set) {
        const CRxnSet& rs = *s.m_rxnSets[set];
        std::vector<const CRxn*> rows(rs.m_kinetic.begin(), rs.m_kinetic.end());
        rows.insert(rows.end(), rs.m_equi.begin(), rs.m_equi.end());
        for (size_t row = 0; row < rows.size(); ++row) {
            const int record = RecordOf(s, rows[row]);
            for (int k = SLOT_COUNT; k < nComp; ++k) {
                const int term = rxnTerm[ToSize(record * nComp + k)];
                if (term >= 0)
                    b.m_setTerms[set].emplace_back(static_cast<int>(row) * nComp + k, term);
            }
        }
    }
}

// The steady flow's volume rates at the nodes, split as the budget reports them.
CWaterBudget WaterBalance(const CSimulation& s) {
    CWaterBudget w;
    const double* state = s.m_stateNew.get();
    for (int n = 0; n < s.m_nNodes; ++n) {
        const double* c = state + n * s.m_nComp;
        const double area = s.m_rowWidth[ToSize(n / s.m_nCols)] * s.m_colWidth[ToSize(n % s.m_nCols)];
        const double q = c[SLOT_POROSITY] * area * s.m_ext.m_thickness * c[SLOT_SOURCE];
        const bool held = s.m_nodeType[ToSize(n)] == NODE_HEAD;
        if (q > 0.0)
            (held ? w.m_fixedHeadIn : w.m_sources) += q;
        else if (q < 0.0)
            (held ? w.m_fixedHeadOut : w.m_sinks) += q;
    }
    w.m_discrepancy = w.m_fixedHeadIn + w.m_fixedHeadOut + w.m_sources + w.m_sinks;
    return w;
}

// Mass in storage of every entry of the state: node by node within chunks,
// the chunk sums added exactly.
void Storage(const CSimulation& s, CMassBudget& b, std::vector<double>& out) {
    const size_t nComp = ToSize(s.m_nComp);
    std::vector<CExactSum>& sums = b.m_storageSums;
    std::vector<double>& chunk = b.m_storageChunk;
    const double* state = s.m_stateNew.get();
    for (int begin = 0; begin < s.m_nNodes; begin += RXN_NODE_CHUNK) {
        const int end = std::min(s.m_nNodes, begin + RXN_NODE_CHUNK);
        for (int n = begin; n < end; ++n) {
            const double* c = state + n * s.m_nComp;
            const double w = c[SLOT_POROSITY] * b.m_volume[ToSize(n)];
            for (int k = SLOT_COUNT; k < s.m_nComp; ++k)
                chunk[ToSize(k)] += c[k] * w;
        }
        for (size_t k = SLOT_COUNT; k < nComp; ++k) {
            sums[k].Add(chunk[k]);
            chunk[k] = 0.0;
        }
    }
    for (size_t k = SLOT_COUNT; k < nComp; ++k) {
        out[k] = sums[k].Value();
        sums[k].Clear();
    }
}

} // namespace

void PrepareBudget(CSimulation& s) {
    s.m_budget.reset();
    if (!s.m_writeBudget)
        return;
    try {
        auto b = std::make_unique<CMassBudget>();
        std::vector<int> rxnTerm;
        MakeTerms(s, *b, rxnTerm);
        MapSets(s, *b, rxnTerm);
        int rows = 0;
        for (const auto& set : s.m_rxnSets)
            rows = std::max(rows, set->m_nKinetic + set->m_nEqui);
        for (CRxnWork& work : s.m_rxnWork)
            work.AllocateLedger(rows, s.m_nComp);
        b->m_nThreads = static_cast<int>(s.m_rxnWork.size());
        const size_t sums = ToSize(b->m_nTerms) * ToSize(b->m_nThreads);
        b->m_chunk.assign(sums, 0.0);
        b->m_sums.assign(sums, CExactSum());
        b->m_change.assign(ToSize(b->m_nTerms), 0.0);
        const size_t nComp = ToSize(s.m_nComp);
        b->m_storageSums.assign(nComp, CExactSum());
        b->m_storageChunk.assign(nComp, 0.0);
        b->m_storageStart.assign(nComp, 0.0);
        b->m_storageEnd.assign(nComp, 0.0);
        b->m_discrepancy.assign(nComp, 0.0);
        b->m_water = WaterBalance(s);
        b->m_volume.resize(ToSize(s.m_nNodes));
        for (int n = 0; n < s.m_nNodes; ++n)
            b->m_volume[ToSize(n)] = s.m_rowWidth[ToSize(n / s.m_nCols)] *
                                     s.m_colWidth[ToSize(n % s.m_nCols)] * s.m_ext.m_thickness;
        s.m_budget = std::move(b);
    } catch (const std::bad_alloc&) {
        throw ComputeException("not enough memory for the mass budget (--no-budget runs without)");
    }
}

void AddNodeChanges(CSimulation& s, int n, const CRxnWork& work, int thread) {
    CMassBudget& b = *s.m_budget;
    double* chunk = b.m_chunk.data() + thread * b.m_nTerms;
    const int offset = n * s.m_nComp;
    const double* before = s.m_state + offset;
    const double* after = s.m_stateNew.get() + offset;
    const double* transport = s.m_transportDelta + offset;
    const double volume = b.m_volume[ToSize(n)];
    const double porosity = before[SLOT_POROSITY];
    const double w = porosity * volume;

    // The transport change includes what the sinks took, computed as the
    // transport step computed it.
    const double source = before[SLOT_SOURCE];
    const double dt = s.m_globalStep;
    for (int k = s.m_nComp - s.m_nMobile; k < s.m_nComp; ++k) {
        const double sink = source < 0.0 ? before[k] * source * dt : 0.0;
        chunk[b.m_sinkTerm[ToSize(k)]] += sink * w;
        chunk[b.m_transportTerm[ToSize(k)]] += (transport[k] - sink) * w;
    }
    for (const auto& [row, term] : b.m_setTerms[s.m_nodeRxnSet[ToSize(n)]])
        chunk[term] += work.m_ledgerNode[row] * w;
    // Changes above are weighted with the porosity at the start of the step;
    // a reaction that changed the porosity changed the mass of what is left.
    const double porosityAfter = after[SLOT_POROSITY];
    if (porosityAfter != porosity)
        for (int k = SLOT_COUNT; k < s.m_nComp; ++k)
            if (b.m_porosityTerm[ToSize(k)] >= 0)
                chunk[b.m_porosityTerm[ToSize(k)]] += after[k] * (porosityAfter - porosity) * volume;
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

void RecordBudget(CSimulation& s) {
    CMassBudget& b = *s.m_budget;
    if (!b.m_started) {
        Storage(s, b, b.m_storageStart);
        b.m_timeStart = s.m_currentTime;
        b.m_started = true;
        return;
    }
    if (b.m_intervals > 0) {
        b.m_storageStart.swap(b.m_storageEnd);
        b.m_timeStart = b.m_timeEnd;
    }
    Storage(s, b, b.m_storageEnd);
    b.m_timeEnd = s.m_currentTime;
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
