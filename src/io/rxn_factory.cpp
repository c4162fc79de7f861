#include "io/rxn_factory.h"

#include "rxn/rxn.h"
#include "rxn/rxn_types.h"

std::unique_ptr<CRxn> CreateRxn(int code, std::istream& in, int nComp, CSimulation* sim) {
    const CRxnType* type = FindRxnType(code);
    return type ? type->m_make(in, nComp, sim) : nullptr;
}

const char* RxnTypeName(int code) {
    const CRxnType* type = FindRxnType(code);
    return type ? type->m_className : nullptr;
}
