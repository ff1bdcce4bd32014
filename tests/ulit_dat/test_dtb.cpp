// DTB reader: file sizes per entry type, the pairs each sub-record fills, the header values
// that later fields replace, refusals and file errors.
#include "testutil.h"

#include "ulit_dat/binio.h"
#include "ulit_dat/dtb.h"
#include "ulit_dat/errors.h"
#include "ulit_dat/litdat.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

using namespace rawdat;
using rawdat::test::TempDir;

namespace {

// Sub-record j of entry i holds p = 100 i + j + 0.5, q = -(100 i + j).
double pOf(int i, int j) { return 100.0 * i + j + 0.5; }
double qOf(int i, int j) { return -(100.0 * i + j); }

// A DTB file of `count` entries of `subRecords` sub-records each (`type` as stored).
Bytes makeDtb(std::uint16_t type, std::uint16_t count, int subRecords)
{
    ByteWriter w;
    w.u16(0x1111);                         // 0: replaced by the trailer
    w.u16(0x2222);                         // 2: replaced by the value at 502
    w.u16(type);                           // 4
    w.u16(0x4444);                         // 6
    w.u16(count);                          // 8
    w.f64(1.25);                           // 10
    w.f64(2.5);                            // 18
    w.u16(7);                              // 26
    w.f64(3.75);                           // 28
    w.u16(8);                              // 36
    w.f64(4.5);                            // 38
    for (int i = 1; i <= 7; ++i)           // 46
        w.f64(10.0 * i);
    for (int i = 0; i < 400; ++i)          // 102
        w.u8(static_cast<std::uint8_t>(i));
    w.u16(0x5555);                         // 502
    for (int i = 1; i <= count; ++i) {     // 504
        for (int j = 1; j <= subRecords; ++j) {
            w.f64(pOf(i, j));
            w.f64(qOf(i, j));
            w.u16(0xEEEE);
        }
        w.f64(-1.0);
        w.f64(-2.0);
        w.fill(32, static_cast<std::uint8_t>(i)); // entry block
    }
    w.u16(0x9999);                         // trailer
    return w.take();
}

std::string writeDtb(const TempDir& dir, const Bytes& bytes)
{
    const std::string file = dir.file("a.dtb");
    test::writeBytes(file, bytes);
    return file;
}

const TDtbPair kSentinel{-77.0, -88.0};

TDtbEntries sentinelEntries(int n)
{
    TDtbEntries e(n);
    for (int i = 1; i <= n; ++i)
        for (int k = 1; k <= 6; ++k)
            e[i].Pairs[k] = kSentinel;
    return e;
}

} // namespace

TEST(Dtb, FileSizesPerEntryType)
{
    struct Row { std::uint16_t type; int subRecords; std::size_t size; };
    const Row rows[] = {
        {0, 3, 710}, {1, 3, 710}, {2, 4, 746}, {3, 4, 746}, {4, 4, 746}, {5, 6, 818},
    };
    for (const auto& r : rows) {
        const Bytes bytes = makeDtb(r.type, 2, r.subRecords);
        ASSERT_EQ(bytes.size(), r.size);
        EXPECT_EQ(dtbSubRecords(r.type), r.subRecords);
        TempDir dir;
        TDtbHeader h;
        TDtbEntries e;
        EXPECT_TRUE(TLitdat().Lect_DTB(writeDtb(dir, bytes), h, e)) << r.type;
        EXPECT_EQ(e.count(), 2);
        EXPECT_EQ(h.FirstValue, 0x9999); // the trailer was found where the size says
    }
}

TEST(Dtb, PairsFilledPerEntryType)
{
    const TDtbPair zero{};
    struct Row {
        std::uint16_t type;
        int subRecords;
        int expectSub[6]; // sub-record that fills pair k; 0: cleared; -1: left as it was
    };
    const Row rows[] = {
        {0, 3, {1, 2, 3, -1, -1, -1}},
        {1, 3, {1, 2, 3, -1, -1, -1}},
        {2, 4, {1, 2, 3, 0, 4, 0}},
        {3, 4, {1, 2, 3, 0, 4, 0}},
        {4, 4, {1, 2, 3, 0, 4, 0}},
        {5, 6, {1, 2, 3, 4, 5, 6}},
    };
    for (const auto& r : rows) {
        TempDir dir;
        const std::string file = writeDtb(dir, makeDtb(r.type, 2, r.subRecords));
        TDtbHeader h;
        TDtbEntries e = sentinelEntries(2);
        TLitdat().Lect_DTB(file, h, e);
        for (int i = 1; i <= 2; ++i) {
            for (int k = 1; k <= 6; ++k) {
                const int j = r.expectSub[k - 1];
                TDtbPair want = j > 0 ? TDtbPair{pOf(i, j), qOf(i, j)} : (j == 0 ? zero : kSentinel);
                if (j == 1)
                    want.P += 1.0; // the first value of sub-record 1 gains 1.0
                EXPECT_EQ(e[i].Pairs[k], want) << "type " << r.type << " entry " << i << " pair " << k;
            }
        }
    }
}

TEST(Dtb, FirstValueGainsOne)
{
    Bytes b = makeDtb(5, 1, 6);
    // Sub-record 1 of entry 1 holds 12.5.
    const double v = 12.5;
    std::memcpy(b.data() + 504, &v, 8);
    TempDir dir;
    TDtbHeader h;
    TDtbEntries e;
    TLitdat().Lect_DTB(writeDtb(dir, b), h, e);
    EXPECT_EQ(e[1].Pairs[1].P, 13.5);
}

