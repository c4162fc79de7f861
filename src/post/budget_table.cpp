#include "post/budget_table.h"

#include "post/csv_table.h"
#include "post/result_exception.h"

#include "model/number_text.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <set>
#include <utility>

namespace {

const char* const BUDGET_LAYOUT = "time_start,time_end,entry,term,mass";
enum BudgetField : size_t { F_START, F_END, F_ENTRY, F_TERM, F_MASS, F_COUNT };

const char* const ENTRY_TERMS[] = {"storage_start", "storage_end", "sources",    "sinks",
                                   "transport",     "porosity",    "discrepancy"};
const char* const WATER_TERMS[] = {"fixed_head_inflow", "fixed_head_outflow", "sources", "sinks",
                                   "discrepancy"};

bool IsNameChar(char c, bool dash) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           (dash && c == '-');
}

bool IsName(const std::string& text, bool dash) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [dash](char c) { return IsNameChar(c, dash); });
}

// "reaction N TypeName": the reaction record's index and its type.
bool IsReactionTerm(const std::string& term) {
    const std::string prefix = "reaction ";
    if (term.compare(0, prefix.size(), prefix) != 0)
        return false;
    const size_t blank = term.find(' ', prefix.size());
    if (blank == std::string::npos)
        return false;
    const std::string record = term.substr(prefix.size(), blank - prefix.size());
    return !record.empty() && record.find_first_not_of("0123456789") == std::string::npos &&
           IsName(term.substr(blank + 1), false);
}

template <size_t N> bool IsOneOf(const std::string& text, const char* const (&list)[N]) {
    return std::find(std::begin(list), std::end(list), text) != std::end(list);
}

template <size_t N> std::string ListOf(const char* const (&list)[N]) {
    std::string text;
    for (const char* item : list)
        text += (text.empty() ? "" : ", ") + std::string(item);
    return text;
}

std::string IntervalText(double start, double end) {
    return ExactText(start) + ".." + ExactText(end);
}

// An entry's terms in one interval.
using CEntryTerms = std::vector<std::pair<std::string, std::set<std::string>>>;

class CBudgetReader {
public:
    explicit CBudgetReader(const std::string& path) : m_csv(path, "budget file") {
        m_table.m_path = path;
    }

    CBudgetTable Read() {
        ReadHeader();
        while (m_csv.NextRow())
            ReadRow();
        m_table.m_notice = m_csv.CutLineNotice();
        CloseInterval(true);
        if (m_table.m_rows.empty())
            throw ResultException(m_csv.Path() + ": no intervals (only the header)");
        return std::move(m_table);
    }

private:
    void ReadHeader() {
        m_csv.ReadHeader(BUDGET_LAYOUT);
        std::string header;
        for (size_t f = 0; f < m_csv.FieldCount(); ++f)
            header += (f ? "," : "") + m_csv.Field(f);
        if (header != BUDGET_LAYOUT)
            m_csv.FailLine("header " + ShownField(header) + ", expected " + BUDGET_LAYOUT);
    }

    void ReadRow() {
        m_csv.RequireFieldCount(F_COUNT, BUDGET_LAYOUT);
        CBudgetRow row;
        row.m_line = m_csv.Line();
        row.m_timeStart = m_csv.Time(F_START, "time_start");
        row.m_timeEnd = m_csv.Time(F_END, "time_end");
        if (!(row.m_timeEnd > row.m_timeStart))
            m_csv.Fail(F_END, "time_end " + ExactText(row.m_timeEnd) + " is not after time_start " +
                                  ExactText(row.m_timeStart));
        row.m_entry = m_csv.Field(F_ENTRY);
        if (!IsName(row.m_entry, true))
            m_csv.Fail(F_ENTRY, "entry " + ShownField(row.m_entry) +
                                    " is not a name (letters, digits, _ and -)");
        row.m_term = m_csv.Field(F_TERM);
        CheckTerm(row);
        row.m_mass = m_csv.Number(F_MASS, "mass");
        PlaceInInterval(row);
        m_table.m_rows.push_back(std::move(row));
    }

