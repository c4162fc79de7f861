// The mass budget a run writes beside its records, BASE.budget.csv:
//
//   time_start,time_end,entry,term,mass
//
// one row per interval between consecutive records, entry and term. An entry
// has storage_start and storage_end, then its change terms over the interval
// (sources, sinks, transport, porosity, "reaction N TypeName", discrepancy). The
// entry "water" appears in the first interval only, with the steady flow
// rates (fixed_head_inflow, fixed_head_outflow, sources, sinks, discrepancy).
//
// Every interval must start where the one before ended and hold the entries
// and terms of the first. The engine writes an interval whole, so a last
// interval that is not whole (the run is still writing it, or was stopped)
// is left out and named in a notice, as is a last line without its line
// feed; anything else that does not fit is refused, naming the file, line
// and column.
#pragma once

#include <string>
#include <vector>

struct CBudgetRow {
    double m_timeStart = 0.0;
    double m_timeEnd = 0.0;
    std::string m_entry;
    std::string m_term;
    double m_mass = 0.0;
    int m_line = 0;
};

struct CBudgetTable {
    std::string m_path;
    std::vector<CBudgetRow> m_rows; // whole intervals only, in file order
    std::string m_notice;           // names a last interval left out; empty when none
};

// Throws ResultException.
CBudgetTable ReadBudgetTable(const std::string& path);

// One entry's budget over time: the storage at the start of the first
// interval and at the end of every interval, and each change term summed
// from the start (0 at the first time).
struct CBudgetSeries {
    std::string m_entry;
    std::vector<double> m_times;
    std::vector<double> m_storage;
    std::vector<std::string> m_terms;              // change terms in the order of the file
    std::vector<std::vector<double>> m_cumulative; // [term][time]
};

// The entries other than water, in the order of the file.
std::vector<CBudgetSeries> BuildBudgetSeries(const CBudgetTable& table);

// The steady water rates of the first interval (term, rate), in file order.
std::vector<std::pair<std::string, double>> WaterRates(const CBudgetTable& table);

constexpr const char* BUDGET_WATER_ENTRY = "water";
