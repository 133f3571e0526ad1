#include "device/PixelDecode.h"

#include "device/ByteView.h"
#include "device/ThumbFormat.h"

#include <bit>
#include <cstring>

namespace device {
namespace {

// Adding and removing 1.5 * 2^52 rounds a double to an integer, half to even, in the
// default rounding mode; far cheaper than nearbyint, which is a library call here.
inline double RoundHalfEven(double v) {
    constexpr double magic = 6755399441055744.0;
    volatile double t = v + magic; // keep the compiler from folding the pair away
    return t - magic;
}

// One colour channel of a bit-field pixel: where its bits sit and how they widen to 8 bits.
struct Channel {
    uint32_t Mask = 0;
    int Shift = 0;
    uint8_t Wide[256]{}; // value of the field (top 8 bits of it when wider) to a byte

    explicit Channel(uint32_t mask) : Mask(mask & 0xFFFF) {
        if (Mask == 0)
            return;
        Shift = std::countr_zero(Mask);
        int bits = std::popcount(Mask >> Shift);
        if (bits > 8) {
            Shift += bits - 8;
            bits = 8;
        }
        const uint32_t limit = 1u << bits;
        for (uint32_t v = 0; v < limit; ++v) {
            // Replicate the high bits into the low ones, so that full scale is 255.
            uint32_t out = 0;
            for (int pos = 8 - bits; pos > -bits; pos -= bits)
                out |= pos >= 0 ? v << pos : v >> -pos;
            Wide[v] = uint8_t(out);
        }
        FieldMask = limit - 1;
    }
    uint8_t operator()(uint32_t pixel) const { return Mask ? Wide[(pixel >> Shift) & FieldMask] : 0; }
    uint32_t FieldMask = 0;
};

inline void YuvToRgb(double y, double cb, double cr, double kGreenCb, double kBlueCb, uint8_t* out) {
    out[0] = ClampByte(1.164 * y + 1.596 * cr);
    out[1] = ClampByte(1.164 * y - kGreenCb * cb - 0.813 * cr);
    out[2] = ClampByte(1.164 * y + kBlueCb * cb);
}

} // namespace

uint8_t ClampByte(double value) {
    if (!(value > -0.5)) // NaN too
        return 0;
    if (value >= 255.0)
        return 255;
    return uint8_t(RoundHalfEven(value));
}

QImage DecodeBitfieldBitmap(const char* file, qint64 size) {
    const ByteView v(file, size);
    if (size < BitmapHeaderSize || v.U8(0) != 'B' || v.U8(1) != 'M' || v.U32(14) < 40 || v.U16(28) != 16 ||
        v.U32(30) != 3)
        return {};
    const int32_t width = v.I32(18);
    const int32_t rawHeight = v.I32(22);
    const bool topDown = rawHeight < 0;
    const qint64 height = topDown ? -qint64(rawHeight) : qint64(rawHeight);
    if (width <= 0 || height <= 0 || width > 16384 || height > 16384 || qint64(width) * height > MaxBitmapPixels)
        return {};
    const qint64 pixelOffset = v.U32(10);
    if (pixelOffset < BitmapHeaderSize || pixelOffset > size)
        return {};
    const Channel red(v.U32(54)), green(v.U32(58)), blue(v.U32(62));

    QImage image(width, int(height), QImage::Format_RGB888);
    if (image.isNull())
        return {};
    image.fill(Qt::black);
    const qint64 rowBytes = (qint64(width) * 2 + 3) & ~qint64(3);
    const uint8_t* pixels = reinterpret_cast<const uint8_t*>(file) + pixelOffset;
    const qint64 available = size - pixelOffset;
    for (qint64 r = 0; r < height; ++r) {
        const qint64 start = r * rowBytes;
        if (start >= available)
            break;
        const qint64 count = std::min<qint64>(width, (available - start) / 2);
        const uint8_t* src = pixels + start;
        uint8_t* dst = image.scanLine(int(topDown ? r : height - 1 - r));
        for (qint64 x = 0; x < count; ++x) {
            const uint32_t p = uint32_t(src[2 * x] | src[2 * x + 1] << 8);
            dst[3 * x] = red(p);
            dst[3 * x + 1] = green(p);
            dst[3 * x + 2] = blue(p);
        }
    }
    return image;
}

void SwapBytes16(uint8_t* data, qint64 count) {
    for (qint64 i = 0; i + 1 < count; i += 2)
        std::swap(data[i], data[i + 1]);
}

void DecodeUyvyLine(const uint8_t* b, uint8_t* rgbRow) {
    for (int x = 8; x < 712; x += 2) {
        // Each group of four bytes is Cb, Y (even column), Cr, Y (odd column).
        const uint8_t* g = b + 2 * x;
        const double cb = double(g[0]) - 128.0, cr = double(g[2]) - 128.0;
        uint8_t* out = rgbRow + 3 * (x - 8);
        YuvToRgb(double(g[1]) - 16.0, cb, cr, 0.392, 2.017, out);
        YuvToRgb(double(g[3]) - 16.0, cb, cr, 0.392, 2.017, out + 3);
    }
}

bool ReadUyuvField(const UyvyLineReader& read, int field, QImage& target) {
    uint8_t line[UyvyLineBytes];
    for (int l = 0; l < UyvyFieldLines; ++l) {
        if (!read(line))
            return false;
        const int row = 2 * l + field;
        if (row < target.height() && target.width() >= UyvyWidth)
            DecodeUyvyLine(line, target.scanLine(row));
    }
    return true;
}

void DecodePlanarYuv(const uint8_t* buffer, QImage& target) {
    if (target.width() < PlanarWidth || target.height() < PlanarHeight)
        return;
    const uint8_t* cbPlane = buffer + 345600;
    const uint8_t* crPlane = buffer + 432000;
    for (int y = 0; y < PlanarHeight; ++y) {
        const uint8_t* yRow = buffer + y * PlanarWidth;
        const uint8_t* cbRow = cbPlane + (y / 2) * 360;
        const uint8_t* crRow = crPlane + (y / 2) * 360;
        uint8_t* out = target.scanLine(y);
        for (int x = 0; x < PlanarWidth; ++x)
            YuvToRgb(double(yRow[x]) - 16.0, double(cbRow[x / 2]) - 128.0, double(crRow[x / 2]) - 128.0, 0.391,
                     2.018, out + 3 * x);
    }
}

void ResampleBitmap(const QImage& source, QImage& dest) {
    const uint32_t sw = uint32_t(source.width()), sh = uint32_t(source.height());
    const uint32_t dw = uint32_t(dest.width()), dh = uint32_t(dest.height());
    if (sw == 0 || sh == 0 || dw == 0 || dh == 0)
        return;
    const uint32_t xstep = sw * 65536u / dw;
    const uint32_t ystep = sh * 65536u / dh;
    uint32_t sy = 0;
    for (uint32_t j = 0; j < dh; ++j, sy += ystep) {
        const uint32_t iy = std::min(sy >> 16, sh - 1);
        const uint32_t fy = sy & 0xFFFF;
        const uint8_t* upper = source.constScanLine(int(iy));
        const uint8_t* lower = source.constScanLine(int(iy < sh - 1 ? iy + 1 : iy));
        const uint32_t wy0 = 0xFFFF - fy, wy1 = fy;
        uint8_t* out = dest.scanLine(int(j));
        uint32_t sx = 0;
        for (uint32_t i = 0; i < dw; ++i, sx += xstep) {
            const uint32_t ix = std::min(sx >> 16, sw - 1);
            const uint32_t fx = sx & 0xFFFF;
            const uint32_t ur = (wy0 * fx) >> 16, ul = wy0 - ur;
            const uint32_t lr = (wy1 * fx) >> 16, ll = wy1 - lr;
            const uint32_t left = 3 * ix, right = 3 * (ix < sw - 1 ? ix + 1 : ix);
            for (int c = 0; c < 3; ++c)
                out[3 * i + uint32_t(c)] = uint8_t((upper[left + uint32_t(c)] * ul + upper[right + uint32_t(c)] * ur +
                                                    lower[left + uint32_t(c)] * ll + lower[right + uint32_t(c)] * lr) >>
                                                   16);
        }
    }
}

} // namespace device
