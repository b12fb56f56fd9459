// Block output: the ten routines that write one MCU's samples as
// blue, green, red pixels into the DIB, with the colour conversion of the four
// colour layouts and the grey conversion. `dest` is the MCU's top-left pixel;
// row r below it is at dest - r x rowStride.
#include "decoder_context.h"

#if DUNMERE_SSE2
#include <emmintrin.h>
#endif
#if DUNMERE_AVX2
#include <immintrin.h>
#endif

namespace {

// clamp(v): 0 below 0, 255 from 4096 on, else v >> 4.
inline std::uint8_t Clamp(std::int32_t v) {
    v = v < 0 ? 0 : v;
    v = v > 4095 ? 4095 : v;
    return static_cast<std::uint8_t>(v >> 4);
}

inline std::uint8_t ClampGrey(std::int32_t v) {
    return static_cast<std::uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
}

// One pixel from luma Y and the chroma terms of its chroma sample.
inline void PutPixel(std::uint8_t* p, std::int32_t y, std::int32_t cb, std::int32_t cr) {
    std::int32_t luma = 16 * y;
    p[0] = Clamp(luma + 16 * cb + 8 * cb);
    p[1] = Clamp(luma - (8 * cb + cb) - (8 * cr + 4 * cr));
    p[2] = Clamp(luma + 16 * cr + 4 * cr);
}

// The general mapping of an MCU's samples to pixels for layout (H, V), limited
// to `columns` x `rows`; the compiler specialises it for each layout and for
// whole MCUs.
template <int H, int V>
inline void PutColourMcu(std::uint8_t* dest, const DecoderContext* c, int columns, int rows) {
    const std::int16_t* luma = c->lumaBlocks;
    const std::int16_t* cbBlock = c->cbBlock;
    const std::int16_t* crBlock = c->crBlock;
    std::int32_t stride = c->rowStride;
    for (int r = 0; r < rows; ++r) {
        std::uint8_t* p = dest - static_cast<std::ptrdiff_t>(r) * stride;
        const std::int16_t* lumaRow = luma + 64 * ((r >> 3) * H) + 8 * (r & 7);
        const std::int16_t* cbRow = cbBlock + 8 * (r / V);
        const std::int16_t* crRow = crBlock + 8 * (r / V);
        for (int col = 0; col < columns; ++col) {
            std::int32_t y = lumaRow[64 * (col >> 3) + (col & 7)];
            PutPixel(p + 3 * col, y, cbRow[col / H], crRow[col / H]);
        }
    }
}

inline void PutGrey(std::uint8_t* dest, const DecoderContext* c, int columns, int rows) {
    const std::int16_t* block = c->lumaBlocks;
    for (int r = 0; r < rows; ++r) {
        std::uint8_t* p = dest - static_cast<std::ptrdiff_t>(r) * c->rowStride;
        for (int col = 0; col < columns; ++col) {
            std::uint8_t v = ClampGrey(block[8 * r + col]);
            p[3 * col] = v;
            p[3 * col + 1] = v;
            p[3 * col + 2] = v;
        }
    }
}

#if DUNMERE_SSE2
// Eight pixels side by side. 16 Y + 24 Cb and the other sums are formed in 32
// bits by pmaddwd, exactly as PutPixel forms them; clamp(v) equals v >> 4
// saturated to 0..255 (v < 0 gives a negative, v >= 4096 a value above 255),
// which the two saturating packs do. Writes exactly 24 bytes.
SSE2_FN inline __m128i Pair(int a, int b) {
    return _mm_set1_epi32(static_cast<int>((static_cast<std::uint32_t>(b) << 16) |
                                           (static_cast<std::uint32_t>(a) & 0xFFFF)));
}

SSE2_FN inline __m128i Channel(__m128i first, __m128i second, __m128i weights) {
    __m128i lo = _mm_srai_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(first, second), weights), 4);
    __m128i hi = _mm_srai_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(first, second), weights), 4);
    return _mm_packs_epi32(lo, hi);
}

