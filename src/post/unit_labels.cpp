#include "post/unit_labels.h"

#include "post/entry_names.h"

#include <algorithm>

#include "model/limits.h"

std::string WithUnit(const std::string& name, const std::string& unit) {
    return unit.empty() ? name : name + " [" + unit + "]";
}

// The hydraulic entries' units follow from the length and time labels: a
// head is a length, a source a rate per unit pore volume, conductivities and
// Darcy fluxes velocities; porosity has none.
std::string EntryUnit(const CModelGrid& grid, int k) {
    const std::string& length = grid.m_ext.m_lengthUnit;
    const std::string& time = grid.m_ext.m_timeUnit;
    switch (k) {
    case SLOT_HEAD:
        return length;
    case SLOT_SOURCE:
        return time.empty() ? "" : "1/" + time;
    case SLOT_KROW:
    case SLOT_KCOL:
    case SLOT_FLUXROW:
    case SLOT_FLUXCOL:
        return length.empty() || time.empty() ? "" : length + "/" + time;
    case SLOT_POROSITY:
        return "";
    default:
        return EntryUnits(grid, k);
    }
}

std::string EntryUnitByName(const CModelGrid& grid, const std::string& name) {
    for (int k = 0; k < grid.m_nComp; ++k)
        if (EntryName(grid, k) == name)
            return EntryUnit(grid, k);
    return "";
}

std::string TimeAxisLabel(const CModelGrid& grid) {
    return WithUnit("time", grid.m_ext.m_timeUnit);
}

std::string CoordinateAxisLabel(const CModelGrid& grid, const char* axis) {
    return WithUnit(axis, grid.m_ext.m_lengthUnit);
}

std::string MassAxisLabel(const CModelGrid& grid) {
    return WithUnit("mass", grid.m_ext.m_massUnit);
}

std::string ValueAxisLabel(const std::vector<std::string>& names,
                           const std::vector<std::string>& units) {
    if (names.size() == 1)
        return WithUnit(names[0], units[0]);
    const bool shared = !units.empty() && std::all_of(units.begin(), units.end(),
                                                      [&](const auto& u) { return u == units[0]; });
    return WithUnit("value", shared ? units[0] : "");
}

std::string UnitsNote(const CModelGrid& grid) {
    std::string note;
    const std::pair<const char*, const std::string*> units[] = {
        {"length", &grid.m_ext.m_lengthUnit},
        {"time", &grid.m_ext.m_timeUnit},
        {"mass", &grid.m_ext.m_massUnit}};
    for (const auto& [what, unit] : units)
        if (!unit->empty())
            note += (note.empty() ? "units: " : ", ") + std::string(what) + " " + *unit;
    return note;
}
