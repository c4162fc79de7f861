// The grid's geometry: cell widths from the node coordinates. The reader, the
// extension file's checks and the head solve take the same widths from here.
#pragma once

class CSimulation;

// Fills count cell widths from count node coordinates along one axis: a lone
// node is 1.0 wide, an edge node the full distance to its one neighbour, an
// inner node half the distance between its two neighbours.
void ComputeCellWidths(double* widths, const double* coords, int count);

// The widest cell along one axis (count at least 1).
double WidestCell(const double* coords, int count);

// The model's row and column widths from its coordinates.
void SetCellWidths(CSimulation& s);
