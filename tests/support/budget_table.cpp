#include "support/budget_table.h"

#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

namespace kova_test {

std::vector<CBudgetRow> ReadBudget(const std::string& path) {
    std::istringstream in(ReadTextFile(path));
    std::string line;
    std::getline(in, line);
    EXPECT_EQ(line, "time_start,time_end,entry,term,mass") << path;
    std::vector<CBudgetRow> rows;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string start, end, mass;
        CBudgetRow row;
        std::getline(fields, start, ',');
        std::getline(fields, end, ',');
        std::getline(fields, row.entry, ',');
        std::getline(fields, row.term, ',');
        std::getline(fields, mass, ',');
        if (mass.empty() || fields.rdbuf()->in_avail() > 0) {
            ADD_FAILURE() << "bad row in " << path << ": " << line;
            continue;
        }
        row.start = std::stod(start);
        row.end = std::stod(end);
        row.mass = std::stod(mass);
        rows.push_back(row);
    }
    return rows;
}

int IntervalCount(const std::vector<CBudgetRow>& rows) {
    int count = 0;
    for (size_t r = 0; r < rows.size(); ++r)
        if (r == 0 || rows[r].start != rows[r - 1].start)
            count += 1;
    return count;
}

std::vector<CBudgetRow> RowsOf(const std::vector<CBudgetRow>& rows, int interval,
                               const std::string& entry) {
    std::vector<CBudgetRow> out;
    int at = -1;
    for (size_t r = 0; r < rows.size(); ++r) {
        if (r == 0 || rows[r].start != rows[r - 1].start)
            at += 1;
        if (at == interval && rows[r].entry == entry)
            out.push_back(rows[r]);
    }
    return out;
}

double TermOf(const std::vector<CBudgetRow>& rows, const std::string& term) {
    for (const CBudgetRow& row : rows)
        if (row.term == term)
            return row.mass;
    return std::nan("");
}

} // namespace kova_test
