#include "transport/krylov_solve.h"

void CKrylovWork::Resize(Eigen::Index n) {
    for (Eigen::VectorXd* v : {&m_r, &m_r0, &m_v, &m_p, &m_y, &m_z, &m_s, &m_t, &m_scratch})
        v->resize(n);
}
