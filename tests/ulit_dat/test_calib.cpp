// Channel to 2-theta and the calibration fit: the spline checked against its defining
// properties (through the knots, continuous first and second derivatives, zero curvature at the
// ends, straight lines outside), straight-line knots, and the knot sets the fit refuses.
#include "ulit_dat/errors.h"
#include "ulit_dat/litdat.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <random>
#include <vector>

using namespace rawdat;

namespace {

using ld = long double;

TCalibration splineCal(const std::vector<double>& pos, const std::vector<double>& angle)
{
    TCalibration cal;
    cal.SplineFlag = 1;
    cal.KnotCount = static_cast<std::int16_t>(pos.size());
    for (int i = 1; i <= kMaxKnots; ++i) {
        // Leftovers from an earlier calibration, which the fit must leave alone above n.
        cal.SplineB[i] = 111.0;
        cal.SplineC[i] = 222.0;
        cal.SplineD[i] = 333.0;
    }
    for (std::size_t i = 0; i < pos.size(); ++i) {
        cal.KnotPos[static_cast<int>(i) + 1] = pos[i];
        cal.KnotAngle[static_cast<int>(i) + 1] = angle[i];
    }
    return cal;
}

// Knots at uneven positions with a curved calibration: 2-theta = 5 + 30 x + 0.8 x^2 - 0.05 x^3
// plus a wobble.
TCalibration randomSpline(std::mt19937_64& rng, int n)
{
    std::uniform_real_distribution<double> gap(0.02, 0.3), wobble(-0.05, 0.05);
    std::vector<double> pos, angle;
    double x = 0.05;
    for (int i = 0; i < n; ++i) {
        pos.push_back(x);
        angle.push_back(5 + 30 * x + 0.8 * x * x - 0.05 * x * x * x + wobble(rng));
        x += gap(rng);
    }
    return splineCal(pos, angle);
}

// Segment i of the spline and its first two derivatives at dx from knot i.
struct Segment {
    ld a, b, c, d;
    ld value(ld dx) const { return ((d * dx + c) * dx + b) * dx + a; }
    ld slope(ld dx) const { return (3 * d * dx + 2 * c) * dx + b; }
    ld curvature(ld dx) const { return 6 * d * dx + 2 * c; }
};
Segment segment(const TCalibration& cal, int i)
{
    return {cal.KnotAngle[i], cal.SplineB[i], cal.SplineC[i], cal.SplineD[i]};
}

} // namespace

TEST(Degree, PolynomialByHorner)
{
    struct Row { std::vector<double> coef; double channel; double expected; };
    const Row rows[] = {
        {{10, 0.5}, 3, 11.5},
        {{-2, 0.25, 0.125}, 4, 1},
        {{1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1}, 2, 2047},
        {{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}, 2, 1024},
        {{3}, 8192, 3},
        {{}, 100, 0},
    };
    TLitdat lit;
    for (const auto& r : rows) {
        TCalibration cal;
        for (std::size_t k = 0; k < r.coef.size(); ++k)
            cal.PolyCoef[static_cast<int>(k) + 1] = r.coef[k];
        // Knots are ignored in the polynomial form.
        cal.KnotCount = 3;
        cal.KnotPos[1] = 0.5;
        cal.KnotAngle[1] = 99;
        EXPECT_EQ(lit.Degree(cal, r.channel), r.expected) << r.channel;
    }
}

TEST(Degree, SplineFormIgnoresThePolynomialAndScalesChannelsByAThousand)
{
    TLitdat lit;
    TCalibration cal = splineCal({0.0, 1.0, 2.0, 4.0}, {10, 20, 32, 50});
    ASSERT_FALSE(lit.MakeCalibration(cal));
    cal.PolyCoef[1] = 1000;
    cal.PolyCoef[2] = 7;
    // Channels 0, 1000, 2000 and 4000 sit on the knots.
    EXPECT_EQ(lit.Degree(cal, 0), 10.0);
    EXPECT_EQ(lit.Degree(cal, 1000), 20.0);
    EXPECT_EQ(lit.Degree(cal, 2000), 32.0);
    EXPECT_EQ(lit.Degree(cal, 4000), 50.0);
    EXPECT_EQ(lit.Degree(cal, 1500), lit.GetVal1(cal, 1.5));
    for (int flag : {2, -1}) { // any non-zero flag is a spline
        cal.SplineFlag = static_cast<std::int16_t>(flag);
        EXPECT_EQ(lit.Degree(cal, 2000), 32.0) << flag;
    }
}

TEST(Degree, KnotCountsOutOfRangeGiveNaNAndReadNothing)
{
    TLitdat lit;
    for (int n : {0, -1, 101, 32767}) {
        TCalibration cal;
        cal.SplineFlag = 1;
        cal.KnotCount = static_cast<std::int16_t>(n);
        EXPECT_TRUE(std::isnan(lit.Degree(cal, 1500))) << n;
    }
    // A NaN knot leaves the channel in no interval.
    TCalibration cal = splineCal({0.0, 1.0, 2.0}, {10, 20, 30});
    cal.KnotPos[2] = std::numeric_limits<double>::quiet_NaN();
    EXPECT_TRUE(std::isnan(lit.Degree(cal, 1500)));
}

