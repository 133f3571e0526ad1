#include "device/PixelDecode.h"

#include "device/ByteView.h"
#include "device/ThumbFormat.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstring>
#include <optional>
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
#define MG_VECTOR_CLONES                                                                                               \
    __attribute__((target_clones("arch=x86-64-v4", "avx2", "default"), optimize("O3", "vect-cost-model=dynamic")))
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

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define MG_X86_KERNELS 1

std::atomic<bool> vectorKernels{true};

bool HasAvx2() {
    static const bool avx2 = __builtin_cpu_supports("avx2");
    return avx2 && vectorKernels.load(std::memory_order_relaxed);
}

// Shuffles that put 16 bytes of each of three planes into 48 interleaved bytes: chunk q takes
// from plane c the bytes listed in kInterleave[q][c] (0x80: none).
struct InterleaveMasks {
    alignas(16) uint8_t M[3][3][16];
    constexpr InterleaveMasks() : M{} {
        for (int q = 0; q < 3; ++q)
            for (int c = 0; c < 3; ++c)
                for (int p = 0; p < 16; ++p) {
                    const int n = 16 * q + p;
                    M[q][c][p] = uint8_t(n % 3 == c ? n / 3 : 0x80);
                }
    }
};
constexpr InterleaveMasks kInterleave;

__attribute__((target("ssse3"))) uint32_t InterleaveSsse3(const uint8_t* c0, const uint8_t* c1, const uint8_t* c2,
                                                          uint32_t n, uint8_t* out) {
    __m128i m[3][3];
    for (int q = 0; q < 3; ++q)
        for (int c = 0; c < 3; ++c)
            m[q][c] = _mm_load_si128(reinterpret_cast<const __m128i*>(kInterleave.M[q][c]));
    uint32_t x = 0;
    for (; x + 16 <= n; x += 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c0 + x));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c1 + x));
        const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c2 + x));
        for (int q = 0; q < 3; ++q) {
            const __m128i v = _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(a, m[q][0]), _mm_shuffle_epi8(b, m[q][1])),
                                           _mm_shuffle_epi8(d, m[q][2]));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 3 * x + 16 * q), v);
        }
    }
    return x;
}

