// The two conversion commands driven through a recording user interface.
#include "fixtures.h"
#include "fmt_raw/raw_images.h"
#include "testutil.h"
#include "ulit_dat/errors.h"
#include "ulit_dat/numtext.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>

using namespace rawdat;
using namespace rawdat::test;
namespace fs = std::filesystem;

namespace {

struct Fixture {
    TempDir dir;
    TLitdat lit;
    TRawDatState state;
    RecordingUi ui;
    TConversion conv{state, lit, ui};

    std::string writeDat(const std::string& name, const DatScan& s)
    {
        const std::string path = dir.file(name);
        lit.Ecr_DAT(path, s.h, s.p, s.d);
        return path;
    }
    void writeCal(const std::string& name, const TCalibration& c) { lit.Ecr_CAL(dir.file(name), c); }
    bool runDat(const std::string& path)
    {
        ui.nextFile = path;
        return conv.runDat();
    }
    bool runRaw(const std::string& path)
    {
        ui.nextFile = path;
        return conv.runRaw();
    }
};

int lineCount(const std::string& text)
{
    int n = 0;
    for (std::size_t p = 0; (p = text.find("\r\n", p)) != std::string::npos; p += 2)
        ++n;
    return n;
}

} // namespace

TEST(DatCommand, MemoLabelsPlotAndFiles)
{
    Fixture f;
    f.writeCal("CAL12.CAL", lineCalibration(50.4, 1000.9, 10.0, 0.02));
    const std::string dat = f.writeDat("S1.DAT", datScan(1024, "CAL12"));
    ASSERT_TRUE(f.runDat(dat)) << f.ui.errors.at(0);

    const std::vector<std::string> memo = {
        "calibration : calibOK",
        "taille : 1024",
        "acquisition : 600.000",
        "lambda : 1.54056",
        "Calib : CAL12" + std::string(4, '\0'),
        "date : 12/03/98 14:25:36   ",
        "power 40        30       ",
        "comment Si standard" + std::string(69, '\0'),
        "comment line two" + std::string(72, '\0'),
        "comment line three" + std::string(70, '\0'),
    };
    EXPECT_EQ(f.ui.memo, memo);
    EXPECT_EQ(f.ui.labels[LabelId::Dat], dat);
    EXPECT_EQ(f.ui.labels[LabelId::Raw], f.dir.file("S1.RAW"));
    EXPECT_EQ(f.state.RawFileName, f.dir.file("S1.RAW"));
    EXPECT_EQ(f.state.CalFileName, "CAL12.CAL");
    EXPECT_TRUE(f.ui.asked.empty());

    // The plot shows the pattern as read, against 2-theta.
    ASSERT_EQ(f.ui.plotX.size(), 1024u);
    EXPECT_EQ(f.ui.plotX[0], static_cast<float>(10.02));
    EXPECT_EQ(f.ui.plotX[999], static_cast<float>(30.0));
    EXPECT_EQ(f.ui.plotY[511], datScan(1024, "CAL12").d[512]);

    // Channels 50..1000 are calibrated (first = T(50.9), last = T(1000.9)); step 0.020; start ten
    // steps inside the first channel; the pattern is the resampled points only.
    const TRangeInfo& r = f.state.Raw.RangeInfo;
    EXPECT_EQ(r.Step, 0.02f);
    EXPECT_EQ(r.Start, 11.2f);
    EXPECT_FLOAT_EQ(r.Stop, 10.0f + 0.02f * 999 - 0.2f);
    EXPECT_EQ(r.StepTime, 600.0f / 1024);
    const int points = f.state.Header.Size;
    EXPECT_EQ(points, 930); // (29.78 - 11.2) / 0.02 + 1 rounded
    const auto raw = readBytes(f.dir.file("S1.RAW"));
    EXPECT_EQ(raw.size(), 256u + 58u + 4u * static_cast<unsigned>(points));
    const std::string twoCol = readText(f.dir.file("S1.2CL"));
    EXPECT_EQ(lineCount(twoCol), points);
    EXPECT_EQ(twoCol.substr(0, 20), " 11.200        100\r\n");
    // A linear calibration puts every target on a channel: the counts come back unchanged.
    const DatScan s = datScan(1024, "CAL12");
    for (int i = 1; i <= points; ++i)
        ASSERT_EQ(f.state.Data->operator[](i), s.d[59 + i]) << i;
}

