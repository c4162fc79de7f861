// Each name of a node view reads its own slot, of the node asked for.
#include "model/node_view.h"

#include <gtest/gtest.h>

namespace {

TEST(NodeView, EachNameReadsItsSlotOfItsNode) {
    // Two nodes of 9 values: node n's slot k holds 10 n + k.
    double state[18];
    for (int i = 0; i < 18; ++i)
        state[i] = 10.0 * (i / 9) + i % 9;
    const struct {
        const char* name;
        double (CNodeView::*read)() const;
        int slot;
    } rows[] = {
        {"head", &CNodeView::Head, SLOT_HEAD},
        {"source", &CNodeView::Source, SLOT_SOURCE},
        {"porosity", &CNodeView::Porosity, SLOT_POROSITY},
        {"k_row", &CNodeView::KRow, SLOT_KROW},
        {"k_col", &CNodeView::KCol, SLOT_KCOL},
        {"flux_row", &CNodeView::FluxRow, SLOT_FLUXROW},
        {"flux_col", &CNodeView::FluxCol, SLOT_FLUXCOL},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ((NodeOf(state, 9, 1).*row.read)(), 10.0 + row.slot);
        EXPECT_EQ((NodeAt(state, 9).*row.read)(), 10.0 + row.slot);
        EXPECT_EQ((CNodeView(state).*row.read)(), row.slot);
    }
    EXPECT_EQ(NodeOf(state, 9, 1)[8], 18.0);
}

} // namespace
