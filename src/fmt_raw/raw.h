// RAW files of diffractometers: the RAW2 variant read and written, RAW1 and RAW4.00 read.
// (Layout tables: see raw.cpp.)
//
// What the RAW module keeps between calls (RangeInfo, AnodeIndex) lives in one explicit object,
// RawModule, owned by whoever runs the commands.
#pragma once

#include "ulit_dat/binio.h"
#include "ulit_dat/records.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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
// The row of AnodeTable whose K-alpha-1 matches `wavelength` to the thousandth (the last one that
// matches), or 0: the row Ecr_RAW writes.
std::int16_t anodeRow(double wavelength);

// The goniometer positions a RAW2 range carries.
struct TRawPositions {
    float Theta = 0.0f, Axis1 = 0.0f, Axis2 = 0.0f, Axis3 = 0.0f, Axis4 = 0.0f;

    bool operator==(const TRawPositions&) const = default;
};

// One range of a RAW file as Lect_RAW read it.
struct TRawRange {
    TRangeInfo Info;                   // Start, Step and StepTime of the range; Stop 0
    std::vector<std::int32_t> Counts;  // one per step, rounded as Data holds them
    std::optional<TRawPositions> Axes; // RAW2 only: Params.Theta and Axis1..Axis4
    std::vector<float> Intensities = {}; // one per step, the Singles as the file stores them

    std::int32_t Size() const { return static_cast<std::int32_t>(Counts.size()); }
    bool operator==(const TRawRange&) const = default;
};

struct RawModule {
    TRangeInfo RangeInfo;        // the constant-step description of the current scan
    std::int16_t AnodeIndex = 0; // row of AnodeTable chosen by the last Ecr_RAW; 0 = none
    // Every range of the last file Lect_RAW read, in file order, and the index of the one that
    // Header, Params, RangeInfo and Data hold: the last of a RAW2 file, the first of the others.
    std::vector<TRawRange> Ranges;
    std::size_t MainRange = 0;
};

// Reads a RAW2, RAW1 or RAW4.00 file into Header, Params, M.RangeInfo and Data, and every range
// into M.Ranges. The whole file is checked first: a file that does not open or ends too soon
// (InOutError), a file of another kind, more than kRawMaxRanges ranges, a step count beyond Data,
// a RAW4 segment or range that does not fit the file or an intensity that is no 32-bit count
// (Refusal) leave every record and M as they were.
void Lect_RAW(RawModule& M, const std::string& FileName, TScanHeader& Header, TScanParams& Params,
              TData& Data);

// The records of a conversion of range k (an index into M.Ranges) alone, built as Lect_RAW
// builds the main ones: Header.Size, RangeInfo.Start, Step and StepTime, Params.AcqTime (Size x
// StepTime) and, for a RAW2 range, Params.Theta and Axis1..Axis4; Data entries 1..Size. Every
// other field keeps what the caller passes, so give it copies of the records Lect_RAW filled
// (their texts are the same for every range). With k = M.MainRange the records come out as
// Lect_RAW left them.
void RangeRecords(const RawModule& M, std::size_t k, TScanHeader& Header, TScanParams& Params,
                  TRangeInfo& RangeInfo, TData& Data);

// How many ranges a RAW file holds and the index of the main one (see RawModule), found cheaply
// to plan its outputs: from the range count of a RAW2 or RAW1 header, or a walk of a RAW4 file.
// A file that does not open, is no RAW file, or declares more ranges than its size can hold
// gives one range: Lect_RAW refuses such a file before anything is written. A count beyond
// kRawMaxRanges is given as it is, for the planner to refuse the file.
struct TRangeCount {
    std::size_t Count = 1;
    std::size_t Main = 0;
};
TRangeCount RawRangeCount(const std::string& FileName);
// The same from the file's first kRangeCountHead bytes (all of them when it is shorter) and its
// size, for a caller that has read them already.
inline constexpr std::size_t kRangeCountHead = 4096;
TRangeCount RawRangeCount(const std::string& FileName, const Bytes& Head, std::uint64_t FileSize);

// The most ranges a file may hold to be read (real instruments write a handful, and each range
// gives its own output files), and the refusal of a file of more: "300000 ranges; rawdat converts
// at most 256".
inline constexpr std::size_t kRawMaxRanges = 256;
std::string tooManyRanges(std::size_t count);

// The notice of a file of several ranges, one output name per range in file order:
// "3 ranges; NAME.TXT holds range 1, ranges 2 and 3 are in NAME_2.TXT, NAME_3.TXT". Beyond three
// other ranges only the first and the last files are named: "40 ranges; NAME.TXT holds range 1,
// ranges 2 to 40 are in NAME_2.TXT ... NAME_40.TXT". Empty for fewer than two names.
std::string RangesNotice(std::size_t MainRange, const std::vector<std::string>& Names);
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
