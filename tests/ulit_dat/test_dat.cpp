// DAT detector files: exact bytes of the writer, the reader's rules, and every refusal.
#include "testutil.h"
#include "ulit_dat/errors.h"
#include "ulit_dat/litdat.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <string>

using namespace std::string_literals;

using namespace rawdat;
using rawdat::test::TempDir;

namespace {

struct Scan {
    TScanHeader h;
    TScanParams p;
    TData d;
};

Scan makeScan(int size)
{
    Scan s;
    s.h.Size = size;
    s.h.Date = "12/03/98 14:25:36";
    s.h.Comment1 = "quartz reference";
    s.h.Comment2 = "second line";
    s.h.Comment3 = "";
    s.h.CalName = "CAL12";
    s.h.Voltage = "40 kV";
    s.h.Current = "30 mA";
    s.h.Wavelength = 1.54056;
    s.p.AcqTime = 120.0f;
    for (int i = 1; i <= size; ++i)
        s.d[i] = i * 3 - 7;
    return s;
}

// Header position H[k] (1-based) in the file image.
std::uint8_t headerByte(const std::vector<std::uint8_t>& f, int k)
{
    const int block = (k - 1) / 128;
    return f[static_cast<std::size_t>(5 + block * 130 + 1 + (k - 1) % 128)];
}

std::string headerText(const std::vector<std::uint8_t>& f, int first, int length)
{
    std::string s;
    for (int k = first; k < first + length; ++k)
        s += static_cast<char>(headerByte(f, k));
    return s;
}

void putSingle(std::vector<std::uint8_t>& f, int channel, float v)
{
    const int b = (channel - 1) / 32;
    std::memcpy(&f[static_cast<std::size_t>(1045 + b * 130 + 1 + ((channel - 1) % 32) * 4)], &v, 4);
}

} // namespace

TEST(DatWriter, ExactLayoutOf4096Channels)
{
    TempDir dir;
    TLitdat lit;
    Scan s = makeScan(4096);
    const std::string f = dir.file("S1.DAT");
    lit.Ecr_DAT(f, s.h, s.p, s.d);
    const auto b = test::readBytes(f);
    ASSERT_EQ(b.size(), 17686u);
    EXPECT_EQ(b[0], 0x4B);
    EXPECT_EQ(b[1], 2);
    EXPECT_EQ(b[2] | (b[3] << 8), 4096);
    EXPECT_EQ(b[4], 2);
    for (int k = 0; k < 8; ++k) {
        const std::uint8_t frame = k < 7 ? 0x81 : 0x80;
        EXPECT_EQ(b[static_cast<std::size_t>(5 + k * 130)], frame);
        EXPECT_EQ(b[static_cast<std::size_t>(5 + k * 130 + 129)], frame);
    }
    for (int blk = 1; blk <= 128; ++blk) {
        const std::uint8_t frame = blk % 2 ? 0x81 : 0x80;
        EXPECT_EQ(b[static_cast<std::size_t>(1045 + (blk - 1) * 130)], frame) << blk;
        EXPECT_EQ(b[static_cast<std::size_t>(1045 + (blk - 1) * 130 + 129)], frame) << blk;
    }
    EXPECT_EQ(b.back(), 0x82);
    EXPECT_EQ(headerText(b, 1, 20), "12/03/98 14:25:36   ");
    EXPECT_EQ(headerText(b, 21, 20), "12/03/98 14:25:36   "); // a 17-character date leaves 18..20 blank
    EXPECT_EQ(headerText(b, 64, 7), "  00120");
    EXPECT_EQ(headerText(b, 90, 16), "quartz reference");
    EXPECT_EQ(headerText(b, 330, 9), "CAL12\0\0\0\0"s.substr(0, 9));
    EXPECT_EQ(headerByte(b, 511), 0);
    EXPECT_EQ(headerText(b, 540, 9), "40 kV    ");
    EXPECT_EQ(headerText(b, 550, 9), "30 mA    ");
    double wl = 0;
    std::memcpy(&wl, &b[512], 8);
    EXPECT_EQ(wl, 1.54056);
    float first = 0;
    std::memcpy(&first, &b[1046], 4);
    EXPECT_EQ(first, -4.0f);
}