// 704 UYVY pixels (from the line's 17th byte) into three planes, in 2^-20 fixed point with
// the constants of FixedYuv, 16 pixels a step. The chroma terms are formed once per pair of
// pixels with 16-bit multiply-adds, each constant split as hi x 128 + lo so that both halves
// fit, which keeps the products exact. The value of a channel is offset by the margin, so that
// one mask test finds a fraction within the margin of the rounding boundary; away from it the
// offset never carries into the integer part. Bit 2k of near[s] marks pixel 16s + k; true when
// a pixel is marked.
__attribute__((target("avx2"))) bool UyvyPlanesAvx2(const uint8_t* groups, FixedYuv k, uint8_t* r, uint8_t* g,
                                                    uint8_t* b, uint32_t* near) {
    // 16-bit pairs (Cb, Cr) times (for Cb, for Cr): the high and low parts of each constant.
    auto pairOf = [](int32_t forCb, int32_t forCr) {
        return int32_t(uint32_t(uint16_t(int16_t(forCb))) | uint32_t(uint16_t(int16_t(forCr))) << 16);
    };
#define MG_PAIR(cb, cr) _mm256_set1_epi32(pairOf(cb, cr))
    auto high = [](int32_t v) { return v >= 0 ? v >> 7 : -((-v) >> 7); };
    auto low = [&](int32_t v) { return v - high(v) * 128; };
    const int32_t gb = -k.Gb, gr = -k.Gr;
    const __m256i redHigh = MG_PAIR(0, high(k.R)), redLow = MG_PAIR(0, low(k.R));
    const __m256i greenHigh = MG_PAIR(high(gb), high(gr)), greenLow = MG_PAIR(low(gb), low(gr));
    const __m256i blueHigh = MG_PAIR(high(k.B), 0), blueLow = MG_PAIR(low(k.B), 0);
#undef MG_PAIR
    const __m256i ky = _mm256_set1_epi32(k.Y);
    // Luma offset 16, the half for rounding and the margin.
    const __m256i base = _mm256_set1_epi32(-16 * k.Y + kOne20 / 2 + kMargin20);
    const __m256i chromaMask = _mm256_set1_epi16(0xFF), chromaZero = _mm256_set1_epi16(128);
    const __m256i fraction = _mm256_set1_epi32(kOne20 - 1), window = _mm256_set1_epi32(2 * kMargin20);
    const __m256i zero = _mm256_setzero_si256();
    uint32_t any = 0;
    for (int s = 0; s < UyvyWidth / 16; ++s) {
        // Lanes: pixels 0-7 | 8-15, that is pairs 0-3 | 4-7.
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(groups + 32 * s));
        const __m256i y16 = _mm256_srli_epi16(v, 8);
        // Set 0 holds pixels 0-3 and 8-11, set 1 pixels 4-7 and 12-15: the 256-bit packs below
        // then give the pixels in order.
        const __m256i luma[2] = {_mm256_add_epi32(_mm256_mullo_epi32(_mm256_unpacklo_epi16(y16, zero), ky), base),
                                 _mm256_add_epi32(_mm256_mullo_epi32(_mm256_unpackhi_epi16(y16, zero), ky), base)};
        const __m256i c = _mm256_sub_epi16(_mm256_and_si256(v, chromaMask), chromaZero);
        const __m256i c7 = _mm256_slli_epi16(c, 7);
        const __m256i cr = _mm256_add_epi32(_mm256_madd_epi16(c7, redHigh), _mm256_madd_epi16(c, redLow));
        const __m256i cg = _mm256_add_epi32(_mm256_madd_epi16(c7, greenHigh), _mm256_madd_epi16(c, greenLow));
        const __m256i cb = _mm256_add_epi32(_mm256_madd_epi16(c7, blueHigh), _mm256_madd_epi16(c, blueLow));
        __m256i outR[2], outG[2], outB[2], flag[2];
        for (int set = 0; set < 2; ++set) {
            const __m256i crSet = set ? _mm256_unpackhi_epi32(cr, cr) : _mm256_unpacklo_epi32(cr, cr);
            const __m256i vr = _mm256_add_epi32(luma[set], crSet);
            const __m256i cgSet = set ? _mm256_unpackhi_epi32(cg, cg) : _mm256_unpacklo_epi32(cg, cg);
            const __m256i vg = _mm256_add_epi32(luma[set], cgSet);
            const __m256i cbSet = set ? _mm256_unpackhi_epi32(cb, cb) : _mm256_unpacklo_epi32(cb, cb);
            const __m256i vb = _mm256_add_epi32(luma[set], cbSet);
            const __m256i least =
                _mm256_min_epi32(_mm256_min_epi32(_mm256_and_si256(vr, fraction), _mm256_and_si256(vg, fraction)),
                                 _mm256_and_si256(vb, fraction));
            flag[set] = _mm256_cmpgt_epi32(window, least);
            outR[set] = _mm256_srai_epi32(vr, 20);
            outG[set] = _mm256_srai_epi32(vg, 20);
            outB[set] = _mm256_srai_epi32(vb, 20);
        }
        // Saturating packs clamp to 0..255 on the way.
        const __m256i rg = _mm256_permute4x64_epi64(
            _mm256_packus_epi16(_mm256_packs_epi32(outR[0], outR[1]), _mm256_packs_epi32(outG[0], outG[1])), 0xD8);
        const __m256i bb =
            _mm256_permute4x64_epi64(_mm256_packus_epi16(_mm256_packs_epi32(outB[0], outB[1]), zero), 0xD8);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(r + 16 * s), _mm256_castsi256_si128(rg));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(g + 16 * s), _mm256_extracti128_si256(rg, 1));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(b + 16 * s), _mm256_castsi256_si128(bb));
        const uint32_t mask = uint32_t(_mm256_movemask_epi8(_mm256_packs_epi32(flag[0], flag[1])));
        near[s] = mask;
        any |= mask;
    }
    return any != 0;
}
#endif

// Interleaves three planes into 24-bit pixels.
void InterleaveFast(const uint8_t* c0, const uint8_t* c1, const uint8_t* c2, uint32_t n, uint8_t* out) {
    uint32_t x = 0;
#ifdef MG_X86_KERNELS
    static const bool ssse3 = __builtin_cpu_supports("ssse3");
    if (ssse3)
        x = InterleaveSsse3(c0, c1, c2, n, out);
#endif
    for (; x < n; ++x) {
        out[3 * x] = c0[x];
        out[3 * x + 1] = c1[x];
        out[3 * x + 2] = c2[x];
    }
}