    void CheckTerm(const CBudgetRow& row) const {
        if (row.m_entry == BUDGET_WATER_ENTRY) {
            if (!IsOneOf(row.m_term, WATER_TERMS))
                m_csv.Fail(F_TERM, "term " + ShownField(row.m_term) + " of water is none of " +
                                       ListOf(WATER_TERMS));
        } else if (!IsOneOf(row.m_term, ENTRY_TERMS) && !IsReactionTerm(row.m_term))
            m_csv.Fail(F_TERM, "term " + ShownField(row.m_term) + " is none of " +
                                   ListOf(ENTRY_TERMS) + ", reaction N TypeName");
    }

    // The row continues the interval being read or starts the next one.
    void PlaceInInterval(const CBudgetRow& row) {
        if (m_table.m_rows.size() > m_intervalFirst) {
            const CBudgetRow& first = m_table.m_rows[m_intervalFirst];
            const bool same =
                row.m_timeStart == first.m_timeStart && row.m_timeEnd == first.m_timeEnd;
            if (!same && row.m_timeStart != first.m_timeEnd)
                m_csv.Fail(F_START, "the interval " + IntervalText(row.m_timeStart, row.m_timeEnd) +
                                        " neither is nor follows the interval " +
                                        IntervalText(first.m_timeStart, first.m_timeEnd) +
                                        " of line " + std::to_string(first.m_line));
            if (!same) {
                CloseInterval(false);
                m_intervalFirst = m_table.m_rows.size();
                ++m_intervalCount;
                m_seen.clear();
            }
        }
        if (row.m_entry == BUDGET_WATER_ENTRY && m_intervalCount > 0)
            m_csv.Fail(F_ENTRY, "water rows belong to the first interval only");
        if (!m_seen.insert({row.m_entry, row.m_term}).second)
            m_csv.Fail(F_TERM, row.m_entry + " " + row.m_term + " appears twice in the interval " +
                                   IntervalText(row.m_timeStart, row.m_timeEnd));
    }

    CEntryTerms IntervalTerms() const {
        CEntryTerms terms;
        for (size_t r = m_intervalFirst; r < m_table.m_rows.size(); ++r) {
            const CBudgetRow& row = m_table.m_rows[r];
            if (row.m_entry == BUDGET_WATER_ENTRY)
                continue;
            auto it = std::find_if(terms.begin(), terms.end(),
                                   [&](const auto& e) { return e.first == row.m_entry; });
            if (it == terms.end())
                it = terms.insert(terms.end(), {row.m_entry, {}});
            it->second.insert(row.m_term);
        }
        return terms;
    }

    // Why the interval's entries and terms differ from the first interval's;
    // empty when they do not.
    std::string Lacks(const CEntryTerms& terms) const {
        for (const auto& item : terms) {
            const std::string& entry = item.first;
            const std::set<std::string>& set = item.second;
            for (const char* storage : {"storage_start", "storage_end"})
                if (!set.count(storage))
                    return entry + " has no " + storage + " row";
            if (m_intervalCount == 0)
                continue;
            const auto ref = std::find_if(m_reference.begin(), m_reference.end(),
                                          [&](const auto& e) { return e.first == entry; });
            if (ref == m_reference.end())
                return entry + " is not in the first interval";
            for (const std::string& term : ref->second)
                if (!set.count(term))
                    return entry + " has no " + term + " row (the first interval has one)";
            for (const std::string& term : set)
                if (!ref->second.count(term))
                    return entry + " has a " + term + " row, the first interval none";
        }
        if (m_intervalCount > 0)
            for (const auto& item : m_reference)
                if (std::none_of(terms.begin(), terms.end(),
                                 [&](const auto& e) { return e.first == item.first; }))
                    return item.first + " has no rows (the first interval has)";
        return "";
    }

