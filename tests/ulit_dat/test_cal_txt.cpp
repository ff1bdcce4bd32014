// CAL calibration files and TXT scan files.
#include "testutil.h"
#include "ulit_dat/errors.h"
#include "ulit_dat/litdat.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

using namespace rawdat;
using rawdat::test::TempDir;

namespace {

TCalibration splineCal(int knots)
{
    TCalibration c;
    c.CalWavelength = 1.54056;
    c.CalExtra = 0x01020304;
    for (int k = 1; k <= 11; ++k)
        c.PolyCoef[k] = k * 0.5;
    c.SplineFlag = 1;
    c.KnotCount = static_cast<std::int16_t>(knots);
    for (int j = 1; j <= kMaxKnots; ++j) {
        c.KnotPos[j] = j * 0.25;
        c.KnotAngle[j] = 10.0 + j;
        c.SplineB[j] = 1000.0 + j;
        c.SplineC[j] = 2000.0 + j;
        c.SplineD[j] = 3000.0 + j;
    }
    return c;
}

double doubleAt(const std::vector<std::uint8_t>& b, std::size_t off)
{
    double v;
    std::memcpy(&v, &b[off], 8);
    return v;
}

} // namespace

TEST(CalFile, PolynomialIs106BytesAndLeavesKnotsAlone)
{
    TempDir dir;
    TLitdat lit;
    TCalibration c = splineCal(4);
    c.SplineFlag = 0;
    lit.Ecr_CAL(dir.file("p.CAL"), c);
    const auto b = test::readBytes(dir.file("p.CAL"));
    ASSERT_EQ(b.size(), 106u);
    EXPECT_EQ(b[0], 0x4B);
    EXPECT_EQ(b[1], 0x64);
    EXPECT_EQ(doubleAt(b, 2), 1.54056);
    EXPECT_EQ(doubleAt(b, 14), 0.5);
    EXPECT_EQ(doubleAt(b, 94), 5.5);
    EXPECT_EQ(b[102], 0x64);
    EXPECT_EQ(b[103], 0x81);

    TCalibration back = splineCal(7);
    back.KnotPos[3] = -1;
    ASSERT_TRUE(lit.Lect_CAL(dir.file("p.CAL"), back));
    EXPECT_EQ(back.SplineFlag, 0);
    EXPECT_EQ(back.KnotCount, 7);
    EXPECT_EQ(back.KnotPos[3], -1); // the knot arrays of the receiving record stay
    EXPECT_EQ(back.PolyCoef[11], 5.5);
}

TEST(CalFile, SplineWritesAllHundredKnotsAtTheirOffsets)
{
    TempDir dir;
    TLitdat lit;
    TCalibration c = splineCal(4);
    c.SplineFlag = 2; // any non-zero flag is a spline for the file
    lit.Ecr_CAL(dir.file("s.CAL"), c);
    const auto b = test::readBytes(dir.file("s.CAL"));
    ASSERT_EQ(b.size(), 4172u);
    EXPECT_EQ(b[106] | (b[107] << 8), 4);
    EXPECT_EQ(doubleAt(b, 108), 0.25);          // r = 1
    EXPECT_EQ(b[228], 0);                       // first filler pair
    EXPECT_EQ(b[229], 0);
    EXPECT_EQ(doubleAt(b, 230), 16 * 0.25);     // knot position 16
    EXPECT_EQ(doubleAt(b, 920), 11.0);          // knot angle of knot 1 (r = 101)
    EXPECT_EQ(doubleAt(b, 928), 1001.0);
    const std::size_t last = 108 + 8 * 499 + 2 * (500 / 16); // r = 500: SplineD of knot 100
    EXPECT_EQ(doubleAt(b, last), 3100.0);
    EXPECT_EQ(b[4170], 0x64);
    EXPECT_EQ(b[4171], 0x81);

    TCalibration back;
    ASSERT_TRUE(lit.Lect_CAL(dir.file("s.CAL"), back));
    EXPECT_TRUE(back == c);
}

