#include "support/model_builder.h"

#include "sim/rxn_set.h"

namespace kova_test {

void LoadModelText(CSimulation& sim, const std::string& text) {
    sim.m_nStateSlots = SLOT_COUNT;
    sim.ReadInput(*ModelStream(text));
}

void LoadModel(CSimulation& sim, const CTestModel& model) {
    LoadModelText(sim, model.Text());
}

void AddKineticToFirstSet(CSimulation& sim, std::unique_ptr<CRxn> rxn) {
    sim.m_rxns.push_back(std::move(rxn));
    CRxnSet& set = *sim.m_rxnSets[0];
    set.m_kinetic.push_back(sim.m_rxns.back().get());
    set.m_nKinetic = static_cast<int>(set.m_kinetic.size());
}

} // namespace kova_test
