// Constant-step resampling: Puissance, the target count, the choice of the centre, the
// polynomial through five points (checked against Lagrange interpolation computed here), the
// refusals, and the fast path against the reference path bit for bit.
#include "ulit_dat/errors.h"
#include "ulit_dat/litdat.h"
#include "ulit_dat/resample.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

using namespace rawdat;

namespace {

using ld = long double;

// One call's arrays. They are large (32767 values each), so they live on the heap.
struct Arrays {
    std::unique_ptr<TReal48Array> angles = std::make_unique<TReal48Array>();
    std::unique_ptr<TReal48Array> input = std::make_unique<TReal48Array>();
    std::unique_ptr<TReal48Array> output = std::make_unique<TReal48Array>();
    int n = 0;

    // Angles and intensities of points 0..n-1, each rounded to Real48; the output is filled
    // with a marker so that unwritten entries show.
    Arrays(const std::vector<double>& a, const std::vector<double>& y)
    {
        n = static_cast<int>(a.size());
        for (int i = 0; i < n; ++i) {
            (*angles)[i + 1] = Real48::fromValue(a[i]);
            (*input)[i + 1] = Real48::fromValue(y[i]);
        }
        output->fill(marker());
    }
    static Real48 marker() { return Real48::fromValue(-12345.0); }
    double angle(int s) const { return (*angles)[s + 1].value(); }
    double in(int s) const { return (*input)[s + 1].value(); }
    double out(int k) const { return (*output)[k + 1].value(); }
    std::int16_t run(double start, double stop, double step)
    {
        TLitdat lit;
        return lit.constantstepTransform(static_cast<std::int16_t>(n), *angles, start, stop, step,
                                         *output, *input);
    }
    int written() const
    {
        int w = 0;
        while (w < kDataCapacity && !((*output)[w + 1] == marker()))
            ++w;
        return w;
    }
};

// The interpolating polynomial through points first..first+4 of `a`, evaluated at t.
ld lagrange(const Arrays& a, int first, ld t)
{
    ld sum = 0;
    for (int i = first; i < first + 5; ++i) {
        ld w = a.in(i);
        for (int j = first; j < first + 5; ++j)
            if (j != i)
                w *= (t - a.angle(j)) / (ld(a.angle(i)) - a.angle(j));
        sum += w;
    }
    return sum;
}

// Output k is the polynomial through points first..first+4 at t. It is evaluated at the
// target's float offset from its centre, about 1e-8 degree off t: the tolerance follows the
// polynomial's slope.
void expectOnStencil(const Arrays& a, int k, int first, ld t)
{
    const ld h = 1e-6L;
    const ld slope = (lagrange(a, first, t + h) - lagrange(a, first, t - h)) / (2 * h);
    const ld value = lagrange(a, first, t);
    EXPECT_NEAR(a.out(k), value, 1e-8L * std::fabs(slope) + 1e-10L * std::fabs(value) + 1e-12L)
        << "output " << k << " at " << static_cast<double>(t);
}

float target(int k, double start, double step)
{
    return static_cast<float>(k * ld(step) + start);
}

std::vector<double> unevenGrid(std::mt19937_64& rng, int n, double first, double lo, double hi)
{
    std::uniform_real_distribution<double> gap(lo, hi);
    std::vector<double> a(n);
    a[0] = first;
    for (int i = 1; i < n; ++i)
        a[i] = a[i - 1] + gap(rng);
    return a;
}

} // namespace

TEST(Puissance, WholePowersAndTheRuleAtZero)
{
    struct Row { double a, b, expected; };
    const Row rows[] = {
        {-2, 3, -8},    {-2, 2, 4},     {0, 0, 1},      {0, 1, 0},     {0, 2, 1e-8},
        {0, 3, 0},      {0, 4, 1e-16},  {3, 0, 1},      {-3, 0, 1},    {-3, 4, 81},
        {2.5, 2, 6.25}, {-0.5, 3, -0.125}, {10, 1, 10}, {-10, 1, -10}, {1, 4, 1},
    };
    for (const auto& r : rows) {
        const double v = Puissance(r.a, r.b);
        EXPECT_NEAR(v, r.expected, std::fabs(r.expected) * 1e-15) << r.a << " ^ " << r.b;
        EXPECT_EQ(std::signbit(v), std::signbit(r.expected)) << r.a << " ^ " << r.b;
    }
    // Small whole results come out exact.
    EXPECT_EQ(Puissance(-2, 3), -8.0);
    EXPECT_EQ(Puissance(-3, 4), 81.0);
}

