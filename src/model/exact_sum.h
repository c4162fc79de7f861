// A sum of doubles without rounding: every addend is kept exactly in a
// fixed-point accumulator wide enough for the whole range of doubles, so the
// sum does not depend on the order of the additions. The budget adds the
// partial sums of node chunks in whatever order the threads finish them and
// still writes the same bits for every number of threads.
#pragma once

#include <cstdint>

class CExactSum {
public:
    void Add(double value);
    void Add(const CExactSum& other);
    // The sum, rounded to a double (the same bits for the same exact sum).
    double Value() const;
    void Clear();

    // The sum as IMAGE_WORDS whole numbers (its limbs carried, then its
    // non-finite part), for a checkpoint. FromImage takes one back and
    // refuses (false) words that no sum gives.
    static constexpr int IMAGE_WORDS = 68 + 2;
    void Image(int64_t* words) const;
    bool FromImage(const int64_t* words);

private:
    // Limb k holds a signed multiple of 2^(32 k - 1074): 2^-1074 is the
    // smallest subnormal, and 64 limbs reach past the largest double.
    static constexpr int LIMBS = 68;
    // Each addition puts less than 2^33 into a limb; carries are pushed up
    // before a limb could overflow.
    static constexpr int ADDS_BEFORE_CARRY = 1 << 28;

    void Carry();

    int64_t m_limb[LIMBS] = {};
    int m_adds = 0;
    bool m_nonFinite = false; // an addend was infinite or not a number
    double m_nonFiniteSum = 0.0;
};
