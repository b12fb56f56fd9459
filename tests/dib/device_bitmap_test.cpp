// DIB handles into device bitmaps of the screen and back (Windows only).
#include "bmp_test_support.h"
#include "import_hook.h"
#include "jpeg_decoder.h"

#include <gtest/gtest.h>

namespace {

HGLOBAL DecodedPicture() {
    HGLOBAL picture = nullptr;
    EXPECT_EQ(DecodeJpegFile(JPEG_DATA_DIR "/rocket-47x31-1x1.jpg", &picture), DECODER_OK);
    return picture;
}

// The rows of a DIB handle (header, table and spare rows left out).
Bytes Rows(HGLOBAL dib) {
    BITMAPINFOHEADER h;
    EXPECT_TRUE(QueryDibHeader(dib, &h));
    const auto* bytes = static_cast<const uint8_t*>(GlobalLock(dib));
    const uint8_t* rows = bytes + h.biSize + ColorTableBytes(&h);
    Bytes copy(rows, rows + h.biSizeImage);
    GlobalUnlock(dib);
    return copy;
}

TEST(DeviceBitmap, ADecodedPictureComesBackUnchangedAt24Bits) {
    HGLOBAL picture = DecodedPicture();
    ASSERT_NE(picture, nullptr);
    HPALETTE cube = PaletteFromDib(picture);
    for (HPALETTE palette : {HPALETTE(nullptr), cube}) {
        HBITMAP bitmap = DibToDeviceBitmap(picture, palette);
        ASSERT_NE(bitmap, nullptr);
        BITMAP info;
        ASSERT_EQ(GetObjectA(bitmap, sizeof info, &info), int(sizeof info));
        EXPECT_EQ(info.bmWidth, 47);
        EXPECT_EQ(info.bmHeight, 31);
        HGLOBAL back = DeviceBitmapToDib(bitmap, BI_RGB, 24, palette);
        ASSERT_NE(back, nullptr);
        const BITMAPINFOHEADER h = BlockHeader(back);
        EXPECT_EQ(h.biSize, 40u);
        EXPECT_EQ(h.biWidth, 47);
        EXPECT_EQ(h.biHeight, 31);
        EXPECT_EQ(h.biBitCount, 24);
        EXPECT_EQ(h.biSizeImage, 144u * 31);
        EXPECT_EQ(GlobalSize(back), 40 + h.biSizeImage);
        EXPECT_EQ(Rows(back), Rows(picture));
        GlobalFree(back);
        DeleteObject(bitmap);
    }
    DeleteObject(cube);
    GlobalFree(picture);
}

TEST(DeviceBitmap, DepthZeroKeepsTheBitmapsOwn) {
    HGLOBAL picture = DecodedPicture();
    ASSERT_NE(picture, nullptr);
    HBITMAP bitmap = DibToDeviceBitmap(picture, nullptr);
    ASSERT_NE(bitmap, nullptr);
    BITMAP info;
    GetObjectA(bitmap, sizeof info, &info);
    HGLOBAL back = DeviceBitmapToDib(bitmap, BI_RGB, 0, nullptr);
    ASSERT_NE(back, nullptr);
    const BITMAPINFOHEADER h = BlockHeader(back);
    EXPECT_EQ(h.biBitCount, info.bmPlanes * info.bmBitsPixel);
    EXPECT_EQ(GlobalSize(back), 40 + ColorTableBytes(&h) + h.biSizeImage);
    // The test display is 24-bit, whose device bitmaps keep 32 bits a pixel:
    // the same colours, one spare byte each.
    ASSERT_EQ(h.biBitCount, 32);
    const auto* bytes = static_cast<const uint8_t*>(GlobalLock(back));
    const auto* original = static_cast<const uint8_t*>(GlobalLock(picture));
    for (int y = 0; y < 31; ++y)
        for (int x = 0; x < 47; ++x)
            EXPECT_EQ(
                0, std::memcmp(bytes + 40 + (y * 47 + x) * 4, original + 40 + y * 144 + x * 3, 3))
                << x << "," << y;
    GlobalUnlock(picture);
    GlobalUnlock(back);
    GlobalFree(back);
    DeleteObject(bitmap);
    GlobalFree(picture);
}

TEST(DeviceBitmap, PaletteDepthsTakeTheirColourTable) {
    // Black, white and pure red are in every default palette, so they come back exactly.
    HDC screen = GetDC(nullptr);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, 16, 4);
    HDC memory = CreateCompatibleDC(screen);
    HGDIOBJ old = SelectObject(memory, bitmap);
    const COLORREF colours[] = {RGB(0, 0, 0), RGB(255, 255, 255), RGB(255, 0, 0),
                                RGB(255, 255, 255)};
    for (int x = 0; x < 16; ++x)
        for (int y = 0; y < 4; ++y) SetPixel(memory, x, y, colours[(x + y) % 4]);
    SelectObject(memory, old);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);

    for (WORD bits : {4, 8}) {
        HGLOBAL dib = DeviceBitmapToDib(bitmap, BI_RGB, bits, nullptr);
        ASSERT_NE(dib, nullptr) << bits;
        const BITMAPINFOHEADER h = BlockHeader(dib);
        EXPECT_EQ(h.biBitCount, bits);
        EXPECT_EQ(GlobalSize(dib), 40u + ColorTableBytes(&h) + h.biSizeImage) << bits;
        const std::vector<Rgb> pixels = DibPixels(dib);
        ASSERT_EQ(pixels.size(), 64u);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 16; ++x) {
                const COLORREF c = colours[(x + y) % 4];
                EXPECT_EQ(pixels[y * 16 + x], (Rgb{GetRValue(c), GetGValue(c), GetBValue(c)}))
                    << bits << " bits";
            }
        GlobalFree(dib);
    }
    DeleteObject(bitmap);
}

