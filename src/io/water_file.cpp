#include "io/water_file.h"

#include "model/exceptions.h"
#include "model/mass_budget.h"
#include "model/simulation.h"

#include <cmath>
#include <cstdio>
#include <vector>

std::string WaterFileName(const std::string& base) {
    return base + ".water.csv";
}

void CWaterFile::Start() {
    CTableOutput::Start();
    std::fputs("time_start,time_end,term,rate\n", m_file.Stream());
    m_file.Flush();
}

void CWaterFile::WriteRecord(CSimulation& s) {
    if (!s.m_budget || s.m_budget->m_intervals <= m_written)
        return;
    const CMassBudget& b = *s.m_budget;
    const CWaterBudget& w = b.m_water;
    const struct {
        const char* term;
        double rate;
    } rows[] = {{"fixed_head_inflow", w.m_fixedHeadIn},
                {"fixed_head_outflow", w.m_fixedHeadOut},
                {"sources", w.m_sources},
                {"sinks", w.m_sinks},
                {"discrepancy", w.m_discrepancy}};
    for (const auto& row : rows)
        std::fprintf(m_file.Stream(), "%.17g,%.17g,%s,%.17g\n", b.m_timeStart, b.m_timeEnd,
                     row.term, row.rate);
    m_written = b.m_intervals;
    m_file.Flush();
}

void CWaterFile::Finish(const CSimulation&) {
    m_file.Close();
}

void CWaterFile::TakeCarried(const std::vector<double>& carried, const CSimulation& s) {
    const int most = s.m_budget ? s.m_budget->m_intervals : 0;
    if (carried.size() != 1 ||
        !(carried[0] >= 0.0 && carried[0] <= most && carried[0] == std::floor(carried[0])))
        throw InputException("the checkpoint's " + m_file.Name() +
                             " does not carry a count of the intervals it has written");
    m_written = static_cast<int>(carried[0]);
}
