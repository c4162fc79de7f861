#include "post/entry_names.h"

#include "model/index.h"
#include "model/limits.h"
#include "post/result_exception.h"

#include <algorithm>

#include <cstdlib>

namespace {

// A plain decimal index, or -1 for anything else.
int ParseIndex(const std::string& text) {
    if (text.empty() || text.size() > 9 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return -1;
    return std::atoi(text.c_str());
}

} // namespace

std::string EntryName(const CModelGrid& grid, int k) {
    return EntryName(grid.m_ext, grid.m_nComp, grid.m_nMobile, k);
}

std::string EntryUnits(const CModelGrid& grid, int k) {
    return EntryUnits(grid.m_ext, grid.m_nComp, grid.m_nMobile, k);
}

std::vector<std::string> EntryNames(const CModelGrid& grid) {
    std::vector<std::string> names;
    names.reserve(ToSize(grid.m_nComp));
    for (int k = 0; k < grid.m_nComp; ++k)
        names.push_back(EntryName(grid, k));
    return names;
}

int FindEntry(const CModelGrid& grid, const std::string& name) {
    // A model may name an entry "8": that entry, not the one at index 8, is
    // what its user means, and it could be chosen no other way.
    const int named = FindEntryByName(grid.m_ext, grid.m_nComp, grid.m_nMobile, name);
    if (named >= 0)
        return named;
    const int index = ParseIndex(name);
    return index < grid.m_nComp ? index : -1;
}

std::string KnownEntries(const CModelGrid& grid) {
    std::string known;
    for (int k = 0; k < grid.m_nComp; ++k)
        known += (k == 0 ? "" : ", ") + EntryName(grid, k);
    return known;
}

std::vector<int> SelectEntries(const CModelGrid& grid, const std::vector<std::string>& names,
                               bool hydraulic, const std::string& option,
                               const std::string& modelFile) {
    std::vector<int> entries;
    if (names.empty() && !hydraulic) {
        for (int k = 0; k < grid.m_nComp; ++k)
            entries.push_back(k);
        return entries;
    }
    if (hydraulic)
        for (int k = 0; k < SLOT_COUNT && k < grid.m_nComp; ++k)
            entries.push_back(k);
    std::vector<std::string> chosenBy(ToSize(grid.m_nComp));
    for (const std::string& name : names) {
        const int k = FindEntry(grid, name);
        if (k < 0)
            throw ResultException(option + " " + name + " names no entry of " + modelFile + " (" +
                                  KnownEntries(grid) + ")");
        std::string& first = chosenBy[ToSize(k)];
        // Twice the same column or variable is a slip, and NetCDF refuses it.
        if (!first.empty())
            throw ResultException(
                option + ": " +
                (first == name ? name + " is named twice"
                               : first + " and " + name + " both name " + EntryName(grid, k)));
        first = name;
        // --hydraulic has given it already.
        if (std::find(entries.begin(), entries.end(), k) == entries.end())
            entries.push_back(k);
    }
    return entries;
}