TEST(Resample, ReproducesPolynomialsUpToDegreeFourOnUnevenGrids)
{
    using Poly = std::function<ld(ld)>;
    struct Row { const char* name; Poly p; Poly slope; };
    const Row rows[] = {
        {"constant", [](ld) { return 5000.0L; }, [](ld) { return 0.0L; }},
        {"line", [](ld d) { return 1000 + 300 * d; }, [](ld) { return 300.0L; }},
        {"quadratic", [](ld d) { return 800 - 50 * d + 120 * d * d; },
         [](ld d) { return -50 + 240 * d; }},
        {"cubic", [](ld d) { return 200 + 10 * d - 40 * d * d + 25 * d * d * d; },
         [](ld d) { return 10 - 80 * d + 75 * d * d; }},
        {"quartic", [](ld d) { return 1000 + 20 * d - 50 * d * d + 10 * d * d * d + 40 * d * d * d * d; },
         [](ld d) { return 20 - 100 * d + 30 * d * d + 160 * d * d * d; }},
    };
    std::mt19937_64 rng(7);
    const std::vector<double> angles = unevenGrid(rng, 240, 20.0, 0.008, 0.04);
    for (const auto& r : rows) {
        std::vector<double> y;
        for (double a : angles)
            y.push_back(static_cast<double>(r.p(a - 22.0L)));
        Arrays arr(angles, y);
        const double start = 20.2, step = 0.0237, stop = angles.back() - 0.2;
        const int count = arr.run(start, stop, step);
        ASSERT_GT(count, 200) << r.name;
        for (int k = 0; k < count; ++k) {
            const ld t = target(k, start, step);
            // The target's offset from its centre is a float: about 1e-8 degree off.
            const ld tol = 2e-8L * std::fabs(r.slope(t - 22)) + 1e-9L * std::fabs(r.p(t - 22));
            EXPECT_NEAR(arr.out(k), r.p(t - 22), tol) << r.name << " target " << k;
        }
    }
}

TEST(Resample, ReturnsTheExactInputAtACoincidingAngle)
{
    // Angles on a 1/64 degree grid are exact in float and Real48 alike.
    std::mt19937_64 rng(11);
    std::uniform_real_distribution<double> value(-1e4, 1e5);
    std::vector<double> a, y;
    for (int i = 0; i < 60; ++i) {
        a.push_back(30.0 + i / 64.0);
        y.push_back(value(rng));
    }
    Arrays arr(a, y);
    // Every other target lies on a point; the ones between are interpolated.
    const int count = arr.run(a[5], a[50], 1 / 128.0);
    ASSERT_EQ(count, 91);
    for (int k = 0; k < count; k += 2)
        EXPECT_EQ((*arr.output)[k + 1], (*arr.input)[5 + k / 2 + 1]) << k;
    for (int k = 1; k < count; k += 2) // halfway: the later point is the centre
        expectOnStencil(arr, k, 5 + k / 2 - 1, target(k, a[5], 1 / 128.0));
}

TEST(Resample, TakesTheLaterPointAtATie)
{
    // Points every 0.125 degree with a zigzag of intensities: the stencils around the two
    // candidates give very different values.
    std::vector<double> a, y;
    for (int i = 0; i < 12; ++i) {
        a.push_back(i * 0.125);
        y.push_back((i % 2 ? 1000.0 : 0.0) + i * i);
    }
    Arrays arr(a, y);
    ASSERT_EQ(arr.run(0.5625, 0.5625, 1.0), 1); // 0.0625 from points 4 and 5
    ASSERT_GT(std::fabs(lagrange(arr, 3, 0.5625L) - lagrange(arr, 2, 0.5625L)), 100);
    expectOnStencil(arr, 0, 3, 0.5625L);
}

