// The transport's work between steps: sized before the time loop (the loop
// allocates nothing) and released with the model's arrays.
#pragma once

#include "model/node_array.h"

#include <vector>

struct CTransportWork {
    // The schemes taken from the upstream side: per node and mobile entry the
    // fluxes of the row face below and the column face to the right, and with
    // tvd their cross corrections and each node's limits of those.
    CNodeArray<double> m_faceFlux;
    CNodeArray<double> m_faceCross;
    CNodeArray<double> m_crossLimits;
    std::vector<double> m_gatherScratch; // each thread's gather: fluxes, row lines

    void Free() {
        m_gatherScratch.clear();
        m_faceFlux.reset();
        m_faceCross.reset();
        m_crossLimits.reset();
    }
};