SSE2_FN inline __m128i GreenChannel(__m128i y, __m128i cb, __m128i cr) {
    __m128i lo = _mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(y, cb), Pair(16, -9)),
                               _mm_madd_epi16(_mm_unpacklo_epi16(cr, cr), Pair(-12, 0)));
    __m128i hi = _mm_add_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(y, cb), Pair(16, -9)),
                               _mm_madd_epi16(_mm_unpackhi_epi16(cr, cr), Pair(-12, 0)));
    return _mm_packs_epi32(_mm_srai_epi32(lo, 4), _mm_srai_epi32(hi, 4));
}

// Four BGRX pixels (16 bytes) to 12 packed BGR bytes in the low bytes.
SSE2_FN inline __m128i PackFour(__m128i bgrx) {
    const __m128i low3 = _mm_set_epi32(0, 0, 0, 0x00FFFFFF);
    __m128i p0 = _mm_and_si128(bgrx, low3);
    __m128i p1 = _mm_and_si128(_mm_srli_si128(bgrx, 1), _mm_slli_si128(low3, 3));
    __m128i p2 = _mm_and_si128(_mm_srli_si128(bgrx, 2), _mm_slli_si128(low3, 6));
    __m128i p3 = _mm_and_si128(_mm_srli_si128(bgrx, 3), _mm_slli_si128(low3, 9));
    return _mm_or_si128(_mm_or_si128(p0, p1), _mm_or_si128(p2, p3));
}

SSE2_FN inline void ConvertEight(std::uint8_t* p, __m128i y, __m128i cb, __m128i cr) {
    __m128i b = Channel(y, cb, Pair(16, 24));
    __m128i g = GreenChannel(y, cb, cr);
    __m128i r = Channel(y, cr, Pair(16, 20));
    __m128i bg = _mm_packus_epi16(b, g);  // b0..b7 g0..g7
    __m128i rz = _mm_packus_epi16(r, _mm_setzero_si128());
    __m128i bgPairs = _mm_unpacklo_epi8(bg, _mm_srli_si128(bg, 8));   // b0 g0 b1 g1 ...
    __m128i rzPairs = _mm_unpacklo_epi8(rz, _mm_setzero_si128());     // r0 0 r1 0 ...
    __m128i first = PackFour(_mm_unpacklo_epi16(bgPairs, rzPairs));   // pixels 0..3
    __m128i second = PackFour(_mm_unpackhi_epi16(bgPairs, rzPairs));  // pixels 4..7
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p),
                     _mm_or_si128(first, _mm_slli_si128(second, 12)));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(p + 16), _mm_srli_si128(second, 4));
}

SSE2_FN inline __m128i Load8(const std::int16_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// Sixteen pixels from B, G, R bytes: 48 bytes.
SSE2_FN inline void StoreSixteen(std::uint8_t* p, __m128i b, __m128i g, __m128i r) {
    const __m128i zero = _mm_setzero_si128();
    __m128i bgLo = _mm_unpacklo_epi8(b, g), bgHi = _mm_unpackhi_epi8(b, g);
    __m128i rzLo = _mm_unpacklo_epi8(r, zero), rzHi = _mm_unpackhi_epi8(r, zero);
    __m128i p0 = PackFour(_mm_unpacklo_epi16(bgLo, rzLo)),
            p1 = PackFour(_mm_unpackhi_epi16(bgLo, rzLo));
    __m128i p2 = PackFour(_mm_unpacklo_epi16(bgHi, rzHi)),
            p3 = PackFour(_mm_unpackhi_epi16(bgHi, rzHi));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), _mm_or_si128(p0, _mm_slli_si128(p1, 12)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p + 16),
                     _mm_or_si128(_mm_srli_si128(p1, 4), _mm_slli_si128(p2, 8)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p + 32),
                     _mm_or_si128(_mm_srli_si128(p2, 8), _mm_slli_si128(p3, 4)));
}

