// Channel to 2-theta (Degree, GetVal1) and the calibration fit (MakeCalibration,
// FindLinearCoeff).
//
// Every expression runs in long double (80-bit extended) and is rounded to double where the
// instrument's software stores it: the polynomial after each Horner step, the spline after each
// multiply-add, every working array of the fit. Results are compared bit for bit with that
// software, so the order of operations below is part of the contract.
#include "ulit_dat/errors.h"
#include "ulit_dat/fpround.h"
#include "ulit_dat/litdat.h"
#include "ulit_dat/numtext.h"

#include <limits>

namespace rawdat {

namespace {

using ld = long double;

// Gaps between neighbouring knots below this (zero and negative ones included) cannot carry a
// spline.
constexpr ld kMinKnotGap = 1e-15L;

bool knotCountInRange(int n)
{
    return n >= 1 && n <= kMaxKnots;
}

} // namespace

double TLitdat::Degree(const TCalibration& Cal, double Channel) const
{
    if (Cal.SplineFlag != 0) {
        const double x = toDouble((ld(Channel) - 0.0L) / 1000.0L);
        return GetVal1(Cal, x);
    }
    // Horner from the top coefficient: PolyCoef[k] multiplies Channel^(k-1).
    double v = Cal.PolyCoef[11];
    for (int k = 10; k >= 1; --k)
        v = toDouble(ld(Channel) * v + Cal.PolyCoef[k]);
    return v;
}

double TLitdat::GetVal1(const TCalibration& Cal, double X) const
{
    const int n = Cal.KnotCount;
    // A record read from a file is used unchecked; one whose knot count is out of range has no
    // spline to evaluate, and gets NaN rather than a read beyond the knots.
    if (!knotCountInRange(n))
        return std::numeric_limits<double>::quiet_NaN();
    const auto& x = Cal.KnotPos;
    const auto& a = Cal.KnotAngle;
    const auto& b = Cal.SplineB;

    // Straight lines outside the knots, with the slope of the first and of the last knot.
    if (X < x[1])
        return toDouble(b[1] * (ld(X) - x[1]) + a[1]);
    if (X >= x[n])
        return toDouble(b[n] * (ld(X) - x[n]) + a[n]);

    for (int i = 1; i < n; ++i) {
        if (x[i] <= X && X < x[i + 1]) {
            const double dx = toDouble(ld(X) - x[i]);
            double v = toDouble(ld(Cal.SplineD[i]) * dx + Cal.SplineC[i]);
            v = toDouble(ld(v) * dx + b[i]);
            return toDouble(ld(v) * dx + a[i]);
        }
    }
    // Only knots holding NaN leave X in no interval.
    return std::numeric_limits<double>::quiet_NaN();
}

bool TLitdat::MakeCalibration(TCalibration& Cal)
{
    if (Cal.SplineFlag != 1)
        return false;
    const int n = Cal.KnotCount;
    if (n < 2 || n > kMaxKnots)
        return true;
    const auto& x = Cal.KnotPos;
    const auto& a = Cal.KnotAngle;

    // Every gap is computed and tested; NaN positions are rejected along with small gaps.
    OneBased<double, kMaxKnots> h;
    bool rejected = false;
    for (int i = 1; i <= n - 1; ++i) {
        h[i] = toDouble(ld(x[i + 1]) - x[i]);
        if (!(h[i] >= kMinKnotGap))
            rejected = true;
    }
    if (rejected)
        return true;

    // Natural cubic spline: tridiagonal system for the second-order coefficients.
    OneBased<double, kMaxKnots> alpha, l, mu, z;
    for (int i = 2; i <= n - 1; ++i)
        alpha[i] = toDouble(3.0L * (ld(a[i + 1]) * h[i - 1] - (ld(x[i + 1]) - x[i - 1]) * a[i] +
                                    ld(a[i - 1]) * h[i]) /
                            (ld(h[i - 1]) * h[i]));
    mu[1] = 0.0;
    z[1] = 0.0;
    for (int i = 2; i <= n - 1; ++i) {
        l[i] = toDouble(2.0L * (ld(x[i + 1]) - x[i - 1]) - ld(h[i - 1]) * mu[i - 1]);
        mu[i] = toDouble(ld(h[i]) / l[i]);
        z[i] = toDouble((ld(alpha[i]) - ld(h[i - 1]) * z[i - 1]) / l[i]);
    }

    // The coefficients go into a copy first: a floating-point error on the way leaves the
    // caller's record and the fitted line as they were.
    TCalibration fitted = Cal;
    auto& b = fitted.SplineB;
    auto& c = fitted.SplineC;
    auto& d = fitted.SplineD;
    c[n] = 0.0;
    for (int j = n - 1; j >= 1; --j)
        c[j] = toDouble(ld(z[j]) - ld(mu[j]) * c[j + 1]);
    for (int j = n - 1; j >= 1; --j) {
        b[j] = toDouble((ld(a[j + 1]) - a[j]) / h[j] - (2.0L * c[j] + c[j + 1]) * h[j] / 3.0L);
        d[j] = toDouble((ld(c[j + 1]) - c[j]) / (3.0L * h[j]));
    }
    // Above the last knot the spline goes on with the slope at the start of the last segment.
    b[n] = b[n - 1];
    c[n] = 0.0;
    d[n] = 0.0;

    FindLinearCoeff(fitted);
    Cal = fitted;
    return false;
}

void TLitdat::FindLinearCoeff(const TCalibration& Cal)
{
    const int n = Cal.KnotCount;
    if (!knotCountInRange(n))
        throw Refusal("", "a calibration line needs 1 to 100 knots, not " + intText(n));
    const auto& x = Cal.KnotPos;
    auto channel = [&x](int i) { return toDouble(ld(x[i]) * 1000.0L); };

    double sumCh = 0.0;
    double sumY = 0.0;
    double sumYCh = 0.0;
    for (int i = 1; i <= n; ++i) {
        const double ch = channel(i);
        const double y = Degree(Cal, ch);
        sumCh = toDouble(ld(sumCh) + ch);
        sumY = toDouble(ld(sumY) + y);
        sumYCh = toDouble(ld(sumYCh) + ld(y) * ch);
    }
    const double mx = toDouble(ld(sumCh) / n);
    const double my = toDouble(ld(sumY) / n);
    double sumSq = 0.0;
    for (int i = 1; i <= n; ++i) {
        const ld dev = ld(channel(i)) - mx;
        sumSq = toDouble(ld(sumSq) + dev * dev);
    }
    const double spread = toDouble(ld(sumSq) / n);

    const double slope = toDouble(checkedDivide(ld(sumYCh) - ld(n) * mx * my, ld(n) * spread));
    const double offset = toDouble(ld(my) - ld(slope) * mx);
    LinearSlope = slope;
    LinearOffset = offset;
}

} // namespace rawdat
