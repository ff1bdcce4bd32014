// Real RAW1.01 files of diffractometers, checked against the instrument software's own keyword
// text export of one of them, and against Debian's xyconv for all of them (every range); a real
// RAW4.00 file against the layout its README gives.
#include "fmt_raw/raw.h"
#include "fmt_raw/raw_images.h"
#include "testutil.h"
#include "ulit_dat/numtext.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

using namespace rawdat;
using namespace rawdat::test;

namespace {

const std::string kDir = std::string(RAWDAT_TESTDATA) + "/raw/";

struct Read {
    RawModule M;
    TScanHeader H;
    TScanParams P;
    std::unique_ptr<TData> Data = std::make_unique<TData>();
    explicit Read(const std::string& path) { Lect_RAW(M, path, H, P, *Data); }
};

// The keyword text export: "_KEY=value" lines, then after "_2THETACOUNTS" one "angle<TAB>count"
// line per step.
struct Uxd {
    std::map<std::string, std::string> keys;
    std::vector<std::string> angles;
    std::vector<long> counts;
};

Uxd readUxd(const std::string& path)
{
    Uxd u;
    const std::string text = readText(path);
    bool inCounts = false;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line[0] == ';')
            continue;
        if (line == "_2THETACOUNTS") {
            inCounts = true;
        } else if (inCounts) {
            const std::size_t tab = line.find('\t');
            u.angles.push_back(line.substr(0, tab));
            u.counts.push_back(std::stol(line.substr(tab + 1)));
        } else if (line[0] == '_' && line.find('=') != std::string::npos) {
            const std::size_t eq = line.find('=');
            u.keys[line.substr(1, eq - 1)] = line.substr(eq + 1);
        }
    }
    return u;
}

} // namespace

TEST(InstrumentFiles, Bt86AgreesWithItsKeywordTextTwin)
{
    const Uxd u = readUxd(kDir + "BT86_.UXD");
    ASSERT_EQ(u.counts.size(), 2374u);
    const Read r(kDir + "BT86.raw");

    EXPECT_EQ(r.H.Size, static_cast<std::int32_t>(u.counts.size()));
    EXPECT_EQ(fixedText(r.M.RangeInfo.Start, 6), u.keys.at("START"));
    EXPECT_EQ(fixedText(r.M.RangeInfo.Step, 6), u.keys.at("STEPSIZE"));
    EXPECT_EQ(fixedText(r.M.RangeInfo.StepTime, 6), u.keys.at("STEPTIME"));
    EXPECT_EQ(fixedText(r.H.Wavelength, 6), u.keys.at("WL1"));
    EXPECT_EQ(r.P.AcqTime, 1187.0f); // 2374 steps of 0.5 s
    EXPECT_EQ(r.H.Comment1.str(), "RAW1");
    EXPECT_EQ(r.H.Date.str(), "03/04/10 20:59:14   ");
    EXPECT_EQ(r.H.Comment2.str(), u.keys.at("SAMPLE").substr(1, 4) + std::string(76, ' ')); // 'BT86'
    EXPECT_EQ(r.H.Comment3.str(), std::string(80, ' '));
    for (int i = 1; i <= r.H.Size; ++i) {
        ASSERT_EQ((*r.Data)[i], u.counts[static_cast<std::size_t>(i - 1)]) << "step " << i;
        // The export gives each angle to four significant digits: within half its last digit.
        const std::string& text = u.angles[static_cast<std::size_t>(i - 1)];
        const int decimals = static_cast<int>(text.size() - text.find('.') - 1);
        const double angle = r.M.RangeInfo.Start + (i - 1) * static_cast<double>(r.M.RangeInfo.Step);
        ASSERT_NEAR(angle, std::stod(text), 0.5 * std::pow(10.0, -decimals) + 1e-9) << "step " << i;
    }
}

TEST(InstrumentFiles, FirstRangeOfEachFile)
{
    struct Row {
        const char* file;
        std::int32_t steps;
        float start, step, stepTime;
        std::int32_t first, last;
    };
    const Row rows[] = {
        {"BT86.raw", 2374, 3.0f, 0.0155922f, 0.5f, 187, 269},
        {"Cu3Au-1.raw", 3901, 22.0f, 0.02f, 0.5f, 48, 11},
        {"Cu3Au-2.raw", 3901, 22.0f, 0.02f, 0.8f, 73, 19},
        {"format1.raw", 101, 10.0f, 0.1f, 0.1f, 10, 9}, // three ranges: the first is the main one
    };
    for (const Row& row : rows) {
        const Read r(kDir + row.file);
        EXPECT_EQ(r.H.Size, row.steps) << row.file;
        EXPECT_EQ(r.M.RangeInfo.Start, row.start) << row.file;
        EXPECT_NEAR(r.M.RangeInfo.Step, row.step, 1e-7) << row.file;
        EXPECT_EQ(r.M.RangeInfo.StepTime, row.stepTime) << row.file;
        EXPECT_EQ(r.H.Wavelength, 1.5406) << row.file;
        EXPECT_EQ((*r.Data)[1], row.first) << row.file;
        EXPECT_EQ((*r.Data)[row.steps], row.last) << row.file;
    }
}

