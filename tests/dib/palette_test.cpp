// Logical palettes made from bitmap headers, read back from GDI.
#include "dib.h"

#include <gtest/gtest.h>

#include <set>
#include <vector>

namespace {

struct Dib8 {
    BITMAPINFOHEADER header;
    RGBQUAD colors[3];
};

std::vector<PALETTEENTRY> Entries(HPALETTE palette) {
    std::vector<PALETTEENTRY> entries(GetPaletteEntries(palette, 0, 0, nullptr));
    GetPaletteEntries(palette, 0, static_cast<UINT>(entries.size()), entries.data());
    return entries;
}

TEST(Palette, TakesTheColourTableInOrderWithFlagsCleared) {
    Dib8 dib{};
    dib.header.biSize = sizeof dib.header;
    dib.header.biBitCount = 8;
    dib.header.biClrUsed = 3;
    dib.colors[0] = {10, 20, 30, 0xFF};  // blue, green, red, reserved
    dib.colors[1] = {0, 0, 255, 7};
    dib.colors[2] = {255, 255, 255, 0};
    HPALETTE palette = PaletteFromHeader(&dib.header);
    ASSERT_NE(palette, nullptr);
    std::vector<PALETTEENTRY> e = Entries(palette);
    ASSERT_EQ(e.size(), 3u);
    EXPECT_EQ(e[0].peRed, 30);
    EXPECT_EQ(e[0].peGreen, 20);
    EXPECT_EQ(e[0].peBlue, 10);
    EXPECT_EQ(e[1].peRed, 255);
    EXPECT_EQ(e[1].peBlue, 0);
    for (const PALETTEENTRY& entry : e) EXPECT_EQ(entry.peFlags, 0);
    DeleteObject(palette);
}

TEST(Palette, TrueColourGetsAnEvenCubeAndGreys) {
    BITMAPINFOHEADER header{};
    header.biSize = sizeof header;
    header.biBitCount = 24;
    HPALETTE palette = PaletteFromHeader(&header);
    ASSERT_NE(palette, nullptr);
    std::vector<PALETTEENTRY> e = Entries(palette);
    ASSERT_EQ(e.size(), 256u);
    std::set<unsigned> distinct;
    for (const PALETTEENTRY& entry : e)
        distinct.insert(entry.peRed << 16 | entry.peGreen << 8 | entry.peBlue);
    EXPECT_EQ(distinct.size(), 256u) << "no entry wasted on a repeat";
    EXPECT_TRUE(distinct.count(0x000000) && distinct.count(0xFFFFFF) && distinct.count(0xFF0000) &&
                distinct.count(0x00FF00) && distinct.count(0x0000FF));
    DeleteObject(palette);
}

TEST(Palette, RefusesWhatItCannotBuildFrom) {
    EXPECT_EQ(PaletteFromHeader(nullptr), nullptr);
    BITMAPINFOHEADER header{};
    header.biSize = sizeof(BITMAPCOREHEADER);  // a core header is refused
    header.biBitCount = 8;
    EXPECT_EQ(PaletteFromHeader(&header), nullptr);
    header.biSize = sizeof header;
    for (WORD bits : {16, 32}) {
        header.biBitCount = bits;
        EXPECT_EQ(PaletteFromHeader(&header), nullptr) << bits;
    }
    EXPECT_EQ(PaletteFromDib(nullptr), nullptr);
}

TEST(Palette, FromAHandleLocksAndUnlocksTheBlock) {
    HGLOBAL dib = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(Dib8));
    auto* d = static_cast<Dib8*>(GlobalLock(dib));
    d->header.biSize = sizeof d->header;
    d->header.biBitCount = 1;
    d->colors[1] = {1, 2, 3, 0};
    GlobalUnlock(dib);
    HPALETTE palette = PaletteFromDib(dib);
    ASSERT_NE(palette, nullptr);
    std::vector<PALETTEENTRY> e = Entries(palette);
    ASSERT_EQ(e.size(), 2u);
    EXPECT_EQ(e[1].peRed, 3);
    EXPECT_EQ(GlobalFlags(dib) & GMEM_LOCKCOUNT, 0u);
    DeleteObject(palette);
    // A header naming more entries than its block holds gives nothing.
    static_cast<Dib8*>(GlobalLock(dib))->header.biClrUsed = 256;
    GlobalUnlock(dib);
    EXPECT_EQ(PaletteFromDib(dib), nullptr);
    EXPECT_EQ(GlobalFlags(dib) & GMEM_LOCKCOUNT, 0u);
    GlobalFree(dib);
}

}  // namespace