TEST(Resample, KeepsTheStencilInsideTheArraysNearBothEnds)
{
    std::vector<double> a, y;
    for (int i = 0; i < 9; ++i) {
        a.push_back(10.0 + i * 0.05 + (i % 3) * 0.004);
        y.push_back((i % 2 ? 500.0 : 100.0) + 7.0 * i);
    }
    Arrays arr(a, y);
    struct Row { double t; int first; }; // centre at the ends: the five points nearest it
    const Row rows[] = {
        {a[0] + 0.01, 0}, {a[1] + 0.01, 0}, {a[2] + 0.01, 0}, {a[4] + 0.01, 2},
        {a[6] + 0.01, 4}, {a[7] + 0.01, 4}, {a[8] + 0.01, 4}, {a[8] + 0.08, 4},
    };
    for (const auto& r : rows) {
        Arrays one(a, y);
        ASSERT_EQ(one.run(r.t, r.t, 1.0), 1);
        expectOnStencil(one, 0, r.first, static_cast<float>(r.t));
    }
}

TEST(Resample, RoundsTheTargetCountHalfToEven)
{
    std::vector<double> a, y;
    for (int i = 0; i < 100; ++i) {
        a.push_back(-1.0 + i * 0.05);
        y.push_back(i);
    }
    struct Row { double start, stop, step; int result, written; };
    const Row rows[] = {
        {0, 2.5, 1, 3, 3},    // 2.5 -> 2
        {0, 3.5, 1, 5, 5},    // 3.5 -> 4: the last target lies half a step beyond stop
        {0, 1.5, 1, 3, 3},    // 1.5 -> 2
        {0, 0.5, 1, 1, 1},    // 0.5 -> 0
        {0, 0.49, 1, 1, 1},
        {0.5, 0, 1, 1, 1},    // -0.5 -> 0: one target
        {0.6, 0, 1, 0, 0},    // -0.6 -> -1: nothing
        {3, 0, 1, -2, 0},
        {0, -1e6, 0.001, -32767, 0}, // far below: nothing, at most -32767
    };
    for (const auto& r : rows) {
        Arrays arr(a, y);
        EXPECT_EQ(arr.run(r.start, r.stop, r.step), r.result) << r.start << " " << r.stop;
        EXPECT_EQ(arr.written(), r.written) << r.start << " " << r.stop;
    }
}

TEST(Resample, WithNoPointInReachEvaluatesATenthOfADegreeAboveThePreviousCentre)
{
    // Points every 0.03 degree up to 0.87, then from 3.0: the targets 1.3, 1.9 and 2.5 have no
    // point within 0.1 degree.
    std::vector<double> a, y;
    for (int i = 0; i < 30; ++i)
        a.push_back(i * 0.03);
    for (int i = 0; i < 30; ++i)
        a.push_back(3.0 + i * 0.03);
    for (std::size_t i = 0; i < a.size(); ++i)
        y.push_back((i % 2 ? 300.0 : 50.0) + 3.0 * i);
    Arrays arr(a, y);
    const double start = 0.1, step = 0.6;
    ASSERT_EQ(arr.run(start, 3.1, step), 6);
    expectOnStencil(arr, 0, 1, target(0, start, step));  // centre 3
    expectOnStencil(arr, 1, 21, target(1, start, step)); // centre 23
    for (int k = 2; k <= 4; ++k) // centre 23 again, u* = 10
        expectOnStencil(arr, k, 21, ld(arr.angle(23)) + 0.1L);
    expectOnStencil(arr, 5, 31, target(5, start, step)); // centre 33
}

TEST(Resample, AZeroPivotIsAnInvalidOperationAfterTheEarlierTargets)
{
    // Points 5, 6 and 7 share one angle: the centre of 20.01 is point 7 (the later of the tie)
    // and its neighbours 5 and 6 give two equal rows.
    const std::vector<double> a = {19.7, 19.75, 19.8, 19.85, 19.9, 20, 20, 20, 20.05, 20.1};
    const std::vector<double> y = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    Arrays arr(a, y);
    try {
        arr.run(19.76, 20.3, 0.25);
        FAIL() << "no error";
    } catch (const FloatError& e) {
        EXPECT_EQ(e.kind(), FloatError::Kind::InvalidOperation);
    }
    EXPECT_EQ(arr.written(), 1);
    expectOnStencil(arr, 0, 0, target(0, 19.76, 0.25));
}

