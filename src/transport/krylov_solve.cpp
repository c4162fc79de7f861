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
