// F1B conversion: the line reader, line counting, the header and scan fields taken from their
// columns, the FDT and CAL files it writes read back, refusals and file errors.
#include "testutil.h"
#include "ulit_dat/f1b_images.h"

#include "ulit_dat/binio.h"
#include "ulit_dat/errors.h"
#include "ulit_dat/f1b.h"
#include "ulit_dat/fdt.h"
#include "ulit_dat/litdat.h"
#include "ulit_dat/numtext.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <memory>

using namespace rawdat;
using namespace rawdat::test;
namespace fs = std::filesystem;

namespace {

struct Conversion {
    TempDir dir;
    std::string f1b = dir.file("run7.F1B");
    std::string params = dir.file("run7.par");
    TLitdat lit;
    TScanParams p;
    TScanHeader h;
    TCalibration cal;
    std::unique_ptr<TData> data = std::make_unique<TData>();

    void convert(const std::string& f1bText, const std::string& paramText)
    {
        test::writeText(f1b, f1bText);
        test::writeText(params, paramText);
        lit.lect_F1B(params, f1b, p, h, *data, cal);
    }
};

const std::string kF1bComment = "F1B file" + std::string(72, ' ');

} // namespace

TEST(F1bLines, LineReader)
{
    struct Row { std::string text; std::vector<std::string> lines; std::size_t endOffset; };
    const Row rows[] = {
        {"ab\ncd\n", {"ab", "cd", ""}, 6},
        {"ab\r\ncd", {"ab\r", "cd", ""}, 6},      // a CR stays; the last line needs no LF
        {"x\x1Ay\n", {"x", "", ""}, 1},           // byte 26 ends the file, which stays there
        {"\n\n", {"", "", ""}, 2},
        {"", {"", ""}, 0},
    };
    for (const auto& r : rows) {
        Bytes b(r.text.begin(), r.text.end());
        ByteReader in(b, "t");
        std::string line = "old";
        for (const auto& want : r.lines) {
            TLitdat::lit_ligne(in, line);
            EXPECT_EQ(line, want) << r.text;
        }
        EXPECT_EQ(in.offset(), r.endOffset) << r.text;
    }
}

TEST(F1bLines, ScanCountFromTheLinesOfTheFile)
{
    // N = 20: two data lines, seven lines a block. Three blocks make 22 lines; the scan count is
    // Round((T - 1) / 7), so 25 lines give 3 scans and 26 lines give 4.
    F1bSpec layout;
    layout.n = 20;
    const std::string blocks = makeF1b(layout);
    ASSERT_EQ(std::count(blocks.begin(), blocks.end(), '\n'), 22);
    struct Row { std::string tail; int scans; };
    const Row rows[] = {
        {"x\nx\nx\n", 3},
        {"x\nx\nx\nx\n", 4},
        {"x\nx\nx\nlast", 4},                  // a last line without LF counts
        {"x\nx\nx\nx\n\x1A", 4},               // the end mark after the last LF
        {"x\nx\nx\nlast\x1A", 4},              // the end mark ends the last line
        {"x\nx\nx\n\x1Ax\nx\nx\nx\nx\n", 3},   // nothing after the end mark counts
    };
    for (const auto& r : rows) {
        Conversion run;
        run.convert(blocks + r.tail, makeParams(4));
        EXPECT_EQ(run.h.NbScans, r.scans) << r.tail;
    }
}

