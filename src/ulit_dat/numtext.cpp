#include "ulit_dat/numtext.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>

namespace rawdat {

namespace {

// True when |value| * 10^decimals lies exactly halfway between two integers. With
// value = M * 2^-k (M odd), value * 10^d = M * 5^d * 2^(d - k): its fractional part is exactly
// one half when d - k = -1.
bool isDecimalTie(double value, int decimals)
{
    if (value == 0.0 || !std::isfinite(value))
        return false;
    int e = 0;
    const double m = std::frexp(std::fabs(value), &e); // value = m * 2^e, m in [0.5, 1)
    auto mant = static_cast<std::uint64_t>(std::ldexp(m, 53));
    const int tz = std::countr_zero(mant);
    mant >>= tz;
    const int k = 53 - e - tz; // value = mant * 2^-k with mant odd
    return decimals - k == -1;
}

} // namespace

void appendFixed(std::string& out, double value, int decimals, int width)
{
    char buf[400];
    double v = value;
    // to_chars rounds the exact binary value correctly, ties to even; a true tie is moved one
    // ulp away from zero so that it rounds away from zero.
    if (isDecimalTie(v, decimals))
        v = std::nextafter(v, std::signbit(v) ? -HUGE_VAL : HUGE_VAL);
    auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, decimals);
    std::size_t len = res.ec == std::errc() ? static_cast<std::size_t>(res.ptr - buf) : 0;
    if (len == 0) {
        std::memcpy(buf, "NAN", 3);
        len = 3;
    }
    if (width > 0 && len < static_cast<std::size_t>(width))
        out.append(static_cast<std::size_t>(width) - len, ' ');
    out.append(buf, len);
}

std::string fixedText(double value, int decimals, int width)
{
    std::string s;
    appendFixed(s, value, decimals, width);
    return s;
}

std::string intText(std::int64_t value)
{
    char buf[24];
    auto res = std::to_chars(buf, buf + sizeof buf, value);
    return std::string(buf, res.ptr);
}

ParsedNumber parseDecimal(std::string_view text)
{
    ParsedNumber r;
    std::size_t i = 0;
    const std::size_t n = text.size();
    while (i < n && text[i] == ' ')
        ++i;
    const std::size_t numberStart = i;
    bool negative = false;
    if (i < n && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    const std::size_t digitsStart = i;
    std::size_t digits = 0;
    while (i < n && text[i] >= '0' && text[i] <= '9') {
        ++i;
        ++digits;
    }
    if (i < n && text[i] == '.') {
        ++i;
        while (i < n && text[i] >= '0' && text[i] <= '9') {
            ++i;
            ++digits;
        }
    }
    if (digits == 0) {
        r.used = 0;
        return r; // no number at all
    }
    std::size_t end = i;
    if (i < n && (text[i] == 'e' || text[i] == 'E')) {
        std::size_t j = i + 1;
        if (j < n && (text[j] == '+' || text[j] == '-'))
            ++j;
        const std::size_t expDigits = j;
        while (j < n && text[j] >= '0' && text[j] <= '9')
            ++j;
        if (j > expDigits)
            end = j;
    }
    // from_chars takes no leading '+' and, for a leading '.', needs the digits as they are.
    double v = 0.0;
    const char* first = text.data() + digitsStart;
    const char* last = text.data() + end;
    auto res = std::from_chars(first, last, v, std::chars_format::general);
    if (res.ec == std::errc::result_out_of_range) {
        // from_chars leaves v unchanged on range errors: give the saturated value.
        const bool tiny = std::memchr(first, '-', static_cast<std::size_t>(last - first)) != nullptr;
        v = tiny ? 0.0 : HUGE_VAL;
    }
    r.value = negative ? -v : v;
    r.used = end;
    r.whole = end == n && end > numberStart;
    return r;
}

} // namespace rawdat