TEST(InstrumentFiles, AgreeWithXyconv)
{
    if (!xyconvInstalled())
        GTEST_SKIP() << "xyconv (Debian package libxy-bin) is not installed";
    struct Row { const char* file; std::size_t ranges; };
    const Row rows[] = {{"BT86.raw", 1}, {"Cu3Au-1.raw", 1}, {"Cu3Au-2.raw", 1}, {"format1.raw", 3}};
    for (const auto& [file, ranges] : rows) {
        const auto blocks = runXyconv(kDir + file);
        ASSERT_TRUE(blocks.has_value()) << file;
        ASSERT_EQ(blocks->size(), ranges) << file;
        const Read r(kDir + file);
        ASSERT_EQ(r.M.Ranges.size(), ranges) << file;
        EXPECT_EQ(r.M.MainRange, 0u) << file;
        for (std::size_t k = 0; k < ranges; ++k) {
            const XyBlock& b = (*blocks)[k];
            // The records of range k alone, as a conversion of it gets them.
            TScanHeader h = r.H;
            TScanParams p = r.P;
            TRangeInfo info = r.M.RangeInfo;
            auto data = std::make_unique<TData>();
            RangeRecords(r.M, k, h, p, info, *data);
            ASSERT_EQ(static_cast<std::size_t>(h.Size), b.y.size()) << file << " range " << k;
            EXPECT_EQ(b.meta.at("STEPS"), intText(h.Size)) << file;
            EXPECT_EQ(info.Start, static_cast<float>(std::stod(b.meta.at("START_2THETA")))) << file;
            EXPECT_NEAR(info.Step, std::stod(b.meta.at("STEP_SIZE")), 1e-6) << file;
            EXPECT_NEAR(info.StepTime, std::stod(b.meta.at("TIME_PER_STEP")), 1e-6) << file;
            EXPECT_EQ(p.AcqTime, static_cast<float>(h.Size * static_cast<long double>(info.StepTime))) << file;
            EXPECT_NEAR(b.x.front(), info.Start, 1e-6) << file;
            EXPECT_NEAR(b.x.back(), info.Start + (h.Size - 1) * static_cast<double>(info.Step), 1e-4) << file;
            for (int i = 1; i <= h.Size; ++i)
                ASSERT_EQ((*data)[i], b.y[static_cast<std::size_t>(i - 1)]) << file << " range " << k << " step " << i;
        }
    }
}

// The RAW4.00 file of tests/data/raw4: its README gives the date, the sample, one range of 7134
// steps from 10 degrees and the data from byte 1311, 8 bytes per step, a Single count first.
TEST(InstrumentFiles, Raw4File)
{
    const std::string path = std::string(RAWDAT_TESTDATA) + "/raw4/TwoTheta_scan_scrambled.raw";
    const Read r(path);
    EXPECT_EQ(r.H.Comment1.str(), "RAW4");
    EXPECT_EQ(r.H.Date.str(), "04/07/2025 20:48:56 ");
    EXPECT_EQ(r.H.Comment2.str(), "HeOx-1001-nsp-sps-900C-10min-01-poliert" + std::string(41, ' '));
    EXPECT_EQ(r.H.Comment3.str(), std::string(80, ' ')); // its comment is empty
    EXPECT_EQ(r.H.Wavelength, static_cast<double>(1.5406f)); // Cu K-alpha-1, stored as a Single's value
    EXPECT_EQ(r.H.Size, 7134);
    EXPECT_EQ(r.M.RangeInfo.Start, 10.0f);
    EXPECT_EQ(fixedText(r.M.RangeInfo.Step, 7), "0.0105203");
    EXPECT_EQ(fixedText(r.M.RangeInfo.StepTime, 3), "310.003");
    EXPECT_EQ(r.P.AcqTime, static_cast<float>(7134 * static_cast<long double>(r.M.RangeInfo.StepTime)));
    ASSERT_EQ(r.M.Ranges.size(), 1u);
    const std::vector<std::uint8_t> bytes = readBytes(path);
    ASSERT_EQ(bytes.size(), 1311u + 8u * 7134u);
    for (int i = 1; i <= 7134; ++i) {
        const float v = get<float>(bytes, 1311 + 8 * static_cast<std::size_t>(i - 1));
        ASSERT_EQ((*r.Data)[i], static_cast<std::int32_t>(std::nearbyint(v))) << "step " << i;
    }
    EXPECT_EQ((*r.Data)[1], 284);  // 283.769
    EXPECT_EQ((*r.Data)[2], -165); // -164.534
    EXPECT_EQ((*r.Data)[7134], -106); // -105.778
}
