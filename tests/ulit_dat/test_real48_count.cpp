// Real48::fromCount, the shortcut the converters take for counts, against fromValue.
#include "ulit_dat/real48.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <random>
#include <vector>

using namespace rawdat;

TEST(Real48, CountsEncodeAsTheirValues)
{
    std::vector<std::int32_t> counts = {0, 1, -1, 2, 3, 7, 10, 255, 256, 65535, 65536, 16777215, 16777216, 16777217,
                                        std::numeric_limits<std::int32_t>::max(), std::numeric_limits<std::int32_t>::min(),
                                        std::numeric_limits<std::int32_t>::min() + 1};
    for (int bit = 0; bit < 31; ++bit) {
        const std::int32_t p = std::int32_t{1} << bit;
        for (std::int32_t v : {p, p - 1, p + 1, -p, -p + 1, -p - 1})
            counts.push_back(v);
    }
    std::mt19937 gen(20240616u);
    for (int i = 0; i < 200000; ++i)
        counts.push_back(static_cast<std::int32_t>(gen()) >> (gen() % 32));
    for (std::int32_t v : counts) {
        const Real48 r = Real48::fromCount(v);
        ASSERT_EQ(r.bytes(), Real48::fromValue(v).bytes()) << v;
        ASSERT_EQ(r.value(), static_cast<double>(v)) << v;
    }
}
