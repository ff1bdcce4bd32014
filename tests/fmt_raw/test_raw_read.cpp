// The RAW reader: round trip through the writer, RAW2 ranges and where their data starts, RAW1,
// RAW4, the header texts, every range of a file, rounding of the intensities, and every refused
// or truncated file (records left as they were).
#include "fmt_raw/raw.h"
#include "fmt_raw/raw_images.h"
#include "testutil.h"
#include "ulit_dat/errors.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <functional>
#include <limits>
#include <optional>

using namespace rawdat;
using namespace rawdat::test;

namespace {

// The records as a previous conversion left them.
struct Records {
    RawModule M;
    TScanHeader H;
    TScanParams P;
    TData Data;
    Records()
    {
        H.KChannels = 9;
        H.Size = 7;
        H.NbScans = 4;
        H.Comment1 = "old comment 1";
        H.Comment2 = "old comment 2";
        H.Comment3 = "old comment 3";
        H.Extra1 = H.Extra2 = H.Extra3 = 5;
        H.ExtraFlag1 = H.ExtraFlag2 = H.ExtraFlag3 = 6;
        H.Extra4 = 8;
        H.ExtraText20 = "x";
        H.ExtraText9 = "y";
        H.Date = "01/01/01 00:00:00";
        H.ExtraReal0 = H.ExtraReal1 = H.ExtraReal2 = H.ExtraReal3 = H.ExtraReal4 = Real48::fromValue(3.0);
        H.Wavelength = 9.0;
        H.Voltage = "40";
        H.Current = "30";
        H.CalName = "OLD";
        H.ExtraWord1 = 2;
        H.NbChannels = 1024;
        P.ScanWords.fill(3);
        P.AcqTime = 99.0f;
        P.Extra20 = 20.0f;
        P.Theta = P.Axis1 = P.Axis2 = P.Axis3 = P.Axis4 = 77.0f;
        P.Extra40 = 40.0f;
        P.Extra48 = 48;
        P.Extra52 = 52.0f;
        P.Source = "DAT";
        M.RangeInfo = {1.0f, 2.0f, 3.0f, 4.0f};
        M.AnodeIndex = 2;
        M.Ranges = {TRawRange{{6.0f, 0.0f, 7.0f, 8.0f}, {9, 9}, std::nullopt}};
        M.MainRange = 5;
        Data.fill(-7);
    }
    void read(const std::string& path) { Lect_RAW(M, path, H, P, Data); }
};

void expectReaderDefaults(const TScanHeader& h)
{
    EXPECT_EQ(h.KChannels, 3);
    EXPECT_EQ(h.NbScans, 1);
    EXPECT_EQ(h.Extra1, 0);
    EXPECT_EQ(h.Extra2, 0);
    EXPECT_EQ(h.Extra3, 0);
    EXPECT_EQ(h.ExtraFlag1, 0);
    EXPECT_EQ(h.Extra4, 1);
    EXPECT_EQ(h.ExtraText20.str(), std::string(20, ' '));
    EXPECT_EQ(h.ExtraText9.str(), std::string(9, ' '));
    EXPECT_EQ(h.ExtraReal0.value(), 0.0);
    EXPECT_EQ(h.ExtraFlag2, 0);
    EXPECT_EQ(h.Voltage.str(), "000000000");
    EXPECT_EQ(h.Current.str(), "000000000");
    EXPECT_EQ(h.ExtraReal1.value(), 0.0);
    EXPECT_EQ(h.ExtraReal4.value(), 0.0);
    EXPECT_EQ(h.CalName.str(), "None");
    EXPECT_EQ(h.ExtraFlag3, 1);
    EXPECT_EQ(h.ExtraWord1, 1);
    EXPECT_EQ(h.NbChannels, 4096);
}

void expectRawParams(const TScanParams& p, float acqTime)
{
    EXPECT_EQ(p.AcqTime, acqTime);
    EXPECT_EQ(p.Extra48, 0u);
    EXPECT_EQ(p.Extra52, 1.0f);
    EXPECT_EQ(p.Source.str(), "   RAW   ");
    EXPECT_EQ(p.ScanWords, (std::array<std::int16_t, 7>{}));
    EXPECT_EQ(p.Extra20, 20.0f); // not the reader's
    EXPECT_EQ(p.Extra40, 40.0f);
}

// Reads a file that must fail with an error of type E; the records must come out as they went in.
template <class E>
std::optional<E> readFails(const std::string& path, const std::string& what)
{
    Records r;
    const Records before;
    std::optional<E> caught;
    try {
        r.read(path);
        ADD_FAILURE() << what << ": read without an error";
    } catch (const E& e) {
        caught = e;
    }
    EXPECT_TRUE(r.H == before.H) << what;
    EXPECT_TRUE(r.P == before.P) << what;
    EXPECT_TRUE(r.M.RangeInfo == before.M.RangeInfo) << what;
    EXPECT_TRUE(r.M.Ranges == before.M.Ranges && r.M.MainRange == before.M.MainRange) << what;
    EXPECT_TRUE(r.Data == before.Data) << what;
    return caught;
}

std::vector<float> ramp(int n, float first)
{
    std::vector<float> v;
    for (int i = 0; i < n; ++i)
        v.push_back(first + static_cast<float>(i));
    return v;
}

} // namespace

