#include "model/exact_sum.h"

#include <cmath>
#include <cstring>

namespace {

constexpr int LOWEST_EXPONENT = -1074; // weight of bit 0 of limb 0
constexpr uint64_t LOW32 = 0xffffffffu;

} // namespace

void CExactSum::Add(double value) {
    if (value == 0.0)
        return;
    if (!std::isfinite(value)) {
        m_nonFinite = true;
        m_nonFiniteSum += value;
        return;
    }
    // value = mantissa x 2^exponent with an integer mantissa of at most 53
    // bits, read from the bits of the double (a subnormal has no hidden bit
    // and the exponent of the smallest normal).
    uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    const int biased = static_cast<int>((bits >> 52) & 0x7ff);
    uint64_t mantissa = bits & ((uint64_t(1) << 52) - 1);
    int exponent = LOWEST_EXPONENT;
    if (biased > 0) {
        mantissa |= uint64_t(1) << 52;
        exponent = biased - 1075;
    }
    const int bit = exponent - LOWEST_EXPONENT;
    const int k = bit / 32;
    const int shift = bit % 32;
    const uint64_t low = (mantissa & LOW32) << shift; // < 2^64
    const uint64_t high = (mantissa >> 32) << shift;  // < 2^53
    const int64_t p0 = static_cast<int64_t>(low & LOW32);
    const int64_t p1 = static_cast<int64_t>((low >> 32) + (high & LOW32));
    const int64_t p2 = static_cast<int64_t>(high >> 32);
    if (value > 0.0) {
        m_limb[k] += p0;
        m_limb[k + 1] += p1;
        m_limb[k + 2] += p2;
    } else {
        m_limb[k] -= p0;
        m_limb[k + 1] -= p1;
        m_limb[k + 2] -= p2;
    }
    if (++m_adds >= ADDS_BEFORE_CARRY)
        Carry();
}

void CExactSum::Add(const CExactSum& other) {
    CExactSum copy = other;
    copy.Carry();
    Carry();
    for (int k = 0; k < LIMBS; ++k)
        m_limb[k] += copy.m_limb[k];
    m_adds = 1;
    if (other.m_nonFinite) {
        m_nonFinite = true;
        m_nonFiniteSum += other.m_nonFiniteSum;
    }
}

// Every limb but the last back to 0..2^32-1; the last keeps the sign.
void CExactSum::Carry() {
    for (int k = 0; k + 1 < LIMBS; ++k) {
        const int64_t carry = m_limb[k] >> 32; // floor division by 2^32
        m_limb[k] -= carry * (int64_t(1) << 32);
        m_limb[k + 1] += carry;
    }
    m_adds = 0;
}

double CExactSum::Value() const {
    if (m_nonFinite)
        return m_nonFiniteSum;
    CExactSum digits = *this;
    digits.Carry();
    double sign = 1.0;
    if (digits.m_limb[LIMBS - 1] < 0) {
        // Magnitude and sign: negate, then carry again.
        for (int k = 0; k < LIMBS; ++k)
            digits.m_limb[k] = -digits.m_limb[k];
        digits.Carry();
        sign = -1.0;
    }
    // From the top: the first three non-zero limbs hold more bits than a
    // double, so the rest changes the result by rounding at most.
    double sum = 0.0;
    for (int k = LIMBS - 1; k >= 0; --k)
        if (digits.m_limb[k] != 0)
            sum += std::ldexp(static_cast<double>(digits.m_limb[k]), 32 * k + LOWEST_EXPONENT);
    return sign * sum;
}

void CExactSum::Clear() {
    *this = CExactSum();
}

void CExactSum::Image(int64_t* words) const {
    static_assert(IMAGE_WORDS == LIMBS + 2, "an image holds the limbs and the non-finite part");
    CExactSum digits = *this;
    digits.Carry();
    std::memcpy(words, digits.m_limb, sizeof digits.m_limb);
    words[LIMBS] = m_nonFinite ? 1 : 0;
    std::memcpy(&words[LIMBS + 1], &m_nonFiniteSum, sizeof m_nonFiniteSum);
}

bool CExactSum::FromImage(const int64_t* words) {
    // Carried limbs lie in 0..2^32-1; the last keeps the sign and, summing
    // no more than a run's additions, stays far inside 2^40.
    for (int k = 0; k + 1 < LIMBS; ++k)
        if (words[k] < 0 || words[k] > static_cast<int64_t>(LOW32))
            return false;
    const int64_t top = words[LIMBS - 1];
    if (top < -(int64_t(1) << 40) || top > (int64_t(1) << 40) ||
        (words[LIMBS] != 0 && words[LIMBS] != 1))
        return false;
    Clear();
    std::memcpy(m_limb, words, sizeof m_limb);
    m_nonFinite = words[LIMBS] == 1;
    std::memcpy(&m_nonFiniteSum, &words[LIMBS + 1], sizeof m_nonFiniteSum);
    return true;
}
