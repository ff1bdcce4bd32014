// Builders of RAW2 and RAW1 file images for the reader's tests, field by field at their offsets,
// and a runner of Debian's xyconv (libxy-bin) that reads any RAW file into blocks of numbers.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace rawdat::test {

using Image = std::vector<std::uint8_t>;

template <class T>
void put(Image& b, std::size_t at, T v)
{
    if (b.size() < at + sizeof(T))
        b.resize(at + sizeof(T));
    std::memcpy(b.data() + at, &v, sizeof(T));
}
inline void putText(Image& b, std::size_t at, std::string_view s)
{
    if (b.size() < at + s.size())
        b.resize(at + s.size());
    std::memcpy(b.data() + at, s.data(), s.size());
}
template <class T>
T get(const Image& b, std::size_t at)
{
    T v;
    std::memcpy(&v, b.data() + at, sizeof(T));
    return v;
}
inline std::string textAt(const Image& b, std::size_t at, std::size_t n)
{
    return std::string(reinterpret_cast<const char*>(b.data() + at), n);
}

struct Raw2Range {
    std::uint16_t headerField = 58;   // the value at range offset 0
    std::size_t dataAt = 58;          // where the intensities really are
    std::optional<std::uint16_t> stepField; // none: the number of values
    float stepTime = 1.0f, step = 0.02f, start = 10.0f;
    float theta = 5.0f, axis1 = 11.0f, axis4 = 14.0f, axis2 = 12.0f, axis3 = 13.0f;
    std::vector<float> values;
};

// A RAW2 image: the file header with the given range count, then the ranges one after another.
inline Image raw2Image(const std::vector<Raw2Range>& ranges,
                       std::optional<std::int16_t> rangeCount = std::nullopt)
{
    Image b(256, 0);
    putText(b, 0, "RAW2");
    put<std::int16_t>(b, 4, rangeCount.value_or(static_cast<std::int16_t>(ranges.size())));
    putText(b, 8, "C:\\DATA\\SAMPLE.RAW              ");
    std::string comment = "first comment line ";
    comment.resize(128, '.');
    putText(b, 40, comment);
    putText(b, 168, "  12-Mar-98");
    putText(b, 179, std::string("14:25:36\0", 9));
    putText(b, 188, "Co");
    put<float>(b, 190, 1.78897f);
    for (const Raw2Range& r : ranges) {
        const std::size_t at = b.size();
        b.resize(at + r.dataAt, 0xAB); // junk between the fields and the data
        put<std::uint16_t>(b, at + 0, r.headerField);
        put<std::uint16_t>(b, at + 2, r.stepField.value_or(static_cast<std::uint16_t>(r.values.size())));
        put<std::int16_t>(b, at + 4, 10);
        put<std::int16_t>(b, at + 6, 0);
        put<float>(b, at + 8, r.stepTime);
        put<float>(b, at + 12, r.step);
        put<float>(b, at + 16, r.start);
        put<float>(b, at + 20, r.theta);
        put<float>(b, at + 24, r.axis1);
        put<float>(b, at + 28, r.axis4);
        put<float>(b, at + 32, r.axis2);
        put<float>(b, at + 36, r.axis3);
        for (std::size_t i = 0; i < r.values.size(); ++i)
            put<float>(b, at + r.dataAt + 4 * i, r.values[i]);
    }
    return b;
}

struct Raw1Fields {
    double wavelength = 1.5406;
    std::optional<std::int32_t> steps; // none: the number of values
    double start720 = 5.0, start728 = 10.0, step = 0.05;
    float stepTime = 2.0f;
    std::int32_t extra = 0; // E, the supplementary header length
    std::vector<float> values;
};

// A RAW1.01 image of one range; every field it does not name holds 0x5A bytes.
inline Image raw1Image(const Raw1Fields& f)
{
    const std::size_t dataAt = 1016 + static_cast<std::size_t>(f.extra > 0 ? f.extra : 0);
    Image b(dataAt, 0x5A);
    putText(b, 0, std::string("RAW1.01\0", 8));
    put<double>(b, 624, f.wavelength);
    put<std::int32_t>(b, 712, 304);
    put<std::int32_t>(b, 716, f.steps.value_or(static_cast<std::int32_t>(f.values.size())));
    put<double>(b, 720, f.start720);
    put<double>(b, 728, f.start728);
    put<double>(b, 888, f.step);
    put<float>(b, 904, f.stepTime);
    put<std::int32_t>(b, 968, f.extra);
    for (std::size_t i = 0; i < f.values.size(); ++i)
        put<float>(b, dataAt + 4 * i, f.values[i]);
    return b;
}

// ---- xyconv ----

struct XyBlock {
    std::map<std::string, std::string> meta; // "# KEY: value" lines of the block
    std::vector<double> x, y;
    std::vector<double> e; // the third column, when the file has one
};

inline bool xyconvInstalled() { return std::system("command -v xyconv >/dev/null 2>&1") == 0; }

// The blocks that `xyconv FILE -` prints, or nullopt when it fails. The path must not hold a
// single quote.
inline std::optional<std::vector<XyBlock>> runXyconv(const std::string& path)
{
    const std::string cmd = "xyconv '" + path + "' - 2>/dev/null";
    std::FILE* p = ::popen(cmd.c_str(), "r");
    if (!p)
        return std::nullopt;
    std::string out;
    std::array<char, 4096> buf;
    std::size_t n;
    while ((n = std::fread(buf.data(), 1, buf.size(), p)) > 0)
        out.append(buf.data(), n);
    if (::pclose(p) != 0)
        return std::nullopt;

    std::vector<XyBlock> blocks;
    std::size_t pos = 0;
    while (pos < out.size()) {
        std::size_t end = out.find('\n', pos);
        if (end == std::string::npos)
            end = out.size();
        const std::string line = out.substr(pos, end - pos);
        pos = end + 1;
        // A file of one block comes without a block line; the file's own meta lines count as
        // the first block's.
        if (blocks.empty() || (line.rfind("### block", 0) == 0 && !blocks.back().y.empty()))
            blocks.emplace_back();
        if (line.rfind("#", 0) == 0) {
            const std::size_t colon = line.find(": ");
            if (colon != std::string::npos)
                blocks.back().meta[line.substr(2, colon - 2)] = line.substr(colon + 2);
        } else if (!line.empty()) {
            const std::size_t tab = line.find('\t');
            if (tab == std::string::npos)
                return std::nullopt;
            blocks.back().x.push_back(std::stod(line.substr(0, tab)));
            blocks.back().y.push_back(std::stod(line.substr(tab + 1)));
            const std::size_t third = line.find('\t', tab + 1);
            if (third != std::string::npos)
                blocks.back().e.push_back(std::stod(line.substr(third + 1)));
        }
    }
    return blocks;
}

} // namespace rawdat::test
