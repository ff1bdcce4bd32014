// The constant-step resampler over a detector pattern of 4096 and 8192 channels, laid out the
// way the DAT conversion calls it: angles from a slightly curved calibration, step about one
// channel rounded to 0.001 degree, targets from ten steps inside the first channel to ten steps
// inside the next-to-last. "Plain" is the reference path, "Fast" the one conversions use.
// BM_Calibrate: the calibration from a standard, one synthetic standard of 4096 channels per
// iteration, for each case of its tests (the goal is under a second a file).
#include "ulit_dat/litdat.h"
#include "ulit_dat/resample.h"

#include <benchmark/benchmark.h>
#if RAWDAT_BENCH_CALIBRATE
#include "calibrate/calibrate.h"
#include "synthetic.h"
#endif

#include <cmath>
#include <cstdint>
#include <memory>
#include <random>

namespace {

using namespace rawdat;

struct Pattern {
    int n = 0;
    TReal48Array angles;
    TReal48Array counts;
    double start = 0.0;
    double stop = 0.0;
    double step = 0.0;
};

std::unique_ptr<Pattern> makePattern(int n)
{
    auto p = std::make_unique<Pattern>();
    p->n = n;
    std::mt19937_64 rng(20240611);
    std::uniform_real_distribution<double> jitter(-0.002, 0.002);
    std::uniform_int_distribution<int> count(0, 50000);
    const double width = 120.0 / n; // 120 degrees over the detector
    for (int i = 1; i <= n; ++i) {
        const double x = i * width;
        p->angles[i] = Real48::fromValue(5.0 + x + 1e-4 * x * x + jitter(rng) * width);
        p->counts[i] = Real48::fromValue(count(rng));
    }
    const double first = p->angles[1].value();
    const double mean = (p->angles[n].value() - first) / (n - 1);
    p->step = std::trunc(mean * 1000 + 0.5) / 1000;
    p->start = std::trunc((first + 10 * p->step) * 1000 + 0.5) / 1000;
    p->stop = p->angles[n - 1].value() - 10 * p->step;
    return p;
}

template <bool Fast>
void BM_constantstepTransform(benchmark::State& state)
{
    const auto p = makePattern(static_cast<int>(state.range(0)));
    auto out = std::make_unique<TReal48Array>();
    TLitdat lit;
    std::int16_t written = 0;
    for (auto _ : state) {
        if constexpr (Fast)
            written = lit.constantstepTransform(static_cast<std::int16_t>(p->n), p->angles,
                                                p->start, p->stop, p->step, *out, p->counts);
        else
            written = constantstepTransformPlain(static_cast<std::int16_t>(p->n), p->angles,
                                                 p->start, p->stop, p->step, *out, p->counts);
        benchmark::DoNotOptimize(out->first());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * written);
}

void BM_Plain(benchmark::State& state) { BM_constantstepTransform<false>(state); }
void BM_Fast(benchmark::State& state) { BM_constantstepTransform<true>(state); }

BENCHMARK(BM_Plain)->Arg(4096)->Arg(8192)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Fast)->Arg(4096)->Arg(8192)->Unit(benchmark::kMillisecond);

#if RAWDAT_BENCH_CALIBRATE
// The cases of tests/calibrate: standard, wavelength, K-alpha-2, bend, seed, height, background.
struct CalibrateCase {
    const char* standard;
    double wavelength;
    bool ka2;
    double bend;
    std::uint32_t seed;
    double height, background;
};
constexpr CalibrateCase kCalibrateCases[] = {
    {"lab6", 1.54056, false, 0.3, 1, 20000, 300}, {"lab6", 1.54056, true, 0.3, 2, 20000, 300},
    {"si", 1.54056, false, 0.3, 3, 20000, 300},   {"si", 1.78897, true, 0.2, 4, 20000, 300},
    {"ceo2", 1.54056, true, 0.3, 5, 20000, 300},  {"ceo2", 0.70930, false, 0.3, 6, 20000, 300},
    {"lab6", 0.70930, true, 0.25, 7, 20000, 300}, {"lab6", 1.78897, false, 0.3, 8, 20000, 300},
    {"lab6", 1.54056, false, 1.0, 9, 20000, 300}, {"si", 1.54056, true, 0.3, 10, 1500, 800},
};

void BM_Calibrate(benchmark::State& state)
{
    const CalibrateCase& c = kCalibrateCases[state.range(0)];
    rawdat::test::StandardRecipe recipe;
    recipe.standard = c.standard;
    recipe.wavelength = c.wavelength;
    recipe.ka2 = c.ka2;
    recipe.bend = c.bend;
    recipe.seed = c.seed;
    recipe.height = c.height;
    recipe.background = c.background;
    const auto pattern = rawdat::test::makeStandard(recipe);
    const auto lines = calib::standardReflections(c.standard, c.wavelength / 2.0);
    for (auto _ : state) {
        auto r = calib::calibrate(pattern.counts, lines, c.wavelength);
        benchmark::DoNotOptimize(r.cal);
    }
    state.SetLabel(std::string(c.standard) + (c.ka2 ? " Ka1+Ka2" : " Ka1") + " " + std::to_string(c.wavelength));
}
BENCHMARK(BM_Calibrate)->DenseRange(0, 9)->Unit(benchmark::kMillisecond);
#endif

} // namespace
