#include "device/Format.h"

#include <gtest/gtest.h>

using namespace device;

TEST(FormatText, SizesAtUnitBoundariesAndHalvesRoundAwayFromZero) {
    // Exact binary ties at the third decimal (0.125, 1.125): printf alone would round these to even.
    const std::pair<qint64, const char*> sizes[] = {
        {1023, "1.00 KB"}, {1048575, "1024.00 KB"}, {1048576, "1.00 MB"},    {1073741825, "1.00 GB"},
        {1152, "1.13 KB"}, {1151, "1.12 KB"},       {1207959552, "1.13 GB"}, {-128, "-0.13 KB"}};
    for (const auto& [size, text] : sizes)
        EXPECT_EQ(FormatSizeText(size), text) << size;
    const std::pair<uint32_t, const char*> times[] = {
        {59999, "0:59"}, {3599999, "59:59"}, {3723000, "1:02:03"}, {0xFFFFFFFFu, "1193:02:47"}};
    for (const auto& [ms, text] : times)
        EXPECT_EQ(FormatTimeText(ms), text) << ms;
}
