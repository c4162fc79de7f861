#include "post/observation_table.h"

#include "post/csv_table.h"
#include "post/result_exception.h"

#include "model/number_text.h"

#include <algorithm>
#include <set>

namespace {

bool IsEntryName(const std::string& text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '_' || c == '-';
    });
}

bool IsPrintable(const std::string& text) {
    return std::none_of(text.begin(), text.end(),
                        [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
}

void ReadHeader(CCsvTableReader& csv, CObservationTable& table) {
    csv.ReadHeader("time,WELL:ENTRY,...");
    if (csv.Field(0) != "time")
        csv.Fail(0, "the first column is " + ShownField(csv.Field(0)) + ", expected time");
    if (csv.FieldCount() < 2)
        csv.FailLine("no WELL:ENTRY columns after time");
    std::set<std::string> seen;
    for (size_t f = 1; f < csv.FieldCount(); ++f) {
        const std::string& name = csv.Field(f);
        // An entry's name has no colon; a well's may.
        const size_t colon = name.rfind(':');
        if (colon == std::string::npos || colon == 0 || !IsPrintable(name) ||
            !IsEntryName(name.substr(colon + 1)))
            csv.Fail(f, "column " + ShownField(name) +
                            " is not WELL:ENTRY (an entry has letters, digits, _ and -)");
        if (!seen.insert(name).second)
            csv.Fail(f, "column " + name + " appears twice");
        table.m_wells.push_back(name.substr(0, colon));
        table.m_entries.push_back(name.substr(colon + 1));
    }
    table.m_values.resize(table.m_wells.size());
}

void ReadRow(const CCsvTableReader& csv, CObservationTable& table) {
    csv.RequireFieldCount(table.m_wells.size() + 1, "time and one value per WELL:ENTRY column");
    const double time = csv.Time(0, "time");
    if (!table.m_times.empty() && !(time > table.m_times.back()))
        csv.Fail(0, "time " + ExactText(time) + " is not after the time of the row before (" +
                        ExactText(table.m_times.back()) + ")");
    std::vector<double> values;
    for (size_t f = 1; f < csv.FieldCount(); ++f)
        values.push_back(csv.Number(f, table.m_wells[f - 1] + ":" + table.m_entries[f - 1]));
    table.m_times.push_back(time);
    for (size_t c = 0; c < values.size(); ++c)
        table.m_values[c].push_back(values[c]);
}

} // namespace

CObservationTable ReadObservationTable(const std::string& path) {
    CCsvTableReader csv(path, "observation file");
    CObservationTable table;
    table.m_path = path;
    ReadHeader(csv, table);
    while (csv.NextRow())
        ReadRow(csv, table);
    table.m_notice = csv.CutLineNotice();
    if (table.m_times.empty())
        throw ResultException(path + ": no rows (only the header)");
    return table;
}

std::vector<std::string> WellNames(const CObservationTable& table) {
    std::vector<std::string> names;
    for (const std::string& well : table.m_wells)
        if (std::find(names.begin(), names.end(), well) == names.end())
            names.push_back(well);
    return names;
}

std::vector<size_t> WellColumns(const CObservationTable& table, const std::string& well) {
    std::vector<size_t> columns;
    for (size_t c = 0; c < table.m_wells.size(); ++c)
        if (table.m_wells[c] == well)
            columns.push_back(c);
    if (columns.empty()) {
        std::string known;
        for (const std::string& name : WellNames(table))
            known += (known.empty() ? "" : ", ") + name;
        throw ResultException(
            (well.empty() ? "no --well given" : "--well " + well + " names no well") +
            std::string("; ") + table.m_path + " has the wells " + known);
    }
    return columns;
}
