#include "sim/rxn_work.h"

namespace {

// Borrowed: the work of the Integrate running on this thread; not freed here.
thread_local const CRxnWork* t_currentWork = nullptr;

} // namespace

void CRxnWork::Allocate(int nComp) {
    const size_t n = nComp > 0 ? static_cast<size_t>(nComp) : 0;
    m_nComp = nComp;
    m_sourceRate.reset(new double[n]());
    m_increment.reset(new double[n]());
    m_delta.reset(new double[n]());
    m_prevIter.reset(new double[n]());
    m_base.reset(new double[n]());
}

const CRxnWork* CRxnWork::Current() {
    return t_currentWork;
}

CRxnWorkScope::CRxnWorkScope(const CRxnWork& work) : m_previous(t_currentWork) {
    t_currentWork = &work;
}

CRxnWorkScope::~CRxnWorkScope() {
    t_currentWork = m_previous;
}
