#include "device/PixelDecode.h"
#include "device/ThumbFormat.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace device;

namespace {

QByteArray Bitmap(const TThumbFormat& f, bool handheld, const QByteArray& pixels) {
    const TBitmapHeader h = BuildBitmapHeader(f, handheld);
    return QByteArray(reinterpret_cast<const char*>(h.data()), BitmapHeaderSize) + pixels;
}

QByteArray Words(std::initializer_list<uint16_t> words) {
    QByteArray b;
    for (uint16_t w : words) {
        b += char(w & 0xFF);
        b += char(w >> 8);
    }
    return b;
}

QRgb At(const QImage& image, int x, int y) { return image.pixel(x, y) & 0xFFFFFF; }

// Runs `body` with the hand-written vector kernels and again with the portable code.
template <class Body>
void BothKernels(const Body& body) {
    for (bool vector : {true, false}) {
        SCOPED_TRACE(vector ? "vector kernels" : "portable code");
        SetVectorKernelsForTesting(vector);
        body();
    }
    SetVectorKernelsForTesting(true);
}

// One UYVY line whose every pair holds (cb, y, cr, y).
QByteArray UyvyLine(uint8_t y, uint8_t cb, uint8_t cr) {
    QByteArray line;
    for (int i = 0; i < 360; ++i) {
        line += char(cb);
        line += char(y);
        line += char(cr);
        line += char(y);
    }
    return line;
}

} // namespace

TEST(PixelDecode, ClampByteRoundsHalfToEvenAndClamps) {
    EXPECT_EQ(ClampByte(255.5), 255);
    EXPECT_EQ(ClampByte(254.5), 254);
    EXPECT_EQ(ClampByte(253.5), 254);
    EXPECT_EQ(ClampByte(0.5), 0);
    EXPECT_EQ(ClampByte(1.5), 2);
    EXPECT_EQ(ClampByte(-0.4), 0);
    EXPECT_EQ(ClampByte(-3.0), 0);
    EXPECT_EQ(ClampByte(300.0), 255);
    EXPECT_EQ(ClampByte(254.916), 255);
    EXPECT_EQ(ClampByte(127.49), 127);
}

TEST(PixelDecode, SixteenBitPixelsFollowTheMasks) {
    // Disk-mode RGB565: red, green, blue, white in a 2 x 2 picture, rows top first.
    const TThumbFormat f{1, 8, 2, 2, 1};
    const QImage disk = DecodeBitfieldBitmap(Bitmap(f, false, Words({0xF800, 0x07E0, 0x001F, 0xFFFF})));
    ASSERT_EQ(disk.size(), QSize(2, 2));
    EXPECT_EQ(At(disk, 0, 0), 0xFF0000u);
    EXPECT_EQ(At(disk, 1, 0), 0x00FF00u);
    EXPECT_EQ(At(disk, 0, 1), 0x0000FFu);
    EXPECT_EQ(At(disk, 1, 1), 0xFFFFFFu);
    // The same words on a handheld are RGB555: 0xF800 is red 31 >> ... bits 10-14 = 0x1E.
    const QImage hand = DecodeBitfieldBitmap(Bitmap(f, true, Words({0x7C00, 0x03E0, 0x001F, 0x4210})));
    EXPECT_EQ(At(hand, 0, 0), 0xFF0000u);
    EXPECT_EQ(At(hand, 1, 0), 0x00FF00u);
    EXPECT_EQ(At(hand, 0, 1), 0x0000FFu);
    EXPECT_EQ(At(hand, 1, 1), 0x848484u); // 16 of 31, high bits replicated
    // Big-endian storage: bytes F8 00 become the word 0xF800, pure red.
    QByteArray be("\xF8\x00\x00\x1F", 4);
    SwapBytes16(reinterpret_cast<uint8_t*>(be.data()), be.size());
    const QImage swapped = DecodeBitfieldBitmap(Bitmap(TThumbFormat{1023, 4, 2, 1, 1}, false, be));
    EXPECT_EQ(At(swapped, 0, 0), 0xFF0000u);
    EXPECT_EQ(At(swapped, 1, 0), 0x0000FFu);
}

