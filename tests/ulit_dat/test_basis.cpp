// Real48, Text<N>, number text and the number parser, the checked byte reader.
#include "ulit_dat/binio.h"
#include "ulit_dat/errors.h"
#include "ulit_dat/numtext.h"
#include "ulit_dat/real48.h"
#include "ulit_dat/shortstr.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>

using namespace rawdat;

namespace {
using B6 = std::array<std::uint8_t, 6>;
Real48 r48(B6 b) { return Real48::fromBytes(b.data()); }
} // namespace

TEST(Real48, DecodesKnownImages)
{
    struct Row { B6 bytes; double value; };
    const Row rows[] = {
        {{0x81, 0, 0, 0, 0, 0x00}, 1.0},
        {{0x81, 0, 0, 0, 0, 0x80}, -1.0},
        {{0x82, 0, 0, 0, 0, 0x40}, 3.0},
        {{0x80, 0, 0, 0, 0, 0x00}, 0.5},
        {{0x84, 0, 0, 0, 0, 0x20}, 10.0},
        {{0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, 0.0}, // exponent 0: zero whatever follows
        {{0x01, 0, 0, 0, 0, 0}, std::ldexp(1.0, -128)},
        {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F}, real48Max()},
    };
    for (const auto& r : rows)
        EXPECT_EQ(r48(r.bytes).value(), r.value) << r.value;
}

TEST(Real48, EncodesExactValuesAndRoundTrips)
{
    const double values[] = {1.0, -1.0, 3.0, 0.5, 10.0, 1.54056, -123.456, 1e-30, 1e30, 8191.0,
                             std::ldexp(1.0, -128), real48Max()};
    for (double v : values) {
        const Real48 r = Real48::fromValue(v);
        const double back = r.value();
        // 39 fraction bits: the relative error is at most 2^-40.
        EXPECT_LE(std::fabs(back - v), std::fabs(v) * std::ldexp(1.0, -40)) << v;
        EXPECT_EQ(Real48::fromValue(back), r) << v; // a Real48 value is stored exactly
    }
    EXPECT_EQ(Real48::fromValue(10.0).bytes(), (B6{0x84, 0, 0, 0, 0, 0x20}));
    EXPECT_EQ(Real48::fromValue(0.0).bytes(), (B6{0, 0, 0, 0, 0, 0}));
}

TEST(Real48, RoundsToNearestTiesAwayFromZero)
{
    const double ulp = std::ldexp(1.0, -39); // one unit of the last place at 1.0
    struct Row { long double in; double out; };
    const Row rows[] = {
        {1.0L + ulp / 2, 1.0 + ulp},           // tie: away from zero
        {-(1.0L + ulp / 2), -(1.0 + ulp)},     // tie, negative: away from zero
        {1.0L + ulp / 2 - ulp / 1024, 1.0},    // below the tie: down
        {1.0L + ulp * 1.5L, 1.0 + 2 * ulp},    // tie between odd and even: still away
        {2.0L - ulp / 4, 2.0},                 // carries into the exponent
    };
    for (const auto& r : rows)
        EXPECT_EQ(Real48::fromValue(r.in).value(), r.out) << static_cast<double>(r.in);
}

TEST(Real48, UnderflowIsZeroAndOverflowFails)
{
    EXPECT_EQ(Real48::fromValue(std::ldexp(1.0L, -129)).value(), 0.0);
    EXPECT_EQ(Real48::fromValue(-std::ldexp(1.0L, -140)).value(), 0.0);
    EXPECT_THROW(Real48::fromValue(std::ldexp(1.0L, 127)), FloatError);
    EXPECT_THROW(Real48::fromValue(std::numeric_limits<double>::infinity()), FloatError);
    try {
        Real48::fromValue(std::nan(""));
        FAIL();
    } catch (const FloatError& e) {
        EXPECT_EQ(e.kind(), FloatError::Kind::InvalidOperation);
    }
    // Rounding up past the largest magnitude overflows too.
    EXPECT_THROW(Real48::fromValue(static_cast<long double>(real48Max()) * (1.0L + std::ldexp(1.0L, -41))),
                 FloatError);
}

