// The decomposition of the grid among ranks (par/slab.h): every node owned
// once, slabs on chunk boundaries, and a halo that is exactly what a rank's
// rows read beyond its own nodes, from the ranks that own it.
#include "model/limits.h"
#include "par/slab.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <vector>

namespace {

struct CGrid {
    int rows;
    int cols;
    int ranks;
};

// Shapes where a boundary cuts a row, a slab is shorter than a row, ranks
// own nothing, one row, one column.
const CGrid GRIDS[] = {
    {100, 100, 2}, {100, 100, 3}, {29, 61, 3}, {3, 700, 3},   {2, 2000, 3},  {1, 101, 3},
    {101, 1, 2},   {60, 7, 3},    {1, 2, 4},   {300, 300, 7}, {5, 5000, 16},
};

std::vector<CSlab> Slabs(const CGrid& g, bool wholeGridOnRoot, int haloRows = 1) {
    std::vector<CSlab> slabs;
    for (int r = 0; r < g.ranks; ++r)
        slabs.push_back(SlabOf(r, g.ranks, g.rows, g.cols, wholeGridOnRoot, haloRows));
    return slabs;
}

TEST(Slab, EveryNodeHasOneOwnerAndSlabsStartOnChunks) {
    for (const CGrid& g : GRIDS) {
        const std::vector<CSlab> slabs = Slabs(g, false);
        int next = 0;
        for (const CSlab& slab : slabs) {
            EXPECT_EQ(slab.m_first, next) << g.rows << " x " << g.cols << " on " << g.ranks;
            EXPECT_EQ(slab.m_first % RXN_NODE_CHUNK, 0);
            EXPECT_LE(slab.m_first, slab.m_end);
            next = slab.m_end;
        }
        EXPECT_EQ(next, g.rows * g.cols);
    }
}

// The rows of a slab are the rows of its nodes; it reads one row more on
// each side with the default scheme, three with the upstream ones, within
// the grid.
TEST(Slab, RowsAndNeedsFollowTheNodes) {
    for (int halo : {1, SLAB_UPSTREAM_HALO_ROWS})
        for (const CGrid& g : GRIDS)
            for (const CSlab& slab : Slabs(g, false, halo)) {
                if (slab.m_first == slab.m_end)
                    continue;
                EXPECT_EQ(slab.m_rowBegin, slab.m_first / g.cols);
                EXPECT_EQ(slab.m_rowEnd - 1, (slab.m_end - 1) / g.cols);
                EXPECT_EQ(slab.m_needFirst, std::max(0, slab.m_rowBegin - halo) * g.cols);
                EXPECT_EQ(slab.m_needEnd, std::min(g.rows, slab.m_rowEnd + halo) * g.cols);
            }
}

// A solve over the whole grid runs on rank 0: it computes every row and
// reads every node, the others no row and only their own nodes.
TEST(Slab, AWholeGridSolveIsRankZerosAlone) {
    for (const CGrid& g : GRIDS) {
        const std::vector<CSlab> slabs = Slabs(g, true);
        for (int r = 0; r < g.ranks; ++r) {
            const CSlab& slab = slabs[size_t(r)];
            const bool root = r == 0;
            EXPECT_EQ(slab.m_rowEnd - slab.m_rowBegin, root ? g.rows : 0) << "rank " << r;
            EXPECT_EQ(slab.m_needFirst, root ? 0 : slab.m_first) << "rank " << r;
            EXPECT_EQ(slab.m_needEnd, root ? g.rows * g.cols : slab.m_end) << "rank " << r;
        }
    }
}

// What a rank receives is every node it needs and does not own, once, from
// its owner; what it sends is what the others receive from it.
TEST(Slab, HaloIsWhatTheRowsReadBeyondTheSlab) {
    for (int halo : {0, 1, SLAB_UPSTREAM_HALO_ROWS}) // 0: the whole grid
        for (const CGrid& g : GRIDS) {
            const bool whole = halo == 0;
            const std::vector<CSlab> slabs = Slabs(g, whole, halo);
            std::vector<std::vector<CHaloPart>> receives(slabs.size()), sends(slabs.size());
            for (int r = 0; r < g.ranks; ++r)
                HaloParts(r, slabs, receives[size_t(r)], sends[size_t(r)]);
            for (int r = 0; r < g.ranks; ++r) {
                const CSlab& mine = slabs[size_t(r)];
                std::vector<int> got(size_t(g.rows * g.cols), 0);
                for (const CHaloPart& part : receives[size_t(r)]) {
                    const CSlab& owner = slabs[size_t(part.m_rank)];
                    EXPECT_LE(owner.m_first, part.m_first);
                    EXPECT_LE(part.m_end, owner.m_end);
                    for (int n = part.m_first; n < part.m_end; ++n)
                        got[size_t(n)] += 1;
                    int matching = 0;
                    for (const CHaloPart& sent : sends[size_t(part.m_rank)])
                        matching += sent.m_rank == r && sent.m_first == part.m_first &&
                                    sent.m_end == part.m_end;
                    EXPECT_EQ(matching, 1);
                }
                for (int n = 0; n < g.rows * g.cols; ++n) {
                    const bool needed = mine.m_needFirst <= n && n < mine.m_needEnd &&
                                        !(mine.m_first <= n && n < mine.m_end);
                    EXPECT_EQ(got[size_t(n)], needed ? 1 : 0)
                        << "node " << n << " of rank " << r << ", " << g.rows << " x " << g.cols
                        << " on " << g.ranks << ", halo " << halo << (whole ? ", whole grid" : "");
                }
            }
        }
}

} // namespace
