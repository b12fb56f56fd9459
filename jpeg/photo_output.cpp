// The photo's output stage, up to the scaled rows: the choice of scale from
// the box, the transform size of each component, the rings of sample rows
// the transforms write into, and for every scaled row the components brought
// to the scaled grid and converted to blue, green, red.
//
// Sizes follow libjpeg's rules, so that a decode at 1/N has its size: the
// scaled frame is ceil(w / N) x ceil(h / N); a subsampled component is
// transformed at a larger size where that makes its grid the frame's (4:2:0
// at 1/2: chroma through the 8 x 8 transform, no upsampling), doubling while
// both axes allow. What is left is upsampled: a 2:1 axis with the triangle
// filter, any other whole ratio by replication, a fractional one (factors
// such as 3 against 4) by the nearest sample.
#include <cstring>

#include "photo_context.h"

namespace {

std::int32_t CeilDiv(std::int64_t a, std::int64_t b) {
    return static_cast<std::int32_t>((a + b - 1) / b);
}

// Contain-fit of the upright picture into the box: the largest size of its
// shape inside it. Without fitToBox only pictures larger than the box shrink.
void FitIntoBox(std::int64_t width, std::int64_t height, const PhotoRequest& r,
                std::int32_t* fitWidth, std::int32_t* fitHeight) {
    *fitWidth = static_cast<std::int32_t>(width);
    *fitHeight = static_cast<std::int32_t>(height);
    std::int64_t boxWidth = r.boxWidth, boxHeight = r.boxHeight;
    if (boxWidth <= 0 || boxHeight <= 0) return;  // no box: its own size
    if (!r.fitToBox && width <= boxWidth && height <= boxHeight) return;
    if (width * boxHeight >= height * boxWidth) {  // the width meets the box first
        *fitWidth = static_cast<std::int32_t>(boxWidth);
        std::int64_t h = (2 * height * boxWidth + width) / (2 * width);
        *fitHeight = static_cast<std::int32_t>(h < 1 ? 1 : h);
    } else {
        *fitHeight = static_cast<std::int32_t>(boxHeight);
        std::int64_t w = (2 * width * boxHeight + height) / (2 * height);
        *fitWidth = static_cast<std::int32_t>(w < 1 ? 1 : w);
    }
}

// JFIF's YCbCr to RGB (BT.601, full range) in 16-bit fixed point, rounded.
struct ColourTables {
    std::int32_t crRed[256], cbBlue[256], cbGreen[256], crGreen[256];
};

constexpr ColourTables BuildColourTables() {
    ColourTables t{};
    for (int i = 0; i < 256; ++i) {
        std::int32_t c = i - 128;
        t.crRed[i] = (91881 * c + 32768) >> 16;    // 1.402
        t.cbBlue[i] = (116130 * c + 32768) >> 16;  // 1.772
        t.cbGreen[i] = -22554 * c;                 // 0.344136
        t.crGreen[i] = -46802 * c + 32768;         // 0.714136, with the rounding
    }
    return t;
}

constexpr ColourTables COLOUR = BuildColourTables();

inline std::uint8_t Clamp255(std::int32_t v) {
    return static_cast<std::uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
}

void ConvertRow(PhotoColour colour, const std::uint8_t* const* rows, std::int32_t width,
                std::uint8_t* bgr) {
    const std::uint8_t *a = rows[0], *b = rows[1], *c = rows[2];
    for (std::int32_t x = 0; x < width; ++x, bgr += 3) {
        if (colour == COLOUR_GREY) {
            bgr[0] = bgr[1] = bgr[2] = a[x];
        } else if (colour == COLOUR_RGB) {
            bgr[0] = c[x];
            bgr[1] = b[x];
            bgr[2] = a[x];
        } else {
            std::int32_t y = a[x];
            bgr[0] = Clamp255(y + COLOUR.cbBlue[b[x]]);
            bgr[1] = Clamp255(y + ((COLOUR.cbGreen[b[x]] + COLOUR.crGreen[c[x]]) >> 16));
            bgr[2] = Clamp255(y + COLOUR.crRed[c[x]]);
        }
    }
}

inline const std::uint8_t* RingRow(const PhotoComponent& comp, std::int32_t row) {
    return comp.ring + static_cast<std::ptrdiff_t>(row % comp.ringRows) * comp.ringStride;
}

// The component rows scaled row y reads (the nearest, and the other one of
// the triangle filter); false while they are not in the ring yet. `final`:
// no more rows come, so the last one written is the edge.
bool SourceRows(const PhotoComponent& comp, std::int32_t y, bool fancy, bool final,
                std::int32_t* nearRow, std::int32_t* farRow) {
    std::int32_t edge = comp.sampleHeight;
    if (final && comp.rowsReady < edge) edge = comp.rowsReady;
    std::int32_t n = y * comp.vDen / comp.vNum;  // below 2^16 x 32
    if (n >= comp.sampleHeight) n = comp.sampleHeight - 1;
    if (n >= edge || n >= comp.rowsReady) return false;
    std::int32_t f = n;
    if (fancy && comp.vNum == 2 * comp.vDen) {
        f = (y & 1) ? n + 1 : n - 1;
        f = f < 0 ? 0 : f >= edge ? edge - 1 : f;
    }
    if (f >= comp.rowsReady) return false;
    *nearRow = n;
    *farRow = f;
    return true;
}

// Component row (or its vertical triangle, `weighted`, four times the samples)
// across the scaled width.
template <typename T, int Weight>
void Widen(const PhotoComponent& comp, const T* in, bool fancy, std::int32_t width,
           std::uint8_t* out) {
    const std::int32_t last = comp.sampleWidth - 1;
    if (fancy && comp.hNum == 2 * comp.hDen) {
        // Triangle: each output is 3/4 of its sample and 1/4 of the next one out.
        // The rounding alternates between the two outputs of a sample, so that
        // halves do not all round the same way.
        const int shift = Weight == 1 ? 2 : 4;
        for (std::int32_t x = 0; x < width; ++x) {
            std::int32_t j = x >> 1, k = (x & 1) ? (j < last ? j + 1 : last) : (j > 0 ? j - 1 : 0);
            int bias = Weight == 1 ? 1 + (x & 1) : 8 - (x & 1);
            out[x] = static_cast<std::uint8_t>((3 * in[j] + in[k] + bias) >> shift);
        }
        return;
    }
    for (std::int32_t x = 0; x < width; ++x) {
        std::int32_t j = x * comp.hDen / comp.hNum;  // below 2^16 x 32: no 64-bit division
        std::int32_t v = in[j > last ? last : j];
        out[x] = static_cast<std::uint8_t>(Weight == 1 ? v : (v + 2) >> 2);
    }
}

// Scaled row y of a component, on the frame's grid.
const std::uint8_t* ScaledComponentRow(PhotoContext* p, int index, std::int32_t nearRow,
                                       std::int32_t farRow) {
    PhotoOutput& o = p->output;
    const PhotoComponent& comp = p->frame.components[index];
    const std::uint8_t* a = RingRow(comp, nearRow);
    bool vertical = o.fancy && comp.vNum == 2 * comp.vDen;
    if (!vertical && comp.hNum == comp.hDen) return a;  // already on the frame's grid
    std::uint8_t* out = o.upsampled[index];
    if (!vertical) {
        Widen<std::uint8_t, 1>(comp, a, o.fancy, o.scaledWidth, out);
        return out;
    }
    const std::uint8_t* b = RingRow(comp, farRow);
    for (std::int32_t x = 0; x < comp.sampleWidth; ++x)
        o.weighted[x] = static_cast<std::int16_t>(3 * a[x] + b[x]);
    Widen<std::int16_t, 4>(comp, o.weighted, o.fancy, o.scaledWidth, out);
    return out;
}

// Per component: its transform size, its extent, its ratios and its ring.
DecoderResult PrepareComponents(PhotoContext* p) {
    PhotoFrame& f = p->frame;
    const int k = f.blockSize;
    DecoderResult failure = 0;
    for (int i = 0; i < f.componentCount; ++i) {
        PhotoComponent& comp = f.components[i];
        int size = k;
        while (size < 8 && (f.hMax * k) % (comp.h * size * 2) == 0 &&
               (f.vMax * k) % (comp.v * size * 2) == 0)
            size *= 2;
        comp.blockSize = static_cast<std::uint8_t>(size);
        comp.hNum = f.hMax * k;
        comp.hDen = comp.h * size;
        comp.vNum = f.vMax * k;
        comp.vDen = comp.v * size;
        // Where the target is smaller than the decode, finer detail than it
        // shows need not be kept: per axis, the share of the component's
        // frequencies that survive, plus one.
        std::int64_t across = std::int64_t(p->output.targetWidth) * comp.hNum,
                     down = std::int64_t(p->output.targetHeight) * comp.vNum;
        std::int64_t shownAcross =
                         (across * size + std::int64_t(p->output.scaledWidth) * comp.hDen - 1) /
                         (std::int64_t(p->output.scaledWidth) * comp.hDen),
                     shownDown =
                         (down * size + std::int64_t(p->output.scaledHeight) * comp.vDen - 1) /
                         (std::int64_t(p->output.scaledHeight) * comp.vDen);
        std::int64_t shown = shownAcross > shownDown ? shownAcross : shownDown;
        bool smaller = p->output.targetWidth < p->output.scaledWidth &&
                       p->output.targetHeight < p->output.scaledHeight;
        PlanKeptCoefficients(&comp, smaller && shown + 1 < 8 ? static_cast<int>(shown + 1) : 8);
        comp.sampleWidth = CeilDiv(std::int64_t(f.width) * comp.h * size, f.hMax * 8);
        comp.sampleHeight = CeilDiv(std::int64_t(f.height) * comp.v * size, f.vMax * 8);
        comp.ringStride = comp.blocksAcross * size;
        comp.ringRows = 3 * comp.v * size;
        void* address = nullptr;
        if (!ObtainPhotoBlock(p, std::uint64_t(comp.ringStride) * comp.ringRows, &address,
                              &failure))
            return failure;
        comp.ring = static_cast<std::uint8_t*>(address);
        if (!ObtainPhotoBlock(p, std::uint64_t(p->output.scaledWidth) + 8, &address, &failure))
            return failure;
        p->output.upsampled[i] = static_cast<std::uint8_t*>(address);
    }
    return 0;
}

DecoderResult ObtainDib(PhotoOutput& o) {
    std::uint64_t stride = (std::uint64_t(o.dibWidth) * 3 + 3) & ~std::uint64_t(3);
    std::uint64_t bytes = 40 + stride * std::uint64_t(o.dibHeight);
    if (bytes > PHOTO_BLOCK_LIMIT) return DECODER_ALLOC_FAILED;
    o.stride = static_cast<std::int32_t>(stride);
    o.dib = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, static_cast<SIZE_T>(bytes));
    if (o.dib == nullptr) return DECODER_ALLOC_FAILED;
    std::uint8_t* block = static_cast<std::uint8_t*>(GlobalLock(o.dib));
    if (block == nullptr) return DECODER_LOCK_FAILED;
    BITMAPINFOHEADER header = {};
    header.biSize = 40;
    header.biWidth = o.dibWidth;
    header.biHeight = o.dibHeight;
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = BI_RGB;
    header.biSizeImage = static_cast<DWORD>(stride * std::uint64_t(o.dibHeight));
    std::memcpy(block, &header, sizeof header);
    o.pixels = block + 40;
    return 0;
}

}  // namespace

