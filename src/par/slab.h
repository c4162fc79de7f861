// The decomposition of the grid among the ranks of a run over MPI:
// contiguous slabs in node order (row after row), balanced by node count.
//
// A slab's nodes start at a multiple of RXN_NODE_CHUNK (the last one ends
// with the grid), so each rank integrates exactly the reaction chunks of a
// one-process run and the mass budget's chunk sums keep their bits. A slab
// boundary may therefore cut a row: such a row's transport is computed by
// both ranks (the same arithmetic, the same bits), each keeping its own
// nodes. The default transport scheme reads one row beyond a row's faces,
// so a rank needs the state of its rows and one row on each side at the
// start of a step: its halo is the part of those it does not own.
#pragma once

#include <vector>

struct CSlab {
    int m_first = 0;     // first node the rank integrates and writes
    int m_end = 0;       // one past its last node
    int m_rowBegin = 0;  // rows whose transport it computes
    int m_rowEnd = 0;
    int m_needFirst = 0; // nodes whose state it reads at the start of a step
    int m_needEnd = 0;
};

// The slab of rank among ranks on a grid of rows x cols. wholeGrid: the
// transport of every rank runs over the whole grid (schemes other than the
// default one, whose step is not split by rows), so every rank needs every
// node's state.
CSlab SlabOf(int rank, int ranks, int rows, int cols, bool wholeGrid);

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