TEST(CalFile, FillerAndMarkerBytesAreIgnored)
{
    TempDir dir;
    TLitdat lit;
    const TCalibration c = splineCal(9);
    lit.Ecr_CAL(dir.file("f.CAL"), c);
    auto b = test::readBytes(dir.file("f.CAL"));
    for (std::size_t off : {0u, 1u, 102u, 103u, 4170u, 4171u})
        b[off] = 0xEE;
    for (int r = 16; r <= 496; r += 16)
        b[108 + 8 * (r - 1) + 2 * (r / 16) - 2] = 0x55;
    test::writeBytes(dir.file("f.CAL"), b);
    TCalibration back;
    ASSERT_TRUE(lit.Lect_CAL(dir.file("f.CAL"), back));
    EXPECT_TRUE(back == c);
}

TEST(CalFile, BadSplineRecordsAreRefusedAndChangeNothing)
{
    TempDir dir;
    TLitdat lit;
    struct Row {
        const char* name;
        void (*edit)(TCalibration&);
        const char* message;
    };
    const Row rows[] = {
        {"no knots", [](TCalibration& c) { c.KnotCount = 0; }, "spline calibration with 0 knots; 1 to 100 expected"},
        {"101 knots", [](TCalibration& c) { c.KnotCount = 101; }, "spline calibration with 101 knots"},
        {"negative count", [](TCalibration& c) { c.KnotCount = -3; }, "spline calibration with -3 knots"},
        {"knots decreasing", [](TCalibration& c) { c.KnotPos[3] = 0.1; },
         "knot positions of the spline calibration do not increase (knot 3 at 0.1000 after 0.5000)"},
        {"equal knots", [](TCalibration& c) { c.KnotPos[5] = c.KnotPos[4]; }, "do not increase (knot 5"},
        {"NaN angle", [](TCalibration& c) { c.KnotAngle[2] = std::nan(""); },
         "knot 2 of the spline calibration holds a value that is not a finite number"},
        {"infinite coefficient", [](TCalibration& c) { c.SplineD[6] = HUGE_VAL; }, "knot 6 of the spline"},
    };
    for (const auto& r : rows) {
        TCalibration bad = splineCal(6);
        r.edit(bad);
        lit.Ecr_CAL(dir.file("bad.CAL"), bad);
        TCalibration mine = splineCal(3);
        mine.CalWavelength = 0.7093;
        const TCalibration before = mine;
        try {
            lit.Lect_CAL(dir.file("bad.CAL"), mine);
            ADD_FAILURE() << r.name << ": accepted";
        } catch (const Refusal& e) {
            EXPECT_NE(std::string(e.what()).find(r.message), std::string::npos) << r.name << ": " << e.what();
            EXPECT_NE(std::string(e.what()).find("bad.CAL"), std::string::npos);
        }
        EXPECT_TRUE(mine == before) << r.name;
    }
    // Knots above the count are not part of the calibration and may hold anything.
    TCalibration partial = splineCal(3);
    partial.KnotPos[50] = std::nan("");
    lit.Ecr_CAL(dir.file("ok.CAL"), partial);
    TCalibration back;
    EXPECT_TRUE(lit.Lect_CAL(dir.file("ok.CAL"), back));
}

TEST(CalFile, ShortFileFailsAndChangesNothing)
{
    TempDir dir;
    TLitdat lit;
    lit.Ecr_CAL(dir.file("c.CAL"), splineCal(5));
    const auto full = test::readBytes(dir.file("c.CAL"));
    for (std::size_t cut : {0u, 1u, 50u, 104u, 106u, 107u, 2000u, 4170u, 4171u}) {
        test::writeBytes(dir.file("c.CAL"), std::vector<std::uint8_t>(full.begin(), full.begin() + cut));
        TCalibration mine = splineCal(2);
        const TCalibration before = mine;
        EXPECT_THROW(lit.Lect_CAL(dir.file("c.CAL"), mine), InOutError) << cut;
        EXPECT_TRUE(mine == before) << cut;
    }
    TCalibration mine;
    EXPECT_FALSE(lit.Lect_CAL(dir.file("missing.CAL"), mine));
}

