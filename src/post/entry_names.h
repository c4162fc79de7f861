// Readable names of the entries of a node's state vector: the seven hydraulic
// slots (head, source, porosity, k_row, k_col, flux_row, flux_col), then the
// names the model's extension file gives, or immobile_0.., mobile_0.. . They
// name the VTK arrays, the CSV columns and the entries a plot is asked for.
#pragma once

#include "post/model_grid.h"

#include <string>
#include <vector>

std::string EntryName(const CModelGrid& grid, int k);
// The unit label of entry k (empty: none given).
std::string EntryUnits(const CModelGrid& grid, int k);
std::vector<std::string> EntryNames(const CModelGrid& grid);

// The entry a name or a plain index ("head", "NH4", "mobile_1", "9") stands
// for, or -1; the positional names work beside the extension file's. A name
// wins over an index: with an entry named "8", "8" is that entry.
int FindEntry(const CModelGrid& grid, const std::string& name);

// The entries' names as a list, "head, source, ..., mobile_0", for a message
// about a name that chooses none.
std::string KnownEntries(const CModelGrid& grid);

// The state indices of the entries an export writes. Neither names nor
// hydraulic: every entry, as an export always wrote. Else the seven hydraulic
// entries when hydraulic, then the entries named (FindEntry) in the order
// given, each once. Messages name the option that gave the names and the
// model file. Throws ResultException for a name that chooses no entry and for
// two names of one entry.
std::vector<int> SelectEntries(const CModelGrid& grid, const std::vector<std::string>& names,
                               bool hydraulic, const std::string& option,
                               const std::string& modelFile);