TEST(DatCommand, ExtendedPrecisionDecidesTheLastChannel)
{
    // x_K = 3.901: the double lies below 3.901, so T(x_K * 1000) is 3900 in extended precision;
    // in double the product rounds up to 3901.
    Fixture f;
    TCalibration c = lineCalibration(50.4, 3901.0, 5.0, 0.03);
    c.KnotPos[c.KnotCount] = 3.901;
    f.writeCal("C.CAL", c);
    ASSERT_TRUE(f.runDat(f.writeDat("S.DAT", datScan(4096, "C"))));
    const float expectedStop = static_cast<float>(Real48::fromValue(f.lit.Degree(c, 3899)).value() - 10 * 0.03L);
    EXPECT_EQ(f.state.Raw.RangeInfo.Stop, expectedStop);
}

TEST(DatCommand, CalibrationNameAndLookUp)
{
    struct Row { const char* calName; const char* fileOnDisk; bool found; const char* status; };
    const Row rows[] = {
        {"AB 12", "AB12.CAL", true, "calibOK"},
        {"AB12", "ab12.cal", true, "calibOK"},          // letter case differs on disk
        {"LONGCALNAME", "LONGCALNA.CAL", true, "calibOK"}, // first nine characters
        {"XY", "XZ.CAL", false, "calib NOTOKXY*"},
        {"         ", ".CAL", true, "calibOK"},
    };
    for (const auto& r : rows) {
        Fixture f;
        f.writeCal(r.fileOnDisk, lineCalibration(10, 900, 10.0, 0.02));
        f.runDat(f.writeDat("S.DAT", datScan(1024, r.calName)));
        ASSERT_FALSE(f.ui.memo.empty()) << r.calName;
        EXPECT_EQ(f.ui.memo[0], std::string("calibration : ") + r.status) << r.calName;
        EXPECT_EQ(f.state.CalibOK, r.found) << r.calName;
    }
}

TEST(DatCommand, MissingCalibrationPlotsChannelsAndConvertsNothing)
{
    Fixture f;
    const std::string dat = f.writeDat("S.DAT", datScan(256, "XY"));
    EXPECT_FALSE(f.runDat(dat));
    EXPECT_EQ(f.ui.memo[0], "calibration : calib NOTOKXY*");
    ASSERT_EQ(f.ui.plotX.size(), 256u);
    EXPECT_EQ(f.ui.plotX[0], 1.0);
    EXPECT_EQ(f.ui.plotX[255], 256.0);
    ASSERT_EQ(f.ui.errors.size(), 1u);
    EXPECT_NE(f.ui.errors[0].find("no calibration: XY.CAL was not found"), std::string::npos) << f.ui.errors[0];
    EXPECT_EQ(listFolder(f.dir.path()), std::vector<std::string>{"S.DAT"});
}

// Regression: a DAT file whose calibration is missing was converted silently with the one read
// before. It is used only when the user says so.
TEST(DatCommand, MissingCalibrationUsesTheLastOneReadOnlyWhenAsked)
{
    Fixture f;
    f.writeCal("A.CAL", lineCalibration(10, 900, 10.0, 0.02));
    ASSERT_TRUE(f.runDat(f.writeDat("A.DAT", datScan(1024, "A"))));
    ASSERT_TRUE(f.runDat(f.writeDat("B.DAT", datScan(1024, "B")))); // a no is no error
    EXPECT_EQ(f.ui.calibrationQuestions,
              std::vector<std::string>{"B.CAL was not found beside B.DAT. Convert with the calibration read "
                                       "before (" + f.dir.file("A.CAL") + ")?"});
    EXPECT_EQ(f.ui.memo[10], "calibration : calib NOTOKB*");
    EXPECT_EQ(f.ui.memo.size(), 20u); // the DAT command appends
    EXPECT_EQ(f.ui.plotX[0], 1.0);
    EXPECT_FALSE(fs::exists(f.dir.file("B.RAW")));
    EXPECT_FALSE(fs::exists(f.dir.file("B.2CL")));

    f.ui.usePreviousCalibration = true;
    ASSERT_TRUE(f.runDat(f.dir.file("B.DAT")));
    EXPECT_NEAR(f.ui.plotX[0], 10.02, 1e-5); // plotted against the calibration used
    EXPECT_EQ(readText(f.dir.file("B.2CL")), readText(f.dir.file("A.2CL")));
}

