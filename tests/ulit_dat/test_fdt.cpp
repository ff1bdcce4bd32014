// FDT scan files: header and record bytes, the field order round trip, the calibration name on
// reading, out-of-range scans, refusals and file errors.
#include "testutil.h"

#include "ulit_dat/errors.h"
#include "ulit_dat/fdt.h"
#include "ulit_dat/litdat.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>

using namespace rawdat;
using rawdat::test::TempDir;
namespace fs = std::filesystem;

namespace {

using ByteVec = std::vector<std::uint8_t>;

std::int16_t i16At(const ByteVec& b, std::size_t off)
{
    std::int16_t v;
    std::memcpy(&v, b.data() + off, 2);
    return v;
}
std::int32_t i32At(const ByteVec& b, std::size_t off)
{
    std::int32_t v;
    std::memcpy(&v, b.data() + off, 4);
    return v;
}
float f32At(const ByteVec& b, std::size_t off)
{
    float v;
    std::memcpy(&v, b.data() + off, 4);
    return v;
}
std::string charsAt(const ByteVec& b, std::size_t off, std::size_t n)
{
    return std::string(b.begin() + static_cast<long>(off), b.begin() + static_cast<long>(off + n));
}

TScanHeader sampleHeader(std::int16_t kChannels, std::int16_t nbScans)
{
    TScanHeader h;
    h.KChannels = kChannels;
    h.NbScans = nbScans;
    h.Comment1 = "first comment";
    h.Comment2 = "second comment";
    h.Comment3 = "third comment, not stored";
    h.Extra1 = -7;
    h.Extra2 = 0x01020304;
    h.Extra3 = 99;
    h.ExtraFlag1 = 0xAB;
    h.Extra4 = 1;
    h.ExtraText20 = std::string(20, ' ');
    h.ExtraText9 = std::string(9, ' ');
    h.Date = "12/03/2021 10:11:12";
    h.ExtraReal0 = Real48::fromValue(0.01);
    h.ExtraFlag2 = 0xCD;
    h.Wavelength = 1.54056;
    h.Voltage = "F1B      ";
    h.Current = "000000000";
    h.ExtraReal1 = Real48::fromValue(1.5);
    h.ExtraReal4 = Real48::fromValue(-2.0);
    h.CalName = "run7.CAL";
    h.ExtraFlag3 = 1;
    h.ExtraWord1 = 1;
    h.NbChannels = 1280;
    return h;
}

// Extra20, Theta, Axis1, Axis2, Axis3, Extra40, Axis4 = 1..7.
TScanParams sampleParams(float base = 0.0f)
{
    TScanParams p;
    p.ScanWords = {1, -2, 3, -4, 5, -6, 7};
    p.AcqTime = 100.5f + base;
    p.Extra20 = 1.0f + base;
    p.Theta = 2.0f + base;
    p.Axis1 = 3.0f + base;
    p.Axis2 = 4.0f + base;
    p.Axis3 = 5.0f + base;
    p.Extra40 = 6.0f + base;
    p.Axis4 = 7.0f + base;
    p.Extra48 = 0xDEADBEEF;
    p.Extra52 = 0.25f;
    p.Source = "label";
    return p;
}

std::unique_ptr<TData> countsFrom(std::int32_t first, int n)
{
    auto d = std::make_unique<TData>();
    for (int i = 1; i <= n; ++i)
        (*d)[i] = first + i;
    return d;
}

// The current folder, set for the life of the object.
class InFolder {
public:
    explicit InFolder(const fs::path& p) : old_(fs::current_path()) { fs::current_path(p); }
    ~InFolder() { fs::current_path(old_); }
    InFolder(const InFolder&) = delete;
    InFolder& operator=(const InFolder&) = delete;

private:
    fs::path old_;
};

// An FDT file in a fresh folder: the header `h` and scans 1..`written`, each of sampleParams()
// and counts 1, 2, ...; with what a read needs.
struct FdtFile {
    TempDir dir;
    std::string file = dir.file("a.fdt");
    TLitdat lit;
    TScanHeader h;
    TScanParams p;                                          // receives reads
    std::unique_ptr<TData> data = std::make_unique<TData>(); // receives reads

