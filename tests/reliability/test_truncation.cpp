// Every prefix of a valid file, for every reader, both commands and the F1B conversion. A binary
// reader either fails with "Lecture au-delà de la fin de fichier", naming the file and the byte
// where the prefix ends (where the missing bytes begin), and leaves the caller's records as they
// were, or reads exactly what the whole file holds (when the cut falls in bytes it never reads). A
// TXT prefix is a shorter scan. A command either fails and writes nothing, or writes exactly the
// files of the whole input.
#include "reliability.h"

#include "fmt_raw/raw.h"
#include "fmt_raw/raw_images.h"
#include "ulit_dat/dtb.h"
#include "ulit_dat/errors.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>

using namespace rawdat;
using namespace rawdat::test;
namespace fs = std::filesystem;

namespace {

Image prefix(const Image& whole, std::size_t n)
{
    return Image(whole.begin(), whole.begin() + static_cast<long>(n));
}

// What one read of a file gives, compared whole.
struct ScanRead {
    TScanHeader h;
    TScanParams p;
    TData d;
    RawModule m;
    TCalibration c;
    TDtbHeader dh;
    TDtbEntries de;
    bool operator==(const ScanRead& o) const
    {
        if (de.count() != o.de.count())
            return false;
        for (int i = 1; i <= de.count(); ++i)
            if (!(de[i] == o.de[i]))
                return false;
        return h == o.h && p == o.p && d == o.d && m.RangeInfo == o.m.RangeInfo &&
               m.AnodeIndex == o.m.AnodeIndex && m.Ranges == o.m.Ranges && m.MainRange == o.m.MainRange &&
               c == o.c && dh == o.dh;
    }
};

// Reads `path` into `r`; false when the file does not open.
using Reader = std::function<bool(const std::string& path, ScanRead& r)>;

struct SweepCounts {
    int failed = 0;
    int readWhole = 0;
};

// Runs the reader over every prefix of `whole` (written to `path`) and checks each outcome. A
// reader that checks a declared count against the file's size first may refuse a prefix instead,
// with a message that holds `shortRefusal`.
SweepCounts sweep(const std::string& what, const std::string& path, const Image& whole, const Reader& read,
                  const char* shortRefusal)
{
    auto marked = std::make_unique<ScanRead>();
    marked->h.Comment1 = "previous scan";
    marked->h.Size = 77;
    marked->d.fill(-5);
    marked->m.RangeInfo.Start = 99.0f;
    marked->c.KnotCount = 3;
    marked->c.KnotPos[2] = 0.5;
    marked->dh.FirstValue = 77;
    marked->de.growTo(2);
    marked->de[2].Pairs[3] = {1.5, 2.5};

    writeBytes(path, whole);
    auto full = std::make_unique<ScanRead>(*marked);
    EXPECT_TRUE(read(path, *full)) << what;

    SweepCounts counts;
    auto got = std::make_unique<ScanRead>();
    for (std::size_t n = 0; n < whole.size(); ++n) {
        writeBytes(path, prefix(whole, n));
        *got = *marked;
        try {
            EXPECT_TRUE(read(path, *got)) << what << " cut at " << n;
            EXPECT_TRUE(*got == *full)
                << what << " cut at " << n << " read something else than the whole file";
            ++counts.readWhole;
        } catch (const InOutError& e) {
            ++counts.failed;
            EXPECT_EQ(e.text(), iotext::kEndOfFile) << what << " cut at " << n;
            EXPECT_EQ(e.file(), path) << what << " cut at " << n;
            EXPECT_EQ(e.offset(), static_cast<std::int64_t>(n)) << what << " cut at " << n;
            EXPECT_EQ(std::string(e.what()), std::string(iotext::kEndOfFile) + " (" + path + ", byte " +
                                                 std::to_string(n) + ")")
                << what << " cut at " << n;
            EXPECT_TRUE(*got == *marked) << what << " cut at " << n << " changed the records";
        } catch (const Refusal& e) {
            ++counts.failed;
            EXPECT_TRUE(shortRefusal && std::string(e.what()).find(shortRefusal) != std::string::npos)
                << what << " cut at " << n << ": " << e.what();
            EXPECT_EQ(e.file(), path) << what << " cut at " << n;
            EXPECT_TRUE(*got == *marked) << what << " cut at " << n << " changed the records";
        } catch (const std::exception& e) {
            ADD_FAILURE() << what << " cut at " << n << ": " << e.what();
        }
    }
    return counts;
}

} // namespace

