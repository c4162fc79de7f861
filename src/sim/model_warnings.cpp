#include "sim/model_warnings.h"

#include "model/limits.h"
#include "model/node_view.h"
#include "model/number_text.h"
#include "model/simulation.h"
#include "run/message_sink.h"
#include "run/run_progress.h"
#include "rxn/reactions.h"
#include "rxn/rxn.h"
#include "rxn/rxn_set.h"

namespace {

// The hydraulic slots whose change would move the heads.
constexpr int FLOW_SLOTS[] = {SLOT_SOURCE, SLOT_KROW, SLOT_KCOL};

const char* SlotName(int k) {
    return k == SLOT_SOURCE ? "water source" : "conductivity";
}

// The first slot of FLOW_SLOTS that rxn changes (-1: none).
int ChangedFlowSlot(const CRxn& rxn, bool equilibrium) {
    for (int k : FLOW_SLOTS)
        if (k < rxn.GetNComp() && rxn.ChangePerAmount(k, equilibrium) != 0.0)
            return k;
    return -1;
}

// The first node held that uses each reaction set (-1: none), in one pass
// over the nodes.
std::vector<int> FirstNodeOfEachSet(const CSimulation& s, const CReactions& rx) {
    std::vector<int> first(rx.m_sets.size(), -1);
    const unsigned char* sets = s.m_nodeRxnSet.get();
    for (int n = s.m_heldFirst; n < s.m_heldEnd; ++n) {
        const size_t q = sets[n];
        if (q < first.size() && first[q] < 0)
            first[q] = n;
    }
    return first;
}

std::string Warning(const CSimulation& s, const CReactions& rx, const CRxn* rxn, int slot,
                    int node) {
    return "reaction record " + std::to_string(rx.IndexOf(rxn)) + " changes the " + SlotName(slot) +
           " of node (" + std::to_string(node / s.m_nCols) + ", " +
           std::to_string(node % s.m_nCols) +
           ") during the run, but the heads and the flow field are those of the start "
           "time for the whole run";
}

} // namespace

std::string EndBeforeStartWarning(const CSimulation& s) {
    if (!(s.m_settings.m_endTime < s.m_settings.m_startTime))
        return std::string();
    return "the end time " + ExactText(s.m_settings.m_endTime) + " is before the start time " +
           ExactText(s.m_settings.m_startTime) +
           "; the run writes the state at the start time only";
}

std::string SteadyFlowWarning(const CSimulation& s, const CReactions& rx) {
    const std::vector<int> firstNode = FirstNodeOfEachSet(s, rx);
    for (size_t q = 0; q < rx.m_sets.size(); ++q) {
        const CRxnSet* set = rx.m_sets[q].get();
        if (set == nullptr)
            continue;
        const int node = firstNode[q];
        if (node < 0)
            continue;
        for (const CRxn* rxn : set->m_kinetic)
            if (const int slot = ChangedFlowSlot(*rxn, false); slot >= 0)
                return Warning(s, rx, rxn, slot, node);
        for (const CRxn* rxn : set->m_equi)
            if (const int slot = ChangedFlowSlot(*rxn, true); slot >= 0)
                return Warning(s, rx, rxn, slot, node);
    }
    return std::string();
}

std::string HeldSourceWarning(const CSimulation& s) {
    const double* state = s.m_stateNew.get();
    const unsigned char* types = s.m_grid.m_nodeType.get();
    int count = 0;
    int first = -1;
    for (int n = s.m_heldFirst; n < s.m_heldEnd; ++n) {
        const CNodeView node(state + static_cast<size_t>(n) * static_cast<size_t>(s.m_nComp));
        if (types[n] != NODE_HEAD || node.KRow() != 0.0 || !(node.KCol() > 0.0) || s.m_nCols < 2)
            continue;
        if (first < 0)
            first = n;
        count += 1;
    }
    if (count == 0)
        return std::string();
    const std::string nodes =
        count == 1 ? "the fixed-head node" : std::to_string(count) + " fixed-head nodes, the first";
    return nodes + " (" + std::to_string(first / s.m_nCols) + ", " +
           std::to_string(first % s.m_nCols) + ")" + (count == 1 ? " has" : ", have") +
           " k_row 0 and k_col above 0: the heads leave its water source at the model file's "
           "value, not the water its held head takes from or gives to its neighbours, so "
           "the water and mass budgets do not close there; a k_row above 0 has it computed";
}

std::vector<std::string> ModelWarnings(const CSimulation& s, const CReactions& rx) {
    std::vector<std::string> lines;
    for (std::string line :
         {EndBeforeStartWarning(s), SteadyFlowWarning(s, rx), HeldSourceWarning(s)})
        if (!line.empty())
            lines.push_back(std::move(line));
    return lines;
}

void WarnOfModel(const CSimulation& s, const CReactions& rx) {
    CMessageSink* sink = s.m_progress ? s.m_progress->GetMessageSink() : nullptr;
    if (sink == nullptr)
        return;
    for (const std::string& line : ModelWarnings(s, rx))
        sink->WriteWarning(line.c_str());
}
