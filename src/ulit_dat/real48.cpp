#include "ulit_dat/real48.h"

#include "ulit_dat/errors.h"

#include <cmath>
#include <cstring>

namespace rawdat {

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
    const bool negative = (frac >> 39) & 1u;
    frac &= (std::uint64_t{1} << 39) - 1;
    const double mant = 1.0 + std::ldexp(static_cast<double>(frac), -39);
    const double v = std::ldexp(mant, int{b_[0]} - 129);
    return negative ? -v : v;
}

Real48 Real48::fromValue(long double v)
{
    if (std::isnan(v))
        throw FloatError(FloatError::Kind::InvalidOperation);
    if (std::isinf(v))
        throw FloatError(FloatError::Kind::Overflow);
    Real48 r;
    if (v == 0.0L)
        return r;
    const bool negative = std::signbit(v);
    int e = 0;
    // |v| = m * 2^e with m in [0.5, 1): the 64-bit mantissa is m * 2^64 exactly.
    const long double m = std::frexp(std::fabs(v), &e);
    auto mant64 = static_cast<std::uint64_t>(std::ldexp(m, 64)); // exact, top bit set
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
    std::uint64_t frac = kept & ((std::uint64_t{1} << 39) - 1);
    if (negative)
        frac |= std::uint64_t{1} << 39;
    r.b_[0] = static_cast<std::uint8_t>(biased);
    for (int i = 1; i <= 5; ++i) {
        r.b_[i] = static_cast<std::uint8_t>(frac & 0xFF);
        frac >>= 8;
    }
    return r;
}

double real48Max()
{
    return std::ldexp(2.0 - std::ldexp(1.0, -39), 126);
}

} // namespace rawdat