TEST(DeviceBitmap, RefusesWhatItCannotHold) {
    EXPECT_EQ(DeviceBitmapToDib(nullptr, BI_RGB, 24, nullptr), nullptr);
    EXPECT_EQ(DibToDeviceBitmap(nullptr, nullptr), nullptr);
    HGLOBAL picture = DecodedPicture();
    ASSERT_NE(picture, nullptr);
    HBITMAP bitmap = DibToDeviceBitmap(picture, nullptr);
    ASSERT_NE(bitmap, nullptr);
    // The masks of BI_BITFIELDS have no room in a DIB handle.
    EXPECT_EQ(DeviceBitmapToDib(bitmap, BI_BITFIELDS, 32, nullptr), nullptr);
    DeleteObject(bitmap);
    // A block that cannot hold the rows its header announces.
    HGLOBAL shortBlock = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 40 + 100);
    std::memcpy(GlobalLock(shortBlock), GlobalLock(picture), 40);
    GlobalUnlock(picture);
    GlobalUnlock(shortBlock);
    EXPECT_EQ(DibToDeviceBitmap(shortBlock, nullptr), nullptr);
    GlobalFree(shortBlock);
    GlobalFree(picture);
}

TEST(DeviceBitmap, TheWaitCursorShowsAndThePreviousOneComesBack) {
    HGLOBAL picture = DecodedPicture();
    ASSERT_NE(picture, nullptr);
    HCURSOR cross = LoadCursorA(nullptr, IDC_CROSS);
    HCURSOR wait = LoadCursorA(nullptr, IDC_WAIT);
    ASSERT_NE(cross, wait);
    for (HGLOBAL dib : {picture, HGLOBAL(nullptr)}) {
        SetCursor(cross);
        ResetCursorCalls();
        HBITMAP bitmap = DibToDeviceBitmap(dib, nullptr);
        EXPECT_EQ(bitmap != nullptr, dib != nullptr);
        const CursorCalls calls = RecordedCursorCalls();
        EXPECT_EQ(calls.count, 2);
        EXPECT_EQ(calls.first, wait);
        EXPECT_EQ(calls.last, cross);
        EXPECT_EQ(GetCursor(), cross);
        if (bitmap) DeleteObject(bitmap);
    }
    GlobalFree(picture);
}

}  // namespace
