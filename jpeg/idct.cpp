// The inverse DCT. A separable integer transform, rows (shift 5)
// then columns (shift 8), whose weighted terms are sums of power-of-two
// multiples each wrapped to 16 bits.
//
// InverseDctReference carries the steps out literally. InverseDct gives the
// same values faster: when the six inputs that can wrap (positions 1, 2, 3, 5,
// 6 and 7) all lie in -1024..1023, no multiple wraps and every term is the plain
// product, so the step is done with ordinary multiplications; a row or column
// outside that range goes the literal way. Rows without AC values and blocks
// with only a DC value are shortcuts of the same arithmetic.
//
// The plain products are carried out eight steps side by side with SSE2 where
// the processor and system offer it, and, where the processor offers AVX2, InverseDctMcu transforms an
// MCU's blocks two at a time (one per 128-bit lane). It learns from the
// entropy decoder which blocks hold only a DC value, instead of looking.
#include "decoder_context.h"

#if DUNMERE_SSE2
#include <emmintrin.h>
#endif
#if DUNMERE_AVX2
#include <immintrin.h>
#endif

namespace {

// w(v): v reduced to a signed 16-bit value.
inline std::int32_t W(std::int32_t v) {
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(v));
}

inline std::int32_t Times44(std::int32_t x) { return W(x * 32) + W(x * 8) + W(x * 4); }
inline std::int32_t Times42(std::int32_t x) { return W(x * 32) + W(x * 8) + W(x * 2); }
inline std::int32_t Times38(std::int32_t x) { return W(x * 32) + W(x * 4) + W(x * 2); }
inline std::int32_t Times25(std::int32_t x) { return W(x * 16) + W(x * 8) + x; }
inline std::int32_t Times17(std::int32_t x) { return W(x * 16) + x; }
inline std::int32_t Times9(std::int32_t x) { return W(x * 8) + x; }

inline std::int16_t Out(std::int32_t sum, int shift) {
    return static_cast<std::int16_t>(sum >> shift);
}

// The one-dimensional step over x[0], x[stride], ..., x[7 * stride], in place.
void StepLiteral(std::int16_t* x, int stride, int shift) {
    std::int32_t x0 = x[0], x1 = x[stride], x2 = x[2 * stride], x3 = x[3 * stride],
                 x4 = x[4 * stride], x5 = x[5 * stride], x6 = x[6 * stride], x7 = x[7 * stride];
    std::int32_t e0 = 32 * (x0 + x4), e1 = 32 * (x0 - x4);
    std::int32_t m = Times42(x2) + Times17(x6);
    std::int32_t n = Times17(x2) - Times42(x6);
    std::int32_t p = Times44(x1) + Times38(x3) + Times25(x5) + Times9(x7);
    std::int32_t q = Times38(x1) - Times9(x3) - Times44(x5) - Times25(x7);
    std::int32_t r = Times25(x1) - Times44(x3) + Times9(x5) + Times38(x7);
    std::int32_t s = Times9(x1) - Times25(x3) + Times38(x5) - Times44(x7);
    x[0] = Out(e0 + m + p, shift);
    x[7 * stride] = Out(e0 + m - p, shift);
    x[stride] = Out(e1 + n + q, shift);
    x[6 * stride] = Out(e1 + n - q, shift);
    x[2 * stride] = Out(e1 - n + r, shift);
    x[5 * stride] = Out(e1 - n - r, shift);
    x[3 * stride] = Out(e0 - m + s, shift);
    x[4 * stride] = Out(e0 - m - s, shift);
}

// Whether none of the multiples of these inputs wraps.
inline bool InRange(std::int32_t x1, std::int32_t x2, std::int32_t x3, std::int32_t x5,
                    std::int32_t x6, std::int32_t x7) {
    return (((x1 + 1024) | (x2 + 1024) | (x3 + 1024) | (x5 + 1024) | (x6 + 1024) | (x7 + 1024)) &
            ~2047) == 0;
}