// One UYVY line (1440 bytes) into three planes of 704 bytes, exactly as the formulas give.
void UyvyLinePlanes(const uint8_t* line, uint8_t* r, uint8_t* g, uint8_t* b) {
    const uint8_t* groups = line + 16;
    auto exact = [&](int i) {
        const int y = groups[2 * i + 1], cb = groups[4 * (i / 2)], cr = groups[4 * (i / 2) + 2];
        r[i] = kUyvyExact.Red(y, cr);
        g[i] = kUyvyExact.Green(y, cb, cr);
        b[i] = kUyvyExact.Blue(y, cb);
    };
#ifdef MG_X86_KERNELS
    if (HasAvx2()) {
        uint32_t near[UyvyWidth / 16];
        if (UyvyPlanesAvx2(groups, kUyvyFixed, r, g, b, near)) {
            for (int s = 0; s < UyvyWidth / 16; ++s)
                for (uint32_t m = near[s] & 0x55555555u; m; m &= m - 1)
                    exact(16 * s + std::countr_zero(m) / 2);
        }
        return;
    }
#endif
    uint8_t ys[UyvyWidth], cbs[UyvyWidth], crs[UyvyWidth], near[UyvyWidth];
    for (int p = 0; p < UyvyWidth / 2; ++p) {
        const uint8_t* q = groups + 4 * p;
        cbs[2 * p] = cbs[2 * p + 1] = q[0];
        ys[2 * p] = q[1];
        crs[2 * p] = crs[2 * p + 1] = q[2];
        ys[2 * p + 1] = q[3];
    }
    if (FixedYuvRow(ys, cbs, crs, UyvyWidth, kUyvyFixed, r, g, b, near))
        for (int i = 0; i < UyvyWidth; ++i)
            if (near[i])
                exact(i);
}

// The resize of one row that takes the upper source row only (fy = 0), plane by plane. Dest
// columns go in blocks of eight whose source pixels (left and right) lie within 16 bytes of
// the block's first one: one load and two byte shuffles fetch them as 16-bit lanes.
class RowMixer {
public:
    // `column[i]` the source column of dest column i; the weights of the row.
    RowMixer(const std::vector<uint32_t>& column, uint32_t sw, const std::vector<uint32_t>& left,
             const std::vector<uint32_t>& right)
        : Width(uint32_t(column.size())), Left(Width), Right(Width), WeightLeft(Width), WeightRight(Width) {
        for (uint32_t i = 0; i < Width; ++i) {
            Left[i] = column[i];
            Right[i] = column[i] < sw - 1 ? column[i] + 1 : column[i];
            WeightLeft[i] = uint16_t(left[i]);
            WeightRight[i] = uint16_t(right[i]);
        }
        // The vector path takes the weights as one fraction: with wl + wr = 65535 and wr > 0,
        // wl = 65536 - f and wr = f - 1, so that (l x wl + r x wr) shr 16 = l + (d x f - r) shr 16
        // with d = r - l; a column with wr = 0 takes its left pixel as the right one, f = 0.
        Fraction.resize(Width);
        FractionHigh.resize(Width);
        uint32_t blocks = 0;
        for (uint32_t i = 0; i < Width; ++i) {
            if (uint32_t(WeightLeft[i]) + WeightRight[i] != 0xFFFF || WeightRight[i] == 0xFFFF)
                return;
            Fraction[i] = uint16_t(WeightRight[i] ? WeightRight[i] + 1 : 0);
            FractionHigh[i] = uint16_t(Fraction[i] >= 0x8000 ? 0xFFFF : 0);
        }
        // Leading blocks that fit, taken in pairs.
        for (; blocks < Width / 8; ++blocks) {
            const uint32_t first = Left[8 * blocks];
            if (Right[8 * blocks + 7] - first > 15)
                break;
        }
        Pairs = blocks / 2;
        Base.resize(2 * size_t(Pairs));
        ShuffleLeft.resize(32 * size_t(Pairs));
        ShuffleRight.resize(32 * size_t(Pairs));
        for (uint32_t k = 0; k < 2 * Pairs; ++k) {
            Base[k] = Left[8 * k];
            for (uint32_t c = 0; c < 8; ++c) {
                ShuffleLeft[16 * k + 2 * c] = uint8_t(Left[8 * k + c] - Base[k]);
                const uint32_t right = Fraction[8 * k + c] ? Right[8 * k + c] : Left[8 * k + c];
                ShuffleRight[16 * k + 2 * c] = uint8_t(right - Base[k]);
                ShuffleLeft[16 * k + 2 * c + 1] = ShuffleRight[16 * k + 2 * c + 1] = 0x80;
            }
        }
    }

