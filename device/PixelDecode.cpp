#include "device/PixelDecode.h"

#include "device/ByteView.h"
#include "device/ThumbFormat.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <vector>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

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
// with GCC on x86-64, build AVX2 and AVX-512 variants chosen at run time). The constants err
// by at most half a unit each, so a pixel with a channel within kMargin units of a rounding
// boundary is marked and recomputed exactly; everything else equals the double-precision result.
struct FixedYuv {
    int32_t Y, R, Gb, Gr, B;
};
constexpr int32_t kOne20 = 1 << 20;
constexpr int32_t kMargin20 = 256;

constexpr FixedYuv kUyvyFixed{1220542, 1673527, 411042, 852492, 2114978};
constexpr FixedYuv kPlanarFixed{1220542, 1673527, 409993, 852492, 2116026};

// The clones' resolvers run before ThreadSanitizer is set up, so a TSan build goes without them.
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) && !defined(__SANITIZE_THREAD__)
#define MG_VECTOR_CLONES __attribute__((target_clones("arch=x86-64-v4", "avx2", "default"), optimize("O3", "vect-cost-model=dynamic")))
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

// One pixel in fixed point: planar bytes out, and whether a channel lies near a rounding
// boundary (then the pixel is recomputed exactly).
inline int32_t FixedPixel(int32_t y, int32_t chromaR, int32_t chromaG, int32_t chromaB, uint8_t& r, uint8_t& g,
                          uint8_t& b) {
    const int32_t vr = y + chromaR, vg = y + chromaG, vb = y + chromaB;
    r = ToByte(vr);
    g = ToByte(vg);
    b = ToByte(vb);
    return NearTie(vr) | NearTie(vg) | NearTie(vb);
}

// `n` pixels whose luma, Cb and Cr are given per pixel. `near[i]` marks the pixels to recompute;
// true when there is one.
MG_VECTOR_CLONES
bool FixedYuvRow(const uint8_t* __restrict ys, const uint8_t* __restrict cbs, const uint8_t* __restrict crs, int n,
                 FixedYuv k, uint8_t* __restrict r, uint8_t* __restrict g, uint8_t* __restrict b,
                 uint8_t* __restrict near) {
    int32_t any = 0;
    for (int i = 0; i < n; ++i) {
        const int32_t cb = int32_t(cbs[i]) - 128, cr = int32_t(crs[i]) - 128;
        const int32_t t = FixedPixel(k.Y * (int32_t(ys[i]) - 16) + kOne20 / 2, k.R * cr, -k.Gb * cb - k.Gr * cr,
                                     k.B * cb, r[i], g[i], b[i]);
        near[i] = uint8_t(t);
        any |= t;
    }
    return any != 0;
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

// Recomputes exactly the marked pixels of an interleaved row: `exact(i, out + 3 * i)`. The
// marks are scanned eight at a time, as most are clear.
template <class Exact>
void FixNearPixels(const uint8_t* near, int n, uint8_t* out, const Exact& exact) {
    int i = 0;
    for (; i + 8 <= n; i += 8) {
        uint64_t word;
        std::memcpy(&word, near + i, 8);
        if (word == 0)
            continue;
        for (int k = i; k < i + 8; ++k)
            if (near[k])
                exact(k, out + 3 * k);
    }
    for (; i < n; ++i)
        if (near[i])
            exact(i, out + 3 * i);
}


// The resize works on neighbour pairs: for one channel of one source row, word x holds the
// byte of column x in its low half and that of its right neighbour (x + 1, or x itself at the
// last column) in its high half. One load then fetches both pixels that a dest column mixes,
// and the loops below run over plain arrays, which the compiler vectorises.
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define MG_SSSE3_SPLIT 1
// Splits 16 pixels at a time (48 bytes) into their three channels; returns how many it did.
__attribute__((target("ssse3"))) uint32_t SplitPlanesSsse3(const uint8_t* row, uint32_t width, uint8_t* c0,
                                                              uint8_t* c1, uint8_t* c2) {
    const __m128i a0 = _mm_setr_epi8(0, 3, 6, 9, 12, 15, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
    const __m128i a1 = _mm_setr_epi8(-1, -1, -1, -1, -1, -1, 2, 5, 8, 11, 14, -1, -1, -1, -1, -1);
    const __m128i a2 = _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 1, 4, 7, 10, 13);
    const __m128i b0 = _mm_setr_epi8(1, 4, 7, 10, 13, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
    const __m128i b1 = _mm_setr_epi8(-1, -1, -1, -1, -1, 0, 3, 6, 9, 12, 15, -1, -1, -1, -1, -1);
    const __m128i b2 = _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 2, 5, 8, 11, 14);
    const __m128i d0 = _mm_setr_epi8(2, 5, 8, 11, 14, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
    const __m128i d1 = _mm_setr_epi8(-1, -1, -1, -1, -1, 1, 4, 7, 10, 13, -1, -1, -1, -1, -1, -1);
    const __m128i d2 = _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 0, 3, 6, 9, 12, 15);
    uint32_t x = 0;
    for (; x + 16 <= width; x += 16) {
        const uint8_t* p = row + 3 * x;
        const __m128i v0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i v1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
        const __m128i v2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 32));
#define MG_JOIN(m0, m1, m2)                                                                                      \
    _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(v0, m0), _mm_shuffle_epi8(v1, m1)), _mm_shuffle_epi8(v2, m2))
        _mm_storeu_si128(reinterpret_cast<__m128i*>(c0 + x), MG_JOIN(a0, a1, a2));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(c1 + x), MG_JOIN(b0, b1, b2));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(c2 + x), MG_JOIN(d0, d1, d2));
