// Number text. Every number the system writes as text goes through fixedText: rounded half away
// from zero on the exact decimal value of the double, a point as separator whatever the locale,
// right-aligned with spaces in at least `width` characters and never cut. Every number it reads
// from text goes through parseDecimal. No locale, no iostream, no printf.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace rawdat {

// Appends `value` with `decimals` decimals (0: no decimal point) right-aligned in `width`.
void appendFixed(std::string& out, double value, int decimals, int width = 0);
std::string fixedText(double value, int decimals, int width = 0);
// Appends the shortest decimal that reads back as the Single `value`, without exponent: 283.769,
// 0.0105203, 100 (an integer has no decimal point). A negative zero is written 0. Not for NaN or
// infinities.
void appendShortest(std::string& out, float value);
std::string shortestText(float value);
// The same for a Double.
std::string shortestText(double value);
// Plain decimal integer, no padding.
std::string intText(std::int64_t value);

struct ParsedNumber {
    double value = 0.0;    // the number, or the value of the leading valid part
    bool whole = false;    // the text, after leading spaces, is one valid number and nothing else
    std::size_t used = 0;  // characters of the text taken by the leading valid part (spaces included)
};
// A decimal number: leading spaces skipped, optional sign, digits with an optional fraction,
// optional exponent. Text that is not a number gives the value of its leading valid part (0 when
// there is none); `whole` says whether the whole text was one number.
ParsedNumber parseDecimal(std::string_view text);

} // namespace rawdat
