// How many bytes a bitmap's rows take, and whether a block holds them: the
// checks every reader of outside bitmaps and DIB handles makes first.
#include "dib.h"

#include <cstring>

namespace {

enum : DWORD { CORE_HEADER_SIZE = 12, INFO_HEADER_SIZE = 40, MASKS_BYTES = 12 };
constexpr uint64_t LIMIT_32 = 0xFFFFFFFFu;

}  // namespace

bool RowImageBytes(LONG width, LONG rows, unsigned bits, DWORD* bytes) {
    if (width < 0 || rows < 0) return false;
    // Every step in 64 bits, refused where the 32-bit rule would wrap.
    const uint64_t rowBits = uint64_t(width) * bits + 31;
    if (rowBits > LIMIT_32) return false;
    const uint64_t image = rowBits / 32 * 4 * uint64_t(rows);
    if (image > LIMIT_32) return false;
    *bytes = static_cast<DWORD>(image);
    return true;
}

SIZE_T DibBitsOffset(const void* header, SIZE_T blockBytes) {
    if (blockBytes < sizeof(DWORD)) return 0;
    DWORD headerBytes;
    std::memcpy(&headerBytes, header, sizeof headerBytes);
    LONG width, rows;
    unsigned bits;
    DWORD compression = BI_RGB, sizeImage = 0;
    if (headerBytes == CORE_HEADER_SIZE) {
        if (blockBytes < CORE_HEADER_SIZE) return 0;
        BITMAPCOREHEADER core;
        std::memcpy(&core, header, sizeof core);
        width = core.bcWidth;
        rows = core.bcHeight;
        bits = core.bcBitCount;
    } else {
        if (headerBytes < INFO_HEADER_SIZE || blockBytes < headerBytes) return 0;
        BITMAPINFOHEADER info;
        std::memcpy(&info, header, sizeof info);
        width = info.biWidth;
        // A top-down DIB (negative height) has as many rows as a bottom-up one.
        if (info.biHeight == INT32_MIN) return 0;
        rows = info.biHeight < 0 ? -info.biHeight : info.biHeight;
        bits = info.biBitCount;
        compression = info.biCompression;
        sizeImage = info.biSizeImage;
        // The three colour masks sit right behind a 40-byte header.
        if (compression == BI_BITFIELDS && headerBytes == INFO_HEADER_SIZE &&
            blockBytes < INFO_HEADER_SIZE + MASKS_BYTES)
            return 0;
    }
    DWORD rowBytes = sizeImage;
    if (compression == BI_RGB || compression == BI_BITFIELDS) {
        if (!RowImageBytes(width, rows, bits, &rowBytes)) return 0;
    }
    // The whole table, not ColorTableBytes' 16-bit size: 16384 entries and
    // more would wrap it and put the rows inside the table.
    const uint64_t entryBytes =
        headerBytes == CORE_HEADER_SIZE ? sizeof(RGBTRIPLE) : sizeof(RGBQUAD);
    const uint64_t offset = uint64_t(headerBytes) + ColorCount(header) * entryBytes;
    if (offset + rowBytes > blockBytes) return 0;
    return static_cast<SIZE_T>(offset);
}
