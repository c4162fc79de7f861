// The steady flow field: Darcy fluxes across the grid's faces from the initial
// heads (FaceFlux, ComputeFlowField) and, from them,
// the dispersion tensor of every node and mobile component.
//
// SLOT_FLUXROW of node (i, j) is the flux to (i+1, j), SLOT_FLUXCOL the flux
// to (i, j+1); a positive flux runs towards the higher index, and the last
// row and column keep 0. m_dispCoef holds Drr, Dcc, Drc at
// 3 * (n * m_nMobile + s) + 0, 1, 2 for node n and mobile component s.
#pragma once

class CSimulation;

// Dispersion along the flux component qa, with qb across it:
// (alphaL * qa^2 + alphaT * qb^2) / (|q| * theta); 0 where there is no flow.
double DispersionDiagonal(double alphaL, double alphaT, double qa, double qb, double theta);

// Cross term of the tensor: (alphaL - alphaT) * qa * qb / (|q| * theta); 0 where
// there is no flow.
double DispersionCross(double alphaL, double alphaT, double qa, double qb, double theta);

// The Darcy flux from the node whose values start at a to the one at b, d
// apart, per unit face area, with the conductivities in entry slot.
double FaceFlux(const CSimulation& sim, int a, int b, double d, int slot);

// Fluxes across every face, then every node's dispersion tensor.
void ComputeFlowField(CSimulation& sim);
// The same over the rows rowBegin..rowEnd-1 alone: the faces between two of
// them and the faces along them, and their nodes' tensors (which take the
// faces towards the next row and column: the last row's, when it is not the
// grid's, stay unknown).
void ComputeFlowFieldOfRows(CSimulation& sim, int rowBegin, int rowEnd);
