// TLitdat: the detector-format library. Its operations read and write the detector's files
// (DAT, CAL, TXT, F1B, FDT, DTB, step-scan export) and do the calibration arithmetic (channel to
// 2-theta, constant-step resampling, spline fit). The only state it keeps is the fitted line of
// the last calibration fit, which no conversion reads.
//
// Readers that return a Boolean return false only when their file cannot be opened, and then
// change nothing. Every other failure raises an error (ulit_dat/errors.h).
#pragma once

#include "ulit_dat/binio.h"
#include "ulit_dat/fsio.h"
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
    // The largest DAT file: a header and every whole block of 32 channels that Data holds.
    static const std::uint64_t kDatMaxSize;
    // The calibration name of a DAT file (header characters 330..338) from its first bytes;
    // empty when they are too few.
    static std::string datCalName(const Bytes& head);

    // ---- CAL calibration file (cal.cpp) ----
    bool Lect_CAL(const std::string& FileName, TCalibration& Cal);
    void Ecr_CAL(const std::string& FileName, const TCalibration& Cal);
    // The bytes Ecr_CAL writes.
    Bytes calBytes(const TCalibration& Cal) const;
    // The largest CAL file (a spline calibration).
    static constexpr std::uint64_t kCalMaxSize = 4172;

    // ---- TXT scan file (txt.cpp) ----
    bool Lect_TXT(const std::string& FileName, TScanHeader& Header, TScanParams& Params, TData& Data);
    void Ecr_TXT(const std::string& FileName, const TScanHeader& Header, const TScanParams& Params,
                 const TReal48Array& Values, double Start, double Step, double Stop);
    // The text Ecr_TXT writes (FileName only names the file in a refusal).
    std::string txtBytes(const std::string& FileName, const TScanHeader& Header, const TScanParams& Params,
                         const TReal48Array& Values, double Start, double Step, double Stop) const;

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
    // Their own types come from ulit_dat/binio.h (ByteReader) and ulit_dat/dtb.h (TDtbHeader,
    // TDtbEntries). Refusals of content raise Refusal naming the file.

    // Converts an F1B file and its scan parameter file into NAME.fdt (header and every scan) and
    // NAME.cal (f1bOutputs in f1b.h), put in place together, the calibration last. Leaves Params,
    // Header and Data as filled for the last scan, and Cal as the straight-line calibration
    // written. With Placement NoClobber no existing file is replaced: the commit raises
    // fsio::TargetExists and nothing is written.
    void lect_F1B(const std::string& ParamFileName, const std::string& F1BFileName,
                  TScanParams& Params, TScanHeader& Header, TData& Data, TCalibration& Cal,
                  fsio::OutputGroup::Placement Placement = fsio::OutputGroup::Placement::Replace);
    // The next line of a text file held in memory: the bytes up to a line feed (a carriage return
    // before it stays in the line). The end of the bytes and a byte 26 end the last line; the
    // reader then stays there.
    static void lit_ligne(class ByteReader& File, std::string& Line);

    // Creates (or replaces) an FDT file with its header area; first pads Header.CalName with
    // blanks to 255 characters.
    void writeInitFDT(const std::string& FileName, TScanHeader& Header);
    // Writes scan record ScanNumber (from 1) into an existing FDT file, in place.
    void EcrScanFDT(std::int32_t ScanNumber, const std::string& FileName, const TScanParams& Params,
                    const TScanHeader& Header, const TData& Data);
    // Reads the header (when ReadHeader) and scan ScanNumber if it lies in 1..NbScans; true when
    // a scan was read. Reading a scan clears every entry of Data first.
    bool LoadScanFDT(std::int32_t ScanNumber, const std::string& FileName, bool ReadHeader,
                     TScanParams& Params, TScanHeader& Header, TData& Data);

    // Reads a DTB file; true whenever it returns.
    bool Lect_DTB(const std::string& FileName, struct TDtbHeader& Header, class TDtbEntries& Entries);

    // Writes the step-scan text export of Values over Start, Start + Step, ... up to Stop. With
    // Placement NoClobber an existing file is never replaced (fsio::TargetExists).
    void Ecr_MAUD(const std::string& FileName, const TScanHeader& Header, const TScanParams& Params,
                  const TReal48Array& Values, double Start, double Step, double Stop,
                  fsio::OutputGroup::Placement Placement = fsio::OutputGroup::Placement::Replace);
};

} // namespace rawdat
