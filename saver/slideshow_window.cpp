// The application's window procedure: starts the slideshow when the saver
// window is made and stops it when the window closes or goes away.
#include "saver_frame.h"
#include "slideshow.h"

SlideshowState g_slideshow;

namespace {

void TellSystemSaverRuns(BOOL on) {
    BOOL previous = FALSE;
    SystemParametersInfoA(SPI_SETSCREENSAVERRUNNING, on, &previous, 0);
}

LRESULT OnCreate(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    SlideshowState& s = g_slideshow;
    ReadSwitchSecondsWithDefault();
    s.switchIntervalMs = SwitchIntervalMs(s.switchSeconds);

    int32_t revealMs = static_cast<int32_t>(s.revealIntervalMs);
    ReadSettingDword(REVEAL_MS_VALUE, &revealMs);
    s.revealIntervalMs = static_cast<uint32_t>(revealMs);
    s.instantReveal = s.revealIntervalMs == 0;
    if (s.instantReveal) s.revealIntervalMs = 1;

    ReadPictureAreas(window);

    // The unique number 1 gives the same name on every run and creates no file.
    GetTempPathA(MAX_PATH, s.tempDir);
    GetTempFileNameA(s.tempDir, "tmp", 1, s.tempFile);

    SetTimer(window, REVEAL_TIMER, s.revealIntervalMs, GuardedTimerProc<RevealTimerProc>);

    ReadSettingDword(RANDOM_ORDER_VALUE, &s.randomOrder);
    ReadSettingDword(MARK_SAVER_RUNNING_VALUE, &s.markSaverRunning);
    if (s.markSaverRunning == 1) TellSystemSaverRuns(TRUE);
    ReadSettingDword(FIT_TO_SCREEN_VALUE, &s.fitToScreen);

    // The user's own pictures, where t7 asks for them; with any other value
    // the slideshow is the built-in one.
    ReadSettingDword(SHOW_FOLDER_VALUE, &s.showFolder);
    if (s.showFolder == 1) StartFolderPictures(window);

    SeedRandom(CalendarSeconds());
    NextPictureTimerProc(window, WM_CREATE, 0, 0);
    return SaverDefaultHandling(window, message, wParam, lParam);
}

LRESULT OnClose(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    StopSlideshow(window);
    return SaverDefaultHandling(window, message, wParam, lParam);
}

LRESULT OnDestroy(HWND window) {
    if (g_slideshow.markSaverRunning == 1) TellSystemSaverRuns(FALSE);
    StopSlideshow(window);
    ReleasePicture();
    ReleaseFolderPictures();
    PostQuitMessage(0);
    return 0;
}

// What was covered (by a message box, the password dialog, another window)
// gets its picture back: the part of it that the reveal has shown so far.
LRESULT OnPaint(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    if (dc) DrawShownPicture(dc);
    EndPaint(window, &paint);
    return SaverDefaultHandling(window, message, wParam, lParam);
}

// A monitor came or went, or a resolution changed. The framework has already
// made the full-screen window cover the new screen; the picture moves to the
// new places. A preview keeps its size and its one place.
LRESULT OnDisplayChange(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (g_frame.isPreview) return SaverDefaultHandling(window, message, wParam, lParam);
    ReadPictureAreas(window);
    UpdateFolderBox();
    if (g_slideshow.picture) PlacePicture();
    InvalidateRect(window, nullptr, TRUE);
    return SaverDefaultHandling(window, message, wParam, lParam);
}

// The system palette changed hands: on a palette display the picture's
// colours come back only once its palette is realised again.
LRESULT OnPaletteMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    const bool ours = message == WM_PALETTECHANGED && reinterpret_cast<HWND>(wParam) == window;
    const bool realized = !ours && RealizePictureColours(window);
    const LRESULT result = SaverDefaultHandling(window, message, wParam, lParam);
    return message == WM_QUERYNEWPALETTE && realized ? TRUE : result;
}

}  // namespace

int32_t SwitchIntervalMs(int32_t seconds) {
    // The dialog stores any number typed, and SetTimer takes no longer interval.
    const int64_t ms = static_cast<int64_t>(seconds) * 1000;
    return ms > USER_TIMER_MAXIMUM ? USER_TIMER_MAXIMUM : static_cast<int32_t>(ms);
}

uint32_t CalendarSeconds() {
    // FILETIME counts 100-ns steps since 1601-01-01 UTC; 11644473600 s lie between the two epochs.
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const uint64_t steps = static_cast<uint64_t>(now.dwHighDateTime) << 32 | now.dwLowDateTime;
    return static_cast<uint32_t>(steps / 10000000u - 11644473600u);
}

void StopSlideshow(HWND window) {
    KillTimer(window, NEXT_PICTURE_TIMER);
    KillTimer(window, REVEAL_TIMER);
    g_slideshow.revealing = false;  // a reveal under way ends where it is
    StopFolderPictures();           // and so does a decode
    DeleteFileA(g_slideshow.tempFile);
}

LRESULT CALLBACK AppSaverProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE: return OnCreate(window, message, wParam, lParam);
        case WM_CLOSE: return OnClose(window, message, wParam, lParam);
        case WM_DESTROY: return OnDestroy(window);
        case WM_PAINT: return OnPaint(window, message, wParam, lParam);
        case WM_DISPLAYCHANGE: return OnDisplayChange(window, message, wParam, lParam);
        case WM_QUERYNEWPALETTE:
        case WM_PALETTECHANGED: return OnPaletteMessage(window, message, wParam, lParam);
        default: return SaverDefaultHandling(window, message, wParam, lParam);
    }
}
