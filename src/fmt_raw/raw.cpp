// RAW files of diffractometers: RAW2 read and written, RAW1 read.
//
// All numbers little-endian; Single/Double are IEEE floats; text has no length byte.
//
// RAW2 file header, 256 bytes
//   off  size  type    written here                            taken by the reader
//     0     4  text    "RAW2"                                  variant
//     4     2  int16   1                                       number of ranges R
//     6     2  int16   0                                       -
//     8    32  text    the RAW file's path, space-padded       Comment1 = "RAW2" + name
//    40   128  text    the three comment lines                 Comment2, Comment3
//   168    11  text    date, from Conv_Date                    Date, characters 1..11
//   179     9  text    time: 8 characters, zero-filled         Date, characters 12..20
//   188     2  text    anode symbol                            -
//   190     4  Single  K-alpha-1 of the anode                  Wavelength
//   194     4  Single  K-alpha-2 of the anode                  -
//   198     4  Single  K-alpha-2 / K-alpha-1 ratio             -
//   202     2  -       zero bytes                              -
//   204     2  int16   0                                       -
//   206     4  Single  0                                       -
//   210     4  Single  -1000000                                -
//   214     8  Double  0                                       -
//   222    34  -       zero bytes                              -
//
// RAW2 range: the first at 256, each next one right after the data of the one before.
// Offsets from the start of the range.
//     0     2  uint16  header length H: 58                     where the data starts (>= 58)
//     2     2  int16   steps n: low 16 bits of Size            Size
//     4     2  int16   10                                      -
//     6     2  int16   0                                       -
//     8     4  Single  1.0                                     RangeInfo.StepTime
//    12     4  Single  RangeInfo.Step                          RangeInfo.Step
//    16     4  Single  RangeInfo.Start                         RangeInfo.Start
//    20     4  Single  RangeInfo.Start / 2                     Params.Theta
//    24     4  Single  -1000000                                Params.Axis1
//    28     4  Single  -1000000                                Params.Axis4
//    32     4  Single  -1000000                                Params.Axis2
//    36     4  Single  -1000000                                Params.Axis3
//    40     2  16-bit  0x8000, 0x8000, 0x8000, 0xFFFF, 0       -
//    50     4  Single  0                                       -
//    54     4  Single  0                                       -
//     H    4n  Single  intensities, step 1 first               Data 1..n, rounded
// Earlier converters wrote H = 60 over a 58-byte header: a one-range file of exactly
// 256 + 58 + 4n bytes whose H is 60 has its data at 58.
//
// RAW1 (the "RAW1.01" files), read only; offsets from the start of the file
//     0     4  text    "RAW1"                                  variant
//     4     8  -       file header fields                      -
//    12     4  int32   number of ranges R                      (one range when R < 1)
//    16    10  text    date, to its first zero byte            Date, then one space
//    26    10  text    time, to its first zero byte            Date, padded to 20
//    36   290  -       user, site                              -
//   326    60  text    sample identification                   Comment2, padded to 80
//   386   160  text    comment                                 Comment3, its first 80
//   546    78  -       instrument fields                       -
//   624     8  Double  K-alpha-1                               Wavelength
//   632    80  -       more file header fields                 -
// RAW1 range: the first at 712, each next one right after the data of the one before.
// Offsets from the start of the range (the file offsets of the first range in brackets).
//     0     4  int32   length of the range header (304)        -
//     4     4  int32   steps n                          (716)  Size
//     8     8  Double  start theta                      (720)  -
//    16     8  Double  start 2-theta                    (728)  RangeInfo.Start
//    24   152  -       goniometer and detector fields          -
//   176     8  Double  step                             (888)  RangeInfo.Step
//   184     8  Double  -                                       -
//   192     4  Single  time per step                    (904)  RangeInfo.StepTime
//   196    60  -       more range fields                       -
//   256     4  int32   length E of the supplementary header (968)  where the data starts
//   260    44  -       more range fields                       -
//   304     E  -       supplementary header (when E > 0)       -
//   304+E  4n  Single  intensities, step 1 first      (1016+E) Data 1..n, rounded
//
// RAW4 (the "RAW4.00" files), read only; offsets from the start of the file
//     0     7  text    "RAW4.00"                               variant
//     7     5  -       -                                       -
//    12    12  text    date, to its first zero byte            Date, then one space
//    24    10  text    time, to its first zero byte            Date, padded to 20
//    34    27  -       -                                       -
//    61        segments, one after another, up to the first range
// Segment; offsets from its start
//     0     4  uint32  kind K (0 or 160: not a segment, a range starts here)
//     4     4  uint32  length L of the whole segment (>= 8)
//   K = 10, a named text (L >= 36):
//    12    24  text    name, to its first zero byte: "SAMPLEID", "COMMENT", ...
//    36  L-36  text    value, to its first zero byte           SAMPLEID: Comment2 (80)
//                                                              COMMENT: Comment3, its first 80
//   K = 30, the X-ray source (L >= 88):
//    80     8  Double  K-alpha-1                               Wavelength
//   other kinds: skipped
// RAW4 range, 160-byte header; each next range right after the data of the one before, the
// last one ends the file. Offsets from the start of the range.
//     0     4  uint32  kind: 0 or 160                          -
//    32    24  text    scan type ("Locked Coupled", ...)       -
//    72     8  Double  start 2-theta                           RangeInfo.Start
//    80     8  Double  step                                    RangeInfo.Step
//    88     4  uint32  steps n                                 Size
//    92     4  Single  time per step                           RangeInfo.StepTime
//   136     4  uint32  record size D of one step (>= 4)        -
//   140     4  uint32  length S of the drive descriptions      -
//   160     S  -       drive descriptions                      -
//   160+S  nD  records, step 1 first: a Single intensity,      Data 1..n, rounded
//              then D - 4 bytes                                -
#include "fmt_raw/raw.h"

