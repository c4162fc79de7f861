#include "sim/chunk_sums.h"

#include "model/lanes.h"

#include <cstddef>
#include <cstring>

namespace {

// Lane l of v.
template <class V> KOVA_LANES_INLINE double LaneOf(const V& v, int l) {
    return v[l];
}
template <> KOVA_LANES_INLINE double LaneOf<double>(const double& v, int) {
    return v;
}

// p[0..N-1] into the lanes.
template <class V> KOVA_LANES_INLINE V LoadSideBySide(const double* p) {
    V v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// The four partial sums, added in pairs.
KOVA_LANES_INLINE double AddInPairs(const double* partial) {
    return (partial[0] + partial[1]) + (partial[2] + partial[3]);
}

// R rows at once, so that each weight is read once for all: partial sum l
// of row r in lane l % N of vector l / N of acc[r].
template <class V, int R>
KOVA_LANES_INLINE void RowSums(const double* a, int rowStride, const double* w, int count,
                               double* out) {
    constexpr int N = CLaneWidth<V>::N;
    constexpr size_t K = 4 / N;
    V acc[static_cast<size_t>(R)][K];
    for (int r = 0; r < R; ++r)
        for (size_t k = 0; k < K; ++k)
            acc[r][k] = SplatLanes<V>(0.0);
    int i = 0;
    for (; i + 4 <= count; i += 4)
        for (size_t k = 0; k < K; ++k) {
            const V weight = LoadSideBySide<V>(w + i + k * N);
            for (int r = 0; r < R; ++r)
                acc[r][k] += LoadSideBySide<V>(a + r * rowStride + i + k * N) * weight;
        }
    for (int r = 0; r < R; ++r) {
        double partial[4];
        for (size_t k = 0; k < K; ++k)
            for (int l = 0; l < N; ++l)
                partial[k * N + static_cast<size_t>(l)] = LaneOf(acc[r][k], l);
        const double* row = a + r * rowStride;
        for (int j = i; j < count; ++j)
            partial[j % 4] += row[j] * w[j];
        out[r] = AddInPairs(partial);
    }
}

// Up to 4 rows at a time.
template <class V>
KOVA_LANES_INLINE void RowSumsOf(const double* a, int rowStride, int rows, const double* w,
                                 int count, double* out) {
    int r = 0;
    for (; r + 4 <= rows; r += 4)
        RowSums<V, 4>(a + r * rowStride, rowStride, w, count, out + r);
    if (rows - r == 3)
        RowSums<V, 3>(a + r * rowStride, rowStride, w, count, out + r);
    else if (rows - r == 2)
        RowSums<V, 2>(a + r * rowStride, rowStride, w, count, out + r);
    else if (rows - r == 1)
        RowSums<V, 1>(a + r * rowStride, rowStride, w, count, out + r);
}

// A node's M entries from p times its weight, added to one partial sum's
// vectors (entry b * N + l in lane l of vector b). The lanes past the last
// entry take the values that follow it (the next node's), which no sum uses.
template <class V, int M> KOVA_LANES_INLINE void AddNode(V* sum, const double* p, double weight) {
    constexpr int B = (M + CLaneWidth<V>::N - 1) / CLaneWidth<V>::N;
    const V w = SplatLanes<V>(weight);
    for (int b = 0; b < B; ++b)
        sum[b] += LoadSideBySide<V>(p + b * CLaneWidth<V>::N) * w;
}

// M entries in B vectors (entry m in lane m % N of vector m / N), B for each
// partial sum: with M known, they stay in registers.
template <class V, int M>
KOVA_LANES_INLINE void EntrySumsOf(const double* a, int stride, const double* w, int count,
                                   double* out) {
    constexpr int N = CLaneWidth<V>::N;
    constexpr size_t B = (M + N - 1) / N;
    V sum0[B], sum1[B], sum2[B], sum3[B];
    for (size_t b = 0; b < B; ++b)
        sum0[b] = sum1[b] = sum2[b] = sum3[b] = SplatLanes<V>(0.0);
    // The vectors read past a node's entries: not past the last node's.
    int i = 0;
    for (; i + 4 < count; i += 4) {
        AddNode<V, M>(sum0, a + i * stride, w[i]);
        AddNode<V, M>(sum1, a + (i + 1) * stride, w[i + 1]);
        AddNode<V, M>(sum2, a + (i + 2) * stride, w[i + 2]);
        AddNode<V, M>(sum3, a + (i + 3) * stride, w[i + 3]);
    }
    double partial[4][static_cast<size_t>(M)];
    for (int m = 0; m < M; ++m) {
        partial[0][m] = LaneOf(sum0[m / N], m % N);
        partial[1][m] = LaneOf(sum1[m / N], m % N);
        partial[2][m] = LaneOf(sum2[m / N], m % N);
        partial[3][m] = LaneOf(sum3[m / N], m % N);
    }
    for (; i < count; ++i)
        for (int m = 0; m < M; ++m)
            partial[i % 4][m] += a[i * stride + m] * w[i];
    for (int m = 0; m < M; ++m) {
        const double p[4] = {partial[0][m], partial[1][m], partial[2][m], partial[3][m]};
        out[m] = AddInPairs(p);
    }
}

// Any number of entries, one at a time.
void EntrySumsAny(const double* a, int stride, int nEntries, const double* w, int count,
                  double* out) {
    for (int m = 0; m < nEntries; ++m) {
        double partial[4] = {};
        for (int i = 0; i < count; ++i)
            partial[i % 4] += a[i * stride + m] * w[i];
        out[m] = AddInPairs(partial);
    }
}

using CRowSums = void (*)(const double*, int, int, const double*, int, double*);
using CEntrySums = void (*)(const double*, int, int, const double*, int, double*);

// The functions of one width: the row sums, and the entry sums by their
// number of entries (1..ENTRY_COUNT; more take EntrySumsAny).
constexpr int ENTRY_COUNT = 8;
struct CSumWidth {
    int lanes;
    CRowSums rows;
    CEntrySums entries[ENTRY_COUNT + 1];
};

template <class V>
void RowSumsBy(const double* a, int rs, int rows, const double* w, int count, double* out) {
    RowSumsOf<V>(a, rs, rows, w, count, out);
}
template <class V, int M>
void EntrySumsBy(const double* a, int stride, int, const double* w, int count, double* out) {
    EntrySumsOf<V, M>(a, stride, w, count, out);
}
template <class V> constexpr CSumWidth SumWidth() {
    return {CLaneWidth<V>::N,
            RowSumsBy<V>,
            {EntrySumsAny, EntrySumsBy<V, 1>, EntrySumsBy<V, 2>, EntrySumsBy<V, 3>,
             EntrySumsBy<V, 4>, EntrySumsBy<V, 5>, EntrySumsBy<V, 6>, EntrySumsBy<V, 7>,
             EntrySumsBy<V, 8>}};
}
const CSumWidth SUMS_BY_1 = SumWidth<double>();
const CSumWidth SUMS_BY_2 = SumWidth<CLanes2>();

#if KOVA_LANES_AVX2
KOVA_TARGET_AVX2 void RowSumsBy4(const double* a, int rs, int rows, const double* w, int count,
                                 double* out) {
    RowSumsOf<CLanes4>(a, rs, rows, w, count, out);
}
template <int M>
KOVA_TARGET_AVX2 void EntrySumsBy4(const double* a, int stride, int, const double* w, int count,
                                   double* out) {
    EntrySumsOf<CLanes4, M>(a, stride, w, count, out);
}
const CSumWidth SUMS_BY_4 = {4,
                             RowSumsBy4,
                             {EntrySumsAny, EntrySumsBy4<1>, EntrySumsBy4<2>, EntrySumsBy4<3>,
                              EntrySumsBy4<4>, EntrySumsBy4<5>, EntrySumsBy4<6>, EntrySumsBy4<7>,
                              EntrySumsBy4<8>}};
#endif

const CSumWidth* WidestSums() {
    return WidestLanes(&SUMS_BY_2, KOVA_IF_AVX2(&SUMS_BY_4));
}

const CSumWidth*& SumsSlot() {
    static const CSumWidth* sums = WidestSums();
    return sums;
}

} // namespace

void WeightedRowSums(const double* a, int rowStride, int rows, const double* w, int count,
                     double* out) {
    SumsSlot()->rows(a, rowStride, rows, w, count, out);
}

void WeightedEntrySums(const double* a, int stride, int nEntries, const double* w, int count,
                       double* out) {
    // The vectors read up to 3 values past a node's entries (not past the
    // last node's): what lies before the next node's entries.
    const bool roomAfter = stride - nEntries >= 3;
    SumsSlot()->entries[roomAfter && nEntries <= ENTRY_COUNT ? nEntries : 0](a, stride, nEntries, w,
                                                                             count, out);
}

void SetChunkSumLanes(int lanes) {
    if (lanes == 1)
        SumsSlot() = &SUMS_BY_1;
    else if (lanes == 2)
        SumsSlot() = &SUMS_BY_2;
    else
        SumsSlot() = WidestSums();
}

int ChunkSumLanes() {
    return SumsSlot()->lanes;
}