// Eight pixels from B, G, R bytes in the low halves: 24 bytes.
SSE2_FN inline void StoreEight(std::uint8_t* p, __m128i b, __m128i g, __m128i r) {
    const __m128i zero = _mm_setzero_si128();
    __m128i bg = _mm_unpacklo_epi8(b, g), rz = _mm_unpacklo_epi8(r, zero);
    __m128i first = PackFour(_mm_unpacklo_epi16(bg, rz)),
            second = PackFour(_mm_unpackhi_epi16(bg, rz));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p),
                     _mm_or_si128(first, _mm_slli_si128(second, 12)));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(p + 16), _mm_srli_si128(second, 4));
}

// Whether every value of the n vectors at p lies in -bias..bias-1 (bias a
// power of two): x + bias then has no bit at or above bias x 2.
SSE2_FN inline bool AllInRange(const std::int16_t* p, int vectors, int bias) {
    const __m128i b = _mm_set1_epi16(static_cast<short>(bias));
    __m128i t = _mm_setzero_si128();
    for (int i = 0; i < vectors; ++i) t = _mm_or_si128(t, _mm_add_epi16(Load8(p + 8 * i), b));
    t = _mm_and_si128(t, _mm_set1_epi16(static_cast<short>(~(2 * bias - 1))));
    return _mm_movemask_epi8(_mm_cmpeq_epi16(t, _mm_setzero_si128())) == 0xFFFF;
}

// The chroma terms of eight chroma samples, shifted: 24 Cb >> 4, (-9 Cb - 12 Cr)
// >> 4 and 20 Cr >> 4, in 16 bits (the caller has checked |Cb|, |Cr| <= 1024).
struct ChromaTerms {
    __m128i b, g, r;
};

SSE2_FN inline ChromaTerms Terms(const std::int16_t* cb, const std::int16_t* cr) {
    __m128i vb = Load8(cb), vr = Load8(cr);
    ChromaTerms t;
    t.b = _mm_srai_epi16(_mm_mullo_epi16(vb, _mm_set1_epi16(24)), 4);
    t.g = _mm_srai_epi16(_mm_sub_epi16(_mm_mullo_epi16(vb, _mm_set1_epi16(-9)),
                                       _mm_mullo_epi16(vr, _mm_set1_epi16(12))),
                         4);
    t.r = _mm_srai_epi16(_mm_mullo_epi16(vr, _mm_set1_epi16(20)), 4);
    return t;
}

// A whole MCU of layout (H, V), per pixel row eight or sixteen pixels. When the
// samples are in the usual range (luma within -8192..8191, chroma within
// -1024..1023) the sums are done in 16 bits: since 16 Y is a multiple of 16,
// (16 Y + t) >> 4 = Y + (t >> 4), and neither t nor that sum then leaves 16
// bits; the saturating pack gives clamp. Otherwise the 32-bit ConvertEight.
SSE2_FN inline bool UsualRange(const DecoderContext* c, int lumaBlocks) {
    return AllInRange(c->lumaBlocks, 8 * lumaBlocks, 8192) && AllInRange(c->cbBlock, 8, 1024) &&
           AllInRange(c->crBlock, 8, 1024);
}

template <int H, int V>
SSE2_FN inline void PutWholeMcuWide(std::uint8_t* dest, const DecoderContext* c) {
    const std::int16_t* luma = c->lumaBlocks;
    std::ptrdiff_t stride = c->rowStride;
    for (int r = 0; r < 8 * V; ++r) {
        std::uint8_t* p = dest - r * stride;
        const std::int16_t* lumaRow = luma + 64 * ((r >> 3) * H) + 8 * (r & 7);
        __m128i cb = Load8(c->cbBlock + 8 * (r / V));
        __m128i cr = Load8(c->crBlock + 8 * (r / V));
        if (H == 1) {
            ConvertEight(p, Load8(lumaRow), cb, cr);
        } else {
            ConvertEight(p, Load8(lumaRow), _mm_unpacklo_epi16(cb, cb), _mm_unpacklo_epi16(cr, cr));
            ConvertEight(p + 24, Load8(lumaRow + 64), _mm_unpackhi_epi16(cb, cb),
                         _mm_unpackhi_epi16(cr, cr));
        }
    }
}

