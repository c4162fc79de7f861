// The reaction types of the model file, one row per type code: the class that
// reads the record, the list of a reaction set it serves in, and the record's
// fields after the type code, in file order. The reader builds reactions
// through it, the model summary and the budget take each type's name from it,
// and `kova-compute --reaction-types` prints it for the Python package, whose
// own description of the records is tested against that print. A new type is
// its class, one row here and its tests.
#pragma once

#include "rxn/rxn_description.h"

#include <iosfwd>
#include <memory>
#include <vector>

class CRxn;
class CSimulation;

// How a record field reads, in the grammar of the model file.
enum class ERxnRecordField {
    Vector,      // one real per state entry
    IntVector,   // one integer per state entry
    Real,        // one real
    Order,       // one integer 0..ORDERED_MAX_ORDER
    Integer,     // one integer
    Entry,       // a state entry index
    EntryOrNone, // a state entry index, or -1
    Factors,     // a count 0..ORDERED_MAX_ORDER (described as "order"), then
                 // that many entry indices
    Curve        // a count >= 1 (described as "points"), the "target" entry when
                 // the record's kind is below 0, then the (x, y) pairs
};

struct CRxnRecordField {
    const char* m_name; // as the Python package names the argument ("rate")
    ERxnRecordField m_kind;
    const char* m_label; // as the model summary and docs/reactions.md name it ("k")
};

// Reads a record after its type code; throws as the class's constructor does.
using RxnMaker = std::unique_ptr<CRxn> (*)(std::istream& in, int nComp, CSimulation* sim);

struct CRxnType {
    int m_code;
    const char* m_className;
    ERxnKind m_kind; // Either: the record's own kind field decides
    std::vector<CRxnRecordField> m_fields;
    RxnMaker m_make;
};

// Every type, in code order.
const std::vector<CRxnType>& RxnTypes();

// The row of a type code, or null for a code that names no type.
const CRxnType* FindRxnType(int code);

// "vector", "int-vector", "real", "order", "integer", "entry",
// "entry-or-none", "factors" or "curve".
const char* RxnRecordFieldText(ERxnRecordField kind);
