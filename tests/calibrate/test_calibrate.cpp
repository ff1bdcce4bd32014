// The calibration from a standard against hidden calibrations: each row makes a synthetic
// standard, calibrates it, and checks the new calibration against the truth over the channels
// between the first and the last matched peak.
#include "calibrate/calibrate.h"
#include "synthetic.h"
#include "ulit_dat/litdat.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <ostream>

using namespace rawdat;
using namespace rawdat::test;

namespace {

struct Case {
    const char* name;
    StandardRecipe recipe;
    bool doublets; // the profiles the calibration should choose
};

// The case by its name in test listings, not as the bytes of the struct.
void PrintTo(const Case& c, std::ostream* os)
{
    *os << c.name;
}

StandardRecipe recipe(const char* standard, double wavelength, bool ka2, double bend, std::uint32_t seed,
                   double height = 20000.0, double background = 300.0)
{
    StandardRecipe s;
    s.standard = standard;
    s.wavelength = wavelength;
    s.ka2 = ka2;
    s.bend = bend;
    s.seed = seed;
    s.height = height;
    s.background = background;
    return s;
}

constexpr double kCu = 1.54056, kCo = 1.78897, kMo = 0.70930;

const Case kCases[] = {
    {"LaB6_Cu", recipe("lab6", kCu, false, 0.3, 1), false},
    {"LaB6_Cu_Ka2", recipe("lab6", kCu, true, 0.3, 2), true},
    {"Si_Cu", recipe("si", kCu, false, 0.3, 3), false},
    {"Si_Co_Ka2", recipe("si", kCo, true, 0.2, 4), true},
    {"CeO2_Cu_Ka2", recipe("ceo2", kCu, true, 0.3, 5), true},
    {"CeO2_Mo", recipe("ceo2", kMo, false, 0.3, 6), false},
    {"LaB6_Mo_Ka2", recipe("lab6", kMo, true, 0.25, 7), true},
    {"LaB6_Co", recipe("lab6", kCo, false, 0.3, 8), false},
    {"LaB6_Cu_bent_1deg", recipe("lab6", kCu, false, 1.0, 9), false},
    {"Si_Cu_noisy", recipe("si", kCu, true, 0.3, 10, 1500.0, 800.0), true},
};

class Standards : public ::testing::TestWithParam<Case> {};

TEST_P(Standards, MeetsTheAccuracyGoals)
{
    const Case& c = GetParam();
    const Synthetic s = makeStandard(c.recipe);
    const auto lines = calib::standardReflections(c.recipe.standard, c.recipe.wavelength / 2.0);
    const calib::Result r = calib::calibrate(s.counts, lines, c.recipe.wavelength);
    ASSERT_EQ(r.refusal, "");
    EXPECT_EQ(r.doublets, c.doublets);
    TLitdat lit;
    double worst = 0.0, ss = 0.0;
    int n = 0;
    for (int ch = static_cast<int>(std::ceil(r.fromChannel)); ch <= r.toChannel; ++ch, ++n) {
        const double e = lit.Degree(r.cal, ch) - s.trueAngle(ch);
        worst = std::max(worst, std::abs(e));
        ss += e * e;
    }
    const double rms = std::sqrt(ss / n);
    // The range where the standard has lines on this detector.
    double lo = 1e9, hi = -1e9;
    for (const auto& l : lines) {
        const double t = 2.0 * std::asin(c.recipe.wavelength / (2.0 * l.d)) * 180.0 / 3.14159265358979323846;
        if (t >= s.trueAngle(1) && t <= s.trueAngle(c.recipe.channels)) {
            lo = std::min(lo, t);
            hi = std::max(hi, t);
        }
    }
    const double coverage = (s.trueAngle(r.toChannel) - s.trueAngle(r.fromChannel)) / (hi - lo);
    std::printf("%-20s matched %3zu of %3d found  max %.4f  rms %.4f  coverage %.3f  loo %.4f\n", c.name,
                r.matched.size(), r.found, worst, rms, coverage, r.leaveOutRms);
    EXPECT_LE(worst, 0.01);
    EXPECT_LE(rms, 0.003);
    EXPECT_GE(coverage, 0.8);
    EXPECT_EQ(r.cal.CalWavelength, c.recipe.wavelength);
}

INSTANTIATE_TEST_SUITE_P(Synthetic, Standards, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace

namespace {

TEST(StandardLines, FollowTheLatticeRules)
{
    const struct {
        const char* standard;
        const char* labels;
        double firstD;
    } rows[] = {
        {"lab6", "100 110 111 200 210 211 220 300+221", 4.156826},
        {"si", "111 220 311 400 331 422 511+333 440", 5.431179 / std::sqrt(3.0)},
        {"CeO2", "111 200 220 311 222 400 331 420", 5.411651 / std::sqrt(3.0)},
    };
    for (const auto& row : rows) {
        const auto lines = calib::standardReflections(row.standard, 0.9);
        std::string labels;
        for (std::size_t i = 0; i < lines.size() && i < 8; ++i)
            labels += (i ? " " : "") + lines[i].label;
        EXPECT_EQ(labels, row.labels) << row.standard;
        EXPECT_DOUBLE_EQ(lines.front().d, row.firstD) << row.standard;
    }
}

} // namespace