template <int H, int V>
SSE2_ENTRY void PutWholeMcuLanes(std::uint8_t* dest, const DecoderContext* c) {
    const std::int16_t* luma = c->lumaBlocks;
    std::ptrdiff_t stride = c->rowStride;
    if (!UsualRange(c, H * V)) return PutWholeMcuWide<H, V>(dest, c);
    for (int chromaRow = 0; chromaRow < 8; ++chromaRow) {
        ChromaTerms t = Terms(c->cbBlock + 8 * chromaRow, c->crBlock + 8 * chromaRow);
        ChromaTerms left = t, right = t;
        if (H == 2) {
            left.b = _mm_unpacklo_epi16(t.b, t.b), right.b = _mm_unpackhi_epi16(t.b, t.b);
            left.g = _mm_unpacklo_epi16(t.g, t.g), right.g = _mm_unpackhi_epi16(t.g, t.g);
            left.r = _mm_unpacklo_epi16(t.r, t.r), right.r = _mm_unpackhi_epi16(t.r, t.r);
        }
        for (int dy = 0; dy < V; ++dy) {
            int r = chromaRow * V + dy;
            std::uint8_t* p = dest - r * stride;
            const std::int16_t* lumaRow = luma + 64 * ((r >> 3) * H) + 8 * (r & 7);
            __m128i y0 = Load8(lumaRow);
            if (H == 1) {
                StoreEight(p, _mm_packus_epi16(_mm_add_epi16(y0, t.b), y0),
                           _mm_packus_epi16(_mm_add_epi16(y0, t.g), y0),
                           _mm_packus_epi16(_mm_add_epi16(y0, t.r), y0));
            } else {
                __m128i y1 = Load8(lumaRow + 64);
                StoreSixteen(
                    p, _mm_packus_epi16(_mm_add_epi16(y0, left.b), _mm_add_epi16(y1, right.b)),
                    _mm_packus_epi16(_mm_add_epi16(y0, left.g), _mm_add_epi16(y1, right.g)),
                    _mm_packus_epi16(_mm_add_epi16(y0, left.r), _mm_add_epi16(y1, right.r)));
            }
        }
    }
}

#if DUNMERE_AVX2
#define AVX2_FN __attribute__((target("avx2")))

// Byte shuffles that interleave sixteen B, G and R bytes into 48 BGR bytes:
// output block o (16 bytes) takes from channel ch the bytes given by
// BgrShuffle(o, ch), -128 (zero) elsewhere.
struct BgrMasks {
    std::int8_t m[3][3][16];
};

constexpr BgrMasks MakeBgrMasks() {
    BgrMasks masks{};
    for (int o = 0; o < 3; ++o)
        for (int ch = 0; ch < 3; ++ch)
            for (int j = 0; j < 16; ++j) {
                int n = 16 * o + j;
                masks.m[o][ch][j] = static_cast<std::int8_t>(n % 3 == ch ? n / 3 : -128);
            }
    return masks;
}

constexpr BgrMasks BGR_MASKS = MakeBgrMasks();

AVX2_FN inline __m256i Mask(int o, int ch) {
    return _mm256_broadcastsi128_si256(
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(BGR_MASKS.m[o][ch])));
}

// b, g, r hold sixteen bytes of one pixel row in each 128-bit lane; out[o]
// the row's output bytes 16 o .. 16 o + 15, per lane.
AVX2_FN inline void Interleave(__m256i b, __m256i g, __m256i r, __m256i* out, int blocks) {
    for (int o = 0; o < blocks; ++o)
        out[o] = _mm256_or_si256(
            _mm256_or_si256(_mm256_shuffle_epi8(b, Mask(o, 0)), _mm256_shuffle_epi8(g, Mask(o, 1))),
            _mm256_shuffle_epi8(r, Mask(o, 2)));
}

AVX2_FN inline __m256i Join(__m128i low, __m128i high) {
    return _mm256_inserti128_si256(_mm256_castsi128_si256(low), high, 1);
}

