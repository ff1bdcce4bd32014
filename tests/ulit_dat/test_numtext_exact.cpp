// The fixed-point number text is exact: halves of the last written digit round away from zero at
// any magnitude, and the integer fast path writes what the general path writes.
#include "ulit_dat/numtext.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace rawdat;

TEST(NumberText, TiesOfLargeValuesRoundToTheNextDigitNotBeyond)
{
    // Values whose last bit is half a unit of the last written digit: moving them one ulp up before
    // rounding went past the next digit (".75" to one decimal gave ".9").
    struct Row { double v; int d; const char* text; };
    const Row rows[] = {
        {881996577873716.75, 1, "881996577873716.8"},
        {1106627119194397.625, 2, "1106627119194397.63"},
        {-530068391640990.5625, 3, "-530068391640990.563"},
        {63998163772330.0234375, 6, "63998163772330.023438"},
        {140737488355328.03125, 4, "140737488355328.0313"}, // 2^47 + 1/32: beyond 64-bit integers at 4 decimals
        {4503599627370495.5, 0, "4503599627370496"},
        {9.5, 0, "10"},
        {-999.5, 0, "-1000"},
        {0.0625, 3, "0.063"},
        {-0.0625, 3, "-0.063"},
    };
    for (const auto& r : rows)
        EXPECT_EQ(fixedText(r.v, r.d), r.text) << r.v << " d=" << r.d;
}

TEST(NumberText, SignsZerosAndValuesBeyondTheIntegerPath)
{
    struct Row { double v; int d; int w; const char* text; };
    const Row rows[] = {
        {0.0, 3, 7, "  0.000"},
        {-0.0, 3, 7, " -0.000"},   // the sign bit is written, as for every negative value
        {-0.0004, 3, 0, "-0.000"},
        {-0.4, 0, 0, "-0"},
        {0.0005, 3, 0, "0.001"},
        {std::nextafter(0.0005, 0.0), 3, 0, "0.000"},
        {18446744073709551616.0, 0, 0, "18446744073709551616"}, // 2^64
        {1e21, 1, 0, "1000000000000000000000.0"},
        {123456789.123456789, 12, 0, "123456789.123456791043"},
        {5e-324, 3, 6, " 0.000"},  // subnormal
        {HUGE_VAL, 3, 6, "   inf"},
        {-HUGE_VAL, 0, 0, "-inf"},
        {-2.25, 1, 40, "                                    -2.3"}, // wider than a field written in place
        {1e25, 0, 33, "       10000000000000000905969664"},
    };
    for (const auto& r : rows)
        EXPECT_EQ(fixedText(r.v, r.d, r.w), r.text) << r.v << " d=" << r.d;
}

TEST(NumberText, ATextOfManyFieldsIsTheirTextsOneAfterAnother)
{
    // Started with no room, the buffer grows many times, also for fields that take the general path.
    FixedText text(0);
    std::string expected;
    for (int i = 0; i < 5000; ++i) {
        const double v = (i % 7 == 0 ? -1.0 : 1.0) * i * 1.0625 + (i % 500 == 0 ? 1e25 : 0.0);
        const int d = i % 4, w = i % 3 == 0 ? 40 : 9;
        text.fixed(v, d, w);
        text.append(i % 2 == 0 ? "\r\n" : " ");
        expected += fixedText(v, d, w) + (i % 2 == 0 ? "\r\n" : " ");
    }
    EXPECT_EQ(text.take(), expected);
}
