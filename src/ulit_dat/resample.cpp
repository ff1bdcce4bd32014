// Constant-step resampling (constantstepTransform) and its power function Puissance.
//
// For every target angle start + k * step the resampler takes the nearest measured point and,
// unless the target falls exactly on it, the degree-4 polynomial through that point and four
// neighbours, found by solving a 5 by 5 system in u = hundredths of a degree from the centre.
//
// Working precision, which the last digits of every result depend on:
//   target angle, offset of a target from its nearest point     float
//   abscissa u of each neighbour, values of Puissance           double
//   the system, its right-hand side, its solution, the sum      long double (80-bit extended)
//   results                                                     Real48, rounded ties away
// The order of operations (multiply first, then divide; the sum from the constant term up) is
// part of the contract: results are compared bit for bit with the instrument's software.
//
// Arrays are 1-based; below, point s (counted from 0) is entry s + 1.
#include "ulit_dat/resample.h"

#include "ulit_dat/errors.h"
#include "ulit_dat/fpround.h"
#include "ulit_dat/litdat.h"
#include "ulit_dat/numtext.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace rawdat {

namespace {

using ld = long double;

constexpr int kStencil = 5;       // the centre and four neighbours
constexpr float kReach = 0.1f;    // a point is a target's centre only within 0.1 degree of it
constexpr int kWindow = 100;      // from one target to the next the centre moves at most this far
constexpr ld kHundredths = 100.0L;

// N, the last target's number, from the range. A negative N means there is nothing to write.
// Refuses, before anything is written, a range the output array cannot hold and a pattern too
// short for the stencil.
int targetCount(int n, double start, double stop, double step)
{
    const ld quotient = checkedDivide(ld(stop) - start, step);
    const ld rounded = std::nearbyint(quotient); // halves to even
    const ld limit = std::ldexp(1.0L, 63);
    if (!(rounded >= -limit && rounded < limit)) // NaN, infinite, or beyond a 64-bit integer
        throw FloatError(FloatError::Kind::InvalidOperation);
    if (rounded < 0)
        return static_cast<int>(std::max(rounded, ld(INT16_MIN)));
    if (rounded > kDataCapacity - 1)
        throw Refusal("", "resampling from " + fixedText(start, 6) + " to " +
                              fixedText(stop, 6) + " by " + fixedText(step, 6) + " gives " +
                              intText(static_cast<std::int64_t>(rounded) + 1) +
                              " values; an output array holds at most " +
                              intText(kDataCapacity));
    if (n < kStencil)
        throw Refusal("", "resampling needs at least " + intText(kStencil) +
                              " measured points, not " + intText(n));
    return static_cast<int>(rounded);
}

float targetAngle(int k, double start, double step)
{
    const ld t = ld(k) * step + start;
    if (std::isnan(t)) // 0 times an infinite step
        throw FloatError(FloatError::Kind::InvalidOperation);
    return toSingle(t);
}

float offsetFrom(float target, double angle)
{
    return toSingle(ld(target) - angle);
}

// The first of the five consecutive points nearest the centre that lie inside the arrays.
int stencilFirst(int centre, int n)
{
    return std::clamp(centre - 2, 0, n - kStencil);
}

double abscissa(double angle, double centreAngle)
{
    return toDouble((ld(angle) - centreAngle) * kHundredths);
}

void refuseZeroPivot()
{
    // The first division by the pivot is (f * 0) / 0.
    throw FloatError(FloatError::Kind::InvalidOperation);
}

// Puissance(a, 0), ..., Puissance(a, 4): the five powers of one abscissa share ln |a|.
void powersOf(double a, double (&p)[5])
{
    ld oddSign = a >= 0 ? 1.0L : -1.0L;
    if (a == 0) {
        a = 0.0001;
        oddSign = 0.0L;
    }
    const ld lnA = std::log(std::fabs(ld(a)));
    p[0] = std::isfinite(lnA) ? 1.0 : toDouble(1.0L * std::exp(0.0L * lnA));
    p[1] = toDouble(oddSign * std::exp(1.0L * lnA));
    p[2] = toDouble(1.0L * std::exp(2.0L * lnA));
    p[3] = toDouble(oddSign * std::exp(3.0L * lnA));
    p[4] = toDouble(1.0L * std::exp(4.0L * lnA));
}

// The fast path's state over one call: the decoded angles, the powers of each neighbour pair
// and the last solved stencil.
//
// The abscissa of point j seen from centre c is exactly minus that of c seen from j (rounding
// to nearest is symmetric), so both centres share its logarithm and exponentials and differ
// only in the sign of the odd powers. Centres never move back, so a small ring per distance
// keeps every pair until both of its centres have used it.
class FastStencil {
public:
    FastStencil(const std::vector<double>& angle, const TReal48Array& input)
        : angle_(angle), input_(input), n_(static_cast<int>(angle.size()))
    {
    }

