// The slideshow application: its one process-wide record, the settings, the
// picture catalogue and the presentation steps that the saver window drives.
#pragma once

#include <windows.h>

#include <cstdint>

#include "picture_folder.h"
#include "resource.h"

enum : UINT_PTR { REVEAL_TIMER = 0x8000, NEXT_PICTURE_TIMER = 0x7FFF };
enum : int32_t { PICTURE_COUNT = 30 };
enum : DWORD { MAX_PICTURE_BYTES = 59999 };
enum : int32_t { DEFAULT_SWITCH_SECONDS = 5 };
enum : int32_t { MONITOR_LIMIT = 16 };

// A rectangle by its top-left corner and size, in the window's client coordinates.
struct PictureArea {
    int32_t x, y, width, height;
};

// The first ten bytes of every picture file, which the resources leave out.
constexpr BYTE JFIF_PREFIX[10] = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 0x4A, 0x46, 0x49, 0x46};

struct SlideshowState {
    // Settings, read when the window is created.
    int32_t switchSeconds;  // SWITCH_SECONDS_VALUE
    int32_t switchIntervalMs;
    uint32_t revealIntervalMs;  // REVEAL_MS_VALUE; 1 when the reveal is instant
    bool instantReveal;
    int32_t randomOrder;                    // RANDOM_ORDER_VALUE
    int32_t markSaverRunning;               // MARK_SAVER_RUNNING_VALUE
    int32_t fitToScreen;                    // FIT_TO_SCREEN_VALUE
    int32_t showFolder;                     // SHOW_FOLDER_VALUE: 1 = the folder's pictures
    wchar_t folderPath[FOLDER_PATH_LIMIT];  // FOLDER_PATH_VALUE

    int32_t clientWidth, clientHeight;
    // The monitors that the full-screen window covers, each one a place for
    // the picture. None: the whole client area is the one place (a preview, or
    // a system that cannot list its monitors).
    int32_t monitorCount;
    PictureArea monitors[MONITOR_LIMIT];
    char tempDir[MAX_PATH];
    char tempFile[MAX_PATH];

    // The current picture and its placement. `picture` is the one owner of the
    // decoded DIB handle; whoever frees it empties it.
    HGLOBAL picture;
    BITMAPINFOHEADER* pictureInfo;
    BYTE* pictureBits;
    int32_t pictureWidth, pictureHeight;
    int32_t targetX, targetY, targetWidth, targetHeight;  // the first place's target
    int32_t targetCount;
    PictureArea targets[MONITOR_LIMIT];  // one per monitor, the same picture on each
    bool revealing;
    int32_t revealRow;
    int32_t shownRows;  // source rows of the band on the screen now: what a repaint draws
    // A folder picture is fitted by its exact shape, and shrunk in original
    // size where it is larger than its place; GDI shrinks it by dropping rows
    // and columns rather than by mixing them.
    bool pictureFromFolder;
    bool stretchModeSet;

    // Selection.
    int32_t sequencePosition;  // catalogue order: the next picture; 0 = none shown yet
    BYTE shown[PICTURE_COUNT + 1];
    uint32_t randomState;  // the random order's generator, seeded when the window is made
};

extern SlideshowState g_slideshow;

// Registry settings under HKEY_CURRENT_USER\Software\Mirelvane\Dunmere, one
// REG_DWORD value each; the saver and its dialog name them only through these.
extern const char SETTINGS_KEY[];
constexpr char SWITCH_SECONDS_VALUE[] = "t1";
constexpr char REVEAL_MS_VALUE[] = "t2";
constexpr char RANDOM_ORDER_VALUE[] = "t4";
constexpr char MARK_SAVER_RUNNING_VALUE[] = "t5";
constexpr char FIT_TO_SCREEN_VALUE[] = "t6";
// The picture folder: t7 (REG_DWORD) switches it on, t8 (REG_SZ) names it, and
// four numbers keep the shuffled deck's place from one run to the next.
constexpr char SHOW_FOLDER_VALUE[] = "t7";
constexpr char FOLDER_PATH_VALUE[] = "t8";
constexpr char DECK_SEED_VALUE[] = "t9";
constexpr char DECK_POSITION_VALUE[] = "t10";
constexpr char DECK_COUNT_VALUE[] = "t11";
constexpr char DECK_FOLDER_VALUE[] = "t12";
void ReadSettingDword(const char* name, int32_t* setting);
void WriteSettingDword(const char* name, int32_t value);
// A text setting (REG_SZ) as UTF-16; a missing or unreadable one leaves `text` empty.
void ReadSettingText(const char* name, wchar_t* text, uint32_t capacity);
void WriteSettingText(const char* name, const wchar_t* text);
void ReadSwitchSecondsWithDefault();

// Stopping the slideshow keeps the picture on the screen (a refused close
// leaves the window open); it is released when the window goes.
void StopSlideshow(HWND window);
// The next-picture interval for a switch time in seconds, within what SetTimer takes.
int32_t SwitchIntervalMs(int32_t seconds);
// Calendar seconds since 1970-01-01 UTC, from the system clock: the picture generator's seed.
uint32_t CalendarSeconds();

// Monitors. ReadPictureAreas takes the client size and, for a full-screen
// window, the monitors it covers; MonitorAreasInClient turns monitor
// rectangles on the screen into places in a client area whose top-left corner
// is at `origin` on the screen, and returns how many there are.
void ReadPictureAreas(HWND window);
int32_t MonitorAreasInClient(const RECT* screens, int32_t count, POINT origin, int32_t clientWidth,
                             int32_t clientHeight, PictureArea* areas);

// Catalogue and selection.
void SeedRandom(uint32_t seed);
int NextRandom();
int SelectNextPicture(int32_t order);
int ExtractPicture(int32_t number);

// Presentation. ReleasePicture frees the current picture, if any, exactly once.
void ReleasePicture();
// The built-in next picture: selected, written, decoded, deleted and
// presented; false, with the message shown, when none could be prepared.
bool PrepareBuiltInPicture(HWND window, HDC dc);
// Makes a decoded DIB the current picture and starts its reveal; the DIB
// belongs to the presentation from here on. False (and the DIB freed) when
// it cannot be locked.
bool PresentPicture(HDC dc, HGLOBAL decoded, bool fromFolder);
// The largest place a picture goes to: the largest monitor, or the client area.
PictureArea LargestPlace();
// Places the decoded picture on each monitor (or in the client area): centred
// at its own size, or stretched to the place shrunk to the picture's shape.
void PlacePicture();
// Draws what the reveal has shown so far on every monitor.
void DrawShownPicture(HDC dc);
// On a palette display: realises the picture's palette again and asks for a
// repaint. False on other displays.
bool RealizePictureColours(HWND window);
void CALLBACK NextPictureTimerProc(HWND window, UINT message, UINT_PTR timerId, DWORD systemTime);
void CALLBACK RevealTimerProc(HWND window, UINT message, UINT_PTR timerId, DWORD systemTime);

// Texts the user sees, each in both forms the system's calls take: code page
// 932 (Shift-JIS) bytes for the ANSI calls, UTF-16 for the Unicode ones.
struct JapaneseText {
    const char* ansi;
    const wchar_t* wide;
};
extern const JapaneseText MSG_RESOURCE_TOO_LARGE;
extern const JapaneseText MSG_SELECT_PICTURE_FAILED;
extern const JapaneseText MSG_NO_FILE;
extern const JapaneseText MSG_CHOOSE_FOLDER;

// A modal message box with that text, the system's default caption and OK.
void ShowJapaneseMessage(HWND owner, const JapaneseText& text);
