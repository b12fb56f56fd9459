// Drawing DIB handles and device bitmaps (Windows only). What was drawn is
// read back from a memory DC over a 24-bit DIB section; paint-screenshot
// checks the same routines on a window through a screenshot.
#include "bmp_test_support.h"

#include <gtest/gtest.h>

namespace {

const Rgb GREY = {0x40, 0x40, 0x40};

// A memory DC drawing into a top-down 24-bit DIB section filled with grey.
struct Canvas {
    HDC dc;
    HBITMAP section;
    HGDIOBJ previous;
    uint8_t* bits;
    int width, height;
};

Canvas MakeCanvas(int width, int height) {
    Canvas c{};
    c.width = width;
    c.height = height;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    c.section = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    c.bits = static_cast<uint8_t*>(bits);
    c.dc = CreateCompatibleDC(nullptr);
    c.previous = SelectObject(c.dc, c.section);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            std::memset(c.bits + y * ((width * 3 + 3) & ~3) + 3 * x, GREY[0], 3);
    return c;
}

void FreeCanvas(Canvas& c) {
    SelectObject(c.dc, c.previous);
    DeleteDC(c.dc);
    DeleteObject(c.section);
}

Rgb At(const Canvas& c, int x, int y) {
    GdiFlush();
    const uint8_t* p = c.bits + y * ((c.width * 3 + 3) & ~3) + 3 * x;
    return {p[2], p[1], p[0]};
}

// Every pixel of the canvas equals `picture` (w × h, top-down) placed at
// (left, top) through `map` (canvas offset → picture pixel), and grey elsewhere.
template <typename Map>
void ExpectCanvas(const Canvas& c, int left, int top, int w, int h, Map map, const char* what) {
    int wrong = 0;
    for (int y = 0; y < c.height; ++y)
        for (int x = 0; x < c.width; ++x) {
            const bool inside = x >= left && x < left + w && y >= top && y < top + h;
            const Rgb want = inside ? map(x - left, y - top) : GREY;
            if (At(c, x, y) != want && ++wrong <= 5)
                ADD_FAILURE() << what << ": pixel " << x << "," << y
                              << (inside ? " (picture)" : " (outside)");
        }
    EXPECT_EQ(wrong, 0) << what;
}

struct Loaded {
    HGLOBAL dib;
    std::vector<Rgb> pixels;  // as ImageMagick reads the file
    int width, height;
};

Loaded LoadSample(const char* name) {
    Loaded l{};
    const std::string base = std::string("samples/") + name;
    l.dib = LoadBmpFile((base + ".bmp").c_str());
    l.pixels = ExpectedPixels(base + ".rgb");
    if (l.dib) {
        BITMAPINFOHEADER h = BlockHeader(l.dib);
        l.width = h.biWidth;
        l.height = h.biHeight;
    }
    return l;
}

TEST(Draw, UnscaledDrawsEachLoadedFileAsImageMagickSeesIt) {
    for (const char* name : {"mono-BMP3", "mono-BMP2", "pal4-BMP3", "pal4-BMP2", "pal8-BMP3",
                             "pal8-BMP2", "true24-BMP3", "true24-BMP2", "rle8-BMP3"}) {
        Loaded l = LoadSample(name);
        ASSERT_NE(l.dib, nullptr) << name;
        Canvas c = MakeCanvas(64, 40);
        EXPECT_TRUE(PaintDibUnscaled(c.dc, 5, 7, l.width, l.height, l.dib, 0, 0, SRCCOPY)) << name;
        ExpectCanvas(
            c, 5, 7, l.width, l.height, [&](int x, int y) { return l.pixels[y * l.width + x]; },
            name);
        FreeCanvas(c);
        GlobalFree(l.dib);
    }
}

TEST(Draw, UnscaledSourcePositionPicksThePartDrawn) {
    Loaded l = LoadSample("true24-BMP3");
    ASSERT_NE(l.dib, nullptr);
    // The source position counts from the lower-left corner of the picture,
    // as everywhere in SetDIBitsToDevice.
    struct {
        int sx, sy, w, h;
    } parts[] = {{0, 0, 20, 10}, {3, 4, 20, 10}, {17, 13, 20, 10}, {0, 0, 37, 23}};
    for (auto p : parts) {
        Canvas c = MakeCanvas(50, 30);
        EXPECT_TRUE(PaintDibUnscaled(c.dc, 2, 3, p.w, p.h, l.dib, p.sx, p.sy, SRCCOPY));
        const int top = l.height - p.sy - p.h;  // the part's top row, counted from the top
        ExpectCanvas(
            c, 2, 3, p.w, p.h,
            [&](int x, int y) { return l.pixels[(top + y) * l.width + p.sx + x]; },
            ("source " + std::to_string(p.sx) + "," + std::to_string(p.sy)).c_str());
        FreeCanvas(c);
    }
    GlobalFree(l.dib);
}

TEST(Draw, ScaledStretchesTheSourceRectangle) {
    Loaded l = LoadSample("pal8-BMP3");
    ASSERT_NE(l.dib, nullptr);
    Canvas c = MakeCanvas(90, 60);
    SetStretchBltMode(c.dc, COLORONCOLOR);
    EXPECT_GT(PaintDibScaled(c.dc, 4, 6, 74, 46, l.dib, 0, 0, 37, 23, SRCCOPY), 0);
    ExpectCanvas(
        c, 4, 6, 74, 46, [&](int x, int y) { return l.pixels[(y / 2) * l.width + x / 2]; }, "2x");
    FreeCanvas(c);

    // A part, at its own size: (10, 5) from the lower-left, 12 × 8.
    c = MakeCanvas(30, 20);
    EXPECT_GT(PaintDibScaled(c.dc, 1, 2, 12, 8, l.dib, 10, 5, 12, 8, SRCCOPY), 0);
    const int top = l.height - 5 - 8;
    ExpectCanvas(
        c, 1, 2, 12, 8, [&](int x, int y) { return l.pixels[(top + y) * l.width + 10 + x]; },
        "part");
    FreeCanvas(c);

    // The raster operation applies to the picture: NOTSRCCOPY inverts it.
    c = MakeCanvas(40, 25);
    EXPECT_GT(PaintDibScaled(c.dc, 0, 0, 37, 23, l.dib, 0, 0, 37, 23, NOTSRCCOPY), 0);
    ExpectCanvas(
        c, 0, 0, 37, 23,
        [&](int x, int y) {
            Rgb p = l.pixels[y * l.width + x];
            return Rgb{uint8_t(~p[0]), uint8_t(~p[1]), uint8_t(~p[2])};
        },
        "inverted");
    FreeCanvas(c);
    GlobalFree(l.dib);
}

TEST(Draw, WithoutADibTheRasterOperationFills) {
    struct {
        DWORD rop;
        Rgb colour;
        const char* what;
    } fills[] = {
        {WHITENESS, {255, 255, 255}, "WHITENESS"},
        {BLACKNESS, {0, 0, 0}, "BLACKNESS"},
        {DSTINVERT, {0xBF, 0xBF, 0xBF}, "DSTINVERT"},
        {PATCOPY, {255, 0, 0}, "PATCOPY, red brush"},
    };
    for (auto f : fills) {
        for (bool scaled : {false, true}) {
            Canvas c = MakeCanvas(40, 30);
            HBRUSH red = CreateSolidBrush(RGB(255, 0, 0));
            HGDIOBJ oldBrush = SelectObject(c.dc, red);
            const BOOL done = scaled
                                  ? PaintDibScaled(c.dc, 6, 4, 20, 15, nullptr, 0, 0, 5, 5, f.rop)
                                  : PaintDibUnscaled(c.dc, 6, 4, 20, 15, nullptr, 0, 0, f.rop);
            EXPECT_TRUE(done) << f.what;
            ExpectCanvas(
                c, 6, 4, 20, 15, [&](int, int) { return f.colour; },
                (std::string(f.what) + (scaled ? " scaled" : " unscaled")).c_str());
            SelectObject(c.dc, oldBrush);
            DeleteObject(red);
            FreeCanvas(c);
        }
    }
}

TEST(Draw, ABlockTooSmallForItsRowsIsNotDrawn) {
    Loaded l = LoadSample("true24-BMP3");
    ASSERT_NE(l.dib, nullptr);
    HGLOBAL shortBlock = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, GlobalSize(l.dib) - 1);
    std::memcpy(GlobalLock(shortBlock), GlobalLock(l.dib), GlobalSize(l.dib) - 1);
    GlobalUnlock(l.dib);
    GlobalUnlock(shortBlock);
    Canvas c = MakeCanvas(40, 25);
    EXPECT_FALSE(PaintDibUnscaled(c.dc, 0, 0, 37, 23, shortBlock, 0, 0, SRCCOPY));
    EXPECT_EQ(PaintDibScaled(c.dc, 0, 0, 37, 23, shortBlock, 0, 0, 37, 23, SRCCOPY), 0);
    ExpectCanvas(
        c, 0, 0, 0, 0, [](int, int) { return GREY; }, "untouched");
    FreeCanvas(c);
    GlobalFree(shortBlock);
    GlobalFree(l.dib);
}

