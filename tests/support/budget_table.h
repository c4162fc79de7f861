// BASE.budget.csv read back for assertions.
#pragma once

#include <string>
#include <vector>

namespace kova_test {

struct CBudgetRow {
    double start = 0.0;
    double end = 0.0;
    std::string entry;
    std::string term;
    double mass = 0.0;
};

// The rows of a budget file; fails the calling test (ADD_FAILURE) on a bad header or row.
std::vector<CBudgetRow> ReadBudget(const std::string& path);

// The rows of one interval (counted from 0) and entry, in file order.
std::vector<CBudgetRow> RowsOf(const std::vector<CBudgetRow>& rows, int interval,
                               const std::string& entry);
// The mass of one term of those rows; NaN when it is not there.
double TermOf(const std::vector<CBudgetRow>& rows, const std::string& term);
// Intervals in the file.
int IntervalCount(const std::vector<CBudgetRow>& rows);

} // namespace kova_test
