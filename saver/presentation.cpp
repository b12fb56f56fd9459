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
// of the picture's: each pass takes 4 pixels off the side that is too long for
// the picture's shape. A target that is tiny or far from the picture's shape
// can step over the tolerance band; the search then goes on from the other
// side, as often as it takes, until it lands in the band, and stops early only
// where the next step would leave a side of nothing. Ordinary screens never
// step over the band.
void FitTargetToPicture(SlideshowState& s) {
    if (s.targetWidth <= 0 || s.targetHeight <= 0) return;
    const double pictureAspect = static_cast<double>(s.pictureWidth) / s.pictureHeight;
    for (;;) {
        const double targetAspect = static_cast<double>(s.targetWidth) / s.targetHeight;
        if (std::fabs(targetAspect - pictureAspect) < FIT_TOLERANCE) return;
        int32_t& shrinking = pictureAspect > targetAspect ? s.targetHeight : s.targetWidth;
        if (shrinking <= FIT_STEP) return;
        shrinking -= FIT_STEP;
    }
}

}  // namespace

namespace {

// The target on one place, left in targetX..targetHeight, where the fitting
// works on it.
PictureArea PlaceOnArea(SlideshowState& s, const PictureArea& area) {
    s.targetWidth = area.width;
    s.targetHeight = area.height;
    if (s.fitToScreen == 1) {
        FitTargetToPicture(s);
        s.targetX = area.x + (area.width - s.targetWidth) / 2;
        s.targetY = area.y + (area.height - s.targetHeight) / 2;
    } else {
        s.targetX = area.x + (area.width - s.pictureWidth) / 2;
        s.targetY = area.y + (area.height - s.pictureHeight) / 2;
        s.targetWidth = s.pictureWidth;
        s.targetHeight = s.pictureHeight;
    }
    return {s.targetX, s.targetY, s.targetWidth, s.targetHeight};
}

}  // namespace

void PlacePicture() {
    SlideshowState& s = g_slideshow;
    const PictureArea whole{0, 0, s.clientWidth, s.clientHeight};
    const bool perMonitor = s.monitorCount > 0 && s.monitorCount <= MONITOR_LIMIT;
    s.targetCount = perMonitor ? s.monitorCount : 1;
    for (int32_t i = 0; i < s.targetCount; ++i)
        s.targets[i] = PlaceOnArea(s, perMonitor ? s.monitors[i] : whole);
    // targetX..targetHeight describe the first place's target.
    s.targetX = s.targets[0].x;
    s.targetY = s.targets[0].y;
    s.targetWidth = s.targets[0].width;
    s.targetHeight = s.targets[0].height;
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

// The band of the `rows` lowest source rows, `rows` scaled deep from the top
// edge of each target; an instant reveal fills each target exactly.
void DrawBand(HDC dc, const SlideshowState& s, int32_t rows) {
    for (int32_t i = 0; i < s.targetCount; ++i) {
        const PictureArea& t = s.targets[i];
        const double scale = static_cast<double>(t.height) / s.pictureHeight;
        const int destHeight = s.instantReveal ? t.height : static_cast<int>(rows * scale);
        StretchDIBits(dc, t.x, t.y, t.width, destHeight, 0, 0, s.pictureWidth, rows, s.pictureBits,
                      reinterpret_cast<const BITMAPINFO*>(s.pictureInfo), DIB_RGB_COLORS, SRCCOPY);
    }
}

// The picture stays held after its reveal, so that the window can repaint it,
// until the next one replaces it.
void FinishReveal(HWND window, SlideshowState& s) {
    s.revealing = false;
    SetTimer(window, NEXT_PICTURE_TIMER, static_cast<UINT>(s.switchIntervalMs),
             GuardedTimerProc<NextPictureTimerProc>);
}

// Returns false, with the message shown, when no picture could be prepared.
bool PreparePicture(HWND window, HDC dc) {
    SlideshowState& s = g_slideshow;
    if (!SelectNextPicture(s.randomOrder)) {
        ShowJapaneseMessage(window, MSG_SELECT_PICTURE_FAILED);
        return false;
    }
    // The previous picture stays held until the new one is decoded: a halt
    // leaves it on the screen, where the window can still repaint it.
    HGLOBAL decoded = nullptr;
    if (DecodeJpegFile(s.tempFile, &decoded) != DECODER_OK) {
        ShowJapaneseMessage(window, MSG_NO_FILE);
        return false;
    }
    DeleteFileA(s.tempFile);

    auto* info = static_cast<BITMAPINFOHEADER*>(GlobalLock(decoded));
    if (!info) {
        GlobalFree(decoded);
        ShowJapaneseMessage(window, MSG_NO_FILE);
        return false;
    }
    ReleasePicture();
    s.picture = decoded;
    s.pictureInfo = info;
    s.pictureWidth = s.pictureInfo->biWidth;
    s.pictureHeight = s.pictureInfo->biHeight;
    s.pictureBits = reinterpret_cast<BYTE*>(s.pictureInfo) + s.pictureInfo->biSize +
                    ColorTableBytes(s.pictureInfo);
    PlacePicture();
    SelectPicturePalette(dc, s.pictureInfo);
    s.revealing = true;
    s.revealRow = 0;
    s.shownRows = 0;
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

void DrawShownPicture(HDC dc) {
    const SlideshowState& s = g_slideshow;
    if (s.picture && s.pictureInfo && s.shownRows > 0) DrawBand(dc, s, s.shownRows);
}

// Another window may have taken the system palette; the picture's own stays
// selected in the window's DC, and realising it again maps the picture back.
bool RealizePictureColours(HWND window) {
    HDC dc = GetDC(window);
    const bool palette = (GetDeviceCaps(dc, RASTERCAPS) & RC_PALETTE) != 0;
    if (palette) {
        RealizePalette(dc);
        InvalidateRect(window, nullptr, FALSE);
    }
    ReleaseDC(window, dc);
    return palette;
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
            s.shownRows = s.pictureHeight;
            DrawBand(dc, s, s.shownRows);
            FinishReveal(window, s);
        } else if (s.revealRow < s.pictureHeight + 1) {
            // The k lowest rows of the bottom-up picture fill a band k rows
            // (scaled) deep from the target's top edge: the picture slides down.
            s.shownRows = s.revealRow;
            DrawBand(dc, s, s.shownRows);
            ++s.revealRow;
        } else {
            s.revealRow = 0;
            FinishReveal(window, s);
        }
    }
    ReleaseDC(window, dc);
}