TEST(DatCommand, UnusableCalibrationsAreRefusedAndWriteNothing)
{
    struct Row { const char* name; TCalibration cal; const char* message; };
    TCalibration oneKnot = lineCalibration(10, 900, 10.0, 0.02);
    oneKnot.KnotCount = 1;
    TCalibration falling = lineCalibration(10, 900, 40.0, -0.02);
    TCalibration tiny = lineCalibration(10, 900, 10.0, 0.0004); // rounds to a step of 0
    TCalibration outside = lineCalibration(2000, 3000, 10.0, 0.02);
    TCalibration fewChannels = lineCalibration(1021.4, 1100, 10.0, 0.02);
    TCalibration flatPoly;
    flatPoly.SplineFlag = 0;
    flatPoly.PolyCoef[1] = 12.0;
    const Row rows[] = {
        {"one knot", oneKnot, "has fewer than two distinct knots"},
        {"angles fall with the channel", falling, "gives a step of -0.019 degree"},
        {"step rounds to 0", tiny, "gives a step of 0.000 degree"},
        {"knots beyond the scan", outside, "covers fewer than 5 of the scan's channels"},
        {"four channels left", fewChannels, "covers fewer than 5 of the scan's channels"},
        {"flat polynomial", flatPoly, "gives a step of 0.000 degree"},
    };
    for (const auto& r : rows) {
        Fixture f;
        f.writeCal("C.CAL", r.cal);
        EXPECT_FALSE(f.runDat(f.writeDat("S.DAT", datScan(1024, "C")))) << r.name;
        ASSERT_EQ(f.ui.errors.size(), 1u) << r.name;
        EXPECT_NE(f.ui.errors[0].find(r.message), std::string::npos) << r.name << ": " << f.ui.errors[0];
        EXPECT_EQ(listFolder(f.dir.path()), (std::vector<std::string>{"C.CAL", "S.DAT"})) << r.name;
        EXPECT_EQ(f.state.Header.Size, 1024) << r.name;
    }
}

TEST(DatCommand, PolynomialCalibrationCoversEveryChannel)
{
    Fixture f;
    TCalibration poly;
    poly.SplineFlag = 0;
    poly.PolyCoef[1] = 5.0;
    poly.PolyCoef[2] = 0.025;
    f.writeCal("P.CAL", poly);
    ASSERT_TRUE(f.runDat(f.writeDat("S.DAT", datScan(512, "P"))));
    EXPECT_EQ(f.state.Raw.RangeInfo.Step, 0.025f);
    EXPECT_EQ(f.state.Raw.RangeInfo.Start, 5.275f); // channel 1 at 5.025, ten steps on
}

TEST(DatCommand, OverwriteQuestion)
{
    for (bool yes : {false, true}) {
        Fixture f;
        f.writeCal("C.CAL", lineCalibration(10, 900, 10.0, 0.02));
        const std::string dat = f.writeDat("S.DAT", datScan(1024, "C"));
        writeText(f.dir.file("S.RAW"), "old raw");
        writeText(f.dir.file("S.2CL"), "old 2cl");
        f.ui.labels[LabelId::Raw] = "previous";
        f.ui.answer = yes;
        EXPECT_TRUE(f.runDat(dat));
        EXPECT_EQ(f.ui.asked, std::vector<std::string>{f.dir.file("S.RAW")});
        EXPECT_EQ(readText(f.dir.file("S.RAW")) == "old raw", !yes);
        EXPECT_EQ(readText(f.dir.file("S.2CL")) == "old 2cl", !yes);
        EXPECT_EQ(f.ui.labels[LabelId::Raw], yes ? f.dir.file("S.RAW") : "previous");
        EXPECT_EQ(f.ui.memo.size(), 10u);
        EXPECT_EQ(f.ui.plotX.size(), 1024u);
    }
}

