#include "calibrate/peaks.h"

#include <Eigen/Dense>
#include <unsupported/Eigen/NonLinearOptimization>
#include <unsupported/Eigen/NumericalDiff>

#include <algorithm>
#include <cmath>

namespace rawdat::calib {

namespace {

// Width of the smoothing Gaussian of the peak filter, channels: peaks of 2 to 6 channels at
// half height are found with one filter.
constexpr double kFilterSigma = 1.5;
constexpr int kFilterHalf = 8;

double pseudoVoigt(double x, double centre, double fwhm, double eta)
{
    const double u = (x - centre) / fwhm;
    const double u2 = 4.0 * u * u;
    return eta / (1.0 + u2) + (1.0 - eta) * std::exp(-std::log(2.0) * u2);
}

// Parameters: centre, fwhm, height, eta angle, background at the window's middle, its slope.
struct ProfileFunctor {
    using Scalar = double;
    enum { InputsAtCompileTime = Eigen::Dynamic, ValuesAtCompileTime = Eigen::Dynamic };
    using InputType = Eigen::VectorXd;
    using ValueType = Eigen::VectorXd;
    using JacobianType = Eigen::MatrixXd;

    const double* y = nullptr; // counts of the window
    int first = 0;             // channel of y[0]
    int m = 0;
    double middle = 0.0;
    double offset = 0.0, ratio = 0.0;

    int inputs() const { return 6; }
    int values() const { return m; }

    static double eta(double t) { return 0.5 * (1.0 + std::sin(t)); }

    double model(const Eigen::VectorXd& p, double x) const
    {
        const double w = std::abs(p[1]);
        double v = pseudoVoigt(x, p[0], w, eta(p[3]));
        if (offset != 0.0)
            v += ratio * pseudoVoigt(x, p[0] + offset, w, eta(p[3]));
        return p[2] * v + p[4] + p[5] * (x - middle);
    }

