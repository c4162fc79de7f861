#include "rxn/reactions.h"

int CReactions::IndexOf(const CRxn* rxn) const {
    for (size_t r = 0; r < m_rxns.size(); ++r)
        if (m_rxns[r].get() == rxn)
            return static_cast<int>(r);
    return -1;
}
