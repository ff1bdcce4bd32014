// Every reader and writer of the conversions over one scan of 8192 channels (RAW: 8000 steps),
// files on tmpfs; the number text at the formats the text files use; Real48 both ways.
#include "bench_inputs.h"
#include "convert/session.h"
#include "ulit_dat/numtext.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <random>
#include <vector>

namespace {

using namespace rawdat;
using namespace rawdat::bench;

void setFileBytes(benchmark::State& state, const std::string& path)
{
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(std::filesystem::file_size(path)));
}

// The scan's counts as the TXT writer takes them.
std::unique_ptr<TReal48Array> countsAsReal48(const Scan& s)
{
    auto v = std::make_unique<TReal48Array>();
    for (int i = 1; i <= s.header.Size; ++i)
        (*v)[i] = Real48::fromValue(s.data[i]);
    return v;
}

void BM_Lect_Dat(benchmark::State& state)
{
    ScratchDir dir(true);
    const auto s = detectorScan();
    const std::string path = dir.file("S.DAT");
    TLitdat lit;
    lit.Ecr_DAT(path, s->header, s->params, s->data);
    auto in = std::make_unique<Scan>();
    for (auto _ : state)
        benchmark::DoNotOptimize(lit.Lect_Dat(path, in->header, in->params, in->data));
    setFileBytes(state, path);
}

void BM_Ecr_DAT(benchmark::State& state)
{
    ScratchDir dir(true);
    const auto s = detectorScan();
    const std::string path = dir.file("S.DAT");
    TLitdat lit;
    for (auto _ : state)
        lit.Ecr_DAT(path, s->header, s->params, s->data);
    setFileBytes(state, path);
}

void BM_Lect_CAL(benchmark::State& state)
{
    ScratchDir dir(true);
    const std::string path = dir.file("BENCH.CAL");
    TLitdat lit;
    lit.Ecr_CAL(path, detectorCalibration());
    TCalibration cal;
    for (auto _ : state)
        benchmark::DoNotOptimize(lit.Lect_CAL(path, cal));
    setFileBytes(state, path);
}

void BM_Ecr_CAL(benchmark::State& state)
{
    ScratchDir dir(true);
    const std::string path = dir.file("BENCH.CAL");
    const TCalibration cal = detectorCalibration();
    TLitdat lit;
    for (auto _ : state)
        lit.Ecr_CAL(path, cal);
    setFileBytes(state, path);
}

void BM_Ecr_TXT(benchmark::State& state)
{
    ScratchDir dir(true);
    RawModule m;
    const auto s = rawScan(m);
    const auto values = countsAsReal48(*s);
    const std::string path = dir.file("S.TXT");
    const double stop = (kRawSteps - 1) * double{m.RangeInfo.Step} + m.RangeInfo.Start;
    TLitdat lit;
    for (auto _ : state)
        lit.Ecr_TXT(path, s->header, s->params, *values, m.RangeInfo.Start, m.RangeInfo.Step, stop);
    setFileBytes(state, path);
}

void BM_Lect_TXT(benchmark::State& state)
{
    ScratchDir dir(true);
    RawModule m;
    const auto s = rawScan(m);
    const std::string path = dir.file("S.TXT");
    const double stop = (kRawSteps - 1) * double{m.RangeInfo.Step} + m.RangeInfo.Start;
    TLitdat lit;
    lit.Ecr_TXT(path, s->header, s->params, *countsAsReal48(*s), m.RangeInfo.Start, m.RangeInfo.Step, stop);
    auto in = std::make_unique<Scan>();
    for (auto _ : state)
        benchmark::DoNotOptimize(lit.Lect_TXT(path, in->header, in->params, in->data));
    setFileBytes(state, path);
}

void BM_Ecr_RAW(benchmark::State& state)
{
    ScratchDir dir(true);
    RawModule m;
    const auto s = rawScan(m);
    const std::string path = dir.file("S.RAW");
    for (auto _ : state)
        Ecr_RAW(m, path, s->header, s->data);
    setFileBytes(state, path);
}

