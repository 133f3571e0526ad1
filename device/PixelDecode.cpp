#include "device/PixelDecode.h"

#include "device/ByteView.h"
#include "device/ThumbFormat.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

namespace device {
namespace {

// One colour channel of a bit-field pixel: where its bits sit and how they widen to 8 bits.
struct Channel {
    uint32_t Mask = 0;
    int Shift = 0;
    int Bits = 0;
    uint32_t FieldMask = 0;
    uint8_t Wide[256]{}; // value of the field (its top 8 bits when wider) to a byte

    explicit Channel(uint32_t mask) : Mask(mask & 0xFFFF) {
        if (Mask == 0)
            return;
        Shift = std::countr_zero(Mask);
        Bits = std::popcount(Mask >> Shift);
        if (Bits > 8) {
            Shift += Bits - 8;
            Bits = 8;
        }
        const uint32_t limit = 1u << Bits;
        for (uint32_t v = 0; v < limit; ++v) {
            // Replicate the high bits into the low ones, so that full scale is 255.
            uint32_t out = 0;
            for (int pos = 8 - Bits; pos > -Bits; pos -= Bits)
                out |= pos >= 0 ? v << pos : v >> -pos;
            Wide[v] = uint8_t(out);
        }
        FieldMask = limit - 1;
    }
    // Contiguous fields of 4 to 8 bits widen with two shifts, which the compiler vectorises.
    bool Simple() const { return Mask && Bits >= 4 && (Mask >> Shift) == FieldMask; }
};

// The double-precision formulas of the two YUV layouts (each with its own green and blue
// constants), used where the fixed-point rows below cannot be trusted.
struct YuvExact {
    double KGreenCb, KBlueCb;

