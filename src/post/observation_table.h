// The observation wells a run writes beside its records, BASE.obs.csv:
//
//   time,MW1:NH4,MW1:O2,MW2:NH4
//
// a column per well and entry (WELL:ENTRY), a row at the start and after
// every global step. A last row without its line feed (the run is writing
// it, or it was cut short) is never read, even when it looks whole: it is
// left out and named in a notice. Anything else that does not fit is
// refused, naming the file, line and column.
#pragma once

#include <string>
#include <vector>

struct CObservationTable {
    std::string m_path;
    std::vector<std::string> m_wells;   // of each value column
    std::vector<std::string> m_entries; // of each value column
    std::vector<double> m_times;
    std::vector<std::vector<double>> m_values; // [column][row]
    std::string m_notice;                      // names a last row left out; empty when none
};

// Throws ResultException.
CObservationTable ReadObservationTable(const std::string& path);

// The wells in the order of their first column.
std::vector<std::string> WellNames(const CObservationTable& table);

// The value columns of a well, in file order. Throws ResultException listing
// the wells of the file when it has none of that name.
std::vector<size_t> WellColumns(const CObservationTable& table, const std::string& well);