TEST(PixelDecode, ShortOrOddBitmaps) {
    // Odd widths have rows padded to four bytes.
    const QImage odd = DecodeBitfieldBitmap(Bitmap(TThumbFormat{1, 8, 1, 2, 1}, false, Words({0xF800, 0, 0x001F, 0})));
    ASSERT_EQ(odd.size(), QSize(1, 2));
    EXPECT_EQ(At(odd, 0, 0), 0xFF0000u);
    EXPECT_EQ(At(odd, 0, 1), 0x0000FFu);
    // The handheld's 56 x 56 small art holds only 6160 bytes: the missing last row is black.
    QByteArray art(6160, '\xFF');
    const QImage cut = DecodeBitfieldBitmap(Bitmap(TThumbFormat{3006, 6160, 56, 56, 1}, true, art));
    ASSERT_EQ(cut.size(), QSize(56, 56));
    EXPECT_EQ(At(cut, 55, 54), 0xFFFFFFu);
    EXPECT_EQ(At(cut, 0, 55), 0u);
    // A positive height is stored bottom row first.
    QByteArray up = Bitmap(TThumbFormat{1, 8, 2, 2, 1}, false, Words({0xF800, 0xF800, 0x001F, 0x001F}));
    up[22] = 2; up[23] = 0; up[24] = 0; up[25] = 0;
    EXPECT_EQ(At(DecodeBitfieldBitmap(up), 0, 0), 0x0000FFu);
    // Headers we cannot use give no picture.
    EXPECT_TRUE(DecodeBitfieldBitmap(QByteArray("BM")).isNull());
    EXPECT_TRUE(DecodeBitfieldBitmap(Bitmap(TThumbFormat{1, 0, 0, 4, 1}, false, {})).isNull());
    EXPECT_TRUE(DecodeBitfieldBitmap(Bitmap(TThumbFormat{1, 0, 65535, 65535, 1}, false, {})).isNull());
    QByteArray wrongDepth = Bitmap(TThumbFormat{1, 8, 2, 2, 1}, false, Words({0, 0, 0, 0}));
    wrongDepth[28] = 24;
    EXPECT_TRUE(DecodeBitfieldBitmap(wrongDepth).isNull());
}

TEST(PixelDecode, UyvyFieldsFillAlternateRowsWithTheirOwnConstants) {
    QImage target(UyvyWidth, UyvyHeight, QImage::Format_RGB888);
    target.fill(Qt::magenta);
    // Field 0 black (Y 16), field 1 white (Y 235): 1.164 x 219 = 254.916, so 255.
    int lines = 0;
    ASSERT_TRUE(ReadUyuvField([&](uint8_t* line) {
        std::memcpy(line, UyvyLine(16, 128, 128).constData(), UyvyLineBytes);
        ++lines;
        return true;
    }, 0, target));
    ASSERT_TRUE(ReadUyuvField([&](uint8_t* line) {
        std::memcpy(line, UyvyLine(235, 128, 128).constData(), UyvyLineBytes);
        ++lines;
        return true;
    }, 1, target));
    EXPECT_EQ(lines, 480);
    EXPECT_EQ(At(target, 0, 0), 0x000000u);
    EXPECT_EQ(At(target, 703, 478), 0x000000u);
    EXPECT_EQ(At(target, 0, 1), 0xFFFFFFu);
    EXPECT_EQ(At(target, 703, 479), 0xFFFFFFu);

    // Output column 0 is stored column 8: Y at byte 17, Cb at 16, Cr at 18.
    QByteArray line(UyvyLineBytes, '\x80');
    line[16] = char(90);  // Cb
    line[17] = char(100); // Y
    line[18] = char(200); // Cr
    line[19] = char(120); // Y of column 9, same chroma
    uint8_t rgb[UyvyWidth * 3];
    DecodeUyvyLine(reinterpret_cast<const uint8_t*>(line.constData()), rgb);
    const double y = 100 - 16, cb = 90 - 128, cr = 200 - 128;
    EXPECT_EQ(rgb[0], ClampByte(1.164 * y + 1.596 * cr));
    EXPECT_EQ(rgb[1], ClampByte(1.164 * y - 0.392 * cb - 0.813 * cr));
    EXPECT_EQ(rgb[2], ClampByte(1.164 * y + 2.017 * cb));
    EXPECT_EQ(rgb[3], ClampByte(1.164 * (120 - 16) + 1.596 * cr));

    // A line that cannot be read stops the field.
    int calls = 0;
    EXPECT_FALSE(ReadUyuvField([&](uint8_t*) { return ++calls < 10; }, 0, target));
    EXPECT_EQ(calls, 10);
}

