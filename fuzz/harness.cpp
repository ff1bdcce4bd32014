#include "harness.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace fs = std::filesystem;

namespace rawdat::fuzz {

Scratch::Scratch()
{
    std::error_code ec;
    const fs::path base = fs::is_directory("/dev/shm", ec) ? fs::path("/dev/shm") : fs::temp_directory_path();
    folder_ = base / ("rawdat-fuzz-" + std::to_string(::getpid()));
    fs::create_directories(folder_);
}

Scratch::~Scratch()
{
    std::error_code ec;
    fs::remove_all(folder_, ec);
}

void Scratch::clear() const
{
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(folder_, ec))
        fs::remove_all(e.path(), ec);
}

std::string Scratch::write(const std::string& name, const std::uint8_t* data, std::size_t size) const
{
    const std::string p = path(name);
    std::FILE* f = std::fopen(p.c_str(), "wb");
    if (!f)
        fault("cannot create the scratch file " + p);
    const bool ok = (size == 0 || std::fwrite(data, 1, size, f) == size);
    if (std::fclose(f) != 0 || !ok)
        fault("cannot write the scratch file " + p);
    return p;
}

std::vector<std::string> Scratch::files() const
{
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder_))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

const Scratch& freshScratch()
{
    static const Scratch scratch; // removed at exit
    scratch.clear();
    return scratch;
}

void fault(const std::string& what)
{
    std::fprintf(stderr, "FUZZ FAULT: %s\n", what.c_str());
    std::fflush(stderr);
    std::abort();
}

ScanRecords markedRecords()
{
    ScanRecords r;
    TScanHeader& h = r.h;
    h.KChannels = -7;
    h.Size = -12345;
    h.NbScans = -7;
    h.Comment1 = "marked comment 1";
    h.Comment2 = "marked comment 2";
    h.Comment3 = "marked comment 3";
    h.Date = "marked date";
    h.Wavelength = -99.5;
    h.Voltage = "marked v";
    h.Current = "marked c";
    h.CalName = "marked calibration";
    h.NbChannels = -7;
    TScanParams& p = r.p;
    p.ScanWords.fill(-7);
    p.AcqTime = -99.5f;
    p.Theta = -99.5f;
    p.Axis1 = -99.5f;
    p.Axis2 = -99.5f;
    p.Axis3 = -99.5f;
    p.Axis4 = -99.5f;
    p.Extra48 = 0xDEADBEEF;
    p.Extra52 = -99.5f;
    p.Source = "marked";
    std::int32_t* d = r.d.first();
    for (int i = 0; i < kDataCapacity; ++i)
        d[i] = -1000000 - i;
    return r;
}

const ScanRecords& marked()
{
    static const ScanRecords records = markedRecords();
    return records;
}

TCalibration markedCalibration()
{
    TCalibration c;
    c.CalWavelength = -99.5;
    c.CalExtra = 0xDEADBEEF;
    for (int k = 1; k <= 11; ++k)
        c.PolyCoef[k] = -99.5 - k;
    c.SplineFlag = -7;
    c.KnotCount = -7;
    for (int k = 1; k <= kMaxKnots; ++k) {
        c.KnotPos[k] = -1.0 - k;
        c.KnotAngle[k] = -2.0 - k;
        c.SplineB[k] = -3.0 - k;
        c.SplineC[k] = -4.0 - k;
        c.SplineD[k] = -5.0 - k;
    }
    return c;
}

bool sameRecords(const ScanRecords& a, const ScanRecords& b)
{
    return sameHeader(a.h, b.h) && sameParams(a.p, b.p) && sameCounts(a.d, b.d, 1, kDataCapacity);
}

bool sameHeader(const TScanHeader& a, const TScanHeader& b)
{
    TScanHeader x = a;
    TScanHeader y = b;
    x.Wavelength = y.Wavelength = 0.0;
    return x == y && sameBits(a.Wavelength, b.Wavelength);
}

bool sameParams(const TScanParams& a, const TScanParams& b)
{
    return a.ScanWords == b.ScanWords && sameBits(a.AcqTime, b.AcqTime) && sameBits(a.Extra20, b.Extra20) &&
           sameBits(a.Theta, b.Theta) && sameBits(a.Axis1, b.Axis1) && sameBits(a.Axis2, b.Axis2) &&
           sameBits(a.Axis3, b.Axis3) && sameBits(a.Extra40, b.Extra40) && sameBits(a.Axis4, b.Axis4) &&
           a.Extra48 == b.Extra48 && sameBits(a.Extra52, b.Extra52) && a.Source == b.Source;
}

bool sameCalibration(const TCalibration& a, const TCalibration& b)
{
    if (!sameBits(a.CalWavelength, b.CalWavelength) || a.CalExtra != b.CalExtra ||
        a.SplineFlag != b.SplineFlag || a.KnotCount != b.KnotCount)
        return false;
    for (int k = 1; k <= 11; ++k)
        if (!sameBits(a.PolyCoef[k], b.PolyCoef[k]))
            return false;
    for (int k = 1; k <= kMaxKnots; ++k)
        if (!sameBits(a.KnotPos[k], b.KnotPos[k]) || !sameBits(a.KnotAngle[k], b.KnotAngle[k]) ||
            !sameBits(a.SplineB[k], b.SplineB[k]) || !sameBits(a.SplineC[k], b.SplineC[k]) ||
            !sameBits(a.SplineD[k], b.SplineD[k]))
            return false;
    return true;
}

bool sameCounts(const TData& a, const TData& b, int from, int to)
{
    if (from > to)
        return true;
    return std::equal(a.first() + (from - 1), a.first() + to, b.first() + (from - 1));
}

TwoParts splitInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2)
        return {{}, {reinterpret_cast<const char*>(data), size}};
    const std::size_t want = data[0] | (std::size_t{data[1]} << 8);
    const std::size_t n = std::min(want, size - 2);
    const char* p = reinterpret_cast<const char*>(data) + 2;
    return {{p, n}, {p + n, size - 2 - n}};
}

std::string joinParts(std::string_view first, std::string_view second)
{
    std::string out;
    out += static_cast<char>(first.size() & 0xFF);
    out += static_cast<char>((first.size() >> 8) & 0xFF);
    out.append(first);
    out.append(second);
    return out;
}

} // namespace rawdat::fuzz
