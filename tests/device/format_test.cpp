#include "device/Format.h"

#include <gtest/gtest.h>

using namespace device;

TEST(FormatSizeText, UnitBoundaries) {
    EXPECT_EQ(FormatSizeText(1023), "1.00 KB");
    EXPECT_EQ(FormatSizeText(1048575), "1024.00 KB");
    EXPECT_EQ(FormatSizeText(1048576), "1.00 MB");
    EXPECT_EQ(FormatSizeText(1073741824), "1024.00 MB");
    EXPECT_EQ(FormatSizeText(1073741825), "1.00 GB");
    EXPECT_EQ(FormatSizeText(-2048), "-2.00 KB");
    EXPECT_EQ(FormatSizeText(0), "0.00 KB");
}

TEST(FormatTimeText, MinutesAndHours) {
    EXPECT_EQ(FormatTimeText(59999), "0:59");
    EXPECT_EQ(FormatTimeText(61000), "1:01");
    EXPECT_EQ(FormatTimeText(3599999), "59:59");
    EXPECT_EQ(FormatTimeText(3600000), "1:00:00");
    EXPECT_EQ(FormatTimeText(3723000), "1:02:03");
    EXPECT_EQ(FormatTimeText(0xFFFFFFFFu), "1193:02:47");
}

TEST(FormatSizeText, HalvesRoundAwayFromZero) {
    // Exact binary ties at the third decimal: printf alone would round these to even.
    EXPECT_EQ(FormatSizeText(128), "0.13 KB");        // 0.125
    EXPECT_EQ(FormatSizeText(1152), "1.13 KB");       // 1.125
    EXPECT_EQ(FormatSizeText(1151), "1.12 KB");       // 1.1240...
    EXPECT_EQ(FormatSizeText(1179648), "1.13 MB");    // 1.125
    EXPECT_EQ(FormatSizeText(1207959552), "1.13 GB"); // 1.125
    EXPECT_EQ(FormatSizeText(-128), "-0.13 KB");
    EXPECT_EQ(FormatSizeText(4123456), "3.93 MB");
    EXPECT_EQ(FormatSizeText(150000000000ll), "139.70 GB");
}
