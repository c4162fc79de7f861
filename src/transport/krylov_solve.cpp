#include "transport/krylov_solve.h"

#include <cmath>
#include <limits>

void CIncompleteLu::Apply(const Eigen::VectorXd& b, Eigen::VectorXd& work,
                          Eigen::VectorXd& x) const {
    work.noalias() = m_Pinv * b;
    m_lu.triangularView<Eigen::UnitLower>().solveInPlace(work);
    m_lu.triangularView<Eigen::Upper>().solveInPlace(work);
    x.noalias() = m_P * work;
}

void CKrylovWork::Resize(Eigen::Index n) {
    for (Eigen::VectorXd* v : {&m_r, &m_r0, &m_v, &m_p, &m_y, &m_z, &m_s, &m_t, &m_scratch})
        v->resize(n);
}

CKrylovResult SolveBicgstab(const CRowMatrix& a, const CIncompleteLu& factor,
                            const Eigen::VectorXd& b, Eigen::VectorXd& x, CKrylovWork& w,
                            double tolerance, int maxIterations) {
    CKrylovResult result;
    w.m_r = b;
    w.m_r.noalias() -= a * x;
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
            w.m_r = b;
            w.m_r.noalias() -= a * x;
            w.m_r0 = w.m_r;
            rho = r0Norm2 = w.m_r.squaredNorm();
            if (restarts++ == 0)
                i = 0;
        }
        const double beta = (rho / rhoOld) * (alpha / omega);
        w.m_p = w.m_r + beta * (w.m_p - omega * w.m_v);
        factor.Apply(w.m_p, w.m_scratch, w.m_y);
        w.m_v.noalias() = a * w.m_y;
        alpha = rho / w.m_r0.dot(w.m_v);
        w.m_s = w.m_r - alpha * w.m_v;
        factor.Apply(w.m_s, w.m_scratch, w.m_z);
        w.m_t.noalias() = a * w.m_z;
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