TEST(LectRaw, ReadsBackWhatTheWriterWrote)
{
    TempDir dir;
    const std::string path = dir.file("round_trip_of_a_written_file.raw");
    RawModule w;
    TScanHeader wh;
    TData wd;
    wh.Comment1 = std::string(80, 'a');
    wh.Comment2 = std::string(80, 'b');
    wh.Date = "12/03/1998 14:25:36 ";
    wh.Wavelength = 1.78897;
    wh.Size = 1500;
    w.RangeInfo = {10.25f, 0.0f, 0.02f, 3.0f};
    for (int i = 1; i <= 1500; ++i)
        wd[i] = i % 2 ? i * 1000 : -i;
    Ecr_RAW(w, path, wh, wd);

    Records r;
    r.read(path);
    EXPECT_EQ(r.H.Size, 1500);
    EXPECT_EQ(r.H.Comment1.str(), "RAW2" + path.substr(0, 32) + std::string(44, ' '));
    EXPECT_EQ(r.H.Comment2.str(), std::string(80, 'a'));
    EXPECT_EQ(r.H.Comment3.str(), std::string(1, ' ').append(47, 'b').append(32, ' '));
    EXPECT_EQ(r.H.Date.str(), "  12-Mar-1914:25:36 "); // the time field's zero byte as a space
    EXPECT_EQ(r.H.Wavelength, static_cast<double>(1.78897f));
    expectReaderDefaults(r.H);
    EXPECT_EQ(r.M.RangeInfo, (TRangeInfo{10.25f, 2.0f, 0.02f, 1.0f})); // Stop kept; time per step 1
    EXPECT_EQ(r.P.Theta, 5.125f);
    EXPECT_EQ(r.P.Axis1, -1000000.0f);
    EXPECT_EQ(r.P.Axis2, -1000000.0f);
    EXPECT_EQ(r.P.Axis3, -1000000.0f);
    EXPECT_EQ(r.P.Axis4, -1000000.0f);
    expectRawParams(r.P, 1500.0f);
    for (int i = 1; i <= 1500; ++i)
        ASSERT_EQ(r.Data[i], wd[i]) << i;
    EXPECT_EQ(r.Data[1501], -7);
    EXPECT_EQ(r.M.AnodeIndex, 2); // the reader does not choose anodes
}

TEST(LectRaw, Raw2FieldsGoWhereTheyBelong)
{
    TempDir dir;
    const std::string path = dir.file("fields.raw");
    Raw2Range range;
    range.stepTime = 0.5f;
    range.values = ramp(10, 100.0f);
    Image b = raw2Image({range});
    putText(b, 10, std::string("\t\0", 2)); // bytes below 32 in the name and the comment
    putText(b, 45, "\r\n");
    putText(b, 167, "\x1f");
    writeBytes(path, b);
    Records r;
    r.read(path);
    EXPECT_EQ(r.H.Comment1.str(), "RAW2C:  ATA\\SAMPLE.RAW" + std::string(58, ' '));
    std::string comment = "first  omment line ";
    comment.resize(128, '.');
    comment[127] = ' ';
    EXPECT_EQ(r.H.Comment2.str(), comment.substr(0, 80));
    EXPECT_EQ(r.H.Comment3.str(), comment.substr(80) + std::string(32, ' '));
    EXPECT_EQ(r.H.Date.str(), "  12-Mar-9814:25:36 ");
    EXPECT_EQ(r.H.Wavelength, static_cast<double>(1.78897f));
    EXPECT_EQ(r.M.RangeInfo, (TRangeInfo{10.0f, 2.0f, 0.02f, 0.5f}));
    EXPECT_EQ(r.P.Theta, 5.0f);
    EXPECT_EQ(r.P.Axis1, 11.0f);
    EXPECT_EQ(r.P.Axis2, 12.0f);
    EXPECT_EQ(r.P.Axis3, 13.0f);
    EXPECT_EQ(r.P.Axis4, 14.0f);
    expectRawParams(r.P, 5.0f);
    EXPECT_EQ(r.Data[1], 100);
    EXPECT_EQ(r.Data[10], 109);
    EXPECT_EQ(r.Data[11], -7);
}

