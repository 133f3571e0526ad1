#include "device/PhotoDb.h"
#include "device/ThumbFormat.h"

#include <gtest/gtest.h>

using namespace device;

namespace {
uint32_t U32(const TBitmapHeader& h, int at) {
    return uint32_t(h[at] | h[at + 1] << 8 | h[at + 2] << 16 | uint32_t(h[at + 3]) << 24);
}
} // namespace

TEST(ThumbFormat, TableSetsOnlyWidthAndHeightOfKnownIds) {
    TThumbFormat f{3010, 1234, 77, 66, 5};
    LookupThumbFormatSize(f);
    EXPECT_EQ(f, (TThumbFormat{3010, 1234, 77, 66, 5}));
    f.Id = 1061;
    LookupThumbFormatSize(f);
    EXPECT_EQ(f, (TThumbFormat{1061, 1234, 56, 55, 5}));
    f.Id = 3004;
    LookupThumbFormatSize(f);
    EXPECT_EQ(f.Width, 56);
    EXPECT_EQ(f.Height, 73);
    const int32_t known[] = {1009, 1013, 1015, 1016, 1017, 1019, 1023, 1024, 1027, 1028, 1029, 1031, 1032,
                             1036, 1055, 1060, 1061, 1062, 1064, 1066, 1067, 1068, 1071, 1074, 1078, 1081,
                             1084, 3001, 3002, 3003, 3004, 3005, 3006, 3007, 3008, 3009, 3011};
    int changed = 0;
    for (int32_t id = 0; id < 4000; ++id) {
        TThumbFormat g{id, 0, -1, -1, 0};
        LookupThumbFormatSize(g);
        changed += g.Width != -1;
    }
    EXPECT_EQ(changed, int(std::size(known)));
    EXPECT_EQ(std::size(known), 37u);
    // Every size, as the devices define them.
    const int sizes[][3] = {
        {1009, 42, 30},   {1013, 220, 176}, {1015, 130, 88},  {1016, 140, 140}, {1017, 56, 56},
        {1019, 720, 480}, {1023, 176, 132}, {1024, 320, 240}, {1027, 100, 100}, {1028, 100, 100},
        {1029, 200, 200}, {1031, 42, 42},   {1032, 42, 37},   {1036, 50, 41},   {1055, 128, 128},
        {1060, 320, 320}, {1061, 56, 55},   {1062, 56, 56},   {1064, 320, 240}, {1066, 64, 64},
        {1067, 720, 480}, {1068, 128, 128}, {1071, 240, 240}, {1074, 50, 50},   {1078, 80, 80},
        {1081, 640, 480}, {1084, 240, 240}, {3001, 256, 256}, {3002, 128, 128}, {3003, 64, 64},
        {3004, 56, 73},   {3005, 320, 320}, {3006, 56, 56},   {3007, 88, 88},   {3008, 640, 480},
        {3009, 160, 128}, {3011, 80, 79}};
    for (const auto& [id, width, height] : sizes) {
        TThumbFormat g{id, 0, -1, -1, 0};
        LookupThumbFormatSize(g);
        EXPECT_EQ(g, (TThumbFormat{id, 0, width, height, 0})) << id;
    }
}

TEST(ThumbFormat, BitmapHeaderFollowsFormatAndDeviceKind) {
    const TBitmapHeader h = BuildBitmapHeader(TThumbFormat{3004, 8176, 56, 73, 1}, true);
    EXPECT_EQ(h[0], 'B');
    EXPECT_EQ(h[1], 'M');
    EXPECT_EQ(U32(h, 2), 8176u + 66);
    EXPECT_EQ(U32(h, 10), 66u);
    EXPECT_EQ(U32(h, 14), 40u);
    EXPECT_EQ(int32_t(U32(h, 18)), 56);
    EXPECT_EQ(int32_t(U32(h, 22)), -73);
    EXPECT_EQ(h[26] | h[27] << 8, 1);
    EXPECT_EQ(h[28] | h[29] << 8, 16);
    EXPECT_EQ(U32(h, 30), 3u);
    EXPECT_EQ(U32(h, 34), 8176u);
    EXPECT_EQ(U32(h, 54), 0x7C00u);
    EXPECT_EQ(U32(h, 58), 0x03E0u);
    EXPECT_EQ(U32(h, 62), 0x001Fu);
    // Reserved words, resolutions and colour counts are zero.
    for (int at : {6, 7, 8, 9})
        EXPECT_EQ(h[size_t(at)], 0) << at;
    for (int at = 38; at < 54; ++at)
        EXPECT_EQ(h[size_t(at)], 0) << at;

    // The same format read from a disk-mode iPod gets the RGB565 masks.
    TPhotoDb disk("E:", false);
    disk.Small = TThumbFormat{3004, 8176, 56, 73, 1};
    disk.Large = TThumbFormat{1024, 153600, 320, 240, 1};
    disk.BuildBitmapHeader(true);
    EXPECT_EQ(U32(disk.BmpHeader, 54), 0xF800u);
    EXPECT_EQ(U32(disk.BmpHeader, 58), 0x07E0u);
    EXPECT_EQ(int32_t(U32(disk.BmpHeader, 22)), -73);
    disk.BuildBitmapHeader(false);
    EXPECT_EQ(int32_t(U32(disk.BmpHeader, 18)), 320);
    EXPECT_EQ(U32(disk.BmpHeader, 2), 153666u);
}
