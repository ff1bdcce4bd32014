// The .xy, .xye and CSV exports: exact bytes, the --also list, and each file read back by another
// program (xyconv of Debian's libxy-bin) or by a standard CSV reader.
#include "convert/xy_export.h"
#include "fmt_raw/raw_images.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <stdexcept>

using namespace rawdat;
using namespace rawdat::test;

namespace {

XyPattern smallPattern()
{
    XyPattern p;
    p.Program = "rawdat 9.9.9";
    p.Source = "S1.DAT";
    p.Wavelength = 1.54056;
    p.Date = "12/03/98 14:25:36";
    p.Sample = "Si standard";
    p.Start = 11.2f;
    p.Step = 0.02f;
    p.Intensity = {100.0f, 12.5f, 0.0f, -3.0f};
    return p;
}

// RFC 4180 records of unquoted fields: fields separated by commas, records ended by CRLF or LF.
// A quote, which would start a quoted field, is refused: the export quotes nothing.
std::vector<std::vector<std::string>> readCsv(const std::string& text)
{
    if (text.find('"') != std::string::npos)
        throw std::runtime_error("a quoted field");
    std::vector<std::vector<std::string>> records;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t end = std::min(text.find('\n', i), text.size());
        std::string line = text.substr(i, end - i);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        records.emplace_back();
        for (std::size_t f = 0;; f = line.find(',', f) + 1) {
            records.back().push_back(line.substr(f, line.find(',', f) - f));
            if (line.find(',', f) == std::string::npos)
                break;
        }
        i = end + 1;
    }
    return records;
}

double number(const std::string& s)
{
    double v = 0;
    const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
    if (r.ec != std::errc() || r.ptr != s.data() + s.size())
        throw std::runtime_error("not a number: '" + s + "'");
    return v;
}

} // namespace

TEST(XyExport, ExactBytes)
{
    const std::string head = "# rawdat 9.9.9\n"
                             "# source: S1.DAT\n"
                             "# wavelength (Angstrom): 1.540560\n"
                             "# date: 12/03/98 14:25:36\n"
                             "# sample: Si standard\n"
                             "# step (deg): 0.02\n"
                             "# points: 4\n";
    // A pattern taken from the records of a RAW conversion: folder dropped (the name stays in the
    // file system's encoding), control bytes of the header texts blanked and trimmed,
    // Windows-1252 as UTF-8; no wavelength line for 0.
    TScanHeader h;
    h.Date = std::string_view("  12-Mar-98\0"
                              "14:25:36",
                              20);
    h.Wavelength = 0;
    auto y = std::make_unique<TSingleArray>();
    (*y)[1] = 7.4999995f; // the closest Single below 7.5: every digit kept, not the 2CL's 7
    (*y)[2] = 16777216.0f;
    XyPattern fromRecords =
        xyPattern("C:\\lab\\run 2/Ni\xC3\xA9.RAW", h, DateOrder::MonthDayYear, "Ni\xE9\tfoil \x80 \r\n", {0.1f, 0, 0.0003f, 1}, *y, 2);
    fromRecords.Program = "rawdat 9.9.9";

    // A wavelength that is no anode's K-alpha-1 (synchrotron): one line, Lam, and no ratio.
    XyPattern synchrotron = smallPattern();
    synchrotron.Wavelength = 0.4592;
    XyPattern noWavelength = smallPattern();
    noWavelength.Wavelength = 0.0;
    XyWavelengths none;
    EXPECT_FALSE(instprmWavelengths(noWavelength, none));
    EXPECT_THROW(xyFileText(noWavelength, XyFormat::Instprm), std::invalid_argument);

    struct Row {
        const char* what;
        XyPattern pattern;
        XyFormat format;
        std::string bytes;
    };
    const Row rows[] = {
        {"xy", smallPattern(), XyFormat::Xy,
         head + "11.200000 100\n11.220000 12.5\n11.240000 0\n11.260000 -3\n"},
        {"xye", smallPattern(), XyFormat::Xye,
         head + "11.200000 100 10.0000\n11.220000 12.5 3.5355\n11.240000 0 1.0000\n11.260000 -3 1.0000\n"},
        {"csv", smallPattern(), XyFormat::Csv,
         "two_theta_deg,intensity_counts,sigma_counts\n"
         "11.200000,100,10.0000\n11.220000,12.5,3.5355\n11.240000,0,1.0000\n11.260000,-3,1.0000\n"},
        {"from records", fromRecords, XyFormat::Xye,
         "# rawdat 9.9.9\n# source: Ni\xC3\xA9.RAW\n# date: 1998-03-12T14:25:36 (stored as 12-Mar-98 14:25:36)\n"
         "# sample: Ni\xC3\xA9 foil \xE2\x82\xAC\n# step (deg): 0.0003\n# points: 2\n"
         "0.100000 7.4999995 2.7386\n0.100300 16777216 4096.0000\n"},
        {"instprm of one wavelength", synchrotron, XyFormat::Instprm,
         "#GSAS-II instrument parameter file; do not add/delete items!\n# written by rawdat 9.9.9 for S1.DAT\n"
         "Type:PXC\nBank:1.0\nLam:0.4592\nZero:0.0\n"
         "# The profile terms below are GSAS-II's defaults for a laboratory instrument, not\n"
         "# measured for this one: refine them on a standard.\n"
         "Polariz.:0.7\nAzimuth:0.0\nU:2.0\nV:-2.0\nW:5.0\nX:0.0\nY:0.0\nZ:0.0\nSH/L:0.002\n"},
    };
    for (const Row& r : rows)
        EXPECT_EQ(xyFileText(r.pattern, r.format), r.bytes) << r.what;
}