TEST(LectRaw, LaterRangesOverwriteEarlierOnes)
{
    TempDir dir;
    const std::string path = dir.file("two.raw");
    Raw2Range first, second;
    first.values = ramp(100, 1000.0f);
    first.start = 5.0f;
    second.values = ramp(50, 2000.0f);
    second.headerField = second.dataAt = 90;
    second.start = 30.0f;
    second.step = 0.1f;
    second.stepTime = 2.0f;
    second.theta = 15.0f;
    writeBytes(path, raw2Image({first, second}));
    Records r;
    r.read(path);
    EXPECT_EQ(r.H.Size, 50);
    EXPECT_EQ(r.M.RangeInfo, (TRangeInfo{30.0f, 2.0f, 0.1f, 2.0f}));
    EXPECT_EQ(r.P.Theta, 15.0f);
    expectRawParams(r.P, 100.0f);
    for (int i = 1; i <= 50; ++i)
        ASSERT_EQ(r.Data[i], 1999 + i) << i;
    for (int i = 51; i <= 100; ++i)
        ASSERT_EQ(r.Data[i], 999 + i) << i;
    EXPECT_EQ(r.Data[101], -7);
}

TEST(LectRaw, EveryRangeInFileOrder)
{
    struct Expected {
        float start, step, stepTime;
        std::vector<float> values;
        std::optional<float> theta; // RAW2 ranges carry their positions
    };
    struct Row {
        const char* what;
        Image file;
        std::size_t main;
        std::vector<Expected> ranges;
    };
    Raw2Range a, b, c;
    a.values = ramp(100, 1000.0f);
    a.start = 5.0f;
    b.values = ramp(50, 2000.0f);
    b.start = 30.0f;
    b.step = 0.1f;
    b.stepTime = 2.0f;
    b.theta = 15.0f;
    c.values = {};
    c.start = 40.0f;
    Raw4Range p, q, z;
    p.recordSize = 4;
    p.values = {5, 6, 7, 8, 9};
    q.kind = 160;
    q.recordSize = 12;
    q.start = 20.5;
    q.step = 0.05;
    q.stepTime = 1.5f;
    q.values = {-3, 4};
    z.start = 40.0;
    Raw4Range wide = p; // its data runs past the first 4 KB: the count walks the whole file
    wide.recordSize = 8;
    wide.values = ramp(600, 1.0f);
    const Row rows[] = {
        {"RAW2: the last one is the main one",
         raw2Image({a, b, c}),
         2,
         {{5.0f, 0.02f, 1.0f, a.values, 5.0f},
          {30.0f, 0.1f, 2.0f, b.values, 15.0f},
          {40.0f, 0.02f, 1.0f, {}, 5.0f}}},
        {"RAW4: the first one is; records of 4, 12 and 8 bytes",
         raw4Image({}, {p, q, z}),
         0,
         {{10.0f, 0.02f, 0.5f, p.values, {}},
          {20.5f, 0.05f, 1.5f, q.values, {}},
          {40.0f, 0.02f, 0.5f, {}, {}}}},
        {"RAW4: ranges beyond the head",
         raw4Image({}, {wide, q}),
         0,
         {{10.0f, 0.02f, 0.5f, wide.values, {}}, {20.5f, 0.05f, 1.5f, q.values, {}}}},
    };
    TempDir dir;
    const std::string path = dir.file("ranges.raw");
    for (const Row& row : rows) {
        writeBytes(path, row.file);
        Records r;
        r.read(path);
        ASSERT_EQ(r.M.Ranges.size(), row.ranges.size()) << row.what;
        EXPECT_EQ(r.M.MainRange, row.main) << row.what;
        EXPECT_EQ(RawRangeCount(path).Count, row.ranges.size()) << row.what;
        EXPECT_EQ(RawRangeCount(path).Main, row.main) << row.what;
        for (std::size_t k = 0; k < row.ranges.size(); ++k) {
            const Expected& e = row.ranges[k];
            Records one = r; // the records of the main range, as the converter holds them
            RangeRecords(r.M, k, one.H, one.P, one.M.RangeInfo, one.Data);
            const auto n = static_cast<std::int32_t>(e.values.size());
            EXPECT_EQ(one.H.Size, n) << row.what << " range " << k;
            EXPECT_EQ(one.M.RangeInfo, (TRangeInfo{e.start, r.M.RangeInfo.Stop, e.step, e.stepTime}))
                << row.what << " range " << k;
            EXPECT_EQ(one.P.AcqTime, static_cast<float>(n * e.stepTime)) << row.what << " range " << k;
            EXPECT_EQ(one.P.Theta, e.theta.value_or(77.0f)) << row.what << " range " << k;
            for (int i = 1; i <= n; ++i)
                ASSERT_EQ(one.Data[i], e.values[static_cast<std::size_t>(i - 1)]) << row.what << " range " << k;
            EXPECT_TRUE(one.H.Comment1 == r.H.Comment1 && one.H.Date == r.H.Date) << row.what;
            if (k == row.main) {
                EXPECT_TRUE(one.H == r.H && one.P == r.P && one.Data == r.Data) << row.what;
                EXPECT_EQ(one.M.RangeInfo, r.M.RangeInfo) << row.what;
            }
        }
    }
}