TEST(DatCommand, CancelAndUnreadableFile)
{
    Fixture f;
    f.ui.nextFile.reset();
    EXPECT_TRUE(f.conv.runDat());
    EXPECT_TRUE(f.ui.memo.empty());
    EXPECT_TRUE(f.ui.labels.empty());
    EXPECT_FALSE(f.state.Data);

    EXPECT_TRUE(f.runDat(f.dir.file("absent.DAT")));
    EXPECT_EQ(f.ui.memo, std::vector<std::string>{"file not opened"});
    EXPECT_TRUE(f.ui.labels.empty()); // a file not read keeps the previous label
    EXPECT_TRUE(f.state.Data);
    EXPECT_TRUE(f.ui.plotX.empty());
}

TEST(DatCommand, TruncatedFileReportsAndWritesNothing)
{
    Fixture f;
    f.writeCal("C.CAL", lineCalibration(10, 900, 10.0, 0.02));
    const std::string dat = f.writeDat("S.DAT", datScan(1024, "C"));
    auto b = readBytes(dat);
    b.resize(3000);
    writeBytes(dat, b);
    EXPECT_FALSE(f.runDat(dat));
    ASSERT_EQ(f.ui.errors.size(), 1u);
    EXPECT_EQ(f.ui.errors[0], "Lecture au-delà de la fin de fichier (" + dat + ", byte 3000)");
    EXPECT_EQ(listFolder(f.dir.path()), (std::vector<std::string>{"C.CAL", "S.DAT"}));
}

TEST(RawCommand, AfterDatConversion)
{
    Fixture f;
    f.writeCal("C.CAL", lineCalibration(10, 900, 10.0, 0.02));
    ASSERT_TRUE(f.runDat(f.writeDat("S.DAT", datScan(1024, "C"))));
    const int points = f.state.Header.Size;
    std::vector<std::int32_t> converted(f.state.Data->first(), f.state.Data->first() + points);

    ASSERT_TRUE(f.runRaw(f.dir.file("S.RAW"))) << f.ui.errors.at(0);
    EXPECT_EQ(f.ui.memo, (std::vector<std::string>{"size : " + intText(points), "step :  0.0200", "2th init : 10.4000"}));
    EXPECT_EQ(f.ui.labels[LabelId::Raw], f.dir.file("S.RAW"));
    EXPECT_EQ(f.state.DatFileName, f.dir.file("S.TXT"));
    ASSERT_EQ(f.ui.plotX.size(), static_cast<std::size_t>(points));
    EXPECT_EQ(f.ui.plotX.back(), static_cast<float>(static_cast<long double>(points - 1) * 0.02f + 10.4f));
    for (int i = 0; i < points; ++i)
        ASSERT_EQ(f.ui.plotY[static_cast<std::size_t>(i)], converted[static_cast<std::size_t>(i)]);
    const std::string txt = readText(f.dir.file("S.TXT"));
    EXPECT_EQ(lineCount(txt), 9 + points);
    EXPECT_NE(txt.find("\r\n  10.400 0.020 "), std::string::npos);
    EXPECT_EQ(lineCount(readText(f.dir.file("S.2CL"))), points);
}

TEST(RawCommand, NoToTheTxtFileStillWritesTheTwoColumnFile)
{
    Fixture f;
    f.writeCal("C.CAL", lineCalibration(10, 900, 10.0, 0.02));
    ASSERT_TRUE(f.runDat(f.writeDat("S.DAT", datScan(1024, "C"))));
    writeText(f.dir.file("S.TXT"), "old txt");
    writeText(f.dir.file("S.2CL"), "old 2cl");
    f.ui.answer = false;
    ASSERT_TRUE(f.runRaw(f.dir.file("S.RAW")));
    EXPECT_EQ(f.ui.asked, std::vector<std::string>{f.dir.file("S.TXT")});
    EXPECT_EQ(readText(f.dir.file("S.TXT")), "old txt");
    EXPECT_NE(readText(f.dir.file("S.2CL")), "old 2cl");
}

