// RAW files of diffractometers: the RAW2 variant read and written, RAW1 read.
// (Layout tables: see raw.cpp.)
//
// What the RAW module keeps between calls (RangeInfo, AnodeIndex) lives in one explicit object,
// RawModule, owned by whoever runs the commands.
#pragma once

#include "ulit_dat/binio.h"
#include "ulit_dat/records.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace rawdat {

struct TAnodeLine {
    Text<2> Anode;
    float Alpha1;
    float Alpha2;
    float Ratio;
    float Beta;
};

// Rows 1..6 of the anode table (row 6 carries the copper values under the symbol No).
const TAnodeLine& AnodeTable(int row);

struct RawModule {
    TRangeInfo RangeInfo;      // the constant-step description of the current scan
    std::int16_t AnodeIndex = 0; // row of AnodeTable chosen by the last Ecr_RAW; 0 = none
};

// Reads a RAW2 or RAW1 file into Header, Params, M.RangeInfo and Data. The whole file is checked
// first: a file that does not open or ends too soon (InOutError), a file of another kind, a step
// count beyond Data or an intensity that is no 32-bit count (Refusal) leave every record as it was.
void Lect_RAW(RawModule& M, const std::string& FileName, TScanHeader& Header, TScanParams& Params,
              TData& Data);
// Writes one RAW2 file of one range from Header, M.RangeInfo (Start, Step) and Data 1..Size, and
// sets M.AnodeIndex (0 when no row matches the wavelength). A Size beyond Data is refused.
void Ecr_RAW(RawModule& M, const std::string& FileName, const TScanHeader& Header, const TData& Data);
// The bytes Ecr_RAW writes to FileName (its name field holds FileName), with the same refusal and
// the same choice of M.AnodeIndex.
Bytes rawBytes(RawModule& M, const std::string& FileName, const TScanHeader& Header, const TData& Data);
// The largest RAW file read.
inline constexpr std::uint64_t kRawMaxSize = 64u << 20;
// "12/03/98 14:25:36" -> "  12-Mar-98 1 " (the writer keeps the first 11 characters); an empty
// text gives an empty result (a date field of zero bytes).
std::string Conv_Date(std::string_view Text);

} // namespace rawdat