// The count that plans a file's outputs is the count of ranges Lect_RAW reads, for every file of
// the fuzz corpora it reads; files that declare more ranges than they can hold count as one.
TEST(LectRaw, RangeCountAgreesWithTheRead)
{
    std::size_t read = 0, several = 0;
    for (const char* corpus : {"raw", "raw4", "convert_raw"}) {
        for (const auto& e :
             std::filesystem::directory_iterator(std::string(RAWDAT_SOURCE_DIR) + "/fuzz/corpus/" + corpus)) {
            const std::string path = e.path().string();
            Records r;
            try {
                r.read(path);
            } catch (const std::exception&) {
                continue;
            }
            ++read;
            several += r.M.Ranges.size() > 1;
            const TRangeCount count = RawRangeCount(path);
            EXPECT_EQ(count.Count, r.M.Ranges.size()) << path;
            EXPECT_EQ(count.Main, r.M.MainRange) << path;
        }
    }
    EXPECT_GT(several, 0u);
    EXPECT_GT(read, several);
    TempDir dir;
    Raw1Fields f;
    f.ranges = 1000000;
    f.values = {1.0f};
    writeBytes(dir.file("r1.raw"), raw1Image(f));
    Raw2Range a;
    writeBytes(dir.file("r2.raw"), raw2Image({a}, std::int16_t{30000}));
    for (const char* name : {"r1.raw", "r2.raw", "absent.raw"})
        EXPECT_EQ(RawRangeCount(dir.file(name)).Count, 1u) << name;
}

TEST(LectRaw, RangesNotice)
{
    struct Row { std::size_t main; std::vector<std::string> names; const char* notice; };
    const Row rows[] = {
        {0, {"A.TXT", "A_2.TXT", "A_3.TXT"}, "3 ranges; A.TXT holds range 1, ranges 2 and 3 are in A_2.TXT, A_3.TXT"},
        {1, {"B_1.TXT", "B.TXT"}, "2 ranges; B.TXT holds range 2, range 1 is in B_1.TXT"},
        {3, {"a", "b", "c", "d"}, "4 ranges; d holds range 4, ranges 1, 2 and 3 are in a, b, c"},
        {0, {"A.TXT", "A_2.TXT", "A_3.TXT", "A_4.TXT", "A_5.TXT"},
         "5 ranges; A.TXT holds range 1, ranges 2 to 5 are in A_2.TXT ... A_5.TXT"},
        {4, {"a", "b", "c", "d", "e"}, "5 ranges; e holds range 5, ranges 1 to 4 are in a ... d"},
        {0, {"A.TXT"}, ""},
        {0, {}, ""},
    };
    for (const Row& row : rows)
        EXPECT_EQ(RangesNotice(row.main, row.names), row.notice) << row.notice;
}

