// Text exports of a converted pattern for refinement and analysis programs: `.xy` (2-theta and
// intensity), `.xye` (with the standard uncertainty) and CSV. The functions build the bytes; the
// caller writes them through the file layer with its other outputs.
//
// .xy / .xye, LF line ends, a point as decimal separator whatever the locale:
//   # rawdat 0.2.0                           program and version
//   # source: S1.DAT                         the input's file name, without its folder
//   # wavelength (Angstrom): 1.540560        when the header holds a positive wavelength
//   # date: 12/03/98 14:25:36                when the header's date is not blank
//   # sample: Si standard                    when the header's sample text is not blank
//   # step (deg): 0.0105203                  the stored step, every digit it holds
//   # points: 930
//   11.200000 283.769                        2-theta (6 decimals), intensity
//   11.220000 100 10.0000                    .xye: and sqrt(max(intensity, 1)), 4 decimals
// CSV: the row `two_theta_deg,intensity_counts,sigma_counts`, then one row per point with the
// numbers of the .xye line.
//
// Each intensity is the shortest decimal that reads back as the stored Single, without exponent;
// an integer has no decimal point. A RAW file's exports hold its intensities as the file stores
// them (283.769 stays 283.769); a DAT file's hold the 2CL's integers. 2-theta is start + (i - 1) * step in
// double precision, with the stored Singles start and step read as the decimals they were
// written as (their shortest round-trip text: the Single 0.02f is 0.02): the grid is exact to
// the printed decimals, and to the 2CL's 3 decimals.
#pragma once

#include "ulit_dat/dates.h"
#include "ulit_dat/records.h"

#include <string>
#include <string_view>
#include <vector>

namespace rawdat {

// Instprm: the GSAS-II instrument parameter file NAME.instprm that goes with the .xye:
//   #GSAS-II instrument parameter file; do not add/delete items!
//   # written by rawdat 0.2.0 for S1.DAT
//   Type:PXC
//   Bank:1.0
//   Lam1:1.54056                 the anode's lines when the wavelength is one of AnodeTable's
//   Lam2:1.54439                 K-alpha-1 (as Ecr_RAW chooses the row); otherwise one line,
//                                Lam: the wavelength
//   Zero:0.0
//   # (two comment lines: the profile terms are GSAS-II's laboratory defaults)
//   Polariz.:0.7  Azimuth:0.0  U:2.0  V:-2.0  W:5.0  X:0.0  Y:0.0  Z:0.0  SH/L:0.002, a line each
//   I(L2)/I(L1):0.5              the anode's ratio, with Lam1 and Lam2 only
enum class XyFormat { Xy, Xye, Csv, Instprm };

// The pattern of one export, taken from the records of a conversion.
struct XyPattern {
    std::string Program = "rawdat " RAWDAT_VERSION;
    std::string Source;           // the input's file name without its folder
    double Wavelength = 0.0;      // angstroms; no line unless positive and finite
    std::string Date;             // UTF-8, see headerText; no line when empty
    std::string DateIso;          // Date in ISO 8601 when it can be read, written before it
    std::string Sample;           // as Date
    float Start = 0.0f;           // 2-theta of point 1, as RangeInfo stores it
    float Step = 0.0f;            // as RangeInfo stores it
    std::vector<float> Intensity; // point 1 first: a RAW file's Singles, a DAT file's 2CL integers
};

// The bytes of the file of `pattern` in `format`. Instprm needs a wavelength: without one
// (instprmWavelengths false) it throws std::invalid_argument.
std::string xyFileText(const XyPattern& pattern, XyFormat format);

// The wavelengths of an instrument parameter file as their texts: Lam1 alone (Lam2 and Ratio
// empty) when only the wavelength is known. False when the pattern has no positive wavelength.
struct XyWavelengths {
    std::string Lam1, Lam2, Ratio;
};
bool instprmWavelengths(const XyPattern& pattern, XyWavelengths& wavelengths);
std::string instprmText(const XyPattern& pattern);

// The extension of a format, without the dot: "xy", "xye", "csv", "instprm".
const char* xyExtension(XyFormat format);

// The list of `--also`: words of xy, xye, csv and instprm separated by commas, in any order and
// any case, repeats allowed. Returns each format once, in the order xy, xye, csv, instprm. An
// empty list, an empty word or an unknown word throws std::invalid_argument with the text to show.
std::vector<XyFormat> parseXyFormats(std::string_view list);

// A text of a binary header for a comment line: every byte below 32 and DEL become spaces,
// leading and trailing spaces go, and the Windows-1252 bytes are written as UTF-8.
std::string headerText(std::string_view windows1252);

// The pattern of a conversion: `source` is the input's path (either separator); the wavelength
// and date come from `header`; `sample` is the header text that names the sample; `range` gives
// Start and Step; Y[1..n] are the intensities handed to Ecr_2CL; `order` is that of the
// source's numeric dates (day first in DAT files, month first in RAW files).
XyPattern xyPattern(std::string_view source, const TScanHeader& header, DateOrder order, std::string_view sample,
                    const TRangeInfo& range, const TSingleArray& Y, int n);

} // namespace rawdat
