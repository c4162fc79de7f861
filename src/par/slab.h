// The decomposition of the grid among the ranks of a run over MPI:
// contiguous slabs in node order (row after row), balanced by node count.
//
// A slab's nodes start at a multiple of RXN_NODE_CHUNK (the last one ends
// with the grid), so each rank integrates exactly the reaction chunks of a
// one-process run and the mass budget's chunk sums keep their bits. A slab
// boundary may therefore cut a row: such a row's transport is computed by
// both ranks (the same arithmetic, the same bits), each keeping its own
// nodes. The default transport scheme reads one row beyond a row's faces,
// the schemes taken from the upstream side three (SLAB_UPSTREAM_HALO_ROWS),
// so a rank needs the state of its rows and that many rows on each side at
// the start of a step: its halo is the part of those it does not own.
#pragma once

#include "model/limits.h"

#include <vector>

struct CSlab {
    int m_first = 0;    // first node the rank integrates and writes
    int m_end = 0;      // one past its last node
    int m_rowBegin = 0; // rows whose transport it computes
    int m_rowEnd = 0;
    int m_needFirst = 0; // nodes whose state it reads at the start of a step
    int m_needEnd = 0;
};

// The rows beyond its own that a rank reads with the symmetric and tvd
// schemes (their CTransportScheme::HaloRows).
constexpr int SLAB_UPSTREAM_HALO_ROWS = TRANSPORT_UPSTREAM_HALO_ROWS;

// The rows beyond its own a rank holds when it computes its heads' halo and
// its flow field itself (the distributed heads): the rows the transport reads,
// whose fluxes and dispersion coefficients take the heads of the row after
// them, and one more as a margin.
constexpr int SLAB_HELD_ROWS = SLAB_UPSTREAM_HALO_ROWS + 2;

// The slab of rank among ranks on a grid of rows x cols, reading haloRows
// rows beyond its own on each side. wholeGridOnRoot: the transport is one
// solve over the whole grid (the implicit step), which rank 0 alone runs, so
// rank 0 reads every node's state and the others only their own nodes'.
CSlab SlabOf(int rank, int ranks, int rows, int cols, bool wholeGridOnRoot, int haloRows = 1);

// A range of nodes another rank sends or receives, once per global step.
struct CHaloPart {
    int m_rank = 0;
    int m_first = 0;
    int m_end = 0;
};

// What rank receives (the nodes it needs that another rank owns) and sends
// (its nodes another rank needs), each list by ascending rank.
void HaloParts(int rank, const std::vector<CSlab>& slabs, std::vector<CHaloPart>& receives,
               std::vector<CHaloPart>& sends);
