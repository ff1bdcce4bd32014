#include "convert/xy_export.h"

#include "convert/session.h"
#include "fmt_raw/raw.h"
#include "ulit_dat/numtext.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <stdexcept>

namespace rawdat {

namespace {

// A Single as the decimal it was written as: its shortest text that reads back as the same
// Single, read as a double.
double decimalOf(float v)
{
    char buf[32];
    const auto end = std::to_chars(buf, buf + sizeof buf, v).ptr;
    double d = v;
    std::from_chars(buf, end, d);
    return d;
}

void appendComment(std::string& out, std::string_view key, std::string_view value)
{
    out += "# ";
    out += key;
    out += ": ";
    out += value;
    out += '\n';
}

} // namespace

const char* xyExtension(XyFormat format)
{
    switch (format) {
    case XyFormat::Xy: return "xy";
    case XyFormat::Xye: return "xye";
    case XyFormat::Csv: return "csv";
    case XyFormat::Instprm: return "instprm";
    }
    return "";
}

std::vector<XyFormat> parseXyFormats(std::string_view list)
{
    constexpr XyFormat kAll[] = {XyFormat::Xy, XyFormat::Xye, XyFormat::Csv, XyFormat::Instprm};
    constexpr int kCount = static_cast<int>(std::size(kAll));
    bool wanted[kCount] = {};
    std::size_t from = 0;
    while (true) {
        const std::size_t comma = std::min(list.find(',', from), list.size());
        const std::string_view word = list.substr(from, comma - from);
        if (word.empty())
            throw std::invalid_argument("--also needs formats separated by commas: xy, xye, csv, instprm");
        const auto sameName = [&](XyFormat k) {
            const std::string_view name = xyExtension(k);
            return std::equal(word.begin(), word.end(), name.begin(), name.end(), [](char a, char b) {
                return std::tolower(static_cast<unsigned char>(a)) == b;
            });
        };
        const auto* f = std::find_if(std::begin(kAll), std::end(kAll), sameName);
        if (f == std::end(kAll))
            throw std::invalid_argument("--also: unknown format '" + std::string(word) +
                                        "' (the formats are xy, xye, csv and instprm)");
        wanted[f - std::begin(kAll)] = true;
        if (comma == list.size())
            break;
        from = comma + 1;
    }
    std::vector<XyFormat> formats;
    for (int i = 0; i < kCount; ++i)
        if (wanted[i])
            formats.push_back(kAll[i]);
    return formats;
}

std::string headerText(std::string_view windows1252)
{
    std::string s(windows1252);
    for (char& c : s)
        if (static_cast<unsigned char>(c) < 32 || c == 127)
            c = ' ';
    const std::size_t first = s.find_first_not_of(' ');
    if (first == std::string::npos)
        return {};
    return windows1252ToUtf8(std::string_view(s).substr(first, s.find_last_not_of(' ') + 1 - first));
}

XyPattern xyPattern(std::string_view source, const TScanHeader& header, DateOrder order, std::string_view sample,
                    const TRangeInfo& range, const TSingleArray& Y, int n)
{
    XyPattern p;
    const std::size_t slash = source.find_last_of("/\\");
    p.Source = source.substr(slash == std::string_view::npos ? 0 : slash + 1);
    p.Wavelength = header.Wavelength;
    p.Date = headerText(header.Date.view());
    p.DateIso = isoDate(p.Date, order);
    p.Sample = headerText(sample);
    p.Start = range.Start;
    p.Step = range.Step;
    if (n > 0)
        p.Intensity.assign(Y.first(), Y.first() + std::min(n, kDataCapacity));
    return p;
}

std::string xyFileText(const XyPattern& p, XyFormat format)
{
    if (format == XyFormat::Instprm)
        return instprmText(p);
    const std::size_t n = p.Intensity.size();
    const double start = decimalOf(p.Start);
    const double step = decimalOf(p.Step);
    std::string out;
    out.reserve(300 + n * 32);

    const char sep = format == XyFormat::Csv ? ',' : ' ';
    if (format == XyFormat::Csv) {
        out += "two_theta_deg,intensity_counts,sigma_counts\n";
    } else {
        out += "# ";
        out += p.Program;
        out += '\n';
        appendComment(out, "source", p.Source);
        if (std::isfinite(p.Wavelength) && p.Wavelength > 0)
            appendComment(out, "wavelength (Angstrom)", fixedText(p.Wavelength, 6));
        // ISO 8601 for programs, and the text as the file stores it for people.
        if (!p.DateIso.empty())
            appendComment(out, "date", p.DateIso + " (stored as " + p.Date + ")");
        else if (!p.Date.empty())
            appendComment(out, "date", p.Date);
        if (!p.Sample.empty())
            appendComment(out, "sample", p.Sample);
        appendComment(out, "step (deg)", shortestText(p.Step));
        appendComment(out, "points", intText(static_cast<std::int64_t>(n)));
    }
    const bool sigma = format != XyFormat::Xy;
    for (std::size_t i = 0; i < n; ++i) {
        const float intensity = p.Intensity[i];
        appendFixed(out, start + static_cast<double>(i) * step, 6);
        out += sep;
        appendShortest(out, intensity);
        if (sigma) {
            out += sep;
            appendFixed(out, std::sqrt(std::max(static_cast<double>(intensity), 1.0)), 4);
        }
        out += '\n';
    }
    return out;
}

bool instprmWavelengths(const XyPattern& p, XyWavelengths& w)
{
    if (!(std::isfinite(p.Wavelength) && p.Wavelength > 0))
        return false;
    w = {};
    if (const int row = anodeRow(p.Wavelength)) {
        const TAnodeLine& anode = AnodeTable(row);
        w.Lam1 = shortestText(anode.Alpha1);
        w.Lam2 = shortestText(anode.Alpha2);
        w.Ratio = shortestText(anode.Ratio);
    } else {
        w.Lam1 = shortestText(p.Wavelength);
    }
    return true;
}

std::string instprmText(const XyPattern& p)
{
    XyWavelengths w;
    if (!instprmWavelengths(p, w))
        throw std::invalid_argument("no wavelength for an instrument parameter file");
    std::string out = "#GSAS-II instrument parameter file; do not add/delete items!\n";
    out += "# written by ";
    out += p.Program;
    out += " for ";
    out += p.Source;
    out += '\n';
    out += "Type:PXC\n";
    out += "Bank:1.0\n";
    if (w.Lam2.empty()) {
        out += "Lam:" + w.Lam1 + '\n';
    } else {
        out += "Lam1:" + w.Lam1 + '\n';
        out += "Lam2:" + w.Lam2 + '\n';
    }
    out += "Zero:0.0\n";
    out += "# The profile terms below are GSAS-II's defaults for a laboratory instrument, not\n"
           "# measured for this one: refine them on a standard.\n";
    out += "Polariz.:0.7\n";
    out += "Azimuth:0.0\n";
    out += "U:2.0\nV:-2.0\nW:5.0\nX:0.0\nY:0.0\nZ:0.0\nSH/L:0.002\n";
    if (!w.Lam2.empty())
        out += "I(L2)/I(L1):" + w.Ratio + '\n';
    return out;
}

} // namespace rawdat
