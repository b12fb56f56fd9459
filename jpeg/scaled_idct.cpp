// The inverse transforms of the photo path, at the four scales: 8 x 8, and
// the reduced 4 x 4, 2 x 2 and 1 x 1 transforms, whose outputs are the means
// of the 2 x 2, 4 x 4 or 8 x 8 samples the full transform would give, taken
// in the DCT domain: coefficient u's weight at output k is C(u)/2 times the
// mean of cos((2x + 1) u pi / 16) over the x that output stands for. Only the
// kept coefficients are read (see PlanKeptCoefficients): frequencies whose
// weights vanish (4 at 1/2; 2, 4, 6 at 1/4; all but DC at 1/8) never are.
//
// Rows then columns, 13-bit weights, two guard bits between the passes, every
// shift rounded, then the level shift of +128 and the clamp to 0..255. Inputs
// are dequantised 16-bit values; those of a real 8-bit picture stay far inside
// that range, and so do the row results, whose clamp keeps the column pass
// inside 32 bits for any input.
#include "photo_context.h"

namespace {

constexpr int CONST_BITS = 13, PASS1_BITS = 2;

// 8192 C(u)/2 mean(cos((2x + 1) u pi / 16)) per output k (rows) and frequency u.
constexpr std::int16_t WEIGHTS_8[8][8] = {{2896, 4017, 3784, 3406, 2896, 2276, 1567, 799},
                                          {2896, 3406, 1567, -799, -2896, -4017, -3784, -2276},
                                          {2896, 2276, -1567, -4017, -2896, 799, 3784, 3406},
                                          {2896, 799, -3784, -2276, 2896, 3406, -1567, -4017},
                                          {2896, -799, -3784, 2276, 2896, -3406, -1567, 4017},
                                          {2896, -2276, -1567, 4017, -2896, -799, 3784, -3406},
                                          {2896, -3406, 1567, 799, -2896, 4017, -3784, 2276},
                                          {2896, -4017, 3784, -3406, 2896, -2276, 1567, -799}};
constexpr std::int16_t WEIGHTS_4[4][8] = {{2896, 3711, 2676, 1303, 0, -871, -1108, -738},
                                          {2896, 1537, -2676, -3146, 0, 2102, 1108, -306},
                                          {2896, -1537, -2676, 3146, 0, -2102, 1108, 306},
                                          {2896, -3711, 2676, -1303, 0, 871, -1108, 738}};
constexpr std::int16_t WEIGHTS_2[2][8] = {{2896, 2624, 0, -922, 0, 616, 0, -522},
                                          {2896, -2624, 0, 922, 0, -616, 0, 522}};
constexpr std::int16_t WEIGHTS_1[1][8] = {{2896, 0, 0, 0, 0, 0, 0, 0}};

inline std::int32_t Descale(std::int32_t v, int bits) { return (v + (1 << (bits - 1))) >> bits; }

inline std::int32_t ClampRow(std::int32_t v) { return v < -32768 ? -32768 : v > 32767 ? 32767 : v; }

inline std::uint8_t Sample(std::int32_t v) {
    return static_cast<std::uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
}

const std::int32_t OUT_SHIFT = CONST_BITS + PASS1_BITS;
const std::int32_t OUT_BIAS = (128 << OUT_SHIFT) + (1 << (OUT_SHIFT - 1));

// The full eight-point step in its even and odd halves: x[0], x[stride], ...
// in, y[0..7] out (not descaled).
template <typename T>
inline void Step8(const T* x, int stride, std::int32_t* y) {
    const auto& w = WEIGHTS_8[0];
    std::int32_t x0 = x[0], x1 = x[stride], x2 = x[2 * stride], x3 = x[3 * stride],
                 x4 = x[4 * stride], x5 = x[5 * stride], x6 = x[6 * stride], x7 = x[7 * stride];
    std::int32_t e0 = w[0] * (x0 + x4), e1 = w[0] * (x0 - x4);
    std::int32_t m = w[2] * x2 + w[6] * x6, n = w[6] * x2 - w[2] * x6;
    std::int32_t t0 = e0 + m, t3 = e0 - m, t1 = e1 + n, t2 = e1 - n;
    std::int32_t p = w[1] * x1 + w[3] * x3 + w[5] * x5 + w[7] * x7;
    std::int32_t q = w[3] * x1 - w[7] * x3 - w[1] * x5 - w[5] * x7;
    std::int32_t r = w[5] * x1 - w[1] * x3 + w[7] * x5 + w[3] * x7;
    std::int32_t s = w[7] * x1 - w[5] * x3 + w[3] * x5 - w[1] * x7;
    y[0] = t0 + p;
    y[7] = t0 - p;
    y[1] = t1 + q;
    y[6] = t1 - q;
    y[2] = t2 + r;
    y[5] = t2 - r;
    y[3] = t3 + s;
    y[4] = t3 - s;
}

void Transform8(const std::int16_t* in, std::uint8_t* out, std::int32_t outStride) {
    std::int32_t rows[64], y[8];
    for (int r = 0; r < 8; ++r) {
        Step8(in + 8 * r, 1, y);
        for (int k = 0; k < 8; ++k)
            rows[8 * r + k] = ClampRow(Descale(y[k], CONST_BITS - PASS1_BITS));
    }
    for (int c = 0; c < 8; ++c) {
        Step8(rows + c, 8, y);
        for (int k = 0; k < 8; ++k) out[k * outStride + c] = Sample((y[k] + OUT_BIAS) >> OUT_SHIFT);
    }
}

// Any size from the kept coefficients only, with the component's weights.
void TransformKept(const PhotoComponent& comp, const std::int16_t* in, std::uint8_t* out,
                   std::int32_t outStride) {
    const int n = comp.blockSize, count = comp.keptCount;
    std::int32_t rows[8 * 8];  // kept row i, output column k
    for (int i = 0; i < count; ++i) {
        const std::int16_t* row = in + 8 * comp.kept[i];
        for (int k = 0; k < n; ++k) {
            std::int32_t sum = 0;
            for (int j = 0; j < count; ++j) sum += comp.weights[k][j] * row[comp.kept[j]];
            rows[8 * i + k] = ClampRow(Descale(sum, CONST_BITS - PASS1_BITS));
        }
    }
    for (int c = 0; c < n; ++c)
        for (int k = 0; k < n; ++k) {
            std::int32_t sum = 0;
            for (int i = 0; i < count; ++i) sum += comp.weights[k][i] * rows[8 * i + c];
            out[k * outStride + c] = Sample((sum + OUT_BIAS) >> OUT_SHIFT);
        }
}

}  // namespace

const std::int16_t* TransformWeights(int size) {
    return size == 8   ? WEIGHTS_8[0]
           : size == 4 ? WEIGHTS_4[0]
           : size == 2 ? WEIGHTS_2[0]
                       : WEIGHTS_1[0];
}

void ScaledInverseDct(const PhotoComponent& comp, std::int16_t* coefficients, std::uint8_t* out,
                      std::int32_t outStride, SimdLevel) {
    if (comp.blockSize == 1) {
        out[0] = Sample((coefficients[0] + (128 << 3) + 4) >> 3);  // DC / 8
    } else if (comp.blockSize == 8 && comp.keptCount == 8) {
        Transform8(coefficients, out, outStride);
    } else {
        TransformKept(comp, coefficients, out, outStride);
    }
}
