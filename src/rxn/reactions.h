// The model's reactions and reaction sets as the model file lists them, and
// the works of the threads that integrate them: owned here, by whoever runs
// the model (the run sequence, the model check, a test). The model keeps only
// their counts and each node's set.
#pragma once

#include "rxn/rxn.h"
#include "rxn/rxn_set.h"
#include "rxn/rxn_work.h"

#include <memory>
#include <vector>

struct CReactions {
    std::vector<std::unique_ptr<CRxn>> m_rxns;
    std::vector<std::unique_ptr<CRxnSet>> m_sets;
    std::vector<CRxnWork> m_works; // one per thread, sized before the time loop

    // The record index of rxn; -1 when it is none of them.
    int IndexOf(const CRxn* rxn) const;
};
