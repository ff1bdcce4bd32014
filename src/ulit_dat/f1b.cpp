// F1B conversion: lect_F1B and its line reader lit_ligne. Layout in f1b.h.
#include "ulit_dat/f1b.h"

#include "ulit_dat/binio.h"
#include "ulit_dat/errors.h"
#include "ulit_dat/fdt.h"
#include "ulit_dat/fsio.h"
#include "ulit_dat/litdat.h"
#include "ulit_dat/names.h"
#include "ulit_dat/numtext.h"

#include <charconv>
#include <cmath>

namespace rawdat {

namespace {

constexpr std::uint8_t kEndOfText = 26;

bool atEnd(ByteReader& r) { return r.remaining() == 0 || *r.peek(1) == kEndOfText; }

// Columns a to b (from 1) of a line: shorter or empty where the line is shorter.
std::string_view columns(std::string_view line, std::size_t a, std::size_t b)
{
    if (a > line.size())
        return {};
    return line.substr(a - 1, b - a + 1);
}

// The leading number of columns a to b; 0 when there is none. A value beyond double fails as an
// overflow, as storing it would.
double realField(std::string_view line, std::size_t a, std::size_t b)
{
    const double v = parseDecimal(columns(line, a, b)).value;
    if (std::isinf(v))
        throw FloatError(FloatError::Kind::Overflow);
    return v;
}

float toSingle(double v)
{
    const auto f = static_cast<float>(v);
    if (std::isinf(f))
        throw FloatError(FloatError::Kind::Overflow);
    return f;
}

// The leading whole number of columns a to b (blanks, an optional sign, digits); 0 when there is
// none. Fields are at most eight characters wide, so the value fits.
std::int32_t intField(std::string_view line, std::size_t a, std::size_t b)
{
    std::string_view f = columns(line, a, b);
    const std::size_t start = f.find_first_not_of(' ');
    if (start == std::string_view::npos)
        return 0;
    f.remove_prefix(start);
    const bool negative = f.front() == '-';
    if (f.front() == '+' || negative)
        f.remove_prefix(1);
    std::int32_t v = 0;
    std::from_chars(f.data(), f.data() + f.size(), v);
    return negative ? -v : v;
}

long double roundHalfEven(long double x) { return std::nearbyint(x); }

// The scan fields that a parameter line fills, in the order of its seven values.
constexpr float TScanParams::*kParamOrder[7] = {
    &TScanParams::Extra20, &TScanParams::Theta, &TScanParams::Axis1, &TScanParams::Axis2,
    &TScanParams::Axis3,   &TScanParams::Extra40, &TScanParams::Axis4,
};

const std::string kF1bComment = "F1B file" + std::string(72, ' ');

} // namespace

F1bShape f1bShape(const std::string& file, std::int32_t n)
{
    if (n < 2)
        throw Refusal(file, "channel count " + intText(n) + " is below 2");
    F1bShape s;
    const long double nl = roundHalfEven(n / 10.0L);
    const long double k = std::max(1.0L, roundHalfEven(n / 1024.0L));
    const long double counts = std::max(10 * nl, 1024 * k);
    if (counts > kDataCapacity)
        throw Refusal(file, "channel count " + intText(n) + " asks for " +
                                intText(static_cast<std::int64_t>(counts)) + " counts a scan, more than the " +
                                intText(kDataCapacity) + " that Data holds");
    s.dataLines = static_cast<std::int32_t>(nl);
    s.kChannels = static_cast<std::int16_t>(k);
    return s;
}

void TLitdat::lit_ligne(ByteReader& File, std::string& Line)
{
    Line.clear();
    while (File.remaining() > 0) {
        const std::uint8_t c = *File.peek(1);
        if (c == kEndOfText)
            return; // the file stays at its end mark
        File.skip(1);
        if (c == '\n')
            return;
        Line.push_back(static_cast<char>(c));
    }
}

F1bOutputs f1bOutputs(const std::string& f1bFile)
{
    return {replaceExtension(f1bFile, "fdt"), replaceExtension(f1bFile, "cal")};
}

void TLitdat::lect_F1B(const std::string& ParamFileName, const std::string& F1BFileName,
                       TScanParams& Params, TScanHeader& Header, TData& Data, TCalibration& Cal,
                       fsio::OutputGroup::Placement Placement)
{
    const F1bOutputs outputs = f1bOutputs(F1BFileName);

    const Bytes f1b = fsio::readFile(F1BFileName);
    ByteReader in(f1b, F1BFileName);
    std::string line, line2, line4, line5;
    lit_ligne(in, line);
    lit_ligne(in, line2);
    lit_ligne(in, line);
    lit_ligne(in, line4);
    lit_ligne(in, line5);
    const double wavelength = realField(line4, 69, 76);
    const Real48 step = Real48::fromValue(realField(line4, 78, 85));
    const std::int32_t n = intField(line5, 1, 4);
    int counted = 0; // lines after line 5, at least one
    do {
        lit_ligne(in, line);
        ++counted;
    } while (!atEnd(in));
    const long double scanLines = 5 + counted - 1;

    // Nothing is written and no record changed before the file is known to fit.
    const F1bShape shape = f1bShape(F1BFileName, n);
    const long double scans = roundHalfEven(scanLines / (n / 10.0L + 5));
    if (scans > kFdtMaxScans)
        throw Refusal(F1BFileName, "holds " + intText(static_cast<std::int64_t>(scans)) +
                                       " scans, more than the " + intText(kFdtMaxScans) +
                                       " an FDT header counts");

    Header.Comment1 = kF1bComment;
    Header.Comment2 = kF1bComment;
    Header.Comment3 = kF1bComment;
    Header.Comment1 = line2;
    Header.Date = columns(line2, 1, 20);
    Header.Wavelength = wavelength;
    Header.ExtraReal0 = step;
    Header.Voltage = "F1B      ";
    Header.NbScans = static_cast<std::int16_t>(scans);
    Header.KChannels = shape.kChannels;
    Header.ExtraFlag3 = 1;
    Header.ExtraWord1 = 1;
    Header.NbChannels = static_cast<std::int16_t>(n);
    for (int i = 1; i <= 1024 * shape.kChannels; ++i)
        Data[i] = 0;
    // The calibration written beside it, with the upper-case extension of the instrument's CAL
    // files: readers of an FDT file take the last element of this path and look it up ignoring
    // case, so it finds NAME.cal.
    Header.CalName = replaceExtension(F1BFileName, "CAL") + std::string(150, ' ');
    // The FDT file is built beside its target and replaces it only when every scan is written: a
    // failure part way (a value beyond a Single, a missing parameter file, a full disk) leaves a
    // previous FDT file as it was.
    fsio::PendingFile fdt(outputs.fdt, Placement);
    const Bytes paramBytes = fsio::readFile(ParamFileName);
    fdt.step([&] { writeInitFDT(fdt.path(), Header); });

    in.seek(0);
    lit_ligne(in, line); // title
    ByteReader params(paramBytes, ParamFileName);
    double b = 0.0; // the calibration's offset: stays 0 for a file without scans
    for (std::int32_t k = 1; k <= Header.NbScans; ++k) {
        lit_ligne(params, line);
        line = line.substr(0, line.find('\r'));
        for (std::size_t j = 0; j < 7; ++j)
            Params.*kParamOrder[j] = toSingle(realField(line, 10 + 9 * j, 17 + 9 * j));
        b = Params.Extra20;

        lit_ligne(in, line);                  // block line 1
        lit_ligne(in, line);                  // block line 2: the label
        Params.Source = std::string(columns(line, 3, 11)) + "     ";
        lit_ligne(in, line);                  // block line 3
        Params.Extra52 = toSingle(realField(line, 2, 13));
        Params.AcqTime = toSingle(realField(line, 15, 22));
        lit_ligne(in, line);                  // block line 4
        for (int i = 1; i <= shape.dataLines; ++i) {
            lit_ligne(in, line);
            for (std::size_t j = 1; j <= 10; ++j)
                Data[10 * (i - 1) + static_cast<int>(j)] = intField(line, 10 * (j - 1) + 3, 10 * (j - 1) + 10);
        }
        lit_ligne(in, line);                  // block line 5 + nl
        fdt.step([&] { EcrScanFDT(k, fdt.path(), Params, Header, Data); });
    }

    // A straight line through channel 1 at b and channels N, N + 1, N + 2 at s channel + b.
    const long double s = Header.ExtraReal0.value();
    Cal.CalWavelength = Header.Wavelength;
    Cal.CalExtra = 0;
    Cal.PolyCoef.fill(0.0);
    Cal.SplineFlag = 1;
    Cal.KnotCount = 4;
    const std::int32_t channels[4] = {1, n, n + 1, n + 2};
    for (int i = 1; i <= 4; ++i) {
        const long double ch = channels[i - 1];
        Cal.KnotPos[i] = static_cast<double>(ch / 1000.0L);
        Cal.KnotAngle[i] = static_cast<double>(i == 1 ? b : s * ch + b);
    }
    MakeCalibration(Cal);
    // Both files or neither; the calibration, whose presence means the conversion is done, last.
    fdt.group().add(outputs.cal, calBytes(Cal));
    fdt.commit();
}

} // namespace rawdat
