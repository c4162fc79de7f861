// Reading a model file into the model: the header, then AllocateArrays, then
// the coordinates, transport parameters, states, fixed heads, reactions and
// reaction sets. Every count and index is checked where it is read; a failure
// is an InputException (a stream that fails: BadFileException) whose detail
// names the field and the record.
#pragma once

#include <iosfwd>

class CSimulation;
struct CReactions;

// Reads the whole model from in, its reactions and reaction sets into rx.
// Does nothing more after a cancel (the arrays are then not allocated).
void ReadInput(CSimulation& s, CReactions& rx, std::istream& in);
