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
// RAW1 (the "RAW1.01" files), read only, first range only; offsets from the start of the file
//     0     4  text    "RAW1"                                  variant
//     4   620  -       file header fields                      -
//   624     8  Double  K-alpha-1                               Wavelength
//   632    80  -       more file header fields                 -
//   712     4  int32   length of the range header (304)        -
//   716     4  int32   steps n                                 Size
//   720     8  Double  start theta                             -
//   728     8  Double  start 2-theta                           RangeInfo.Start
//   736   152  -       goniometer and detector fields          -
//   888     8  Double  step                                    RangeInfo.Step
//   896     8  Double  -                                       -
//   904     4  Single  time per step                           RangeInfo.StepTime
//   908    60  -       more range fields                       -
//   968     4  int32   length E of the supplementary header    where the data starts
//   972    44  -       more range fields                       -
//  1016     E  -       supplementary header (when E > 0)       -
//  1016+E  4n  Single  intensities, step 1 first               Data 1..n, rounded
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
constexpr std::size_t kRaw1DataStart = 1016;
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

struct Positions {
    float Theta, Axis1, Axis2, Axis3, Axis4;
};

struct ParsedRange {
    TRangeInfo Info;                  // Start, Step, StepTime
    std::optional<Positions> Axes;    // RAW2 ranges carry the goniometer positions
    std::vector<std::int32_t> Counts; // Size = Counts.size()
};

struct ParsedRaw {
    std::string Comment1;
    bool IsRaw2 = false;
    std::string Comment2, Comment3, Date; // RAW2 only
    double Wavelength = 0.0;
    std::vector<ParsedRange> Ranges; // in file order; the last one stands
};

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

// Reads n Singles at the reader's offset as counts; the bytes are checked before any is taken.
std::vector<std::int32_t> readCounts(ByteReader& in, std::int32_t n, int range)
{
    const auto count = static_cast<std::size_t>(n);
    const std::uint8_t* p = in.peek(count * 4);
    std::vector<std::int32_t> out(count);
    for (std::size_t i = 0; i < count; ++i) {
        float v;
        std::memcpy(&v, p + 4 * i, 4);
        out[i] = countOf(v, in.file(), range, static_cast<int>(i) + 1);
    }
    in.skip(count * 4);
    return out;
}

void parseRaw2(ByteReader& in, ParsedRaw& raw)
{
    raw.IsRaw2 = true;
    const std::int16_t rangeCount = in.i16();                  // 4
    in.skip(2);                                                // 6
    raw.Comment1 += in.chars(32);                              // 8
    std::string comment(in.chars(128));                        // 40
    comment.append(184, ' ');
    raw.Comment2 = comment.substr(0, 80);
    raw.Comment3 = comment.substr(80, 80);
    raw.Date = in.chars(11);                                   // 168
    raw.Date += in.chars(9);                                   // 179
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
        ParsedRange range;
        in.skip(4);                                            // +4
        range.Info.StepTime = in.f32();                        // +8
        range.Info.Step = in.f32();                            // +12
        range.Info.Start = in.f32();                           // +16
        Positions axes{};
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
        range.Counts = readCounts(in, steps, r);               // +H
        raw.Ranges.push_back(std::move(range));
    }
}

void parseRaw1(ByteReader& in, ParsedRaw& raw)
{
    ParsedRange range;
    in.seek(624);
    raw.Wavelength = in.f64();                                 // 624
    in.seek(716);
    const std::int32_t steps = checkedSteps(in.i32(), in.file(), 1); // 716
    range.Info.Start = toSingle(in.f64());                     // 720, replaced at once
    range.Info.Start = toSingle(in.f64());                     // 728
    in.seek(888);
    range.Info.Step = toSingle(in.f64());                      // 888
    in.skip(8);                                                // 896
    range.Info.StepTime = in.f32();                            // 904
    in.seek(968);
    const std::int32_t extra = in.i32();                       // 968
    in.seek(kRaw1DataStart);
    if (extra > 0)
        in.skip(static_cast<std::size_t>(extra));              // 1016
    range.Counts = readCounts(in, steps, 1);                   // 1016 + E
    raw.Ranges.push_back(std::move(range));
}

ParsedRaw parseRaw(const Bytes& bytes, const std::string& file)
{
    ByteReader in(bytes, file);
    ParsedRaw raw;
    raw.Comment1 = in.chars(4);                                // 0
    if (raw.Comment1 == "RAW2")
        parseRaw2(in, raw);
    else if (raw.Comment1 == "RAW1")
        parseRaw1(in, raw);
    else
        throw Refusal(file, "not a RAW file: it begins with neither \"RAW2\" nor \"RAW1\"");
    for (std::size_t r = 0; r < raw.Ranges.size(); ++r) {
        const TRangeInfo& info = raw.Ranges[r].Info;
        if (!std::isfinite(info.Start) || !std::isfinite(info.Step))
            throw Refusal(file, "range " + intText(static_cast<std::int64_t>(r + 1)) +
                                    ": its start or step angle is not a finite number");
    }
    return raw;
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

// Text padded with `pad`, or cut, to exactly n characters.
std::string fitted(std::string s, std::size_t n, char pad)
{
    s.resize(n, pad);
    return s;
}

// The comment text without its control characters (codes 0 to 31).
void appendPrintable(std::string& out, std::string_view s)
{
    for (char c : s)
        if (static_cast<unsigned char>(c) >= 32)
            out += c;
}

// The 8 characters of the time: the 8 before the last character of the date text, or the
// first 8 of a shorter text.
std::string timeText(std::string_view date)
{
    if (date.size() < 9)
        return std::string(date.substr(0, 8));
    return std::string(date.substr(date.size() - 9, 8));
}

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

} // namespace

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
    const ParsedRaw raw = parseRaw(bytes, FileName);

    // Nothing has failed: the records change from here on.
    setReaderDefaults(Header);
    Header.Wavelength = raw.Wavelength;
    if (raw.IsRaw2) {
        Header.Comment1 = fitted(raw.Comment1, 80, ' ');
        Header.Comment2 = raw.Comment2;
        Header.Comment3 = raw.Comment3;
        Header.Date = raw.Date;
    } else {
        Header.Comment1 = raw.Comment1;
    }
    for (const ParsedRange& range : raw.Ranges) {
        Header.Size = static_cast<std::int32_t>(range.Counts.size());
        M.RangeInfo.Start = range.Info.Start;
        M.RangeInfo.Step = range.Info.Step;
        M.RangeInfo.StepTime = range.Info.StepTime;
        if (range.Axes) {
            Params.Theta = range.Axes->Theta;
            Params.Axis1 = range.Axes->Axis1;
            Params.Axis2 = range.Axes->Axis2;
            Params.Axis3 = range.Axes->Axis3;
            Params.Axis4 = range.Axes->Axis4;
        }
        std::copy(range.Counts.begin(), range.Counts.end(), Data.first());
    }

    Params.AcqTime = static_cast<float>(static_cast<long double>(Header.Size) * M.RangeInfo.StepTime);
    Params.Extra48 = 0;
    Params.Extra52 = 1.0f;
    Params.Source = "   RAW   ";
    Params.ScanWords.fill(0);
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
