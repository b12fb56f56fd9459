// Logical palettes for bitmaps, so that pictures keep their colours on a
// 256-colour display.
#include "dib.h"

#include <cstddef>

namespace {

enum : WORD { PALETTE_VERSION = 0x300, TRUE_COLOUR_ENTRIES = 256 };
enum : unsigned { CUBE_LEVELS = 6, CUBE_ENTRIES = CUBE_LEVELS * CUBE_LEVELS * CUBE_LEVELS };

LOGPALETTE* AllocatePaletteRecord(WORD entries) {
    auto* record = static_cast<LOGPALETTE*>(
        LocalAlloc(LPTR, offsetof(LOGPALETTE, palPalEntry) + entries * sizeof(PALETTEENTRY)));
    if (!record) return nullptr;
    record->palVersion = PALETTE_VERSION;
    record->palNumEntries = entries;
    return record;
}

// A true-colour picture has no table to take colours from. A uniform 6×6×6
// colour cube with a finer grey ramp in the remaining 40 entries serves any
// photograph evenly on a palette display, and needs no pixel bytes at all, so
// nothing is read beyond the header.
void FillTrueColourEntries(LOGPALETTE* record) {
    unsigned i = 0;
    for (unsigned r = 0; r < CUBE_LEVELS; ++r)
        for (unsigned g = 0; g < CUBE_LEVELS; ++g)
            for (unsigned b = 0; b < CUBE_LEVELS; ++b, ++i) {
                record->palPalEntry[i].peRed = static_cast<BYTE>(r * 51);
                record->palPalEntry[i].peGreen = static_cast<BYTE>(g * 51);
                record->palPalEntry[i].peBlue = static_cast<BYTE>(b * 51);
            }
    // A grey ramp of 255/41 steps between the cube's own six greys fills the rest.
    for (unsigned step = 1; i < TRUE_COLOUR_ENTRIES; ++step) {
        const BYTE level = static_cast<BYTE>((step * 255u + 20u) / 41u);
        if (level % 51 == 0) continue;
        record->palPalEntry[i].peRed = record->palPalEntry[i].peGreen =
            record->palPalEntry[i].peBlue = level;
        ++i;
    }
}

}  // namespace

HPALETTE PaletteFromHeader(const BITMAPINFOHEADER* header, SIZE_T blockBytes) {
    if (!header || blockBytes < sizeof(BITMAPINFOHEADER) ||
        header->biSize != sizeof(BITMAPINFOHEADER))
        return nullptr;
    const auto* table =
        reinterpret_cast<const RGBQUAD*>(reinterpret_cast<const BYTE*>(header) + header->biSize);
    const WORD count = ColorCount(header);
    // A header may name up to 65535 entries (256 KB); only a table the block
    // really holds is read.
    if (uint64_t(sizeof(BITMAPINFOHEADER)) + uint64_t(count) * sizeof(RGBQUAD) > blockBytes)
        return nullptr;
    LOGPALETTE* record = nullptr;
    if (count != 0) {
        record = AllocatePaletteRecord(count);
        if (!record) return nullptr;
        for (WORD i = 0; i < count; ++i) {
            record->palPalEntry[i].peRed = table[i].rgbRed;
            record->palPalEntry[i].peGreen = table[i].rgbGreen;
            record->palPalEntry[i].peBlue = table[i].rgbBlue;
        }
    } else if (header->biBitCount == 24) {
        record = AllocatePaletteRecord(TRUE_COLOUR_ENTRIES);
        if (!record) return nullptr;
        FillTrueColourEntries(record);
    } else {
        return nullptr;
    }
    HPALETTE palette = CreatePalette(record);
    LocalFree(record);
    return palette;
}

HPALETTE PaletteFromDib(HGLOBAL dib) {
    if (!dib) return nullptr;
    const auto* header = static_cast<const BITMAPINFOHEADER*>(GlobalLock(dib));
    if (!header) return nullptr;
    HPALETTE palette = PaletteFromHeader(header, GlobalSize(dib));
    GlobalUnlock(dib);
    return palette;
}
