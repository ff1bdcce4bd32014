// Step-scan text export: exact bytes, lone CR line ends, the point count, refusals.
#include "testutil.h"

#include "ulit_dat/errors.h"
#include "ulit_dat/litdat.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>

using namespace rawdat;
using rawdat::test::TempDir;

namespace {

struct Export {
    TempDir dir;
    std::string file = dir.file("out.stp");
    TScanHeader header;
    TScanParams params;
    std::unique_ptr<TReal48Array> values = std::make_unique<TReal48Array>();

    Export()
    {
        header.Wavelength = 1.5406;
        for (int i = 1; i <= kDataCapacity; ++i)
            (*values)[i] = Real48::fromValue(i);
    }
    std::string run(double start, double step, double stop)
    {
        TLitdat().Ecr_MAUD(file, header, params, *values, start, step, stop);
        return test::readText(file);
    }
};

std::size_t countOf(const std::string& text, char c)
{
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), c));
}

} // namespace

TEST(Maud, ExactBytes)
{
    Export x;
    x.header.Comment1 = "0123456789012345678901234567890123456789"; // 40 characters
    (*x.values)[1] = Real48::fromValue(12.4);
    (*x.values)[2] = Real48::fromValue(12.6);
    (*x.values)[3] = Real48::fromValue(12.5);
    (*x.values)[4] = Real48::fromValue(-0.5);
    const std::string text = x.run(10.0, 0.5, 11.5);
    EXPECT_EQ(text, "012345678901234567890123456789\r"
                    "4 0.500  10.000 1.540600 1\r"
                    "12\r13\r13\r-1\r");
}

TEST(Maud, TwentyOnePointsAndNoLineFeed)
{
    Export x;
    const std::string text = x.run(10.0, 0.5, 20.0);
    EXPECT_EQ(text.substr(0, 29), "\r21 0.500  10.000 1.540600 1\r");
    EXPECT_EQ(countOf(text, '\r'), 23u);
    EXPECT_EQ(countOf(text, '\n'), 0u);
    EXPECT_TRUE(text.ends_with("\r20\r21\r"));
}

TEST(Maud, WideNumbersAreNotCut)
{
    Export x;
    x.header.Wavelength = 123.456789;
    const std::string text = x.run(-1234.5, 12.25, -1234.5);
    EXPECT_EQ(text, "\r1 12.250 -1234.500 123.456789 1\r1\r");
}

TEST(Maud, PointCountRule)
{
    struct Row { double start, step, stop; std::string countText; std::size_t lines; };
    const Row rows[] = {
        {0.0, 0.1, 1.0, "11", 11},           // quotient 10 up to rounding
        {0.0, 0.3, 0.9, "4", 4},             // 2.9999999999999996 counts as 3
        {0.0, 1.0, 2.5, "3", 3},             // truncated
        {0.0, 1.0, 2.999998, "3", 3},        // 2e-6 away from 3: not whole
        {0.0, 1.0, 2.9999995, "4", 4},       // within 1e-6 of 3
        {20.0, -0.5, 10.0, "21", 21},        // a negative step walks down
        {10.0, 1.0, 9.0, "0", 0},            // no point
        {10.0, 1.0, 8.0, "-1", 0},           // fewer than none: the header lines only
        {10.0, 1.0, 8.5, "0", 0},            // Trunc(-0.5) is 0, not -0
        {0.0, 1e-10, -1.0, "-9999999999", 0},
        {0.0, 1.0, 32766.0, "32767", 32767}, // every value the array holds
    };
    for (const auto& r : rows) {
        Export x;
        const std::string text = x.run(r.start, r.step, r.stop);
        const std::size_t line2 = text.find('\r') + 1;
        EXPECT_EQ(text.substr(line2, text.find(' ', line2) - line2), r.countText) << r.stop;
        EXPECT_EQ(countOf(text, '\r'), r.lines + 2) << r.stop;
    }
}

TEST(Maud, Refusals)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    struct Row { double start, step, stop; std::string message; };
    const std::string noPoints = ": the scan's step is 0 or its range is not finite; no points to write";
    const Row rows[] = {
        {10.0, 0.0, 20.0, noPoints},
        {10.0, -0.0, 20.0, noPoints},
        {nan, 1.0, 20.0, noPoints},
        {0.0, 1.0, inf, noPoints},
        {0.0, inf, 1.0, noPoints},
        {0.0, 1.0, 32767.0, ": the range holds 32768 points; at most 32767 can be written"},
        {0.0, 1e-10, 1.0, ": the range holds 10000000001 points; at most 32767 can be written"},
    };
    for (const auto& r : rows) {
        Export x;
        test::writeText(x.file, "previous");
        try {
            TLitdat().Ecr_MAUD(x.file, x.header, x.params, *x.values, r.start, r.step, r.stop);
            ADD_FAILURE() << r.message;
        } catch (const Refusal& e) {
            EXPECT_EQ(e.what(), x.file + r.message);
        }
        EXPECT_EQ(test::readText(x.file), "previous");
    }
}

TEST(Maud, UnwritableFolderFails)
{
    Export x;
    const std::string file = x.dir.file("missing/out.stp");
    try {
        TLitdat().Ecr_MAUD(file, x.header, x.params, *x.values, 0.0, 1.0, 1.0);
        ADD_FAILURE();
    } catch (const InOutError& e) {
        EXPECT_EQ(e.file(), file);
    }
}
