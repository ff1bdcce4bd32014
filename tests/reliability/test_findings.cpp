// Regression tests of the faults that fuzzing and the reliability tests found, one per fault.
#include "reliability.h"
#include "ulit_dat/f1b_images.h"

#include "fmt_raw/raw.h"
#include "ulit_dat/errors.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

using namespace rawdat;
using namespace rawdat::test;
namespace fs = std::filesystem;

TEST(Findings, ALineEndInARawCommentDoesNotBreakTheTxtFile)
{
    // A RAW2 comment holding a line feed was written into the TXT file's COMMENT line as it was:
    // the rest of the comment became a line of its own that begins with spaces, which ends the
    // TXT header, and every intensity was read one line off.
    TempDir dir;
    const std::string raw = writeRaw2(dir, "S.RAW", 40);
    auto bytes = readBytes(raw);
    const std::size_t comment = 40; // the RAW2 comment field
    bytes[comment + 85] = '\n';
    bytes[comment + 86] = '\r';
    writeBytes(raw, bytes);
    ASSERT_TRUE(runRawCommand(raw).ok);

    TLitdat lit;
    const auto written = std::make_unique<DatScan>();
    const auto expected = std::make_unique<DatScan>(datScan(40, "C"));
    ASSERT_TRUE(lit.Lect_TXT(dir.file("S.TXT"), written->h, written->p, written->d));
    ASSERT_EQ(written->h.Size, 40);
    for (int i = 1; i <= 40; ++i)
        EXPECT_EQ(written->d[i], expected->d[i]) << i;
    const std::string txt = readText(dir.file("S.TXT"));
    EXPECT_EQ(std::count(txt.begin(), txt.end(), '\n'), 9 + 40);
    EXPECT_EQ(std::count(txt.begin(), txt.end(), '\r'), 9 + 40);
}

TEST(Findings, ALineEndInTheTitleDoesNotBreakTheStepScanFile)
{
    TempDir dir;
    TLitdat lit;
    auto scan = std::make_unique<DatScan>(datScan(5, "C"));
    scan->h.Comment1 = "first\rsecond\nthird";
    auto values = std::make_unique<TReal48Array>();
    lit.Ecr_MAUD(dir.file("S.stp"), scan->h, scan->p, *values, 10.0, 0.5, 12.0);
    EXPECT_EQ(readText(dir.file("S.stp")).substr(0, 19), "first second third\r");
}

TEST(Findings, AWavelengthBeyondASingleIsRefusedBeforeAnyFileIsWritten)
{
    // The DAT command wrote the two-column file, then failed in Ecr_RAW with a floating-point
    // overflow: a failed conversion left an output file.
    TempDir dir;
    const std::string dat = writeDatWithCalibration(dir, 300);
    TLitdat lit;
    auto scan = std::make_unique<DatScan>(datScan(300, "C"));
    scan->h.Wavelength = -3.4e194;
    lit.Ecr_DAT(dat, scan->h, scan->p, scan->d);
    const CommandRun r = runDatCommand(dat);
    EXPECT_FALSE(r.ok);
    ASSERT_EQ(r.errors.size(), 1u);
    EXPECT_EQ(r.errors[0],
              dat + ": its wavelength does not fit the 4-byte real of a RAW file; nothing converted");
    EXPECT_EQ(listFolder(dir.path()), (std::vector<std::string>{"C.CAL", "S.DAT"}));
}

TEST(Findings, AResampledCountWhoseSingleIsTwoToTheThirtyOneIsRefused)
{
    // Counts from 2^31 - 64 up are int32 values, but the RAW file stores them as the Single 2^31,
    // which no reader takes back as a count: the DAT command wrote a RAW file that Lect_RAW
    // refuses. A parabola whose top, 2147483600, falls on a target angle between two channels:
    // every channel holds an exact Single (2147483520 - 320 k (k + 1), k channels from the top).
    TempDir dir;
    TLitdat lit;
    TCalibration poly; // angle = 9.9995 + 0.001 channel: targets fall half-way between channels
    poly.CalWavelength = 1.54056;
    poly.PolyCoef[1] = 9.9995;
    poly.PolyCoef[2] = 0.001;
    lit.Ecr_CAL(dir.file("C.CAL"), poly);
    auto scan = std::make_unique<DatScan>(datScan(256, "C"));
    for (int ch = 1; ch <= 256; ++ch) {
        const std::int64_t k = ch <= 128 ? 128 - ch : ch - 129;
        scan->d[ch] = static_cast<std::int32_t>(2147483520 - 320 * k * (k + 1));
    }
    const std::string dat = dir.file("S.DAT");
    lit.Ecr_DAT(dat, scan->h, scan->p, scan->d);

    TRawDatState state;
    RecordingUi ui;
    ui.nextFile = dat;
    TConversion conv(state, lit, ui);
    EXPECT_FALSE(conv.runDat());
    EXPECT_EQ(state.Raw.RangeInfo.Start, 0.0f); // nothing converted
    ASSERT_EQ(ui.errors.size(), 1u);
    EXPECT_NE(ui.errors[0].find(dat + ": resampled point "), std::string::npos) << ui.errors[0];
    EXPECT_NE(ui.errors[0].find(" has an intensity that is not a 32-bit count"), std::string::npos)
        << ui.errors[0];
    EXPECT_EQ(listFolder(dir.path()), (std::vector<std::string>{"C.CAL", "S.DAT"}));

    // One less at the top converts, and the RAW file reads back.
    for (int ch = 1; ch <= 256; ++ch)
        scan->d[ch] -= 128;
    lit.Ecr_DAT(dat, scan->h, scan->p, scan->d);
    ASSERT_TRUE(runDatCommand(dat).ok);
    RawModule m;
    auto back = std::make_unique<DatScan>();
    EXPECT_NO_THROW(Lect_RAW(m, dir.file("S.RAW"), back->h, back->p, back->d));
}

TEST(Findings, AnF1bConversionThatFailsPartWayKeepsThePreviousFiles)
{
    // lect_F1B wrote the FDT header over the previous FDT file before reading the parameter file
    // and the values of each scan: a missing parameter file or a value beyond a Single in scan 2
    // destroyed the previous file and left a part of the new one.
    TempDir dir;
    writeF1bFiles(dir, 40, 1);
    ASSERT_TRUE(runF1bConversion(dir).ok);
    const FolderImage before = folderImage(dir.path());

    writeF1bFiles(dir, 40, 2);
    std::string params = makeParams(2);
    params.replace(params.find("\r\n") + 2 + 18, 8, "   1e39 "); // Theta of scan 2
    writeText(dir.file("run.par"), params);
    FolderImage expected = folderImage(dir.path());
    expected["run.cal"] = before.at("run.cal");
    expected["run.fdt"] = before.at("run.fdt");
    EXPECT_EQ(runF1bConversion(dir).errors, std::vector<std::string>{"Débordement de virgule flottante"});
    EXPECT_EQ(folderImage(dir.path()), expected);

    fs::remove(dir.file("run.par"));
    expected.erase("run.par");
    EXPECT_EQ(runF1bConversion(dir).errors,
              std::vector<std::string>{std::string(iotext::kNotFound) + " (" + dir.file("run.par") + ")"});
    EXPECT_EQ(folderImage(dir.path()), expected);
}
