// Conjugate gradients preconditioned by one V-cycle of hypre's BoomerAMG, on
// one process. The multigrid hierarchy is the costly part of a solve, so it is
// built once per matrix, when the solver is made; every Solve after that takes
// only the iterations (the heads of a transient model solve one matrix every
// step with new right-hand sides).
//
// hypre, as Debian builds it, runs on MPI. Both live in a module of their own
// (heads/amg_module.h, libkova_amg.so), which the first solver of a process
// loads; that solver, in a process that has not started MPI, starts it for
// that process alone (OpenMPI's isolated singleton: no daemon, no mpirun),
// and the process's exit ends it. A process that started MPI itself
// (kova-compute-mpi) keeps its own session, and the solver works on
// MPI_COMM_SELF either way.
#pragma once

#include "heads/sparse_solve.h"

#include <memory>
#include <vector>

// Whether this build has the solver (hypre and MPI were found when it was
// configured); without it the large heads keep the sparse factorization.
constexpr bool AMG_SOLVER_BUILT = KOVA_AMG_HEADS != 0;

// Where a solve stopped.
struct CAmgResult {
    int m_iterations = 0;
    double m_residual = 0.0; // ||b - A x|| / ||b||, Euclidean; 0 when b is 0
};

class CAmgSolver {
public:
    // a must be symmetric and positive definite (conjugate gradients need
    // both). Throws ComputeException when the build has no solver or hypre
    // refuses the matrix; std::bad_alloc when memory runs out.
    explicit CAmgSolver(const CSparseRows& a);
    ~CAmgSolver();
    CAmgSolver(const CAmgSolver&) = delete;
    CAmgSolver& operator=(const CAmgSolver&) = delete;

    int Size() const { return m_size; }

    // x holds the first guess on entry and the solution on return, after at
    // most maxIterations iterations or once the relative residual is at most
    // `residual`. b and x have Size() entries.
    CAmgResult Solve(const std::vector<double>& b, std::vector<double>& x, double residual,
                     int maxIterations);

    // The sum over the rows of |b - A x|_r / |a_rr|: how far one Jacobi pass
    // would still move x, the measure Gauss-Seidel sweeps stop on.
    double CorrectionSum(const std::vector<double>& b, const std::vector<double>& x);

private:
    struct CImpl;
    int m_size = 0;
    std::unique_ptr<CImpl> m_impl;
};