    // The coefficients q[1..5] of q1 u^4 + q2 u^3 + q3 u^2 + q4 u + q5 through the stencil of
    // `centre`; they depend on the centre alone.
    const ld* coefficients(int centre)
    {
        if (centre != solvedCentre_) {
            solve(centre);
            solvedCentre_ = centre;
        }
        return q_;
    }

private:
    static constexpr int kSlots = 16;
    struct PairPowers {
        int low = -1; // the lower point of the pair; -1: empty
        double u = 0.0;
        double p[5] = {};
    };

    // Puissance(u, 0..4) for neighbour j of `centre`.
    void rowPowers(int j, int centre, double (&p)[5])
    {
        const int low = std::min(j, centre);
        const int distance = std::abs(j - centre);
        PairPowers& e = pairs_[distance - 1][low % kSlots];
        if (e.low != low) {
            e.low = low;
            e.u = abscissa(angle_[low + distance], angle_[low]);
            powersOf(e.u, e.p);
        }
        std::copy(std::begin(e.p), std::end(e.p), std::begin(p));
        if (j < centre && e.u != 0) { // seen from the upper point: -u
            p[1] = -p[1];
            p[3] = -p[3];
        }
    }

    // Rows 1 to 4 are the four neighbours in increasing order; row 5 is (0 0 0 0 1) with the
    // centre's intensity, so q5 is that intensity and row 5 takes no part in the elimination.
    void solve(int centre)
    {
        ld m[5][6];
        ld rhs[5];
        const int first = stencilFirst(centre, n_);
        int row = 1;
        for (int j = first; j < first + kStencil; ++j) {
            if (j == centre)
                continue;
            double p[5];
            rowPowers(j, centre, p);
            for (int col = 1; col <= 5; ++col)
                m[row][col] = p[5 - col];
            rhs[row] = input_[j + 1].value();
            ++row;
        }
        // Column p of the rows below the pivot is never read again, so it is not computed.
        for (int p = 1; p <= 3; ++p) {
            const ld pivot = m[p][p];
            if (pivot == 0)
                refuseZeroPivot();
            for (int r = p + 1; r <= 4; ++r) {
                const ld f = m[r][p];
                for (int col = p + 1; col <= 5; ++col)
                    m[r][col] = m[r][col] - (f * m[p][col]) / pivot;
                rhs[r] = rhs[r] - (f * rhs[p]) / pivot;
            }
        }
        q_[5] = input_[centre + 1].value();
        for (int j = 4; j >= 1; --j) {
            ld sum = 0.0L;
            for (int col = 5; col > j; --col)
                sum = sum + m[j][col] * q_[col];
            q_[j] = m[j][j] != 0 ? (rhs[j] - sum) / m[j][j] : 0.0L;
        }
    }

    const std::vector<double>& angle_;
    const TReal48Array& input_;
    int n_;
    PairPowers pairs_[4][kSlots];
    ld q_[6] = {};
    int solvedCentre_ = -1;
};

} // namespace

double Puissance(double a, double b)
{
    ld sign = a >= 0 ? 1.0L : -1.0L;
    if (a == 0) {
        a = 0.0001;
        sign = 0.0L;
    }
    const ld half = ld(b) / 2.0L;
    if (half == std::trunc(half))
        sign = 1.0L;
    return toDouble(sign * std::exp(ld(b) * std::log(std::fabs(ld(a)))));
}

