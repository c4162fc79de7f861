#include "post/entry_names.h"

#include "model/index.h"

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
