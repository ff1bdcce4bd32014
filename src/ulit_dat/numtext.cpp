#include "ulit_dat/numtext.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <utility>

namespace rawdat {

namespace {

constexpr int kMaxScaledDecimals = 19;
constexpr char kSpaces[kFastWidth + 1] = "                                ";
static_assert(sizeof kSpaces == kFastWidth + 1);

constexpr std::array<std::uint64_t, kMaxScaledDecimals + 1> kPow10 = [] {
    std::array<std::uint64_t, kMaxScaledDecimals + 1> p{};
    p[0] = 1;
    for (std::size_t d = 1; d < p.size(); ++d)
        p[d] = p[d - 1] * 10;
    return p;
}();

// The largest mantissa that, times 10^d, still fits 64 bits.
constexpr std::array<std::uint64_t, kMaxScaledDecimals + 1> kMaxMantissa = [] {
    std::array<std::uint64_t, kMaxScaledDecimals + 1> m{};
    for (std::size_t d = 0; d < m.size(); ++d)
        m[d] = std::numeric_limits<std::uint64_t>::max() / kPow10[d];
    return m;
}();

// |value| * 10^decimals rounded half away from zero, exactly, in 64-bit integer arithmetic: the
// count of 10^-decimals that the text shows. False when the value is not a normal number (or
// zero) or when the exact product does not fit 64 bits; the caller then takes the general path.
// With |value| = m * 2^e (m odd), |value| * 10^d = m * 10^d * 2^e: a shift, and for e < 0 the
// bits shifted out decide the rounding (one half exactly is rounded up).
bool scaledMagnitude(double value, int decimals, std::uint64_t& scaled)
{
    if (decimals < 0 || decimals > kMaxScaledDecimals)
        return false;
    const auto bits = std::bit_cast<std::uint64_t>(value);
    if ((bits << 1) == 0) { // +0 or -0
        scaled = 0;
        return true;
    }
    const auto biased = static_cast<int>((bits >> 52) & 0x7FF);
    if (biased == 0 || biased == 0x7FF) // subnormal, infinite or NaN
        return false;
    std::uint64_t m = (bits & ((std::uint64_t{1} << 52) - 1)) | (std::uint64_t{1} << 52);
    int e = biased - 1075;
    const int tz = std::countr_zero(m);
    m >>= tz;
    e += tz;
    const auto d = static_cast<std::size_t>(decimals);
    if (m > kMaxMantissa[d])
        return false;
    const std::uint64_t product = m * kPow10[d];
    if (e >= 0) {
        if (e >= 64 || product > (std::numeric_limits<std::uint64_t>::max() >> e))
            return false;
        scaled = product << e;
        return true;
    }
    const int shift = -e;
    if (shift > 64) { // product < 2^64 <= 2^(shift - 1): below one half
        scaled = 0;
    } else if (shift == 64) {
        scaled = product >> 63; // one half or more rounds to 1
    } else {
        const std::uint64_t dropped = product & ((std::uint64_t{1} << shift) - 1);
        scaled = (product >> shift) + (dropped >= (std::uint64_t{1} << (shift - 1)) ? 1 : 0);
    }
    return true;
}

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

// The text without padding, into buf (at least kFixedRoom characters), by the general path that
// takes any double; returns its length.
std::size_t fixedChars(char* buf, std::size_t size, double value, int decimals)
{
    // to_chars rounds the exact binary value correctly, but ties to even. A true tie has exactly
    // decimals + 1 decimals, the last one a 5: written with them all, nothing is rounded, and
    // dropping the 5 and adding one unit to the digits left rounds it away from zero.
    const bool tie = isDecimalTie(value, decimals);
    auto res = std::to_chars(buf, buf + size, value, std::chars_format::fixed, tie ? decimals + 1 : decimals);
    if (res.ec != std::errc() || res.ptr == buf) {
        std::memcpy(buf, "NAN", 3);
        return 3;
    }
    std::size_t len = static_cast<std::size_t>(res.ptr - buf);
    if (tie) {
        len -= decimals == 0 ? 2 : 1; // the 5, and the point when no decimal is written
        std::size_t i = len;
        while (i > 0 && (buf[i - 1] == '9' || buf[i - 1] == '.')) {
            if (buf[i - 1] == '9')
                buf[i - 1] = '0';
            --i;
        }
        if (i > 0 && buf[i - 1] != '-') {
            ++buf[i - 1];
        } else { // all nines: one more digit in front
            std::memmove(buf + i + 1, buf + i, len - i);
            buf[i] = '1';
            ++len;
        }
    }
    return len;
}

// The fast path of putFixed for `D` decimals: the digits of |value| * 10^D, already rounded,
// written from the last one back two at a time, then moved into place in one fixed-size copy.
template <int D>
char* scaledFixed(char* p, std::uint64_t scaled, bool negative, int width)
{
    static constexpr char kPairs[] = "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
                                     "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
                                     "8081828384858687888990919293949596979899";
    constexpr std::size_t kLongest = 48; // a sign, 20 digits, a point and up to 19 zeros after it
    char buf[2 * kLongest];
    char* const end = buf + kLongest;
    char* q = end;
    if constexpr (D > 0) {
        std::uint64_t fraction = scaled % kPow10[D];
        scaled /= kPow10[D];
        for (int i = 0; i < D; ++i) {
            *--q = static_cast<char>('0' + fraction % 10);
            fraction /= 10;
        }
        *--q = '.';
    }
    while (scaled >= 100) {
        q -= 2;
        std::memcpy(q, kPairs + 2 * (scaled % 100), 2);
        scaled /= 100;
    }
    if (scaled >= 10) {
        q -= 2;
        std::memcpy(q, kPairs + 2 * scaled, 2);
    } else {
        *--q = static_cast<char>('0' + scaled);
    }
    // The same text as the general path: a minus sign whenever the sign bit is set (also for -0
    // and for negatives that round to zero).
    if (negative)
        *--q = '-';
    const auto len = static_cast<int>(end - q);
    if (len < width) {
        std::memcpy(p, kSpaces, kFastWidth);
        p += width - len;
    }
    std::memcpy(p, q, kLongest);
    return p + len;
}

template <int... D>
constexpr auto scaledFixedOf(std::integer_sequence<int, D...>)
{
    return std::array{&scaledFixed<D>...};
}
constexpr auto kScaledFixed = scaledFixedOf(std::make_integer_sequence<int, kMaxScaledDecimals + 1>{});

} // namespace

char* putFixed(char* p, double value, int decimals, int width)
{
    std::uint64_t scaled = 0;
    // Counts are whole numbers: with no decimals they need no rounding at all.
    const double magnitude = std::fabs(value);
    if (decimals == 0 && width <= kFastWidth && magnitude < 0x1p53 &&
        static_cast<double>(static_cast<std::int64_t>(magnitude)) == magnitude)
        return scaledFixed<0>(p, static_cast<std::uint64_t>(magnitude), std::signbit(value), width);
    if (width <= kFastWidth && scaledMagnitude(value, decimals, scaled))
        return kScaledFixed[static_cast<std::size_t>(decimals)](p, scaled, std::signbit(value), width);
    char text[kFixedRoom];
    const std::size_t len = fixedChars(text, sizeof text, value, decimals);
    const std::size_t pad = width > 0 && len < static_cast<std::size_t>(width) ? static_cast<std::size_t>(width) - len : 0;
    std::memset(p, ' ', pad);
    std::memcpy(p + pad, text, len);
    return p + pad + len;
}

void appendShortest(std::string& out, float value)
{
    // The largest Single written whole has 39 digits; the smallest subnormal 45 decimals.
    char buf[64];
    const auto end = std::to_chars(buf, buf + sizeof buf, value == 0.0f ? 0.0f : value, std::chars_format::fixed).ptr;
    out.append(buf, end);
}

std::string shortestText(float value)
{
    std::string s;
    appendShortest(s, value);
    return s;
}

std::string shortestText(double value)
{
    // The largest Double written whole has 309 digits; the smallest subnormal 1074 decimals.
    std::array<char, 1100> buf;
    const auto end = std::to_chars(buf.data(), buf.data() + buf.size(), value == 0.0 ? 0.0 : value,
                                   std::chars_format::fixed).ptr;
    return std::string(buf.data(), end);
}

void appendFixed(std::string& out, double value, int decimals, int width)
{
    char buf[kFixedRoom + kFastWidth];
    if (width > kFastWidth) { // wider than any field the formats have: the padding on its own
        char* const end = putFixed(buf, value, decimals, 0);
        if (end - buf < width)
            out.append(static_cast<std::size_t>(width - (end - buf)), ' ');
        out.append(buf, static_cast<std::size_t>(end - buf));
        return;
    }
    out.append(buf, static_cast<std::size_t>(putFixed(buf, value, decimals, width) - buf));
}

FixedText::FixedText(std::size_t expected)
    : size_(expected + kFixedRoom + kFastWidth), text_(std::make_unique_for_overwrite<char[]>(size_))
{
}

void FixedText::grow(std::size_t n)
{
    const std::size_t size = std::max(size_ * 2, used_ + n);
    auto text = std::make_unique_for_overwrite<char[]>(size);
    std::memcpy(text.get(), text_.get(), used_);
    text_ = std::move(text);
    size_ = size;
}

void FixedText::wideField(double value, int decimals, int width)
{
    std::string field;
    appendFixed(field, value, decimals, width);
    append(field);
}

std::string FixedText::take() const
{
    return std::string(text_.get(), used_);
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