TEST(Dtb, HeaderFieldsAndTheValuesThatReplaceThem)
{
    TempDir dir;
    TDtbHeader h;
    TDtbEntries e;
    TLitdat().Lect_DTB(writeDtb(dir, makeDtb(3, 2, 4)), h, e);
    EXPECT_EQ(h.FirstValue, 0x9999);  // the trailer, not offset 0
    EXPECT_EQ(h.SecondValue, 0x5555); // offset 502, not offset 2
    EXPECT_EQ(h.EntryType, 3);
    EXPECT_EQ(h.FourthValue, 0x4444);
    EXPECT_EQ(h.EntryCount, 2);
    EXPECT_EQ(h.Doubles, (std::array<double, 2>{1.25, 2.5}));
    EXPECT_EQ(h.Pairs[0], (TDtbWordDouble{7, 3.75}));
    EXPECT_EQ(h.Pairs[1], (TDtbWordDouble{8, 4.5}));
    EXPECT_EQ(h.SevenDoubles[0], 10.0);
    EXPECT_EQ(h.SevenDoubles[6], 70.0);
    EXPECT_EQ(h.HeaderBlock[0], 0);
    EXPECT_EQ(h.HeaderBlock[399], 399 % 256);
    EXPECT_EQ(h.EntryBlock, (std::array<std::uint8_t, 32>{2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2,
                                                           2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2}))
        << "the entry block of the last entry";
}

TEST(Dtb, NoEntriesReadsTheTrailerAt504)
{
    TempDir dir;
    const Bytes b = makeDtb(4, 0, 4);
    ASSERT_EQ(b.size(), 506u);
    TDtbHeader h;
    h.EntryBlock.fill(0x42);
    TDtbEntries e = sentinelEntries(1);
    EXPECT_TRUE(TLitdat().Lect_DTB(writeDtb(dir, b), h, e));
    EXPECT_EQ(h.FirstValue, 0x9999);
    EXPECT_EQ(h.EntryBlock[0], 0x42); // no entry read: the caller's block stays
    EXPECT_EQ(e[1].Pairs[1], kSentinel);
}

TEST(Dtb, GrowsTheCallersArrayAndKeepsLongerOnes)
{
    TempDir dir;
    const std::string file = writeDtb(dir, makeDtb(5, 3, 6));
    TDtbHeader h;
    TDtbEntries small;
    TLitdat().Lect_DTB(file, h, small);
    EXPECT_EQ(small.count(), 3);
    TDtbEntries large = sentinelEntries(5);
    TLitdat().Lect_DTB(file, h, large);
    EXPECT_EQ(large.count(), 5);
    EXPECT_EQ(large[4].Pairs[1], kSentinel);
    EXPECT_EQ(large[3].Pairs[6], (TDtbPair{pOf(3, 6), qOf(3, 6)}));
}

TEST(Dtb, Refusals)
{
    struct Row { Bytes bytes; std::string message; };
    Bytes shortByOne = makeDtb(2, 2, 4);
    shortByOne.pop_back();
    Bytes countTooLarge = makeDtb(0, 2, 3);
    countTooLarge[8] = 0xFF;
    countTooLarge[9] = 0xFF; // 65535 entries declared
    const Row rows[] = {
        {makeDtb(6, 0, 0), ": entry type 6 is above 5"},
        {makeDtb(65535, 0, 0), ": entry type 65535 is above 5"},
        {shortByOne, ": declares 2 entries of 120 bytes, which need 746 bytes; the file holds 745"},
        {countTooLarge, ": declares 65535 entries of 102 bytes, which need 6685076 bytes; the file holds 710"},
    };
    for (const auto& r : rows) {
        TempDir dir;
        const std::string file = writeDtb(dir, r.bytes);
        TDtbHeader h;
        h.FirstValue = 1;
        TDtbEntries e;
        try {
            TLitdat().Lect_DTB(file, h, e);
            ADD_FAILURE() << r.message;
        } catch (const Refusal& err) {
            EXPECT_EQ(err.what(), file + r.message);
        }
        EXPECT_EQ(h.FirstValue, 1); // nothing changed
        EXPECT_EQ(e.count(), 0);
    }
}

TEST(Dtb, FileErrors)
{
    TempDir dir;
    TDtbHeader h;
    TDtbEntries e;
    try {
        TLitdat().Lect_DTB(dir.file("none.dtb"), h, e);
        ADD_FAILURE();
    } catch (const InOutError& err) {
        EXPECT_EQ(err.text(), iotext::kNotFound);
    }
    Bytes header = makeDtb(0, 0, 3);
    header.resize(503); // ends inside the value at 502, where the missing bytes begin at 503
    const std::string file = writeDtb(dir, header);
    try {
        TLitdat().Lect_DTB(file, h, e);
        ADD_FAILURE();
    } catch (const InOutError& err) {
        EXPECT_EQ(err.text(), iotext::kEndOfFile);
        EXPECT_EQ(err.offset(), 503);
    }
    EXPECT_EQ(h, TDtbHeader{});
    // Read only: the file is opened for reading alone.
    writeDtb(dir, makeDtb(0, 1, 3));
    std::filesystem::permissions(file, std::filesystem::perms::owner_read,
                                 std::filesystem::perm_options::replace);
    EXPECT_TRUE(TLitdat().Lect_DTB(file, h, e));
}
