// The distributed heads of a run over MPI (kova-compute-mpi --heads
// distributed): instead of the band or sparse solve that every rank repeats
// on the whole grid, each rank assembles the head equations of its own slab
// (the rows the serial assembly builds, fixed neighbours moved to the
// right-hand side) into one system that hypre solves by conjugate gradients
// preconditioned with algebraic multigrid (BoomerAMG) down to a relative
// residual of PAR_HEAD_RESIDUAL. Then Gauss-Seidel sweeps run over each slab,
// the heads of the rows beside it exchanged after every sweep, until the sum
// of the changes over all ranks is at most opzero, the serial stopping rule.
// Every rank finally holds every node's head and source rate, the same bits
// on every rank (the flow field that follows is computed on every rank).
//
// The heads agree with those of the default path to about 1e-10 relative,
// not bit for bit: the sweeps stop at the same rule from a different start
// and in a different order.
#pragma once

class CParComm;
class CSimulation;

constexpr double PAR_HEAD_RESIDUAL = 1e-13; // relative residual of the distributed solve
constexpr int PAR_HEAD_MAX_ITERATIONS = 1000;

// What the distributed solve did, for --timings.
struct CParHeadReport {
    int m_iterations = 0;    // conjugate-gradient iterations
    double m_residual = 0.0; // final relative residual
    int m_sweeps = 0;
};

// As InitHeads (heads/heads.h), over the ranks of comm; collective. The
// failures are those of InitHeads (the same class and text on every rank),
// and a solve that stops above PAR_HEAD_RESIDUAL is a ComputeException.
void ParInitHeads(CSimulation& s, const CParComm& comm, CParHeadReport& report);