#include "ulit_dat/binio.h"
#include "ulit_dat/errors.h"
#include "ulit_dat/fsio.h"
#include "ulit_dat/numtext.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <vector>

namespace rawdat {

namespace {

constexpr std::size_t kRaw2HeaderSize = 256;
constexpr std::uint16_t kRaw2RangeHeaderSize = 58;
constexpr std::uint16_t kLegacyRangeHeaderField = 60;
constexpr std::size_t kRaw1RangesStart = 712;
constexpr std::size_t kRaw1RangeHeaderSize = 304;
constexpr std::size_t kRaw4SegmentsStart = 61;
constexpr std::uint32_t kRaw4RangeHeaderSize = 160;
constexpr float kUnusedAxis = -1000000.0f;

// ---- numbers ----

// A double stored into a Single; a magnitude that rounds beyond the largest Single overflows.
float toSingle(long double v)
{
    // Halfway between the largest Single and 2^128: from there on, rounding gives infinity.
    constexpr long double kLimit = 0x1.ffffffp127L;
    if (std::isfinite(v) && std::fabs(v) >= kLimit)
        throw FloatError(FloatError::Kind::Overflow);
    return static_cast<float>(v);
}

// Rounds to the nearest integer, halves to even, whatever the rounding mode. x is finite.
double roundHalfEven(double x)
{
    const double low = std::floor(x);
    const double frac = x - low; // exact
    if (frac > 0.5)
        return low + 1.0;
    if (frac < 0.5)
        return low;
    return std::fmod(low, 2.0) == 0.0 ? low : low + 1.0;
}

// An intensity as the count Data holds, or a refusal naming the range and the step.
std::int32_t countOf(float intensity, const std::string& file, int range, int step)
{
    const auto where = [&] { return "range " + intText(range) + ", step " + intText(step) + ": "; };
    if (std::isnan(intensity))
        throw Refusal(file, where() + "the intensity is not a number");
    if (std::isinf(intensity))
        throw Refusal(file, where() + "the intensity is infinite");
    const double r = roundHalfEven(intensity);
    if (r < -2147483648.0 || r > 2147483647.0)
        throw Refusal(file, where() + "the intensity " + fixedText(intensity, 0) +
                                " does not fit a 32-bit count");
    return static_cast<std::int32_t>(r);
}

// ---- reading: the whole file is checked before the caller's records change ----

struct ParsedRaw {
    std::string Comment1;
    std::string Comment2, Comment3, Date;
    double Wavelength = 1.54056; // RAW4 files without an X-ray source section keep the default
    std::vector<TRawRange> Ranges; // in file order
    std::size_t MainRange = 0;
    // RAW4 only: the walk over the range headers, their counts not read, and the size of the
    // whole file when the bytes parsed are its head.
    bool RangesOnly = false;
    std::uint64_t FileSize = 0;
};

// Bytes below 32 of a text taken from a binary header become spaces.
std::string printable(std::string_view s)
{
    std::string out(s);
    for (char& c : out)
        if (static_cast<unsigned char>(c) < 32)
            c = ' ';
    return out;
}

// A text field: up to its first zero byte, printable.
std::string fieldText(std::string_view field)
{
    return printable(field.substr(0, field.find('\0')));
}

// Text padded with `pad`, or cut, to exactly n characters.
std::string fitted(std::string s, std::size_t n, char pad)
{
    s.resize(n, pad);
    return s;
}

// The Date of the RAW1 and RAW4 headers: date, one space, time, in 20 characters.
std::string dateAndTime(std::string_view date, std::string_view time)
{
    return fitted(fieldText(date) + ' ' + fieldText(time), 20, ' ');
}

std::string at(std::size_t offset) { return "at offset " + intText(static_cast<std::int64_t>(offset)); }

// Checks a declared step count against what Data holds.
std::int32_t checkedSteps(std::int64_t steps, const std::string& file, int range)
{
    if (steps < 0)
        throw Refusal(file, "range " + intText(range) + " declares a negative step count (" +
                                intText(steps) + ")");
    if (steps > kDataCapacity)
        throw Refusal(file, "range " + intText(range) + " declares " + intText(steps) +
                                " steps, more than the " + intText(kDataCapacity) +
                                " that Data holds");
    return static_cast<std::int32_t>(steps);
}

// Reads n records of `stride` bytes at the reader's offset, each beginning with a Single
// intensity, into the range's counts and its intensities as stored; the bytes are checked before
// any is taken.
void readCounts(ByteReader& in, TRawRange& range, std::int32_t n, int r, std::size_t stride = 4)
{
    const auto count = static_cast<std::size_t>(n);
    const std::uint8_t* p = in.peek(count * stride);
    range.Counts.resize(count);
    range.Intensities.resize(count);
    for (std::size_t i = 0; i < count; ++i) {
        float v;
        std::memcpy(&v, p + stride * i, 4);
        range.Counts[i] = countOf(v, in.file(), r, static_cast<int>(i) + 1);
        range.Intensities[i] = v;
    }
    in.skip(count * stride);
}

void parseRaw2(ByteReader& in, ParsedRaw& raw)
{
    const std::int16_t rangeCount = in.i16();                  // 4
    in.skip(2);                                                // 6
    raw.Comment1 = fitted(printable(raw.Comment1 + std::string(in.chars(32))), 80, ' '); // 8
    std::string comment = printable(in.chars(128));            // 40
    comment.append(184, ' ');
    raw.Comment2 = comment.substr(0, 80);
    raw.Comment3 = comment.substr(80, 80);
    std::string date(in.chars(11));                            // 168
    date += in.chars(9);                                       // 179
    raw.Date = printable(date);
    in.skip(2);                                                // 188 anode
    raw.Wavelength = in.f32();                                 // 190
    in.seek(kRaw2HeaderSize);
    // A file without ranges holds no pattern: reading it would leave the previous scan's.
    if (rangeCount < 1)
        throw Refusal(in.file(), "declares no range (range count " + intText(rangeCount) + ")");

    for (int r = 1; r <= rangeCount; ++r) {
        const std::size_t start = in.offset();
        const std::uint16_t headerLength = in.u16();           // +0
        if (headerLength < kRaw2RangeHeaderSize)
            throw Refusal(in.file(), "range " + intText(r) + " declares a header of " +
                                         intText(headerLength) + " bytes, shorter than the " +
                                         intText(kRaw2RangeHeaderSize) + " bytes of its fields");
        const std::uint16_t stepField = in.u16();              // +2
        // The count is a signed 16-bit field; 32768 and above read as negative counts.
        const std::int32_t steps = checkedSteps(
            stepField > 0x7FFF ? static_cast<std::int32_t>(stepField) - 0x10000 : stepField,
            in.file(), r);
        TRawRange range;
        in.skip(4);                                            // +4
        range.Info.StepTime = in.f32();                        // +8
        range.Info.Step = in.f32();                            // +12
        range.Info.Start = in.f32();                           // +16
        TRawPositions axes;
        axes.Theta = in.f32();                                 // +20
        axes.Axis1 = in.f32();                                 // +24
        axes.Axis4 = in.f32();                                 // +28
        axes.Axis2 = in.f32();                                 // +32
        axes.Axis3 = in.f32();                                 // +36
        range.Axes = axes;
        const bool legacy = headerLength == kLegacyRangeHeaderField && rangeCount == 1 &&
                            in.size() == kRaw2HeaderSize + kRaw2RangeHeaderSize +
                                             4 * static_cast<std::size_t>(steps);
        in.seek(start + (legacy ? kRaw2RangeHeaderSize : headerLength));
        readCounts(in, range, steps, r);                    // +H
        raw.Ranges.push_back(std::move(range));
    }
    raw.MainRange = raw.Ranges.size() - 1;
}

void parseRaw1(ByteReader& in, ParsedRaw& raw)
{
    in.seek(12);
    const std::int32_t rangeCount = in.i32();                  // 12
    const std::string_view date = in.chars(10);                // 16
    raw.Date = dateAndTime(date, in.chars(10));                // 26
    in.seek(326);
    raw.Comment2 = fitted(fieldText(in.chars(60)), 80, ' ');   // 326
    raw.Comment3 = fitted(fieldText(in.chars(160)), 80, ' ');  // 386
    in.seek(624);
    raw.Wavelength = in.f64();                                 // 624
    in.seek(kRaw1RangesStart);
    for (int r = 1; r <= std::max(rangeCount, 1); ++r) {
        const std::size_t start = in.offset();
        TRawRange range;
        in.skip(4);                                            // +0
        const std::int32_t steps = checkedSteps(in.i32(), in.file(), r); // +4
        range.Info.Start = toSingle(in.f64());                 // +8, replaced at once
        range.Info.Start = toSingle(in.f64());                 // +16
        in.seek(start + 176);
        range.Info.Step = toSingle(in.f64());                  // +176
        in.skip(8);                                            // +184
        range.Info.StepTime = in.f32();                        // +192
        in.seek(start + 256);
        const std::int32_t extra = in.i32();                   // +256
        in.seek(start + kRaw1RangeHeaderSize);
        if (extra > 0)
            in.skip(static_cast<std::size_t>(extra));          // +304
        readCounts(in, range, steps, r);                    // +304 + E
        raw.Ranges.push_back(std::move(range));
    }
}

// A RAW4 length that runs past the end of the file; `declared` says who declares what.
void checkFits(const ByteReader& in, std::uint64_t size, std::size_t from, std::uint64_t length,
               const std::string& declared)
{
    if (length > size - from)
        throw Refusal(in.file(), declared + ", beyond the end of the file (" +
                                     intText(static_cast<std::int64_t>(size)) + " bytes)");
}

bool isRaw4Range(std::uint32_t kind) { return kind == 0 || kind == kRaw4RangeHeaderSize; }

void parseRaw4(ByteReader& in, ParsedRaw& raw)
{
    in.seek(12);
    const std::string_view date = in.chars(12);                // 12
    raw.Date = dateAndTime(date, in.chars(10));                // 24
    raw.Comment2 = std::string(80, ' ');
    raw.Comment3 = std::string(80, ' ');
    in.seek(kRaw4SegmentsStart);

    // Segments up to the first range.
    for (;;) {
        if (in.offset() == raw.FileSize)
            throw Refusal(in.file(), "holds no range: its segments reach the end of the file (" +
                                         intText(static_cast<std::int64_t>(raw.FileSize)) + " bytes)");
        const std::size_t start = in.offset();
        const std::uint32_t kind = in.u32();                   // +0
        if (isRaw4Range(kind))
            break;
        const std::uint32_t length = in.u32();                 // +4
        const std::size_t least = kind == 10 ? 36 : kind == 30 ? 88 : 8;
        const std::string segment =
            "the segment of kind " + intText(kind) + " " + at(start) + " declares " + intText(length);
        if (length < least)
            throw Refusal(in.file(), segment + " bytes, fewer than the " +
                                         intText(static_cast<std::int64_t>(least)) + " of its fields");
        checkFits(in, raw.FileSize, start, length, segment + " bytes");
        if (kind == 10) {
            in.skip(4);                                        // +8
            const std::string name = fieldText(in.chars(24));  // +12
            const std::string value = fieldText(in.chars(length - 36)); // +36
            if (name == "SAMPLEID")
                raw.Comment2 = fitted(value, 80, ' ');
            else if (name == "COMMENT")
                raw.Comment3 = fitted(value, 80, ' ');
        } else if (kind == 30) {
            in.seek(start + 80);
            raw.Wavelength = in.f64();                         // +80
        }
        in.seek(start + length);
    }

    // Ranges to the end of the file.
    for (int r = 1;; ++r) {
        const std::size_t start = in.offset() - 4;
        const auto where = [&] { return "range " + intText(r) + " " + at(start); };
        TRawRange range;
        in.seek(start + 72);
        range.Info.Start = toSingle(in.f64());                 // +72
        range.Info.Step = toSingle(in.f64());                  // +80
        const std::uint32_t stepField = in.u32();              // +88
        range.Info.StepTime = in.f32();                        // +92
        in.seek(start + 136);
        const std::uint32_t recordSize = in.u32();             // +136
        const std::uint32_t drives = in.u32();                 // +140
        in.seek(start + kRaw4RangeHeaderSize);
        const std::int32_t steps = checkedSteps(stepField, in.file(), r);
        if (recordSize < 4)
            throw Refusal(in.file(), where() + " declares records of " + intText(recordSize) +
                                         " bytes per step, fewer than the 4 of an intensity");
        checkFits(in, raw.FileSize, in.offset(), drives,
                  where() + " declares " + intText(drives) + " bytes of drive descriptions");
        in.skip(drives);                                       // +160
        const std::uint64_t records = std::uint64_t{recordSize} * static_cast<std::uint64_t>(steps);
        checkFits(in, raw.FileSize, in.offset(), records,
                  where() + " declares " + intText(steps) + " steps of " + intText(recordSize) + " bytes");
        const std::uint64_t end = in.offset() + records;
        // Past the most ranges read, the walk only counts them for the refusal.
        if (!raw.RangesOnly && raw.Ranges.size() < kRawMaxRanges)
            readCounts(in, range, steps, r, recordSize);    // +160 + S
        raw.Ranges.push_back(std::move(range));
        if (end == raw.FileSize)
            break;
        in.seek(static_cast<std::size_t>(end));
        const std::uint32_t next = in.u32();
        if (!isRaw4Range(next))
            throw Refusal(in.file(), "unknown range kind " + intText(next) + " " + at(in.offset() - 4));
    }
}

// `fileSize`: walk over the ranges of a RAW4 file whose head (or whole) is `bytes`, without
// their counts; a walk that needs bytes beyond the head raises InOutError.
ParsedRaw parseRaw(const Bytes& bytes, const std::string& file, std::optional<std::uint64_t> fileSize = {})
{
    ByteReader in(bytes, file);
    ParsedRaw raw;
    raw.RangesOnly = fileSize.has_value();
    raw.FileSize = fileSize.value_or(bytes.size());
    raw.Comment1 = in.chars(4);                                // 0
    if (raw.Comment1 == "RAW2") {
        parseRaw2(in, raw);
    } else if (raw.Comment1 == "RAW1") {
        parseRaw1(in, raw);
    } else if (raw.Comment1 == "RAW4" && in.chars(3) == ".00") {
        parseRaw4(in, raw);
    } else if (raw.Comment1 == "RAW ") {
        throw Refusal(file, "RAW files of the first variant (\"RAW \") are not read");
    } else {
        throw Refusal(file, "not a RAW file: it begins with none of \"RAW2\", \"RAW1\" and \"RAW4.00\"");
    }
    for (std::size_t r = 0; r < raw.Ranges.size(); ++r) {
        const TRangeInfo& info = raw.Ranges[r].Info;
        if (!std::isfinite(info.Start) || !std::isfinite(info.Step))
            throw Refusal(file, "range " + intText(static_cast<std::int64_t>(r + 1)) +
                                    ": its start or step angle is not a finite number");
    }
    return raw;
}

// Header.Size, RangeInfo, the RAW2 positions and Data 1..Size from one range.
void applyRange(const TRawRange& range, TScanHeader& Header, TScanParams& Params, TRangeInfo& RangeInfo,
                TData& Data)
{
    Header.Size = range.Size();
    RangeInfo.Start = range.Info.Start;
    RangeInfo.Step = range.Info.Step;
    RangeInfo.StepTime = range.Info.StepTime;
    if (range.Axes) {
        Params.Theta = range.Axes->Theta;
        Params.Axis1 = range.Axes->Axis1;
        Params.Axis2 = range.Axes->Axis2;
        Params.Axis3 = range.Axes->Axis3;
        Params.Axis4 = range.Axes->Axis4;
    }
    std::copy(range.Counts.begin(), range.Counts.end(), Data.first());
}

void setAcqTime(const TScanHeader& Header, const TRangeInfo& RangeInfo, TScanParams& Params)
{
    Params.AcqTime = static_cast<float>(static_cast<long double>(Header.Size) * RangeInfo.StepTime);
}

void setReaderDefaults(TScanHeader& h)
{
    h.KChannels = 3;
    h.NbScans = 1;
    h.Extra1 = 0;
    h.Extra2 = 0;
    h.Extra3 = 0;
    h.ExtraFlag1 = 0;
    h.Extra4 = 1;
    h.ExtraText20 = std::string(20, ' ');
    h.ExtraText9 = std::string(9, ' ');
    h.ExtraReal0 = Real48();
    h.ExtraFlag2 = 0;
    h.Voltage = "000000000";
    h.Current = "000000000";
    h.Wavelength = 1.54056;
    h.ExtraReal1 = Real48();
    h.ExtraReal2 = Real48();
    h.ExtraReal3 = Real48();
    h.ExtraReal4 = Real48();
    h.CalName = "None";
    h.ExtraFlag3 = 1;
    h.ExtraWord1 = 1;
    h.NbChannels = 4096;
}

// ---- writing ----

// The comment text without its control characters (codes 0 to 31).
void appendPrintable(std::string& out, std::string_view s)
{
    for (char c : s)
        if (static_cast<unsigned char>(c) >= 32)
            out += c;
}

// The time: the (up to) 8 characters after the date word and the blanks that follow it. A text
// without them gives the 8 before its last character, or the first 8 of a shorter text.
std::string timeText(std::string_view date)
{
    const std::size_t word = date.find_first_not_of(' ');
    const std::size_t gap = word == std::string_view::npos ? word : date.find(' ', word);
    const std::size_t time = gap == std::string_view::npos ? gap : date.find_first_not_of(' ', gap);
    if (time != std::string_view::npos)
        return std::string(date.substr(time, 8));
    if (date.size() < 9)
        return std::string(date.substr(0, 8));
    return std::string(date.substr(date.size() - 9, 8));
}

} // namespace

// The row of AnodeTable whose K-alpha-1 matches the wavelength to the thousandth (the last one
// that matches), or 0.
std::int16_t anodeRow(double wavelength)
{
    std::int16_t found = 0;
    const long double w = std::trunc(static_cast<long double>(wavelength) * 1000.0L);
    for (std::int16_t r = 1; r <= 6; ++r)
        if (w == std::trunc(static_cast<long double>(AnodeTable(r).Alpha1) * 1000.0L))
            found = r;
    return found;
}

const TAnodeLine& AnodeTable(int row)
{
    static const std::array<TAnodeLine, 6> rows = {{
        {Text<2>("Cr"), 2.28970f, 2.29361f, 0.5f, 2.08487f},
        {Text<2>("Fe"), 1.93604f, 1.93998f, 0.5f, 1.75661f},
        {Text<2>("Co"), 1.78897f, 1.79285f, 0.5f, 1.62079f},
        {Text<2>("Cu"), 1.54056f, 1.54439f, 0.5f, 1.39222f},
        {Text<2>("Mo"), 0.70930f, 0.71359f, 0.5f, 0.63229f},
        {Text<2>("No"), 1.54056f, 1.54439f, 0.5f, 1.39222f},
    }};
    if (row < 1 || row > 6)
        throw std::out_of_range("AnodeTable: row " + intText(row) + " is not 1 to 6");
    return rows[static_cast<std::size_t>(row - 1)];
}

std::string Conv_Date(std::string_view Text)
{
    if (Text.empty())
        return {}; // no date: the date field stays zero bytes
    // Positions are 1-based, as the date text is described; sub(a, b) is characters a to b.
    const auto L = static_cast<std::ptrdiff_t>(Text.size());
    const auto sub = [&](std::ptrdiff_t a, std::ptrdiff_t b) {
        a = std::max<std::ptrdiff_t>(a, 1);
        b = std::min(b, L);
        return a > b ? std::string() : std::string(Text.substr(static_cast<std::size_t>(a - 1),
                                                                static_cast<std::size_t>(b - a + 1)));
    };
    const auto slashAfter = [&](std::ptrdiff_t from) -> std::ptrdiff_t {
        const std::size_t at = Text.find('/', static_cast<std::size_t>(from));
        return at == std::string_view::npos ? 0 : static_cast<std::ptrdiff_t>(at) + 1;
    };

    std::ptrdiff_t i = slashAfter(0);
    if (i == 0)
        i = L;
    std::string day = sub(1, i - 1);
    if (day.size() < 2)
        day.insert(0, 1, ' ');
    std::ptrdiff_t k = i < L ? slashAfter(i) : 0;
    if (k == 0)
        k = i == L ? i + 1 : L;
    std::string month = sub(i + 1, k - 1);
    const std::string year = sub(k + 1, k + 4);

    std::size_t p = month.find_first_not_of(' ');
    int m = 0;
    for (; p < month.size() && month[p] >= '0' && month[p] <= '9' && m <= 12; ++p)
        m = m * 10 + (month[p] - '0');
    static constexpr const char* kMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    if (m >= 1 && m <= 12)
        month = kMonths[m - 1];
    return "  " + day + "-" + month + "-" + year + " ";
}

void Lect_RAW(RawModule& M, const std::string& FileName, TScanHeader& Header, TScanParams& Params,
              TData& Data)
{
    const Bytes bytes = fsio::readFile(FileName, {kRawMaxSize, "RAW"});
    ParsedRaw raw = parseRaw(bytes, FileName);
    if (raw.Ranges.size() > kRawMaxRanges)
        throw Refusal(FileName, tooManyRanges(raw.Ranges.size()));

    // Nothing has failed: the records change from here on.
    setReaderDefaults(Header);
    Header.Wavelength = raw.Wavelength;
    Header.Comment1 = raw.Comment1;
    Header.Comment2 = raw.Comment2;
    Header.Comment3 = raw.Comment3;
    Header.Date = raw.Date;
    // The ranges up to the main one, in order: a RAW2 range leaves in Data what the ones before
    // it stored beyond its own steps.
    for (std::size_t r = 0; r <= raw.MainRange; ++r)
        applyRange(raw.Ranges[r], Header, Params, M.RangeInfo, Data);
    setAcqTime(Header, M.RangeInfo, Params);
    Params.Extra48 = 0;
    Params.Extra52 = 1.0f;
    Params.Source = "   RAW   ";
    Params.ScanWords.fill(0);
    M.Ranges = std::move(raw.Ranges);
    M.MainRange = raw.MainRange;
}

void RangeRecords(const RawModule& M, std::size_t k, TScanHeader& Header, TScanParams& Params,
                  TRangeInfo& RangeInfo, TData& Data)
{
    if (k >= M.Ranges.size())
        throw std::out_of_range("RangeRecords: range index " + intText(static_cast<std::int64_t>(k)) +
                                " of " + intText(static_cast<std::int64_t>(M.Ranges.size())) + " ranges");
    applyRange(M.Ranges[k], Header, Params, RangeInfo, Data);
    setAcqTime(Header, RangeInfo, Params);
}

TRangeCount RawRangeCount(const std::string& FileName)
{
    try {
        std::uint64_t size = 0;
        const std::optional<Bytes> head = fsio::tryReadHead(FileName, kRangeCountHead, nullptr, &size);
        if (head)
            return RawRangeCount(FileName, *head, size);
    } catch (const std::exception&) {
        // Refused by the read, later, with its message.
    }
    return {};
}

TRangeCount RawRangeCount(const std::string& FileName, const Bytes& Head, std::uint64_t FileSize)
{
    try {
        if (Head.size() < 16)
            return {};
        ByteReader in(Head, FileName);
        const std::string_view variant = in.chars(4);          // 0
        if (variant == "RAW2") {
            const std::int16_t n = in.i16();                   // 4
            if (n < 1 || FileSize < kRaw2HeaderSize + std::uint64_t{kRaw2RangeHeaderSize} * static_cast<unsigned>(n))
                return {};
            return {static_cast<std::size_t>(n), static_cast<std::size_t>(n) - 1};
        }
        if (variant == "RAW1") {
            in.seek(12);
            const std::int32_t n = std::max(in.i32(), 1);      // 12
            if (FileSize < kRaw1RangesStart + std::uint64_t{kRaw1RangeHeaderSize} * static_cast<std::uint64_t>(n))
                return {};
            return {static_cast<std::size_t>(n), 0};
        }
        if (variant == "RAW4" && in.chars(3) == ".00") {
            // Ranges follow one another to the end of the file: a walk over their headers counts
            // them, in the head when it holds every header, else in the whole file.
            std::optional<ParsedRaw> raw;
            try {
                raw = parseRaw(Head, FileName, FileSize);
            } catch (const InOutError&) {
                raw = parseRaw(fsio::readFile(FileName, {kRawMaxSize, "RAW"}), FileName, FileSize);
            }
            return {raw->Ranges.size(), raw->MainRange};
        }
    } catch (const std::exception&) {
        // Refused by the read, later, with its message.
    }
    return {};
}

std::string tooManyRanges(std::size_t count)
{
    return intText(static_cast<std::int64_t>(count)) + " ranges; rawdat converts at most " +
           intText(static_cast<std::int64_t>(kRawMaxRanges));
}

std::string RangesNotice(std::size_t MainRange, const std::vector<std::string>& Names)
{
    if (Names.size() < 2 || MainRange >= Names.size())
        return {};
    const auto number = [](std::size_t i) { return intText(static_cast<std::int64_t>(i + 1)); };
    std::string numbers, files;
    const std::size_t others = Names.size() - 1;
    // The main range is the first or the last: the others follow one another.
    if (others > 3 && (MainRange == 0 || MainRange == others)) {
        const std::size_t first = MainRange == 0 ? 1 : 0;
        const std::size_t last = first + others - 1;
        return intText(static_cast<std::int64_t>(Names.size())) + " ranges; " + Names[MainRange] +
               " holds range " + number(MainRange) + ", ranges " + number(first) + " to " + number(last) +
               " are in " + Names[first] + " ... " + Names[last];
    }
    std::size_t listed = 0;
    for (std::size_t i = 0; i < Names.size(); ++i) {
        if (i == MainRange)
            continue;
        ++listed;
        if (listed > 1) {
            numbers += listed == others ? " and " : ", ";
            files += ", ";
        }
        numbers += number(i);
        files += Names[i];
    }
    return intText(static_cast<std::int64_t>(Names.size())) + " ranges; " + Names[MainRange] +
           " holds range " + number(MainRange) +
           (others == 1 ? ", range " + numbers + " is in " : ", ranges " + numbers + " are in ") + files;
}

void Ecr_RAW(RawModule& M, const std::string& FileName, const TScanHeader& Header, const TData& Data)
{
    fsio::writeFileAtomic(FileName, rawBytes(M, FileName, Header, Data));
}

Bytes rawBytes(RawModule& M, const std::string& FileName, const TScanHeader& Header, const TData& Data)
{
    if (Header.Size > kDataCapacity)
        throw Refusal(FileName, "Size " + intText(Header.Size) + " is more than the " +
                                    intText(kDataCapacity) + " entries of Data");
    const std::string date = Header.Date.str();
    const std::string day = Conv_Date(date);
    const std::string time = timeText(date);

    M.AnodeIndex = anodeRow(Header.Wavelength);
    TAnodeLine anode;
    if (M.AnodeIndex != 0) {
        anode = AnodeTable(M.AnodeIndex);
    } else {
        // No anode of the table: the scan's own wavelength for both lines, no ratio.
        const float w = toSingle(Header.Wavelength);
        anode = TAnodeLine{Text<2>("  "), w, w, 0.0f, 0.0f};
    }

    // Control characters go from every line; the space after Comment1 stays.
    std::string text;
    appendPrintable(text, Header.Comment1.view());
    text += ' ';
    appendPrintable(text, Header.Comment2.view());
    appendPrintable(text, Header.Comment3.view());

    const std::int32_t steps = std::max<std::int32_t>(Header.Size, 0);
    ByteWriter out(kRaw2HeaderSize + kRaw2RangeHeaderSize + 4 * static_cast<std::size_t>(steps));
    out.chars("RAW2");                                         // 0
    out.i16(1);                                                // 4
    out.i16(0);                                                // 6
    out.chars(fitted(FileName, 32, ' '));                      // 8
    out.chars(fitted(text, 128, ' '));                         // 40
    out.chars(fitted(day, 11, '\0'));                          // 168
    out.chars(fitted(time, 9, '\0'));                          // 179
    out.chars(anode.Anode.area());                             // 188
    out.f32(anode.Alpha1);                                     // 190
    out.f32(anode.Alpha2);                                     // 194
    out.f32(anode.Ratio);                                      // 198
    out.fill(2, 0);                                            // 202
    out.i16(0);                                                // 204
    out.f32(0.0f);                                             // 206
    out.f32(kUnusedAxis);                                      // 210
    out.f64(0.0);                                              // 214
    out.fill(34, 0);                                           // 222

    out.u16(kRaw2RangeHeaderSize);                             // 256 + 0
    out.u16(static_cast<std::uint16_t>(Header.Size & 0xFFFF)); // +2
    out.i16(10);                                               // +4
    out.i16(0);                                                // +6
    out.f32(1.0f);                                             // +8
    out.f32(M.RangeInfo.Step);                                 // +12
    out.f32(M.RangeInfo.Start);                                // +16
    out.f32(M.RangeInfo.Start / 2.0f);                         // +20
    for (int a = 0; a < 4; ++a)
        out.f32(kUnusedAxis);                                  // +24 .. +36
    static constexpr std::uint16_t kMarks[] = {0x8000, 0x8000, 0x8000, 0xFFFF, 0x0000};
    for (std::uint16_t v : kMarks)
        out.u16(v);                                            // +40 .. +48
    out.f32(0.0f);                                             // +50
    out.f32(0.0f);                                             // +54
    for (int i = 1; i <= steps; ++i)
        out.f32(static_cast<float>(Data[i]));                  // +58
    return out.take();
}

} // namespace rawdat
