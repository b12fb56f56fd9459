// Drawing helpers: a device bitmap blitted whole, and DIB handles drawn at
// their own size or stretched. Without a DIB the paint routines fill the
// destination with the raster operation, so a caller can clear with them.
#include "dib.h"

#include <cstring>

namespace {

// The number of rows a DIB holds, top-down or bottom-up, in either header form.
UINT DibRows(const BYTE* header) {
    DWORD headerBytes;
    std::memcpy(&headerBytes, header, sizeof headerBytes);
    if (headerBytes == sizeof(BITMAPCOREHEADER))
        return reinterpret_cast<const BITMAPCOREHEADER*>(header)->bcHeight;
    const LONG height = reinterpret_cast<const BITMAPINFOHEADER*>(header)->biHeight;
    return height < 0 ? 0u - static_cast<UINT>(height) : static_cast<UINT>(height);
}

}  // namespace

BOOL BlitDeviceBitmap(HDC dc, HBITMAP bitmap, DWORD rop) {
    if (!dc || !bitmap) return FALSE;
    HDC memory = CreateCompatibleDC(dc);
    if (!memory) return FALSE;
    BITMAP size;
    BOOL result = FALSE;
    if (GetObjectA(bitmap, sizeof size, &size) == sizeof size) {
        HGDIOBJ previous = SelectObject(memory, bitmap);
        if (previous) {
            result = BitBlt(dc, 0, 0, size.bmWidth, size.bmHeight, memory, 0, 0, rop);
            // The bitmap leaves the memory DC as it came: free to be selected elsewhere.
            SelectObject(memory, previous);
        }
    }
    DeleteDC(memory);
    return result;
}

BOOL PaintDibUnscaled(HDC dc, int x, int y, int width, int height, HGLOBAL dib, int sourceX,
                      int sourceY, DWORD rop) {
    if (!dib) return PatBlt(dc, x, y, width, height, rop);
    const SIZE_T blockBytes = GlobalSize(dib);
    const auto* header = static_cast<const BYTE*>(GlobalLock(dib));
    if (!header) return FALSE;
    const SIZE_T bitsOffset = DibBitsOffset(header, blockBytes);
    if (!bitsOffset) {
        GlobalUnlock(dib);
        return FALSE;
    }
    // Every row of the DIB is handed over, so that the source position picks
    // the part drawn and no row outside the block is ever asked for.
    SetDIBitsToDevice(dc, x, y, static_cast<DWORD>(width), static_cast<DWORD>(height), sourceX,
                      sourceY, 0, DibRows(header), header + bitsOffset,
                      reinterpret_cast<const BITMAPINFO*>(header), DIB_RGB_COLORS);
    GlobalUnlock(dib);
    return TRUE;
}

int PaintDibScaled(HDC dc, int x, int y, int width, int height, HGLOBAL dib, int sourceX,
                   int sourceY, int sourceWidth, int sourceHeight, DWORD rop) {
    if (!dib) return PatBlt(dc, x, y, width, height, rop);
    const SIZE_T blockBytes = GlobalSize(dib);
    const auto* header = static_cast<const BYTE*>(GlobalLock(dib));
    if (!header) return 0;
    const SIZE_T bitsOffset = DibBitsOffset(header, blockBytes);
    int result = 0;
    if (bitsOffset)
        result = StretchDIBits(dc, x, y, width, height, sourceX, sourceY, sourceWidth, sourceHeight,
                               header + bitsOffset, reinterpret_cast<const BITMAPINFO*>(header),
                               DIB_RGB_COLORS, rop);
    GlobalUnlock(dib);
    return result;
}
