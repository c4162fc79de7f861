#include "rxn/rxn_description.h"

#include "rxn/rxn_types.h"

#include <stdexcept>
#include <string>

void CRxnDescription::SetType(int code) {
    const CRxnType* type = FindRxnType(code);
    if (!type)
        throw std::logic_error("no reaction type has the code " + std::to_string(code));
    m_code = code;
    m_typeName = type->m_className;
    m_kind = type->m_kind;
}

void CRxnDescription::SetType(int code, ERxnKind kind) {
    SetType(code);
    m_kind = kind;
}

CRxnField& CRxnDescription::Add(ERxnField type, const char* name) {
    m_fields.emplace_back();
    m_fields.back().m_type = type;
    m_fields.back().m_name = name;
    return m_fields.back();
}

void CRxnDescription::AddReal(const char* name, double value) {
    Add(ERxnField::Real, name).m_reals.push_back(value);
}

void CRxnDescription::AddInteger(const char* name, int value) {
    Add(ERxnField::Integer, name).m_ints.push_back(value);
}

void CRxnDescription::AddEntry(const char* name, int index, const char* none) {
    CRxnField& field = Add(ERxnField::Entry, name);
    field.m_ints.push_back(index);
    field.m_none = none;
}

void CRxnDescription::AddEntries(const char* name, const int* indices, int count) {
    CRxnField& field = Add(ERxnField::Entries, name);
    for (int k = 0; k < count; ++k)
        field.m_ints.push_back(indices[k]);
}

void CRxnDescription::AddVector(const char* name, const double* values, int count) {
    CRxnField& field = Add(ERxnField::Vector, name);
    for (int k = 0; k < count; ++k)
        field.m_reals.push_back(values[k]);
}

void CRxnDescription::AddIntVector(const char* name, const int* values, int count) {
    CRxnField& field = Add(ERxnField::IntVector, name);
    for (int k = 0; k < count; ++k)
        field.m_ints.push_back(values[k]);
}

void CRxnDescription::AddPoints(const char* name, const double* x, const double* y, int count) {
    CRxnField& field = Add(ERxnField::Points, name);
    for (int k = 0; k < count; ++k) {
        field.m_reals.push_back(x[k]);
        field.m_reals.push_back(y[k]);
    }
}

const CRxnField* CRxnDescription::Find(const std::string& name) const {
    for (const CRxnField& field : m_fields)
        if (field.m_name == name)
            return &field;
    return nullptr;
}

const char* RxnKindText(ERxnKind kind) {
    switch (kind) {
    case ERxnKind::Equilibrium:
        return "equilibrium";
    case ERxnKind::Kinetic:
        return "kinetic";
    case ERxnKind::Either:
        return "either";
    case ERxnKind::None:
        break;
    }
    return "none";
}