namespace {

struct TxtScan {
    TScanHeader h;
    TScanParams p;
    TReal48Array v;
};

TxtScan txtScan()
{
    TxtScan s;
    s.h.Date = "12/03/98 14:25:36";
    s.h.Voltage = "40 kV";
    s.h.Current = "30 mA";
    s.h.Wavelength = 1.54056;
    s.h.Comment1 = "first";
    s.h.Comment2 = "second";
    s.h.Comment3 = "";
    s.p.AcqTime = 120.0f;
    const double counts[] = {5, 17, 9};
    for (int i = 1; i <= 3; ++i)
        s.v[i] = Real48::fromValue(counts[i - 1]);
    return s;
}

} // namespace

TEST(TxtFile, ExactTextOfThreePoints)
{
    TempDir dir;
    TLitdat lit;
    TxtScan s = txtScan();
    lit.Ecr_TXT(dir.file("s.TXT"), s.h, s.p, s.v, 10.0, 0.02, 10.04);
    EXPECT_EQ(test::readText(dir.file("s.TXT")),
              "DATE 12/03/98 14:25:36\r\n"
              "ACQTIME        120\r\n"
              "VOLTAGE 40 kV\r\n"
              "CURRENT 30 mA\r\n"
              "WAVELENGTH 1.54056000\r\n"
              "COMMENT1 first\r\n"
              "COMMENT2 second\r\n"
              "COMMENT3 \r\n"
              "  10.000 0.020     10.040\r\n"
              "      5\r\n"
              "     17\r\n"
              "      9\r\n");
}

TEST(TxtFile, PointCountWithTolerance)
{
    struct Row { double start, step, stop; int lines; };
    const Row rows[] = {
        {10.0, 0.02, 10.04, 3},
        {10.0, 0.1, 10.3, 4},              // 0.3 / 0.1 is 2.9999999999999996
        {0.0, 0.02, 0.01, 1},
        {5.0, 0.02, 4.0, 0},               // stop below start: no points
        {10.0, 0.02, 10.04 - 1e-5, 2},     // a real shortfall is not rounded up
    };
    TempDir dir;
    TLitdat lit;
    TxtScan s = txtScan();
    for (int i = 4; i <= 10; ++i)
        s.v[i] = Real48::fromValue(i);
    for (const auto& r : rows) {
        lit.Ecr_TXT(dir.file("n.TXT"), s.h, s.p, s.v, r.start, r.step, r.stop);
        const std::string t = test::readText(dir.file("n.TXT"));
        int lines = 0;
        for (std::size_t p = 0; (p = t.find("\r\n", p)) != std::string::npos; p += 2)
            ++lines;
        EXPECT_EQ(lines - 9, r.lines) << r.start << " " << r.step << " " << r.stop;
    }
}

TEST(TxtFile, ZeroStepIsRefusedAndNothingIsWritten)
{
    TempDir dir;
    TLitdat lit;
    TxtScan s = txtScan();
    test::writeText(dir.file("z.TXT"), "old");
    try {
        lit.Ecr_TXT(dir.file("z.TXT"), s.h, s.p, s.v, 10.0, 0.0, 10.04);
        FAIL();
    } catch (const Refusal& e) {
        EXPECT_NE(std::string(e.what()).find("z.TXT: the scan's step is 0"), std::string::npos) << e.what();
    }
    EXPECT_EQ(test::readText(dir.file("z.TXT")), "old");
    EXPECT_EQ(test::listFolder(dir.path()).size(), 1u);
}