    int operator()(const Eigen::VectorXd& p, Eigen::VectorXd& r) const
    {
        for (int i = 0; i < m; ++i) {
            const double x = first + i;
            r[i] = (model(p, x) - y[i]) / std::sqrt(std::max(y[i], 1.0));
        }
        return 0;
    }
};

} // namespace

std::vector<PeakGuess> findPeaks(const Counts& y, double minSignificance)
{
    const int n = static_cast<int>(y.size());
    // The negative second derivative of a Gaussian, less its mean: zero on a straight background.
    double k[2 * kFilterHalf + 1];
    double mean = 0.0;
    for (int j = -kFilterHalf; j <= kFilterHalf; ++j) {
        const double t = j / kFilterSigma;
        k[j + kFilterHalf] = (1.0 - t * t) * std::exp(-0.5 * t * t);
        mean += k[j + kFilterHalf];
    }
    mean /= 2 * kFilterHalf + 1;
    for (double& v : k)
        v -= mean;
    std::vector<double> s(n, 0.0), z(n, 0.0);
    for (int i = kFilterHalf; i < n - kFilterHalf; ++i) {
        double sum = 0.0, var = 0.0;
        for (int j = -kFilterHalf; j <= kFilterHalf; ++j) {
            const double c = k[j + kFilterHalf];
            sum += c * y[i + j];
            var += c * c * std::max(y[i + j], 1.0);
        }
        s[i] = sum;
        z[i] = sum / std::sqrt(var);
    }
    std::vector<PeakGuess> out;
    for (int i = kFilterHalf + 2; i < n - kFilterHalf - 2; ++i) {
        if (z[i] < minSignificance || !(s[i] > s[i - 1] && s[i] >= s[i + 1] && s[i] > s[i - 2] && s[i] >= s[i + 2]))
            continue;
        // The filter's zero crossings lie at +-sqrt(sigma^2 + filter sigma^2) for a Gaussian.
        auto crossing = [&](int dir) {
            for (int j = i; j > 0 && j < n - 1; j += dir)
                if (s[j + dir] <= 0.0)
                    return j + s[j] / (s[j] - s[j + dir]) * dir;
            return double(i);
        };
        const double half = 0.5 * (crossing(1) - crossing(-1));
        const double sigma2 = half * half - kFilterSigma * kFilterSigma;
        const double fwhm = 2.3548 * std::sqrt(std::max(sigma2, 0.5));
        // Parabolic top of the filtered curve.
        const double den = s[i - 1] - 2.0 * s[i] + s[i + 1];
        const double dx = den < 0.0 ? 0.5 * (s[i - 1] - s[i + 1]) / den : 0.0;
        out.push_back({i + 1 + dx, std::clamp(fwhm, 1.0, 40.0), z[i]});
    }
    return out;
}

PeakFit fitPeak(const Counts& y, const PeakGuess& guess, double ka2Offset, double ka2Ratio)
{
    PeakFit fit;
    const int n = static_cast<int>(y.size());
    const double w0 = guess.fwhm;
    const double reach = 2.5 * w0 + 4.0;
    double lo = guess.channel - reach, hi = guess.channel + reach;
    // A second line farther than three widths is a peak of its own: the window stays on the
    // first, and the profile only carries the second's tail.
    if (std::abs(ka2Offset) <= 3.0 * w0)
        (ka2Offset > 0 ? hi : lo) += ka2Offset;
    const int first = std::max(1, static_cast<int>(std::floor(lo)));
    const int last = std::min(n, static_cast<int>(std::ceil(hi)));
    const int m = last - first + 1;
    if (m < 10)
        return fit;

    ProfileFunctor f;
    f.y = y.data() + (first - 1);
    f.first = first;
    f.m = m;
    f.middle = 0.5 * (first + last);
    f.offset = ka2Offset;
    f.ratio = ka2Ratio;

    // Start: background through the window's ends, height at the guessed centre.
    const double yl = f.y[0], yr = f.y[m - 1];
    const double slope = (yr - yl) / (last - first);
    const double bg = 0.5 * (yl + yr);
    const int ci = std::clamp(static_cast<int>(std::lround(guess.channel)), first, last);
    const double top = y[ci - 1] - (bg + slope * (ci - f.middle));
    Eigen::VectorXd p(6);
    p << guess.channel, w0, std::max(top / (1.0 + ka2Ratio * 0.3), 1.0), 0.0, bg, slope;

    Eigen::NumericalDiff<ProfileFunctor, Eigen::Central> numeric(f);
    Eigen::LevenbergMarquardt<Eigen::NumericalDiff<ProfileFunctor, Eigen::Central>> lm(numeric);
    lm.parameters.maxfev = 1000;
    lm.parameters.xtol = 1e-10;
    lm.parameters.ftol = 1e-10;
    const int status = lm.minimize(p);
    if (status <= 0)
        return fit;

    Eigen::VectorXd r(m);
    f(p, r);
    fit.chi2 = r.squaredNorm();
    fit.points = m;
    Eigen::MatrixXd jac(m, 6);
    numeric.df(p, jac);
    const Eigen::MatrixXd normal = jac.transpose() * jac;
    Eigen::FullPivLU<Eigen::MatrixXd> lu(normal);
    if (!lu.isInvertible())
        return fit;
    const double scale = fit.chi2 / std::max(1, m - 6);
    const double var = lu.inverse()(0, 0) * std::max(scale, 1.0);

    fit.centre = p[0];
    fit.fwhm = std::abs(p[1]);
    fit.height = p[2];
    fit.eta = ProfileFunctor::eta(p[3]);
    fit.sigma = std::sqrt(std::max(var, 0.0));
    fit.ok = std::isfinite(fit.centre) && std::isfinite(fit.sigma) && fit.height > 0.0 &&
             fit.centre > first && fit.centre < last && std::abs(fit.centre - guess.channel) < 0.75 * w0 + 1.0 &&
             fit.fwhm > 0.5 && fit.fwhm < 3.0 * w0 + 2.0;
    return fit;
}

} // namespace rawdat::calib
