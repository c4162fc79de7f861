#include "rxn/rxn_types.h"

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

#include <istream>

namespace {

template <class T> std::unique_ptr<CRxn> Make(std::istream& in, int nComp, CSimulation* sim) {
    return std::make_unique<T>(in, nComp, sim);
}

using F = ERxnRecordField;
constexpr ERxnKind EQUI = ERxnKind::Equilibrium;
constexpr ERxnKind KIN = ERxnKind::Kinetic;

// Most records lead with the stoichiometry; type 1 keeps its weights there.
const CRxnRecordField STOICH = {"stoichiometry", F::Vector, "coefficients"};

std::vector<CRxnType> MakeTable() {
    // clang-format off
    return {
        {0, "CEquiMassAction", EQUI,
         {STOICH, {"exponents", F::IntVector, "exponents"}, {"keq", F::Real, "Keq"}},
         Make<CEquiMassAction>},
        {1, "CLinAssign", EQUI,
         {{"weights", F::Vector, "weights"}, {"target", F::Entry, "target"},
          {"constant", F::Real, "b"}},
         Make<CLinAssign>},
        {2, "COrdered", KIN,
         {STOICH, {"order", F::Order, "order"}, {"entry", F::Entry, "entry"},
          {"rate", F::Real, "k"}},
         Make<COrdered>},
        {3, "CMixedOrdered", KIN,
         {STOICH, {"rate", F::Real, "k"}, {"factors", F::Factors, "entries"}},
         Make<CMixedOrdered>},
        {4, "CKinMonod", KIN,
         {STOICH, {"rate", F::Real, "k"}, {"half_saturation", F::Real, "K"},
          {"biomass", F::EntryOrNone, "biomass"}, {"substrate", F::Entry, "substrate"}},
         Make<CKinMonod>},
        {5, "CKinDualMonod", KIN,
         {STOICH, {"rate", F::Real, "k"}, {"half_donor", F::Real, "Kd"},
          {"half_acceptor", F::Real, "Ka"}, {"biomass", F::EntryOrNone, "biomass"},
          {"donor", F::Entry, "donor"}, {"acceptor", F::Entry, "acceptor"}},
         Make<CKinDualMonod>},
        {6, "CKinDualMonodInhib", KIN,
         {STOICH, {"rate", F::Real, "k"}, {"half_donor", F::Real, "Kd"},
          {"half_acceptor", F::Real, "Ka"}, {"inhibition", F::Real, "Ki"},
          {"biomass", F::EntryOrNone, "biomass"}, {"donor", F::Entry, "donor"},
          {"acceptor", F::Entry, "acceptor"}, {"inhibitor", F::Entry, "inhibitor"}},
         Make<CKinDualMonodInhib>},
        {7, "CKinExchange", KIN,
         {STOICH, {"rate", F::Real, "k"}, {"first", F::Entry, "x"}, {"second", F::Entry, "y"}},
         Make<CKinExchange>},
        {8, "CEquiLin", EQUI,
         {STOICH, {"kd", F::Real, "Kd"}, {"solute", F::Entry, "solute"},
          {"sorbed", F::Entry, "sorbed"}},
         Make<CEquiLin>},
        {9, "CEquiLangmuir", EQUI,
         {STOICH, {"capacity", F::Real, "A"}, {"half_saturation", F::Real, "B"},
          {"solute", F::Entry, "solute"}, {"sorbed", F::Entry, "sorbed"}},
         Make<CEquiLangmuir>},
        {10, "CEquiFreundlich", EQUI,
         {STOICH, {"coefficient", F::Real, "A"}, {"exponent", F::Real, "B"},
          {"solute", F::Entry, "solute"}, {"sorbed", F::Entry, "sorbed"}},
         Make<CEquiFreundlich>},
        {11, "CKinLin", KIN,
         {STOICH, {"kd", F::Real, "Kd"}, {"rate", F::Real, "k"},
          {"solute", F::Entry, "solute"}, {"sorbed", F::Entry, "sorbed"}},
         Make<CKinLin>},
        {12, "CKinLangmuir", KIN,
         {STOICH, {"capacity", F::Real, "Q"}, {"half_saturation", F::Real, "K"},
          {"rate", F::Real, "k"}, {"solute", F::Entry, "solute"},
          {"sorbed", F::Entry, "sorbed"}},
         Make<CKinLangmuir>},
        {13, "CKinFreundlich", KIN,
         {STOICH, {"coefficient", F::Real, "K"}, {"exponent", F::Real, "n"},
          {"rate", F::Real, "k"}, {"solute", F::Entry, "solute"},
          {"sorbed", F::Entry, "sorbed"}},
         Make<CKinFreundlich>},
        {14, "CRuleCurve", ERxnKind::Either,
         {STOICH, {"kind", F::Integer, "kind"}, {"driver", F::EntryOrNone, "driver"},
          {"multiplier", F::EntryOrNone, "multiplier"}, {"points", F::Curve, "curve"}},
         Make<CRuleCurve>},
        {15, "CEquiLinComb", EQUI,
         {STOICH, {"target", F::Entry, "target"}, {"constant", F::Real, "b"},
          {"weights", F::Vector, "weights"}},
         Make<CEquiLinComb>},
    };
    // clang-format on
}

} // namespace

const std::vector<CRxnType>& RxnTypes() {
    static const std::vector<CRxnType> table = MakeTable();
    return table;
}

const CRxnType* FindRxnType(int code) {
    for (const CRxnType& type : RxnTypes())
        if (type.m_code == code)
            return &type;
    return nullptr;
}

const char* RxnRecordFieldText(ERxnRecordField kind) {
    switch (kind) {
    case ERxnRecordField::Vector:
        return "vector";
    case ERxnRecordField::IntVector:
        return "int-vector";
    case ERxnRecordField::Real:
        return "real";
    case ERxnRecordField::Order:
        return "order";
    case ERxnRecordField::Integer:
        return "integer";
    case ERxnRecordField::Entry:
        return "entry";
    case ERxnRecordField::EntryOrNone:
        return "entry-or-none";
    case ERxnRecordField::Factors:
        return "factors";
    case ERxnRecordField::Curve:
        break;
    }
    return "curve";
}
