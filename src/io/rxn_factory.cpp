#include "io/rxn_factory.h"

#include "rxn/equi_freundlich.h"
#include "rxn/equi_langmuir.h"
#include "rxn/equi_lin.h"
#include "rxn/equi_lin_comb.h"
#include "rxn/equi_mass_action.h"
#include "rxn/kin_dual_monod.h"
#include "rxn/kin_dual_monod_inhib.h"
#include "rxn/kin_exchange.h"
#include "rxn/kin_freundlich.h"
#include "rxn/kin_langmuir.h"
#include "rxn/kin_lin.h"
#include "rxn/kin_monod.h"
#include "rxn/lin_assign.h"
#include "rxn/mixed_ordered.h"
#include "rxn/ordered.h"
#include "rxn/rule_curve.h"
#include "rxn/rxn.h"

#include <istream>

std::unique_ptr<CRxn> CreateRxn(int code, std::istream& in, int nComp, CSimulation* sim) {
    switch (code) {
    case 0:
        return std::make_unique<CEquiMassAction>(in, nComp, sim);
    case 1:
        return std::make_unique<CLinAssign>(in, nComp, sim);
    case 2:
        return std::make_unique<COrdered>(in, nComp, sim);
    case 3:
        return std::make_unique<CMixedOrdered>(in, nComp, sim);
    case 4:
        return std::make_unique<CKinMonod>(in, nComp, sim);
    case 5:
        return std::make_unique<CKinDualMonod>(in, nComp, sim);
    case 6:
        return std::make_unique<CKinDualMonodInhib>(in, nComp, sim);
    case 7:
        return std::make_unique<CKinExchange>(in, nComp, sim);
    case 8:
        return std::make_unique<CEquiLin>(in, nComp, sim);
    case 9:
        return std::make_unique<CEquiLangmuir>(in, nComp, sim);
    case 10:
        return std::make_unique<CEquiFreundlich>(in, nComp, sim);
    case 11:
        return std::make_unique<CKinLin>(in, nComp, sim);
    case 12:
        return std::make_unique<CKinLangmuir>(in, nComp, sim);
    case 13:
        return std::make_unique<CKinFreundlich>(in, nComp, sim);
    case 14:
        return std::make_unique<CRuleCurve>(in, nComp, sim);
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