    explicit FdtFile(TScanHeader header, int written = 0) : h(std::move(header))
    {
        lit.writeInitFDT(file, h);
        for (int k = 1; k <= written; ++k)
            lit.EcrScanFDT(k, file, sampleParams(), h, *countsFrom(0, 1024 * h.KChannels));
    }
    bool load(std::int32_t scan, TScanHeader& into, bool readHeader = true)
    {
        return lit.LoadScanFDT(scan, file, readHeader, p, into, *data);
    }
};

template <class F>
std::string refusalOf(F&& f)
{
    try {
        f();
    } catch (const Refusal& e) {
        return e.what();
    }
    return "no refusal";
}

} // namespace

TEST(FdtHeader, BytesAtTheirOffsets)
{
    TScanHeader header = sampleHeader(1, 3);
    header.Comment1 = std::string(80, 'x'); // only the first 79 characters are stored
    FdtFile f(header);
    const TScanHeader& h = f.h;

    const ByteVec b = test::readBytes(f.file);
    ASSERT_EQ(b.size(), kFdtHeaderWritten);
    EXPECT_EQ(i16At(b, 0), 1);
    EXPECT_EQ(i16At(b, 2), 3);
    EXPECT_EQ(b[4], 80);
    EXPECT_EQ(charsAt(b, 5, 79), std::string(79, 'x'));
    EXPECT_EQ(b[84], 14);
    EXPECT_EQ(charsAt(b, 85, 14), "second comment");
    EXPECT_EQ(i32At(b, 164), -7);
    EXPECT_EQ(i32At(b, 168), 0x01020304);
    EXPECT_EQ(i32At(b, 172), 99);
    EXPECT_EQ(b[176], 0xAB);
    EXPECT_EQ(i32At(b, 177), 1);
    EXPECT_EQ(b[181], 20);
    EXPECT_EQ(charsAt(b, 182, 19), std::string(19, ' '));
    EXPECT_EQ(b[201], 9);
    EXPECT_EQ(charsAt(b, 202, 8), std::string(8, ' '));
    EXPECT_EQ(b[210], 19);
    EXPECT_EQ(charsAt(b, 211, 19), "12/03/2021 10:11:12");
    EXPECT_EQ(charsAt(b, 230, 20), charsAt(b, 210, 20));
    EXPECT_EQ(Real48::fromBytes(b.data() + 250).value(), Real48::fromValue(0.01).value());
    EXPECT_EQ(b[256], 0xCD);
    double wl;
    std::memcpy(&wl, b.data() + 257, 8);
    EXPECT_EQ(wl, 1.54056);
    EXPECT_EQ(b[265], 9);
    EXPECT_EQ(charsAt(b, 266, 8), "F1B     ");
    EXPECT_EQ(b[274], 9);
    EXPECT_EQ(charsAt(b, 275, 8), "00000000");
    EXPECT_EQ(Real48::fromBytes(b.data() + 283).value(), 1.5);
    EXPECT_EQ(Real48::fromBytes(b.data() + 289).value(), 0.0);
    EXPECT_EQ(Real48::fromBytes(b.data() + 301).value(), -2.0);
    EXPECT_EQ(b[307], 1);
    EXPECT_EQ(i16At(b, 308), 1);
    EXPECT_EQ(i16At(b, 310), 1280);
    // run7.CAL: length byte 255, its 8 characters and 247 blanks.
    EXPECT_EQ(b[312], 255);
    EXPECT_EQ(charsAt(b, 313, 255), "run7.CAL" + std::string(247, ' '));
    for (std::size_t i = 568; i < b.size(); ++i)
        ASSERT_EQ(b[i], 0) << "reserved byte " << i;
    // The caller's CalName is padded too.
    EXPECT_EQ(h.CalName.length(), 255u);
    EXPECT_EQ(h.CalName.str(), "run7.CAL" + std::string(247, ' '));
}

