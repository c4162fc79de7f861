// The solve of the initial heads on grids whose band matrix would take more
// than CModelSettings::m_headBandMaxBytes: the same equations as the band
// elimination, solved by conjugate gradients with AMG (heads/amg_solve.h;
// EHeadSolve::AMG, where the build has it) or by a sparse factorization
// (heads/sparse_solve.h; EHeadSolve::SPARSE, and any equations that are not
// symmetric, which conjugate gradients cannot take: s.m_headSolve then says
// SPARSE). The AMG solve's iterations and residual go to s.m_times.
//
// The rows that fix a value on their own (a fixed head; an isolated node,
// whose head is 0) are taken out, their values moved to the right-hand sides
// of their neighbours; the rest is factored. Every computed-head node gets its
// head in SLOT_HEAD, as after the band elimination and back substitution; the
// flux slots and m_work are not used, so the first m_nValues doubles of m_work
// stay as allocated (0): the first step's predictor is then the initial state
// itself, near what the band elimination leaves there (mostly zeros).
//
// InitHeads has made sure that a fixed head holds every group of coupled
// computed-head nodes, so the system has one solution.
#pragma once

class CSimulation;

void SolveHeadsSparse(CSimulation& s);

// Whether node n's row fixes its value alone: a fixed head, or a computed
// head none of whose conductances is non-zero (an isolated node: diagonal 1,
// right-hand side 0); and that value. Also the rows a distributed solve
// takes out.
bool HasFixedRow(const CSimulation& s, int n);
double FixedValue(const CSimulation& s, int n);