TEST(F1bShape, ChannelCountTable)
{
    struct Row { std::int32_t n; std::int16_t kChannels; std::int32_t dataLines; };
    const Row rows[] = {
        {1280, 1, 128}, {4096, 4, 410}, {512, 1, 51}, {1536, 2, 154}, {1285, 1, 128},
        {1275, 1, 128}, {1025, 1, 102}, {2, 1, 0},   {9999, 10, 1000}, {32255, 31, 3226},
    };
    for (const auto& r : rows) {
        const F1bShape s = f1bShape("f", r.n);
        EXPECT_EQ(s.kChannels, r.kChannels) << r.n;
        EXPECT_EQ(s.dataLines, r.dataLines) << r.n;
    }
    struct Bad { std::int32_t n; std::string message; };
    const Bad bad[] = {
        {1, "f: channel count 1 is below 2"},
        {0, "f: channel count 0 is below 2"},
        {-999, "f: channel count -999 is below 2"},
        {32256, "f: channel count 32256 asks for 32768 counts a scan, more than the 32767 that Data holds"},
        {32766, "f: channel count 32766 asks for 32770 counts a scan, more than the 32767 that Data holds"},
    };
    for (const auto& b : bad) {
        try {
            f1bShape("f", b.n);
            ADD_FAILURE() << b.n;
        } catch (const Refusal& e) {
            EXPECT_EQ(e.what(), b.message);
        }
    }
}

TEST(F1bConvert, RoundTripThroughTheFdtAndCalFiles)
{
    Conversion run;
    const F1bSpec layout; // N = 1280, 3 scans: 1 + 3 x 133 = 400 lines
    const std::string text = makeF1b(layout);
    ASSERT_EQ(std::count(text.begin(), text.end(), '\n'), 400);
    run.convert(text, makeParams(3));

    const TScanHeader& h = run.h;
    EXPECT_EQ(h.NbScans, 3);
    EXPECT_EQ(h.KChannels, 1);
    EXPECT_EQ(h.NbChannels, 1280);
    EXPECT_EQ(h.Comment1.str(), layout.comment);
    EXPECT_EQ(h.Comment1.area(), layout.comment + kF1bComment.substr(layout.comment.size()));
    EXPECT_EQ(h.Comment2.str(), kF1bComment);
    EXPECT_EQ(h.Comment3.str(), kF1bComment);
    EXPECT_EQ(h.Date.str(), "12/03/2021 10:11:12 ");
    EXPECT_EQ(h.Wavelength, 1.54056);
    EXPECT_EQ(h.ExtraReal0, Real48::fromValue(0.01));
    EXPECT_EQ(h.Voltage.str(), "F1B      ");
    EXPECT_EQ(h.ExtraFlag3, 1);
    EXPECT_EQ(h.ExtraWord1, 1);
    const std::string base = run.dir.file("run7.");
    EXPECT_EQ(h.CalName.str(), (base + "CAL" + std::string(255, ' ')).substr(0, 255));
    EXPECT_EQ(test::listFolder(run.dir.path()),
              (std::vector<std::string>{"run7.F1B", "run7.cal", "run7.fdt", "run7.par"}));
    EXPECT_EQ(test::readBytes(base + "fdt").size(), 16448u + 3 * 4160u);

    // The last scan stays in the records, all its 1280 counts in Data.
    EXPECT_EQ((*run.data)[1280], countOf(3, 1280));
    EXPECT_EQ(run.p.Source.str(), "SCAN00003");

    TLitdat lit;
    TScanHeader back;
    TScanParams p;
    auto data = std::make_unique<TData>();
    ASSERT_TRUE(lit.LoadScanFDT(1, base + "fdt", true, p, back, *data));
    EXPECT_EQ(back.NbScans, 3);
    EXPECT_EQ(back.Comment1.str().substr(0, 36), layout.comment);
    for (int k = 1; k <= 3; ++k) {
        ASSERT_TRUE(lit.LoadScanFDT(k, base + "fdt", false, p, back, *data)) << k;
        EXPECT_EQ((*data)[1], countOf(k, 1)) << k;
        EXPECT_EQ((*data)[1024], countOf(k, 1024)) << k;
        EXPECT_EQ((*data)[1025], 0) << k; // the file holds 1024 KChannels counts
        EXPECT_EQ(p.Source.str(), "SCAN0000" + std::to_string(k));
        EXPECT_EQ(p.Extra52, static_cast<float>(0.5 * k));
        EXPECT_EQ(p.AcqTime, static_cast<float>(60.0 + k));
        const float want[7] = {10.0f * k + 1, 10.0f * k + 2, 10.0f * k + 3, 10.0f * k + 4,
                               10.0f * k + 5, 10.0f * k + 6, 10.0f * k + 7};
        const float got[7] = {p.Extra20, p.Theta, p.Axis1, p.Axis2, p.Axis3, p.Extra40, p.Axis4};
        for (int j = 0; j < 7; ++j)
            EXPECT_EQ(got[j], want[j]) << "scan " << k << " value " << j + 1;
    }

    // The calibration: a line through channel 1 at b and channel N at s N + b, b the first
    // parameter of the last scan.
    TCalibration cal;
    ASSERT_TRUE(lit.Lect_CAL(base + "cal", cal));
    EXPECT_EQ(cal, run.cal);
    const double b = 31.0, s = Real48::fromValue(0.01).value();
    EXPECT_EQ(cal.CalWavelength, 1.54056);
    EXPECT_EQ(cal.SplineFlag, 1);
    EXPECT_EQ(cal.KnotCount, 4);
    EXPECT_NEAR(lit.Degree(cal, 1.0), b, 1e-9);
    EXPECT_NEAR(lit.Degree(cal, 1280.0), s * 1280 + b, 1e-9);
}