TEST(Draw, BlitDrawsTheWholeDeviceBitmapAtTheOrigin) {
    Loaded l = LoadSample("true24-BMP2");
    ASSERT_NE(l.dib, nullptr);
    HBITMAP bitmap = DibToDeviceBitmap(l.dib, nullptr);
    ASSERT_NE(bitmap, nullptr);
    Canvas c = MakeCanvas(45, 30);
    EXPECT_TRUE(BlitDeviceBitmap(c.dc, bitmap, SRCCOPY));
    ExpectCanvas(
        c, 0, 0, 37, 23, [&](int x, int y) { return l.pixels[y * l.width + x]; }, "SRCCOPY");
    EXPECT_TRUE(BlitDeviceBitmap(c.dc, bitmap, DSTINVERT));
    ExpectCanvas(
        c, 0, 0, 37, 23,
        [&](int x, int y) {
            Rgb p = l.pixels[y * l.width + x];
            return Rgb{uint8_t(~p[0]), uint8_t(~p[1]), uint8_t(~p[2])};
        },
        "DSTINVERT");
    // The bitmap is free again afterwards: it can be selected into another DC.
    HDC other = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(other, bitmap);
    EXPECT_NE(old, nullptr);
    SelectObject(other, old);
    DeleteDC(other);
    EXPECT_FALSE(BlitDeviceBitmap(nullptr, bitmap, SRCCOPY));
    EXPECT_FALSE(BlitDeviceBitmap(c.dc, nullptr, SRCCOPY));
    FreeCanvas(c);
    DeleteObject(bitmap);
    GlobalFree(l.dib);
}

}  // namespace
