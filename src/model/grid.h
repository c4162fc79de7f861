// The grid's geometry: cell widths from the node coordinates. The reader, the
// extension file's checks and the head solve take the same widths from here.
#pragma once

#include "model/node_array.h"

class CSimulation;

// The grid: node coordinates, cell widths (the head balance's and the
// budget's) and each node's type (NODE_NORMAL, NODE_HEAD). Part of the model,
// sized by AllocateArrays and filled by the reader.
struct CGrid {
    CNodeArray<double> m_rowCoord;
    CNodeArray<double> m_colCoord;
    CNodeArray<double> m_rowWidth;
    CNodeArray<double> m_colWidth;
    CNodeArray<unsigned char> m_nodeType;

    void Free() {
        m_rowCoord.reset();
        m_colCoord.reset();
        m_rowWidth.reset();
        m_colWidth.reset();
        m_nodeType.reset();
    }
};

// Fills count cell widths from count node coordinates along one axis: a lone
// node is 1.0 wide, an edge node the full distance to its one neighbour, an
// inner node half the distance between its two neighbours.
void ComputeCellWidths(double* widths, const double* coords, int count);

// The widest cell along one axis (count at least 1).
double WidestCell(const double* coords, int count);

// The model's row and column widths from its coordinates.
void SetCellWidths(CSimulation& s);