TEST(MakeCalibration, TheSplinePassesThroughEveryKnotSmoothlyWithFreeEnds)
{
    std::mt19937_64 rng(3);
    TLitdat lit;
    for (int n : {3, 4, 7, 25, 100}) {
        TCalibration cal = randomSpline(rng, n);
        ASSERT_FALSE(lit.MakeCalibration(cal)) << n;
        const auto& x = cal.KnotPos;
        for (int i = 1; i <= n; ++i)
            EXPECT_EQ(lit.GetVal1(cal, x[i]), cal.KnotAngle[i]) << "knot " << i << " of " << n;
        // The end of each segment meets the next knot with the same slope and curvature.
        for (int i = 1; i < n; ++i) {
            const Segment s = segment(cal, i), next = segment(cal, i + 1);
            const ld h = ld(x[i + 1]) - x[i];
            EXPECT_NEAR(s.value(h), next.a, 1e-11) << i;
            if (i + 1 < n) {
                EXPECT_NEAR(s.slope(h), next.b, 1e-9) << i;
                EXPECT_NEAR(s.curvature(h), next.curvature(0), 1e-7) << i;
            }
        }
        // Zero curvature at both ends.
        EXPECT_EQ(cal.SplineC[1], 0.0);
        const ld hLast = ld(x[n]) - x[n - 1];
        EXPECT_NEAR(segment(cal, n - 1).curvature(hLast), 0, 1e-7) << n;
        EXPECT_EQ(cal.SplineC[n], 0.0);
        EXPECT_EQ(cal.SplineD[n], 0.0);
        EXPECT_EQ(cal.SplineB[n], cal.SplineB[n - 1]);
        // Nothing above the knot count is touched.
        for (int i = n + 1; i <= kMaxKnots; ++i)
            ASSERT_EQ(cal.SplineB[i] + cal.SplineC[i] + cal.SplineD[i], 666.0) << i;
    }
}

TEST(Degree, OutsideTheKnotsTheLineGoesOnWithTheEndSlopes)
{
    std::mt19937_64 rng(5);
    TLitdat lit;
    TCalibration cal = randomSpline(rng, 8);
    ASSERT_FALSE(lit.MakeCalibration(cal));
    const int n = 8;
    const auto& x = cal.KnotPos;
    // The cubic of the end segments bends, so a cubic continuation would show.
    ASSERT_GT(std::fabs(cal.SplineD[1]), 1e-3);
    ASSERT_GT(std::fabs(cal.SplineC[n - 1]), 1e-3);
    for (double dx : {0.001, 0.05, 0.5, 3.0}) {
        const double below = x[1] - dx, above = x[n] + dx;
        EXPECT_NEAR(lit.GetVal1(cal, below), cal.KnotAngle[1] - cal.SplineB[1] * dx, 1e-12) << dx;
        EXPECT_NEAR(lit.GetVal1(cal, above), cal.KnotAngle[n] + cal.SplineB[n - 1] * dx, 1e-12)
            << dx;
    }
}

TEST(MakeCalibration, TwoKnotsGiveTheStraightLineThroughThem)
{
    TLitdat lit;
    TCalibration cal = splineCal({1.0, 3.0}, {10, 20});
    ASSERT_FALSE(lit.MakeCalibration(cal));
    EXPECT_EQ(cal.SplineB[1], 5.0);
    EXPECT_EQ(cal.SplineB[2], 5.0);
    for (int i : {1, 2})
        EXPECT_EQ(cal.SplineC[i] + cal.SplineD[i], 0.0);
    struct Row { double channel, angle; };
    const Row rows[] = {{500, 7.5}, {1000, 10}, {2000, 15}, {3000, 20}, {4000, 25}, {0, 5}};
    for (const auto& r : rows)
        EXPECT_EQ(lit.Degree(cal, r.channel), r.angle) << r.channel;
    EXPECT_DOUBLE_EQ(lit.LinearSlope, 0.005);
    EXPECT_DOUBLE_EQ(lit.LinearOffset, 5.0);
}

TEST(MakeCalibration, KnotsOnALineGiveTheLineBack)
{
    struct Row { double p, q; std::vector<double> pos; };
    const Row rows[] = {
        {10.0, 0.03, {0.05, 0.3, 0.31, 1.2, 2.5, 4.0}},
        {-3.5, 0.0125, {0.1, 0.2, 0.4, 0.8, 1.6, 3.2, 6.4}},
        {120.0, -0.02, {1.0, 1.001, 1.5, 8.0}},
    };
    TLitdat lit;
    for (const auto& r : rows) {
        std::vector<double> angle;
        for (double x : r.pos)
            angle.push_back(r.p + r.q * 1000 * x);
        TCalibration cal = splineCal(r.pos, angle);
        ASSERT_FALSE(lit.MakeCalibration(cal));
        const int n = cal.KnotCount;
        for (int i = 1; i <= n; ++i) {
            EXPECT_NEAR(cal.SplineB[i], 1000 * r.q, 1e-9) << i;
            EXPECT_NEAR(cal.SplineC[i], 0, 1e-8) << i;
            EXPECT_NEAR(cal.SplineD[i], 0, 1e-7) << i;
        }
        EXPECT_NEAR(lit.LinearSlope, r.q, 1e-13) << r.p;
        EXPECT_NEAR(lit.LinearOffset, r.p, 1e-9) << r.p;
        for (double ch : {-500.0, 777.0, 3000.0, 9000.0})
            EXPECT_NEAR(lit.Degree(cal, ch), r.p + r.q * ch, 1e-9) << ch;
    }
}

