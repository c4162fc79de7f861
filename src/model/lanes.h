// Lanes: the same arithmetic on neighbouring nodes at once. A lane type is a
// plain double (one node) or a vector of doubles (CLanes2, CLanes4, CLanes8);
// every operation on a vector is the operation of each lane, correctly
// rounded as the scalar one, so a loop written once for a lane type gives the
// same bits for every width. Vectors of eight take AVX-512 and vectors of four
// AVX2, chosen at run time; vectors of two are SSE2, which every x86-64
// processor has (elsewhere the compiler splits them into scalars).
//
// The helpers are always inlined: inlined into a function compiled for AVX2
// or AVX-512 they become its code; a copy of them is never called across
// functions.
#pragma once

#include <cstring>

typedef double CLanes2 __attribute__((vector_size(16)));
typedef double CLanes4 __attribute__((vector_size(32)));
typedef double CLanes8 __attribute__((vector_size(64)));

#define KOVA_LANES_INLINE __attribute__((always_inline)) inline

// Functions for AVX2 and AVX-512 are built on x86 alone (KOVA_LANES_AVX2)
// and called only where ProcessorHasAvx2 or ProcessorHasAvx512.
// KOVA_IF_AVX2(x) is x where they are built, else null.
#if defined(__x86_64__) || defined(__i386__)
#define KOVA_LANES_AVX2 1
#define KOVA_TARGET_AVX2 __attribute__((target("avx2")))
#define KOVA_TARGET_AVX512 __attribute__((target("avx512f")))
#define KOVA_IF_AVX2(x) (x)
inline bool ProcessorHasAvx2() {
    return __builtin_cpu_supports("avx2");
}
inline bool ProcessorHasAvx512() {
    return __builtin_cpu_supports("avx512f");
}
#else
#define KOVA_LANES_AVX2 0
#define KOVA_IF_AVX2(x) nullptr
inline bool ProcessorHasAvx2() {
    return false;
}
inline bool ProcessorHasAvx512() {
    return false;
}
#endif

// Of a table of functions in lanes of two (by2), of four (by4) and of eight
// (by8; null when not built), the widest the processor runs.
// (T is taken from by2 alone: by4 and by8 may be a plain null.)
template <class T> struct CLanesOf { using Type = T; };
template <class T>
const T* WidestLanes(const T* by2, const typename CLanesOf<T>::Type* by4,
                     const typename CLanesOf<T>::Type* by8 = nullptr) {
    if (by8 != nullptr && ProcessorHasAvx512())
        return by8;
    return by4 != nullptr && ProcessorHasAvx2() ? by4 : by2;
}

template <class V> struct CLaneWidth;
template <> struct CLaneWidth<double> { static constexpr int N = 1; };
template <> struct CLaneWidth<CLanes2> { static constexpr int N = 2; };
template <> struct CLaneWidth<CLanes4> { static constexpr int N = 4; };
template <> struct CLaneWidth<CLanes8> { static constexpr int N = 8; };

// Lane l takes p[l * stride].
template <class V> KOVA_LANES_INLINE V LoadLanes(const double* p, int stride) {
    if (stride == 1) { // one load
        V v;
        std::memcpy(&v, p, sizeof v);
        return v;
    }
    if constexpr (CLaneWidth<V>::N == 8) { // two halves: fewer shuffles than lane by lane
        const CLanes4 low = LoadLanes<CLanes4>(p, stride);
        const CLanes4 high = LoadLanes<CLanes4>(p + 4 * stride, stride);
        return __builtin_shufflevector(low, high, 0, 1, 2, 3, 4, 5, 6, 7);
    } else {
        V v;
        for (int l = 0; l < CLaneWidth<V>::N; ++l)
            v[l] = p[l * stride];
        return v;
    }
}
template <> KOVA_LANES_INLINE double LoadLanes<double>(const double* p, int) {
    return *p;
}

template <class V> KOVA_LANES_INLINE V SplatLanes(double x) {
    return LoadLanes<V>(&x, 0);
}

// p[l * stride] takes lane l.
template <class V> KOVA_LANES_INLINE void StoreLanes(double* p, int stride, const V& v) {
    if (stride == 1) {
        std::memcpy(p, &v, sizeof v);
        return;
    }
    if constexpr (CLaneWidth<V>::N == 8) {
        StoreLanes<CLanes4>(p, stride, __builtin_shufflevector(v, v, 0, 1, 2, 3));
        StoreLanes<CLanes4>(p + 4 * stride, stride, __builtin_shufflevector(v, v, 4, 5, 6, 7));
    } else {
        for (int l = 0; l < CLaneWidth<V>::N; ++l)
            p[l * stride] = v[l];
    }
}
template <> KOVA_LANES_INLINE void StoreLanes<double>(double* p, int, const double& v) {
    *p = v;
}

// Per lane: x >= 0 ? a : b (a lane of x that is not a number takes b).
template <class V> KOVA_LANES_INLINE V IfNotNegative(const V& x, const V& a, const V& b) {
    return x >= 0.0 ? a : b;
}
template <>
KOVA_LANES_INLINE double IfNotNegative<double>(const double& x, const double& a, const double& b) {
    return x >= 0.0 ? a : b;
}

// Per lane: x < 0 ? a : b.
template <class V> KOVA_LANES_INLINE V IfNegative(const V& x, const V& a, const V& b) {
    return x < 0.0 ? a : b;
}
template <>
KOVA_LANES_INLINE double IfNegative<double>(const double& x, const double& a, const double& b) {
    return x < 0.0 ? a : b;
}
