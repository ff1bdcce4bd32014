// Inputs of the benchmarks, generated from fixed seeds: a detector scan of 8192 channels with its
// spline calibration, a RAW2 scan of 8000 steps, and a scratch folder for the files they write.
#pragma once

#include "fmt_raw/raw.h"
#include "ulit_dat/litdat.h"

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <unistd.h>

namespace rawdat::bench {

inline constexpr int kChannels = 8192;
inline constexpr int kRawSteps = 8000;

// A fresh folder, removed with its files at the end. "memory" puts it on tmpfs (/dev/shm) when
// the system has one, so that the figures are the program's work and the kernel's copying;
// "files" puts it in the current folder, on whatever disk that is.
class ScratchDir {
public:
    explicit ScratchDir(bool inMemory)
    {
        namespace fs = std::filesystem;
        const fs::path base = inMemory && fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::current_path();
        path_ = base / ("rawdat-bench-" + std::to_string(::getpid()) + (inMemory ? "-mem" : "-files"));
        fs::create_directories(path_);
    }
    ~ScratchDir()
    {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    std::string file(const std::string& name) const { return (path_ / name).string(); }
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// Peaks on a falling background with counting noise, from the generator's raw output.
inline double patternCounts(double tt, std::mt19937& gen)
{
    double y = 150.0 + 1200.0 * std::exp(-tt / 12.0);
    for (int i = 0; i < 16; ++i) {
        const double x = (tt - (12.0 + 7.5 * i)) / (0.03 + 0.00075 * tt);
        y += (2000.0 + 3000.0 * i) * (0.6 * std::exp(-0.6931 * x * x) + 0.4 / (1.0 + x * x));
    }
    const double noise = (static_cast<double>(gen()) / 4294967296.0 - 0.5) * 2.0 * std::sqrt(y);
    return std::max(0.0, std::round(y + noise));
}

inline double detectorAngle(double channel)
{
    const double u = channel - 4096.0;
    return 65.0 + 0.01465 * u - 6.0e-9 * u * u + 2.0e-13 * u * u * u;
}

inline TCalibration detectorCalibration()
{
    TCalibration cal;
    cal.CalWavelength = 1.54056;
    cal.SplineFlag = 1;
    cal.KnotCount = 24;
    for (int i = 1; i <= 24; ++i) {
        const double channel = 1.0 + (kChannels - 1.0) * (i - 1) / 23.0;
        cal.KnotPos[i] = channel / 1000.0;
        cal.KnotAngle[i] = detectorAngle(channel);
    }
    TLitdat().MakeCalibration(cal);
    return cal;
}

struct Scan {
    TScanHeader header;
    TScanParams params;
    TData data;
};

// 8192 detector channels, CalName "BENCH".
inline std::unique_ptr<Scan> detectorScan()
{
    auto s = std::make_unique<Scan>();
    s->header.Size = kChannels;
    s->header.Date = "14/05/24 09:30:00   ";
    s->header.Comment1 = "benchmark pattern";
    s->header.CalName = "BENCH    ";
    s->header.Voltage = "40 kV    ";
    s->header.Current = "30 mA    ";
    s->header.Wavelength = 1.54056;
    s->params.AcqTime = 300.0f;
    std::mt19937 gen(20240611u);
    for (int ch = 1; ch <= kChannels; ++ch)
        s->data[ch] = static_cast<std::int32_t>(patternCounts(detectorAngle(ch), gen));
    return s;
}

// 8000 steps from 5 degrees by 0.015.
inline std::unique_ptr<Scan> rawScan(RawModule& m)
{
    auto s = std::make_unique<Scan>();
    s->header.Size = kRawSteps;
    s->header.Date = "14/05/24 11:05:10";
    s->header.Comment1 = "benchmark scan";
    s->header.Wavelength = 1.54056;
    m.RangeInfo = {5.0f, 0.0f, 0.015f, 1.0f};
    std::mt19937 gen(20240612u);
    for (int i = 1; i <= kRawSteps; ++i)
        s->data[i] = static_cast<std::int32_t>(patternCounts(5.0 + 0.015 * (i - 1), gen));
    return s;
}

} // namespace rawdat::bench
