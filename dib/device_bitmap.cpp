// Device-dependent bitmaps to DIB handles and back, through the screen's
// device context with a chosen palette realised in it.
#include "dib.h"

#include <cstring>

namespace {

enum : UINT { BLOCK_FLAGS = GMEM_MOVEABLE | GMEM_ZEROINIT };

// The screen DC with a palette selected (not as background) and realised;
// Release puts the previous palette back and gives the DC up.
struct ScreenWithPalette {
    HDC dc;
    HPALETTE previous;
};

ScreenWithPalette TakeScreen(HPALETTE palette) {
    ScreenWithPalette screen{GetDC(nullptr), nullptr};
    if (screen.dc && palette) {
        screen.previous = SelectPalette(screen.dc, palette, FALSE);
        RealizePalette(screen.dc);
    }
    return screen;
}

void Release(ScreenWithPalette* screen) {
    if (screen->previous) SelectPalette(screen->dc, screen->previous, FALSE);
    ReleaseDC(nullptr, screen->dc);
}

}  // namespace

HGLOBAL DeviceBitmapToDib(HBITMAP bitmap, DWORD compression, WORD bits, HPALETTE palette) {
    if (!bitmap) return nullptr;
    // The colour masks of BI_BITFIELDS would land where a DIB handle keeps its
    // rows (a handle has room only for header, colour table and rows).
    if (compression == BI_BITFIELDS) return nullptr;
    if (!palette) palette = static_cast<HPALETTE>(GetStockObject(DEFAULT_PALETTE));
    BITMAP device;
    if (GetObjectA(bitmap, sizeof device, &device) != sizeof device) return nullptr;
    if (bits == 0) bits = static_cast<WORD>(device.bmPlanes * device.bmBitsPixel);

    BITMAPINFOHEADER info{};
    info.biSize = sizeof info;
    info.biWidth = device.bmWidth;
    info.biHeight = device.bmHeight;
    info.biPlanes = 1;
    info.biBitCount = bits;
    info.biCompression = compression;

    ScreenWithPalette screen = TakeScreen(palette);
    if (!screen.dc) return nullptr;
    HGLOBAL block = GlobalAlloc(BLOCK_FLAGS, info.biSize + ColorTableBytes(&info));
    auto* dib = block ? static_cast<BITMAPINFOHEADER*>(GlobalLock(block)) : nullptr;
    if (!dib) {
        if (block) GlobalFree(block);
        Release(&screen);
        return nullptr;
    }
    const DWORD tableBytesAsked = ColorTableBytes(&info);
    *dib = info;
    // With no bits to fill, GetDIBits completes the header (and its table).
    GetDIBits(screen.dc, bitmap, 0, static_cast<UINT>(info.biHeight), nullptr,
              reinterpret_cast<BITMAPINFO*>(dib), DIB_RGB_COLORS);
    info = *dib;
    GlobalUnlock(block);

    // The driver may not turn the header into one whose table or masks would
    // outgrow the room the block gives them.
    bool sound = info.biSize == sizeof info && info.biCompression != BI_BITFIELDS &&
                 ColorTableBytes(&info) <= tableBytesAsked;
    if (sound && info.biSizeImage == 0) {
        sound = RowImageBytes(info.biWidth, info.biHeight, info.biBitCount, &info.biSizeImage);
        // Room for compressed rows, which can come out larger than plain ones.
        if (compression != BI_RGB) {
            const uint64_t room = uint64_t(info.biSizeImage) * 3 / 2;
            sound = sound && room <= 0xFFFFFFFFu;
            info.biSizeImage = static_cast<DWORD>(room);
        }
    }
    const uint64_t bytes = uint64_t(info.biSize) + ColorTableBytes(&info) + info.biSizeImage;
    HGLOBAL grown = sound && bytes <= SIZE_T(-1)
                        ? GlobalReAlloc(block, static_cast<SIZE_T>(bytes), 0)
                        : nullptr;
    if (!grown) {
        GlobalFree(block);
        Release(&screen);
        return nullptr;
    }
    block = grown;
    dib = static_cast<BITMAPINFOHEADER*>(GlobalLock(block));
    if (!dib) {
        GlobalFree(block);
        Release(&screen);
        return nullptr;
    }
    *dib = info;
    auto* rows = reinterpret_cast<BYTE*>(dib) + info.biSize + ColorTableBytes(&info);
    if (!GetDIBits(screen.dc, bitmap, 0, static_cast<UINT>(info.biHeight), rows,
                   reinterpret_cast<BITMAPINFO*>(dib), DIB_RGB_COLORS)) {
        GlobalUnlock(block);
        GlobalFree(block);
        Release(&screen);
        return nullptr;
    }
    GlobalUnlock(block);
    Release(&screen);
    return block;
}

HBITMAP DibToDeviceBitmap(HGLOBAL dib, HPALETTE palette) {
    HCURSOR previous = SetCursor(LoadCursorA(nullptr, IDC_WAIT));
    HBITMAP bitmap = nullptr;
    const SIZE_T blockBytes = dib ? GlobalSize(dib) : 0;
    const auto* header = dib ? static_cast<const BYTE*>(GlobalLock(dib)) : nullptr;
    if (header) {
        // A block too small for the rows its header announces is not handed on.
        const SIZE_T bitsOffset = DibBitsOffset(header, blockBytes);
        ScreenWithPalette screen = bitsOffset ? TakeScreen(palette) : ScreenWithPalette{};
        if (screen.dc) {
            const auto* info = reinterpret_cast<const BITMAPINFOHEADER*>(header);
            bitmap = CreateDIBitmap(screen.dc, info, CBM_INIT, header + bitsOffset,
                                    reinterpret_cast<const BITMAPINFO*>(header), DIB_RGB_COLORS);
            Release(&screen);
        }
        GlobalUnlock(dib);
    }
    SetCursor(previous);
    return bitmap;
}
