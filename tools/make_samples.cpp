// Writes the bundled sample: a LaB6 line-position standard measured with Cu K-alpha-1 on a curved
// position-sensitive detector of 4096 channels spanning about 120 degrees, as a DAT file and the
// spline calibration that its header names.
//
//   rawdat-make-samples OUTDIR
//
// Everything is computed from fixed numbers and a fixed-seed generator whose output the C++
// standard defines (std::mt19937), so the files are the same on every machine.
#include "ulit_dat/errors.h"
#include "ulit_dat/litdat.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <random>

using namespace rawdat;

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kWavelength = 1.54056; // Cu K-alpha-1
constexpr double kLaB6 = 4.15689;       // cubic cell edge of LaB6, angstroms
constexpr int kChannels = 4096;
constexpr int kKnots = 16;

// The detector's angle scale: about 0.0293 degree per channel, slightly curved.
double trueAngle(double channel)
{
    const double u = channel - 2048.0;
    return 66.0 + 0.02932 * u - 2.4e-8 * u * u + 1.5e-12 * u * u * u;
}

struct Reflection {
    int h, k, l;
    double intensity; // relative peak height
};

// The first twelve reflections of LaB6 (primitive cubic: every hkl is allowed).
constexpr Reflection kReflections[] = {
    {1, 0, 0, 60}, {1, 1, 0, 100}, {1, 1, 1, 42}, {2, 0, 0, 24}, {2, 1, 0, 52}, {2, 1, 1, 27},
    {2, 2, 0, 13}, {3, 0, 0, 33},  {3, 1, 0, 24}, {3, 1, 1, 9},  {2, 2, 2, 5},  {3, 2, 0, 15},
};

double twoTheta(const Reflection& r)
{
    const double d = kLaB6 / std::sqrt(double(r.h * r.h + r.k * r.k + r.l * r.l));
    return 2.0 * std::asin(kWavelength / (2.0 * d)) * 180.0 / kPi;
}

// Expected counts at a 2-theta: pseudo-Voigt peaks whose width grows with the angle, on a
// smooth background that falls from the low-angle side.
double expectedCounts(double tt)
{
    double y = 180.0 + 900.0 * std::exp(-tt / 14.0) + 0.6 * tt;
    for (const auto& r : kReflections) {
        const double centre = twoTheta(r);
        const double th = centre * kPi / 360.0;
        const double fwhm = std::sqrt(0.0040 + 0.0025 * std::tan(th) * std::tan(th));
        const double x = (tt - centre) / (fwhm / 2.0);
        const double gauss = std::exp(-std::log(2.0) * x * x);
        const double lorentz = 1.0 / (1.0 + x * x);
        y += 9000.0 * r.intensity / 100.0 * (0.6 * gauss + 0.4 * lorentz);
    }
    return y;
}

// Counting noise: a normal approximation of Poisson noise, from the generator's raw 32-bit output.
class Noise {
public:
    double counts(double mean)
    {
        const double u1 = (gen_() + 0.5) / 4294967296.0;
        const double u2 = (gen_() + 0.5) / 4294967296.0;
        const double z = std::sqrt(-2.0 * std::log(u1)) * std::cos(2.0 * kPi * u2);
        return std::max(0.0, std::round(mean + z * std::sqrt(mean)));
    }

private:
    std::mt19937 gen_{20261208u};
};

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: rawdat-make-samples OUTDIR\n");
        return 2;
    }
    const std::filesystem::path out(argv[1]);
    try {
        std::filesystem::create_directories(out);
        TLitdat lit;

        TCalibration cal;
        cal.CalWavelength = kWavelength;
        cal.SplineFlag = 1;
        cal.KnotCount = kKnots;
        for (int i = 1; i <= kKnots; ++i) {
            const double channel = 1.0 + (kChannels - 1.0) * (i - 1) / (kKnots - 1);
            cal.KnotPos[i] = channel / 1000.0;
            cal.KnotAngle[i] = trueAngle(channel);
        }
        if (lit.MakeCalibration(cal))
            throw std::runtime_error("the sample's knots do not carry a spline");
        lit.Ecr_CAL((out / "CPS120.CAL").string(), cal);

        TScanHeader h;
        TScanParams p;
        auto data = std::make_unique<TData>();
        h.Size = kChannels;
        h.NbScans = 1;
        // The detector's software pads every header text with spaces.
        auto padded = [](std::string s, std::size_t n) {
            s.resize(n, ' ');
            return s;
        };
        h.Date = padded("08/12/26 10:15:00", 20);
        h.Comment1 = padded("LaB6 line-position standard, Cu Ka1", 80);
        h.Comment2 = padded("curved position-sensitive detector, 4096 channels, 120 degrees", 80);
        h.Comment3 = padded("rawdat sample pattern", 80);
        h.CalName = padded("CPS120", 9);
        h.Voltage = padded("40 kV", 9);
        h.Current = padded("30 mA", 9);
        h.Wavelength = kWavelength;
        p.AcqTime = 600.0f;
        Noise noise;
        for (int ch = 1; ch <= kChannels; ++ch)
            (*data)[ch] = static_cast<std::int32_t>(noise.counts(expectedCounts(lit.Degree(cal, ch))));
        lit.Ecr_DAT((out / "LAB6.DAT").string(), h, p, *data);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "rawdat-make-samples: %s\n", e.what());
        return 1;
    }
    return 0;
}
