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
