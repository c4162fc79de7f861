#include "transport/injection.h"

#include "model/exceptions.h"
#include "model/index.h"
#include "model/limits.h"
#include "model/node_view.h"
#include "model/number_text.h"
#include "model/simulation.h"

#include <string>

void AddInjection(CSimulation& s) {
    const CInjection& inject = s.m_ext.m_inject;
    const double dt = s.m_clock.m_globalStep;
    const size_t nEntries = inject.m_entries.size();
    const int* entries = inject.m_entries.data();
    for (size_t i = 0; i < inject.m_nodes.size(); ++i) {
        const int a = inject.m_nodes[i] * s.m_nComp;
        const double source = NodeAt(s.m_state, a).Source();
        // A reaction may have turned the source: water that leaves takes
        // solute along as a sink, and brings none.
        if (!(source > 0.0))
            continue;
        const double* c = inject.m_tables[ToSize(inject.m_nodeTable[i])].m_concentration.data();
        double* delta = s.m_transportDelta + a;
        for (size_t e = 0; e < nEntries; ++e)
            delta[entries[e]] += c[e] * source * dt;
    }
}

void CheckInjectedHeldNodes(const CSimulation& s) {
    const CInjection& inject = s.m_ext.m_inject;
    for (size_t i = 0; i < inject.m_nodes.size(); ++i) {
        const int n = inject.m_nodes[i];
        if (s.m_grid.m_nodeType[ToSize(n)] != NODE_HEAD || !s.Holds(n))
            continue;
        const double source = s.m_stateNew[ToSize(n * s.m_nComp + SLOT_SOURCE)];
        if (source > 0.0)
            continue;
        const int t = inject.m_nodeTable[i];
        const int row = n / s.m_nCols;
        const int col = n % s.m_nCols;
        int line = 0;
        const std::string key = InjectNodeKey(inject.m_tables[ToSize(t)], t, row, col, &line);
        InputException e("key " + key + " (line " + std::to_string(line) +
                         "): the fixed-head node (" + std::to_string(row) + ", " +
                         std::to_string(col) + ") has the source " + ExactText(source) +
                         " computed from the heads, not a positive one: water leaves the grid "
                         "there or none enters, so none can be injected");
        e.AddWhere("(file " + s.m_ext.m_file + ")");
        e.SetOrder(static_cast<int64_t>(i)); // the first injected node wins
        throw e;
    }
}
