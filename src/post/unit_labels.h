// Axis labels and notes with the unit labels of the model's extension file
// ("time [d]", "NH4 [mg/L]"). A label without a unit has no brackets: a model
// without the extension file gives plain names, as before units existed.
#pragma once

#include "post/model_grid.h"

#include <string>
#include <vector>

// "name [unit]", or name when unit is empty.
std::string WithUnit(const std::string& name, const std::string& unit);

// The unit of entry k: the extension's label for a named entry, the length
// unit for the head (a water level), else empty.
std::string EntryUnit(const CModelGrid& grid, int k);
// The unit of the entry a name stands for; empty when no entry has that name.
std::string EntryUnitByName(const CModelGrid& grid, const std::string& name);

std::string TimeAxisLabel(const CModelGrid& grid);                         // "time [d]"
std::string CoordinateAxisLabel(const CModelGrid& grid, const char* axis); // "x [m]"
std::string MassAxisLabel(const CModelGrid& grid);                         // "mass [kg]"

// The label of a value axis over curves with these units: "name [unit]" for
// one curve, "value [unit]" when they share one unit, else "value".
std::string ValueAxisLabel(const std::vector<std::string>& names,
                           const std::vector<std::string>& units);

// "units: length m, time d, mass kg" with the units that are given; empty
// when none is.
std::string UnitsNote(const CModelGrid& grid);