template <int Shift>
inline void StepFast(std::int16_t* x, int stride) {
    std::int32_t x0 = x[0], x1 = x[stride], x2 = x[2 * stride], x3 = x[3 * stride],
                 x4 = x[4 * stride], x5 = x[5 * stride], x6 = x[6 * stride], x7 = x[7 * stride];
    if (!InRange(x1, x2, x3, x5, x6, x7)) return StepLiteral(x, stride, Shift);
    std::int32_t e0 = 32 * (x0 + x4), e1 = 32 * (x0 - x4);
    std::int32_t m = 42 * x2 + 17 * x6;
    std::int32_t n = 17 * x2 - 42 * x6;
    std::int32_t p = 44 * x1 + 38 * x3 + 25 * x5 + 9 * x7;
    std::int32_t q = 38 * x1 - 9 * x3 - 44 * x5 - 25 * x7;
    std::int32_t r = 25 * x1 - 44 * x3 + 9 * x5 + 38 * x7;
    std::int32_t s = 9 * x1 - 25 * x3 + 38 * x5 - 44 * x7;
    x[0] = Out(e0 + m + p, Shift);
    x[7 * stride] = Out(e0 + m - p, Shift);
    x[stride] = Out(e1 + n + q, Shift);
    x[6 * stride] = Out(e1 + n - q, Shift);
    x[2 * stride] = Out(e1 - n + r, Shift);
    x[5 * stride] = Out(e1 - n - r, Shift);
    x[3 * stride] = Out(e0 - m + s, Shift);
    x[4 * stride] = Out(e0 - m - s, Shift);
}

inline bool RowHasAc(const std::int16_t* row) {
    return (row[1] | row[2] | row[3] | row[4] | row[5] | row[6] | row[7]) != 0;
}

inline bool RowIsZero(const std::int16_t* row) { return (row[0] | RowHasAc(row)) == 0; }

#if DUNMERE_SSE2
// Eight one-dimensional steps side by side: x[k] holds input k of eight
// independent steps, one per 16-bit lane. Every product is a plain product
// (the caller has checked the range), formed in 32 bits by pmaddwd exactly as
// the scalar sums are; outputs are shifted and their low 16 bits kept.
SSE2_FN inline __m128i Pair(int a, int b) {
    return _mm_set1_epi32(static_cast<int>((static_cast<std::uint32_t>(b) << 16) |
                                           (static_cast<std::uint32_t>(a) & 0xFFFF)));
}

SSE2_FN inline __m128i Low16(__m128i lo, __m128i hi, int shift) {
    lo = _mm_srai_epi32(_mm_slli_epi32(_mm_srai_epi32(lo, shift), 16), 16);
    hi = _mm_srai_epi32(_mm_slli_epi32(_mm_srai_epi32(hi, shift), 16), 16);
    return _mm_packs_epi32(lo, hi);
}

// The last stage of one 1-D step: even terms (e0 ± m, e1 ± n) against the odd
// terms p, q, r, s, into the eight 32-bit outputs of one half of the lanes.
SSE2_FN inline void Butterfly(__m128i (*out)[2], int half, __m128i e0, __m128i e1, __m128i m,
                              __m128i n, __m128i p, __m128i q, __m128i r, __m128i s) {
    __m128i em = _mm_add_epi32(e0, m), emn = _mm_sub_epi32(e0, m);
    __m128i en = _mm_add_epi32(e1, n), enn = _mm_sub_epi32(e1, n);
    out[0][half] = _mm_add_epi32(em, p);
    out[7][half] = _mm_sub_epi32(em, p);
    out[1][half] = _mm_add_epi32(en, q);
    out[6][half] = _mm_sub_epi32(en, q);
    out[2][half] = _mm_add_epi32(enn, r);
    out[5][half] = _mm_sub_epi32(enn, r);
    out[3][half] = _mm_add_epi32(emn, s);
    out[4][half] = _mm_sub_epi32(emn, s);
}

