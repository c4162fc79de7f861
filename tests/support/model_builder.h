// Transitional: the model loading of the older tests over support/engine.h.
#pragma once

#include "support/engine.h"

namespace kova_test {

void LoadModelText(CSimulation& sim, const std::string& text);
void LoadModel(CSimulation& sim, const CTestModel& model);
void AddKineticToFirstSet(CSimulation& sim, std::unique_ptr<CRxn> rxn);

} // namespace kova_test