TEST(LectRaw, HeaderTextsOfRaw1AndRaw4)
{
    auto raw1 = [](std::string date, std::string time, std::string sample, std::string comment) {
        Raw1Fields f;
        f.values = {1};
        f.date = std::move(date);
        f.time = std::move(time);
        f.sample = std::move(sample);
        f.comment = std::move(comment);
        return raw1Image(f);
    };
    Raw4Range range;
    range.values = {1};
    const std::string longComment = std::string(79, 'c') + '\n' + std::string(80, 'd');
    struct Row { const char* what; Image file; std::string date, comment2, comment3; double wavelength; };
    const Row rows[] = {
        {"RAW1, fields without a zero byte",
         raw1("2010-04-03", "20:59:14.5", std::string(59, 's') + '\x01', longComment), "2010-04-03 20:59:14.",
         std::string(59, 's') + std::string(21, ' '), std::string(79, 'c') + ' ', 1.5406},
        {"RAW1, bytes below 32 before the zero", raw1("", "\t1:02", "a\tb\0hidden", std::string("\0x", 2)),
         "  1:02" + std::string(14, ' '), "a b" + std::string(77, ' '), std::string(80, ' '), 1.5406},
        {"RAW4", raw4Image({raw4Text("USER", "someone"), raw4Text("SAMPLEID", "HeOx\t1\0junk"),
                            raw4Segment(99, Image(20, 0xEE)), raw4Text("COMMENT", longComment + "e"),
                            raw4Source(1.78897)}, {range}),
         "04/07/2025 20:48:56 ", "HeOx 1" + std::string(74, ' '), std::string(79, 'c') + ' ', 1.78897},
        {"RAW4 without texts and source", raw4Image({}, {range}), "04/07/2025 20:48:56 ", std::string(80, ' '),
         std::string(80, ' '), 1.54056},
    };
    TempDir dir;
    const std::string path = dir.file("texts.raw");
    for (const Row& row : rows) {
        writeBytes(path, row.file);
        Records r;
        r.read(path);
        EXPECT_EQ(r.H.Date.str(), row.date) << row.what;
        EXPECT_EQ(r.H.Comment2.str(), row.comment2) << row.what;
        EXPECT_EQ(r.H.Comment3.str(), row.comment3) << row.what;
        EXPECT_EQ(r.H.Wavelength, row.wavelength) << row.what;
    }
}

TEST(LectRaw, DataStartsWhereTheRangeHeaderFieldSays)
{
    struct Row {
        const char* what;
        std::uint16_t field;
        std::size_t dataAt;
        int ranges;
        std::size_t trailing; // bytes after the last range
    };
    const Row rows[] = {
        {"our own files", 58, 58, 1, 0},
        {"instrument files", 90, 90, 1, 0},
        {"a longer header, two ranges", 90, 90, 2, 0},
        {"60 from earlier converters, exact size", 60, 58, 1, 0},
        {"60, not the size of an earlier converter's file", 60, 60, 1, 0},
        {"60, one byte more than such a file", 60, 60, 1, 1},
        {"60 in a file of two ranges", 60, 60, 2, 0},
        {"61", 61, 61, 1, 0},
    };
    TempDir dir;
    const std::string path = dir.file("h.raw");
    for (const Row& row : rows) {
        std::vector<Raw2Range> ranges(static_cast<std::size_t>(row.ranges));
        for (Raw2Range& rg : ranges) {
            rg.headerField = row.field;
            rg.dataAt = row.dataAt;
            rg.values = ramp(20, 500.0f);
        }
        ranges.back().values = ramp(20, 800.0f);
        Image b = raw2Image(ranges);
        b.resize(b.size() + row.trailing, 0);
        writeBytes(path, b);
        Records r;
        r.read(path);
        EXPECT_EQ(r.H.Size, 20) << row.what;
        EXPECT_EQ(r.Data[1], 800) << row.what;
        EXPECT_EQ(r.Data[20], 819) << row.what;
    }
}

TEST(LectRaw, IntensitiesRoundToNearestWithHalvesToEven)
{
    struct Row { float in; std::int32_t out; };
    const Row rows[] = {
        {2.5f, 2}, {3.5f, 4}, {7.4999f, 7}, {0.5f, 0}, {1.5f, 2}, {-0.5f, 0}, {-2.5f, -2},
        {-3.5f, -4}, {-7.6f, -8}, {0.49999997f, 0}, {1e-30f, 0}, {8388607.5f, 8388608},
        {2147483520.0f, 2147483520}, {-2147483648.0f, std::numeric_limits<std::int32_t>::min()},
    };
    TempDir dir;
    const std::string path = dir.file("round.raw");
    Raw2Range range;
    for (const Row& row : rows)
        range.values.push_back(row.in);
    writeBytes(path, raw2Image({range}));
    Records r;
    r.read(path);
    for (std::size_t i = 0; i < std::size(rows); ++i)
        EXPECT_EQ(r.Data[static_cast<int>(i) + 1], rows[i].out) << rows[i].in;
}

TEST(LectRaw, Raw2OfFullCapacityIsRead)
{
    TempDir dir;
    const std::string path = dir.file("full.raw");
    Raw2Range range;
    range.values = ramp(kDataCapacity, 0.0f);
    writeBytes(path, raw2Image({range}));
    Records r;
    r.read(path);
    EXPECT_EQ(r.H.Size, 32767);
    EXPECT_EQ(r.Data[32767], 32766);
}