// Two pixel rows of sixteen 16-bit values (row a in lanes 0..15 of a, row b
// likewise) to bytes: row a in the low 128-bit lane, row b in the high one.
AVX2_FN inline __m256i PackRows(__m256i a, __m256i b) {
    return _mm256_permute4x64_epi64(_mm256_packus_epi16(a, b), 0xD8);
}

// A whole MCU two pixel rows at a time, in 16 bits as PutWholeMcuLanes (same
// range condition), with the BGR bytes interleaved by byte shuffles.
template <int H, int V>
AVX2_FN void PutWholeMcuAvx2(std::uint8_t* dest, const DecoderContext* c) {
    if (!UsualRange(c, H * V)) return PutWholeMcuWide<H, V>(dest, c);
    const std::int16_t* luma = c->lumaBlocks;
    std::ptrdiff_t stride = c->rowStride;
    for (int r = 0; r < 8 * V; r += 2) {
        // Chroma terms of rows r and r + 1, sixteen values per row (H = 2: each
        // chroma value twice; H = 1: eight values, the upper eight unused).
        ChromaTerms t0 = Terms(c->cbBlock + 8 * (r / V), c->crBlock + 8 * (r / V));
        ChromaTerms t1 =
            V == 2 ? t0 : Terms(c->cbBlock + 8 * ((r + 1) / V), c->crBlock + 8 * ((r + 1) / V));
        __m256i tb0, tg0, tr0, tb1, tg1, tr1, y0, y1;
        const std::int16_t* row0 = luma + 64 * ((r >> 3) * H) + 8 * (r & 7);
        const std::int16_t* row1 = luma + 64 * (((r + 1) >> 3) * H) + 8 * ((r + 1) & 7);
        if (H == 2) {
            tb0 = Join(_mm_unpacklo_epi16(t0.b, t0.b), _mm_unpackhi_epi16(t0.b, t0.b));
            tg0 = Join(_mm_unpacklo_epi16(t0.g, t0.g), _mm_unpackhi_epi16(t0.g, t0.g));
            tr0 = Join(_mm_unpacklo_epi16(t0.r, t0.r), _mm_unpackhi_epi16(t0.r, t0.r));
            tb1 = Join(_mm_unpacklo_epi16(t1.b, t1.b), _mm_unpackhi_epi16(t1.b, t1.b));
            tg1 = Join(_mm_unpacklo_epi16(t1.g, t1.g), _mm_unpackhi_epi16(t1.g, t1.g));
            tr1 = Join(_mm_unpacklo_epi16(t1.r, t1.r), _mm_unpackhi_epi16(t1.r, t1.r));
            y0 = Join(Load8(row0), Load8(row0 + 64));
            y1 = Join(Load8(row1), Load8(row1 + 64));
        } else {
            tb0 = _mm256_zextsi128_si256(t0.b), tg0 = _mm256_zextsi128_si256(t0.g),
            tr0 = _mm256_zextsi128_si256(t0.r);
            tb1 = _mm256_zextsi128_si256(t1.b), tg1 = _mm256_zextsi128_si256(t1.g),
            tr1 = _mm256_zextsi128_si256(t1.r);
            y0 = _mm256_zextsi128_si256(Load8(row0));
            y1 = _mm256_zextsi128_si256(Load8(row1));
        }
        __m256i b = PackRows(_mm256_add_epi16(y0, tb0), _mm256_add_epi16(y1, tb1));
        __m256i g = PackRows(_mm256_add_epi16(y0, tg0), _mm256_add_epi16(y1, tg1));
        __m256i red = PackRows(_mm256_add_epi16(y0, tr0), _mm256_add_epi16(y1, tr1));
        __m256i out[3];
        Interleave(b, g, red, out, H == 2 ? 3 : 2);
        std::uint8_t *p0 = dest - r * stride, *p1 = p0 - stride;
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p0), _mm256_castsi256_si128(out[0]));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p1), _mm256_extracti128_si256(out[0], 1));
        if (H == 2) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(p0 + 16), _mm256_castsi256_si128(out[1]));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(p1 + 16),
                             _mm256_extracti128_si256(out[1], 1));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(p0 + 32), _mm256_castsi256_si128(out[2]));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(p1 + 32),
                             _mm256_extracti128_si256(out[2], 1));
        } else {
            _mm_storel_epi64(reinterpret_cast<__m128i*>(p0 + 16), _mm256_castsi256_si128(out[1]));
            _mm_storel_epi64(reinterpret_cast<__m128i*>(p1 + 16),
                             _mm256_extracti128_si256(out[1], 1));
        }
    }
}

