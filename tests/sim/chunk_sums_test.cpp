#include "sim/chunk_sums.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

namespace {

// The sums as the budget defines them, one value at a time: node i into
// partial sum i % 4, the four added in pairs.
double Reference(const double* a, int step, const double* w, int count) {
    double partial[4] = {};
    for (int i = 0; i < count; ++i)
        partial[i % 4] += a[i * step] * w[i];
    return (partial[0] + partial[1]) + (partial[2] + partial[3]);
}

// Values of many magnitudes and both signs, so that a sum taken in another
// order or with a node in another partial sum shows in its last bits.
double Value(std::mt19937_64& random) {
    const double mantissa = std::uniform_real_distribution<double>(-1.0, 1.0)(random);
    return std::ldexp(mantissa, static_cast<int>(random() % 40) - 20);
}

bool SameBits(double x, double y) {
    return std::memcmp(&x, &y, sizeof x) == 0;
}

const int COUNTS[] = {0, 1, 3, 4, 5, 7, 8, 9, 13, 255, 256};

class ChunkSums : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override { SetChunkSumLanes(GetParam()); }
    void TearDown() override { SetChunkSumLanes(0); }
};

// Every node's entries at the end of its row, as in a state, after values no
// sum may take (not-a-numbers): rows with such room and without. The array
// ends with the last node's entries, where a read past them shows under the
// address sanitizer.
TEST_P(ChunkSums, EntrySumsHaveTheBitsOfOneValueAtATime) {
    std::mt19937_64 random(7);
    for (int nEntries = 1; nEntries <= 11; ++nEntries)
        for (int room : {0, 1, 3, 7})
            for (int count : COUNTS) {
                const int stride = nEntries + room;
                // (No node: one row all the same, so that its address is not null.)
                std::vector<double> a(static_cast<size_t>(std::max(count, 1) * stride),
                                      std::numeric_limits<double>::quiet_NaN());
                std::vector<double> w(static_cast<size_t>(count));
                for (int i = 0; i < count; ++i) {
                    w[static_cast<size_t>(i)] = std::fabs(Value(random));
                    for (int m = 0; m < nEntries; ++m)
                        a[static_cast<size_t>(i * stride + room + m)] = Value(random);
                }
                const double* entries = a.data() + room;
                // One more than the sums: nothing may be written past them.
                std::vector<double> out(static_cast<size_t>(nEntries) + 1, -1.0);
                WeightedEntrySums(entries, stride, nEntries, w.data(), count, out.data());
                EXPECT_EQ(out.back(), -1.0) << nEntries << " entries: written past the sums";
                for (int m = 0; m < nEntries; ++m) {
                    const double expected = Reference(entries + m, stride, w.data(), count);
                    EXPECT_TRUE(SameBits(out[static_cast<size_t>(m)], expected))
                        << "lanes of " << ChunkSumLanes() << ", " << nEntries << " entries, stride "
                        << stride << ", " << count << " nodes: entry " << m << " is "
                        << out[static_cast<size_t>(m)] << " instead of " << expected;
                }
            }
}

TEST_P(ChunkSums, RowSumsHaveTheBitsOfOneValueAtATime) {
    std::mt19937_64 random(11);
    const int rowStride = 256;
    for (int rows : {1, 2, 3, 4, 5, 6, 7})
        for (int count : COUNTS) {
            // Past each row's nodes: values no sum may take.
            std::vector<double> a(static_cast<size_t>(rows * rowStride),
                                  std::numeric_limits<double>::quiet_NaN());
            std::vector<double> w(static_cast<size_t>(count));
            for (int i = 0; i < count; ++i) {
                w[static_cast<size_t>(i)] = std::fabs(Value(random));
                for (int r = 0; r < rows; ++r)
                    a[static_cast<size_t>(r * rowStride + i)] = Value(random);
            }
            std::vector<double> out(static_cast<size_t>(rows) + 1, -1.0);
            WeightedRowSums(a.data(), rowStride, rows, w.data(), count, out.data());
            EXPECT_EQ(out.back(), -1.0) << rows << " rows: written past the sums";
            for (int r = 0; r < rows; ++r) {
                const double expected = Reference(a.data() + r * rowStride, 1, w.data(), count);
                EXPECT_TRUE(SameBits(out[static_cast<size_t>(r)], expected))
                    << "lanes of " << ChunkSumLanes() << ", " << count << " nodes: row " << r
                    << " is " << out[static_cast<size_t>(r)] << " instead of " << expected;
            }
        }
}

INSTANTIATE_TEST_SUITE_P(Lanes, ChunkSums, ::testing::Values(1, 2, 4));

} // namespace
