// BiCGSTAB with a preconditioner, its work in preallocated vectors, so that
// a solve inside the time loop allocates nothing (Eigen's own BiCGSTAB makes
// eight vectors of the system's size in every solve); the arithmetic is
// Eigen's algorithm, step for step.
#pragma once

#include <Eigen/Core>
#include <Eigen/SparseCore>

#include <cmath>
#include <limits>

using CRowMatrix = Eigen::SparseMatrix<double, Eigen::RowMajor, int>;

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

inline void Multiply(const CRowMatrix& a, const Eigen::VectorXd& x, Eigen::VectorXd& y) {
    y.noalias() = a * x;
}

// Solves a x = b from the guess in x, to the relative residual tolerance in
// at most maxIterations; m_info is NoConvergence when the tolerance was not
// reached and NumericalIssue when the residual is not a number. Matrix: one
// that Multiply(a, x, y) takes; Factor: one with Apply(b, work, x).
template <typename Matrix, typename Factor>
CKrylovResult SolveBicgstab(const Matrix& a, const Factor& factor, const Eigen::VectorXd& b,
                            Eigen::VectorXd& x, CKrylovWork& w, double tolerance,
                            int maxIterations) {
    CKrylovResult result;
    Multiply(a, x, w.m_t);
    w.m_r = b - w.m_t;
    w.m_r0 = w.m_r;
    double r0Norm2 = w.m_r0.squaredNorm();
    const double bNorm2 = b.squaredNorm();
    if (bNorm2 == 0.0) {
        x.setZero();
        return result;
    }
    double rho = 1.0;
    double alpha = 1.0;
    double omega = 1.0;
    w.m_v.setZero();
    w.m_p.setZero();
    const double tol2 = tolerance * tolerance * bNorm2;
    const double eps = std::numeric_limits<double>::epsilon();
    int i = 0;
    int restarts = 0;
    while (w.m_r.squaredNorm() > tol2 && i < maxIterations) {
        const double rhoOld = rho;
        rho = w.m_r0.dot(w.m_r);
        if (std::fabs(rho) < eps * eps * r0Norm2) {
            // The residual has become too orthogonal to r0: start again from
            // the current residual.
            Multiply(a, x, w.m_t);
            w.m_r = b - w.m_t;
            w.m_r0 = w.m_r;
            rho = r0Norm2 = w.m_r.squaredNorm();
            if (restarts++ == 0)
                i = 0;
        }
        const double beta = (rho / rhoOld) * (alpha / omega);
        w.m_p = w.m_r + beta * (w.m_p - omega * w.m_v);
        factor.Apply(w.m_p, w.m_scratch, w.m_y);
        Multiply(a, w.m_y, w.m_v);
        alpha = rho / w.m_r0.dot(w.m_v);
        w.m_s = w.m_r - alpha * w.m_v;
        factor.Apply(w.m_s, w.m_scratch, w.m_z);
        Multiply(a, w.m_z, w.m_t);
        const double tt = w.m_t.squaredNorm();
        omega = tt > 0.0 ? w.m_t.dot(w.m_s) / tt : 0.0;
        x += alpha * w.m_y + omega * w.m_z;
        w.m_r = w.m_s - omega * w.m_t;
        ++i;
    }
    result.m_iterations = i;
    result.m_error = std::sqrt(w.m_r.squaredNorm() / bNorm2);
    if (!std::isfinite(result.m_error))
        result.m_info = Eigen::NumericalIssue;
    else if (!(result.m_error <= tolerance))
        result.m_info = Eigen::NoConvergence;
    return result;
}
