#include "model/grid.h"

#include "model/index.h"
#include "model/simulation.h"

#include <algorithm>
#include <vector>

void ComputeCellWidths(double* widths, const double* coords, int count) {
    if (count < 1)
        return;
    if (count == 1) {
        widths[0] = 1.0;
        return;
    }
    // Edge cells reach the full distance to their one neighbour.
    widths[0] = coords[1] - coords[0];
    widths[count - 1] = coords[count - 1] - coords[count - 2];
    for (int k = 1; k < count - 1; ++k)
        widths[k] = (coords[k + 1] - coords[k - 1]) * 0.5;
}

double WidestCell(const double* coords, int count) {
    std::vector<double> widths(ToSize(count));
    ComputeCellWidths(widths.data(), coords, count);
    return *std::max_element(widths.begin(), widths.end());
}

void SetCellWidths(CSimulation& s) {
    ComputeCellWidths(s.m_grid.m_rowWidth.get(), s.m_grid.m_rowCoord.get(), s.m_nRows);
    ComputeCellWidths(s.m_grid.m_colWidth.get(), s.m_grid.m_colCoord.get(), s.m_nCols);
}
