// BiCGSTAB with an incomplete LU preconditioner whose work lives in
// preallocated vectors, so that a solve inside the time loop allocates
// nothing. Eigen's own BiCGSTAB makes eight vectors of the system's size in
// every solve, and its incomplete LU permutes in place through a temporary
// mask; the arithmetic here is Eigen's algorithm, step for step.
#pragma once

#include <Eigen/IterativeLinearSolvers>
#include <Eigen/SparseCore>

using CRowMatrix = Eigen::SparseMatrix<double, Eigen::RowMajor, int>;

// Eigen's incomplete LU (threshold, fill-reducing ordering), applied without
// a temporary.
class CIncompleteLu : public Eigen::IncompleteLUT<double, int> {
public:
    // x = the factor's solve of b; work is a vector of b's size.
    void Apply(const Eigen::VectorXd& b, Eigen::VectorXd& work, Eigen::VectorXd& x) const;
};

// The vectors of one solve, sized once.
struct CKrylovWork {
    Eigen::VectorXd m_r, m_r0, m_v, m_p, m_y, m_z, m_s, m_t, m_scratch;
    void Resize(Eigen::Index n);
};

struct CKrylovResult {
    Eigen::ComputationInfo m_info = Eigen::Success;
    int m_iterations = 0;
    double m_error = 0.0; // the relative residual reached
};

// Solves a x = b from the guess in x, to the relative residual tolerance in
// at most maxIterations; m_info is NoConvergence when the tolerance was not
// reached and NumericalIssue when the residual is not a number.
CKrylovResult SolveBicgstab(const CRowMatrix& a, const CIncompleteLu& factor,
                            const Eigen::VectorXd& b, Eigen::VectorXd& x, CKrylovWork& work,
                            double tolerance, int maxIterations);