// format1.raw holds three ranges: F.TXT/F.2CL hold the first, F_2 and F_3 the others, each with
// its exports, all as the plan lists them; every range agrees with xyconv's block of it.
TEST(RawCommand, EveryRangeHasItsOwnFilesAndExports)
{
    Fixture f;
    const std::string raw = f.dir.file("F.raw");
    fs::copy_file(std::string(RAWDAT_TESTDATA) + "/raw/format1.raw", raw);
    ConversionOptions options;
    options.also = {XyFormat::Xy, XyFormat::Xye, XyFormat::Csv};
    TConversion conv(f.state, f.lit, f.ui, options);
    f.ui.nextFile = raw;
    ASSERT_TRUE(conv.runRaw()) << f.ui.errors.at(0);

    EXPECT_EQ(f.ui.memo.size(), 4u);
    EXPECT_EQ(f.ui.memo.back(), "3 ranges; F.TXT holds range 1, ranges 2 and 3 are in F_2.TXT, F_3.TXT");
    EXPECT_EQ(f.ui.plotY.size(), 101u); // the plot shows the main range
    std::vector<std::string> planned;
    for (const PlannedOutput& o : plannedOutputs(FileKind::Raw, raw, options))
        planned.push_back(fs::path(o.path).filename().string());
    EXPECT_EQ(planned, (std::vector<std::string>{"F.TXT", "F.2CL", "F.xy", "F.xye", "F.csv", "F_2.TXT",
                                                 "F_2.2CL", "F_2.xy", "F_2.xye", "F_2.csv", "F_3.TXT",
                                                 "F_3.2CL", "F_3.xy", "F_3.xye", "F_3.csv"}));
    planned.push_back("F.raw");
    std::sort(planned.begin(), planned.end());
    EXPECT_EQ(listFolder(f.dir.path()), planned);
    EXPECT_EQ(readText(f.dir.file("F.xy")), xyFileText(f.state.LastPattern, XyFormat::Xy));

    if (!xyconvInstalled())
        GTEST_SKIP() << "xyconv (Debian package libxy-bin) is not installed";
    const auto blocks = runXyconv(raw);
    ASSERT_TRUE(blocks.has_value());
    ASSERT_EQ(blocks->size(), 3u);
    for (std::size_t k = 0; k < 3; ++k) {
        SCOPED_TRACE("range " + std::to_string(k + 1));
        const XyBlock& b = (*blocks)[k];
        const std::string name = f.dir.file(k == 0 ? "F" : "F_" + std::to_string(k + 1));
        TScanHeader h;
        TScanParams p;
        auto data = std::make_unique<TData>();
        ASSERT_TRUE(f.lit.Lect_TXT(name + ".TXT", h, p, *data));
        ASSERT_EQ(static_cast<std::size_t>(h.Size), b.y.size());
        for (std::size_t i = 0; i < b.y.size(); ++i)
            ASSERT_EQ((*data)[static_cast<int>(i) + 1], b.y[i]) << "TXT, step " << i + 1;
        const std::string twoColumn = readText(name + ".2CL");
        ASSERT_EQ(lineCount(twoColumn), static_cast<int>(b.y.size()));
        for (std::size_t i = 0, at = 0; i < b.y.size(); ++i, at = twoColumn.find("\r\n", at) + 2) {
            ASSERT_NEAR(std::stod(twoColumn.substr(at, 7)), b.x[i], 5e-4) << "2CL, step " << i + 1;
            ASSERT_EQ(std::stod(twoColumn.substr(at + 8, 10)), b.y[i]) << "2CL, step " << i + 1;
        }
        const auto xy = runXyconv(name + ".xy");
        ASSERT_TRUE(xy.has_value() && xy->size() == 1u);
        ASSERT_EQ(xy->front().y, b.y);
        for (std::size_t i = 0; i < b.x.size(); ++i)
            ASSERT_NEAR(xy->front().x[i], b.x[i], 1e-5) << "xy, step " << i + 1;
    }
}

TEST(TextExports, AlsoWritesThemBesideTheDatOutputs)
{
    Fixture f;
    f.writeCal("C.CAL", lineCalibration(10, 900, 10.0, 0.02));
    ConversionOptions options;
    options.also = {XyFormat::Xye, XyFormat::Csv};
    TConversion conv(f.state, f.lit, f.ui, options);
    f.ui.nextFile = f.writeDat("S.DAT", datScan(1024, "C"));
    ASSERT_TRUE(conv.runDat()) << f.ui.errors.at(0);
    EXPECT_EQ(listFolder(f.dir.path()),
              (std::vector<std::string>{"C.CAL", "S.2CL", "S.DAT", "S.RAW", "S.csv", "S.xye"}));
    EXPECT_EQ(f.state.LastPattern.Intensity.size(), static_cast<std::size_t>(f.state.Header.Size));
    EXPECT_EQ(readText(f.dir.file("S.xye")), xyFileText(f.state.LastPattern, XyFormat::Xye));
    EXPECT_EQ(readText(f.dir.file("S.csv")), xyFileText(f.state.LastPattern, XyFormat::Csv));
}

