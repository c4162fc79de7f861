#include "io/rxn_factory.h"

#include "rxn/rxn.h"

#include <istream>

std::unique_ptr<CRxn> CreateRxn(int code, std::istream& in, int nComp, CSimulation* sim) {
    (void)in;
    (void)nComp;
    (void)sim;
    switch (code) {
    default:
        return nullptr;
    }
}

const char* RxnTypeName(int code) {
    static const char* const names[] = {
        "CEquiMassAction", "CLinAssign",     "COrdered",           "CMixedOrdered",
        "CKinMonod",       "CKinDualMonod",  "CKinDualMonodInhib", "CKinExchange",
        "CEquiLin",        "CEquiLangmuir",  "CEquiFreundlich",    "CKinLin",
        "CKinLangmuir",    "CKinFreundlich", "CRuleCurve",         "CEquiLinComb"};
    if (code < 0 || code >= static_cast<int>(sizeof names / sizeof names[0]))
        return nullptr;
    return names[code];
}
