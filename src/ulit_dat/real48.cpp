#include "ulit_dat/real48.h"

#include "ulit_dat/errors.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

namespace rawdat {

namespace {

// long double is the x87 80-bit extended format: a 64-bit mantissa with its leading bit, then
// 15 exponent bits biased by 16383 and the sign, little-endian.
constexpr bool kX87Extended = std::numeric_limits<long double>::digits == 64 &&
                              std::numeric_limits<long double>::max_exponent == 16384 &&
                              sizeof(long double) >= 10 && std::endian::native == std::endian::little;

constexpr std::uint64_t kFractionMask = (std::uint64_t{1} << 39) - 1;

// The image of (-1)^negative * (1 + fraction / 2^39) * 2^(biased - 129), biased 1..255.
Real48 packed(int biased, std::uint64_t fraction, bool negative)
{
    std::uint64_t f = fraction & kFractionMask;
    if (negative)
        f |= std::uint64_t{1} << 39;
    std::uint8_t six[6];
    six[0] = static_cast<std::uint8_t>(biased);
    for (int i = 1; i <= 5; ++i) {
        six[i] = static_cast<std::uint8_t>(f & 0xFF);
        f >>= 8;
    }
    return Real48::fromBytes(six);
}

} // namespace

Real48 Real48::fromBytes(const std::uint8_t* six)
{
    Real48 r;
    std::memcpy(r.b_.data(), six, 6);
    return r;
}

double Real48::value() const
{
    if (b_[0] == 0)
        return 0.0;
    std::uint64_t frac = 0;
    for (int i = 5; i >= 1; --i)
        frac = (frac << 8) | b_[i];
    const std::uint64_t sign = (frac >> 39) & 1u;
    frac &= (std::uint64_t{1} << 39) - 1;
    // Exponents 2^-128 .. 2^126 and 40 significant bits: always a normal double, built bit by bit.
    const auto exponent = static_cast<std::uint64_t>(int{b_[0]} - 129 + 1023);
    return std::bit_cast<double>(sign << 63 | exponent << 52 | frac << 13);
}

Real48 Real48::fromValue(long double v)
{
    Real48 r;
    bool negative = false;
    // |v| = m * 2^e with m in [0.5, 1), and its 64-bit mantissa m * 2^64, exactly.
    int e = 0;
    std::uint64_t mant64 = 0;
    if constexpr (kX87Extended) {
        // The 80-bit format holds that mantissa (top bit set in a normal number), the exponent
        // and the sign as they are: no classification, frexp or ldexp needed.
        std::uint16_t signExponent = 0;
        std::memcpy(&mant64, &v, 8);
        std::memcpy(&signExponent, reinterpret_cast<const unsigned char*>(&v) + 8, 2);
        const int biasedExponent = signExponent & 0x7FFF;
        if (biasedExponent == 0x7FFF) // infinite when the fraction below the top bit is zero
            throw FloatError((mant64 << 1) == 0 ? FloatError::Kind::Overflow : FloatError::Kind::InvalidOperation);
        if (biasedExponent == 0)
            return r; // zero, or below 2^-16382: far below the smallest magnitude, 0
        negative = (signExponent & 0x8000) != 0;
        e = biasedExponent - 16382;
    } else {
        if (std::isnan(v))
            throw FloatError(FloatError::Kind::InvalidOperation);
        if (std::isinf(v))
            throw FloatError(FloatError::Kind::Overflow);
        if (v == 0.0L)
            return r;
        negative = std::signbit(v);
        const long double m = std::frexp(std::fabs(v), &e);
        mant64 = static_cast<std::uint64_t>(std::ldexp(m, 64)); // exact, top bit set
    }
    // Keep the leading 1 and 39 fraction bits (40 bits); round on the 24 bits dropped.
    std::uint64_t kept = mant64 >> 24;
    const std::uint64_t dropped = mant64 & 0xFFFFFFu;
    if (dropped >= 0x800000u) // ties away from zero
        ++kept;
    int exponent = e - 1; // value = 1.f * 2^exponent
    if (kept >> 40) {     // rounding carried into a new bit
        kept >>= 1;
        ++exponent;
    }
    const int biased = exponent + 129;
    if (biased > 255)
        throw FloatError(FloatError::Kind::Overflow);
    if (biased < 1)
        return r; // below the smallest magnitude: 0
    return packed(biased, kept, negative);
}

Real48 Real48::fromCount(std::int32_t v)
{
    if (v == 0)
        return Real48();
    const std::uint64_t magnitude = v < 0 ? std::uint64_t{0} - static_cast<std::uint64_t>(v) : static_cast<std::uint64_t>(v);
    const int exponent = std::bit_width(magnitude) - 1; // 0..31: no rounding, no overflow
    return packed(exponent + 129, magnitude << (39 - exponent), v < 0);
}

double real48Max()
{
    return std::ldexp(2.0 - std::ldexp(1.0, -39), 126);
}

} // namespace rawdat
