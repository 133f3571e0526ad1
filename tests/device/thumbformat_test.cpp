#include "device/ThumbFormat.h"

#include <QImage>
#include <gtest/gtest.h>

using namespace device;

// Any bitmap reader takes the header: stored top row first, in the device kind's masks.
TEST(ThumbFormat, BitmapHeaderIsReadByAnyBitmapReader) {
    for (const bool handheld : {false, true}) {
        const TBitmapHeader h = BuildBitmapHeader(TThumbFormat{3004, 56 * 73 * 2, 56, 73, 1}, handheld);
        QByteArray bmp(reinterpret_cast<const char*>(h.data()), BitmapHeaderSize);
        for (int i = 0; i < 56 * 73; ++i) // red on the top half, blue below
            bmp += i < 56 * 36 ? (handheld ? QByteArray("\x00\x7C", 2) : QByteArray("\x00\xF8", 2))
                               : QByteArray("\x1F\x00", 2);
        const QImage image = QImage::fromData(bmp, "BMP");
        ASSERT_EQ(image.size(), QSize(56, 73)) << handheld;
        EXPECT_EQ(image.pixel(0, 0) & 0xF8F8F8, 0xF80000u) << handheld;
        EXPECT_EQ(image.pixel(55, 72) & 0xF8F8F8, 0x0000F8u) << handheld;
    }
}
