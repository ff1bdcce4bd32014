// TLitdat: the detector-format library. Its operations read and write the detector's files
// (DAT, CAL, TXT, F1B, FDT, DTB, step-scan export) and do the calibration arithmetic (channel to
// 2-theta, constant-step resampling, spline fit). The only state it keeps is the fitted line of
// the last calibration fit, which no conversion reads.
//
// Readers that return a Boolean return false only when their file cannot be opened, and then
// change nothing. Every other failure raises an error (ulit_dat/errors.h).
#pragma once

#include "ulit_dat/records.h"

#include <cstdint>
#include <string>

namespace rawdat {

// a raised to the whole-number power b, with its own rule at a = 0 (see resample.cpp).
double Puissance(double a, double b);

class TLitdat {
public:
    // ---- DAT detector file (dat.cpp) ----
    bool Lect_Dat(const std::string& FileName, TScanHeader& Header, TScanParams& Params, TData& Data);
    void Ecr_DAT(const std::string& FileName, const TScanHeader& Header, const TScanParams& Params,
                 const TData& Data);

    // ---- CAL calibration file (cal.cpp) ----
    bool Lect_CAL(const std::string& FileName, TCalibration& Cal);
    void Ecr_CAL(const std::string& FileName, const TCalibration& Cal);

    // ---- TXT scan file (txt.cpp) ----
    bool Lect_TXT(const std::string& FileName, TScanHeader& Header, TScanParams& Params, TData& Data);
    void Ecr_TXT(const std::string& FileName, const TScanHeader& Header, const TScanParams& Params,
                 const TReal48Array& Values, double Start, double Step, double Stop);

    // ---- channel to angle, resampling, calibration fit (calib.cpp, resample.cpp) ----
    double Degree(const TCalibration& Cal, double Channel) const;
    double GetVal1(const TCalibration& Cal, double X) const;
    // Resamples n measured points (angles, input; entries 1..n) onto start, start + step, ...
    // Writes output entries 1..N+1 and returns N + 1.
    std::int16_t constantstepTransform(std::int16_t n, const TReal48Array& Angles, double Start,
                                       double Stop, double Step, TReal48Array& Output,
                                       const TReal48Array& Input);
    bool MakeCalibration(TCalibration& Cal);
    void FindLinearCoeff(const TCalibration& Cal);

    double LinearSlope = 0.0;
    double LinearOffset = 0.0;

    // ---- F1B, FDT, DTB, step-scan export (f1b.cpp, fdt.cpp, dtb.cpp, maud.cpp) ----
};

} // namespace rawdat
