// A picture reduced to a smaller size by area averaging: each new pixel is
// the mean of the part of the picture it covers, the shares of the pixels on
// its edges counted exactly, in integers. One pass over the picture's rows,
// with two rows of sums, so that a picture of any size is reduced in slices.
#include "dib.h"

#include <cstring>

namespace {

enum : DWORD { INFO_HEADER_SIZE = 40 };
enum : UINT { BLOCK_FLAGS = GMEM_MOVEABLE | GMEM_ZEROINIT };
enum : uint64_t { PIXELS_BETWEEN_YIELDS = 256 * 1024 };
// Sums of width x height shares of 255 must fit 64 bits with room to spare.
constexpr uint64_t SIZE_PRODUCT_LIMIT = uint64_t(1) << 44;

struct Picture {
    const unsigned char* rows;
    const RGBQUAD* table;
    DWORD colors;
    DWORD stride;
    LONG width, height;
    bool topDown;
    WORD bits;
};

bool Supported(const BITMAPINFOHEADER& info) {
    if (info.biCompression != BI_RGB) return false;
    switch (info.biBitCount) {
        case 1:
        case 4:
        case 8:
        case 16:
        case 24:
        case 32: return true;
        default: return false;
    }
}

// Row `y` counted from the top, as blue, green, red bytes.
void ExpandRow(const Picture& p, LONG y, unsigned char* bgr) {
    const unsigned char* row = p.rows + DWORD(p.topDown ? y : p.height - 1 - y) * SIZE_T(p.stride);
    for (LONG x = 0; x < p.width; ++x, bgr += 3) {
        if (p.bits <= 8) {
            const unsigned shift = 8 - p.bits - (x * p.bits) % 8;
            const unsigned index = (row[x * p.bits / 8] >> shift) & ((1u << p.bits) - 1);
            // An index beyond the table, which a file may hold, is black.
            const RGBQUAD c = index < p.colors ? p.table[index] : RGBQUAD{0, 0, 0, 0};
            bgr[0] = c.rgbBlue;
            bgr[1] = c.rgbGreen;
            bgr[2] = c.rgbRed;
        } else if (p.bits == 16) {  // 5 bits each of red, green and blue
            const unsigned v = row[2 * x] | row[2 * x + 1] << 8;
            for (int c = 0; c < 3; ++c) {
                const unsigned five = (v >> (5 * c)) & 31;
                bgr[c] = static_cast<unsigned char>(five << 3 | five >> 2);
            }
        } else {
            const unsigned char* pixel = row + x * (p.bits / 8);
            bgr[0] = pixel[0];
            bgr[1] = pixel[1];
            bgr[2] = pixel[2];
        }
    }
}

// Source pixel i of `from` covers [i * to, (i + 1) * to) on a scale where the
// target pixel j covers [j * from, (j + 1) * from). With to <= from it meets
// one or two target pixels: the first and its share of `to`.
struct Share {
    uint64_t first, weight;
};
Share ShareOf(uint64_t i, uint64_t from, uint64_t to) {
    const uint64_t start = i * to, first = start / from;
    const uint64_t firstEnd = (first + 1) * from, end = start + to;
    return {first, (end < firstEnd ? end : firstEnd) - start};
}

struct Work {
    unsigned char* expanded;  // one source row
    uint64_t* across;         // that row reduced across: width x 3 sums
    uint64_t* rowSums[2];     // the target row being filled, and the next one
};

}  // namespace

