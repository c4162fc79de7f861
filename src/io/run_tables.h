// The tables a run writes beside its records (the mass budget, the
// observation wells), each when the model asks for it. This is the one place
// a new table is registered: a run over one process and rank 0 of a run over
// several add the same tables to their outputs.
#pragma once

#include "io/budget_file.h"
#include "io/observation_file.h"
#include "io/run_output.h"
#include "io/water_file.h"

#include <string>

class CSimulation;

class CRunTables {
public:
    CRunTables(const CSimulation& s, const std::string& base);

    // Adds the tables the model asks for to list; borrowed, they live as long
    // as this object.
    void AddTo(CRunOutputList& list);

private:
    CBudgetFile m_budget;
    CObservationFile m_wells;
    CWaterFile m_water;
    bool m_keepBudget;
    bool m_keepWells;
};