TEST(RawCommand, UnknownVariantIsRefusedAndWritesNothing)
{
    Fixture f;
    writeText(f.dir.file("X.RAW"), "RAW " + std::string(400, '\0'));
    f.ui.memo = {"kept?"};
    EXPECT_FALSE(f.runRaw(f.dir.file("X.RAW")));
    // A file not read leaves the memo (and the label and plot) of the previous one.
    EXPECT_EQ(f.ui.memo, std::vector<std::string>{"kept?"});
    EXPECT_TRUE(f.ui.labels.empty());
    ASSERT_EQ(f.ui.errors.size(), 1u);
    EXPECT_EQ(listFolder(f.dir.path()), std::vector<std::string>{"X.RAW"});
}

// The text exports follow the two-column file: its 3-decimal angles, and its intensities (the
// Single, written half away from zero), which for large counts differ from the RAW file's
// counts (the double, rounded halves to even).
TEST(TextExports, FollowTheTwoColumnFile)
{
    Fixture f;
    TCalibration poly;
    poly.SplineFlag = 0;
    poly.PolyCoef[1] = 5.0;
    poly.PolyCoef[2] = 0.025;
    poly.PolyCoef[3] = 2e-6;
    f.writeCal("P.CAL", poly);
    DatScan s = datScan(1024, "P");
    for (int i = 1; i <= s.h.Size; ++i)
        s.d[i] *= 397;
    // Each .xy line as the 2CL writes it; the number of intensities that are not the RAW counts,
    // or -1 at the first line that differs from the 2CL.
    const auto compare = [&](const char* what) {
        const std::string xy = xyFileText(f.state.LastPattern, XyFormat::Xy);
        const std::string twoCol = readText(f.dir.file("S.2CL"));
        int differ = 0;
        std::size_t a = 0;
        std::size_t b = xy.find('\n', xy.find("\n# points: ") + 1) + 1;
        for (int i = 1; b < xy.size(); ++i) {
            const std::size_t space = xy.find(' ', b);
            const std::size_t end = xy.find('\n', b);
            const std::string y = xy.substr(space + 1, end - space - 1);
            const std::string line = fixedText(parseDecimal(xy.substr(b, space - b)).value, 3, 7) + ' ' +
                                     std::string(10 - std::min<std::size_t>(y.size(), 10), ' ') + y + "\r\n";
            if (twoCol.compare(a, line.size(), line) != 0) {
                ADD_FAILURE() << what << ", point " << i << ": " << line
                              << " in the 2CL: " << twoCol.substr(a, line.size());
                return -1;
            }
            differ += y != intText((*f.state.Data)[i]);
            a += line.size();
            b = end + 1;
        }
        EXPECT_EQ(a, twoCol.size()) << what;
        return differ;
    };
    ASSERT_TRUE(f.runDat(f.writeDat("S.DAT", s)));
    EXPECT_EQ(f.state.LastPattern.Source, "S.DAT");
    EXPECT_EQ(f.state.LastPattern.Sample, "Si standard");
    EXPECT_EQ(f.state.LastPattern.Date, "12/03/98 14:25:36");
    EXPECT_GT(compare("DAT"), 0); // the case is met: some exported counts are not the RAW file's

    ASSERT_TRUE(f.runRaw(f.dir.file("S.RAW")));
    EXPECT_EQ(f.state.LastPattern.Source, "S.RAW");
    // The RAW file's one comment field: the DAT file's three lines, their zero bytes dropped.
    EXPECT_EQ(f.state.LastPattern.Sample, "Si standard line twoline three");
    EXPECT_EQ(compare("RAW"), 0);
    // A failed read leaves the window showing the last pattern, and the exports keep it.
    EXPECT_FALSE(f.runRaw(f.dir.file("absent.RAW")));
    EXPECT_EQ(f.state.LastPattern.Source, "S.RAW");
}