// The same steps when inputs 4 to 7 are all zero (the common case of a block
// whose values sit in its upper-left corner): the terms of those inputs are 0.
template <int Shift>
SSE2_FN inline void StepLanesLowerHalf(__m128i* x, bool highZero) {
    const __m128i zero = _mm_setzero_si128();
    __m128i out[8][2];
    const int halves = highZero ? 1 : 2;
    for (int k = 0; k < 8; ++k) out[k][1] = zero;
    for (int half = 0; half < halves; ++half) {
        __m128i x0 = half ? _mm_unpackhi_epi16(x[0], zero) : _mm_unpacklo_epi16(x[0], zero);
        __m128i x2 = half ? _mm_unpackhi_epi16(x[2], zero) : _mm_unpacklo_epi16(x[2], zero);
        __m128i x13 = half ? _mm_unpackhi_epi16(x[1], x[3]) : _mm_unpacklo_epi16(x[1], x[3]);
        __m128i e = _mm_madd_epi16(x0, Pair(32, 0));
        __m128i m = _mm_madd_epi16(x2, Pair(42, 0));
        __m128i n = _mm_madd_epi16(x2, Pair(17, 0));
        __m128i p = _mm_madd_epi16(x13, Pair(44, 38));
        __m128i q = _mm_madd_epi16(x13, Pair(38, -9));
        __m128i r = _mm_madd_epi16(x13, Pair(25, -44));
        __m128i s = _mm_madd_epi16(x13, Pair(9, -25));
        Butterfly(out, half, e, e, m, n, p, q, r, s);
    }
    for (int k = 0; k < 8; ++k) x[k] = Low16(out[k][0], out[k][1], Shift);
}

SSE2_FN inline bool UpperHalfZero(const __m128i* x) {
    __m128i t = _mm_or_si128(_mm_or_si128(x[4], x[5]), _mm_or_si128(x[6], x[7]));
    return _mm_movemask_epi8(_mm_cmpeq_epi16(t, _mm_setzero_si128())) == 0xFFFF;
}

// highZero: lanes 4 to 7 are zero in every input (rows 4 to 7 of a block in
// the row pass), so their outputs are zero and only lanes 0 to 3 are computed.
template <int Shift>
SSE2_FN inline void StepLanes(__m128i* x, bool highZero) {
    if (UpperHalfZero(x)) return StepLanesLowerHalf<Shift>(x, highZero);
    __m128i out[8][2];
    const int halves = highZero ? 1 : 2;
    for (int k = 0; k < 8; ++k) out[k][1] = _mm_setzero_si128();
    for (int half = 0; half < halves; ++half) {
        __m128i x04 = half ? _mm_unpackhi_epi16(x[0], x[4]) : _mm_unpacklo_epi16(x[0], x[4]);
        __m128i x26 = half ? _mm_unpackhi_epi16(x[2], x[6]) : _mm_unpacklo_epi16(x[2], x[6]);
        __m128i x13 = half ? _mm_unpackhi_epi16(x[1], x[3]) : _mm_unpacklo_epi16(x[1], x[3]);
        __m128i x57 = half ? _mm_unpackhi_epi16(x[5], x[7]) : _mm_unpacklo_epi16(x[5], x[7]);
        __m128i e0 = _mm_madd_epi16(x04, Pair(32, 32));
        __m128i e1 = _mm_madd_epi16(x04, Pair(32, -32));
        __m128i m = _mm_madd_epi16(x26, Pair(42, 17));
        __m128i n = _mm_madd_epi16(x26, Pair(17, -42));
        __m128i p =
            _mm_add_epi32(_mm_madd_epi16(x13, Pair(44, 38)), _mm_madd_epi16(x57, Pair(25, 9)));
        __m128i q =
            _mm_add_epi32(_mm_madd_epi16(x13, Pair(38, -9)), _mm_madd_epi16(x57, Pair(-44, -25)));
        __m128i r =
            _mm_add_epi32(_mm_madd_epi16(x13, Pair(25, -44)), _mm_madd_epi16(x57, Pair(9, 38)));
        __m128i s =
            _mm_add_epi32(_mm_madd_epi16(x13, Pair(9, -25)), _mm_madd_epi16(x57, Pair(38, -44)));
        Butterfly(out, half, e0, e1, m, n, p, q, r, s);
    }
    for (int k = 0; k < 8; ++k) x[k] = Low16(out[k][0], out[k][1], Shift);
}