TEST(ShortString, KeepsLeadingCharactersAndLeftovers)
{
    Text<80> c;
    c = std::string(90, 'x');
    EXPECT_EQ(c.length(), 80u);
    EXPECT_EQ(c.str(), std::string(80, 'x'));

    Text<9> t;
    t = "000000000";
    t = "abc";
    EXPECT_EQ(t.length(), 3u);
    EXPECT_EQ(t.str(), "abc");
    EXPECT_EQ(t.area(), "abc000000"); // a whole-area copy still sees the zeros
}

TEST(NumberText, FixedPointTable)
{
    struct Row { double v; int d; int w; const char* text; };
    const Row rows[] = {
        {12.3456, 3, 7, " 12.346"},
        {5.0, 3, 7, "  5.000"},
        {123.4567, 3, 7, "123.457"},
        {1234.5, 3, 5, "1234.500"},   // never cut
        {1234.6, 0, 10, "      1235"},
        {1e6, 0, 10, "   1000000"},
        {12345678901.0, 0, 10, "12345678901"},
        {0.5, 0, 0, "1"},             // half away from zero, not to even
        {2.5, 0, 0, "3"},
        {-2.5, 0, 0, "-3"},
        {0.125, 2, 0, "0.13"},
        {-0.125, 2, 0, "-0.13"},
        {0.375, 2, 0, "0.38"},
        {1.005, 2, 0, "1.00"},        // the double is below 1.005: no tie
        {2.675, 2, 0, "2.67"},
        {1.54056, 8, 10, "1.54056000"},
        {120.0, 0, 5, "  120"},
        {0.02, 4, 7, " 0.0200"},
        {10.0, 4, 7, "10.0000"},
        {25.5, 3, 5, "25.500"},
        {130.0, 4, 5, "130.0000"},
        {-3.25, 1, 6, "  -3.3"},
    };
    for (const auto& r : rows)
        EXPECT_EQ(fixedText(r.v, r.d, r.w), r.text) << r.v << " d=" << r.d;
    EXPECT_EQ(intText(-42), "-42");
    EXPECT_EQ(intText(3951), "3951");
}

TEST(NumberParser, Table)
{
    struct Row { const char* text; double value; bool whole; };
    const Row rows[] = {
        {"  00120", 120.0, true},
        {"120", 120.0, true},
        {"-3.5", -3.5, true},
        {"+2e3", 2000.0, true},
        {"1.5E-2", 0.015, true},
        {".5", 0.5, true},
        {"5.", 5.0, true},
        {"12ab", 12.0, false},   // leading valid part
        {"120  ", 120.0, false}, // trailing spaces are not part of a number
        {"abc", 0.0, false},
        {"", 0.0, false},
        {"   ", 0.0, false},
        {"-", 0.0, false},
        {"1e", 1.0, false},
        {"3e+", 3.0, false},
    };
    for (const auto& r : rows) {
        const ParsedNumber p = parseDecimal(r.text);
        EXPECT_EQ(p.value, r.value) << '"' << r.text << '"';
        EXPECT_EQ(p.whole, r.whole) << '"' << r.text << '"';
    }
}

TEST(ByteReader, ChecksEveryReadAndNamesFileAndOffset)
{
    const Bytes b = {1, 0, 2, 0, 0, 0, 0xAA};
    ByteReader r(b, "x.bin");
    EXPECT_EQ(r.i16(), 1);
    EXPECT_EQ(r.i32(), 2);
    try {
        r.i16();
        FAIL();
    } catch (const InOutError& e) {
        EXPECT_EQ(e.text(), "Lecture au-delà de la fin de fichier");
        EXPECT_EQ(e.file(), "x.bin");
        // The missing bytes begin where the file ends, not where the read began.
        EXPECT_EQ(e.offset(), 7);
        EXPECT_STREQ(e.what(), "Lecture au-delà de la fin de fichier (x.bin, byte 7)");
    }
    EXPECT_EQ(r.u8(), 0xAA); // a failed read moves nothing
    EXPECT_THROW(r.seek(8), InOutError);
}
