// One node's vector in a state array (m_state or m_stateNew) read by the
// names of its hydraulic slots: CNodeView(node).Porosity() rather than
// node[SLOT_POROSITY], NodeOf(state, nComp, n) rather than
// state[n * nComp + SLOT_...]. Everything is inline: a view costs what the
// raw offset costs, and the values read are the same bits.
#pragma once

#include "model/limits.h"

class CNodeView {
public:
    // node: the node's first value; borrowed, not freed.
    explicit CNodeView(const double* node) : m_node(node) {}

    double Head() const { return m_node[SLOT_HEAD]; }
    // Water source rate per unit pore volume (1/T); negative: a sink.
    double Source() const { return m_node[SLOT_SOURCE]; }
    double Porosity() const { return m_node[SLOT_POROSITY]; }
    double KRow() const { return m_node[SLOT_KROW]; }
    double KCol() const { return m_node[SLOT_KCOL]; }
    // Darcy fluxes towards (i+1, j) and (i, j+1) (L/T).
    double FluxRow() const { return m_node[SLOT_FLUXROW]; }
    double FluxCol() const { return m_node[SLOT_FLUXCOL]; }
    // Entry k (an immobile or mobile entry past the hydraulic slots).
    double operator[](int k) const { return m_node[k]; }

private:
    const double* m_node;
};

// Node n of a state array of nComp values per node.
inline CNodeView NodeOf(const double* state, int nComp, int n) {
    return CNodeView(state + n * nComp);
}

// The node whose first value is at offset (n * nComp, as the faces keep it).
inline CNodeView NodeAt(const double* state, int offset) {
    return CNodeView(state + offset);
}