TEST(PixelDecode, PlanarYuvSharesChromaOverTwoByTwoPixels) {
    std::vector<uint8_t> buffer(PlanarBufferBytes, 0);
    buffer[0] = 100;         // Y (0,0)
    buffer[721] = 180;       // Y (1,1)
    buffer[345600] = 60;     // Cb of the top-left 2 x 2
    buffer[432000] = 220;    // Cr of the top-left 2 x 2
    buffer[2] = 50;          // Y (0,2): next chroma column
    buffer[345601] = 128;
    buffer[432001] = 128;
    QImage target(PlanarWidth, PlanarHeight, QImage::Format_RGB888);
    DecodePlanarYuv(buffer.data(), target);
    const double cb = 60 - 128, cr = 220 - 128;
    auto expect = [&](int x, int y, double luma, double b, double r) {
        const QRgb p = target.pixel(x, y);
        EXPECT_EQ(qRed(p), ClampByte(1.164 * (luma - 16) + 1.596 * r)) << x << "," << y;
        EXPECT_EQ(qGreen(p), ClampByte(1.164 * (luma - 16) - 0.391 * b - 0.813 * r)) << x << "," << y;
        EXPECT_EQ(qBlue(p), ClampByte(1.164 * (luma - 16) + 2.018 * b)) << x << "," << y;
    };
    expect(0, 0, 100, cb, cr);
    expect(1, 1, 180, cb, cr);
    expect(2, 0, 50, 0, 0);
}

TEST(PixelDecode, ResampleIsFixedPointBilinear) {
    QImage white(704, 480, QImage::Format_RGB888);
    white.fill(Qt::white);
    QImage dest(640, 480, QImage::Format_RGB888);
    dest.fill(Qt::black);
    ResampleBitmap(white, dest);
    for (int y : {0, 239, 479})
        for (int x : {0, 320, 639})
            EXPECT_EQ(At(dest, x, y), 0xFEFEFEu); // weights add to 65535: 255 becomes 254

    // A ramp: dest column i samples source column i * 72089 >> 16 and its right neighbour.
    QImage ramp(704, 480, QImage::Format_RGB888);
    for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 704; ++x)
            ramp.setPixel(x, y, qRgb(x % 256, 0, 0));
    ResampleBitmap(ramp, dest);
    for (uint32_t i : {1u, 7u, 100u}) {
        const uint32_t sx = i * 72089u, ix = sx >> 16, fx = sx & 0xFFFF;
        const uint32_t ur = (0xFFFFu * fx) >> 16, ul = 0xFFFFu - ur;
        const uint32_t want = ((ix % 256) * ul + ((ix + 1) % 256) * ur) >> 16;
        EXPECT_EQ(uint32_t(qRed(dest.pixel(int(i), 5))), want) << i;
    }
}