DecoderResult PreparePhotoOutput(PhotoContext* p) {
    PhotoFrame& f = p->frame;
    PhotoOutput& o = p->output;
    const PhotoRequest& r = *p->request;
    p->streaming = !f.progressive && p->scan.componentCount == f.componentCount;

    // The scale: asked for, or the smallest whose decode still covers the
    // fitted size (in the stored orientation).
    bool turned = f.orientation >= 5;
    std::int32_t fitWidth, fitHeight;
    int scale = r.scale;
    if (scale == 1 || scale == 2 || scale == 4 || scale == 8) {
        fitWidth = CeilDiv(turned ? f.height : f.width, scale);
        fitHeight = CeilDiv(turned ? f.width : f.height, scale);
    } else {
        FitIntoBox(turned ? f.height : f.width, turned ? f.width : f.height, r, &fitWidth,
                   &fitHeight);
        std::int32_t needWidth = turned ? fitHeight : fitWidth;
        std::int32_t needHeight = turned ? fitWidth : fitHeight;
        for (scale = 8; scale > 1; scale /= 2)
            if (CeilDiv(f.width, scale) >= needWidth && CeilDiv(f.height, scale) >= needHeight)
                break;
    }
    f.scale = scale;
    f.blockSize = 8 / scale;
    o.scaledWidth = CeilDiv(f.width, scale);
    o.scaledHeight = CeilDiv(f.height, scale);
    o.dibWidth = fitWidth;
    o.dibHeight = fitHeight;
    o.targetWidth = turned ? fitHeight : fitWidth;
    o.targetHeight = turned ? fitWidth : fitHeight;
    o.fancy = f.blockSize > 1;  // as libjpeg: no triangle filter at 1/8

    DecoderResult result = ObtainDib(o);
    if (result == 0) result = PrepareComponents(p);
    if (result == 0 && !p->streaming) result = ObtainCoefficientStore(p);
    DecoderResult failure = 0;
    void* address = nullptr;
    std::int32_t widest = 0;
    for (int i = 0; i < f.componentCount; ++i)
        if (f.components[i].sampleWidth > widest) widest = f.components[i].sampleWidth;
    if (result == 0 && !ObtainPhotoBlock(p, 2 * std::uint64_t(widest), &address, &failure))
        result = failure;
    o.weighted = static_cast<std::int16_t*>(address);
    if (result == 0 && !ObtainPhotoBlock(p, 3 * std::uint64_t(o.scaledWidth), &address, &failure))
        result = failure;
    o.colourRow = static_cast<std::uint8_t*>(address);
    if (result == 0) result = PrepareResampler(p);
    return result;
}