std::int16_t constantstepTransformPlain(std::int16_t n, const TReal48Array& Angles, double Start,
                                        double Stop, double Step, TReal48Array& Output,
                                        const TReal48Array& Input)
{
    const int last = targetCount(n, Start, Stop, Step);
    if (last < 0)
        return static_cast<std::int16_t>(last + 1);
    auto angle = [&Angles](int s) { return Angles[s + 1].value(); };

    int lo = 0;
    int hi = n - 1;
    for (int k = 0; k <= last; ++k) {
        const float t = targetAngle(k, Start, Step);
        float best = kReach;
        int idx = lo;
        for (int s = lo; s <= hi; ++s) {
            const float d = offsetFrom(t, angle(s));
            if (std::fabs(d) <= std::fabs(best)) {
                idx = s;
                best = d;
            }
        }

        if (best == 0) {
            Output[k + 1] = Input[idx + 1];
        } else {
            ld m[6][6] = {};
            ld rhs[6] = {};
            const int first = stencilFirst(idx, n);
            int row = 1;
            for (int j = first; j < first + kStencil; ++j) {
                if (j == idx)
                    continue;
                const double u = abscissa(angle(j), angle(idx));
                for (int col = 1; col <= 5; ++col)
                    m[row][col] = Puissance(u, 5 - col);
                rhs[row] = Input[j + 1].value();
                ++row;
            }
            m[5][5] = 1.0L;
            rhs[5] = Input[idx + 1].value();

            for (int p = 1; p <= 3; ++p) {
                if (m[p][p] == 0)
                    refuseZeroPivot();
                for (int r = p + 1; r <= 4; ++r) {
                    const ld f = m[r][p];
                    for (int col = p; col <= 5; ++col)
                        m[r][col] = m[r][col] - (f * m[p][col]) / m[p][p];
                    rhs[r] = rhs[r] - (f * rhs[p]) / m[p][p];
                }
            }
            ld q[6] = {};
            for (int j = 5; j >= 1; --j) {
                ld sum = 0.0L;
                for (int col = 5; col >= j + 1; --col)
                    sum = sum + m[j][col] * q[col];
                if (m[j][j] != 0)
                    q[j] = (rhs[j] - sum) / m[j][j];
            }

            const float us = toSingle(ld(best) * kHundredths);
            ld value = 0.0L;
            for (int b = 0; b <= 4; ++b)
                value = value + q[5 - b] * Puissance(us, b);
            Output[k + 1] = Real48::fromValue(value);
        }
        lo = idx;
        hi = std::min(idx + kWindow, n - 1);
    }
    return static_cast<std::int16_t>(last + 1);
}

std::int16_t TLitdat::constantstepTransform(std::int16_t n, const TReal48Array& Angles,
                                            double Start, double Stop, double Step,
                                            TReal48Array& Output, const TReal48Array& Input)
{
    const int last = targetCount(n, Start, Stop, Step);
    if (last < 0)
        return static_cast<std::int16_t>(last + 1);

    // Each angle decoded once. On non-decreasing angles the offsets from a target fall as the
    // search goes on, so once one is below -|best| no later point can win and the search stops.
    std::vector<double> angle(static_cast<std::size_t>(n));
    bool sorted = true;
    for (int s = 0; s < n; ++s) {
        angle[s] = Angles[s + 1].value();
        if (s > 0 && !(angle[s - 1] <= angle[s]))
            sorted = false;
    }

    FastStencil stencil(angle, Input);
    int lo = 0;
    int hi = n - 1;
    for (int k = 0; k <= last; ++k) {
        const float t = targetAngle(k, Start, Step);
        // Below 1e38 no offset can overflow a float, so the points skipped would raise nothing.
        const bool stopEarly = sorted && std::fabs(t) < 1e38f;
        float best = kReach;
        int idx = lo;
        for (int s = lo; s <= hi; ++s) {
            const float d = offsetFrom(t, angle[s]);
            if (std::fabs(d) <= std::fabs(best)) {
                idx = s;
                best = d;
            } else if (stopEarly && d < 0) {
                break;
            }
        }

        if (best == 0) {
            Output[k + 1] = Input[idx + 1];
        } else {
            const ld* q = stencil.coefficients(idx);
            double p[5];
            powersOf(toSingle(ld(best) * kHundredths), p);
            ld value = 0.0L;
            for (int b = 0; b <= 4; ++b)
                value = value + q[5 - b] * p[b];
            Output[k + 1] = Real48::fromValue(value);
        }
        lo = idx;
        hi = std::min(idx + kWindow, n - 1);
    }
    return static_cast<std::int16_t>(last + 1);
}

} // namespace rawdat