TEST(FdtHeader, ReplacesAnExistingLongerFile)
{
    TempDir dir;
    const std::string file = dir.file("a.fdt");
    test::writeBytes(file, ByteVec(70000, 0xFF));
    TScanHeader h = sampleHeader(1, 1);
    TLitdat().writeInitFDT(file, h);
    EXPECT_EQ(test::readBytes(file).size(), kFdtHeaderWritten);
    EXPECT_EQ(test::listFolder(dir.path()), std::vector<std::string>{"a.fdt"});
}

TEST(FdtRecord, FieldsInFileOrderAtTheRecordOffset)
{
    FdtFile f(sampleHeader(1, 2));
    // Record 2 alone: records may be written in any order.
    f.lit.EcrScanFDT(2, f.file, sampleParams(), f.h, *countsFrom(1000, 1024));

    const ByteVec b = test::readBytes(f.file);
    ASSERT_EQ(b.size(), 16448u + 2 * 4160u);
    for (std::size_t i = kFdtHeaderWritten; i < 16448 + 4160; ++i)
        ASSERT_EQ(b[i], 0) << "gap byte " << i;
    const std::size_t rec = 16448 + 4160; // record 2 with B = 1
    EXPECT_EQ(i16At(b, rec), 1);
    EXPECT_EQ(i16At(b, rec + 12), 7);
    EXPECT_EQ(f32At(b, rec + 14), 100.5f);
    EXPECT_EQ(i32At(b, rec + 18), 1001);
    EXPECT_EQ(i32At(b, rec + 18 + 4 * 1023), 2024);
    const std::size_t d = rec + 18 + 4096;
    const float fileOrder[7] = {2.0f, 7.0f, 1.0f, 3.0f, 4.0f, 5.0f, 6.0f};
    for (std::size_t i = 0; i < 7; ++i)
        EXPECT_EQ(f32At(b, d + 4 * i), fileOrder[i]) << "field " << i;
    EXPECT_EQ(static_cast<std::uint32_t>(i32At(b, d + 28)), 0xDEADBEEFu);
    EXPECT_EQ(f32At(b, d + 32), 0.25f);
    EXPECT_EQ(b[d + 36], 5);
    EXPECT_EQ(charsAt(b, d + 37, 5), "label");
    EXPECT_EQ(d + 46, b.size());
}

TEST(FdtRecord, FileSizesByKChannels)
{
    struct Row { std::int16_t kChannels; int scans; std::size_t size; };
    const Row rows[] = {
        {4, 3, 65792},          // 16448 + 3 x 16448
        {1, 1, 16448 + 4160},
        {1, 3, 16448 + 3 * 4160},
        {0, 2, 16448 + 2 * 64}, // no counts at all
        {31, 1, 16448 + 64 + 4096 * 31},
    };
    for (const auto& r : rows) {
        FdtFile f(sampleHeader(r.kChannels, static_cast<std::int16_t>(r.scans)), r.scans);
        EXPECT_EQ(test::readBytes(f.file).size(), r.size) << r.kChannels << " " << r.scans;
    }
}