SSE2_FN inline void Transpose(__m128i* x) {
    __m128i a0 = _mm_unpacklo_epi16(x[0], x[1]), a1 = _mm_unpackhi_epi16(x[0], x[1]);
    __m128i a2 = _mm_unpacklo_epi16(x[2], x[3]), a3 = _mm_unpackhi_epi16(x[2], x[3]);
    __m128i a4 = _mm_unpacklo_epi16(x[4], x[5]), a5 = _mm_unpackhi_epi16(x[4], x[5]);
    __m128i a6 = _mm_unpacklo_epi16(x[6], x[7]), a7 = _mm_unpackhi_epi16(x[6], x[7]);
    __m128i b0 = _mm_unpacklo_epi32(a0, a2), b1 = _mm_unpackhi_epi32(a0, a2);
    __m128i b2 = _mm_unpacklo_epi32(a1, a3), b3 = _mm_unpackhi_epi32(a1, a3);
    __m128i b4 = _mm_unpacklo_epi32(a4, a6), b5 = _mm_unpackhi_epi32(a4, a6);
    __m128i b6 = _mm_unpacklo_epi32(a5, a7), b7 = _mm_unpackhi_epi32(a5, a7);
    x[0] = _mm_unpacklo_epi64(b0, b4);
    x[1] = _mm_unpackhi_epi64(b0, b4);
    x[2] = _mm_unpacklo_epi64(b1, b5);
    x[3] = _mm_unpackhi_epi64(b1, b5);
    x[4] = _mm_unpacklo_epi64(b2, b6);
    x[5] = _mm_unpackhi_epi64(b2, b6);
    x[6] = _mm_unpacklo_epi64(b3, b7);
    x[7] = _mm_unpackhi_epi64(b3, b7);
}

// Whether every lane of x[1], x[2], x[3], x[5], x[6] and x[7] lies in
// -1024..1023 (x + 1024 in 16 bits then lies in 0..2047, and no value outside
// the range lands there).
SSE2_FN inline bool LanesInRange(const __m128i* x) {
    const __m128i bias = _mm_set1_epi16(1024);
    __m128i t = _mm_or_si128(_mm_or_si128(_mm_add_epi16(x[1], bias), _mm_add_epi16(x[2], bias)),
                             _mm_or_si128(_mm_add_epi16(x[3], bias), _mm_add_epi16(x[5], bias)));
    t = _mm_or_si128(t, _mm_or_si128(_mm_add_epi16(x[6], bias), _mm_add_epi16(x[7], bias)));
    t = _mm_and_si128(t, _mm_set1_epi16(static_cast<short>(0xF800)));
    return _mm_movemask_epi8(_mm_cmpeq_epi16(t, _mm_setzero_si128())) == 0xFFFF;
}

// Gives false (block untouched) when the row pass's inputs are out of range.
SSE2_ENTRY bool InverseDctLanes(std::int16_t* block) {
    __m128i x[8];
    for (int k = 0; k < 8; ++k)
        x[k] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 8 * k));
    bool lowerRows = UpperHalfZero(x);  // rows 4..7 zero: lanes 4..7 of the row steps
    Transpose(x);                       // x[k]: input k of the eight row steps
    if (!LanesInRange(x)) return false;
    StepLanes<5>(x, lowerRows);
    Transpose(x);  // x[k]: row k, input k of the eight column steps
    if (!LanesInRange(x)) {
        for (int k = 0; k < 8; ++k)
            _mm_storeu_si128(reinterpret_cast<__m128i*>(block + 8 * k), x[k]);
        for (int column = 0; column < 8; ++column) StepFast<8>(block + column, 8);
        return true;
    }
    StepLanes<8>(x, false);
    for (int k = 0; k < 8; ++k) _mm_storeu_si128(reinterpret_cast<__m128i*>(block + 8 * k), x[k]);
    return true;
}
#endif

#if DUNMERE_AVX2
// Two blocks at once: AVX2 works on two 128-bit lanes that do not mix in
// unpacks and pmaddwd, so block a goes in the low lane and block b in the high
// one, and each lane carries out exactly the eight-step code above.
#define AVX2_FN __attribute__((target("avx2")))

AVX2_FN inline __m256i Pair2(int a, int b) {
    return _mm256_set1_epi32(static_cast<int>((static_cast<std::uint32_t>(b) << 16) |
                                              (static_cast<std::uint32_t>(a) & 0xFFFF)));
}

AVX2_FN inline __m256i Low16x2(__m256i lo, __m256i hi, int shift) {
    lo = _mm256_srai_epi32(_mm256_slli_epi32(_mm256_srai_epi32(lo, shift), 16), 16);
    hi = _mm256_srai_epi32(_mm256_slli_epi32(_mm256_srai_epi32(hi, shift), 16), 16);
    return _mm256_packs_epi32(lo, hi);
}

