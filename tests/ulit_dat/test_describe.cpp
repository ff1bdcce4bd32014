// The readable summaries of FDT, DTB and CAL files.
#include "testutil.h"

#include "ulit_dat/binio.h"
#include "ulit_dat/describe.h"
#include "ulit_dat/errors.h"
#include "ulit_dat/litdat.h"

#include <gtest/gtest.h>

#include <memory>

using namespace rawdat;
using rawdat::test::TempDir;
using Lines = std::vector<std::string>;

TEST(Describe, FdtFile)
{
    TempDir dir;
    const std::string file = dir.file("run.fdt");
    TLitdat lit;
    TScanHeader h;
    h.KChannels = 1;
    h.NbScans = 3; // the third scan is never written
    h.NbChannels = 1000;
    h.Comment1 = "first\r";
    h.Comment2 = "F1B file   ";
    h.Date = "01/02/2023 10:00";
    h.Wavelength = 1.54056;
    h.ExtraReal0 = Real48::fromValue(0.0125);
    h.CalName = "C:\\data\\run.CAL";
    lit.writeInitFDT(file, h);
    auto data = std::make_unique<TData>();
    TScanParams p;
    p.Source = "  S1     ";
    p.AcqTime = 60.0f;
    p.Theta = 12.5f;
    (*data)[3] = 40;
    (*data)[1024] = 2;
    lit.EcrScanFDT(1, file, p, h, *data);
    p.Source = "S2";
    (*data)[500] = 41;
    lit.EcrScanFDT(2, file, p, h, *data);

    const Lines want = {
        "FDT scan file",
        "scans: 3",
        "channels: 1024 a scan (KChannels 1), NbChannels 1000",
        "comment 1: first",
        "comment 2: F1B file",
        "date: 01/02/2023 10:00",
        "wavelength: 1.540560",
        "step per channel: 0.0125000",
        "calibration: C:\\data\\run.CAL",
        "scan 1: label \"  S1\", acquisition 60.000, theta 12.5000, counts 42, highest 40 at channel 3",
        "scan 2: label \"S2\", acquisition 60.000, theta 12.5000, counts 83, highest 41 at channel 500",
        "scan 3: not in the file",
    };
    EXPECT_EQ(describeFdt(file), want);
}

TEST(Describe, DtbFileShowsTheFirstTenEntries)
{
    ByteWriter w;
    w.u16(1);       // 0
    w.u16(2);       // 2
    w.u16(3);       // 4: entry type, four sub-records
    w.u16(4);       // 6
    w.u16(12);      // 8: entries
    w.f64(0.5);     // 10
    w.f64(-250.0);  // 18
    w.fill(502 - w.size(), 0);
    w.u16(22);      // 502
    for (int i = 1; i <= 12; ++i) {
        for (int j = 1; j <= 4; ++j) {
            w.f64(i + j / 10.0);
            w.f64(-j);
            w.u16(0);
        }
        w.fill(48, 0);
    }
    w.u16(11); // trailer
    TempDir dir;
    const std::string file = dir.file("a.dtb");
    test::writeBytes(file, w.bytes());

    const Lines lines = describeDtb(file);
    ASSERT_EQ(lines.size(), 5u + 10u + 1u);
    EXPECT_EQ(lines[0], "DTB file");
    EXPECT_EQ(lines[1], "entry type: 3 (4 sub-records an entry)");
    EXPECT_EQ(lines[2], "entries: 12");
    EXPECT_EQ(lines[3], "header values: first 11, second 22, fourth 4");
    EXPECT_EQ(lines[4], "doubles: 0.500000 -250.000");
    // Pair 1 gains 1.0; sub-record 4 lands in pair 5.
    EXPECT_EQ(lines[5], "entry 1: (2.10000, -1.00000) (1.20000, -2.00000) (1.30000, -3.00000) (1.40000, -4.00000)");
    EXPECT_EQ(lines[14].substr(0, 28), "entry 10: (11.1000, -1.00000");
    EXPECT_EQ(lines[15], "(2 more entries)");
}

TEST(Describe, CalFiles)
{
    TempDir dir;
    TLitdat lit;
    TCalibration spline;
    spline.CalWavelength = 1.5406;
    spline.SplineFlag = 1;
    spline.KnotCount = 2;
    spline.KnotPos[1] = 0.001;
    spline.KnotAngle[1] = 10.0;
    spline.KnotPos[2] = 1.0;
    spline.KnotAngle[2] = 20.0;
    lit.Ecr_CAL(dir.file("s.cal"), spline);
    EXPECT_EQ(describeCal(dir.file("s.cal")),
              (Lines{"CAL calibration file", "wavelength: 1.540600", "spline calibration: 2 knots",
                     "knot 1: channel 1.000, 2-theta 10.000000", "knot 2: channel 1000.000, 2-theta 20.000000"}));

    TCalibration poly;
    poly.PolyCoef[1] = 5.0;
    poly.PolyCoef[2] = 0.0125;
    poly.PolyCoef[3] = -3.25e-9;
    lit.Ecr_CAL(dir.file("p.cal"), poly);
    EXPECT_EQ(describeCal(dir.file("p.cal")),
              (Lines{"CAL calibration file", "wavelength: 0.000000",
                     "polynomial calibration, coefficients: 5.00000 0.0125000 -0.00000000325000 0 0 0 0 0 0 0 0"}));
}

TEST(Describe, MissingFilesAndRefusals)
{
    TempDir dir;
    for (auto describe : {describeFdt, describeDtb, describeCal}) {
        try {
            describe(dir.file("none"));
            ADD_FAILURE();
        } catch (const InOutError& e) {
            EXPECT_EQ(e.text(), iotext::kNotFound);
        }
    }
    const std::string wide = dir.file("wide.fdt");
    test::writeBytes(wide, std::vector<std::uint8_t>(16448, 0));
    auto b = test::readBytes(wide);
    b[0] = 40;
    test::writeBytes(wide, b);
    EXPECT_THROW(describeFdt(wide), Refusal);
}