TEST(Resample, AZeroBackSubstitutionPivotGivesThatCoefficientZero)
{
    // Points 3 and 4 share one angle: their rows cancel to zero and the linear coefficient is
    // set to 0. The rest is the polynomial q1 u^4 + q2 u^3 + q3 u^2 + y(2) through points 0, 1
    // and 3, solved here by Cramer's rule.
    const std::vector<double> a = {19.902810313215014, 19.95011260767933, 20, 20.015124977915548,
                                   20.015124977915548};
    const std::vector<double> y = {130, 170, 150, 145, 160};
    Arrays arr(a, y);
    const double t = 20.004;
    ASSERT_EQ(arr.run(t, t, 1.0), 1);

    ld m[3][3], r[3];
    const int pts[3] = {0, 1, 3};
    for (int i = 0; i < 3; ++i) {
        const ld u = (ld(arr.angle(pts[i])) - arr.angle(2)) * 100;
        m[i][0] = u * u * u * u;
        m[i][1] = u * u * u;
        m[i][2] = u * u;
        r[i] = arr.in(pts[i]) - arr.in(2);
    }
    auto det = [](const ld (&x)[3][3]) {
        return x[0][0] * (x[1][1] * x[2][2] - x[1][2] * x[2][1]) -
               x[0][1] * (x[1][0] * x[2][2] - x[1][2] * x[2][0]) +
               x[0][2] * (x[1][0] * x[2][1] - x[1][1] * x[2][0]);
    };
    ld q[3];
    for (int c = 0; c < 3; ++c) {
        ld mc[3][3];
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j)
                mc[i][j] = j == c ? r[i] : m[i][j];
        q[c] = det(mc) / det(m);
    }
    const ld u = (ld(static_cast<float>(t)) - arr.angle(2)) * 100;
    const ld expected = arr.in(2) + q[2] * u * u + q[1] * u * u * u + q[0] * u * u * u * u;
    EXPECT_NEAR(arr.out(0), expected, 1e-6);
}

TEST(Resample, RefusesWhatItCannotDoAndWritesNothing)
{
    std::vector<double> a, y;
    for (int i = 0; i < 20; ++i) {
        a.push_back(i * 0.1);
        y.push_back(i);
    }
    const double nan = std::nan("");
    struct Row {
        int n;
        double start, stop, step;
        std::optional<FloatError::Kind> kind; // empty: a Refusal
        const char* message;
    };
    const Row rows[] = {
        {20, 0, 1, 0, FloatError::Kind::DivideByZero, "Division en virgule flottante par zéro"},
        {20, 1, 1, 0, FloatError::Kind::InvalidOperation, "Opération en virgule flottante incorrecte"},
        {20, 0, 1, nan, FloatError::Kind::InvalidOperation, "Opération en virgule flottante incorrecte"},
        {20, 0, 1e300, 1e-300, FloatError::Kind::InvalidOperation, "Opération en virgule flottante incorrecte"},
        {20, 0, 1, INFINITY, FloatError::Kind::InvalidOperation, "Opération en virgule flottante incorrecte"},
        {20, 0, INFINITY, 1, FloatError::Kind::InvalidOperation, "Opération en virgule flottante incorrecte"},
        {20, 1e39, 1e39, 1, FloatError::Kind::Overflow, "Débordement de virgule flottante"},
        {4, 0, 1, 0.1, std::nullopt, "resampling needs at least 5 measured points, not 4"},
        {0, 0, 1, 0.1, std::nullopt, "resampling needs at least 5 measured points, not 0"},
        {20, 0, 32767, 1, std::nullopt,
         "resampling from 0.000000 to 32767.000000 by 1.000000 gives 32768 values; an output "
         "array holds at most 32767"},
        {20, 0, 1e9, 1, std::nullopt,
         "resampling from 0.000000 to 1000000000.000000 by 1.000000 gives 1000000001 values; "
         "an output array holds at most 32767"},
    };
    for (const auto& r : rows) {
        Arrays arr(a, y);
        arr.n = r.n;
        try {
            arr.run(r.start, r.stop, r.step);
            ADD_FAILURE() << "no error: " << r.message;
        } catch (const FloatError& e) {
            ASSERT_TRUE(r.kind.has_value()) << e.what();
            EXPECT_EQ(e.kind(), *r.kind) << r.message;
            EXPECT_STREQ(e.what(), r.message);
        } catch (const Refusal& e) {
            ASSERT_FALSE(r.kind.has_value()) << e.what();
            EXPECT_STREQ(e.what(), r.message);
        }
        EXPECT_EQ(arr.written(), 0) << r.message;
    }
    // Too few points do not matter when there is nothing to write.
    Arrays arr(a, y);
    arr.n = 3;
    EXPECT_EQ(arr.run(5, 0, 1), -4);
}