// The decoders round in fixed point and fall back to double precision near a tie; every
// (Y, Cb, Cr) must come out exactly as the double-precision formulas with ClampByte give.
TEST(PixelDecode, FastYuvPathsMatchTheFormulasForEveryInput) {
    auto reference = [](int y, int cb, int cr, double kg, double kb, uint8_t* out) {
        const double yy = y - 16.0, b = cb - 128.0, r = cr - 128.0;
        out[0] = ClampByte(1.164 * yy + 1.596 * r);
        out[1] = ClampByte(1.164 * yy - kg * b - 0.813 * r);
        out[2] = ClampByte(1.164 * yy + kb * b);
    };
    // UYVY: one line holds 352 pairs (704 output columns); pair p of line n covers chroma
    // (cb, cr) = ((n*352+p) / 128 >> 8, ...) with Y = 2k, 2k+1.
    std::vector<uint8_t> line(UyvyLineBytes), rgb(UyvyWidth * 3);
    BothKernels([&] {
        int mismatches = 0;
        uint32_t index = 0; // runs over cb (8 bits), cr (8 bits), y pair (7 bits)
        while (index < (1u << 23)) {
            for (int x = 8; x < 712; x += 2, ++index) {
                const uint32_t i = index & ((1u << 23) - 1);
                uint8_t* g = line.data() + 2 * x;
                g[0] = uint8_t(i >> 15);
                g[2] = uint8_t(i >> 7);
                g[1] = uint8_t((i & 127) * 2);
                g[3] = uint8_t((i & 127) * 2 + 1);
            }
            DecodeUyvyLine(line.data(), rgb.data());
            for (int x = 8; x < 712; ++x) {
                const uint8_t* g = line.data() + 4 * (x / 2);
                uint8_t want[3];
                reference(line[size_t(2 * x + 1)], g[0], g[2], 0.392, 2.017, want);
                mismatches += std::memcmp(want, rgb.data() + 3 * (x - 8), 3) != 0;
            }
        }
        EXPECT_EQ(mismatches, 0);
    });

    // Planar: each 720 x 480 picture covers 86400 chroma pairs with four luma values each.
    std::vector<uint8_t> planes(PlanarBufferBytes);
    QImage target(PlanarWidth, PlanarHeight, QImage::Format_RGB888);
    int mismatches = 0;
    for (uint32_t base = 0; base < (1u << 24); base += 86400u * 4) {
        for (int cy = 0; cy < 240; ++cy) {
            for (int cx = 0; cx < 360; ++cx) {
                const uint32_t i = base + uint32_t(cy * 360 + cx) * 4;
                planes[size_t(345600 + cy * 360 + cx)] = uint8_t(i >> 16);
                planes[size_t(432000 + cy * 360 + cx)] = uint8_t(i >> 8);
                for (int k = 0; k < 4; ++k)
                    planes[size_t((2 * cy + k / 2) * 720 + 2 * cx + k % 2)] = uint8_t(i + uint32_t(k));
            }
        }
        DecodePlanarYuv(planes.data(), target);
        for (int y = 0; y < 480; ++y) {
            const uint8_t* row = target.constScanLine(y);
            for (int x = 0; x < 720; ++x) {
                uint8_t want[3];
                reference(planes[size_t(y * 720 + x)], planes[size_t(345600 + (y / 2) * 360 + x / 2)],
                          planes[size_t(432000 + (y / 2) * 360 + x / 2)], 0.391, 2.018, want);
                mismatches += std::memcmp(want, row + 3 * x, 3) != 0;
            }
        }
    }
    EXPECT_EQ(mismatches, 0);
}

