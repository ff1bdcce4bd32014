#include "synthetic.h"

#include "calibrate/standard.h"
#include "fmt_raw/raw.h"

#include <cmath>
#include <random>

namespace rawdat::test {

namespace {
constexpr double kPi = 3.14159265358979323846;

double profile(double x, double centre, double fwhm, double eta)
{
    const double u = 2.0 * (x - centre) / fwhm;
    return eta / (1.0 + u * u) + (1.0 - eta) * std::exp(-std::log(2.0) * u * u);
}
} // namespace

double Synthetic::trueAngle(double channel) const
{
    // A straight line from 5 degrees, bent by two smooth terms whose phase the seed sets.
    const double u = (channel - 1.0) / (recipe.channels - 1.0);
    const double phase = 0.37 * (recipe.seed % 7);
    const double bend = 0.8 * std::sin(kPi * u) + 0.35 * std::sin(2.0 * kPi * u + phase) - 0.35 * std::sin(phase);
    return 5.0 + 120.0 * u + recipe.bend * bend / 1.15;
}

Synthetic makeStandard(const StandardRecipe& recipe)
{
    Synthetic s{recipe, {}};
    std::mt19937 gen(recipe.seed);
    std::uniform_real_distribution<double> strength(0.15, 1.0);
    const double first = s.trueAngle(1), last = s.trueAngle(recipe.channels);
    const double perChannel = (last - first) / (recipe.channels - 1);
    double lambda2 = 0.0;
    for (int r = 1; r <= 5; ++r)
        if (std::abs(AnodeTable(r).Alpha1 - recipe.wavelength) < 1e-4)
            lambda2 = AnodeTable(r).Alpha2;
    struct Line {
        double at, fwhm, eta, height;
    };
    std::vector<Line> peaks;
    for (const calib::Reflection& r : calib::standardReflections(recipe.standard, recipe.wavelength / 2.0)) {
        const double t = 2.0 * std::asin(recipe.wavelength / (2.0 * r.d)) * 180.0 / kPi;
        const double h = recipe.height * strength(gen);
        if (t < first - 2.0 || t > last + 2.0)
            continue;
        // 2 channels wide at the low end of the detector, 6 at the high end.
        const double fwhm = (2.0 + 4.0 * (t - first) / (last - first)) * perChannel;
        const double eta = 0.3 + 0.4 * (t - first) / (last - first);
        peaks.push_back({t, fwhm, eta, h});
        if (recipe.ka2 && lambda2 > 0.0 && recipe.wavelength / (2.0 * r.d) * lambda2 / recipe.wavelength < 1.0)
            peaks.push_back({2.0 * std::asin(lambda2 / (2.0 * r.d)) * 180.0 / kPi, fwhm, eta, 0.5 * h});
    }
    s.counts.resize(recipe.channels);
    for (int c = 1; c <= recipe.channels; ++c) {
        const double t = s.trueAngle(c);
        double mean = recipe.background * (1.0 + 1.5 * std::exp(-t / 15.0)) + 0.5 * t;
        for (const Line& p : peaks)
            if (std::abs(t - p.at) < 60.0 * p.fwhm)
                mean += p.height * profile(t, p.at, p.fwhm, p.eta);
        std::poisson_distribution<long> counts(mean);
        s.counts[c - 1] = static_cast<double>(counts(gen));
    }
    return s;
}

} // namespace rawdat::test