TEST(DatWriter, AcquisitionTimeDigits)
{
    struct Row { float acq; const char* text; };
    const Row rows[] = {{120.0f, "00120"}, {123456.0f, "12345"}, {7.5f, "00008"}, {0.0f, "00000"}};
    TempDir dir;
    TLitdat lit;
    for (const auto& r : rows) {
        Scan s = makeScan(32);
        s.p.AcqTime = r.acq;
        lit.Ecr_DAT(dir.file("a.DAT"), s.h, s.p, s.d);
        EXPECT_EQ(headerText(test::readBytes(dir.file("a.DAT")), 66, 5), r.text) << r.acq;
    }
}

TEST(DatWriter, CopiesWholeAreasOfCommentsAndCalName)
{
    TempDir dir;
    TLitdat lit;
    Scan s = makeScan(32);
    s.h.Comment2 = std::string(80, 'z');
    s.h.Comment2 = "ab"; // leftover z's stay in the area and are written
    s.h.CalName = "LONGCALNAME";
    s.h.CalName = "X";
    lit.Ecr_DAT(dir.file("a.DAT"), s.h, s.p, s.d);
    const auto b = test::readBytes(dir.file("a.DAT"));
    EXPECT_EQ(headerText(b, 170, 80), "ab" + std::string(78, 'z'));
    EXPECT_EQ(headerText(b, 330, 9), "XONGCALNA");
}

TEST(DatReader, RoundTripAndPadding)
{
    TempDir dir;
    TLitdat lit;
    Scan s = makeScan(100);
    lit.Ecr_DAT(dir.file("r.DAT"), s.h, s.p, s.d);
    Scan back;
    back.h.NbScans = 7;
    for (int i = 1; i <= 200; ++i)
        back.d[i] = 999;
    ASSERT_TRUE(lit.Lect_Dat(dir.file("r.DAT"), back.h, back.p, back.d));
    EXPECT_EQ(back.h.Size, 100);
    EXPECT_EQ(back.h.Date.str(), "12/03/98 14:25:36   ");
    EXPECT_EQ(back.h.Comment1.str(), "quartz reference" + std::string(64, '\0')); // the whole 80-byte area
    EXPECT_EQ(back.h.CalName.str(), std::string("CAL12\0\0\0\0", 9));
    EXPECT_EQ(back.h.Voltage.str(), "40 kV    ");
    EXPECT_EQ(back.h.Current.str(), "30 mA    ");
    EXPECT_EQ(back.h.Wavelength, 1.54056);
    EXPECT_EQ(back.p.AcqTime, 120.0f);
    EXPECT_EQ(back.h.NbScans, 7); // not the reader's field
    for (int i = 1; i <= 96; ++i)
        ASSERT_EQ(back.d[i], i * 3 - 7) << i;
    for (int i = 97; i <= 100; ++i)
        EXPECT_EQ(back.d[i], 0) << "channels without a whole block are zero-filled";
    EXPECT_EQ(back.d[101], 999);
}

TEST(DatReader, Channel8191ZeroesTheLast32)
{
    TempDir dir;
    TLitdat lit;
    Scan s = makeScan(8191);
    lit.Ecr_DAT(dir.file("b.DAT"), s.h, s.p, s.d);
    Scan back;
    back.d[8192] = 77;
    ASSERT_TRUE(lit.Lect_Dat(dir.file("b.DAT"), back.h, back.p, back.d));
    EXPECT_EQ(back.d[8159], 8159 * 3 - 7);
    for (int i = 8160; i <= 8191; ++i)
        EXPECT_EQ(back.d[i], 0) << i;
    EXPECT_EQ(back.d[8192], 77);
}