TEST(TxtFile, ReadsBackWhatTheWriterWrote)
{
    TempDir dir;
    TLitdat lit;
    TxtScan s = txtScan();
    s.h.Wavelength = 1.5405612;
    lit.Ecr_TXT(dir.file("r.TXT"), s.h, s.p, s.v, 10.0, 0.02, 10.04);
    TScanHeader h;
    h.CalName = "ABCDEFGH";
    h.NbScans = 4;
    TScanParams p;
    TData d;
    d[4] = 44;
    ASSERT_TRUE(lit.Lect_TXT(dir.file("r.TXT"), h, p, d));
    EXPECT_EQ(h.Date.str(), " 12/03/9");
    EXPECT_EQ(h.Voltage.str(), " 40 k");
    EXPECT_EQ(h.Current.str(), " 30 m");
    EXPECT_EQ(h.Comment1.str(), "1 firs");
    EXPECT_EQ(h.Comment2.str(), "2 secon");
    EXPECT_EQ(h.Comment3.str(), "3");
    EXPECT_EQ(p.AcqTime, 120.0f);
    EXPECT_NEAR(h.Wavelength, 1.540561, 1e-9);
    EXPECT_EQ(h.CalName.str(), "TXTF");
    EXPECT_EQ(h.CalName.area().substr(0, 8), "TXTFEFGH");
    EXPECT_EQ(h.NbScans, 4);
    EXPECT_EQ(h.Size, 3);
    EXPECT_EQ(d[1], 5);
    EXPECT_EQ(d[2], 17);
    EXPECT_EQ(d[3], 9);
    EXPECT_EQ(d[4], 44);
}

TEST(TxtFile, HeaderEndsAndIntensityLines)
{
    struct Row {
        const char* name;
        const char* text;
        int size;
        std::vector<int> counts;
    };
    const Row rows[] = {
        {"range line is the last line", "DATE x\r\n 10.000 0.020     10.040\r\n", 1, {0}},
        {"range line without line end", "DATE x\r\n 10.000 0.020     10.040", 1, {0}},
        {"end of file before the range line", "DATE x\r\nCOMMENT1 abc\r\n", 0, {}},
        {"empty line ends the header", "DATE x\r\n\r\n12\r\n-7.9\r\n", 2, {12, -7}},
        {"LF line ends", "DATE x\n 1 2 3\n3\n4\n", 2, {3, 4}},
        {"leading valid part", " r\r\n12abc\r\n   8 9\r\nxyz\r\n", 3, {12, 8, 0}},
        {"unknown keywords ignored", "HELLO\r\nDATE y\r\n r\r\n1\r\n", 1, {1}},
    };
    TempDir dir;
    TLitdat lit;
    for (const auto& r : rows) {
        test::writeText(dir.file("h.TXT"), r.text);
        TScanHeader h;
        TScanParams p;
        TData d;
        ASSERT_TRUE(lit.Lect_TXT(dir.file("h.TXT"), h, p, d)) << r.name;
        EXPECT_EQ(h.Size, r.size) << r.name;
        for (std::size_t i = 0; i < r.counts.size(); ++i)
            EXPECT_EQ(d[static_cast<int>(i) + 1], r.counts[i]) << r.name << " line " << i;
    }
}

TEST(TxtFile, ReaderRefusalsChangeNothing)
{
    TempDir dir;
    TLitdat lit;
    std::string tooMany = " range\r\n";
    for (int i = 0; i < kDataCapacity + 1; ++i)
        tooMany += "1\r\n";
    struct Row { const char* name; std::string text; const char* message; };
    const Row rows[] = {
        {"more lines than Data holds", tooMany, "holds 32768 intensity lines; at most 32767 can be read"},
        {"intensity beyond int32", " r\r\n1\r\n3000000000\r\n", "intensity line 2 does not hold a 32-bit count"},
        {"huge exponent", " r\r\n1e999\r\n", "intensity line 1 does not hold a 32-bit count"},
    };
    for (const auto& r : rows) {
        test::writeText(dir.file("bad.TXT"), "DATE changed\r\n" + r.text);
        TScanHeader h;
        h.Date = "kept";
        TScanParams p;
        TData d;
        const TScanHeader before = h;
        try {
            lit.Lect_TXT(dir.file("bad.TXT"), h, p, d);
            ADD_FAILURE() << r.name;
        } catch (const Refusal& e) {
            EXPECT_NE(std::string(e.what()).find(r.message), std::string::npos) << r.name << ": " << e.what();
        }
        EXPECT_TRUE(h == before) << r.name;
    }
    TScanHeader h;
    TScanParams p;
    TData d;
    EXPECT_FALSE(lit.Lect_TXT(dir.file("absent.TXT"), h, p, d));
}
