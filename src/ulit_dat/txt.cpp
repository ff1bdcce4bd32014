// TXT scan file: keyword lines, one range line, one intensity per line; lines end with CR LF.
//
//  line 1      "DATE " + Date
//  line 2      "ACQTIME      " + AcqTime (width 5, 0 decimals)
//  line 3      "VOLTAGE " + Voltage
//  line 4      "CURRENT " + Current
//  line 5      "WAVELENGTH " + Wavelength (width 10, 8 decimals)
//  lines 6..8  "COMMENT1 " + Comment1, "COMMENT2 " ..., "COMMENT3 " ...
//  line 9      " " Start (7.3) " " Step (5.3) "    " Stop (7.3): the only header line that begins
//              with a space
//  line 10..   one intensity per line, width 7, 0 decimals
#include "ulit_dat/litdat.h"

#include "ulit_dat/errors.h"
#include "ulit_dat/fsio.h"
#include "ulit_dat/numtext.h"
#include "ulit_dat/steprange.h"

#include <algorithm>
#include <cmath>
#include <string_view>
#include <vector>

namespace rawdat {

namespace {

// Characters first..first+count-1 (1-based) of a line, cut at its end.
std::string_view copyOf(std::string_view line, int first, int count)
{
    const auto from = static_cast<std::size_t>(first - 1);
    if (from >= line.size() || count <= 0)
        return {};
    return line.substr(from, static_cast<std::size_t>(count));
}

bool startsWith(std::string_view line, std::string_view key) { return line.substr(0, key.size()) == key; }

// The lines of a text file: CR LF or LF ends a line; a last line without a line end counts.
std::vector<std::string_view> splitLines(std::string_view text)
{
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        const std::size_t next = end == std::string_view::npos ? text.size() : end + 1;
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        lines.push_back(line);
        start = next;
    }
    return lines;
}

} // namespace

void TLitdat::Ecr_TXT(const std::string& FileName, const TScanHeader& Header, const TScanParams& Params,
                      const TReal48Array& Values, double Start, double Step, double Stop)
{
    fsio::writeFileAtomic(FileName, txtBytes(FileName, Header, Params, Values, Start, Step, Stop));
}

std::string TLitdat::txtBytes(const std::string& FileName, const TScanHeader& Header,
                              const TScanParams& Params, const TReal48Array& Values, double Start,
                              double Step, double Stop) const
{
    const double points = stepPointCount(FileName, Start, Step, Stop);
    const int n = points > 0 ? static_cast<int>(points) : 0;

    FixedText out(400 + static_cast<std::size_t>(n) * 9);
    // A CR or LF inside a header text would end its line and make the rest of the text a line
    // of its own (one that begins with a space ends the header): they are written as spaces.
    auto line = [&out](std::string_view a, std::string_view b = {}) {
        out.append(a);
        std::string text(b);
        std::replace_if(text.begin(), text.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
        out.append(text);
        out.append("\r\n");
    };
    line("DATE ", Header.Date.view());
    line("ACQTIME      ", fixedText(Params.AcqTime, 0, 5));
    line("VOLTAGE ", Header.Voltage.view());
    line("CURRENT ", Header.Current.view());
    line("WAVELENGTH ", fixedText(Header.Wavelength, 8, 10));
    line("COMMENT1 ", Header.Comment1.view());
    line("COMMENT2 ", Header.Comment2.view());
    line("COMMENT3 ", Header.Comment3.view());
    out.append(" ");
    out.fixed(Start, 3, 7);
    out.append(" ");
    out.fixed(Step, 3, 5);
    out.append("    ");
    out.fixed(Stop, 3, 7);
    out.append("\r\n");
    for (int i = 1; i <= n; ++i) {
        out.fixed(Values[i].value(), 0, 7);
        out.append("\r\n");
    }
    return out.take();
}

bool TLitdat::Lect_TXT(const std::string& FileName, TScanHeader& Header, TScanParams& Params, TData& Data)
{
    const auto bytes = fsio::tryReadFile(FileName);
    if (!bytes)
        return false;
    const std::string_view text(reinterpret_cast<const char*>(bytes->data()), bytes->size());
    const auto lines = splitLines(text);

    TScanHeader h = Header;
    float acqTime = Params.AcqTime;
    // The header ends with the range line (the line that begins with a space) or with an empty
    // line; a file that ends before either holds no intensities.
    std::size_t i = 0;
    bool headerEnded = false;
    while (i < lines.size() && !headerEnded) {
        const std::string_view l = lines[i++];
        if (startsWith(l, "DATE"))
            h.Date = copyOf(l, 5, 8);
        else if (startsWith(l, "ACQT"))
            acqTime = static_cast<float>(parseDecimal(copyOf(l, 14, 5)).value);
        else if (startsWith(l, "VOLT"))
            h.Voltage = copyOf(l, 8, 5);
        else if (startsWith(l, "CURR"))
            h.Current = copyOf(l, 8, 5);
        else if (startsWith(l, "WAVE"))
            h.Wavelength = parseDecimal(copyOf(l, 12, 8)).value;
        else if (startsWith(l, "COMMENT1"))
            h.Comment1 = copyOf(l, 8, static_cast<int>(l.size()) - 8);
        else if (startsWith(l, "COMMENT2"))
            h.Comment2 = copyOf(l, 8, static_cast<int>(l.size()) - 8);
        else if (startsWith(l, "COMMENT3"))
            h.Comment3 = copyOf(l, 8, static_cast<int>(l.size()) - 8);
        headerEnded = l.empty() || l.front() == ' ';
    }
    h.CalName = "TXTF";

    std::vector<std::int32_t> counts;
    if (headerEnded) {
        // The first intensity line is read even when the file ends right after the header.
        const std::size_t n = std::max<std::size_t>(lines.size() - i, 1);
        if (n > static_cast<std::size_t>(kDataCapacity))
            throw Refusal(FileName, "holds " + intText(static_cast<std::int64_t>(n)) +
                                        " intensity lines; at most " + intText(kDataCapacity) + " can be read");
        counts.reserve(n);
        for (std::size_t k = 0; k < n; ++k) {
            const double v = i + k < lines.size() ? parseDecimal(lines[i + k]).value : 0.0;
            if (!(v > -2147483649.0 && v < 2147483648.0))
                throw Refusal(FileName, "intensity line " + intText(static_cast<std::int64_t>(k + 1)) +
                                            " does not hold a 32-bit count");
            counts.push_back(static_cast<std::int32_t>(v));
        }
    }

    Header = h;
    Params.AcqTime = acqTime;
    Header.Size = static_cast<std::int32_t>(counts.size());
    for (std::size_t k = 0; k < counts.size(); ++k)
        Data[static_cast<int>(k) + 1] = counts[k];
    return true;
}

} // namespace rawdat