#undef MG_JOIN
    }
    return x;
}
#endif

// The three channels of a row of 24-bit pixels, each as plain bytes.
void SplitPlanes(const uint8_t* row, uint32_t width, uint8_t* c0, uint8_t* c1, uint8_t* c2) {
    uint32_t x = 0;
#ifdef MG_SSSE3_SPLIT
    static const bool ssse3 = __builtin_cpu_supports("ssse3");
    if (ssse3)
        x = SplitPlanesSsse3(row, width, c0, c1, c2);
#endif
    for (; x < width; ++x) {
        c0[x] = row[3 * x];
        c1[x] = row[3 * x + 1];
        c2[x] = row[3 * x + 2];
    }
}

MG_VECTOR_CLONES
void MakePairs(const uint8_t* __restrict plane, uint32_t width, uint32_t* __restrict pairs) {
    for (uint32_t x = 0; x + 1 < width; ++x)
        pairs[x] = uint32_t(plane[x]) | uint32_t(plane[x + 1]) << 16;
    pairs[width - 1] = uint32_t(plane[width - 1]) * 0x10001u;
}

// Neighbour pairs of the three channels of one source row.
void SplitPairs(const uint8_t* row, uint32_t width, std::vector<uint8_t>& planes, uint32_t* const pairs[3]) {
    planes.resize(size_t(width) * 3);
    uint8_t* const c[3] = {planes.data(), planes.data() + width, planes.data() + 2 * size_t(width)};
    SplitPlanes(row, width, c[0], c[1], c[2]);
    for (int k = 0; k < 3; ++k)
        MakePairs(c[k], width, pairs[k]);
}

// A dest row from the upper row only, straight from the 24-bit source row: the eight bytes at
// `at[i]` hold the left pixel and, three bytes on, the right one. Only for the dest columns whose
// eight bytes lie inside the row, on a little-endian machine.
MG_VECTOR_CLONES
void MixRow(const uint8_t* __restrict row, const uint32_t* __restrict at, const uint32_t* __restrict left,
            const uint32_t* __restrict right, uint32_t n, uint8_t* __restrict c0, uint8_t* __restrict c1,
            uint8_t* __restrict c2) {
    for (uint32_t i = 0; i < n; ++i) {
        uint64_t w;
        std::memcpy(&w, row + at[i], 8);
        const uint32_t lo = uint32_t(w), hi = uint32_t(w >> 32);
        c0[i] = uint8_t(((lo & 0xFF) * left[i] + (lo >> 24) * right[i]) >> 16);
        c1[i] = uint8_t((((lo >> 8) & 0xFF) * left[i] + (hi & 0xFF) * right[i]) >> 16);
        c2[i] = uint8_t((((lo >> 16) & 0xFF) * left[i] + ((hi >> 8) & 0xFF) * right[i]) >> 16);
    }
}

