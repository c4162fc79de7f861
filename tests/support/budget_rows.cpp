#include "support/budget_rows.h"

#include "post/result_exception.h"

#include <gtest/gtest.h>

#include <cmath>

namespace kova_test {

std::vector<CBudgetRow> ReadBudget(const std::string& path) {
    try {
        const CBudgetTable table = ReadBudgetTable(path);
        EXPECT_EQ(table.m_notice, "") << path;
        return table.m_rows;
    } catch (const ResultException& e) {
        ADD_FAILURE() << e.Detail();
        return {};
    }
}

int IntervalCount(const std::vector<CBudgetRow>& rows) {
    int count = 0;
    for (size_t r = 0; r < rows.size(); ++r)
        if (r == 0 || rows[r].m_timeStart != rows[r - 1].m_timeStart)
            count += 1;
    return count;
}

std::vector<CBudgetRow> RowsOf(const std::vector<CBudgetRow>& rows, int interval,
                               const std::string& entry) {
    std::vector<CBudgetRow> out;
    int at = -1;
    for (size_t r = 0; r < rows.size(); ++r) {
        if (r == 0 || rows[r].m_timeStart != rows[r - 1].m_timeStart)
            at += 1;
        if (at == interval && rows[r].m_entry == entry)
            out.push_back(rows[r]);
    }
    return out;
}

double TermOf(const std::vector<CBudgetRow>& rows, const std::string& term) {
    for (const CBudgetRow& row : rows)
        if (row.m_term == term)
            return row.m_mass;
    return std::nan("");
}

} // namespace kova_test