AVX2_FN inline bool AllZero2(__m256i v) { return _mm256_testz_si256(v, v) != 0; }

AVX2_FN inline void Butterfly2(__m256i (*out)[2], int half, __m256i e0, __m256i e1, __m256i m,
                               __m256i n, __m256i p, __m256i q, __m256i r, __m256i s) {
    __m256i em = _mm256_add_epi32(e0, m), emn = _mm256_sub_epi32(e0, m);
    __m256i en = _mm256_add_epi32(e1, n), enn = _mm256_sub_epi32(e1, n);
    out[0][half] = _mm256_add_epi32(em, p);
    out[7][half] = _mm256_sub_epi32(em, p);
    out[1][half] = _mm256_add_epi32(en, q);
    out[6][half] = _mm256_sub_epi32(en, q);
    out[2][half] = _mm256_add_epi32(enn, r);
    out[5][half] = _mm256_sub_epi32(enn, r);
    out[3][half] = _mm256_add_epi32(emn, s);
    out[4][half] = _mm256_sub_epi32(emn, s);
}

// One step's terms from the input pairs (0, 4), (2, 6), (1, 3), (5, 7) of
// eight 32-bit lanes; upperZero: inputs 4 to 7 are zero, so their terms are.
AVX2_FN inline void StepTerms2(__m256i* out, int half, __m256i x04, __m256i x26, __m256i x13,
                               __m256i x57, bool upperZero) {
    __m256i p = _mm256_madd_epi16(x13, Pair2(44, 38));
    __m256i q = _mm256_madd_epi16(x13, Pair2(38, -9));
    __m256i r = _mm256_madd_epi16(x13, Pair2(25, -44));
    __m256i s = _mm256_madd_epi16(x13, Pair2(9, -25));
    __m256i m = _mm256_madd_epi16(x26, Pair2(42, 17));
    __m256i n = _mm256_madd_epi16(x26, Pair2(17, -42));
    __m256i(*o)[2] = reinterpret_cast<__m256i(*)[2]>(out);
    if (upperZero) {
        __m256i e = _mm256_madd_epi16(x04, Pair2(32, 0));
        return Butterfly2(o, half, e, e, m, n, p, q, r, s);
    }
    p = _mm256_add_epi32(p, _mm256_madd_epi16(x57, Pair2(25, 9)));
    q = _mm256_add_epi32(q, _mm256_madd_epi16(x57, Pair2(-44, -25)));
    r = _mm256_add_epi32(r, _mm256_madd_epi16(x57, Pair2(9, 38)));
    s = _mm256_add_epi32(s, _mm256_madd_epi16(x57, Pair2(38, -44)));
    Butterfly2(o, half, _mm256_madd_epi16(x04, Pair2(32, 32)),
               _mm256_madd_epi16(x04, Pair2(32, -32)), m, n, p, q, r, s);
}

AVX2_FN inline bool UpperZero2(const __m256i* x) {
    return AllZero2(_mm256_or_si256(_mm256_or_si256(x[4], x[5]), _mm256_or_si256(x[6], x[7])));
}

// Inputs a and b of the lanes of one half (0: lanes 0..3 of each block), paired.
AVX2_FN inline __m256i InputPairs2(const __m256i* x, int a, int b, int half) {
    return half ? _mm256_unpackhi_epi16(x[a], x[b]) : _mm256_unpacklo_epi16(x[a], x[b]);
}

// Inputs a and b of all eight lanes of one block, paired (lanes 0..3 low).
AVX2_FN inline __m256i InputPairsWide(const __m128i* x, int a, int b) {
    return _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_unpacklo_epi16(x[a], x[b])),
                                   _mm_unpackhi_epi16(x[a], x[b]), 1);
}

template <int Shift>
AVX2_FN inline void StepLanes2(__m256i* x, bool highZero) {
    bool upperZero = UpperZero2(x);
    __m256i out[8][2];
    const int halves = highZero ? 1 : 2;
    for (int k = 0; k < 8; ++k) out[k][1] = _mm256_setzero_si256();
    for (int half = 0; half < halves; ++half) {
        StepTerms2(&out[0][0], half, InputPairs2(x, 0, 4, half), InputPairs2(x, 2, 6, half),
                   InputPairs2(x, 1, 3, half), InputPairs2(x, 5, 7, half), upperZero);
    }
    for (int k = 0; k < 8; ++k) x[k] = Low16x2(out[k][0], out[k][1], Shift);
}

