#include "io/budget_file.h"

#include "model/exceptions.h"
#include "model/extension.h"
#include "model/index.h"
#include "model/limits.h"
#include "model/number_text.h"
#include "model/simulation.h"
#include "run/run_progress.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

std::string BudgetFileName(const std::string& base) {
    return base + ".budget.csv";
}

void CBudgetFile::Start() {
    CTableOutput::Start();
    std::fputs("time_start,time_end,entry,term,mass\n", m_file.Stream());
    m_file.Flush();
}

void CBudgetFile::Row(double start, double end, const std::string& entry, const char* term,
                      double mass) {
    std::fprintf(m_file.Stream(), "%.17g,%.17g,%s,%s,%.17g\n", start, end, entry.c_str(), term,
                 mass);
}

void CBudgetFile::WriteWater(const CSimulation& s) {
    const CMassBudget& b = *s.m_budget;
    const CWaterBudget& w = b.m_water;
    static const std::string water = "water";
    Row(b.m_timeStart, b.m_timeEnd, water, "fixed_head_inflow", w.m_fixedHeadIn);
    Row(b.m_timeStart, b.m_timeEnd, water, "fixed_head_outflow", w.m_fixedHeadOut);
    Row(b.m_timeStart, b.m_timeEnd, water, "sources", w.m_sources);
    Row(b.m_timeStart, b.m_timeEnd, water, "sinks", w.m_sinks);
    Row(b.m_timeStart, b.m_timeEnd, water, "discrepancy", w.m_discrepancy);
}

void CBudgetFile::WriteInterval(const CSimulation& s) {
    const CMassBudget& b = *s.m_budget;
    if (m_written == 0) {
        m_total.assign(ToSize(b.m_nTerms), 0.0);
        m_initial = b.m_storageStart;
        m_largest = b.m_storageStart;
        m_discrepancy.assign(ToSize(s.m_nComp), 0.0);
        for (int k = 0; k < s.m_nComp; ++k)
            m_names.push_back(EntryName(s.m_ext, s.m_nComp, s.m_nMobile, k));
        WriteWater(s);
    }
    size_t t = 0;
    for (int k = SLOT_COUNT; k < s.m_nComp; ++k) {
        const size_t e = ToSize(k);
        const std::string& name = m_names[e];
        Row(b.m_timeStart, b.m_timeEnd, name, "storage_start", b.m_storageStart[e]);
        Row(b.m_timeStart, b.m_timeEnd, name, "storage_end", b.m_storageEnd[e]);
        for (; t < b.m_terms.size() && b.m_terms[t].m_entry == k; ++t) {
            Row(b.m_timeStart, b.m_timeEnd, name, b.m_terms[t].m_name.c_str(), b.m_change[t]);
            m_total[t] += b.m_change[t];
        }
        Row(b.m_timeStart, b.m_timeEnd, name, "discrepancy", b.m_discrepancy[e]);
        m_discrepancy[e] += b.m_discrepancy[e];
        m_largest[e] =
            std::max({m_largest[e], std::fabs(b.m_storageStart[e]), std::fabs(b.m_storageEnd[e])});
    }
    m_written = b.m_intervals;
    m_file.Flush();
}

void CBudgetFile::WriteRecord(CSimulation& s) {
    if (s.m_budget && s.m_budget->m_intervals > m_written)
        WriteInterval(s);
}

void CBudgetFile::Finish(const CSimulation& s) {
    m_file.Close();
    if (s.m_budget && m_written > 0)
        s.m_progress->SetBudgetSummary(Summary(s));
}

namespace {

std::string Cell(double value) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, " %13.6g", value);
    return buffer;
}

} // namespace

