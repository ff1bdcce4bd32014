// The RAW2 writer: the exact bytes of the file, the anode rows, the comment, date, time and name
// fields, and the date text conversion.
#include "fmt_raw/raw.h"
#include "fmt_raw/raw_images.h"
#include "testutil.h"
#include "ulit_dat/errors.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <limits>

using namespace rawdat;
using namespace rawdat::test;

namespace {

struct Scan {
    RawModule M;
    TScanHeader H;
    TData Data;
    Scan()
    {
        H.Wavelength = 1.78897;
        H.Size = 3;
        H.Date = "12/03/1998 14:25:36 ";
        M.RangeInfo = {10.0f, 0.0f, 0.02f, 1.0f};
        Data[1] = 1;
        Data[2] = 2;
        Data[3] = 3;
    }
    Image write(const std::string& path)
    {
        Ecr_RAW(M, path, H, Data);
        return readBytes(path);
    }
};

// Runs a test's body with the process in another folder, and comes back.
class InFolder {
public:
    explicit InFolder(const std::filesystem::path& p) : back_(std::filesystem::current_path())
    {
        std::filesystem::current_path(p);
    }
    ~InFolder() { std::filesystem::current_path(back_); }

private:
    std::filesystem::path back_;
};

} // namespace

TEST(EcrRaw, WritesEveryByteOfAFileOf1500Steps)
{
    TempDir dir;
    const std::string path = dir.file("a_rather_long_file_name_for_the_field.raw");
    writeBytes(path, Image(10000, 0x77)); // replaced whole
    Scan s;
    s.H.Comment1 = "Quartz standard";
    s.H.Comment2 = "tube\tCu 40kV";
    s.H.Comment3 = "slit 0.5";
    s.H.Size = 1500;
    s.M.RangeInfo = {10.25f, 99.0f, 0.02f, 7.0f}; // Stop and StepTime are not written
    for (int i = 1; i <= 1500; ++i)
        s.Data[i] = (i * 37) % 1000 - 5;
    s.Data[1] = 16777217; // a Single holds 16777216
    s.Data[2] = -3;
    s.Data[1501] = 999;   // beyond Size: not written
    const Image got = s.write(path);

    Image want(6314, 0);
    putText(want, 0, "RAW2");
    put<std::int16_t>(want, 4, 1);
    put<std::int16_t>(want, 6, 0);
    putText(want, 8, path.substr(0, 32));
    std::string comment = "Quartz standard tubeCu 40kVslit 0.5";
    comment.resize(128, ' ');
    putText(want, 40, comment);
    putText(want, 168, "  12-Mar-19");
    putText(want, 179, std::string("14:25:36\0", 9));
    putText(want, 188, "Co");
    put<float>(want, 190, 1.78897f);
    put<float>(want, 194, 1.79285f);
    put<float>(want, 198, 0.5f);
    put<float>(want, 210, -1000000.0f);
    put<std::uint16_t>(want, 256, 58);
    put<std::int16_t>(want, 258, 1500);
    put<std::int16_t>(want, 260, 10);
    put<float>(want, 264, 1.0f);
    put<float>(want, 268, 0.02f);
    put<float>(want, 272, 10.25f);
    put<float>(want, 276, 5.125f);
    for (std::size_t at : {280, 284, 288, 292})
        put<float>(want, at, -1000000.0f);
    put<std::uint16_t>(want, 296, 0x8000);
    put<std::uint16_t>(want, 298, 0x8000);
    put<std::uint16_t>(want, 300, 0x8000);
    put<std::uint16_t>(want, 302, 0xFFFF);
    put<float>(want, 314, 16777216.0f);
    put<float>(want, 318, -3.0f);
    for (int i = 3; i <= 1500; ++i)
        put<float>(want, 314 + 4 * static_cast<std::size_t>(i - 1), static_cast<float>((i * 37) % 1000 - 5));

    ASSERT_EQ(got.size(), 6314u); // 256 + 58 + 4 x 1500
    for (std::size_t i = 0; i < want.size(); ++i)
        ASSERT_EQ(got[i], want[i]) << "byte " << i;
    EXPECT_EQ(s.M.AnodeIndex, 3);
    EXPECT_EQ(listFolder(dir.path()).size(), 1u); // no temporary left behind
}