// The eight steps of one block at once: the 32-bit terms of all eight lanes
// fill one 256-bit register (lanes 0..3 low, 4..7 high).
template <int Shift>
AVX2_FN inline void StepLanesWide(__m128i* x) {
    bool upperZero = UpperHalfZero(x);
    __m256i out[8][2];
    StepTerms2(&out[0][0], 0, InputPairsWide(x, 0, 4), InputPairsWide(x, 2, 6),
               InputPairsWide(x, 1, 3), InputPairsWide(x, 5, 7), upperZero);
    for (int k = 0; k < 8; ++k) {
        __m256i v =
            _mm256_srai_epi32(_mm256_slli_epi32(_mm256_srai_epi32(out[k][0], Shift), 16), 16);
        x[k] = _mm_packs_epi32(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
    }
}

// One block with the wide steps; false (block untouched) as InverseDctLanes.
AVX2_FN bool InverseDctOneAvx2(std::int16_t* block) {
    __m128i x[8];
    for (int k = 0; k < 8; ++k)
        x[k] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 8 * k));
    Transpose(x);
    if (!LanesInRange(x)) return false;
    StepLanesWide<5>(x);
    Transpose(x);
    if (!LanesInRange(x)) {
        for (int k = 0; k < 8; ++k)
            _mm_storeu_si128(reinterpret_cast<__m128i*>(block + 8 * k), x[k]);
        for (int column = 0; column < 8; ++column) StepFast<8>(block + column, 8);
        return true;
    }
    StepLanesWide<8>(x);
    for (int k = 0; k < 8; ++k) _mm_storeu_si128(reinterpret_cast<__m128i*>(block + 8 * k), x[k]);
    return true;
}

AVX2_FN inline void Transpose2(__m256i* x) {
    __m256i a0 = _mm256_unpacklo_epi16(x[0], x[1]), a1 = _mm256_unpackhi_epi16(x[0], x[1]);
    __m256i a2 = _mm256_unpacklo_epi16(x[2], x[3]), a3 = _mm256_unpackhi_epi16(x[2], x[3]);
    __m256i a4 = _mm256_unpacklo_epi16(x[4], x[5]), a5 = _mm256_unpackhi_epi16(x[4], x[5]);
    __m256i a6 = _mm256_unpacklo_epi16(x[6], x[7]), a7 = _mm256_unpackhi_epi16(x[6], x[7]);
    __m256i b0 = _mm256_unpacklo_epi32(a0, a2), b1 = _mm256_unpackhi_epi32(a0, a2);
    __m256i b2 = _mm256_unpacklo_epi32(a1, a3), b3 = _mm256_unpackhi_epi32(a1, a3);
    __m256i b4 = _mm256_unpacklo_epi32(a4, a6), b5 = _mm256_unpackhi_epi32(a4, a6);
    __m256i b6 = _mm256_unpacklo_epi32(a5, a7), b7 = _mm256_unpackhi_epi32(a5, a7);
    x[0] = _mm256_unpacklo_epi64(b0, b4);
    x[1] = _mm256_unpackhi_epi64(b0, b4);
    x[2] = _mm256_unpacklo_epi64(b1, b5);
    x[3] = _mm256_unpackhi_epi64(b1, b5);
    x[4] = _mm256_unpacklo_epi64(b2, b6);
    x[5] = _mm256_unpackhi_epi64(b2, b6);
    x[6] = _mm256_unpacklo_epi64(b3, b7);
    x[7] = _mm256_unpackhi_epi64(b3, b7);
}

AVX2_FN inline bool LanesInRange2(const __m256i* x) {
    const __m256i bias = _mm256_set1_epi16(1024);
    __m256i t = _mm256_or_si256(
        _mm256_or_si256(_mm256_add_epi16(x[1], bias), _mm256_add_epi16(x[2], bias)),
        _mm256_or_si256(_mm256_add_epi16(x[3], bias), _mm256_add_epi16(x[5], bias)));
    t = _mm256_or_si256(
        t, _mm256_or_si256(_mm256_add_epi16(x[6], bias), _mm256_add_epi16(x[7], bias)));
    return AllZero2(_mm256_and_si256(t, _mm256_set1_epi16(static_cast<short>(0xF800))));
}

