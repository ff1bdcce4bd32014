// Real RAW1.01 files of diffractometers, checked against the instrument software's own keyword
// text export of one of them, and against Debian's xyconv for all of them.
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
        {"format1.raw", 101, 10.0f, 0.1f, 0.1f, 10, 9}, // three ranges: only the first is read
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
        const XyBlock& b = blocks->front();
        const Read r(kDir + file);
        ASSERT_EQ(static_cast<std::size_t>(r.H.Size), b.y.size()) << file;
        EXPECT_EQ(b.meta.at("STEPS"), intText(r.H.Size)) << file;
        EXPECT_EQ(r.M.RangeInfo.Start, static_cast<float>(std::stod(b.meta.at("START_2THETA")))) << file;
        EXPECT_NEAR(r.M.RangeInfo.Step, std::stod(b.meta.at("STEP_SIZE")), 1e-6) << file;
        EXPECT_NEAR(r.M.RangeInfo.StepTime, std::stod(b.meta.at("TIME_PER_STEP")), 1e-6) << file;
        EXPECT_NEAR(b.x.front(), r.M.RangeInfo.Start, 1e-6) << file;
        for (int i = 1; i <= r.H.Size; ++i)
            ASSERT_EQ((*r.Data)[i], b.y[static_cast<std::size_t>(i - 1)]) << file << " step " << i;
    }
}
