#include "device/PixelDecode.h"
#include "device/ThumbFormat.h"
#include "tests/fixtures/RecordWriter.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace device;

static QByteArray Bitmap(const TThumbFormat& f, bool handheld, std::initializer_list<uint16_t> words = {}) {
    const TBitmapHeader h = BuildBitmapHeader(f, handheld);
    QByteArray b(reinterpret_cast<const char*>(h.data()), BitmapHeaderSize);
    for (uint16_t w : words)
        b.append(char(w & 0xFF)).append(char(w >> 8));
    return b;
}

const auto At = [](const QImage& image, int x, int y, QRgb mask = 0xFFFFFF) { return image.pixel(x, y) & mask; };

// Every pixel, rows top first.
static std::vector<QRgb> Pixels(const QImage& image, QRgb mask = 0xFFFFFF) {
    std::vector<QRgb> all;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            all.push_back(At(image, x, y, mask));
    return all;
}

// 16-bit bitmaps: every pixel, rows top first; no pixels for headers that cannot be used.
TEST(PixelDecode, SixteenBitPixelsFollowTheMasksAndHeadersThatCannotBeUsedGiveNoPicture) {
    const TThumbFormat square{1, 8, 2, 2, 1};
    QByteArray be = Bitmap({1023, 4, 2, 1, 1}, false, {0x00F8, 0x1F00}); // big-endian storage: red, blue
    SwapBytes16(reinterpret_cast<uint8_t*>(be.data() + BitmapHeaderSize), 4);
    const std::pair<QByteArray, std::vector<QRgb>> cases[] = {
        // Disk-mode RGB565: red, green, blue, white.
        {Bitmap(square, false, {0xF800, 0x07E0, 0x001F, 0xFFFF}), {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF}},
        // A handheld's words are RGB555; 16 of 31 gives 0x84, the high bits replicated.
        {Bitmap(square, true, {0x7C00, 0x03E0, 0x001F, 0x4210}), {0xFF0000, 0x00FF00, 0x0000FF, 0x848484}},
        {be, {0xFF0000, 0x0000FF}},
        // Odd widths have rows padded to four bytes.
        {Bitmap({1, 8, 1, 2, 1}, false, {0xF800, 0, 0x001F, 0}), {0xFF0000, 0x0000FF}},
        // A positive height is stored bottom row first.
        {fixtures::Patched(Bitmap(square, false, {0xF800, 0xF800, 0x001F, 0x001F}), {{22, 2}}),
         {0x0000FF, 0x0000FF, 0xFF0000, 0xFF0000}},
        {QByteArray("BM"), {}},
        {Bitmap({1, 0, 0, 4, 1}, false), {}},
        {Bitmap({1, 0, 65535, 65535, 1}, false), {}},
        {fixtures::Patched(Bitmap(square, false, {0, 0, 0, 0}), {{28, 24}}), {}}, // 24 bits a pixel
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(Pixels(DecodeBitfieldBitmap(cases[i].first)), cases[i].second) << i;
        if (i < 2) { // any bitmap reader takes the header of either device kind
            EXPECT_EQ(Pixels(QImage::fromData(cases[i].first, "BMP"), 0xF0F0F0),
                      Pixels(DecodeBitfieldBitmap(cases[i].first), 0xF0F0F0))
                << i;
        }
    }
    // The handheld's 56 x 56 small art holds only 6160 bytes: the missing last row is black.
    const QImage cut = DecodeBitfieldBitmap(Bitmap({3006, 6160, 56, 56, 1}, true) + QByteArray(6160, '\xFF'));
    EXPECT_EQ(std::tuple(cut.size(), At(cut, 55, 54), At(cut, 0, 55)), std::tuple(QSize(56, 56), 0xFFFFFFu, 0u));
}

// A byte from a colour value rounds half to even and is clamped; UYVY fields fill alternate
// rows and an unreadable line stops the field.
TEST(PixelDecode, ClampByteRoundsHalfToEvenAndUyvyFieldsFillAlternateRows) {
    for (const auto& [v, want] : std::vector<std::pair<double, int>>{
             {255.5, 255}, {254.5, 254}, {253.5, 254}, {-0.4, 0}, {300.0, 255}, {254.916, 255}})
        EXPECT_EQ(ClampByte(v), want) << v;
    QImage target(UyvyWidth, UyvyHeight, QImage::Format_RGB888);
    // Field 0 black (Y 16), field 1 white (Y 235: 1.164 x 219 = 254.916, so 255), grey chroma.
    int lines = 0;
    for (const int field : {0, 1}) {
        QByteArray line = QByteArray(field ? "\x80\xEB" : "\x80\x10").repeated(UyvyLineBytes / 2);
        line[17] = '\xEB'; // output column 0 is stored column 8
        EXPECT_TRUE(ReadUyuvField(
            [&](uint8_t* out) { return std::memcpy(out, line.constData(), UyvyLineBytes), ++lines; }, field, target));
    }
    EXPECT_EQ(lines, 480);
    EXPECT_EQ((std::vector<QRgb>{At(target, 0, 0), At(target, 1, 0), At(target, 703, 478), At(target, 703, 479)}),
              (std::vector<QRgb>{0xFFFFFF, 0, 0, 0xFFFFFF}));
    int calls = 0;
    EXPECT_FALSE(ReadUyuvField([&](uint8_t*) { return ++calls < 10; }, 0, target));
    EXPECT_EQ(calls, 10);
}

// The exporter's one step from the stored image to the resized picture gives what the two
// steps give, and the vector kernels what the portable code gives, on noise (many pixels near
// a rounding boundary) and on smooth ramps, for the 640 x 480 export, for widths whose columns
// are far apart or near or reach the last one, and for heights that mix rows.
TEST(PixelDecode, UyvyStraightToTheResizedPictureMatchesBothStepsAndBothKernels) {
    QByteArray noise(UyvyImageBytes, '\0'), ramp(UyvyImageBytes, '\0');
    uint32_t seed = 99;
    for (int i = 0; i < UyvyImageBytes; ++i) {
        noise[i] = char((seed = seed * 1103515245u + 12345u) >> 24);
        ramp[i] = char((i % UyvyLineBytes) / 6 + (i / UyvyLineBytes) / 3);
    }
    for (const QByteArray& image : {noise, ramp}) {
        for (const QSize size : {QSize(640, 480), QSize(1001, 611), QSize(90, 480), QSize(320, 241)}) {
            SCOPED_TRACE(std::to_string(size.width()) + "x" + std::to_string(size.height()));
            std::vector<QImage> results; // one step and two steps, portable code then vector kernels
            for (const bool vector : {false, true}) {
                SetVectorKernelsForTesting(vector);
                QImage decoded(UyvyWidth, UyvyHeight, QImage::Format_RGB888);
                const char* next = image.constData();
                const UyvyLineReader line = [&](uint8_t* out) {
                    return std::memcpy(out, next, UyvyLineBytes), next += UyvyLineBytes, true;
                };
                EXPECT_TRUE(ReadUyuvField(line, 0, decoded) && ReadUyuvField(line, 1, decoded));
                QImage twoSteps(size, QImage::Format_RGB888), oneStep(size, QImage::Format_RGB888);
                ResampleBitmap(decoded, twoSteps);
                DecodeUyvyResampled(reinterpret_cast<const uint8_t*>(image.constData()), oneStep);
                results.insert(results.end(), {oneStep, twoSteps});
            }
            for (size_t i = 1; i < results.size(); ++i)
                EXPECT_EQ(results[i], results[0]) << i;
        }
    }
}