// Gives false (blocks untouched) when either block leaves the plain-product
// range in either pass; the caller then transforms them one at a time.
AVX2_FN bool InverseDctPairAvx2(std::int16_t* a, std::int16_t* b) {
    __m256i x[8];
    for (int k = 0; k < 8; ++k)
        x[k] = _mm256_inserti128_si256(
            _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a + 8 * k))),
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + 8 * k)), 1);
    bool lowerRows = UpperZero2(x);
    Transpose2(x);
    if (!LanesInRange2(x)) return false;
    StepLanes2<5>(x, lowerRows);
    Transpose2(x);
    if (!LanesInRange2(x)) return false;
    StepLanes2<8>(x, false);
    for (int k = 0; k < 8; ++k) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(a + 8 * k), _mm256_castsi256_si128(x[k]));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(b + 8 * k), _mm256_extracti128_si256(x[k], 1));
    }
    return true;
}
#endif

// The whole transform of a block with AC values, without the DC-only check.
void InverseDctWithAc(std::int16_t* block, SimdLevel simd) {
#if DUNMERE_SSE2
    if (simd >= SIMD_SSE2 && InverseDctLanes(block)) return;
#else
    (void)simd;
#endif
    // Row pass: a row without AC values gives (32 x0) >> 5 = x0 in every cell
    // (an all-zero row stays zero).
    for (int row = 0; row < 8; ++row) {
        std::int16_t* x = block + 8 * row;
        if (RowHasAc(x)) {
            StepFast<5>(x, 1);
        } else if (x[0] != 0) {
            for (int i = 1; i < 8; ++i) x[i] = x[0];
        }
    }
    for (int column = 0; column < 8; ++column) StepFast<8>(block + column, 8);
}

// Only a DC value: every row pass output of row 0 is (32 x0) >> 5 = x0, the
// other rows stay 0, and every column gives (32 x0) >> 8.
inline void InverseDctDcOnly(std::int16_t* block) {
    std::int16_t v = static_cast<std::int16_t>((32 * static_cast<std::int32_t>(block[0])) >> 8);
    for (int i = 0; i < 64; ++i) block[i] = v;
}

}  // namespace

void InverseDctReference(std::int16_t* block) {
    for (int row = 0; row < 8; ++row) StepLiteral(block + 8 * row, 1, 5);
    for (int column = 0; column < 8; ++column) StepLiteral(block + column, 8, 8);
}

void InverseDct(std::int16_t* block, SimdLevel simd) {
    bool rest = RowHasAc(block);
    for (int row = 1; row < 8 && !rest; ++row) rest = !RowIsZero(block + 8 * row);
    if (!rest) return InverseDctDcOnly(block);
    InverseDctWithAc(block, simd);
}

void InverseDctMcu(DecoderContext* c, int lumaCount, bool colour) {
    std::int16_t* blocks[6];
    int count = 0;
    for (int i = 0; i < lumaCount; ++i) blocks[count++] = c->lumaBlocks + 64 * i;
    if (colour) {
        blocks[count++] = c->cbBlock;
        blocks[count++] = c->crBlock;
    }
    std::int16_t* waiting = nullptr;  // a block with AC values that awaits a partner
    for (int i = 0; i < count; ++i) {
        std::int16_t* block = blocks[i];
        if (c->blockEnd[i] <= 1) {
            InverseDctDcOnly(block);
        } else if (c->simd < SIMD_AVX2) {
            InverseDctWithAc(block, c->simd);
        } else if (waiting == nullptr) {
            waiting = block;
        } else {
#if DUNMERE_AVX2
            if (!InverseDctPairAvx2(waiting, block)) {
                InverseDctWithAc(waiting, c->simd);
                InverseDctWithAc(block, c->simd);
            }
#endif
            waiting = nullptr;
        }
    }
    if (waiting != nullptr) {
#if DUNMERE_AVX2
        if (InverseDctOneAvx2(waiting)) return;
#endif
        InverseDctWithAc(waiting, c->simd);
    }
}