TEST(XyExport, AlsoList)
{
    using F = XyFormat;
    struct Row {
        const char* list;
        std::vector<XyFormat> formats;
        const char* error;
    };
    const char* const kNeeds = "--also needs formats separated by commas: xy, xye, csv, instprm";
    const Row rows[] = {
        {"xy", {F::Xy}, nullptr},
        {"csv,xy,csv", {F::Xy, F::Csv}, nullptr},
        {"xye,csv,xy", {F::Xy, F::Xye, F::Csv}, nullptr},
        {"", {}, kNeeds},
        {"xy,", {}, kNeeds},
        {",xye", {}, kNeeds},
        {"instprm,Xye,INSTPRM", {F::Xye, F::Instprm}, nullptr},
        {"xy,txt", {}, "--also: unknown format 'txt' (the formats are xy, xye, csv and instprm)"},
        {"XY", {F::Xy}, nullptr},
        {"xy, csv", {}, "--also: unknown format ' csv' (the formats are xy, xye, csv and instprm)"},
        {"xyé", {}, "--also: unknown format 'xyé' (the formats are xy, xye, csv and instprm)"},
    };
    for (const Row& r : rows) {
        if (!r.error) {
            EXPECT_EQ(parseXyFormats(r.list), r.formats) << r.list;
            continue;
        }
        try {
            parseXyFormats(r.list);
            ADD_FAILURE() << r.list << ": accepted";
        } catch (const std::invalid_argument& e) {
            EXPECT_STREQ(e.what(), r.error) << r.list;
        }
    }
    EXPECT_STREQ(xyExtension(F::Xye), "xye");
}

// Each format read back by another reader: every point, 2-theta to the printed 6 decimals on a
// grid whose Singles, widened as they are, would be off by 2e-6 near the end.
TEST(XyExport, ReadBackByXyconvAndACsvReader)
{
    XyPattern p = smallPattern();
    p.Start = 10.123f;
    p.Step = 0.02f;
    p.Intensity.clear();
    for (int i = 0; i < 6000; ++i)
        p.Intensity.push_back(i % 5 == 0 ? -static_cast<float>(i + 1)
                         : i % 5 == 1 ? static_cast<float>((i * 7919) % 3000000) / 7.0f // every digit a Single holds
                                      : static_cast<float>((i * 7919) % 3000000) + 0.25f);
    const auto check = [&](const char* what, const std::vector<double>& x, const std::vector<double>& y,
                           const std::vector<double>* e) {
        ASSERT_EQ(x.size(), p.Intensity.size()) << what;
        ASSERT_EQ(y.size(), p.Intensity.size()) << what;
        for (std::size_t i = 0; i < x.size(); ++i) {
            const double exact = 10.123 + 0.02 * static_cast<double>(i);
            const double count = p.Intensity[i];
            ASSERT_NEAR(x[i], exact, 5.1e-7) << what << ", point " << i + 1;
            ASSERT_EQ(static_cast<float>(y[i]), p.Intensity[i]) << what << ", point " << i + 1;
            if (e) {
                ASSERT_NEAR((*e)[i], std::sqrt(std::max(count, 1.0)), 5.1e-5) << what << ", point " << i + 1;
            }
        }
    };

    const auto records = readCsv(xyFileText(p, XyFormat::Csv));
    ASSERT_EQ(records.at(0), (std::vector<std::string>{"two_theta_deg", "intensity_counts", "sigma_counts"}));
    std::vector<double> x, y, e;
    for (std::size_t r = 1; r < records.size(); ++r) {
        ASSERT_EQ(records[r].size(), 3u) << "row " << r;
        x.push_back(number(records[r][0]));
        y.push_back(number(records[r][1]));
        e.push_back(number(records[r][2]));
    }
    check("csv", x, y, &e);

    if (!xyconvInstalled())
        GTEST_SKIP() << "xyconv (Debian package libxy-bin) is not installed";
    TempDir dir;
    for (XyFormat f : {XyFormat::Xy, XyFormat::Xye}) {
        const std::string path = dir.file(std::string("p.") + xyExtension(f));
        writeText(path, xyFileText(p, f));
        const auto blocks = runXyconv(path);
        ASSERT_TRUE(blocks.has_value()) << path << ": xyconv failed";
        ASSERT_EQ(blocks->size(), 1u) << path;
        const XyBlock& b = blocks->front();
        check(xyExtension(f), b.x, b.y, f == XyFormat::Xye ? &b.e : nullptr);
        if (f == XyFormat::Xy) {
            EXPECT_TRUE(b.e.empty());
        }
    }
}