TEST(LectRaw, Raw1FirstRange)
{
    struct Row { std::int32_t extra; std::size_t firstAt; };
    const Row rows[] = {{16, 1032}, {0, 1016}, {-8, 1016}};
    TempDir dir;
    const std::string path = dir.file("one.raw");
    for (const Row& row : rows) {
        Raw1Fields f;
        f.extra = row.extra;
        f.values = ramp(30, 40.0f);
        const Image b = raw1Image(f);
        ASSERT_EQ(get<float>(b, row.firstAt), 40.0f);
        writeBytes(path, b);
        Records r;
        r.read(path);
        EXPECT_EQ(r.H.Size, 30);
        EXPECT_EQ(r.H.Comment1.str(), "RAW1");
        EXPECT_EQ(r.H.Date.str(), "03/04/10 20:59:14   ");
        EXPECT_EQ(r.H.Comment2.str(), "BT86" + std::string(76, ' '));
        EXPECT_EQ(r.H.Comment3.str(), std::string(80, ' '));
        EXPECT_EQ(r.H.Wavelength, 1.5406);
        expectReaderDefaults(r.H);
        EXPECT_EQ(r.M.RangeInfo, (TRangeInfo{10.0f, 2.0f, 0.05f, 2.0f})) << row.extra; // 728, not 720
        EXPECT_EQ(r.P.Theta, 77.0f);
        EXPECT_EQ(r.P.Axis1, 77.0f);
        expectRawParams(r.P, 60.0f);
        EXPECT_EQ(r.Data[1], 40);
        EXPECT_EQ(r.Data[30], 69);
        EXPECT_EQ(r.Data[31], -7);
    }
}

