#include "core/format_size.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <utility>
#include <vector>

TEST(FormatSize, EveryBoundaryOfTheUnitTable) {
    // 1.25 and 1.75 round away from zero; ".0" goes only where it stands, not inside "10".
    const std::vector<std::pair<std::int32_t, const char*>> cases = {
        {-2147483647 - 1, "-2147483648b"}, {-1, "-1b"}, {0, "0b"}, {1023, "1023b"}, {1024, "1k"},
        {2047, "1k"}, {1048575, "1023k"}, {1048576, "1M"}, {1100000, "1M"}, {1310720, "1.3M"},
        {1572864, "1.5M"}, {1835008, "1.8M"}, {3145728, "3M"}, {10485760, "10M"},
        {10590617, "10.1M"}, {104857600, "100M"}, {536870911, "512M"}, {536870912, "0.5G"},
        {1073741824, "1G"}, {1610612736, "1.5G"}, {2147483647, "2G"},
    };
    for (const auto& [bytes, want] : cases) EXPECT_EQ(pelko::FormatSize(bytes), want) << bytes;
}

TEST(FormatSize, PercentRoundsHalvesAwayFromZero) {
    const std::vector<std::pair<float, const char*>> cases = {
        {0.0f, "0%"},     {0.5f, "50%"},  {0.125f, "13%"}, {0.004f, "0%"},    {0.375f, "38%"},
        {0.999f, "100%"}, {1.0f, "100%"}, {-0.001f, "0%"}, {-0.125f, "-13%"},
    };
    for (const auto& [fraction, want] : cases) {
        EXPECT_EQ(pelko::FormatPercent(fraction), want) << fraction;
    }
    EXPECT_EQ(pelko::ProgressText(0.5f, 3145728), "50% of 3M");
    EXPECT_EQ(pelko::ProgressText(0.0f, -1), "0% of -1b");
}