TEST(Truncation, EveryPrefixOfEachBinaryFormat)
{
    TempDir dir;
    TLitdat lit;
    const Reader dat = [&](const std::string& p, ScanRead& r) { return lit.Lect_Dat(p, r.h, r.p, r.d); };
    const Reader cal = [&](const std::string& p, ScanRead& r) { return lit.Lect_CAL(p, r.c); };
    const Reader raw = [&](const std::string& p, ScanRead& r) {
        Lect_RAW(r.m, p, r.h, r.p, r.d);
        return true;
    };
    const Reader fdt = [&](const std::string& p, ScanRead& r) {
        return lit.LoadScanFDT(1, p, true, r.p, r.h, r.d);
    };
    const Reader dtb = [&](const std::string& p, ScanRead& r) { return lit.Lect_DTB(p, r.dh, r.de); };

    // A DTB file of two entries of type 5 (6 pairs each), every value distinct.
    Image dtbFile(kDtbFirstEntry + 2 * dtbEntrySize(6) + 2, 0);
    put<std::uint16_t>(dtbFile, 4, 5);
    put<std::uint16_t>(dtbFile, 8, 2);
    for (std::size_t at = 10, v = 1; at + 8 <= dtbFile.size() - 2; at += 8, ++v)
        put<double>(dtbFile, at, 0.5 * static_cast<double>(v));

    TCalibration poly;
    poly.PolyCoef[1] = 5.0;
    poly.PolyCoef[2] = 0.025;
    // RAW4: a named text, the X-ray source and one range (its ranges run to the end of the file:
    // one cut right after a range is a file of fewer ranges).
    Raw4Range range4;
    range4.values = {1, 2, 3};
    const Image raw4 = raw4Image({raw4Text("SAMPLEID", "sample"), raw4Source(1.5406)}, {range4});

    struct Row {
        const char* what;
        Image file;
        const Reader& read;
        std::size_t readWhole; // prefixes that hold every byte the reader reads
        const char* shortRefusal = nullptr;
    };
    const Row rows[] = {
        // The end byte 0x82 of a DAT file is not read.
        {"DAT of 100 channels", readBytes(writeDatWithCalibration(dir, 100)), dat, 1},
        {"DAT sample of 4096 channels", readBytes(std::string(RAWDAT_SAMPLES) + "/LAB6.DAT"), dat, 1},
        {"CAL polynomial", bytesWritten("P.CAL", [&](auto& p) { lit.Ecr_CAL(p, poly); }), cal, 0},
        {"CAL spline sample", readBytes(std::string(RAWDAT_SAMPLES) + "/CPS120.CAL"), cal, 0},
        {"RAW2 of 300 steps", readBytes(writeRaw2(dir, "R.RAW", 300)), raw, 0},
        {"RAW1 instrument file", readBytes(std::string(RAWDAT_TESTDATA) + "/raw/BT86.raw"), raw, 0},
        {"RAW1 of three ranges", readBytes(std::string(RAWDAT_TESTDATA) + "/raw/format1.raw"), raw, 0},
        // A RAW4 reader checks lengths against the file's size first.
        {"RAW4 of one range", raw4, raw, 0, "end of the file"},
        {"FDT of one scan", readBytes(writeFdt(dir, "F.fdt")), fdt, 0},
        // Past its header, a DTB file shorter than its entries is refused before they are read.
        {"DTB of two entries", dtbFile, dtb, 0, "the file holds"},
    };
    for (const Row& row : rows) {
        const SweepCounts c = sweep(row.what, dir.file("cut"), row.file, row.read, row.shortRefusal);
        EXPECT_EQ(static_cast<std::size_t>(c.readWhole), row.readWhole) << row.what;
        EXPECT_EQ(static_cast<std::size_t>(c.failed), row.file.size() - row.readWhole) << row.what;
    }
}