TEST(F1bConvert, KnotsOfTheCalibration)
{
    // s = 0.01, b = 10, N = 1000: knot 1 at channel 1 takes b, not s + b.
    Conversion run;
    F1bSpec layout;
    layout.n = 1000;
    layout.scans = 1;
    std::string param = "scan 1";
    place(param, 10, "  10.000");
    run.convert(makeF1b(layout), param + "\r\n");
    const TCalibration& c = run.cal;
    const double s = Real48::fromValue(0.01).value();
    struct Row { int knot; double pos; double angle; };
    const Row rows[] = {
        {1, 0.001, 10.0},
        {2, 1.000, static_cast<double>(s * 1000.0L + 10)},
        {3, 1.001, static_cast<double>(s * 1001.0L + 10)},
        {4, 1.002, static_cast<double>(s * 1002.0L + 10)},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(c.KnotPos[r.knot], r.pos) << r.knot;
        EXPECT_EQ(c.KnotAngle[r.knot], r.angle) << r.knot;
    }
    EXPECT_NEAR(c.KnotAngle[2], 20.0, 1e-9);
    EXPECT_NEAR(c.KnotAngle[4], 20.02, 1e-9);
    for (int k = 1; k <= 11; ++k)
        EXPECT_EQ(c.PolyCoef[k], 0.0);
}

TEST(F1bConvert, LabelsAndShortLines)
{
    struct Row { std::string labelLine; std::string source; };
    const Row rows[] = {
        {"ab", "     "},
        {"ab123", "123     "},
        {"ab123456789xyz", "123456789"},
        {"", "     "},
    };
    for (const auto& r : rows) {
        F1bSpec layout;
        layout.n = 20;
        layout.scans = 1;
        std::string text = makeF1b(layout);
        // Replace block line 2 of the only block (line 3 of the file).
        const std::size_t l3 = text.find('\n', text.find('\n') + 1) + 1;
        text.replace(l3, text.find('\n', l3) - l3, r.labelLine);
        Conversion run;
        run.convert(text, makeParams(1));
        EXPECT_EQ(run.p.Source.str(), r.source) << r.labelLine;
    }
}

TEST(F1bConvert, MissingParameterLinesGiveZeros)
{
    Conversion run;
    F1bSpec layout;
    layout.n = 20;
    run.convert(makeF1b(layout), makeParams(1));
    TScanParams p;
    TScanHeader h;
    auto data = std::make_unique<TData>();
    ASSERT_TRUE(run.lit.LoadScanFDT(3, run.dir.file("run7.fdt"), true, p, h, *data));
    EXPECT_EQ(p.Extra20, 0.0f);
    EXPECT_EQ(p.Axis4, 0.0f);
    EXPECT_EQ((*data)[20], countOf(3, 20));
    EXPECT_EQ(run.cal.KnotAngle[1], 0.0); // b of the last scan
}

