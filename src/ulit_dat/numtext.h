// Number text. Every number the system writes as text goes through fixedText: rounded half away
// from zero on the exact decimal value of the double, a point as separator whatever the locale,
// right-aligned with spaces in at least `width` characters and never cut. Every number it reads
// from text goes through parseDecimal. No locale, no iostream, no printf.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

namespace rawdat {

// Appends `value` with `decimals` decimals (0: no decimal point) right-aligned in `width`.
void appendFixed(std::string& out, double value, int decimals, int width = 0);
std::string fixedText(double value, int decimals, int width = 0);

// The widest field written in place, and the room putFixed needs beyond it: the longest text of
// a double (309 digits, a sign and the decimals).
constexpr int kFastWidth = 32;
constexpr std::size_t kFixedRoom = 400;
// Writes fixedText(value, decimals, width) at p and returns its end. p has room for
// kFixedRoom + max(width, kFastWidth) characters; what lies past the end may be overwritten.
char* putFixed(char* p, double value, int decimals, int width);

// A text of many numbers, each written in place into one buffer that grows in large steps: the
// TXT and two-column writers put tens of thousands of numbers in a file.
class FixedText {
public:
    explicit FixedText(std::size_t expected);
    void fixed(double value, int decimals, int width)
    {
        if (width > kFastWidth)
            return wideField(value, decimals, width);
        room(kFixedRoom + kFastWidth);
        used_ = static_cast<std::size_t>(putFixed(text_.get() + used_, value, decimals, width) - text_.get());
    }
    void append(std::string_view s)
    {
        room(s.size());
        std::memcpy(text_.get() + used_, s.data(), s.size());
        used_ += s.size();
    }
    std::string take() const;

private:
    void room(std::size_t n)
    {
        if (size_ - used_ < n)
            grow(n);
    }
    void grow(std::size_t n);
    void wideField(double value, int decimals, int width);
    std::size_t size_;
    std::unique_ptr<char[]> text_;
    std::size_t used_ = 0;
};
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