HGLOBAL ReduceDib(HGLOBAL dib, LONG width, LONG height, DibYield yield, void* argument) {
    BITMAPINFOHEADER info;
    if (!dib || width <= 0 || height <= 0 || !QueryDibHeader(dib, &info)) return nullptr;
    const LONG sourceHeight = info.biHeight < 0 ? -info.biHeight : info.biHeight;
    if (info.biSize != INFO_HEADER_SIZE || !Supported(info) || width > info.biWidth ||
        height > sourceHeight ||
        uint64_t(info.biWidth) * uint64_t(sourceHeight) > SIZE_PRODUCT_LIMIT)
        return nullptr;
    DWORD sourceRow, targetImage, targetRow;
    if (!RowImageBytes(info.biWidth, 1, info.biBitCount, &sourceRow) ||
        !RowImageBytes(width, height, 24, &targetImage) || !RowImageBytes(width, 1, 24, &targetRow))
        return nullptr;

    HGLOBAL target = GlobalAlloc(BLOCK_FLAGS, INFO_HEADER_SIZE + SIZE_T(targetImage));
    const SIZE_T sumBytes = SIZE_T(width) * 3 * sizeof(uint64_t);
    HGLOBAL scratch = GlobalAlloc(BLOCK_FLAGS, SIZE_T(info.biWidth) * 3 + 3 * sumBytes);
    const SIZE_T blockBytes = GlobalSize(dib);
    const auto* source = static_cast<const unsigned char*>(GlobalLock(dib));
    auto* out = target ? static_cast<unsigned char*>(GlobalLock(target)) : nullptr;
    auto* work = scratch ? static_cast<unsigned char*>(GlobalLock(scratch)) : nullptr;
    const SIZE_T offset = source ? DibBitsOffset(source, blockBytes) : 0;
    bool done = source && out && work && offset != 0;
    if (done) {
        Picture p{source + offset,
                  reinterpret_cast<const RGBQUAD*>(source + INFO_HEADER_SIZE),
                  info.biBitCount <= 8 ? ColorCount(source) : 0u,
                  sourceRow,
                  info.biWidth,
                  sourceHeight,
                  info.biHeight < 0,
                  info.biBitCount};
        BITMAPINFOHEADER header{};
        header.biSize = INFO_HEADER_SIZE;
        header.biWidth = width;
        header.biHeight = height;
        header.biPlanes = 1;
        header.biBitCount = 24;
        header.biSizeImage = targetImage;
        std::memcpy(out, &header, sizeof header);
        unsigned char* targetRows = out + INFO_HEADER_SIZE;

        // The sums first, where the block's own alignment suits them.
        Work w{work + 3 * sumBytes, reinterpret_cast<uint64_t*>(work), {}};
        w.rowSums[0] = w.across + SIZE_T(width) * 3;
        w.rowSums[1] = w.rowSums[0] + SIZE_T(width) * 3;
        const uint64_t area = uint64_t(p.width) * uint64_t(p.height);
        uint64_t pixelsSinceYield = 0;
        LONG row = 0;  // the target row rowSums[0] fills, from the top
        for (LONG y = 0; y < p.height && done; ++y) {
            ExpandRow(p, y, w.expanded);
            std::memset(w.across, 0, sumBytes);
            for (LONG x = 0; x < p.width; ++x) {
                const Share s = ShareOf(x, p.width, width);
                for (int c = 0; c < 3; ++c) {
                    const uint64_t v = w.expanded[3 * x + c];
                    w.across[3 * s.first + c] += v * s.weight;
                    if (s.weight < uint64_t(width))
                        w.across[3 * (s.first + 1) + c] += v * (width - s.weight);
                }
            }
            const Share s = ShareOf(y, p.height, height);
            for (SIZE_T i = 0; i < SIZE_T(width) * 3; ++i) {
                w.rowSums[0][i] += w.across[i] * s.weight;
                if (s.weight < uint64_t(height))
                    w.rowSums[1][i] += w.across[i] * (height - s.weight);
            }
            // The target row is full once the source row reaches its end.
            if (uint64_t(y + 1) * height >= uint64_t(row + 1) * p.height) {
                unsigned char* put = targetRows + SIZE_T(height - 1 - row) * targetRow;
                for (SIZE_T i = 0; i < SIZE_T(width) * 3; ++i)
                    put[i] = static_cast<unsigned char>((w.rowSums[0][i] + area / 2) / area);
                uint64_t* emptied = w.rowSums[0];
                w.rowSums[0] = w.rowSums[1];
                w.rowSums[1] = emptied;
                std::memset(w.rowSums[1], 0, sumBytes);
                ++row;
            }
            pixelsSinceYield += uint64_t(p.width);
            if (yield && pixelsSinceYield >= PIXELS_BETWEEN_YIELDS) {
                pixelsSinceYield = 0;
                done = yield(argument);
            }
        }
        done = done && row == height;
    }
    if (source) GlobalUnlock(dib);
    if (work) GlobalUnlock(scratch);
    if (scratch) GlobalFree(scratch);
    if (out) GlobalUnlock(target);
    if (!done && target) {
        GlobalFree(target);
        target = nullptr;
    }
    return target;
}