    uint8_t Red(int y, int cr) const { return ClampByte(1.164 * (y - 16.0) + 1.596 * (cr - 128.0)); }
    uint8_t Green(int y, int cb, int cr) const {
        return ClampByte(1.164 * (y - 16.0) - KGreenCb * (cb - 128.0) - 0.813 * (cr - 128.0));
    }
    uint8_t Blue(int y, int cb) const { return ClampByte(1.164 * (y - 16.0) + KBlueCb * (cb - 128.0)); }
};

constexpr YuvExact kUyvyExact{0.392, 2.017};
constexpr YuvExact kPlanarExact{0.391, 2.018};

// The bulk of a row in 2^-20 fixed point, written so that the compiler can vectorise it (and,
// with GCC on x86-64, build an AVX2 variant chosen at run time). The constants err by at most
// half a unit each, so a channel within kMargin units of a rounding boundary is flagged and
// recomputed exactly; everything else equals the double-precision result.
struct FixedYuv {
    int32_t Y, R, Gb, Gr, B;
};
constexpr int32_t kOne20 = 1 << 20;
constexpr int32_t kMargin20 = 256;

constexpr FixedYuv kUyvyFixed{1220542, 1673527, 411042, 852492, 2114978};
constexpr FixedYuv kPlanarFixed{1220542, 1673527, 409993, 852492, 2116026};

// The clones' resolvers run before ThreadSanitizer is set up, so a TSan build goes without them.
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) && !defined(__SANITIZE_THREAD__)
#define MG_VECTOR_CLONES __attribute__((target_clones("avx2", "default"), optimize("O3", "vect-cost-model=dynamic")))
#else
#define MG_VECTOR_CLONES
#endif

inline int32_t NearTie(int32_t v) {
    const int32_t frac = v & (kOne20 - 1);
    return int32_t(frac < kMargin20) | int32_t(frac >= kOne20 - kMargin20);
}

inline uint8_t ToByte(int32_t v) {
    const int32_t n = v >> 20;
    return uint8_t(n < 0 ? 0 : n > 255 ? 255 : n);
}

// `n` pixels whose luma, Cb and Cr are given per pixel; planar bytes out. True when some
// channel needs the exact computation.
MG_VECTOR_CLONES
bool FixedYuvRow(const uint8_t* __restrict ys, const uint8_t* __restrict cbs, const uint8_t* __restrict crs, int n,
                 FixedYuv k, uint8_t* __restrict r, uint8_t* __restrict g, uint8_t* __restrict b) {
    int32_t ties = 0;
    for (int i = 0; i < n; ++i) {
        const int32_t y = k.Y * (int32_t(ys[i]) - 16) + kOne20 / 2;
        const int32_t cb = int32_t(cbs[i]) - 128, cr = int32_t(crs[i]) - 128;
        const int32_t vr = y + k.R * cr;
        const int32_t vg = y - k.Gb * cb - k.Gr * cr;
        const int32_t vb = y + k.B * cb;
        ties |= NearTie(vr) | NearTie(vg) | NearTie(vb);
        r[i] = ToByte(vr);
        g[i] = ToByte(vg);
        b[i] = ToByte(vb);
    }
    return ties != 0;
}

MG_VECTOR_CLONES
void Interleave(const uint8_t* __restrict r, const uint8_t* __restrict g, const uint8_t* __restrict b, int n,
                uint8_t* __restrict out) {
    for (int i = 0; i < n; ++i) {
        out[3 * i] = r[i];
        out[3 * i + 1] = g[i];
        out[3 * i + 2] = b[i];
    }
}

// Finishes a row: interleaves the planar bytes and recomputes flagged channels exactly.
void FinishYuvRow(const uint8_t* ys, const uint8_t* cbs, const uint8_t* crs, int n, FixedYuv k, const YuvExact& t,
                  bool ties, const uint8_t* r, const uint8_t* g, const uint8_t* b, uint8_t* out) {
    Interleave(r, g, b, n, out);
    if (!ties)
        return;
    for (int i = 0; i < n; ++i) {
        const int32_t y = k.Y * (int32_t(ys[i]) - 16) + kOne20 / 2;
        const int32_t cb = int32_t(cbs[i]) - 128, cr = int32_t(crs[i]) - 128;
        if (NearTie(y + k.R * cr))
            out[3 * i] = t.Red(ys[i], crs[i]);
        if (NearTie(y - k.Gb * cb - k.Gr * cr))
            out[3 * i + 1] = t.Green(ys[i], cbs[i], crs[i]);
        if (NearTie(y + k.B * cb))
            out[3 * i + 2] = t.Blue(ys[i], cbs[i]);
    }
}


// One row of the resize where only the upper source row has weight: per output pixel, the
// byte where its left neighbour starts (the right one follows three bytes on) and the two
// weights. `safe` pixels may load eight bytes from there without leaving the row.
void ResampleRow(const uint8_t* src, const uint32_t* leftByte, const uint32_t* weightLeft, const uint32_t* weightRight,
                 int pixels, int safe, uint8_t* out) {
    for (int i = 0; i < pixels; ++i, out += 3) {
        const uint8_t* p = src + leftByte[i];
        const uint32_t wl = weightLeft[i], wr = weightRight[i];
        if (i < safe && std::endian::native == std::endian::little) {
            uint64_t v;
            std::memcpy(&v, p, 8);
            out[0] = uint8_t((uint32_t(v & 0xFF) * wl + uint32_t((v >> 24) & 0xFF) * wr) >> 16);
            out[1] = uint8_t((uint32_t((v >> 8) & 0xFF) * wl + uint32_t((v >> 32) & 0xFF) * wr) >> 16);
            out[2] = uint8_t((uint32_t((v >> 16) & 0xFF) * wl + uint32_t((v >> 40) & 0xFF) * wr) >> 16);
        } else {
            for (int k = 0; k < 3; ++k)
                out[k] = uint8_t((p[k] * wl + p[k + 3] * wr) >> 16);
        }
    }
}

// One row of 16-bit pixels whose three fields are 4 to 8 bits wide, into xRGB words.
MG_VECTOR_CLONES
void SimpleBitfieldRow(const uint8_t* __restrict src, int count, int rs, int gs, int bs, uint32_t rm, uint32_t gm,
                       uint32_t bm, int rb, int gb, int bb, uint32_t* __restrict dst) {
    for (int x = 0; x < count; ++x) {
        const uint32_t p = uint32_t(src[2 * x]) | uint32_t(src[2 * x + 1]) << 8;
        const uint32_t rv = (p >> rs) & rm, gv = (p >> gs) & gm, bv = (p >> bs) & bm;
        const uint32_t r8 = (rv << (8 - rb)) | (rv >> (2 * rb - 8));
        const uint32_t g8 = (gv << (8 - gb)) | (gv >> (2 * gb - 8));
        const uint32_t b8 = (bv << (8 - bb)) | (bv >> (2 * bb - 8));
        dst[x] = 0xFF000000u | r8 << 16 | g8 << 8 | b8;
    }
}

} // namespace

