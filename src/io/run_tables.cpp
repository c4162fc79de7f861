#include "io/run_tables.h"

#include "model/simulation.h"

CRunTables::CRunTables(const CSimulation& s, const std::string& base)
    : m_budget(base), m_wells(base), m_water(base), m_keepBudget(s.m_settings.m_writeBudget),
      m_keepWells(!s.m_ext.m_observe.empty()) {}

void CRunTables::AddTo(CRunOutputList& list) {
    if (m_keepBudget) {
        list.Add(m_budget);
        list.Add(m_water);
    }
    if (m_keepWells)
        list.Add(m_wells);
}