    // Bytes a plane needs after its last pixel for the block loads.
    static constexpr uint32_t Padding = 16;

    // The three planes of the source row into the 24-bit dest row.
    void MixInterleaved(const uint8_t* const planes[3], uint8_t* out) const {
        uint32_t i = 0;
#ifdef MG_X86_KERNELS
        if (HasAvx2() && Pairs) {
            MixInterleavedAvx2(planes, Base.data(), ShuffleLeft.data(), ShuffleRight.data(), Fraction.data(),
                               FractionHigh.data(), Pairs, out);
            i = 16 * Pairs;
        }
#endif
        for (; i < Width; ++i)
            for (int c = 0; c < 3; ++c)
                out[3 * i + uint32_t(c)] = uint8_t(
                    (planes[c][Left[i]] * uint32_t(WeightLeft[i]) + planes[c][Right[i]] * uint32_t(WeightRight[i])) >>
                    16);
    }

private:
#ifdef MG_X86_KERNELS
    // l + (d x f - r) shr 16 in 16-bit lanes: the signed high half of d x f (f taken as signed,
    // so d is added back where f >= 32768), less one where the low half is below r.
    __attribute__((target("avx2"))) static inline __m256i MixLanes(__m256i l, __m256i r, __m256i f, __m256i fHigh) {
        const __m256i d = _mm256_sub_epi16(r, l);
        const __m256i high = _mm256_add_epi16(_mm256_mulhi_epi16(d, f), _mm256_and_si256(d, fHigh));
        const __m256i borrow = _mm256_min_epu16(_mm256_subs_epu16(r, _mm256_mullo_epi16(d, f)), _mm256_set1_epi16(1));
        return _mm256_sub_epi16(_mm256_add_epi16(l, high), borrow);
    }

    // The three planes at once, sharing the shuffles and weights, and interleaved on the way out.
    __attribute__((target("avx2"))) static void MixInterleavedAvx2(const uint8_t* const planes[3], const uint32_t* base,
                                                                   const uint8_t* shufLeft, const uint8_t* shufRight,
                                                                   const uint16_t* fraction,
                                                                   const uint16_t* fractionHigh, uint32_t pairs,
                                                                   uint8_t* out) {
        __m128i m[3][3];
        for (int q = 0; q < 3; ++q)
            for (int c = 0; c < 3; ++c)
                m[q][c] = _mm_load_si128(reinterpret_cast<const __m128i*>(kInterleave.M[q][c]));
        for (uint32_t p = 0; p < pairs; ++p) {
            const __m256i ml = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(shufLeft + 32 * p));
            const __m256i mr = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(shufRight + 32 * p));
            const __m256i f = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(fraction + 16 * p));
            const __m256i fHigh = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(fractionHigh + 16 * p));
            const uint32_t at0 = base[2 * p], at1 = base[2 * p + 1];
            __m256i sum[3];
            for (int c = 0; c < 3; ++c) {
                const __m256i src = _mm256_inserti128_si256(
                    _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(planes[c] + at0))),
                    _mm_loadu_si128(reinterpret_cast<const __m128i*>(planes[c] + at1)), 1);
                sum[c] = MixLanes(_mm256_shuffle_epi8(src, ml), _mm256_shuffle_epi8(src, mr), f, fHigh);
            }
            const __m256i rg = _mm256_permute4x64_epi64(_mm256_packus_epi16(sum[0], sum[1]), 0xD8);
            const __m128i r = _mm256_castsi256_si128(rg), g = _mm256_extracti128_si256(rg, 1);
            const __m128i bl =
                _mm256_castsi256_si128(_mm256_permute4x64_epi64(_mm256_packus_epi16(sum[2], sum[2]), 0x08));
            for (int q = 0; q < 3; ++q) {
                const __m128i v = _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(r, m[q][0]), _mm_shuffle_epi8(g, m[q][1])),
                                               _mm_shuffle_epi8(bl, m[q][2]));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 48 * p + 16 * q), v);
            }
        }
    }

