#include "model/extension.h"

#include "model/index.h"
#include "model/limits.h"

#include <algorithm>

namespace {

const char* const SLOT_NAMES[SLOT_COUNT] = {"head",  "source",   "porosity", "k_row",
                                            "k_col", "flux_row", "flux_col"};

// The label of entry k when the extension names it, else null.
const CEntryLabel* LabelOf(const CExtension& ext, int nComp, int nMobile, int k) {
    const int firstMobile = nComp - nMobile;
    if (k < SLOT_COUNT || k >= nComp)
        return nullptr;
    if (k < firstMobile) {
        const int i = k - SLOT_COUNT;
        return i < static_cast<int>(ext.m_immobile.size()) ? &ext.m_immobile[ToSize(i)] : nullptr;
    }
    const int m = k - firstMobile;
    return m < static_cast<int>(ext.m_mobile.size()) ? &ext.m_mobile[ToSize(m)] : nullptr;
}

} // namespace

std::string EntryName(const CExtension& ext, int nComp, int nMobile, int k) {
    if (k >= 0 && k < SLOT_COUNT)
        return SLOT_NAMES[k];
    if (const CEntryLabel* label = LabelOf(ext, nComp, nMobile, k))
        return label->m_name;
    const int firstMobile = nComp - nMobile;
    if (k < firstMobile)
        return "immobile_" + std::to_string(k - SLOT_COUNT);
    return "mobile_" + std::to_string(k - firstMobile);
}

std::string EntryUnits(const CExtension& ext, int nComp, int nMobile, int k) {
    const CEntryLabel* label = LabelOf(ext, nComp, nMobile, k);
    return label ? label->m_units : std::string();
}

int FindEntryByName(const CExtension& ext, int nComp, int nMobile, const std::string& name) {
    for (int k = 0; k < nComp; ++k)
        if (EntryName(ext, nComp, nMobile, k) == name)
            return k;
    // The positional names stay valid beside the given ones, so scripts
    // written before a model got its names keep working.
    const CExtension none;
    for (int k = 0; k < nComp; ++k)
        if (EntryName(none, nComp, nMobile, k) == name)
            return k;
    return -1;
}

int InjectColumn(const CInjection& inject, int k) {
    const auto at = std::lower_bound(inject.m_entries.begin(), inject.m_entries.end(), k);
    return at != inject.m_entries.end() && *at == k
               ? static_cast<int>(at - inject.m_entries.begin())
               : -1;
}

std::string InjectTableKey(int table) {
    return "inject[" + std::to_string(table) + "]";
}

std::string InjectPlaceKey(const CInjectTable& table, int t, size_t p, int* line) {
    if (table.m_rectangle || p >= table.m_nodes.size()) {
        *line = table.m_placeLine;
        return InjectTableKey(t) + (table.m_rectangle ? ".rectangle" : ".nodes");
    }
    *line = table.m_nodes[p].m_line;
    return InjectTableKey(t) + ".nodes[" + std::to_string(p) + "]";
}

std::string InjectNodeKey(const CInjectTable& table, int t, int row, int col, int* line) {
    size_t p = 0;
    while (p < table.m_nodes.size() &&
           (table.m_nodes[p].m_row != row || table.m_nodes[p].m_col != col))
        ++p;
    return InjectPlaceKey(table, t, p, line);
}

const char* SchemeName(ETransportScheme scheme) {
    switch (scheme) {
    case ETransportScheme::SYMMETRIC:
        return "symmetric";
    case ETransportScheme::TVD:
        return "tvd";
    case ETransportScheme::DEFAULT:
        break;
    }
    return "default";
}

const char* TimeName(ETransportTime time) {
    return time == ETransportTime::IMPLICIT ? "implicit" : "explicit";
}
