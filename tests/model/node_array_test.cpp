// The node arrays: zeroed, writable to their last value, the large ones mapped
// on a huge-page boundary, and a count too large for memory refused.
#include "model/node_array.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <new>
#include <string>

namespace {

TEST(NodeArray, ZeroedWritableAndLargeOnesOnAHugePage) {
    const size_t huge = NODE_ARRAY_HUGE_PAGE_BYTES;
    const struct {
        size_t bytes;
        bool hugePages; // asked for
        bool mapped;
    } rows[] = {
        {0, true, false},
        {8, true, false},
        {NODE_ARRAY_HUGE_MIN_BYTES - 8, true, false},
        {NODE_ARRAY_HUGE_MIN_BYTES, true, true},
        {NODE_ARRAY_HUGE_MIN_BYTES + huge + 8, true, true},   // rounded up to a further page
        {NODE_ARRAY_HUGE_MIN_BYTES + huge + 8, false, false}, // a process holding some rows
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::to_string(row.bytes) + " bytes" + (row.hugePages ? "" : ", small pages"));
        const size_t count = row.bytes / sizeof(double);
        CNodeArray<double> a = ZeroedNodeArray<double>(count, row.hugePages);
        ASSERT_NE(a.get(), nullptr);
        for (size_t v = 0; v < count; ++v)
            ASSERT_EQ(a[v], 0.0) << "value " << v;
        if (count > 0) {
            a[count - 1] = 1.5;
            EXPECT_EQ(a[count - 1], 1.5);
        }
        const size_t mapped = a.get_deleter().m_mappedBytes;
        if (!(row.mapped && NODE_ARRAY_MAPS)) {
            EXPECT_EQ(mapped, 0u);
            continue;
        }
        EXPECT_EQ(reinterpret_cast<uintptr_t>(a.get()) % huge, 0u);
        EXPECT_EQ(mapped % huge, 0u);
        EXPECT_GE(mapped, row.bytes);
        EXPECT_LT(mapped, row.bytes + huge);
    }
}

TEST(NodeArray, ACountBeyondMemoryThrowsBadAlloc) {
    for (size_t count : {SIZE_MAX / sizeof(double), SIZE_MAX / sizeof(double) - 100})
        EXPECT_THROW(ZeroedNodeArray<double>(count, true), std::bad_alloc) << count;
}

} // namespace