TEST(MakeCalibration, RejectedKnotSetsChangeNothing)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Row {
        const char* name;
        int flag;
        std::vector<double> pos;
        std::optional<int> count; // empty: the number of positions
        bool rejected;
    };
    const Row rows[] = {
        {"polynomial flag", 0, {0.1, 0.2, 0.3}, {}, false},
        {"flag 2", 2, {0.1, 0.2, 0.3}, {}, false},
        {"flag -1", -1, {0.1, 0.2, 0.3}, {}, false},
        {"one knot", 1, {0.1}, {}, true},
        {"no knot", 1, {0.1, 0.2}, 0, true},
        {"negative count", 1, {0.1, 0.2}, -4, true},
        {"101 knots", 1, {0.1, 0.2}, 101, true},
        {"equal positions", 1, {0.1, 0.1}, {}, true},
        {"decreasing", 1, {0.3, 0.2, 0.1}, {}, true},
        {"bad last gap", 1, {0.1, 0.2, 0.3, 0.3}, {}, true},
        {"bad first gap", 1, {0.2, 0.1, 0.3, 0.4}, {}, true},
        {"gap 1e-16", 1, {0.0, 1e-16}, {}, true},
        {"NaN position", 1, {0.1, nan, 0.3}, {}, true},
    };
    TLitdat lit;
    for (const auto& r : rows) {
        std::vector<double> angle(r.pos.size(), 20.0);
        TCalibration cal = splineCal(r.pos, angle);
        cal.SplineFlag = static_cast<std::int16_t>(r.flag);
        if (r.count)
            cal.KnotCount = static_cast<std::int16_t>(*r.count);
        const TCalibration before = cal;
        lit.LinearSlope = 7.0;
        lit.LinearOffset = 8.0;
        EXPECT_EQ(lit.MakeCalibration(cal), r.rejected) << r.name;
        // NaN is unequal to itself: compare the coefficient arrays, which hold no NaN.
        EXPECT_TRUE(cal.SplineB == before.SplineB && cal.SplineC == before.SplineC &&
                    cal.SplineD == before.SplineD && cal.KnotAngle == before.KnotAngle)
            << r.name;
        EXPECT_EQ(lit.LinearSlope, 7.0) << r.name;
        EXPECT_EQ(lit.LinearOffset, 8.0) << r.name;
    }
}

TEST(MakeCalibration, AcceptsAGapOf1em14)
{
    TLitdat lit;
    TCalibration cal = splineCal({0.0, 1e-14}, {0.0, 1e-12});
    EXPECT_FALSE(lit.MakeCalibration(cal));
    EXPECT_NEAR(cal.SplineB[1], 100.0, 1e-12);
}

TEST(MakeCalibration, AnOverflowLeavesTheRecordAndTheLineAsTheyWere)
{
    TLitdat lit;
    TCalibration cal = splineCal({0.0, 1e-15, 2e-15}, {1e300, -1e300, 1e300});
    const TCalibration before = cal;
    lit.LinearSlope = 7.0;
    try {
        lit.MakeCalibration(cal);
        FAIL() << "no error";
    } catch (const FloatError& e) {
        EXPECT_EQ(e.kind(), FloatError::Kind::Overflow);
    }
    EXPECT_TRUE(cal == before);
    EXPECT_EQ(lit.LinearSlope, 7.0);
}

TEST(FindLinearCoeff, RefusesKnotCountsOutOfRangeAndFailsOnOnePlace)
{
    TLitdat lit;
    TCalibration cal = splineCal({0.5, 0.5}, {10, 10});
    for (int n : {0, 101}) {
        cal.KnotCount = static_cast<std::int16_t>(n);
        try {
            lit.FindLinearCoeff(cal);
            ADD_FAILURE() << n;
        } catch (const Refusal& e) {
            EXPECT_STREQ(e.what(),
                         ("a calibration line needs 1 to 100 knots, not " + std::to_string(n)).c_str());
        }
    }
    // Two knots at one place: no spread, 0 / 0.
    cal.KnotCount = 2;
    try {
        lit.FindLinearCoeff(cal);
        FAIL() << "no error";
    } catch (const FloatError& e) {
        EXPECT_EQ(e.kind(), FloatError::Kind::InvalidOperation);
    }
}