TEST(FdtRoundTrip, EveryScanReadsBackItsCountsAndFields)
{
    FdtFile f(sampleHeader(2, 3));
    InFolder here(f.dir.path());
    const TScanHeader& h = f.h;
    for (int k = 3; k >= 1; --k)
        f.lit.EcrScanFDT(k, f.file, sampleParams(10.0f * k), h, *countsFrom(100 * k, 2048));

    TScanHeader back;
    ASSERT_TRUE(f.load(1, back));
    EXPECT_EQ(back.KChannels, 2);
    EXPECT_EQ(back.Size, 2048);
    EXPECT_EQ(back.NbScans, 3);
    EXPECT_EQ(back.Comment1.str(), "first comment");
    EXPECT_EQ(back.Comment2.str(), "second comment");
    EXPECT_EQ(back.Comment3.str(), ""); // not stored
    EXPECT_EQ(back.Date.str(), "12/03/2021 10:11:12");
    EXPECT_EQ(back.ExtraReal0, h.ExtraReal0);
    EXPECT_EQ(back.ExtraReal1, h.ExtraReal1);
    EXPECT_EQ(back.ExtraReal4, h.ExtraReal4);
    EXPECT_EQ(back.Wavelength, 1.54056);
    EXPECT_EQ(back.Voltage.str(), std::string("F1B     ") + '\0'); // w = 9: the 9th is the receiver's
    EXPECT_EQ(back.Extra2, h.Extra2);
    EXPECT_EQ(back.ExtraFlag1, h.ExtraFlag1);
    EXPECT_EQ(back.ExtraFlag2, h.ExtraFlag2);
    EXPECT_EQ(back.NbChannels, 1280);
    EXPECT_EQ(back.CalName.str(), "None"); // no run7.CAL in the current folder
    for (int k = 1; k <= 3; ++k) {
        ASSERT_TRUE(f.load(k, back, false)) << k;
        EXPECT_EQ(f.p, sampleParams(10.0f * k)) << k;
        EXPECT_EQ((*f.data)[1], 100 * k + 1);
        EXPECT_EQ((*f.data)[2048], 100 * k + 2048);
        EXPECT_EQ((*f.data)[2049], 0);
    }
}

TEST(FdtRoundTrip, ScanFieldsKeepTheirBitsExactly)
{
    FdtFile f(sampleHeader(1, 1));
    TScanParams p = sampleParams();
    p.Extra20 = std::bit_cast<float>(0x7FA00001u); // a NaN with a payload
    p.Extra40 = std::bit_cast<float>(0x80000000u); // -0
    f.lit.EcrScanFDT(1, f.file, p, f.h, *countsFrom(0, 1024));
    TScanHeader back;
    ASSERT_TRUE(f.load(1, back));
    EXPECT_EQ(std::bit_cast<std::uint32_t>(f.p.Extra20), 0x7FA00001u);
    EXPECT_EQ(std::bit_cast<std::uint32_t>(f.p.Extra40), 0x80000000u);
}

TEST(FdtRead, FullTextFieldsKeepTheReceiversLastCharacter)
{
    TScanHeader h = sampleHeader(1, 1);
    h.Comment1 = std::string(80, 'c');
    h.Date = std::string(20, 'd');
    FdtFile f(h);
    TScanParams p = sampleParams();
    p.Source = "123456789"; // w = 10: stored whole
    f.lit.EcrScanFDT(1, f.file, p, f.h, *countsFrom(0, 1024));

    TScanHeader back;
    back.Comment1 = std::string(80, '#');
    back.Date = std::string(20, '#');
    ASSERT_TRUE(f.load(1, back));
    EXPECT_EQ(back.Comment1.length(), 80u);
    EXPECT_EQ(back.Comment1.str(), std::string(79, 'c') + "#");
    EXPECT_EQ(back.Date.str(), std::string(19, 'd') + "#");
    EXPECT_EQ(f.p.Source.str(), "123456789");
}

TEST(FdtRead, CalibrationNameMovedToTheCurrentFolder)
{
    struct Row { const char* stored; const char* existing; const char* expectedBase; };
    const Row rows[] = {
        {"C:\\old\\run7.CAL", "run7.CAL", "run7.CAL"},
        {"C:\\old\\run7.CAL", "run7.cal", "run7.cal"},  // differs only in letter case
        {"/old/dir/run7.CAL", "run7.CAL", "run7.CAL"},
        {"D:\\x/y\\run7.CAL", "run7.CAL", "run7.CAL"},  // the last separator of either kind
        {"run7.CAL", "run7.CAL", "run7.CAL"},           // no folder: the whole name
        {"C:\\old\\run7.CAL", "other.CAL", nullptr},
        {"None", "x.CAL", nullptr},
        {" run7.CAL", "run7.CAL", nullptr},              // a leading blank
        {"\x01run7.CAL", "run7.CAL", nullptr},           // a leading control byte
        {"C:\\old\\", "run7.CAL", nullptr},              // no name after the folder
    };
    for (const auto& r : rows) {
        TScanHeader h = sampleHeader(1, 0);
        h.CalName = r.stored;
        FdtFile f(h);
        InFolder here(f.dir.path());
        test::writeText(f.dir.file(r.existing), "cal");
        TScanHeader back;
        EXPECT_FALSE(f.load(1, back));
        if (!r.expectedBase) {
            EXPECT_EQ(back.CalName.str(), "None") << r.stored;
            continue;
        }
        const std::string path = (fs::current_path() / r.expectedBase).string();
        const std::size_t padding = 254 - std::string(r.stored).size();
        EXPECT_EQ(back.CalName.str(), (path + std::string(padding, ' ')).substr(0, 255)) << r.stored;
    }
}