uint8_t ClampByte(double value) {
    if (!(value > -0.5)) // NaN too
        return 0;
    if (value >= 255.0)
        return 255;
    // nearbyint rounds half to even in the default rounding mode.
    return uint8_t(std::nearbyint(value));
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
    const bool simple = red.Simple() && green.Simple() && blue.Simple();

    QImage image(width, int(height), QImage::Format_RGB32);
    if (image.isNull())
        return {};
    const qint64 rowBytes = (qint64(width) * 2 + 3) & ~qint64(3);
    const uint8_t* pixels = reinterpret_cast<const uint8_t*>(file) + pixelOffset;
    const qint64 available = size - pixelOffset;
    for (qint64 r = 0; r < height; ++r) {
        uint32_t* dst = reinterpret_cast<uint32_t*>(image.scanLine(int(topDown ? r : height - 1 - r)));
        const qint64 start = r * rowBytes;
        const qint64 count = start >= available ? 0 : std::min<qint64>(width, (available - start) / 2);
        const uint8_t* src = pixels + start;
        if (simple) {
            SimpleBitfieldRow(src, int(count), red.Shift, green.Shift, blue.Shift, red.FieldMask, green.FieldMask,
                              blue.FieldMask, red.Bits, green.Bits, blue.Bits, dst);
        } else {
            for (qint64 x = 0; x < count; ++x) {
                const uint32_t p = uint32_t(src[2 * x]) | uint32_t(src[2 * x + 1]) << 8;
                const uint32_t r8 = red.Mask ? red.Wide[(p >> red.Shift) & red.FieldMask] : 0;
                const uint32_t g8 = green.Mask ? green.Wide[(p >> green.Shift) & green.FieldMask] : 0;
                const uint32_t b8 = blue.Mask ? blue.Wide[(p >> blue.Shift) & blue.FieldMask] : 0;
                dst[x] = 0xFF000000u | r8 << 16 | g8 << 8 | b8;
            }
        }
        // Pixels that the data does not hold are black.
        for (qint64 x = count; x < width; ++x)
            dst[x] = 0xFF000000u;
    }
    return image;
}

void SwapBytes16(uint8_t* data, qint64 count) {
    for (qint64 i = 0; i + 1 < count; i += 2)
        std::swap(data[i], data[i + 1]);
}

void DecodeUyvyLine(const uint8_t* b, uint8_t* rgbRow) {
    // Each group of four bytes is Cb, Y (even column), Cr, Y (odd column); columns 8 to 711.
    uint8_t ys[UyvyWidth], cbs[UyvyWidth], crs[UyvyWidth], r[UyvyWidth], g[UyvyWidth], bl[UyvyWidth];
    const uint8_t* groups = b + 16;
    for (int p = 0; p < UyvyWidth / 2; ++p) {
        const uint8_t* q = groups + 4 * p;
        cbs[2 * p] = cbs[2 * p + 1] = q[0];
        ys[2 * p] = q[1];
        crs[2 * p] = crs[2 * p + 1] = q[2];
        ys[2 * p + 1] = q[3];
    }
    const bool ties = FixedYuvRow(ys, cbs, crs, UyvyWidth, kUyvyFixed, r, g, bl);
    FinishYuvRow(ys, cbs, crs, UyvyWidth, kUyvyFixed, kUyvyExact, ties, r, g, bl, rgbRow);
}

bool ReadUyuvField(const UyvyLineReader& read, int field, QImage& target) {
    uint8_t line[UyvyLineBytes];
    for (int l = 0; l < UyvyFieldLines; ++l) {
        if (!read(line))
            return false;
        const int row = 2 * l + field;
        if (row < target.height() && target.width() >= UyvyWidth && target.depth() == 24)
            DecodeUyvyLine(line, target.scanLine(row));
    }
    return true;
}

void DecodePlanarYuv(const uint8_t* buffer, QImage& target) {
    if (target.width() < PlanarWidth || target.height() < PlanarHeight || target.depth() != 24)
        return;
    const uint8_t* cbPlane = buffer + 345600;
    const uint8_t* crPlane = buffer + 432000;
    uint8_t cbs[PlanarWidth], crs[PlanarWidth], r[PlanarWidth], g[PlanarWidth], bl[PlanarWidth];
    for (int y = 0; y < PlanarHeight; ++y) {
        const uint8_t* yRow = buffer + y * PlanarWidth;
        const uint8_t* cbRow = cbPlane + (y / 2) * 360;
        const uint8_t* crRow = crPlane + (y / 2) * 360;
        for (int x = 0; x < PlanarWidth; ++x) {
            cbs[x] = cbRow[x / 2];
            crs[x] = crRow[x / 2];
        }
        const bool ties = FixedYuvRow(yRow, cbs, crs, PlanarWidth, kPlanarFixed, r, g, bl);
        FinishYuvRow(yRow, cbs, crs, PlanarWidth, kPlanarFixed, kPlanarExact, ties, r, g, bl, target.scanLine(y));
    }
}