TEST(LectRaw, RefusalsLeaveTheRecordsAsTheyWere)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    auto raw2With = [](std::vector<float> values, std::uint16_t field = 58,
                       std::optional<std::uint16_t> steps = std::nullopt) {
        Raw2Range r;
        r.values = std::move(values);
        r.headerField = field;
        r.stepField = steps;
        return raw2Image({r});
    };
    auto raw1With = [](std::vector<float> values, std::optional<std::int32_t> steps = std::nullopt) {
        Raw1Fields f;
        f.values = std::move(values);
        f.steps = steps;
        return raw1Image(f);
    };
    Raw2Range good, bad;
    good.values = {1, 2, 3};
    bad.values = {1, 2, inf};
    Raw2Range shortHeader = good;
    shortHeader.headerField = 0;
    Image notRaw = raw2With({1});
    putText(notRaw, 0, "RAW ");
    Image lower = raw2With({1});
    putText(lower, 0, "raw2");

    // A RAW4 file of one range of 10 steps after a named text of 37 bytes and the X-ray source.
    const Image sampleText = raw4Text("SAMPLEID", "s");
    auto raw4With = [&](std::optional<Image> segment, std::function<void(Raw4Range&)> change) {
        Raw4Range r;
        r.values = ramp(10, 1.0f);
        if (change)
            change(r);
        return raw4Image({segment.value_or(sampleText), raw4Source(1.5406)}, {r});
    };
    Image longText = sampleText;
    put<std::uint32_t>(longText, 4, 100000);
    Image shortSegment = raw4Segment(99, Image(20, 0));
    put<std::uint32_t>(shortSegment, 4, 7);
    Image shortText = sampleText;
    put<std::uint32_t>(shortText, 4, 35);
    Image raw4Drives = raw4With({}, {});
    put<std::uint32_t>(raw4Drives, 234 + 140, 1000000);
    Image raw4Kind7 = raw4With({}, {});
    raw4Kind7.resize(raw4Kind7.size() + 200, 0);
    put<std::uint32_t>(raw4Kind7, 566, 7);
    Image raw4Other = raw4With({}, {});
    putText(raw4Other, 0, "RAW4.01");
    const std::string kNotRaw = "not a RAW file: it begins with none of \"RAW2\", \"RAW1\" and \"RAW4.00\"";

    Raw4Range oneStep;
    oneStep.values = {1.0f};

    Raw2Range nanStep = good;
    nanStep.step = nan;
    Raw1Fields infStart;
    infStart.values = {1};
    infStart.start728 = std::nan("");

    struct Row { const char* what; Image file; std::string message; };
    const Row rows[] = {
        {"no range", raw2Image({good}, 0), "declares no range (range count 0)"},
        {"negative range count", raw2Image({good}, -3), "declares no range (range count -3)"},
        {"RAW2 NaN step", raw2Image({good, nanStep}), "range 2: its start or step angle is not a finite number"},
        {"RAW1 NaN start", raw1Image(infStart), "range 1: its start or step angle is not a finite number"},
        {"RAW and a space", notRaw, "RAW files of the first variant (\"RAW \") are not read"},
        {"lower case", lower, kNotRaw},
        {"RAW4.01", raw4Other, kNotRaw},
        {"header 57", raw2With({1}, 57), "range 1 declares a header of 57 bytes, shorter than the 58 bytes of its fields"},
        {"header 0 in range 2", raw2Image({good, shortHeader}),
         "range 2 declares a header of 0 bytes, shorter than the 58 bytes of its fields"},
        {"RAW2 count -1", raw2With({1}, 58, 0xFFFF), "range 1 declares a negative step count (-1)"},
        {"RAW2 count 32768", raw2With({1}, 58, 0x8000), "range 1 declares a negative step count (-32768)"},
        {"RAW1 count 32768", raw1With({1}, 32768), "range 1 declares 32768 steps, more than the 32767 that Data holds"},
        {"RAW1 count 2^31-1", raw1With({1}, 2147483647),
         "range 1 declares 2147483647 steps, more than the 32767 that Data holds"},
        {"RAW1 count -5", raw1With({1}, -5), "range 1 declares a negative step count (-5)"},
        {"NaN", raw2With({1, 2, nan}), "range 1, step 3: the intensity is not a number"},
        {"infinity", raw2With({inf}), "range 1, step 1: the intensity is infinite"},
        {"minus infinity", raw2With({0, -inf}), "range 1, step 2: the intensity is infinite"},
        {"2^31", raw2With({0, 2147483648.0f}), "range 1, step 2: the intensity 2147483648 does not fit a 32-bit count"},
        {"below -2^31", raw2With({-2147483904.0f}),
         "range 1, step 1: the intensity -2147483904 does not fit a 32-bit count"},
        {"1e30", raw2With({1e30f}), "range 1, step 1: the intensity 1000000015047466219876688855040 does not fit a 32-bit count"},
        {"infinity in range 2", raw2Image({good, bad}), "range 2, step 3: the intensity is infinite"},
        {"RAW1 NaN", raw1With({5, nan}), "range 1, step 2: the intensity is not a number"},
        // RAW4: segments from 61, the first range at 234 (its records from 234 + 160 + 92)
        {"RAW4 segment beyond the end", raw4With(longText, {}),
         "the segment of kind 10 at offset 61 declares 100000 bytes, beyond the end of the file (566 bytes)"},
        {"RAW4 segment of 7 bytes", raw4With(shortSegment, {}),
         "the segment of kind 99 at offset 61 declares 7 bytes, fewer than the 8 of its fields"},
        {"RAW4 named text of 35 bytes", raw4With(shortText, {}),
         "the segment of kind 10 at offset 61 declares 35 bytes, fewer than the 36 of its fields"},
        {"RAW4 without a range", raw4Image({raw4Text("SAMPLEID", "s"), raw4Source(1.5406)}, {}),
         "holds no range: its segments reach the end of the file (234 bytes)"},
        {"RAW4 steps beyond the data", raw4With({}, [](Raw4Range& r) { r.stepField = 11; }),
         "range 1 at offset 234 declares 11 steps of 8 bytes, beyond the end of the file (566 bytes)"},
        {"RAW4 steps beyond Data", raw4With({}, [](Raw4Range& r) { r.stepField = 40000; }),
         "range 1 declares 40000 steps, more than the 32767 that Data holds"},
        {"RAW4 record of 3 bytes", raw4With({}, [](Raw4Range& r) { r.recordSize = 3; }),
         "range 1 at offset 234 declares records of 3 bytes per step, fewer than the 4 of an intensity"},
        {"RAW4 drive descriptions beyond the end", raw4Drives,
         "range 1 at offset 234 declares 1000000 bytes of drive descriptions, beyond the end of the file (566 bytes)"},
        {"RAW4 unknown range kind", raw4Kind7, "unknown range kind 7 at offset 566"},
        {"RAW4 NaN in a record of 12 bytes",
         raw4With({}, [&](Raw4Range& r) {
             r.recordSize = 12;
             r.values[1] = nan;
         }),
         "range 1, step 2: the intensity is not a number"},
        {"RAW4 NaN step", raw4With({}, [&](Raw4Range& r) { r.step = std::nan(""); }),
         "range 1: its start or step angle is not a finite number"},
        {"RAW4 of 257 ranges", raw4Image({}, std::vector<Raw4Range>(257, oneStep)),
         "257 ranges; rawdat converts at most 256"},
    };
    TempDir dir;
    const std::string path = dir.file("refused.raw");
    for (const Row& row : rows) {
        writeBytes(path, row.file);
        if (const auto e = readFails<Refusal>(path, row.what)) {
            EXPECT_EQ(std::string(e->what()), path + ": " + row.message) << row.what;
            EXPECT_EQ(e->file(), path);
        }
    }
}

