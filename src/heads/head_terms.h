// The terms of a node's water balance, shared by the band elimination, the
// sparse solve and the sweeps of the initial heads.
#pragma once

#include "model/limits.h"
#include "model/node_view.h"
#include "model/simulation.h"

// Harmonic-mean conductance of a face of width w between nodes d apart.
inline double Conductance(double ka, double kb, double w, double d) {
    return 2.0 * ka * kb * w / ((ka + kb) * d);
}

// Visits (neighbour node, conductance) for every existing neighbour of node
// (i, j), in the order (i-1, j), (i+1, j), (i, j-1), (i, j+1). A direction
// counts only when the node's own conductivity for it is positive; the grid
// edge has no neighbour and so no flow.
template <typename Visit> void ForEachConductance(const CSimulation& s, int i, int j, Visit visit) {
    const double* state = s.m_stateNew.get();
    const double* rowCoord = s.m_grid.m_rowCoord.get();
    const double* colCoord = s.m_grid.m_colCoord.get();
    const int nComp = s.m_nComp;
    const int n = i * s.m_nCols + j;
    const CNodeView node(state + n * nComp);

    const double kRow = node.KRow();
    if (kRow > 0.0) {
        const double w = s.m_grid.m_colWidth.get()[j];
        if (i > 0) {
            const int b = n - s.m_nCols;
            const double kb = NodeOf(state, nComp, b).KRow();
            visit(b, Conductance(kRow, kb, w, rowCoord[i] - rowCoord[i - 1]));
        }
        if (i < s.m_nRows - 1) {
            const int b = n + s.m_nCols;
            const double kb = NodeOf(state, nComp, b).KRow();
            visit(b, Conductance(kRow, kb, w, rowCoord[i + 1] - rowCoord[i]));
        }
    }
    const double kCol = node.KCol();
    if (kCol > 0.0) {
        const double w = s.m_grid.m_rowWidth.get()[i];
        if (j > 0) {
            const int b = n - 1;
            const double kb = NodeOf(state, nComp, b).KCol();
            visit(b, Conductance(kCol, kb, w, colCoord[j] - colCoord[j - 1]));
        }
        if (j < s.m_nCols - 1) {
            const int b = n + 1;
            const double kb = NodeOf(state, nComp, b).KCol();
            visit(b, Conductance(kCol, kb, w, colCoord[j + 1] - colCoord[j]));
        }
    }
}

// Volume of water added per unit time at node (i, j): porosity x cell area x
// source rate.
inline double VolumeSource(const CSimulation& s, int i, int j, CNodeView node) {
    const double area = s.m_grid.m_rowWidth.get()[i] * s.m_grid.m_colWidth.get()[j];
    return node.Porosity() * area * node.Source();
}