void ResampleBitmap(const QImage& source, QImage& dest) {
    const uint32_t sw = uint32_t(source.width()), sh = uint32_t(source.height());
    const uint32_t dw = uint32_t(dest.width()), dh = uint32_t(dest.height());
    if (sw == 0 || sh == 0 || dw == 0 || dh == 0 || source.depth() != 24 || dest.depth() != 24)
        return;
    const uint32_t xstep = sw * 65536u / dw;
    const uint32_t ystep = sh * 65536u / dh;
    // The column positions and fractions are the same for every row.
    std::vector<uint32_t> left(dw), right(dw), fx(dw), upperRight(dw), upperLeft(dw);
    uint32_t sx = 0;
    for (uint32_t i = 0; i < dw; ++i, sx += xstep) {
        const uint32_t ix = std::min(sx >> 16, sw - 1);
        left[i] = 3 * ix;
        right[i] = 3 * (ix < sw - 1 ? ix + 1 : ix);
        fx[i] = sx & 0xFFFF;
    }
    // Per output pixel for rows where only the upper row counts. At the last source column,
    // which has no right neighbour, the reads start one pixel earlier with all the weight on
    // the right.
    std::vector<uint32_t> pixelLeft, pixelWeightLeft(dw), pixelWeightRight(dw);
    int safe = 0;
    if (sw >= 2) {
        pixelLeft.resize(dw);
        for (uint32_t i = 0; i < dw; ++i) {
            pixelLeft[i] = right[i] == left[i] ? left[i] - 3 : left[i];
            if (pixelLeft[i] + 8 <= 3 * sw)
                safe = int(i) + 1;
        }
    }
    uint32_t pixelWeightsFor = 0x10000;
    uint32_t sy = 0;
    uint32_t weightsFor = 0x10000; // the row weight the column weights were made for
    for (uint32_t j = 0; j < dh; ++j, sy += ystep) {
        const uint32_t iy = std::min(sy >> 16, sh - 1);
        const uint32_t fy = sy & 0xFFFF;
        const uint8_t* upper = source.constScanLine(int(iy));
        const uint8_t* lower = source.constScanLine(int(iy < sh - 1 ? iy + 1 : iy));
        const uint32_t wy0 = 0xFFFF - fy, wy1 = fy;
        uint8_t* out = dest.scanLine(int(j));
        if (weightsFor != wy0) {
            for (uint32_t i = 0; i < dw; ++i) {
                upperRight[i] = (wy0 * fx[i]) >> 16;
                upperLeft[i] = wy0 - upperRight[i];
            }
            weightsFor = wy0;
        }
        if (wy1 == 0 && !pixelLeft.empty()) {
            // The lower row has no weight (every row of the 480-to-480 resize).
            if (pixelWeightsFor != wy0) {
                for (uint32_t i = 0; i < dw; ++i) {
                    const bool last = right[i] == left[i];
                    pixelWeightLeft[i] = last ? 0 : upperLeft[i];
                    pixelWeightRight[i] = last ? upperLeft[i] + upperRight[i] : upperRight[i];
                }
                pixelWeightsFor = wy0;
            }
            ResampleRow(upper, pixelLeft.data(), pixelWeightLeft.data(), pixelWeightRight.data(), int(dw), safe, out);
            continue;
        }
        for (uint32_t i = 0; i < dw; ++i) {
            const uint32_t ul = upperLeft[i], ur = upperRight[i];
            const uint32_t lr = (wy1 * fx[i]) >> 16, ll = wy1 - lr;
            for (uint32_t k = 0; k < 3; ++k)
                out[3 * i + k] = uint8_t((upper[left[i] + k] * ul + upper[right[i] + k] * ur + lower[left[i] + k] * ll +
                                          lower[right[i] + k] * lr) >>
                                         16);
        }
    }
}

} // namespace device