TEST(LectRaw, Raw1AngleBeyondASingleOverflows)
{
    TempDir dir;
    const std::string path = dir.file("big.raw");
    Raw1Fields f;
    f.values = {1, 2};
    f.start720 = 1e300; // read into the start before 728 replaces it
    writeBytes(path, raw1Image(f));
    if (const auto e = readFails<FloatError>(path, "start 1e300")) {
        EXPECT_EQ(e->kind(), FloatError::Kind::Overflow);
    }
}

TEST(LectRaw, TruncatedFilesFailAtTheReadThatRunsOut)
{
    Raw2Range range;
    range.values = ramp(10, 1.0f);
    const Image raw2 = raw2Image({range}); // 256 + 58 + 40
    Raw2Range longHeader = range;
    longHeader.headerField = longHeader.dataAt = 90;
    Raw1Fields f1;
    f1.values = ramp(10, 1.0f);
    f1.extra = 16;
    const Image raw1 = raw1Image(f1); // 1032 + 40
    Raw1Fields bigExtra = f1;
    bigExtra.values.clear();
    bigExtra.steps = 0;
    Image raw1BigExtra = raw1Image(bigExtra);
    put<std::int32_t>(raw1BigExtra, 968, 1000);
    Raw4Range range4;
    range4.values = ramp(10, 1.0f);
    const Image raw4 = raw4Image({raw4Source(1.5406)}, {range4}); // range at 197, records at 449
    Image raw4Tail = raw4;
    raw4Tail.resize(raw4Tail.size() + 3, 0);
    auto cut = [](Image b, std::size_t n) {
        b.resize(n);
        return b;
    };
    // Each read that runs out names the byte where the missing bytes begin: the end of the file.
    struct Row { const char* what; Image file; std::int64_t offset; };
    const Row rows[] = {
        {"empty", {}, 0},
        {"two bytes", {'R', 'A'}, 2},
        {"RAW2 header cut", cut(raw2, 200), 200},
        {"RAW2 range header cut", cut(raw2, 286), 286},
        {"RAW2 one byte of data short", cut(raw2, raw2.size() - 1), 353},
        {"RAW2 second range missing", raw2Image({range}, 2), 354},
        {"RAW2 data beyond a header of 90", cut(raw2Image({longHeader}), 256 + 80), 336},
        {"RAW1 header cut", cut(raw1, 700), 700},
        {"RAW1 supplementary header beyond the end", raw1BigExtra,
         static_cast<std::int64_t>(raw1BigExtra.size())},
        {"RAW1 one byte of data short", cut(raw1, raw1.size() - 1), 1071},
        {"RAW4 file header cut", cut(raw4, 30), 30},
        {"RAW4 segment head cut", cut(raw4, 66), 66},
        {"RAW4 range header cut", cut(raw4, 197 + 100), 297},
        {"RAW4 three bytes after the last range", raw4Tail, static_cast<std::int64_t>(raw4.size() + 3)},
    };
    TempDir dir;
    const std::string path = dir.file("short.raw");
    for (const Row& row : rows) {
        writeBytes(path, row.file);
        if (const auto e = readFails<InOutError>(path, row.what)) {
            EXPECT_EQ(e->text(), iotext::kEndOfFile) << row.what;
            EXPECT_EQ(e->file(), path) << row.what;
            EXPECT_EQ(e->offset(), row.offset) << row.what;
        }
    }
}

TEST(LectRaw, FilesThatDoNotOpen)
{
    TempDir dir;
    struct Row { std::string path; const char* text; };
    const Row rows[] = {
        {dir.file("missing.raw"), iotext::kNotFound},
    };
    for (const Row& row : rows) {
        if (const auto e = readFails<InOutError>(row.path, row.path)) {
            EXPECT_EQ(e->text(), row.text) << row.path;
            EXPECT_EQ(e->file(), row.path);
        }
    }
    // A folder is refused as what it is (once "Accès au fichier refusé").
    if (const auto e = readFails<Refusal>(dir.path().string(), dir.path().string())) {
        EXPECT_EQ(std::string(e->what()), dir.path().string() + ": not a regular file");
    }
}
