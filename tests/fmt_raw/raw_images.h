// Builders of RAW2, RAW1 and RAW4 file images for the reader's tests, field by field at their offsets,
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
    std::int32_t ranges = 1;
    // Header texts, each zero-padded to its field (date 10, time 10, sample 60, comment 160).
    std::string date = "03/04/10", time = "20:59:14", sample = "BT86", comment;
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
    put<std::int32_t>(b, 12, f.ranges);
    const auto field = [&b](std::size_t at, std::string s, std::size_t n) {
        s.resize(n, '\0');
        putText(b, at, s);
    };
    field(16, f.date, 10);
    field(26, f.time, 10);
    field(326, f.sample, 60);
    field(386, f.comment, 160);
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

// ---- RAW4 ----

// A segment of the RAW4 file header: kind, length, then the body.
inline Image raw4Segment(std::uint32_t kind, const Image& body)
{
    Image b;
    put<std::uint32_t>(b, 0, kind);
    put<std::uint32_t>(b, 4, static_cast<std::uint32_t>(8 + body.size()));
    b.insert(b.end(), body.begin(), body.end());
    return b;
}
// A named text: 4 bytes, the name in 24, the value.
inline Image raw4Text(const std::string& name, const std::string& value)
{
    Image body(28, 0);
    putText(body, 4, name);
    putText(body, 28, value);
    return raw4Segment(10, body);
}
// The X-ray source: K-alpha-1 at segment offset 80, 136 bytes in all.
inline Image raw4Source(double alpha1)
{
    Image body(128, 0); // body offset = segment offset - 8
    put<double>(body, 64, 1.5418); // the average, just before K-alpha-1
    put<double>(body, 72, alpha1);
    putText(body, 108, "Cu");
    return raw4Segment(30, body);
}

struct Raw4Range {
    std::uint32_t kind = 0;
    double start = 10.0, step = 0.02;
    std::optional<std::uint32_t> stepField; // none: the number of values
    float stepTime = 0.5f;
    std::uint32_t recordSize = 8;
    std::uint32_t drives = 92; // bytes of drive descriptions after the 160-byte header
    std::vector<float> values;
};

inline constexpr std::size_t kRaw4HeaderSize = 61;

// A RAW4 image: the 61-byte header, the segments, then the ranges one after another. Each step's
// record is its Single, then 0x01 bytes up to the record size.
inline Image raw4Image(const std::vector<Image>& segments, const std::vector<Raw4Range>& ranges)
{
    Image b(kRaw4HeaderSize, 0);
    putText(b, 0, std::string("RAW4.00\0", 8));
    putText(b, 12, "04/07/2025");
    putText(b, 24, "20:48:56");
    for (const Image& s : segments)
        b.insert(b.end(), s.begin(), s.end());
    for (const Raw4Range& r : ranges) {
        const std::size_t at = b.size();
        b.resize(at + 160 + r.drives, 0);
        put<std::uint32_t>(b, at, r.kind);
        putText(b, at + 32, "Locked Coupled");
        put<double>(b, at + 72, r.start);
        put<double>(b, at + 80, r.step);
        put<std::uint32_t>(b, at + 88, r.stepField.value_or(static_cast<std::uint32_t>(r.values.size())));
        put<float>(b, at + 92, r.stepTime);
        put<std::uint32_t>(b, at + 136, r.recordSize);
        put<std::uint32_t>(b, at + 140, r.drives);
        for (float v : r.values) {
            const std::size_t rec = b.size();
            b.resize(rec + r.recordSize, 0x01);
            if (r.recordSize >= 4)
                put<float>(b, rec, v);
        }
    }
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