TEST(FdtRead, CalibrationNameEndsAtAZeroByte)
{
    FdtFile f(sampleHeader(1, 0));
    InFolder here(f.dir.path());
    test::writeText(f.dir.file("run7.CAL"), "cal");
    ByteVec b = test::readBytes(f.file);
    const std::string stored = std::string("run7.CAL") + '\0' + "garbage";
    std::copy(stored.begin(), stored.end(), b.begin() + 313);
    test::writeBytes(f.file, b);
    TScanHeader back;
    f.load(0, back);
    EXPECT_EQ(back.CalName.str(), (fs::current_path() / "run7.CAL").string());
}

TEST(FdtRead, ScanOutsideTheFileChangesNeitherRecordNorData)
{
    FdtFile f(sampleHeader(1, 2), 2);
    for (std::int32_t k : {0, 3, -1}) {
        f.p = sampleParams(50.0f);
        f.data = countsFrom(7, 100);
        TScanHeader back;
        EXPECT_FALSE(f.load(k, back)) << k;
        EXPECT_EQ(f.p, sampleParams(50.0f)) << k;
        EXPECT_EQ((*f.data)[1], 8) << k;
        EXPECT_EQ(back.NbScans, 2) << k; // the header is read all the same
    }
}

TEST(FdtRead, ReadingAScanClearsEveryEntryOfData)
{
    FdtFile f(sampleHeader(1, 1), 1);
    f.data = countsFrom(5, kDataCapacity);
    TScanHeader back;
    ASSERT_TRUE(f.load(1, back));
    EXPECT_EQ((*f.data)[1024], 1024);
    EXPECT_EQ((*f.data)[1025], 0);
    EXPECT_EQ((*f.data)[kDataCapacity], 0);
}

TEST(FdtRead, UsesTheCallersHeaderWithoutReadingIt)
{
    FdtFile f(sampleHeader(1, 2));
    f.lit.EcrScanFDT(2, f.file, sampleParams(3.0f), f.h, *countsFrom(0, 1024));
    TScanHeader caller;
    caller.KChannels = 1;
    caller.NbScans = 2;
    caller.Comment1 = "mine";
    ASSERT_TRUE(f.load(2, caller, false));
    EXPECT_EQ(caller.Comment1.str(), "mine");
    EXPECT_EQ(caller.Size, 1024);
    EXPECT_EQ(f.p.Theta, 5.0f);
    caller.NbScans = 1; // the caller's count decides
    EXPECT_FALSE(f.load(2, caller, false));
}

TEST(FdtRead, ReadOnlyFileIsRead)
{
    FdtFile f(sampleHeader(1, 1), 1);
    fs::permissions(f.file, fs::perms::owner_read, fs::perm_options::replace);
    TScanHeader back;
    EXPECT_TRUE(f.load(1, back));
}

