#include "rxn/rxn_work.h"

#include "model/index.h"
#include "model/simulation.h"

#include <cstdint>

void CRxnWork::Allocate(int nComp) {
    constexpr size_t lineDoubles = RXN_WORK_LINE / sizeof(double);
    const size_t n = nComp > 0 ? static_cast<size_t>(nComp) : 0;
    const size_t stride = (n + lineDoubles - 1) / lineDoubles * lineDoubles;
    // The first array starts a page (a page of slack before it, a line
    // after the last), so that where the arrays lie relative to the other
    // data of the local integration does not depend on what was allocated
    // before: a 200 x 200 decay chain ran 6% slower, with or without the
    // mass budget, with the arrays where an extension file's allocations
    // had put them.
    constexpr size_t pageDoubles = RXN_WORK_PAGE / sizeof(double);
    m_storage.reset(new double[5 * stride + pageDoubles + lineDoubles]());
    const uintptr_t address = reinterpret_cast<uintptr_t>(m_storage.get());
    const size_t skip = (RXN_WORK_PAGE - address % RXN_WORK_PAGE) % RXN_WORK_PAGE / sizeof(double);
    double* first = m_storage.get() + skip;
    m_nComp = nComp;
    m_sourceRate = first;
    m_increment = first + stride;
    m_delta = first + 2 * stride;
    m_prevIter = first + 3 * stride;
    m_base = first + 4 * stride;
}

void CRxnWork::AllocateLedger(int rows) {
    const size_t count = ToSize(rows);
    m_ledgerStorage.reset(new double[count]());
    m_ledgerRows = rows;
    m_ledgerCarry = m_ledgerStorage.get();
}

double LocalTime(const CSimulation& s) {
    const CRxnWork* work = CRxnWork::Current();
    if (!work)
        return s.m_clock.m_rxnBaseTime;
    return s.m_clock.m_rxnBaseTime + work->m_elapsed;
}

double LocalEndTime(const CSimulation& s) {
    const CRxnWork* work = CRxnWork::Current();
    if (!work)
        return s.m_clock.m_rxnBaseTime;
    return s.m_clock.m_rxnBaseTime + work->m_elapsed + work->m_localStep;
}
