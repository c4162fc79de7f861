// What a reaction tells about itself for a model summary: its type, the list
// of a reaction set it can serve in, and the fields of its record by name, in
// record order. A reaction fills one through CRxn::Describe; the front end's
// model check prints it. Nothing in a run reads it.
#pragma once

#include <string>
#include <vector>

// The list of a reaction set in which a reaction can serve.
enum class ERxnKind {
    None,        // answers neither operation (the bare base)
    Equilibrium, // CompEqui only
    Kinetic,     // CompRate only
    Either       // a type whose record says which (the rule curve); a
                 // reaction itself always describes itself as one of the two
};

// How a field's numbers read.
enum class ERxnField {
    Real,      // one real
    Integer,   // one integer: an order, a count, a kind
    Entry,     // one state entry index; -1 reads as the field's "none" text
    Entries,   // a list of state entry indices
    Vector,    // one real per state entry (coefficients, weights)
    IntVector, // one integer per state entry (exponents)
    Points     // (x, y) pairs, stored x0 y0 x1 y1 ...
};

struct CRxnField {
    ERxnField m_type = ERxnField::Real;
    std::string m_name;
    std::vector<double> m_reals; // Real, Vector, Points
    std::vector<int> m_ints;     // Integer, Entry, Entries, IntVector
    std::string m_none;          // Entry: what -1 stands for ("none", "time")
};

class CRxnDescription {
public:
    // The type code's class name and kind, from the table of reaction types
    // (rxn/rxn_types.h); throws std::logic_error for a code it has no row for.
    void SetType(int code);
    // The same, for a type whose record decides the kind.
    void SetType(int code, ERxnKind kind);

    void AddReal(const char* name, double value);
    void AddInteger(const char* name, int value);
    void AddEntry(const char* name, int index, const char* none = "none");
    void AddEntries(const char* name, const int* indices, int count);
    void AddVector(const char* name, const double* values, int count);
    void AddIntVector(const char* name, const int* values, int count);
    void AddPoints(const char* name, const double* x, const double* y, int count);

    int Code() const { return m_code; }
    const std::string& TypeName() const { return m_typeName; }
    ERxnKind Kind() const { return m_kind; }
    const std::vector<CRxnField>& Fields() const { return m_fields; }
    // The field of that name, or null.
    const CRxnField* Find(const std::string& name) const;

private:
    CRxnField& Add(ERxnField type, const char* name);

    // The bare base until SetType: no type code of the model file.
    int m_code = -1;
    std::string m_typeName = "CRxn";
    ERxnKind m_kind = ERxnKind::None;
    std::vector<CRxnField> m_fields;
};

// "equilibrium", "kinetic", "either" or "none".
const char* RxnKindText(ERxnKind kind);
