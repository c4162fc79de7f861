// A run's BASE.budget.csv as the tools read it, cut up for assertions.
#pragma once

#include "post/budget_table.h"

#include <string>
#include <vector>

namespace kova_test {

// The rows of a budget file, read by the tools' strict reader (a file it
// refuses fails the calling test).
std::vector<CBudgetRow> ReadBudget(const std::string& path);
// The rows of one interval (counted from 0) and entry, in file order.
std::vector<CBudgetRow> RowsOf(const std::vector<CBudgetRow>& rows, int interval,
                               const std::string& entry);
// The mass of one term of those rows; NaN when it is not there.
double TermOf(const std::vector<CBudgetRow>& rows, const std::string& term);
int IntervalCount(const std::vector<CBudgetRow>& rows);

} // namespace kova_test
