// The last stage of the photo output: scaled rows, area-averaged to the
// target size where it differs, written into the DIB upright.
//
// Area averaging (in both directions, shrinking or enlarging): a source pixel
// of a row of S pixels that becomes T pixels is T units wide and a target
// pixel S units, so every overlap is a whole number of units and a target's
// weights add up to S. Rows are first averaged across into 8.8 fixed point,
// then summed down, one target row at a time, and rounded when it is complete.
//
// The orientation is applied as each pixel is written: target pixel (x, y) of
// the stored orientation goes to the place its EXIF orientation gives it.
#include "photo_context.h"

namespace {

// Target pixel (x, y) in the stored orientation -> upright (X, Y).
void Upright(int orientation, std::int32_t width, std::int32_t height, std::int32_t x,
             std::int32_t y, std::int32_t* ux, std::int32_t* uy) {
    switch (orientation) {
        case 2: *ux = width - 1 - x, *uy = y; break;
        case 3: *ux = width - 1 - x, *uy = height - 1 - y; break;
        case 4: *ux = x, *uy = height - 1 - y; break;
        case 5: *ux = y, *uy = x; break;
        case 6: *ux = height - 1 - y, *uy = x; break;
        case 7: *ux = height - 1 - y, *uy = width - 1 - x; break;
        case 8: *ux = y, *uy = width - 1 - x; break;
        default: *ux = x, *uy = y; break;
    }
}

std::ptrdiff_t DibOffset(const PhotoOutput* out, int orientation, std::int32_t x, std::int32_t y) {
    std::int32_t ux, uy;
    Upright(orientation, out->targetWidth, out->targetHeight, x, y, &ux, &uy);
    return static_cast<std::ptrdiff_t>(out->dibHeight - 1 - uy) * out->stride +
           3 * static_cast<std::ptrdiff_t>(ux);
}

// (2^32 + n / 2) / n: v * Reciprocal(n) >> 32 is about v / n.
std::uint64_t Reciprocal(std::int64_t n) {
    return ((1ull << 32) + static_cast<std::uint64_t>(n) / 2) / static_cast<std::uint64_t>(n);
}

// A scaled row averaged across into the target width, 8.8 fixed point.
void AverageAcross(const PhotoOutput& o, const std::uint8_t* bgr, std::uint32_t* sums) {
    const std::uint32_t middle = static_cast<std::uint32_t>(o.targetWidth);
    const std::uint64_t scale = Reciprocal(o.scaledWidth);
    for (std::int32_t j = 0; j < o.targetWidth; ++j) {
        const std::int32_t* span = o.columns + 4 * j;
        std::int32_t first = span[0], last = span[1];
        for (int ch = 0; ch < 3; ++ch) {
            std::uint32_t sum = static_cast<std::uint32_t>(span[2]) * bgr[3 * first + ch];
            if (last > first) {
                for (std::int32_t i = first + 1; i < last; ++i) sum += middle * bgr[3 * i + ch];
                sum += static_cast<std::uint32_t>(span[3]) * bgr[3 * last + ch];
            }
            sums[3 * j + ch] = static_cast<std::uint32_t>((sum * scale) >> 24);
        }
    }
}

}  // namespace

DecoderResult PrepareResampler(PhotoContext* p) {
    PhotoOutput& o = p->output;
    o.resample = o.targetWidth != o.scaledWidth || o.targetHeight != o.scaledHeight;
    if (!o.resample) return 0;
    DecoderResult failure = 0;
    void* address[4];
    const std::uint64_t across = std::uint64_t(o.targetWidth);
    if (!ObtainPhotoBlock(p, 16 * across, &address[0], &failure) ||
        !ObtainPhotoBlock(p, 12 * across, &address[1], &failure) ||
        !ObtainPhotoBlock(p, 12 * across, &address[2], &failure) ||
        !ObtainPhotoBlock(p, 3 * across, &address[3], &failure))
        return failure;
    o.columns = static_cast<std::int32_t*>(address[0]);
    o.columnSums = static_cast<std::uint32_t*>(address[1]);
    o.rowSums = static_cast<std::uint32_t*>(address[2]);
    o.targetRow = static_cast<std::uint8_t*>(address[3]);
    // Per target column: its first and last source pixel and their weights.
    const std::int64_t s = o.scaledWidth, t = o.targetWidth;
    for (std::int64_t j = 0; j < t; ++j) {
        std::int64_t start = j * s, end = start + s;
        std::int64_t first = start / t, last = (end - 1) / t;
        std::int32_t* span = o.columns + 4 * j;
        span[0] = static_cast<std::int32_t>(first);
        span[1] = static_cast<std::int32_t>(last);
        span[2] = static_cast<std::int32_t>((first + 1) * t < end ? (first + 1) * t - start : s);
        span[3] = static_cast<std::int32_t>(end - last * t);
    }
    return 0;
}

void TakeScaledRow(PhotoContext* p, const std::uint8_t* bgr) {
    PhotoOutput& o = p->output;
    const int orientation = p->frame.orientation;
    if (!o.resample) return WriteTargetRow(&o, orientation, o.nextScaledRow, bgr);
    AverageAcross(o, bgr, o.columnSums);
    // Source row i covers [i T, (i + 1) T), target row j [j S, (j + 1) S).
    const std::int64_t s = o.scaledHeight, t = o.targetHeight;
    const std::int64_t low = o.nextScaledRow * t, high = low + t;
    const std::int32_t values = 3 * o.targetWidth;
    while (o.nextTargetRow < o.targetHeight) {
        std::int64_t targetLow = o.nextTargetRow * s, targetHigh = targetLow + s;
        std::int64_t weight =
            (high < targetHigh ? high : targetHigh) - (low > targetLow ? low : targetLow);
        if (weight <= 0) return;
        std::uint32_t w = static_cast<std::uint32_t>(weight);
        for (std::int32_t i = 0; i < values; ++i) o.rowSums[i] += w * o.columnSums[i];
        if (targetHigh > high) return;  // the target row goes on into the next source row
        const std::uint64_t scale = Reciprocal(s);
        for (std::int32_t i = 0; i < values; ++i) {
            std::uint64_t v = (o.rowSums[i] * scale + (1ull << 39)) >> 40;
            o.targetRow[i] = static_cast<std::uint8_t>(v > 255 ? 255 : v);
            o.rowSums[i] = 0;
        }
        WriteTargetRow(&o, orientation, o.nextTargetRow, o.targetRow);
        ++o.nextTargetRow;
    }
}

void WriteTargetRow(PhotoOutput* out, int orientation, std::int32_t y, const std::uint8_t* bgr) {
    std::uint8_t* at = out->pixels + DibOffset(out, orientation, 0, y);
    const std::ptrdiff_t step =
        out->targetWidth > 1 ? DibOffset(out, orientation, 1, y) - DibOffset(out, orientation, 0, y)
                             : 0;
    for (std::int32_t x = 0; x < out->targetWidth; ++x, at += step, bgr += 3) {
        at[0] = bgr[0];
        at[1] = bgr[1];
        at[2] = bgr[2];
    }
}
