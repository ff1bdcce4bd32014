// The exact bytes of what the conversions write, pinned by SHA-256: the number text over a wide
// spread of values, and every output file (and memo line and plotted point) of DAT and RAW
// conversions of generated scans, the bundled sample and real instrument files. The digests were
// recorded from the straightforward code before any speed work (the number text's once ties of
// large values were mended: 332 of its 488284 numbers, see test_numtext_exact.cpp); a
// shortcut that changes one byte anywhere fails here. `sha256sum` of the same files gives the same digests (the RAW2 name field,
// which holds the temporary folder's path, is checked apart and hashed as spaces).
#include "fixtures.h"
#include "sha256.h"
#include "testutil.h"
#include "ulit_dat/numtext.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <random>

using namespace rawdat;
using namespace rawdat::test;
namespace fs = std::filesystem;

namespace {

TEST(Sha256, KnownDigests)
{
    EXPECT_EQ(sha256Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    // 56 bytes: the length no longer fits the first padding block.
    EXPECT_EQ(sha256Hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ(sha256Hex(std::string(1000000, 'a')),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

// ---- number text ----

// Values in every region the fixed-point writer treats differently: any bit pattern, short
// decimals and their neighbours, exact binary ties at the written digit, Singles as the plot and
// the converters hold them, integers at the edges of 53 and 64 bits, and the special values.
std::string numberTextSample()
{
    std::mt19937_64 gen(20240601u);
    std::string out;
    auto put = [&out](double v, int decimals, int width) {
        appendFixed(out, v, decimals, width);
        out += '\n';
    };
    auto bits = [](std::uint64_t b) { return std::bit_cast<double>(b); };
    for (int i = 0; i < 40000; ++i) {
        const double v = bits(gen());
        put(v, static_cast<int>(gen() % 12), static_cast<int>(gen() % 14));
    }
    for (int i = 0; i < 40000; ++i) {
        // A random exponent from 2^-40 to 2^70, mantissa random.
        const auto exponent = static_cast<std::uint64_t>(1023 - 40 + gen() % 111);
        const double v = bits((gen() & 0x800FFFFFFFFFFFFFu) | (exponent << 52));
        put(v, static_cast<int>(gen() % 10), 7);
    }
    static constexpr double kPow10[] = {1, 10, 100, 1e3, 1e4, 1e5, 1e6, 1e7};
    for (int i = 0; i < 60000; ++i) {
        const double k = static_cast<double>(gen() % 100000000);
        double v = k / kPow10[gen() % 8];
        if (gen() % 4 == 0)
            v = std::nextafter(v, (gen() % 2) ? HUGE_VAL : -HUGE_VAL);
        if (gen() % 3 == 0)
            v = -v;
        put(v, static_cast<int>(gen() % 9), static_cast<int>(gen() % 11));
    }
    for (int d = 0; d <= 8; ++d) {
        for (int i = 0; i < 3000; ++i) {
            // (2k + 1) / 2^(d + 1): exactly halfway at the d-th decimal.
            const double tie = std::ldexp(static_cast<double>(2 * (gen() % 1000000) + 1), -(d + 1));
            for (double v : {tie, -tie, std::nextafter(tie, 0.0), std::nextafter(tie, HUGE_VAL)})
                put(v, d, 0);
        }
    }
    for (int i = 0; i < 60000; ++i) {
        // Singles: angles with 3 or 4 decimals, counts with none, as the text files hold them.
        const auto angle = static_cast<float>(static_cast<double>(gen() % 180000000) / 1e6);
        const auto count = static_cast<float>(static_cast<double>(gen() % 20000000) - 1000);
        put(angle, 3, 7);
        put(angle, 4, 7);
        put(count, 0, 10);
        put(count, 0, 7);
    }
    for (int shift = 50; shift <= 66; ++shift) {
        const double edge = std::ldexp(1.0, shift);
        for (double v : {edge, std::nextafter(edge, 0.0), std::nextafter(edge, HUGE_VAL), -edge})
            for (int d : {0, 1, 3})
                put(v, d, 10);
    }
    constexpr double kMax = std::numeric_limits<double>::max();
    constexpr double kTiny = std::numeric_limits<double>::denorm_min();
    for (double v : {0.0, -0.0, kTiny, -kTiny, 2.2250738585072014e-308, kMax, -kMax, HUGE_VAL, -HUGE_VAL,
                     std::numeric_limits<double>::quiet_NaN(), 0.0005, -0.0005, 0.0004999, -0.0004999, 0.5, -0.5})
        for (int d = 0; d <= 4; ++d)
            put(v, d, 8);
    return out;
}

TEST(PinnedOutputs, NumberText)
{
    const std::string text = numberTextSample();
    EXPECT_EQ(text.size(), 8076213u);
    EXPECT_EQ(sha256Hex(text), "9bce8ba98c47adbe74a6029507c5272ebb72090fe94d2b9aa577b942c0e65c61");
}

// ---- conversions ----

// What a conversion produced: every file of its folder but its inputs, the memo, the plot and
// any error, in one text whose digest is pinned.
struct Produced {
    std::string record;

    void addFile(const fs::path& file)
    {
        std::vector<std::uint8_t> bytes = readBytes(file.string());
        const std::string name = file.filename().string();
        // The RAW2 name field holds the first 32 characters of the RAW file's full path, and the
        // TXT file of a RAW2 file repeats it in its first comment.
        std::size_t nameAt = 0;
        if (file.extension() == ".RAW" && bytes.size() >= 40 && std::memcmp(bytes.data(), "RAW2", 4) == 0)
            nameAt = 8;
        const std::string txtComment = "\r\nCOMMENT1 RAW2";
        const auto found = std::search(bytes.begin(), bytes.end(), txtComment.begin(), txtComment.end());
        if (file.extension() == ".TXT" && found != bytes.end())
            nameAt = static_cast<std::size_t>(found - bytes.begin()) + txtComment.size();
        if (nameAt > 0 && nameAt + 32 <= bytes.size()) {
            std::string expected = replaceExtension(file.string(), "RAW").substr(0, 32);
            expected.resize(32, ' ');
            EXPECT_EQ(std::string(bytes.begin() + nameAt, bytes.begin() + nameAt + 32), expected) << name;
            std::fill(bytes.begin() + nameAt, bytes.begin() + nameAt + 32, ' ');
        }
        record += "file " + name + " " + std::to_string(bytes.size()) + " " +
                  sha256Hex(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size())) + "\n";
    }
    void addUi(const RecordingUi& ui, const TempDir& dir)
    {
        for (const auto& line : ui.memo)
            record += "memo " + line + "\n";
        std::string plot;
        for (std::size_t i = 0; i < ui.plotX.size(); ++i) {
            appendFixed(plot, ui.plotX[i], 9);
            plot += ' ';
            appendFixed(plot, ui.plotY[i], 9);
            plot += '\n';
        }
        record += "plot " + std::to_string(ui.plotX.size()) + " " + sha256Hex(plot) + "\n";
        for (std::string e : ui.errors) {
            const std::string folder = dir.path().string();
            for (std::size_t at; (at = e.find(folder)) != std::string::npos;)
                e.replace(at, folder.size(), "DIR");
            record += "error " + e + "\n";
        }
    }
};

// The files of `dir` whose extension is one of the outputs, in name order.
void addOutputs(Produced& p, const TempDir& dir, std::initializer_list<const char*> extensions)
{
    for (const std::string& name : listFolder(dir.path()))
        for (const char* ext : extensions)
            if (fs::path(name).extension() == ext)
                p.addFile(dir.path() / name);
}

// Runs one command on `path` (in `dir`) with a fresh state, as the converter does; returns the
// record of what it produced.
std::string convert(const TempDir& dir, const std::string& path, FileKind kind)
{
    Produced p;
    TLitdat lit;
    TRawDatState state;
    RecordingUi ui;
    ui.nextFile = path;
    TConversion conv(state, lit, ui);
    if (kind == FileKind::Dat)
        conv.runDat();
    else
        conv.runRaw();
    p.addUi(ui, dir);
    if (kind == FileKind::Dat)
        addOutputs(p, dir, {".RAW", ".2CL"});
    else
        addOutputs(p, dir, {".TXT", ".2CL"});
    return p.record;
}

// Converts `dat` and then the RAW file it gave; returns the record of both.
std::string convertDatThenRaw(const TempDir& dir, const std::string& dat)
{
    std::string record = convert(dir, dat, FileKind::Dat);
    const std::string raw = replaceExtension(dat, "RAW");
    if (fs::exists(raw))
        record += convert(dir, raw, FileKind::Raw);
    return record;
}

// A curved detector scale: about `perChannel` degree per channel around `centre` at mid-range.
TCalibration splineCalibration(int firstChannel, int lastChannel, int knots, double centre, double perChannel)
{
    TCalibration c;
    c.CalWavelength = 1.54056;
    c.SplineFlag = 1;
    c.KnotCount = static_cast<std::int16_t>(knots);
    const double mid = (firstChannel + lastChannel) / 2.0;
    for (int i = 1; i <= knots; ++i) {
        const double ch = firstChannel + (lastChannel - firstChannel) * (i - 1.0) / (knots - 1);
        const double u = ch - mid;
        c.KnotPos[i] = ch / 1000.0;
        c.KnotAngle[i] = centre + perChannel * u - 5e-9 * u * u + 1e-13 * u * u * u;
    }
    TLitdat lit;
    EXPECT_FALSE(lit.MakeCalibration(c));
    return c;
}

TCalibration polynomialCalibration(double a0, double a1, double a2)
{
    TCalibration c;
    c.CalWavelength = 1.78897;
    c.PolyCoef[1] = a0;
    c.PolyCoef[2] = a1;
    c.PolyCoef[3] = a2;
    return c;
}

// Counts with peaks and noise from raw generator output; `scale` sets their magnitude.
DatScan noisyScan(int size, const std::string& calName, std::uint32_t seed, double scale)
{
    DatScan s = datScan(size, calName);
    std::mt19937 gen(seed);
    for (int i = 1; i <= size; ++i) {
        double y = 100.0 + 40.0 * std::sin(i / 97.0);
        for (int peak = 1; peak <= 9; ++peak) {
            const double x = (i - size * peak / 10.0) / (3.0 + peak);
            y += 3000.0 * peak * std::exp(-x * x);
        }
        s.d[i] = static_cast<std::int32_t>(scale * y + static_cast<double>(gen() % 200));
    }
    return s;
}

TEST(PinnedOutputs, DatConversionsAndTheirRawFiles)
{
    struct Row {
        const char* what;
        int size;
        TCalibration cal;
        double scale;
        const char* digest;
    };
    const Row rows[] = {
        {"8192 channels, spline over all of them", 8192, splineCalibration(1, 8192, 24, 65.0, 0.01465), 1.0,
         "1dc5d5f6238c7dbd0e20002dd93d672739bdb61fa01ea03d3bfec70700fad275"},
        {"4096 channels, spline over part of them", 4096, splineCalibration(200, 3900, 12, 60.0, 0.0293), 3.0,
         "9fe8443a5bd3e8f52510f0ffdcb8870d7b627f60a07cd0084fc5f4f361b27470"},
        {"8191 channels: the last 32 read as zero", 8191, splineCalibration(1, 8191, 30, 70.0, 0.0147), 1.0,
         "06b8c8fa20a45003a21be950fe1cac5965791333c7923c304ce63e6820c100c5"},
        {"1000 channels: the last 8 in no whole block", 1000, splineCalibration(1, 1000, 6, 40.0, 0.05), 0.5,
         "2bf45843dff966732ededc7995bd3633f287d2e00afff29a043c42aedf576631"},
        {"polynomial calibration", 2048, polynomialCalibration(10.0, 0.031, 1.5e-7), 2.0,
         "3cfa99889e93fd8f570a3018335401e64ce65fbb3f270fd579891cef4b0b55a0"},
        {"counts beyond a Single's integers", 4096, splineCalibration(1, 4096, 16, 66.0, 0.0293), 3000.0,
         "ed58bde97634973e9426879290162d0b44bf9077ad5f5bcc454e3c4ef9b2d6ed"},
    };
    std::uint32_t seed = 1;
    for (const Row& row : rows) {
        TempDir dir;
        TLitdat lit;
        lit.Ecr_CAL(dir.file("PINCAL.CAL"), row.cal);
        const DatScan scan = noisyScan(row.size, "PINCAL", seed++, row.scale);
        const std::string dat = dir.file("SCAN.DAT");
        lit.Ecr_DAT(dat, scan.h, scan.p, scan.d);
        const std::string record = convertDatThenRaw(dir, dat);
        EXPECT_EQ(sha256Hex(record), row.digest) << row.what << "\n" << record;
    }
}

TEST(PinnedOutputs, TheBundledSample)
{
    TempDir dir;
    for (const char* f : {"LAB6.DAT", "CPS120.CAL"})
        fs::copy_file(fs::path(RAWDAT_SAMPLES) / f, dir.path() / f);
    const std::string record = convertDatThenRaw(dir, dir.file("LAB6.DAT"));
    EXPECT_EQ(sha256Hex(record), "a2a2837a06434b8bf21397fc3f793c30fa9c074198ad26c1a43888150386a38a") << record;
}

TEST(PinnedOutputs, RawConversions)
{
    struct Row {
        const char* what;
        const char* file;       // a real instrument file in tests/data, or nullptr for a generated one
        int steps;
        float start, step;
        std::int32_t (*count)(int i);
        const char* digest;
    };
    const Row rows[] = {
        {"real RAW1 file BT86", "raw/BT86.raw", 0, 0, 0, nullptr,
         "faa8c1e33b913c8282ec0f704874d3db4ba8190a617fe7f650e1e1ac8e90c4ee"},
        {"real RAW1 file Cu3Au-1", "raw/Cu3Au-1.raw", 0, 0, 0, nullptr,
         "70778fa76481ad98fc8bfa98f91bc7282fa0243c0f504df44cf5e4c98cec4d15"},
        {"real RAW1 file with three ranges", "raw/format1.raw", 0, 0, 0, nullptr,
         "9565f674388fe1a62c18f94b23d443ef72f8774dc0e3a7979567c32504f81b80"},
        {"real RAW4 file, 8 bytes per step", "raw4/TwoTheta_scan_scrambled.raw", 0, 0, 0, nullptr,
         "34d6f7a0032dddc291fd6975dee7d7d7692a99e17fa2adec1eea88707453503f"},
        {"every entry of Data", nullptr, kDataCapacity, 0.0f, 0.005f,
         [](int i) { return static_cast<std::int32_t>(i * 7919 % 100003); },
         "99b7ee120077b28b445fcc2828afe4da610ae53416c595379dfa689c380aacde"},
        {"negative and large counts", nullptr, 3000, 2.5f, 0.02f,
         [](int i) { return i % 3 == 0 ? -i * 1000 : (i % 3 == 1 ? 1000000007 - i * 977 : i * 131071); },
         "f7cad3bc24e4b382dcdfa6db85c349e58d3156b14318e83bd4b71e4976c49945"},
        {"a step of 0.0125 degree", nullptr, 5000, 10.125f, 0.0125f,
         [](int i) { return static_cast<std::int32_t>(1000 + i % 517); },
         "858894ca12bf74f4b9ca29f8c9d313891f0f51c79d08da8cdddb17c3b46e79b5"},
    };
    for (const Row& row : rows) {
        TempDir dir;
        const std::string raw = dir.file("SCAN.RAW");
        if (row.file) {
            fs::copy_file(fs::path(RAWDAT_TESTDATA) / row.file, raw);
            fs::permissions(raw, fs::perms::owner_write, fs::perm_options::add);
        } else {
            RawModule m;
            TScanHeader h;
            auto data = std::make_unique<TData>();
            h.Size = row.steps;
            h.Wavelength = 1.54056;
            h.Date = "12/03/98 14:25:36";
            h.Comment1 = "pinned";
            m.RangeInfo = {row.start, 0.0f, row.step, 1.0f};
            for (int i = 1; i <= row.steps; ++i)
                (*data)[i] = row.count(i);
            Ecr_RAW(m, raw, h, *data);
        }
        const std::string record = convert(dir, raw, FileKind::Raw);
        EXPECT_EQ(sha256Hex(record), row.digest) << row.what << "\n" << record;

        // The window converts a DAT file first, in the same state: nothing of its header (date,
        // comments) reaches the TXT file, which is the one a fresh state writes.
        const std::vector<std::uint8_t> fresh = readBytes(dir.file("SCAN.TXT"));
        for (const char* f : {"LAB6.DAT", "CPS120.CAL"})
            fs::copy_file(fs::path(RAWDAT_SAMPLES) / f, dir.path() / f);
        TLitdat lit;
        TRawDatState state;
        RecordingUi ui;
        TConversion conv(state, lit, ui);
        ui.nextFile = dir.file("LAB6.DAT");
        ASSERT_TRUE(conv.runDat()) << row.what;
        ui.nextFile = raw;
        ASSERT_TRUE(conv.runRaw()) << row.what;
        EXPECT_TRUE(readBytes(dir.file("SCAN.TXT")) == fresh) << row.what;
    }
}

} // namespace