TEST(FdtErrors, ShortFilesFailWithTheEndOfFileErrorAndChangeNothing)
{
    FdtFile f(sampleHeader(1, 3), 1); // three scans declared, one written

    // The offset named is where the missing bytes begin: the end of the file.
    struct Row { std::int32_t scan; std::size_t truncateTo; std::int64_t offset; };
    const Row rows[] = {
        {2, 0, 16448 + 4160},            // record 2 lies past the end
        {1, 16448 + 4159, 16448 + 4159}, // record 1 is one byte short
        {1, 260, 260},                   // the header ends inside Wavelength
        {1, 0x230, 0x230},               // the header ends inside CalName
    };
    const ByteVec whole = test::readBytes(f.file);
    for (const auto& r : rows) {
        ByteVec b = whole;
        if (r.truncateTo)
            b.resize(r.truncateTo);
        test::writeBytes(f.file, b);
        TScanHeader back;
        back.Comment1 = "kept";
        f.p = TScanParams{};
        f.data = countsFrom(9, 10);
        try {
            f.load(r.scan, back);
            ADD_FAILURE() << "no error for scan " << r.scan;
        } catch (const InOutError& e) {
            EXPECT_EQ(e.text(), iotext::kEndOfFile);
            EXPECT_EQ(e.offset(), r.offset) << r.scan << " " << r.truncateTo;
        }
        EXPECT_EQ(back.Comment1.str(), "kept");
        EXPECT_EQ(f.p, TScanParams{});
        EXPECT_EQ((*f.data)[1], 10);
    }
}

TEST(FdtErrors, MissingFiles)
{
    TempDir dir;
    const std::string file = dir.file("none.fdt");
    TLitdat lit;
    TScanHeader h = sampleHeader(1, 1);
    TScanParams p;
    auto data = std::make_unique<TData>();
    try {
        lit.EcrScanFDT(1, file, p, h, *data); // the file must have been created first
        ADD_FAILURE();
    } catch (const InOutError& e) {
        EXPECT_EQ(e.text(), iotext::kNotFound);
    }
    EXPECT_FALSE(fs::exists(file));
    try {
        lit.LoadScanFDT(1, file, true, p, h, *data);
        ADD_FAILURE();
    } catch (const InOutError& e) {
        EXPECT_EQ(e.text(), iotext::kNotFound);
    }
}

TEST(FdtErrors, Refusals)
{
    FdtFile f(sampleHeader(1, 1));
    const std::string& file = f.file;
    TLitdat& lit = f.lit;
    // A file whose header says 32 blocks.
    const std::string wide = f.dir.file("wide.fdt");
    ByteVec b = test::readBytes(file);
    b[0] = 32;
    test::writeBytes(wide, b);
    const std::string other = f.dir.file("b.fdt");

    const std::string tooWide = ": KChannels is 32: a scan of 1024 x KChannels counts must fit the "
                                "32767 entries of Data (KChannels 0 to 31)";
    const auto params = sampleParams();
    TScanHeader h32 = sampleHeader(32, 1);
    TScanHeader hNeg = sampleHeader(-1, 1);
    struct Row { std::string what; std::function<void()> call; std::string message; };
    const Row rows[] = {
        {"init 32", [&] { lit.writeInitFDT(other, h32); }, other + tooWide},
        {"init -1", [&] { lit.writeInitFDT(other, hNeg); },
         other + ": KChannels is -1: a scan of 1024 x KChannels counts must fit the "
                 "32767 entries of Data (KChannels 0 to 31)"},
        {"scan 32", [&] { lit.EcrScanFDT(1, file, params, h32, *f.data); }, file + tooWide},
        {"scan 0", [&] { lit.EcrScanFDT(0, file, params, f.h, *f.data); }, file + ": scan number 0 is below 1"},
        {"scan -3", [&] { lit.EcrScanFDT(-3, file, params, f.h, *f.data); }, file + ": scan number -3 is below 1"},
        {"scan 32768", [&] { lit.EcrScanFDT(32768, file, params, f.h, *f.data); },
         file + ": scan number 32768 is above 32767, the most scans an FDT header counts"},
        {"load header 32", [&] { TScanHeader h; lit.LoadScanFDT(1, wide, true, f.p, h, *f.data); }, wide + tooWide},
        {"load caller 32", [&] { TScanHeader h = h32; f.load(1, h, false); }, file + tooWide},
    };
    for (const auto& r : rows)
        EXPECT_EQ(refusalOf(r.call), r.message) << r.what;
    EXPECT_FALSE(fs::exists(other));
    EXPECT_EQ(test::readBytes(file).size(), kFdtHeaderWritten); // no record written
}
