// Builds a reaction from its type code and its record in the model file, by
// the table of reaction types (rxn/rxn_types.h).
#pragma once

#include <iosfwd>
#include <memory>

class CRxn;
class CSimulation;

// The reaction of type code `code`, read from `in`; null for a code that
// names no reaction type.
std::unique_ptr<CRxn> CreateRxn(int code, std::istream& in, int nComp, CSimulation* sim);

// The name of a type code's class ("CEquiMassAction"), or null.
const char* RxnTypeName(int code);
