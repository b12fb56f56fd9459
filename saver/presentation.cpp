// Picture presentation: each picture is decoded from the temporary file, placed
// at its own size or fitted to the window's shape, and revealed as a picture
// that slides down into place one source row per tick.
#include "dib.h"
#include "jpeg_decoder.h"
#include "saver_frame.h"
#include "slideshow.h"

#include <cmath>

namespace {

constexpr double FIT_TOLERANCE = 0.05;
constexpr int32_t FIT_STEP = 4;

// Shrinks the target in 4-pixel steps until its shape is within the tolerance
// of the picture's. A target that is tiny or far from the picture's shape can
// step over the tolerance band, or run a side down to nothing; the search then
// stops at the closer of the two rectangles around the band, or at the last
// rectangle whose sides are still positive. Ordinary screens never get there.
void FitTargetToPicture(SlideshowState& s) {
    if (s.targetWidth <= 0 || s.targetHeight <= 0) return;
    const double pictureAspect = static_cast<double>(s.pictureWidth) / s.pictureHeight;
    int firstSide = 0;
    int32_t lastWidth = s.targetWidth, lastHeight = s.targetHeight;
    for (;;) {
        const double targetAspect = static_cast<double>(s.targetWidth) / s.targetHeight;
        const double miss = std::fabs(targetAspect - pictureAspect);
        if (miss < FIT_TOLERANCE) return;
        const int side = pictureAspect > targetAspect ? 1 : -1;  // 1: the target is too tall
        if (firstSide != 0 && side != firstSide) {
            const double lastMiss = std::fabs(static_cast<double>(lastWidth) / lastHeight - pictureAspect);
            if (lastMiss < miss) {
                s.targetWidth = lastWidth;
                s.targetHeight = lastHeight;
            }
            return;
        }
        firstSide = side;
        int32_t& shrinking = side > 0 ? s.targetHeight : s.targetWidth;
        if (shrinking <= FIT_STEP) return;
        lastWidth = s.targetWidth;
        lastHeight = s.targetHeight;
        shrinking -= FIT_STEP;
    }
}

}  // namespace

void PlacePicture() {
    SlideshowState& s = g_slideshow;
    s.targetWidth = s.clientWidth;
    s.targetHeight = s.clientHeight;
    if (s.fitToScreen == 1) {
        FitTargetToPicture(s);
        s.targetX = (s.clientWidth - s.targetWidth) / 2;
        s.targetY = (s.clientHeight - s.targetHeight) / 2;
    } else {
        s.targetX = (s.clientWidth - s.pictureWidth) / 2;
        s.targetY = (s.clientHeight - s.pictureHeight) / 2;
        s.targetWidth = s.pictureWidth;
        s.targetHeight = s.pictureHeight;
    }
}

namespace {

// The window's DC is its own (the class has CS_OWNDC), so the palette stays
// selected for the reveal ticks. The palette it replaces is the previous
// picture's, deleted here; the first time it is the stock palette, which the
// system does not delete.
void SelectPicturePalette(HDC dc, const BITMAPINFOHEADER* info) {
    HPALETTE palette = PaletteFromHeader(info);
    if (!palette) return;
    HPALETTE previous = SelectPalette(dc, palette, FALSE);
    RealizePalette(dc);
    if (previous) DeleteObject(previous);
}

void DrawPicture(HDC dc, const SlideshowState& s, int destHeight, int sourceRows) {
    StretchDIBits(dc, s.targetX, s.targetY, s.targetWidth, destHeight, 0, 0, s.pictureWidth, sourceRows,
                  s.pictureBits, reinterpret_cast<const BITMAPINFO*>(s.pictureInfo), DIB_RGB_COLORS, SRCCOPY);
}

void FinishReveal(HWND window, SlideshowState& s) {
    ReleasePicture();
    SetTimer(window, NEXT_PICTURE_TIMER, static_cast<UINT>(s.switchIntervalMs), GuardedTimerProc<NextPictureTimerProc>);
}

// Returns false, with the message shown, when no picture could be prepared.
bool PreparePicture(HWND window, HDC dc) {
    SlideshowState& s = g_slideshow;
    if (!SelectNextPicture(s.randomOrder)) {
        MessageBoxA(window, MSG_SELECT_PICTURE_FAILED, nullptr, MB_OK);
        return false;
    }
    if (DecodeJpegFile(s.tempFile, &s.picture) != DECODER_OK) {
        MessageBoxA(window, MSG_NO_FILE, nullptr, MB_OK);
        return false;
    }
    DeleteFileA(s.tempFile);

    s.pictureInfo = static_cast<BITMAPINFOHEADER*>(GlobalLock(s.picture));
    if (!s.pictureInfo) {
        ReleasePicture();
        MessageBoxA(window, MSG_NO_FILE, nullptr, MB_OK);
        return false;
    }
    s.pictureWidth = s.pictureInfo->biWidth;
    s.pictureHeight = s.pictureInfo->biHeight;
    s.pictureBits = reinterpret_cast<BYTE*>(s.pictureInfo) + s.pictureInfo->biSize + ColorTableBytes(s.pictureInfo);
    PlacePicture();
    SelectPicturePalette(dc, s.pictureInfo);
    s.revealing = true;
    s.revealRow = 0;
    return true;
}

}  // namespace

void ReleasePicture() {
    SlideshowState& s = g_slideshow;
    s.revealing = false;
    if (!s.picture) return;
    if (s.pictureInfo) GlobalUnlock(s.picture);
    GlobalFree(s.picture);
    s.picture = nullptr;
    s.pictureInfo = nullptr;
    s.pictureBits = nullptr;
}

void CALLBACK NextPictureTimerProc(HWND window, UINT, UINT_PTR, DWORD) {
    KillTimer(window, NEXT_PICTURE_TIMER);  // each arming prepares one picture
    HDC dc = GetDC(window);
    PreparePicture(window, dc);
    ReleaseDC(window, dc);
}

void CALLBACK RevealTimerProc(HWND window, UINT, UINT_PTR, DWORD) {
    SlideshowState& s = g_slideshow;
    HDC dc = GetDC(window);
    if (s.revealing) {
        if (s.instantReveal) {
            DrawPicture(dc, s, s.targetHeight, s.pictureHeight);
            FinishReveal(window, s);
        } else if (s.revealRow < s.pictureHeight + 1) {
            // The k lowest rows of the bottom-up picture fill a band k rows
            // (scaled) deep from the target's top edge: the picture slides down.
            const double scale = static_cast<double>(s.targetHeight) / s.pictureHeight;
            DrawPicture(dc, s, static_cast<int>(s.revealRow * scale), s.revealRow);
            ++s.revealRow;
        } else {
            s.revealRow = 0;
            FinishReveal(window, s);
        }
    }
    ReleaseDC(window, dc);
}
