// The faces of the grid as the transport step sees them: a row face joins
// (i, j) to (i+1, j), a column face (i, j) to (i, j+1); node a is the one with
// the lower index.
#pragma once

#include "model/limits.h"
#include "model/node_view.h"
#include "model/simulation.h"

// What differs between a row face and a column face.
struct CFace {
    int a = 0;       // first value of node a (the lower index)
    int b = 0;       // first value of node b
    double d = 0.0;  // distance between a and b
    double q = 0.0;  // Darcy flux from a to b
    double wa = 0.0; // widths of the two cells along the face normal
    double wb = 0.0;
    int diagCoef = 0;             // 0: Drr (row faces), 1: Dcc (column faces)
    bool cross = false;           // node a has neighbours on both sides across the face
    int crossLow = 0;             // first value of a's neighbour below on the other axis
    int crossHigh = 0;            // and above
    double crossD = 0.0;          // distance between those two neighbours
    const double* coef = nullptr; // borrowed: node a's m_dispCoef triples
};

// The porosity at a face: the mean of its two nodes'.
inline double MeanPorosity(const double* state, const CFace& f) {
    return (NodeAt(state, f.a).Porosity() + NodeAt(state, f.b).Porosity()) * 0.5;
}

// Builds the row face (i, j) to (i+1, j); the cross term runs along the columns.
inline CFace RowFace(const CSimulation& s, int i, int j) {
    const int nComp = s.m_nComp;
    const int n = i * s.m_nCols + j;
    CFace f;
    const double* rowCoord = s.m_grid.m_rowCoord.get();
    const double* rowWidth = s.m_grid.m_rowWidth.get();
    f.a = n * nComp;
    f.b = (n + s.m_nCols) * nComp;
    f.d = rowCoord[i + 1] - rowCoord[i];
    f.q = NodeAt(s.m_state, f.a).FluxRow();
    f.wa = rowWidth[i];
    f.wb = rowWidth[i + 1];
    f.diagCoef = 0;
    f.cross = 0 < j && j < s.m_nCols - 1;
    if (f.cross) {
        const double* colCoord = s.m_grid.m_colCoord.get();
        f.crossLow = (n - 1) * nComp;
        f.crossHigh = (n + 1) * nComp;
        f.crossD = colCoord[j + 1] - colCoord[j - 1];
    }
    f.coef = s.m_dispCoef.get() + 3 * n * s.m_nMobile;
    return f;
}

// Builds the column face (i, j) to (i, j+1); the cross term runs along the rows.
inline CFace ColumnFace(const CSimulation& s, int i, int j) {
    const int nComp = s.m_nComp;
    const int n = i * s.m_nCols + j;
    CFace f;
    const double* colCoord = s.m_grid.m_colCoord.get();
    const double* colWidth = s.m_grid.m_colWidth.get();
    f.a = n * nComp;
    f.b = (n + 1) * nComp;
    f.d = colCoord[j + 1] - colCoord[j];
    f.q = NodeAt(s.m_state, f.a).FluxCol();
    f.wa = colWidth[j];
    f.wb = colWidth[j + 1];
    f.diagCoef = 1;
    f.cross = 0 < i && i < s.m_nRows - 1;
    if (f.cross) {
        const double* rowCoord = s.m_grid.m_rowCoord.get();
        f.crossLow = (n - s.m_nCols) * nComp;
        f.crossHigh = (n + s.m_nCols) * nComp;
        f.crossD = rowCoord[i + 1] - rowCoord[i - 1];
    }
    f.coef = s.m_dispCoef.get() + 3 * n * s.m_nMobile;
    return f;
}
