// The table of reaction types as JSON, for `kova-compute --reaction-types`:
// programs that write or read model files (the Python package) check their
// own description of the records against it.
#pragma once

#include <string>

// An array with one object a line, in code order:
// {"code": 2, "class": "COrdered", "kind": "kinetic", "fields": [
//  {"name": "stoichiometry", "kind": "vector", "label": "coefficients"}, ...]}
// kind is "equilibrium", "kinetic" or "either" (the record says which); a
// field's kind is one of RxnRecordFieldText's words and its label what
// --check calls it.
std::string RxnTypesJson();