// A whole grey block, two rows at a time: the samples saturated to bytes, each
// byte three times.
AVX2_FN void PutGreyBlockAvx2(std::uint8_t* dest, const DecoderContext* c) {
    const std::int16_t* block = c->lumaBlocks;
    std::ptrdiff_t stride = c->rowStride;
    for (int r = 0; r < 8; r += 2) {
        __m256i v = PackRows(_mm256_zextsi128_si256(Load8(block + 8 * r)),
                             _mm256_zextsi128_si256(Load8(block + 8 * r + 8)));
        __m256i out[2];
        Interleave(v, v, v, out, 2);
        std::uint8_t *p0 = dest - r * stride, *p1 = p0 - stride;
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p0), _mm256_castsi256_si128(out[0]));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p1), _mm256_extracti128_si256(out[0], 1));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(p0 + 16), _mm256_castsi256_si128(out[1]));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(p1 + 16), _mm256_extracti128_si256(out[1], 1));
    }
}
#endif
#endif

template <int H, int V>
inline void PutWholeMcu(std::uint8_t* dest, const DecoderContext* c) {
#if DUNMERE_AVX2
    if (!c->switches.literalPaths && c->simd >= SIMD_AVX2) return PutWholeMcuAvx2<H, V>(dest, c);
#endif
#if DUNMERE_SSE2
    if (!c->switches.literalPaths && c->simd >= SIMD_SSE2) return PutWholeMcuLanes<H, V>(dest, c);
#endif
    PutColourMcu<H, V>(dest, c, 8 * H, 8 * V);
}

}  // namespace

void PutGreyBlock(std::uint8_t* dest, const DecoderContext* c) {
#if DUNMERE_AVX2
    if (!c->switches.literalPaths && c->simd >= SIMD_AVX2) return PutGreyBlockAvx2(dest, c);
#endif
    PutGrey(dest, c, 8, 8);
}
void PutMcuH1V1(std::uint8_t* dest, const DecoderContext* c) { PutWholeMcu<1, 1>(dest, c); }
void PutMcuH2V1(std::uint8_t* dest, const DecoderContext* c) { PutWholeMcu<2, 1>(dest, c); }
void PutMcuH1V2(std::uint8_t* dest, const DecoderContext* c) { PutWholeMcu<1, 2>(dest, c); }
void PutMcuH2V2(std::uint8_t* dest, const DecoderContext* c) { PutWholeMcu<2, 2>(dest, c); }

void PutGreyBlockClipped(std::uint8_t* dest, const DecoderContext* c, int columns, int rows) {
    PutGrey(dest, c, columns < 8 ? columns : 8, rows < 8 ? rows : 8);
}
void PutMcuH1V1Clipped(std::uint8_t* dest, const DecoderContext* c, int columns, int rows) {
    PutColourMcu<1, 1>(dest, c, columns < 8 ? columns : 8, rows < 8 ? rows : 8);
}
void PutMcuH2V1Clipped(std::uint8_t* dest, const DecoderContext* c, int columns, int rows) {
    PutColourMcu<2, 1>(dest, c, columns < 16 ? columns : 16, rows < 8 ? rows : 8);
}
void PutMcuH1V2Clipped(std::uint8_t* dest, const DecoderContext* c, int columns, int rows) {
    PutColourMcu<1, 2>(dest, c, columns < 8 ? columns : 8, rows < 16 ? rows : 16);
}
void PutMcuH2V2Clipped(std::uint8_t* dest, const DecoderContext* c, int columns, int rows) {
    PutColourMcu<2, 2>(dest, c, columns < 16 ? columns : 16, rows < 16 ? rows : 16);
}