TEST(EcrRaw, StepCountsOfZeroOrLessWriteNoIntensities)
{
    struct Row { std::int32_t size; std::uint16_t field; };
    const Row rows[] = {{0, 0}, {-1, 0xFFFF}, {-40000, 0x63C0}};
    TempDir dir;
    for (const Row& r : rows) {
        Scan s;
        s.H.Size = r.size;
        const Image got = s.write(dir.file("n.raw"));
        ASSERT_EQ(got.size(), 314u) << r.size;
        EXPECT_EQ(get<std::uint16_t>(got, 258), r.field) << r.size;
    }
}

TEST(EcrRaw, AnodeFieldsFollowTheLastMatchingRowOrTheScanItself)
{
    struct Row {
        double wavelength;
        const char* anode;
        float alpha1, alpha2, ratio;
        std::int16_t index;
    };
    // One module for every row: a scan without a match never carries the anode of the one before.
    const Row rows[] = {
        {2.2897, "Cr", 2.28970f, 2.29361f, 0.5f, 1},
        {1.0, "  ", 1.0f, 1.0f, 0.0f, 0},
        {1.93604, "Fe", 1.93604f, 1.93998f, 0.5f, 2},
        {1.78897, "Co", 1.78897f, 1.79285f, 0.5f, 3},
        {1.7885, "Co", 1.78897f, 1.79285f, 0.5f, 3},   // same thousandths: 1788
        {1.789, "Co", 1.78897f, 1.79285f, 0.5f, 3},    // 1.78899999..: x 1000 is 1788.99..
        {1.7895, "  ", 1.7895f, 1.7895f, 0.0f, 0},     // 1789 is not 1788
        {1.54056, "No", 1.54056f, 1.54439f, 0.5f, 6},  // rows 4 and 6 match: the last wins
        {1.5406, "No", 1.54056f, 1.54439f, 0.5f, 6},
        {0.7093, "Mo", 0.70930f, 0.71359f, 0.5f, 5},
        {1.541, "No", 1.54056f, 1.54439f, 0.5f, 6},    // 1540.99.. in extended precision
        {1.5425, "  ", 1.5425f, 1.5425f, 0.0f, 0},
        {0.0, "  ", 0.0f, 0.0f, 0.0f, 0},
    };
    TempDir dir;
    Scan s;
    s.M.AnodeIndex = 4;
    for (const Row& r : rows) {
        s.H.Wavelength = r.wavelength;
        const Image got = s.write(dir.file("anode.raw"));
        EXPECT_EQ(textAt(got, 188, 2), r.anode) << r.wavelength;
        EXPECT_EQ(get<float>(got, 190), r.alpha1) << r.wavelength;
        EXPECT_EQ(get<float>(got, 194), r.alpha2) << r.wavelength;
        EXPECT_EQ(get<float>(got, 198), r.ratio) << r.wavelength;
        EXPECT_EQ(s.M.AnodeIndex, r.index) << r.wavelength;
    }
}

TEST(EcrRaw, CommentFieldJoinsTheLinesWithoutControlCharacters)
{
    struct Row { std::string c1, c2, c3, field; };
    const std::string l80a(80, 'a'), l80b(80, 'b'), l80c(80, 'c');
    const Row rows[] = {
        {"ab", "cd", "ef", "ab cdef"},
        {"a\tb", "c\td", "\te", "ab cde"},
        {"ab\r\n", "\x01x\x1F", "\x7F\xE9", "ab x\x7F\xE9"}, // 127 and above stay
        {"", "", "", " "},
        {l80a, l80b, l80c, l80a + " " + l80b.substr(0, 47)},
    };
    TempDir dir;
    for (const Row& r : rows) {
        Scan s;
        s.H.Comment1 = r.c1;
        s.H.Comment2 = r.c2;
        s.H.Comment3 = r.c3;
        std::string want = r.field;
        want.resize(128, ' ');
        EXPECT_EQ(textAt(s.write(dir.file("c.raw")), 40, 128), want) << r.c1;
    }
}

TEST(EcrRaw, CommentFieldUsesTheTextNotTheLeftoverArea)
{
    TempDir dir;
    Scan s;
    s.H.Comment1 = "long leftover text";
    s.H.Comment1 = "ab";
    std::string want = "ab ";
    want.resize(128, ' ');
    EXPECT_EQ(textAt(s.write(dir.file("c.raw")), 40, 128), want);
}

