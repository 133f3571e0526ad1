#include "device/Format.h"

#include <gtest/gtest.h>

using namespace device;

TEST(FormatText, SizesAtUnitBoundariesAndHalvesRoundAwayFromZero) {
    // Exact binary ties at the third decimal (0.125, 1.125): printf alone would round these to even.
    const std::pair<qint64, const char*> sizes[] = {
        {0, "0.00 KB"},       {1023, "1.00 KB"},         {1048575, "1024.00 KB"}, {1048576, "1.00 MB"},
        {1073741824, "1024.00 MB"}, {1073741825, "1.00 GB"}, {-2048, "-2.00 KB"}, {128, "0.13 KB"},
        {1152, "1.13 KB"},    {1151, "1.12 KB"},         {1179648, "1.13 MB"},    {1207959552, "1.13 GB"},
        {-128, "-0.13 KB"},   {150000000000ll, "139.70 GB"}};
    for (const auto& [size, text] : sizes)
        EXPECT_EQ(FormatSizeText(size), text) << size;
    const std::pair<uint32_t, const char*> times[] = {{59999, "0:59"},      {61000, "1:01"},       {3599999, "59:59"},
                                                      {3600000, "1:00:00"}, {3723000, "1:02:03"}, {0xFFFFFFFFu, "1193:02:47"}};
    for (const auto& [ms, text] : times)
        EXPECT_EQ(FormatTimeText(ms), text) << ms;
}