void BM_Lect_RAW(benchmark::State& state)
{
    ScratchDir dir(true);
    RawModule m;
    const auto s = rawScan(m);
    const std::string path = dir.file("S.RAW");
    Ecr_RAW(m, path, s->header, s->data);
    auto in = std::make_unique<Scan>();
    RawModule read;
    for (auto _ : state)
        Lect_RAW(read, path, in->header, in->params, in->data);
    setFileBytes(state, path);
}

void BM_Ecr_2CL(benchmark::State& state)
{
    ScratchDir dir(true);
    RawModule m;
    const auto s = rawScan(m);
    auto x = std::make_unique<TSingleArray>();
    auto y = std::make_unique<TSingleArray>();
    for (int i = 1; i <= kRawSteps; ++i) {
        (*x)[i] = static_cast<float>(static_cast<long double>(i - 1) * m.RangeInfo.Step + m.RangeInfo.Start);
        (*y)[i] = static_cast<float>(s->data[i]);
    }
    const std::string path = dir.file("S.RAW");
    for (auto _ : state)
        Ecr_2CL(path, *x, *y, kRawSteps);
    setFileBytes(state, replaceExtension(path, "2CL"));
}

// The number text: range(0) picks the values and the format.
//   0  counts, 0 decimals, width 10 (2CL intensities; TXT uses width 7)
//   1  angles as Singles, 3 decimals, width 7 (2CL angles)
//   2  any double from 1e-3 to 1e6, 3 decimals
//   3  wavelengths, 8 decimals, width 10 (TXT header)
void BM_appendFixed(benchmark::State& state)
{
    const int kind = static_cast<int>(state.range(0));
    static constexpr int kDecimals[] = {0, 3, 3, 8};
    static constexpr int kWidth[] = {10, 7, 0, 10};
    std::mt19937_64 gen(20240613u);
    std::vector<double> values(4096);
    for (double& v : values) {
        const double u = static_cast<double>(gen() >> 11) / 9007199254740992.0; // [0, 1)
        switch (kind) {
        case 0: v = static_cast<float>(std::round(u * 200000.0)); break;
        case 1: v = static_cast<float>(5.0 + 120.0 * u); break;
        case 2: v = std::pow(10.0, -3.0 + 9.0 * u); break;
        default: v = 0.5 + 2.0 * u; break;
        }
    }
    std::string out;
    out.reserve(values.size() * 24);
    for (auto _ : state) {
        out.clear();
        for (double v : values)
            appendFixed(out, v, kDecimals[kind], kWidth[kind]);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * values.size()));
}

void BM_Real48_fromValue(benchmark::State& state)
{
    std::mt19937_64 gen(20240614u);
    std::vector<long double> values(4096);
    for (long double& v : values)
        v = static_cast<long double>(gen() % 100000000) / 997.0L;
    std::vector<Real48> out(values.size());
    for (auto _ : state) {
        for (std::size_t i = 0; i < values.size(); ++i)
            out[i] = Real48::fromValue(values[i]);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * values.size()));
}

void BM_Real48_value(benchmark::State& state)
{
    std::mt19937_64 gen(20240615u);
    std::vector<Real48> values(4096);
    for (Real48& v : values)
        v = Real48::fromValue(static_cast<long double>(gen() % 100000000) / 997.0L);
    double sum = 0.0;
    for (auto _ : state) {
        for (const Real48& v : values)
            sum += v.value();
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * values.size()));
}

BENCHMARK(BM_Lect_Dat)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Ecr_DAT)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Lect_CAL)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Ecr_CAL)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Lect_TXT)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Ecr_TXT)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Lect_RAW)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Ecr_RAW)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Ecr_2CL)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_appendFixed)->DenseRange(0, 3)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Real48_fromValue)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Real48_value)->Unit(benchmark::kMicrosecond);

} // namespace