TEST(EcrRaw, DateAndTimeFields)
{
    using namespace std::string_literals;
    struct Row { std::string date, dateField, timeField; };
    const Row rows[] = {
        // The 8 characters after the date word and its blanks.
        {"12/03/98 14:25:36", "  12-Mar-98", "14:25:36\0"s},
        {"08/12/26 10:15:00   ", "  08-Dec-26", "10:15:00\0"s}, // a DAT file's padded date keeps its hour
        {"12/03/1998 14:25:36 ", "  12-Mar-19", "14:25:36\0"s},
        {"5/3/98 14:25:36", "   5-Mar-98", "14:25:36\0"s},
        {"12/13/98 14:25:36", "  12-13-98 ", "14:25:36\0"s},
        {"  1/2/98   9:05 x", "    1-Feb-9", "9:05 x\0\0\0"s},
        {"12/03/98 14:25:36.75", "  12-Mar-98", "14:25:36\0"s},
        // A single word or nothing: the 8 before the last character, or the first 8.
        {"", "\0\0\0\0\0\0\0\0\0\0\0"s, "\0\0\0\0\0\0\0\0\0"s},
        {"1/2/3", "   1-Feb-3 ", "1/2/3\0\0\0\0"s},
        {"12/03/98", "  12-Mar-98", "12/03/98\0"s},
        {"12/03/98   ", "  12-Mar-98", "/03/98  \0"s},
    };
    TempDir dir;
    for (const Row& r : rows) {
        Scan s;
        s.H.Date = r.date;
        const Image got = s.write(dir.file("d.raw"));
        EXPECT_EQ(textAt(got, 168, 11), r.dateField) << r.date;
        EXPECT_EQ(textAt(got, 179, 9), r.timeField) << r.date;
    }
}

TEST(ConvDate, Table)
{
    struct Row { std::string text, result; };
    const Row rows[] = {
        {"12/03/98 14:25:36", "  12-Mar-98 1 "},
        {"5/3/98 14:25:36", "   5-Mar-98 1 "},
        {"12/13/98 14:25:36", "  12-13-98 1 "},
        {"01/ 7x/2024 10:00", "  01-Jul-2024 "},     // leading spaces and trailing letters of the month
        {"01/00/99", "  01-00-99 "},
        {"31/12/99", "  31-Dec-99 "},
        {"1/99999999999999999999/98", "   1-99999999999999999999-98 "},
        {"aa/bb/cc", "  aa-bb-cc "},
        {"", ""},
        {"19980312", "  1998031-- "},                  // no slash: the day is all but the last character
        {"12/03", "  12-0- "},                         // no second slash: the month ends before the last
        {"12/", "  12-- "},
        {"/", "   -- "},
        {"//", "   -- "},
        {"1", "   -- "},
        {"x/y", "   x-- "},
    };
    for (const Row& r : rows)
        EXPECT_EQ(Conv_Date(r.text), r.result) << r.text;
}

TEST(EcrRaw, NameFieldHoldsTheFirst32CharactersOfThePath)
{
    TempDir dir;
    {
        Scan s;
        std::string path = dir.file("n");
        path += std::string(path.size() < 40 ? 40 - path.size() : 1, 'x');
        ASSERT_GE(path.size(), 40u);
        EXPECT_EQ(textAt(s.write(path), 8, 32), path.substr(0, 32));
    }
    {
        InFolder in(dir.path());
        Scan s;
        EXPECT_EQ(textAt(s.write("s.raw"), 8, 32), "s.raw" + std::string(27, ' '));
    }
}

TEST(EcrRaw, RefusalsWriteNothing)
{
    TempDir dir;
    const std::string path = dir.file("r.raw");
    {
        Scan s;
        s.H.Size = 32768;
        try {
            s.write(path);
            FAIL();
        } catch (const Refusal& e) {
            EXPECT_EQ(std::string(e.what()), path + ": Size 32768 is more than the 32767 entries of Data");
        }
    }
    {
        Scan s;
        s.H.Wavelength = 1e300; // no anode: the wavelength itself does not fit a Single
        try {
            s.write(path);
            FAIL();
        } catch (const FloatError& e) {
            EXPECT_EQ(e.kind(), FloatError::Kind::Overflow);
        }
    }
    EXPECT_TRUE(listFolder(dir.path()).empty());
    {
        Scan s;
        const std::string missing = dir.file("no/such/folder/r.raw");
        try {
            s.write(missing);
            FAIL();
        } catch (const InOutError& e) {
            EXPECT_EQ(e.file(), missing);
            EXPECT_EQ(e.text(), iotext::kNotFound);
        }
    }
}

TEST(AnodeTable, RowsOutsideOneToSixAreAnError)
{
    EXPECT_EQ(AnodeTable(1).Anode.str(), "Cr");
    EXPECT_EQ(AnodeTable(6).Anode.str(), "No");
    EXPECT_THROW(AnodeTable(0), std::out_of_range);
    EXPECT_THROW(AnodeTable(7), std::out_of_range);
}
