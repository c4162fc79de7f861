#include "sim/rxn_work.h"

void CRxnWork::Allocate(int nComp) {
    const size_t n = nComp > 0 ? static_cast<size_t>(nComp) : 0;
    m_nComp = nComp;
    m_sourceRate.reset(new double[n]());
    m_increment.reset(new double[n]());
    m_delta.reset(new double[n]());
    m_prevIter.reset(new double[n]());
    m_base.reset(new double[n]());
}
