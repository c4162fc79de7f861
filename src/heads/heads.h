// Steady hydraulic heads: cell widths, a direct band solve of the nodes' water
// balances, then Gauss-Seidel sweeps that refine the heads and give every
// fixed-head node the source rate that holds its head (InitHeads,
// RelaxNodeHead).
//
// The band matrix lives in CSimulation::m_work: row r (node r) starts at r * W
// with W = 2 * m_nCols + 1, and its entry in column c lies at
// r * W + m_nCols + (c - r). The right-hand side is kept in each node's
// SLOT_FLUXCOL and the solution in its SLOT_FLUXROW; both are cleared again
// before the sweeps. What the elimination leaves in m_work is the first
// m_state of the time loop, so the matrix is stored exactly as laid out here.
#pragma once

class CSimulation;

// Caption and text of the report for a node type other than NODE_NORMAL or
// NODE_HEAD met in a sweep (the reader produces only those two).
constexpr const char* HEAD_GUARD_CAPTION = "KOVA Compute";
constexpr const char* HEAD_GUARD_TEXT = "ERROR-WRONG TYPE OF NODE, NOT HEAD or NORMAL";

// Cell widths, the solve of the equations (band, sparse or AMG, by
// CSimulation::m_headSolve), then sweeps until the sum of changes is at most
// opzero.
void InitHeads(CSimulation& s);

// The steps of the band solve: the matrix and right-hand sides written into
// m_work and SLOT_FLUXCOL; the elimination there, which leaves every row
// divided by its diagonal and the entries below the diagonal zero; the back
// substitution, which puts the solution into SLOT_FLUXROW. The entries not in
// the matrix must be zero before the first step.
void AssembleBandMatrix(CSimulation& s);
void EliminateBand(CSimulation& s);
void BackSubstitute(CSimulation& s);

// Throws ComputeException when a group of coupled computed-head nodes is held
// by no fixed head (its equations have no unique solution). Also used by the
// distributed heads of a run over several processes, for the same message.
void CheckEveryGroupIsHeld(const CSimulation& s);
// The same from every node's coupling (CouplingBits), which a run over
// several processes gathers on rank 0.
void CheckEveryGroupIsHeld(const CSimulation& s, const unsigned char* coupling);
// The neighbours node n is joined to by a conductance that is not 0: bit d
// for the d-th of (i-1, j), (i+1, j), (i, j-1), (i, j+1).
unsigned char CouplingBits(const CSimulation& s, int n);

// Throws the failure of sweeps that did not settle in HEAD_MAX_SWEEPS, with
// the last sum of changes.
[[noreturn]] void ThrowHeadsUnsettled(const CSimulation& s, double sum);

// Throws ComputeException naming the first node whose head or source rate is
// not finite.
void CheckHeadsAreFinite(const CSimulation& s);
// The same over the nodes first..end-1.
void CheckHeadsAreFinite(const CSimulation& s, int first, int end);

// One Gauss-Seidel update of node (i, j): a computed head gets the weighted
// mean of its neighbours plus its source, a fixed head the source rate that
// holds it. Returns the size of the change.
double RelaxNodeHead(CSimulation& s, int i, int j);
