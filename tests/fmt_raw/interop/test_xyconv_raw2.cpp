// RAW2 files written by Ecr_RAW, read by Debian's xyconv: one range, its start, step, number of
// steps and every intensity. Skipped only where xyconv is not installed.
#include "fmt_raw/raw.h"
#include "fmt_raw/raw_images.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

using namespace rawdat;
using namespace rawdat::test;

TEST(XyconvReadsOurRaw2, StartStepCountAndEveryIntensity)
{
    if (!xyconvInstalled())
        GTEST_SKIP() << "xyconv (Debian package libxy-bin) is not installed";
    struct Row {
        const char* what;
        int steps;
        float start, step;
        double wavelength;
        std::int32_t (*count)(int i);
    };
    const Row rows[] = {
        {"a converted pattern", 1500, 10.25f, 0.02f, 1.54056,
         [](int i) { return static_cast<std::int32_t>((i * 7919) % 50000); }},
        {"one step", 1, 5.0f, 0.001f, 1.78897, [](int) { return std::int32_t{42}; }},
        {"no anode, large and negative counts", 333, 2.5f, 0.125f, 1.0,
         [](int i) { return i % 3 == 0 ? -i : (i % 3 == 1 ? 16777216 - i : i * 1000); }},
        {"every entry of Data", kDataCapacity, 0.0f, 0.005f, 0.7093,
         [](int i) { return static_cast<std::int32_t>(i); }},
    };
    TempDir dir;
    for (const Row& row : rows) {
        const std::string path = dir.file("out.raw");
        RawModule m;
        TScanHeader h;
        auto data = std::make_unique<TData>();
        h.Size = row.steps;
        h.Wavelength = row.wavelength;
        h.Comment1 = "comment\twith a tab";
        h.Date = "12/03/1998 14:25:36 ";
        m.RangeInfo = {row.start, 0.0f, row.step, 1.0f};
        for (int i = 1; i <= row.steps; ++i)
            (*data)[i] = row.count(i);
        Ecr_RAW(m, path, h, *data);

        const auto blocks = runXyconv(path);
        ASSERT_TRUE(blocks.has_value()) << row.what << ": xyconv failed";
        ASSERT_EQ(blocks->size(), 1u) << row.what;
        const XyBlock& b = blocks->front();
        ASSERT_EQ(b.y.size(), static_cast<std::size_t>(row.steps)) << row.what;
        EXPECT_NEAR(b.x.front(), row.start, 1e-6) << row.what;
        if (row.steps > 1) {
            const double step = (b.x.back() - b.x.front()) / (row.steps - 1);
            EXPECT_NEAR(step, row.step, 1e-6) << row.what;
        }
        for (int i = 1; i <= row.steps; ++i) {
            ASSERT_EQ(b.y[static_cast<std::size_t>(i - 1)], static_cast<double>((*data)[i]))
                << row.what << ", step " << i;
            ASSERT_NEAR(b.x[static_cast<std::size_t>(i - 1)],
                        row.start + (i - 1) * static_cast<double>(row.step), 1e-5)
                << row.what << ", step " << i;
        }
    }
}
