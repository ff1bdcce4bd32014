// Real48: the 6-byte real of the detector formats.
//
//  byte 0      binary exponent biased by 129; 0 means the value 0 whatever the other bytes hold
//  bytes 1..5  39-bit fraction without its leading 1, least significant byte first;
//              the top bit of byte 5 is the sign
//  value = (-1)^sign * (1 + fraction / 2^39) * 2^(exponent - 129)
//
// Every Real48 is exactly a double (40 significant bits, exponents -128..126), so reading
// never rounds. Storing rounds the 64-bit extended mantissa to 39 fraction bits, to nearest with
// ties away from zero; magnitudes below 2^-128 become 0, above the largest Real48 overflow.
#pragma once

#include <array>
#include <cstdint>

namespace rawdat {

class Real48 {
public:
    Real48() = default; // zero
    static Real48 fromBytes(const std::uint8_t* six);
    // Throws FloatError(Overflow) above the largest magnitude, FloatError(InvalidOperation) for NaN.
    static Real48 fromValue(long double v);
    // A count: the bytes of fromValue(v), built directly (every int32 fits 40 significant bits).
    static Real48 fromCount(std::int32_t v);
    double value() const;
    const std::array<std::uint8_t, 6>& bytes() const { return b_; }
    bool operator==(const Real48&) const = default;

private:
    std::array<std::uint8_t, 6> b_{};
};

// The largest value a Real48 holds: (2 - 2^-39) * 2^126.
double real48Max();

} // namespace rawdat