TEST(DatReader, IntensitiesTruncateTowardZeroAndFramingIsIgnored)
{
    TempDir dir;
    TLitdat lit;
    Scan s = makeScan(64);
    lit.Ecr_DAT(dir.file("c.DAT"), s.h, s.p, s.d);
    auto b = test::readBytes(dir.file("c.DAT"));
    putSingle(b, 1, 12.9f);
    putSingle(b, 2, -3.7f);
    putSingle(b, 64, 2147483520.0f); // the largest Single below 2^31
    for (std::size_t off : {0u, 1u, 4u})
        b[off] = 0;
    for (int k = 0; k < 8; ++k)
        b[static_cast<std::size_t>(5 + k * 130)] = b[static_cast<std::size_t>(5 + k * 130 + 129)] = 0;
    b[1045] = b[1045 + 129] = b[1045 + 130] = b[1045 + 259] = b.back() = 0;
    test::writeBytes(dir.file("c.DAT"), b);
    Scan back;
    ASSERT_TRUE(lit.Lect_Dat(dir.file("c.DAT"), back.h, back.p, back.d));
    EXPECT_EQ(back.d[1], 12);
    EXPECT_EQ(back.d[2], -3);
    EXPECT_EQ(back.d[3], 2);
    EXPECT_EQ(back.d[64], 2147483520);
}

TEST(DatReader, AcquisitionTimeText)
{
    struct Row { const char* h64to70; float acq; };
    const Row rows[] = {
        {"  00120", 120.0f},
        {"   12.5", 12.5f},
        {"x12345y", 12345.0f}, // the seven are not a number: H[65..69]
        {"1.5e+02", 150.0f},
        {"abcdefg", 0.0f},     // neither: 0
        {"       ", 0.0f},
    };
    TempDir dir;
    TLitdat lit;
    Scan s = makeScan(32);
    lit.Ecr_DAT(dir.file("t.DAT"), s.h, s.p, s.d);
    const auto original = test::readBytes(dir.file("t.DAT"));
    for (const auto& r : rows) {
        auto b = original;
        for (int k = 0; k < 7; ++k)
            b[static_cast<std::size_t>(5 + 1 + 63 + k)] = static_cast<std::uint8_t>(r.h64to70[k]);
        test::writeBytes(dir.file("t.DAT"), b);
        Scan back;
        ASSERT_TRUE(lit.Lect_Dat(dir.file("t.DAT"), back.h, back.p, back.d));
        EXPECT_EQ(back.p.AcqTime, r.acq) << r.h64to70;
    }
}

TEST(DatReader, MissingFileReturnsFalseAndChangesNothing)
{
    TempDir dir;
    TLitdat lit;
    Scan s = makeScan(64);
    const Scan before = s;
    EXPECT_FALSE(lit.Lect_Dat(dir.file("absent.DAT"), s.h, s.p, s.d));
    // A folder is refused as what it is (it once counted as a file not opened).
    try {
        lit.Lect_Dat(dir.path().string(), s.h, s.p, s.d);
        ADD_FAILURE() << "a folder was read";
    } catch (const Refusal& e) {
        EXPECT_EQ(std::string(e.what()), dir.path().string() + ": not a regular file");
    }
    EXPECT_TRUE(s.h == before.h && s.p == before.p && s.d == before.d);
}

TEST(DatReader, ReadOnlyFileIsRead)
{
    TempDir dir;
    TLitdat lit;
    Scan s = makeScan(64);
    lit.Ecr_DAT(dir.file("ro.DAT"), s.h, s.p, s.d);
    std::filesystem::permissions(dir.file("ro.DAT"), std::filesystem::perms::owner_read);
    Scan back;
    EXPECT_TRUE(lit.Lect_Dat(dir.file("ro.DAT"), back.h, back.p, back.d));
    EXPECT_EQ(back.h.Size, 64);
}