// The resize against the rule written out, on noise, for the one use and for odd sizes that
// reach the last source column and rows with a lower-row weight.
TEST(PixelDecode, ResampleMatchesTheRuleOnNoise) {
    auto reference = [](const QImage& s, QImage& d) {
        const uint32_t sw = s.width(), sh = s.height(), dw = d.width(), dh = d.height();
        const uint32_t xstep = sw * 65536u / dw, ystep = sh * 65536u / dh;
        for (uint32_t j = 0; j < dh; ++j) {
            const uint32_t sy = j * ystep, iy = sy >> 16, fy = sy & 0xFFFF;
            const uint32_t iy1 = iy < sh - 1 ? iy + 1 : iy, wy0 = 0xFFFF - fy, wy1 = fy;
            for (uint32_t i = 0; i < dw; ++i) {
                const uint32_t sx = i * xstep, ix = sx >> 16, fx = sx & 0xFFFF;
                const uint32_t ix1 = ix < sw - 1 ? ix + 1 : ix;
                const uint32_t ur = (wy0 * fx) >> 16, ul = wy0 - ur, lr = (wy1 * fx) >> 16, ll = wy1 - lr;
                for (int k = 0; k < 3; ++k) {
                    auto at = [&](uint32_t x, uint32_t y) { return uint32_t(s.constScanLine(int(y))[3 * x + uint32_t(k)]); };
                    d.scanLine(int(j))[3 * i + uint32_t(k)] =
                        uint8_t((at(ix, iy) * ul + at(ix1, iy) * ur + at(ix, iy1) * ll + at(ix1, iy1) * lr) >> 16);
                }
            }
        }
    };
    uint32_t seed = 12345;
    for (const auto& [from, to] : std::vector<std::pair<QSize, QSize>>{
             {{704, 480}, {640, 480}}, {{7, 5}, {13, 9}}, {{10, 10}, {3, 4}}, {{5, 3}, {5, 3}},
             // Heights kept (only the upper row counts) while columns reach the last one.
             {{3, 4}, {7, 4}}, {{2, 2}, {5, 2}}, {{1, 3}, {4, 3}}, {{40, 6}, {37, 6}}, {{9, 2}, {25, 1}}}) {
        QImage source(from, QImage::Format_RGB888);
        for (int y = 0; y < source.height(); ++y)
            for (int x = 0; x < source.width() * 3; ++x)
                source.scanLine(y)[x] = uint8_t((seed = seed * 1103515245u + 12345u) >> 24);
        QImage want(to, QImage::Format_RGB888);
        reference(source, want);
        BothKernels([&] {
            QImage got(to, QImage::Format_RGB888);
            ResampleBitmap(source, got);
            EXPECT_EQ(got, want) << from.width() << "x" << from.height() << " to " << to.width() << "x"
                                 << to.height();
        });
    }
}

// The exporter's one step from the stored image to the resized picture gives what the two
// steps give, on noise (many pixels near a rounding boundary) and on smooth ramps, for the
// 640 x 480 export, for widths whose columns are far apart or near, and for a height that
// mixes rows.
TEST(PixelDecode, UyvyStraightToTheResizedPictureMatchesBothSteps) {
    QByteArray noise(UyvyImageBytes, '\0'), ramp(UyvyImageBytes, '\0');
    uint32_t seed = 99;
    for (int i = 0; i < UyvyImageBytes; ++i) {
        noise[i] = char((seed = seed * 1103515245u + 12345u) >> 24);
        ramp[i] = char((i % UyvyLineBytes) / 6 + (i / UyvyLineBytes) / 3);
    }
    for (const QByteArray* image : {&noise, &ramp}) {
        for (const QSize size : {QSize(640, 480), QSize(704, 480), QSize(1001, 480), QSize(90, 480), QSize(320, 240)}) {
            BothKernels([&] {
                QImage decoded(UyvyWidth, UyvyHeight, QImage::Format_RGB888);
                const char* next = image->constData();
                const UyvyLineReader line = [&](uint8_t* out) {
                    std::memcpy(out, next, UyvyLineBytes);
                    next += UyvyLineBytes;
                    return true;
                };
                ASSERT_TRUE(ReadUyuvField(line, 0, decoded));
                ASSERT_TRUE(ReadUyuvField(line, 1, decoded));
                QImage want(size, QImage::Format_RGB888), got(size, QImage::Format_RGB888);
                ResampleBitmap(decoded, want);
                DecodeUyvyResampled(reinterpret_cast<const uint8_t*>(image->constData()), got);
                EXPECT_EQ(got, want) << (image == &noise ? "noise " : "ramp ") << size.width() << "x" << size.height();
            });
        }
    }
}
