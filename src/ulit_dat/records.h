// The scan records that every reader and writer exchanges: the scan header, the per-scan record,
// the count block Data and the constant-step description RangeInfo; and the calibration record.
// Plain records: copyable whole, no references inside, zero when default-constructed.
#pragma once

#include "ulit_dat/onebased.h"
#include "ulit_dat/real48.h"
#include "ulit_dat/shortstr.h"

#include <array>
#include <cstdint>

namespace rawdat {

// One capacity for every count array, plotted array and work array: a converted pattern can
// hold more points than the detector has channels, and a RAW2 range up to 32767 steps.
inline constexpr int kDataCapacity = 32767;

using TData = OneBased<std::int32_t, kDataCapacity>;    // counts, entries 1..Size valid
using TSingleArray = OneBased<float, kDataCapacity>;    // TabX, TabY and the converted pattern
using TReal48Array = OneBased<Real48, kDataCapacity>;   // work arrays of the resampler and writers

struct TScanHeader {
    std::int16_t KChannels = 0;
    std::int32_t Size = 0;
    std::int16_t NbScans = 0;
    Text<80> Comment1;
    Text<80> Comment2;
    Text<80> Comment3;
    std::int32_t Extra1 = 0;
    std::int32_t Extra2 = 0;
    std::int32_t Extra3 = 0;
    std::uint8_t ExtraFlag1 = 0;
    std::int32_t Extra4 = 0;
    Text<20> ExtraText20;
    Text<9> ExtraText9;
    Text<20> Date;
    Real48 ExtraReal0;
    std::uint8_t ExtraFlag2 = 0;
    double Wavelength = 0.0;
    Text<9> Voltage;
    Text<9> Current;
    Real48 ExtraReal1;
    Real48 ExtraReal2;
    Real48 ExtraReal3;
    Real48 ExtraReal4;
    Text<255> CalName;
    std::uint8_t ExtraFlag3 = 0;
    std::int16_t ExtraWord1 = 0;
    std::int16_t NbChannels = 0;

    bool operator==(const TScanHeader&) const = default;
};

struct TScanParams {
    std::array<std::int16_t, 7> ScanWords{};
    float AcqTime = 0.0f;
    float Extra20 = 0.0f; // the scan formats copy its 32 bits as they are
    float Theta = 0.0f;
    float Axis1 = 0.0f;
    float Axis2 = 0.0f;
    float Axis3 = 0.0f;
    float Extra40 = 0.0f; // as Extra20
    float Axis4 = 0.0f;
    std::uint32_t Extra48 = 0;
    float Extra52 = 0.0f;
    Text<9> Source;

    bool operator==(const TScanParams&) const = default;
};

struct TRangeInfo {
    float Start = 0.0f; // 2-theta of entry 1 of Data
    float Stop = 0.0f;  // end 2-theta of a DAT conversion; not written to any file
    float Step = 0.0f;
    float StepTime = 0.0f;

    bool operator==(const TRangeInfo&) const = default;
};

inline constexpr int kMaxKnots = 100;

struct TCalibration {
    double CalWavelength = 0.0;
    std::uint32_t CalExtra = 0;
    OneBased<double, 11> PolyCoef;
    std::int16_t SplineFlag = 0; // 0: polynomial; otherwise spline
    std::int16_t KnotCount = 0;
    OneBased<double, kMaxKnots> KnotPos; // channel / 1000
    OneBased<double, kMaxKnots> KnotAngle;
    OneBased<double, kMaxKnots> SplineB;
    OneBased<double, kMaxKnots> SplineC;
    OneBased<double, kMaxKnots> SplineD;

    bool operator==(const TCalibration&) const = default;
};

} // namespace rawdat
