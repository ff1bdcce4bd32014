#include "convert/xy_export.h"

#include "convert/session.h"
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
    }
    return "";
}

std::vector<XyFormat> parseXyFormats(std::string_view list)
{
    constexpr XyFormat kAll[] = {XyFormat::Xy, XyFormat::Xye, XyFormat::Csv};
    bool wanted[3] = {};
    std::size_t from = 0;
    while (true) {
        const std::size_t comma = std::min(list.find(',', from), list.size());
        const std::string_view word = list.substr(from, comma - from);
        if (word.empty())
            throw std::invalid_argument("--also needs formats separated by commas: xy, xye, csv");
        const auto* f = std::find_if(std::begin(kAll), std::end(kAll),
                                     [&](XyFormat k) { return word == xyExtension(k); });
        if (f == std::end(kAll))
            throw std::invalid_argument("--also: unknown format '" + std::string(word) +
                                        "' (the formats are xy, xye and csv)");
        wanted[f - std::begin(kAll)] = true;
        if (comma == list.size())
            break;
        from = comma + 1;
    }
    std::vector<XyFormat> formats;
    for (int i = 0; i < 3; ++i)
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

XyPattern xyPattern(std::string_view source, const TScanHeader& header, std::string_view sample,
                    const TRangeInfo& range, const TSingleArray& Y, int n)
{
    XyPattern p;
    const std::size_t slash = source.find_last_of("/\\");
    p.Source = source.substr(slash == std::string_view::npos ? 0 : slash + 1);
    p.Wavelength = header.Wavelength;
    p.Date = headerText(header.Date.view());
    p.Sample = headerText(sample);
    p.Start = range.Start;
    p.Step = range.Step;
    if (n > 0)
        p.Intensity.assign(Y.first(), Y.first() + std::min(n, kDataCapacity));
    return p;
}

std::string xyFileText(const XyPattern& p, XyFormat format)
{
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
        if (!p.Date.empty())
            appendComment(out, "date", p.Date);
        if (!p.Sample.empty())
            appendComment(out, "sample", p.Sample);
        appendComment(out, "step (deg)", fixedText(step, 6));
        appendComment(out, "points", intText(static_cast<std::int64_t>(n)));
    }
    const bool sigma = format != XyFormat::Xy;
    for (std::size_t i = 0; i < n; ++i) {
        const double intensity = p.Intensity[i];
        appendFixed(out, start + static_cast<double>(i) * step, 6);
        out += sep;
        appendFixed(out, intensity, 0);
        if (sigma) {
            // The uncertainty of the count as written: half away from zero, as the text.
            out += sep;
            appendFixed(out, std::sqrt(std::max(std::round(intensity), 1.0)), 4);
        }
        out += '\n';
    }
    return out;
}

} // namespace rawdat
