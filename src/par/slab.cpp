#include "par/slab.h"

#include "model/limits.h"

#include <algorithm>
#include <cstdint>

namespace {

// The first node of rank's share of the chunks.
int SlabStart(int rank, int ranks, int nodes) {
    const int64_t chunks = (static_cast<int64_t>(nodes) + RXN_NODE_CHUNK - 1) / RXN_NODE_CHUNK;
    const int64_t chunk = chunks * rank / ranks;
    return static_cast<int>(std::min<int64_t>(nodes, chunk * RXN_NODE_CHUNK));
}

} // namespace

CSlab SlabOf(int rank, int ranks, int rows, int cols, bool wholeGridOnRoot, int haloRows) {
    const int nodes = rows * cols;
    CSlab slab;
    slab.m_first = SlabStart(rank, ranks, nodes);
    slab.m_end = SlabStart(rank + 1, ranks, nodes);
    if (wholeGridOnRoot) {
        // Rank 0 computes every row and reads every node; the others only
        // react their own nodes.
        const bool root = rank == 0;
        slab.m_rowBegin = root ? 0 : slab.m_first / cols;
        slab.m_rowEnd = root ? rows : slab.m_rowBegin;
        slab.m_needFirst = root ? 0 : slab.m_first;
        slab.m_needEnd = root ? nodes : slab.m_end;
        return slab;
    }
    if (slab.m_first == slab.m_end) {
        slab.m_rowBegin = slab.m_rowEnd = slab.m_first / cols;
        slab.m_needFirst = slab.m_needEnd = slab.m_first;
        return slab;
    }
    slab.m_rowBegin = slab.m_first / cols;
    slab.m_rowEnd = (slab.m_end + cols - 1) / cols;
    slab.m_needFirst = std::max(0, slab.m_rowBegin - haloRows) * cols;
    slab.m_needEnd = std::min(rows, slab.m_rowEnd + haloRows) * cols;
    return slab;
}

void HaloParts(int rank, const std::vector<CSlab>& slabs, std::vector<CHaloPart>& receives,
               std::vector<CHaloPart>& sends) {
    receives.clear();
    sends.clear();
    const CSlab& mine = slabs[static_cast<size_t>(rank)];
    for (size_t q = 0; q < slabs.size(); ++q) {
        if (static_cast<int>(q) == rank)
            continue;
        const CSlab& other = slabs[q];
        const int inFirst = std::max(mine.m_needFirst, other.m_first);
        const int inEnd = std::min(mine.m_needEnd, other.m_end);
        if (inFirst < inEnd)
            receives.push_back(CHaloPart{static_cast<int>(q), inFirst, inEnd});
        const int outFirst = std::max(other.m_needFirst, mine.m_first);
        const int outEnd = std::min(other.m_needEnd, mine.m_end);
        if (outFirst < outEnd)
            sends.push_back(CHaloPart{static_cast<int>(q), outFirst, outEnd});
    }
}