TEST(DatReader, BadFilesAreRefusedAndChangeNothing)
{
    TempDir dir;
    TLitdat lit;
    Scan good = makeScan(64);
    lit.Ecr_DAT(dir.file("g.DAT"), good.h, good.p, good.d);
    const auto image = test::readBytes(dir.file("g.DAT"));

    struct Row {
        const char* name;
        std::vector<std::uint8_t> bytes;
        std::string message;
    };
    auto with = [&](auto edit) {
        auto b = image;
        edit(b);
        return b;
    };
    const std::string path = dir.file("bad.DAT");
    const Row rows[] = {
        {"count above capacity", with([](auto& b) { b[2] = 0x00; b[3] = 0x80; }),
         "declares 32768 channels; at most 32767 can be read"},
        {"NaN intensity", with([](auto& b) { putSingle(b, 5, std::numeric_limits<float>::quiet_NaN()); }),
         "channel 5 holds an intensity that is not a finite 32-bit count"},
        {"infinite intensity", with([](auto& b) { putSingle(b, 6, std::numeric_limits<float>::infinity()); }),
         "channel 6 holds an intensity that is not a finite 32-bit count"},
        {"intensity beyond int32", with([](auto& b) { putSingle(b, 7, 3e9f); }),
         "channel 7 holds an intensity that is not a finite 32-bit count (3000000000)"},
        {"data shorter than the count", with([](auto& b) { b.resize(1045 + 130 + 60); }),
         "Lecture au-delà de la fin de fichier (" + path + ", byte 1235)"},
        {"header cut short", with([](auto& b) { b.resize(700); }),
         "Lecture au-delà de la fin de fichier (" + path + ", byte 700)"},
        {"empty file", {}, "Lecture au-delà de la fin de fichier (" + path + ", byte 0)"},
        // A file that is not a DAT file is refused before its bytes are read as one.
        {"a PNG image", with([](auto& b) { std::memcpy(b.data(), "\x89PNG\r\n\x1A\n", 8); }),
         path + ": not a DAT file (it begins with 0x89 \"PNG\", as a PNG image does)"},
        {"a RAW file", with([](auto& b) { std::memcpy(b.data(), "RAW2", 4); }),
         path + ": not a DAT file (it begins with \"RAW\", as a RAW file does)"},
        {"a CAL file", with([](auto& b) { b[1] = 0x64; }),
         path + ": not a DAT file (it begins with 0x4B 0x64, as a CAL file does)"},
        {"another start byte", with([](auto& b) { b[0] = 0x4C; }),
         path + ": not a DAT file (it begins with 0x4C 0x02, not 0x4B 0x02)"},
        {"another first framing byte", with([](auto& b) { b[1] = 0x03; }),
         path + ": not a DAT file (it begins with 0x4B 0x03, not 0x4B 0x02)"},
        {"one byte", {0xFF}, path + ": not a DAT file (it begins with 0xFF, not 0x4B 0x02)"},
    };
    for (const auto& r : rows) {
        test::writeBytes(path, r.bytes);
        Scan s = makeScan(16);
        s.h.Size = 5;
        const Scan before = s;
        try {
            lit.Lect_Dat(path, s.h, s.p, s.d);
            ADD_FAILURE() << r.name << ": no error";
        } catch (const RawdatError& e) {
            EXPECT_NE(std::string(e.what()).find(r.message), std::string::npos) << r.name << ": " << e.what();
            EXPECT_NE(std::string(e.what()).find("bad.DAT"), std::string::npos) << r.name;
        }
        EXPECT_TRUE(s.h == before.h && s.p == before.p && s.d == before.d) << r.name;
    }
}

TEST(DatWriter, RefusesMoreChannelsThanTheBlockAndKeepsTheOldFile)
{
    TempDir dir;
    TLitdat lit;
    Scan s = makeScan(32);
    lit.Ecr_DAT(dir.file("k.DAT"), s.h, s.p, s.d);
    const auto before = test::readBytes(dir.file("k.DAT"));
    s.h.Size = kDataCapacity + 1;
    EXPECT_THROW(lit.Ecr_DAT(dir.file("k.DAT"), s.h, s.p, s.d), Refusal);
    EXPECT_EQ(test::readBytes(dir.file("k.DAT")), before);
    EXPECT_EQ(test::listFolder(dir.path()), std::vector<std::string>{"k.DAT"});
}