#endif

    uint32_t Width;
    std::vector<uint32_t> Left, Right;
    std::vector<uint16_t> WeightLeft, WeightRight, Fraction, FractionHigh;
    uint32_t Pairs = 0;
    std::vector<uint32_t> Base;
    std::vector<uint8_t> ShuffleLeft, ShuffleRight;
};

// The resize works on neighbour pairs: for one channel of one source row, word x holds the
// byte of column x in its low half and that of its right neighbour (x + 1, or x itself at the
// last column) in its high half. One load then fetches both pixels that a dest column mixes,
// and the loops below run over plain arrays, which the compiler vectorises.
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define MG_SSSE3_SPLIT 1
// Splits 16 pixels at a time (48 bytes) into their three channels; returns how many it did.
__attribute__((target("ssse3"))) uint32_t SplitPlanesSsse3(const uint8_t* row, uint32_t width, uint8_t* c0, uint8_t* c1,
                                                           uint8_t* c2) {
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
#define MG_JOIN(m0, m1, m2)                                                                                            \
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
    alignas(32) uint8_t planes[3][UyvyWidth];
    UyvyLinePlanes(b, planes[0], planes[1], planes[2]);
    InterleaveFast(planes[0], planes[1], planes[2], UyvyWidth, rgbRow);
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

void SetVectorKernelsForTesting(bool enabled) {
#ifdef MG_X86_KERNELS
    vectorKernels.store(enabled, std::memory_order_relaxed);
#else
    (void)enabled;
#endif
}

void DecodeUyvyResampled(const uint8_t* image, QImage& dest) {
    const uint32_t dw = uint32_t(dest.width());
    if (dest.height() != UyvyHeight || dw == 0 || dest.depth() != 24) {
        // Rows that mix two source rows: through the full-size picture.
        QImage decoded(UyvyWidth, UyvyHeight, QImage::Format_RGB888);
        for (int row = 0; row < UyvyHeight; ++row)
            DecodeUyvyLine(image + size_t((row & 1) * UyvyFieldLines + row / 2) * UyvyLineBytes, decoded.scanLine(row));
        ResampleBitmap(decoded, dest);
        return;
    }
    // Same height: dest row j is source row j with weight 65535 on it, field j & 1, line j / 2.
    const uint32_t xstep = uint32_t(UyvyWidth) * 65536u / dw;
    std::vector<uint32_t> column(dw), left(dw), right(dw);
    uint32_t sx = 0;
    for (uint32_t i = 0; i < dw; ++i, sx += xstep) {
        column[i] = std::min(sx >> 16, uint32_t(UyvyWidth) - 1);
        right[i] = (0xFFFFu * (sx & 0xFFFF)) >> 16;
        left[i] = 0xFFFFu - right[i];
    }
    const RowMixer mixer(column, UyvyWidth, left, right);
    constexpr size_t stride = UyvyWidth + RowMixer::Padding;
    alignas(32) uint8_t source[3][stride] = {};
    const uint8_t* const planes[3] = {source[0], source[1], source[2]};
    for (int row = 0; row < UyvyHeight; ++row) {
        UyvyLinePlanes(image + size_t((row & 1) * UyvyFieldLines + row / 2) * UyvyLineBytes, source[0], source[1],
                       source[2]);
        mixer.MixInterleaved(planes, dest.scanLine(row));
    }
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
    // Rows from the upper row only go plane by plane where the byte shuffles are at hand.
    std::optional<RowMixer> mixer;
#ifdef MG_X86_KERNELS
    const bool byPlanes = HasAvx2();
#else
    const bool byPlanes = false;
#endif
    const size_t stride = size_t(sw) + RowMixer::Padding;
    std::vector<uint8_t> splitPlanes(byPlanes ? 3 * stride : 0);
    uint8_t* const split[3] = {splitPlanes.data(), splitPlanes.data() + stride, splitPlanes.data() + 2 * stride};

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
        if (wy1 == 0 && byPlanes) {
            // The lower row has no weight (every row of the 480-to-480 resize).
            if (!mixer)
                mixer.emplace(column, sw, upperLeft, upperRight);
            SplitPlanes(source.constScanLine(int(iy)), sw, split[0], split[1], split[2]);
            mixer->MixInterleaved(split, dest.scanLine(int(j)));
            continue;
        } else if (wy1 == 0) {
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
        InterleaveFast(channel[0], channel[1], channel[2], dw, dest.scanLine(int(j)));
    }
}

} // namespace device