std::string CBudgetFile::Summary(const CSimulation& s) const {
    const CMassBudget& b = *s.m_budget;
    const CExtension& ext = s.m_ext;
    char line[160];
    std::snprintf(line, sizeof line, "Mass budget from %.6g to %.6g%s%s\n",
                  s.m_settings.m_startTime, b.m_timeEnd, ext.m_timeUnit.empty() ? "" : " ",
                  ext.m_timeUnit.c_str());
    std::string out = line;
    if (!ext.m_massUnit.empty())
        out += "(mass in " + ext.m_massUnit + ")\n";
    std::snprintf(line, sizeof line, "%-16s %13s %13s %13s %13s %13s %13s\n", "entry", "initial",
                  "final", "in", "out", "reactions", "discrepancy %");
    out += line;
    size_t t = 0;
    for (int k = SLOT_COUNT; k < s.m_nComp; ++k) {
        const size_t e = ToSize(k);
        double sources = 0.0;
        double transport = 0.0;
        double sinks = 0.0;
        double reactions = 0.0;
        for (; t < b.m_terms.size() && b.m_terms[t].m_entry == k; ++t) {
            const EBudgetTerm kind = b.m_terms[t].m_kind;
            (kind == EBudgetTerm::SOURCES     ? sources
             : kind == EBudgetTerm::TRANSPORT ? transport
             : kind == EBudgetTerm::SINKS     ? sinks
                                              : reactions) += m_total[t];
        }
        const double in = sources + std::max(transport, 0.0);
        const double outflow = sinks + std::min(transport, 0.0);
        const double percent = m_largest[e] > 0.0 ? 100.0 * m_discrepancy[e] / m_largest[e] : 0.0;
        std::snprintf(line, sizeof line, "%-16s", m_names[e].c_str());
        out += line + Cell(m_initial[e]) + Cell(b.m_storageEnd[e]) + Cell(in) + Cell(outflow) +
               Cell(reactions) + Cell(percent) + "\n";
    }
    return out;
}

namespace {

// An interval count a table carries: a whole number up to the budget's.
int WrittenOf(double value, const CSimulation& s, const std::string& table) {
    const int most = s.m_budget ? s.m_budget->m_intervals : 0;
    if (!(value >= 0.0 && value <= most && value == std::floor(value)))
        throw InputException("the checkpoint's " + table + " has written " + ExactText(value) +
                             " intervals, not a count from 0 to the budget's " +
                             std::to_string(most));
    return static_cast<int>(value);
}

} // namespace

std::vector<double> CBudgetFile::Carried() const {
    std::vector<double> carried = {static_cast<double>(m_written)};
    if (m_written == 0)
        return carried;
    for (const std::vector<double>* part : {&m_total, &m_initial, &m_largest, &m_discrepancy}) {
        carried.push_back(static_cast<double>(part->size()));
        carried.insert(carried.end(), part->begin(), part->end());
    }
    return carried;
}

void CBudgetFile::TakeCarried(const std::vector<double>& carried, const CSimulation& s) {
    const std::string table = m_file.Name();
    if (carried.empty())
        throw InputException("the checkpoint's " + table + " carries nothing");
    m_written = WrittenOf(carried[0], s, table);
    if (m_written == 0)
        return;
    // The sums over the intervals written: one per term, then three per entry.
    const size_t sizes[] = {ToSize(s.m_budget->m_nTerms), ToSize(s.m_nComp), ToSize(s.m_nComp),
                            ToSize(s.m_nComp)};
    std::vector<double>* parts[] = {&m_total, &m_initial, &m_largest, &m_discrepancy};
    size_t at = 1;
    for (int p = 0; p < 4; ++p) {
        if (at >= carried.size() || carried[at] != static_cast<double>(sizes[p]) ||
            carried.size() - at - 1 < sizes[p])
            throw InputException("the checkpoint's " + table + " does not carry the sums of " +
                                 "this model's budget");
        parts[p]->assign(carried.begin() + static_cast<std::ptrdiff_t>(at + 1),
                         carried.begin() + static_cast<std::ptrdiff_t>(at + 1 + sizes[p]));
        at += 1 + sizes[p];
    }
    m_names.clear();
    for (int k = 0; k < s.m_nComp; ++k)
        m_names.push_back(EntryName(s.m_ext, s.m_nComp, s.m_nMobile, k));
}
