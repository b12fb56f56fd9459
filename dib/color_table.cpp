// Sizes of a bitmap's colour table, for the two header forms a bitmap can carry.
#include "dib.h"

#include <cstring>

namespace {

enum : DWORD { CORE_HEADER_SIZE = 12 };

uint32_t FirstField(const void* header) {
    uint32_t size;
    std::memcpy(&size, header, sizeof size);
    return size;
}

uint16_t ColorsForDepth(unsigned bits) {
    switch (bits) {
        case 1: return 2;
        case 4: return 16;
        case 8: return 256;
        default: return 0;  // 16, 24 and 32 bits carry no table unless biClrUsed asks for one
    }
}

}  // namespace

uint16_t ColorCount(const void* header) {
    if (FirstField(header) == CORE_HEADER_SIZE) {
        BITMAPCOREHEADER core;
        std::memcpy(&core, header, sizeof core);
        return ColorsForDepth(core.bcBitCount);
    }
    BITMAPINFOHEADER info;
    std::memcpy(&info, header, sizeof info);
    if (info.biClrUsed != 0) return static_cast<uint16_t>(info.biClrUsed);
    return ColorsForDepth(info.biBitCount);
}

uint16_t ColorTableBytes(const void* header) {
    const unsigned entryBytes =
        FirstField(header) == CORE_HEADER_SIZE ? sizeof(RGBTRIPLE) : sizeof(RGBQUAD);
    return static_cast<uint16_t>(ColorCount(header) * entryBytes);
}