    void CloseInterval(bool last) {
        if (m_table.m_rows.size() == m_intervalFirst)
            return;
        const CEntryTerms terms = IntervalTerms();
        const std::string lack = Lacks(terms);
        if (m_intervalCount == 0)
            m_reference = terms;
        if (lack.empty())
            return;
        const CBudgetRow& first = m_table.m_rows[m_intervalFirst];
        const std::string where = m_csv.Path() + " lines " + std::to_string(first.m_line) + "-" +
                                  std::to_string(m_table.m_rows.back().m_line) + " (the interval " +
                                  IntervalText(first.m_timeStart, first.m_timeEnd) + ")";
        if (!last || m_intervalCount == 0)
            throw ResultException(where + ": " + lack);
        // The engine may still be writing the last interval.
        m_table.m_notice += (m_table.m_notice.empty() ? "" : "; ") + where + " is not whole (" +
                            lack + ") and is left out";
        m_table.m_rows.resize(m_intervalFirst);
    }

    CCsvTableReader m_csv;
    CBudgetTable m_table;
    size_t m_intervalFirst = 0; // the first row of the interval being read
    int m_intervalCount = 0;    // intervals before it
    std::set<std::pair<std::string, std::string>> m_seen; // its entries and terms
    CEntryTerms m_reference;                              // those of the first interval
};

CBudgetSeries& SeriesOf(std::vector<CBudgetSeries>& all, const CBudgetRow& row) {
    for (CBudgetSeries& series : all)
        if (series.m_entry == row.m_entry)
            return series;
    CBudgetSeries& series = all.emplace_back();
    series.m_entry = row.m_entry;
    series.m_times = {row.m_timeStart};
    series.m_storage = {std::numeric_limits<double>::quiet_NaN()};
    return series;
}

// Opens the row's interval in the series when it is a new one: the sums
// carry over until its rows add to them.
void Advance(CBudgetSeries& series, const CBudgetRow& row) {
    if (series.m_times.back() == row.m_timeEnd)
        return;
    series.m_times.push_back(row.m_timeEnd);
    series.m_storage.push_back(std::numeric_limits<double>::quiet_NaN());
    for (std::vector<double>& sums : series.m_cumulative)
        sums.push_back(sums.back());
}

void AddChange(CBudgetSeries& series, const CBudgetRow& row) {
    auto it = std::find(series.m_terms.begin(), series.m_terms.end(), row.m_term);
    if (it == series.m_terms.end()) {
        series.m_terms.push_back(row.m_term);
        series.m_cumulative.emplace_back(series.m_times.size(), 0.0);
        it = series.m_terms.end() - 1;
    }
    std::vector<double>& sums =
        series.m_cumulative[static_cast<size_t>(it - series.m_terms.begin())];
    sums.back() += row.m_mass;
}

} // namespace

CBudgetTable ReadBudgetTable(const std::string& path) {
    return CBudgetReader(path).Read();
}

std::vector<CBudgetSeries> BuildBudgetSeries(const CBudgetTable& table) {
    std::vector<CBudgetSeries> all;
    for (const CBudgetRow& row : table.m_rows) {
        if (row.m_entry == BUDGET_WATER_ENTRY)
            continue;
        CBudgetSeries& series = SeriesOf(all, row);
        Advance(series, row);
        if (row.m_term == "storage_start") {
            if (series.m_times.size() == 2) // later starts repeat the end before
                series.m_storage.front() = row.m_mass;
        } else if (row.m_term == "storage_end")
            series.m_storage.back() = row.m_mass;
        else
            AddChange(series, row);
    }
    return all;
}

std::vector<std::pair<std::string, double>> WaterRates(const CBudgetTable& table) {
    std::vector<std::pair<std::string, double>> rates;
    for (const CBudgetRow& row : table.m_rows)
        if (row.m_entry == BUDGET_WATER_ENTRY)
            rates.emplace_back(row.m_term, row.m_mass);
    return rates;
}