void TransformToRing(PhotoContext* p, PhotoComponent* comp, std::int16_t* coefficients,
                     std::int32_t bx, std::int32_t by) {
    const int size = comp->blockSize;
    std::uint8_t* out =
        comp->ring + static_cast<std::ptrdiff_t>((by * size) % comp->ringRows) * comp->ringStride +
        static_cast<std::ptrdiff_t>(bx) * size;
    ScaledInverseDct(*comp, coefficients, out, comp->ringStride, p->decoder->simd);
}

void WriteReadyRows(PhotoContext* p, bool final) {
    PhotoOutput& o = p->output;
    const PhotoFrame& f = p->frame;
    while (o.nextScaledRow < o.scaledHeight) {
        std::int32_t nearRow[PHOTO_COMPONENTS], farRow[PHOTO_COMPONENTS];
        for (int i = 0; i < f.componentCount; ++i)
            if (!SourceRows(f.components[i], o.nextScaledRow, o.fancy, final, &nearRow[i],
                            &farRow[i]))
                return;
        const std::uint8_t* rows[PHOTO_COMPONENTS] = {};
        for (int i = 0; i < f.componentCount; ++i)
            rows[i] = ScaledComponentRow(p, i, nearRow[i], farRow[i]);
        ConvertRow(f.colour, rows, o.scaledWidth, o.colourRow);
        TakeScaledRow(p, o.colourRow);
        ++o.nextScaledRow;
    }
}