TEST(Truncation, EveryPrefixOfATxtFileIsAShorterScan)
{
    TempDir dir;
    TLitdat lit;
    const auto scan = std::make_unique<DatScan>(datScan(12, "C"));
    auto values = std::make_unique<TReal48Array>();
    for (int i = 1; i <= 12; ++i)
        (*values)[i] = Real48::fromValue(scan->d[i]);
    const std::string path = dir.file("S.TXT");
    lit.Ecr_TXT(path, scan->h, scan->p, *values, 10.0, 0.02, 10.22);
    const Image whole = readBytes(path);
    const std::string text(whole.begin(), whole.end());
    const std::size_t rangeLine = text.find("\r\n ") + 2; // the only line that begins with a space
    const std::size_t firstCount = text.find("\r\n", rangeLine) + 2;

    auto got = std::make_unique<DatScan>();
    for (std::size_t n = 0; n <= whole.size(); ++n) {
        writeBytes(path, prefix(whole, n));
        got->h.Size = -1;
        ASSERT_NO_THROW(EXPECT_TRUE(lit.Lect_TXT(path, got->h, got->p, got->d))) << n;
        const int size = got->h.Size;
        if (n <= rangeLine) {
            EXPECT_EQ(size, 0) << n << ": no range line, no intensities";
            continue;
        }
        // Lines begun after the range line, and at least the one the reader always takes.
        int begun = 0;
        for (std::size_t p = firstCount; p < n; p = text.find("\r\n", p) + 2)
            ++begun;
        EXPECT_EQ(size, std::max(begun, 1)) << n;
        for (int i = 1; i < size; ++i)
            EXPECT_EQ(got->d[i], scan->d[i]) << n << ", line " << i;
        // The last line may be cut: its count is the leading digits of the whole count, or 0.
        const std::string last = std::to_string(got->d[size]);
        const std::string wholeCount = std::to_string(scan->d[size]);
        EXPECT_TRUE(got->d[size] == 0 || wholeCount.rfind(last, 0) == 0)
            << n << ": " << last << " of " << wholeCount;
    }
    EXPECT_EQ(got->h.Size, 12);
}

namespace {

// Runs a command over every prefix of its input file and checks each outcome against the
// outputs of the whole input.
void sweepCommand(const std::string& what, const TempDir& dir, const std::string& input,
                  CommandRun (*run)(const std::string&, bool))
{
    const Image whole = readBytes(input);
    const FolderImage before = folderImage(dir.path());
    ASSERT_TRUE(run(input, true).ok) << what;
    const FolderImage converted = folderImage(dir.path());
    ASSERT_GT(converted.size(), before.size()) << what;

    int failed = 0;
    for (std::size_t n = 0; n < whole.size(); ++n) {
        for (const auto& [name, bytes] : converted)
            if (!before.count(name))
                fs::remove(dir.path() / name);
        writeBytes(input, prefix(whole, n));
        FolderImage expected = before;
        expected[fs::path(input).filename().string()] = prefix(whole, n);
        const CommandRun r = run(input, true);
        if (r.ok) {
            expected = converted;
            expected[fs::path(input).filename().string()] = prefix(whole, n);
        } else {
            ++failed;
            ASSERT_EQ(r.errors.size(), 1u) << what << " cut at " << n;
            EXPECT_EQ(r.errors[0],
                      std::string(iotext::kEndOfFile) + " (" + input + ", byte " + std::to_string(n) + ")")
                << what << " cut at " << n;
        }
        ASSERT_EQ(folderImage(dir.path()), expected) << what << " cut at " << n;
    }
    EXPECT_GE(failed, static_cast<int>(whole.size()) - 1) << what;
    writeBytes(input, whole);
}

} // namespace

TEST(Truncation, TheDatCommandWritesNothingForACutDatFile)
{
    TempDir dir;
    sweepCommand("DAT file", dir, writeDatWithCalibration(dir, 64), runDatCommand);
}

