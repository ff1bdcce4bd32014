#include "ulit_dat/describe.h"

#include "ulit_dat/binio.h"
#include "ulit_dat/dtb.h"
#include "ulit_dat/errors.h"
#include "ulit_dat/fdt.h"
#include "ulit_dat/fsio.h"
#include "ulit_dat/litdat.h"
#include "ulit_dat/numtext.h"

#include <algorithm>
#include <cmath>
#include <memory>

namespace rawdat {

namespace {

constexpr int kEntriesShown = 10;

// A text field for one line: control bytes become blanks, trailing blanks go.
std::string printable(std::string_view s)
{
    std::string out(s);
    std::replace_if(out.begin(), out.end(), [](char c) { return static_cast<unsigned char>(c) < 32; }, ' ');
    out.erase(out.find_last_not_of(' ') + 1);
    return out;
}

// `v` with six significant digits in fixed-point form.
std::string significant(double v)
{
    if (v == 0.0 || !std::isfinite(v))
        return fixedText(v, 0);
    const int magnitude = static_cast<int>(std::floor(std::log10(std::fabs(v))));
    return fixedText(v, std::clamp(5 - magnitude, 0, 30));
}

// " (p, q)"
void appendPair(std::string& out, const TDtbPair& p)
{
    out += " (";
    out += significant(p.P);
    out += ", ";
    out += significant(p.Q);
    out += ')';
}

} // namespace

std::vector<std::string> describeFdt(const std::string& path)
{
    const Bytes bytes = fsio::readFile(path);
    ByteReader r(bytes, path);
    TScanHeader h;
    readFdtHeader(r, h);
    checkFdtKChannels(path, h.KChannels);
    const auto calName = fdtStoredCalName(r);

    std::vector<std::string> lines = {
        "FDT scan file",
        "scans: " + intText(h.NbScans),
        "channels: " + intText(h.Size) + " a scan (KChannels " + intText(h.KChannels) + "), NbChannels " +
            intText(h.NbChannels),
        "comment 1: " + printable(h.Comment1.view()),
        "comment 2: " + printable(h.Comment2.view()),
        "date: " + printable(h.Date.view()),
        "wavelength: " + fixedText(h.Wavelength, 6),
        "step per channel: " + significant(h.ExtraReal0.value()),
        "calibration: " + (calName ? printable(*calName) : std::string("None")),
    };
    auto data = std::make_unique<TData>();
    TScanParams p;
    for (std::int32_t k = 1; k <= h.NbScans; ++k) {
        std::string line = "scan " + intText(k) + ": ";
        if (fdtRecordOffset(k, h.KChannels) + fdtRecordSize(h.KChannels) > static_cast<std::int64_t>(bytes.size())) {
            lines.push_back(line + "not in the file");
            continue;
        }
        readFdtRecord(r, k, h.KChannels, p, *data);
        std::int64_t total = 0;
        int highest = 1;
        for (int i = 1; i <= h.Size; ++i) {
            total += (*data)[i];
            if ((*data)[i] > (*data)[highest])
                highest = i;
        }
        line += "label \"" + printable(p.Source.view()) + "\", acquisition " + fixedText(p.AcqTime, 3) +
                ", theta " + fixedText(p.Theta, 4) + ", counts " + intText(total);
        if (h.Size > 0)
            line += ", highest " + intText((*data)[highest]) + " at channel " + intText(highest);
        lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> describeDtb(const std::string& path)
{
    TDtbHeader h;
    TDtbEntries entries;
    TLitdat().Lect_DTB(path, h, entries);
    const int n = dtbSubRecords(h.EntryType);
    std::vector<std::string> lines = {
        "DTB file",
        "entry type: " + intText(h.EntryType) + " (" + intText(n) + " sub-records an entry)",
        "entries: " + intText(h.EntryCount),
        "header values: first " + intText(h.FirstValue) + ", second " + intText(h.SecondValue) +
            ", fourth " + intText(h.FourthValue),
        "doubles: " + significant(h.Doubles[0]) + " " + significant(h.Doubles[1]),
    };
    // The pairs an entry type fills: 1 to 3, then 5 for types 2 to 4, 4 to 6 for type 5.
    std::vector<int> filled = {1, 2, 3};
    if (n == 4)
        filled.push_back(5);
    if (n == 6)
        filled.insert(filled.end(), {4, 5, 6});
    const int shown = std::min<int>(h.EntryCount, kEntriesShown);
    for (int i = 1; i <= shown; ++i) {
        std::string line = "entry " + intText(i) + ":";
        for (int k : filled)
            appendPair(line, entries[i].Pairs[k]);
        lines.push_back(line);
    }
    if (h.EntryCount > shown)
        lines.push_back("(" + intText(h.EntryCount - shown) + " more entries)");
    return lines;
}

std::vector<std::string> describeCal(const std::string& path)
{
    TCalibration cal;
    if (!TLitdat().Lect_CAL(path, cal)) {
        fsio::readFile(path); // raises the error of the open that failed
        throw InOutError(iotext::kNotFound, path);
    }
    std::vector<std::string> lines = {"CAL calibration file", "wavelength: " + fixedText(cal.CalWavelength, 6)};
    if (cal.SplineFlag == 0) {
        std::string line = "polynomial calibration, coefficients:";
        for (int k = 1; k <= 11; ++k) {
            line += ' ';
            line += significant(cal.PolyCoef[k]);
        }
        lines.push_back(line);
        return lines;
    }
    lines.push_back("spline calibration: " + intText(cal.KnotCount) + " knots");
    for (int i = 1; i <= cal.KnotCount; ++i)
        lines.push_back("knot " + intText(i) + ": channel " + fixedText(cal.KnotPos[i] * 1000.0, 3) +
                        ", 2-theta " + fixedText(cal.KnotAngle[i], 6));
    return lines;
}

} // namespace rawdat