// One channel of a dest row from both rows, with the four weights of the rule.
MG_VECTOR_CLONES
void MixPairs2(const uint32_t* __restrict upper, const uint32_t* __restrict lower, const uint32_t* __restrict column,
               const uint32_t* __restrict upperLeft, const uint32_t* __restrict upperRight,
               const uint32_t* __restrict lowerLeft, const uint32_t* __restrict lowerRight, uint32_t n,
               uint8_t* __restrict out) {
    for (uint32_t i = 0; i < n; ++i) {
        const uint32_t u = upper[column[i]], l = lower[column[i]];
        out[i] = uint8_t(((u & 0xFFFF) * upperLeft[i] + (u >> 16) * upperRight[i] + (l & 0xFFFF) * lowerLeft[i] +
                          (l >> 16) * lowerRight[i]) >>
                         16);
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
    uint8_t ys[UyvyWidth], cbs[UyvyWidth], crs[UyvyWidth], r[UyvyWidth], g[UyvyWidth], bl[UyvyWidth], near[UyvyWidth];
    const uint8_t* groups = b + 16;
    for (int p = 0; p < UyvyWidth / 2; ++p) {
        const uint8_t* q = groups + 4 * p;
        cbs[2 * p] = cbs[2 * p + 1] = q[0];
        ys[2 * p] = q[1];
        crs[2 * p] = crs[2 * p + 1] = q[2];
        ys[2 * p + 1] = q[3];
    }
    const bool any = FixedYuvRow(ys, cbs, crs, UyvyWidth, kUyvyFixed, r, g, bl, near);
    Interleave(r, g, bl, UyvyWidth, rgbRow);
    if (any) {
        FixNearPixels(near, UyvyWidth, rgbRow, [&](int i, uint8_t* px) {
            px[0] = kUyvyExact.Red(ys[i], crs[i]);
            px[1] = kUyvyExact.Green(ys[i], cbs[i], crs[i]);
            px[2] = kUyvyExact.Blue(ys[i], cbs[i]);
        });
    }
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
    uint8_t cbs[PlanarWidth], crs[PlanarWidth], r[PlanarWidth], g[PlanarWidth], bl[PlanarWidth], near[PlanarWidth];
    for (int y = 0; y < PlanarHeight; ++y) {
        const uint8_t* yRow = buffer + y * PlanarWidth;
        const uint8_t* cbRow = cbPlane + (y / 2) * 360;
        const uint8_t* crRow = crPlane + (y / 2) * 360;
        for (int x = 0; x < PlanarWidth; ++x) {
            cbs[x] = cbRow[x / 2];
            crs[x] = crRow[x / 2];
        }
        uint8_t* out = target.scanLine(y);
        const bool any = FixedYuvRow(yRow, cbs, crs, PlanarWidth, kPlanarFixed, r, g, bl, near);
        Interleave(r, g, bl, PlanarWidth, out);
        if (any) {
            FixNearPixels(near, PlanarWidth, out, [&](int i, uint8_t* px) {
                px[0] = kPlanarExact.Red(yRow[i], crs[i]);
                px[1] = kPlanarExact.Green(yRow[i], cbs[i], crs[i]);
                px[2] = kPlanarExact.Blue(yRow[i], cbs[i]);
            });
        }
    }
}

void ResampleBitmap(const QImage& source, QImage& dest) {
    const uint32_t sw = uint32_t(source.width()), sh = uint32_t(source.height());
    const uint32_t dw = uint32_t(dest.width()), dh = uint32_t(dest.height());
    if (sw == 0 || sh == 0 || dw == 0 || dh == 0 || source.depth() != 24 || dest.depth() != 24)
        return;
    const uint32_t xstep = sw * 65536u / dw;
    const uint32_t ystep = sh * 65536u / dh;
    // The source column and fraction of every dest column are the same for every row.
    std::vector<uint32_t> column(dw), fx(dw);
    uint32_t sx = 0;
    for (uint32_t i = 0; i < dw; ++i, sx += xstep) {
        column[i] = std::min(sx >> 16, sw - 1);
        fx[i] = sx & 0xFFFF;
    }
    // Column weights for the row weights in use, remade only when those change.
    std::vector<uint32_t> upperLeft(dw), upperRight(dw), lowerLeft(dw), lowerRight(dw);
    uint32_t weightsFor = 0x10000;
    // Rows with weight on the upper row only read the source row's bytes directly, from where
    // the left pixel of each dest column starts. The columns are in rising order, so those whose
    // eight bytes lie inside the row come first; the last ones (never the last source column)
    // are mixed byte by byte.
    std::vector<uint32_t> at(dw);
    uint32_t direct = 0;
    if (std::endian::native == std::endian::little) {
        for (uint32_t i = 0; i < dw; ++i) {
            at[i] = 3 * column[i];
            if (at[i] + 8 <= 3 * sw)
                direct = i + 1;
        }
    }
    // Neighbour pairs of the two source rows in use, per channel, for the other rows.
    std::vector<uint32_t> pairs(size_t(sw) * 6);
    uint32_t* const upperPairs[3] = {pairs.data(), pairs.data() + sw, pairs.data() + 2 * sw};
    uint32_t* const lowerPairs[3] = {pairs.data() + 3 * sw, pairs.data() + 4 * sw, pairs.data() + 5 * sw};
    uint32_t upperRow = sh, lowerRow = sh; // the source rows the pairs hold
    std::vector<uint8_t> sourcePlanes, planes(size_t(dw) * 3);
    uint8_t* const channel[3] = {planes.data(), planes.data() + dw, planes.data() + 2 * dw};

    uint32_t sy = 0;
    for (uint32_t j = 0; j < dh; ++j, sy += ystep) {
        const uint32_t iy = std::min(sy >> 16, sh - 1);
        const uint32_t fy = sy & 0xFFFF;
        const uint32_t wy0 = 0xFFFF - fy, wy1 = fy;
        if (weightsFor != fy) {
            for (uint32_t i = 0; i < dw; ++i) {
                upperRight[i] = (wy0 * fx[i]) >> 16;
                upperLeft[i] = wy0 - upperRight[i];
                lowerRight[i] = (wy1 * fx[i]) >> 16;
                lowerLeft[i] = wy1 - lowerRight[i];
            }
            weightsFor = fy;
        }
        if (wy1 == 0) {
            // The lower row has no weight (every row of the 480-to-480 resize).
            const uint8_t* row = source.constScanLine(int(iy));
            MixRow(row, at.data(), upperLeft.data(), upperRight.data(), direct, channel[0], channel[1], channel[2]);
            for (uint32_t i = direct; i < dw; ++i) {
                const uint32_t left = 3 * column[i], right = 3 * (column[i] < sw - 1 ? column[i] + 1 : column[i]);
                for (int c = 0; c < 3; ++c)
                    channel[c][i] = uint8_t((row[left + c] * upperLeft[i] + row[right + c] * upperRight[i]) >> 16);
            }
        } else {
            const uint32_t below = iy < sh - 1 ? iy + 1 : iy;
            if (upperRow != iy) {
                SplitPairs(source.constScanLine(int(iy)), sw, sourcePlanes, upperPairs);
                upperRow = iy;
            }
            if (lowerRow != below) {
                SplitPairs(source.constScanLine(int(below)), sw, sourcePlanes, lowerPairs);
                lowerRow = below;
            }
            for (int c = 0; c < 3; ++c)
                MixPairs2(upperPairs[c], lowerPairs[c], column.data(), upperLeft.data(), upperRight.data(),
                          lowerLeft.data(), lowerRight.data(), dw, channel[c]);
        }
        Interleave(channel[0], channel[1], channel[2], int(dw), dest.scanLine(int(j)));
    }
}

} // namespace device