TEST(Truncation, TheDatCommandWritesNothingForACutCalFile)
{
    // Every prefix of a polynomial calibration; of a spline calibration (whose every prefix the
    // reader's sweep above takes) the prefixes at the ends of its fields.
    TempDir dir;
    const std::string dat = writeDatWithCalibration(dir, 64);
    const Image spline = readBytes(dir.file("C.CAL"));
    TCalibration poly;
    poly.PolyCoef[1] = 5.0;
    poly.PolyCoef[2] = 0.025;
    TLitdat().Ecr_CAL(dir.file("C.CAL"), poly);
    const Image polynomial = readBytes(dir.file("C.CAL"));
    std::vector<std::pair<const Image*, std::size_t>> cuts;
    for (std::size_t n = 0; n < polynomial.size(); ++n)
        cuts.emplace_back(&polynomial, n);
    for (std::size_t n :
         {0u, 1u, 2u, 10u, 14u, 103u, 104u, 105u, 106u, 107u, 108u, 115u, 116u, 2024u, 4169u, 4170u, 4171u})
        cuts.emplace_back(&spline, n);

    for (const Image* whole : {&polynomial, &spline}) {
        writeBytes(dir.file("C.CAL"), *whole);
        ASSERT_TRUE(runDatCommand(dat).ok);
        fs::remove(dir.file("S.RAW"));
        fs::remove(dir.file("S.2CL"));
    }
    for (const auto& [whole, n] : cuts) {
        writeBytes(dir.file("C.CAL"), prefix(*whole, n));
        const FolderImage before = folderImage(dir.path());
        const CommandRun r = runDatCommand(dat);
        ASSERT_FALSE(r.ok) << n;
        ASSERT_EQ(r.errors.size(), 1u) << n;
        EXPECT_EQ(r.errors[0], std::string(iotext::kEndOfFile) + " (" + dir.file("C.CAL") + ", byte " +
                                   std::to_string(n) + ")")
            << n;
        ASSERT_EQ(folderImage(dir.path()), before) << n;
    }
}

TEST(Truncation, TheRawCommandWritesNothingForACutRawFile)
{
    TempDir raw2;
    sweepCommand("RAW2 file", raw2, writeRaw2(raw2, "S.RAW", 200), runRawCommand);
    // A RAW1 file of 20 steps after a supplementary header (the instrument files' every prefix is
    // in the reader's sweep above).
    TempDir raw1;
    Raw1Fields fields;
    fields.extra = 16;
    for (int i = 1; i <= 20; ++i)
        fields.values.push_back(100.0f * static_cast<float>(i));
    const std::string path = raw1.file("S.raw");
    writeBytes(path, raw1Image(fields));
    sweepCommand("RAW1 file", raw1, path, runRawCommand);
}

TEST(Truncation, EveryPrefixOfAnF1bFileConvertsItsWholeScansOrWritesNothing)
{
    // An F1B file is text: a shorter file counts fewer lines, so fewer scans. Each prefix either
    // converts, writing an FDT file that holds the scans the prefix counts, or fails and writes
    // nothing.
    TempDir dir;
    writeF1bFiles(dir, 40, 3);
    const Image whole = readBytes(dir.file("run.F1B"));
    int converted = 0;
    int failed = 0;
    for (std::size_t n = 0; n <= whole.size(); ++n) {
        fs::remove(dir.file("run.fdt"));
        fs::remove(dir.file("run.cal"));
        writeBytes(dir.file("run.F1B"), prefix(whole, n));
        const CommandRun r = runF1bConversion(dir);
        if (!r.ok) {
            ++failed;
            ASSERT_EQ(r.errors.size(), 1u) << n;
            EXPECT_EQ(listFolder(dir.path()), (std::vector<std::string>{"run.F1B", "run.par"})) << n;
            continue;
        }
        ++converted;
        EXPECT_EQ(listFolder(dir.path()),
                  (std::vector<std::string>{"run.F1B", "run.cal", "run.fdt", "run.par"}))
            << n;
        TLitdat lit;
        auto scan = std::make_unique<DatScan>();
        ASSERT_NO_THROW(lit.LoadScanFDT(0, dir.file("run.fdt"), true, scan->p, scan->h, scan->d)) << n;
        const int scans = scan->h.NbScans;
        EXPECT_TRUE(scans >= 0 && scans <= 3) << n;
        if (scans > 0) {
            ASSERT_TRUE(lit.LoadScanFDT(scans, dir.file("run.fdt"), false, scan->p, scan->h, scan->d)) << n;
        }
    }
    // Line 5 begins with the channel count "  40": the prefixes without its "4" are refused (a
    // count below 2), every longer one converts (from "  4", a count of 4).
    std::size_t line5 = 0;
    for (int i = 0; i < 4; ++i)
        line5 = static_cast<std::size_t>(
                    std::find(whole.begin() + static_cast<long>(line5), whole.end(), '\n') - whole.begin()) +
                1;
    ASSERT_EQ(whole[line5 + 2], '4');
    EXPECT_EQ(failed, static_cast<int>(line5 + 2) + 1);
    EXPECT_EQ(converted, static_cast<int>(whole.size() - line5 - 2));
}