TEST(Resample, FillsTheOutputArrayToItsLastEntry)
{
    std::vector<double> a, y;
    for (int i = 0; i < 8; ++i) {
        a.push_back(i * 0.02);
        y.push_back(i);
    }
    Arrays arr(a, y);
    EXPECT_EQ(arr.run(0, 32766 * 0.01, 0.01), 32767);
    EXPECT_FALSE((*arr.output)[kDataCapacity] == Arrays::marker());
}

TEST(Resample, AnOverflowingResultIsAnErrorNotGarbage)
{
    // Zigzag intensities near the largest Real48, extrapolated 0.05 degree beyond the last.
    const double big = real48Max() * 0.99;
    const std::vector<double> a = {0, 0.01, 0.02, 0.03, 0.04};
    const std::vector<double> y = {big, -big, big, -big, big};
    Arrays arr(a, y);
    try {
        arr.run(0.09, 0.09, 1);
        FAIL() << "no error";
    } catch (const FloatError& e) {
        EXPECT_EQ(e.kind(), FloatError::Kind::Overflow);
    }
    EXPECT_EQ(arr.written(), 0);
}

// The fast path against the reference path on random patterns: sorted and unsorted angles,
// repeated angles (zero pivots), gaps beyond reach, targets on the points, before and after the
// ends, negative and empty ranges. Same result, same error, same bytes in every output entry.
TEST(Resample, FastPathEqualsThePlainPathBitForBit)
{
    std::mt19937_64 rng(20240611);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    auto pick = [&](double lo, double hi) { return lo + (hi - lo) * unit(rng); };
    const double spacings[] = {0.001, 0.01, 0.03, 0.2, 1.0 / 64};
    int failed = 0, wrote = 0;
    for (int c = 0; c < 1000; ++c) {
        const int n = 5 + static_cast<int>(unit(rng) * 200);
        const double s = spacings[c % 5];
        const bool grid = c % 5 == 4; // exact binary grid: targets land on points
        std::vector<double> a(n), y(n);
        a[0] = grid ? std::floor(pick(-50, 150)) : pick(-50, 150);
        for (int i = 1; i < n; ++i) {
            const double r = unit(rng);
            double gap = grid ? s : pick(s / 3, 3 * s);
            if (r < 0.02 && c % 4 == 0)
                gap = 0; // repeated angle
            else if (r < 0.05 && c % 7 == 0)
                gap = -gap; // out of order
            else if (r < 0.06)
                gap += 0.5; // a hole beyond reach
            a[i] = a[i - 1] + gap;
        }
        for (int i = 0; i < n; ++i)
            y[i] = c % 3 ? pick(0, 1e5) : 1000 * std::sin(a[i]) + pick(-1, 1);
        const double step = grid ? s / (1 + c % 3) : pick(s / 2, 3 * s);
        const double span = a[n - 1] - a[0];
        const double start = grid ? a[static_cast<int>(unit(rng) * n / 2)] : a[0] + pick(-0.2, 0.5) * span;
        const double stop = start + pick(-0.1, 1.2) * span;

        Arrays fast(a, y), plain(a, y);
        std::string fastError, plainError;
        int fastResult = 0, plainResult = 0;
        try {
            fastResult = fast.run(start, stop, step);
        } catch (const RawdatError& e) {
            fastError = e.what();
        }
        try {
            plainResult = constantstepTransformPlain(static_cast<std::int16_t>(n), *plain.angles,
                                                     start, stop, step, *plain.output, *plain.input);
        } catch (const RawdatError& e) {
            plainError = e.what();
        }
        ASSERT_EQ(fastError, plainError) << "case " << c;
        ASSERT_EQ(fastResult, plainResult) << "case " << c;
        ASSERT_TRUE(*fast.output == *plain.output) << "case " << c;
        failed += !fastError.empty();
        wrote += fastError.empty() && fastResult > 0;
    }
    EXPECT_GT(failed, 20); // zero pivots were reached
    EXPECT_GT(wrote, 700);
}
