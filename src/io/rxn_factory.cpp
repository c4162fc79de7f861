#include "io/rxn_factory.h"

#include "rxn/equi_freundlich.h"
#include "rxn/equi_langmuir.h"
#include "rxn/equi_lin.h"
#include "rxn/equi_lin_comb.h"
#include "rxn/equi_mass_action.h"
#include "rxn/lin_assign.h"
#include "rxn/rxn.h"

#include <istream>

std::unique_ptr<CRxn> CreateRxn(int code, std::istream& in, int nComp, CSimulation* sim) {
    (void)in;
    (void)nComp;
    (void)sim;
    switch (code) {
    case 0:
        return std::make_unique<CEquiMassAction>(in, nComp, sim);
    case 1:
        return std::make_unique<CLinAssign>(in, nComp, sim);
    case 8:
        return std::make_unique<CEquiLin>(in, nComp, sim);
    case 9:
        return std::make_unique<CEquiLangmuir>(in, nComp, sim);
    case 10:
        return std::make_unique<CEquiFreundlich>(in, nComp, sim);
    case 15:
        return std::make_unique<CEquiLinComb>(in, nComp, sim);
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
