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