TEST(F1bConvert, RefusedBeforeAnyFileIsWritten)
{
    struct Row { std::string fifthLine; std::string message; };
    const Row rows[] = {
        {"   1", ": channel count 1 is below 2"},
        {"", ": channel count 0 is below 2"},
        {"  -7", ": channel count -7 is below 2"},
    };
    for (const auto& r : rows) {
        Conversion run;
        run.h.Comment1 = "untouched";
        test::writeText(run.f1b, "t\nc\nl\nx\n" + r.fifthLine + "\n1\n2\n");
        test::writeText(run.params, "");
        try {
            run.lit.lect_F1B(run.params, run.f1b, run.p, run.h, *run.data, run.cal);
            ADD_FAILURE() << r.fifthLine;
        } catch (const Refusal& e) {
            EXPECT_EQ(e.what(), run.f1b + r.message);
        }
        EXPECT_EQ(test::listFolder(run.dir.path()), (std::vector<std::string>{"run7.F1B", "run7.par"}));
        EXPECT_EQ(run.h.Comment1.str(), "untouched");
    }
}

TEST(F1bConvert, MissingParameterFileWritesNothing)
{
    Conversion run;
    test::writeText(run.f1b, makeF1b(F1bSpec{}));
    try {
        run.lit.lect_F1B(run.dir.file("none.par"), run.f1b, run.p, run.h, *run.data, run.cal);
        ADD_FAILURE();
    } catch (const InOutError& e) {
        EXPECT_EQ(e.text(), iotext::kNotFound);
        EXPECT_EQ(e.file(), run.dir.file("none.par"));
    }
    EXPECT_EQ(test::listFolder(run.dir.path()), (std::vector<std::string>{"run7.F1B"}));
}

TEST(F1bConvert, MissingF1bFile)
{
    Conversion run;
    try {
        run.lit.lect_F1B(run.params, run.f1b, run.p, run.h, *run.data, run.cal);
        ADD_FAILURE();
    } catch (const InOutError& e) {
        EXPECT_EQ(e.text(), iotext::kNotFound);
    }
    EXPECT_TRUE(test::listFolder(run.dir.path()).empty());
}

TEST(F1bConvert, CountFieldsTakeTheirLeadingNumber)
{
    F1bSpec layout;
    layout.n = 20;
    layout.scans = 1;
    std::string text = makeF1b(layout);
    // The first data line is line 6 of the file.
    std::size_t at = 0;
    for (int i = 0; i < 5; ++i)
        at = text.find('\n', at) + 1;
    const std::string fields[] = {"      +7", "     -12", "  12.9  ", "  3x    ", "        ",
                                  "0000042 ", "  \r", "", "", ""};
    std::string line;
    for (const auto& f : fields)
        line += "  " + f;
    text.replace(at, text.find('\n', at) - at, line.substr(0, line.find('\r') + 1));
    Conversion run;
    run.convert(text, makeParams(1));
    const std::int32_t want[] = {7, -12, 12, 3, 0, 42, 0, 0, 0, 0};
    for (int j = 1; j <= 10; ++j)
        EXPECT_EQ((*run.data)[j], want[j - 1]) << j;
    EXPECT_EQ((*run.data)[11], countOf(1, 11));
}

TEST(F1bConvert, ValueBeyondASingleFailsAsAnOverflow)
{
    F1bSpec layout;
    layout.n = 20;
    layout.scans = 1;
    Conversion run;
    std::string param = "scan 1";
    place(param, 19, "   1e39 "); // Theta
    try {
        run.convert(makeF1b(layout), param + "\r\n");
        ADD_FAILURE();
    } catch (const FloatError& e) {
        EXPECT_EQ(e.kind(), FloatError::Kind::Overflow);
    }
    EXPECT_FALSE(fs::exists(run.dir.file("run7.cal")));
}
