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

// The largest rectangle of the picture's exact shape inside the area, centred.
PictureArea ContainInArea(const SlideshowState& s, const PictureArea& area) {
    PictureArea t{area.x, area.y, area.width, area.height};
    if (s.pictureWidth <= 0 || s.pictureHeight <= 0 || area.width <= 0 || area.height <= 0)
        return t;
    const int64_t across = int64_t(area.width) * s.pictureHeight;
    const int64_t down = int64_t(area.height) * s.pictureWidth;
    if (across <= down) {  // the width decides
        t.height = static_cast<int32_t>((across + s.pictureWidth / 2) / s.pictureWidth);
        if (t.height < 1) t.height = 1;
    } else {
        t.width = static_cast<int32_t>((down + s.pictureHeight / 2) / s.pictureHeight);
        if (t.width < 1) t.width = 1;
    }
    t.x = area.x + (area.width - t.width) / 2;
    t.y = area.y + (area.height - t.height) / 2;
    return t;
}

// A folder picture: fitted, the largest size of its shape; at its own size,
// centred where it fits and shrunk to fit where it does not.
PictureArea PlaceFolderPicture(const SlideshowState& s, const PictureArea& area) {
    if (s.fitToScreen != 1 && s.pictureWidth <= area.width && s.pictureHeight <= area.height)
        return {area.x + (area.width - s.pictureWidth) / 2,
                area.y + (area.height - s.pictureHeight) / 2, s.pictureWidth, s.pictureHeight};
    return ContainInArea(s, area);
}

}  // namespace

namespace {

// The target on one place, left in targetX..targetHeight, where the fitting
// works on it.
PictureArea PlaceOnArea(SlideshowState& s, const PictureArea& area) {
    if (s.pictureFromFolder) return PlaceFolderPicture(s, area);
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
void SelectPicturePalette(HDC dc, const BITMAPINFOHEADER* info, SIZE_T blockBytes) {
    HPALETTE palette = PaletteFromHeader(info, blockBytes);
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

// Shrinking by dropping rows and columns keeps colours true; the DC's default
// mixes them by AND, which darkens. The built-in pictures are drawn as they
// always were, so the mode is set only once a folder picture comes.
void SetStretchMode(HDC dc, SlideshowState& s, bool fromFolder) {
    if (!fromFolder && !s.stretchModeSet) return;
    SetStretchBltMode(dc, fromFolder ? COLORONCOLOR : BLACKONWHITE);
    s.stretchModeSet = fromFolder;
}

// Folder pictures differ in size: what the last one showed outside the new
// one's places turns black, as the window's background, and the new picture
// slides in over the rest as every picture does.
void ClearOutsideTargets(HDC dc, const SlideshowState& s, const PictureArea* old, int32_t count) {
    if (count <= 0) return;
    for (int32_t i = 0; i < s.targetCount; ++i) {
        const PictureArea& t = s.targets[i];
        ExcludeClipRect(dc, t.x, t.y, t.x + t.width, t.y + t.height);
    }
    for (int32_t i = 0; i < count; ++i)
        PatBlt(dc, old[i].x, old[i].y, old[i].width, old[i].height, BLACKNESS);
    SelectClipRgn(dc, nullptr);
}

}  // namespace

bool PrepareBuiltInPicture(HWND window, HDC dc) {
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
    if (!PresentPicture(dc, decoded, false)) {
        ShowJapaneseMessage(window, MSG_NO_FILE);
        return false;
    }
    return true;
}

bool PresentPicture(HDC dc, HGLOBAL decoded, bool fromFolder) {
    SlideshowState& s = g_slideshow;
    auto* info = static_cast<BITMAPINFOHEADER*>(GlobalLock(decoded));
    if (!info) {
        GlobalFree(decoded);
        return false;
    }
    // The decoder's own pictures are sound; a folder picture's block is
    // measured against what its header announces.
    const SIZE_T blockBytes = fromFolder ? GlobalSize(decoded) : DIB_BYTES_VOUCHED;
    const SIZE_T bitsOffset =
        fromFolder ? DibBitsOffset(info, blockBytes) : info->biSize + ColorTableBytes(info);
    if (bitsOffset == 0) {
        GlobalUnlock(decoded);
        GlobalFree(decoded);
        return false;
    }
    PictureArea shownBefore[MONITOR_LIMIT];
    const int32_t placesBefore = s.picture && fromFolder ? s.targetCount : 0;
    for (int32_t i = 0; i < placesBefore; ++i) shownBefore[i] = s.targets[i];
    ReleasePicture();
    s.pictureFromFolder = fromFolder;
    SetStretchMode(dc, s, fromFolder);
    s.picture = decoded;
    s.pictureInfo = info;
    s.pictureWidth = s.pictureInfo->biWidth;
    s.pictureHeight = s.pictureInfo->biHeight;
    s.pictureBits = reinterpret_cast<BYTE*>(s.pictureInfo) + bitsOffset;
    PlacePicture();
    ClearOutsideTargets(dc, s, shownBefore, placesBefore);
    SelectPicturePalette(dc, s.pictureInfo, blockBytes);
    s.revealing = true;
    s.revealRow = 0;
    s.shownRows = 0;
    return true;
}

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

PictureArea LargestPlace() {
    const SlideshowState& s = g_slideshow;
    PictureArea largest{0, 0, s.clientWidth, s.clientHeight};
    if (s.monitorCount <= 0 || s.monitorCount > MONITOR_LIMIT) return largest;
    largest = s.monitors[0];
    for (int32_t i = 1; i < s.monitorCount; ++i) {
        const PictureArea& m = s.monitors[i];
        if (int64_t(m.width) * m.height > int64_t(largest.width) * largest.height) largest = m;
    }
    return largest;
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
    if (g_folder.active)
        ShowNextFolderPicture(window, dc);
    else
        PrepareBuiltInPicture(window, dc);
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
