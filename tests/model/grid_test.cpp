// Cell widths from node coordinates: what the heads, the flow field and the
// reader's checks all take as a cell's extent.
#include "model/grid.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

struct CWidthCase {
    const char* name;
    std::vector<double> coords;
    std::vector<double> widths;
};

class CellWidths : public ::testing::TestWithParam<CWidthCase> {};

TEST_P(CellWidths, FollowTheNeighbours) {
    const CWidthCase& c = GetParam();
    const int count = static_cast<int>(c.coords.size());
    std::vector<double> widths(c.coords.size(), -1.0);
    ComputeCellWidths(widths.data(), c.coords.data(), count);
    EXPECT_EQ(widths, c.widths);
    double widest = c.widths[0];
    for (double w : c.widths)
        widest = std::max(widest, w);
    EXPECT_EQ(WidestCell(c.coords.data(), count), widest);
}

// Edge cells reach the full distance to their one neighbour, inner cells
// half the distance between theirs; a lone node is 1 wide.
INSTANTIATE_TEST_SUITE_P(
    Axes, CellWidths,
    ::testing::Values(CWidthCase{"lone", {5.0}, {1.0}}, CWidthCase{"pair", {2.0, 5.0}, {3.0, 3.0}},
                      CWidthCase{"uneven", {0.0, 1.0, 4.0, 10.0}, {1.0, 2.0, 4.5, 6.0}},
                      CWidthCase{"widest at the edge", {0.0, 8.0, 9.0}, {8.0, 4.5, 1.0}}),
    [](const ::testing::TestParamInfo<CWidthCase>& param) {
        std::string name = param.param.name;
        for (char& ch : name)
            if (ch == ' ')
                ch = '_';
        return name;
    });

} // namespace