TEST(RawCommand, AnOutputThatIsTheInputIsRefusedBeforeTheQuestion)
{
    // A RAW file named like its two-column output: once replaced by it.
    Fixture f;
    const std::string raw = f.dir.file("scan.2CL");
    writeText(raw, "RAW2");
    RawModule m;
    m.RangeInfo.Start = 10.0f;
    m.RangeInfo.Step = 0.02f;
    auto scan = std::make_unique<DatScan>(datScan(100, "C"));
    Ecr_RAW(m, raw, scan->h, scan->d);
    const auto before = readBytes(raw);
    EXPECT_FALSE(f.runRaw(raw));
    EXPECT_EQ(f.ui.errors, std::vector<std::string>{
                               raw + ": its output scan.2CL would replace an input; nothing written"});
    EXPECT_TRUE(f.ui.asked.empty());
    EXPECT_EQ(readBytes(raw), before);
    EXPECT_EQ(listFolder(f.dir.path()), std::vector<std::string>{"scan.2CL"});
}

TEST(TwoColumnFile, ExactLines)
{
    TempDir dir;
    auto xy = std::make_unique<std::array<TSingleArray, 2>>();
    const float x[] = {12.3456f, 5.0f, 123.4567f, -1.5f, 30.0f};
    const float y[] = {1234.6f, 1e6f, 12345678901.0f, -7.5f, 0.49f};
    for (int i = 1; i <= 5; ++i) {
        (*xy)[0][i] = x[i - 1];
        (*xy)[1][i] = y[i - 1];
    }
    Ecr_2CL(dir.file("a.RAW"), (*xy)[0], (*xy)[1], 5);
    EXPECT_EQ(readText(dir.file("a.2CL")), " 12.346       1235\r\n"
                                           "  5.000    1000000\r\n"
                                           "123.457 12345678848\r\n"
                                           " -1.500         -8\r\n"
                                           " 30.000          0\r\n");
    Ecr_2CL(dir.file("a.TXT"), (*xy)[0], (*xy)[1], 0);
    EXPECT_EQ(readBytes(dir.file("a.2CL")).size(), 0u);
    Ecr_2CL(dir.file("a.TXT"), (*xy)[0], (*xy)[1], -3);
    EXPECT_EQ(readBytes(dir.file("a.2CL")).size(), 0u);
}

TEST(TwoColumnFile, NamesAndText)
{
    struct Row { const char* in; const char* ext; const char* out; };
    const Row rows[] = {
        {"C:\\data\\S1.RAW", "2CL", "C:\\data\\S1.2CL"},
        {"C:\\data\\S1.TXT", "2CL", "C:\\data\\S1.2CL"},
        {"/lab/S1.DAT", "RAW", "/lab/S1.RAW"},
        {"/lab/S1.dat", "RAW", "/lab/S1.RAW"},
        {"ab", "2CL", "ab.2CL"},         // once "2CL": the last three characters replaced
        {"sub/ab", "RAW", "sub/ab.RAW"}, // once "subRAW"
        {"run.2024/scan", "RAW", "run.2024/scan.RAW"},
        {"LAB6", "RAW", "LAB6.RAW"}, // once "LRAW"
        {"a/.hidden", "TXT", "a/.hidden.TXT"},
        {"x.", "RAW", "x.RAW"},
        {"x.tar.gz", "2CL", "x.tar.2CL"},
    };
    for (const auto& r : rows)
        EXPECT_EQ(replaceExtension(r.in, r.ext), r.out) << r.in;
    EXPECT_EQ(windows1252ToUtf8("caf\xE9 \x80 \x96 ok"), "café € – ok");
}

TEST(ConfirmOverwrite, AsksOnlyForFilesThatOpenForWriting)
{
    Fixture f;
    EXPECT_TRUE(f.conv.ConfirmOverwrite(f.dir.file("none.RAW")));
    writeText(f.dir.file("ro.RAW"), "x");
    fs::permissions(f.dir.file("ro.RAW"), fs::perms::owner_read);
    EXPECT_TRUE(f.conv.ConfirmOverwrite(f.dir.file("ro.RAW")));
    EXPECT_TRUE(f.ui.asked.empty());
    writeText(f.dir.file("rw.RAW"), "x");
    f.ui.answer = false;
    EXPECT_FALSE(f.conv.ConfirmOverwrite(f.dir.file("rw.RAW")));
    EXPECT_EQ(f.ui.asked.size(), 1u);
}
