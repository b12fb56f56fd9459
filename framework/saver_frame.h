// The screen-saver framework: process entry, command-line modes, the saver
// window with its message loop and closing rules, and the Windows 9x password
// provider. The application plugs in through the App* hooks below.
#pragma once

#include <windows.h>

#include <cstdint>

// The framework's one process-wide record.
struct SaverFrameState {
    HINSTANCE instance;
    bool isWindows9x;  // decided once, before any mode runs
    HWND saverWindow;
    bool isPreview;
    UINT autoPlayMessage;  // registered "QueryCancelAutoPlay", 0 = none
    POINT lastCursor;      // reference point of the movement rule, screen coordinates
    int moveThreshold;     // pixels; the sum of |dx| and |dy| must exceed it
    HMODULE imeModule;
    FARPROC immAssociate;
    HANDLE savedInputContext;  // HIMC detached from the window at creation
    HMODULE providerModule;
    FARPROC verifyPassword;
    int32_t closeConfirmed;  // nonzero once a close may go ahead; never reset
    bool verifying;          // a password dialog is open
    DWORD lastVerifyTick;    // NO_VERIFY_YET until a verification has ended
};

enum : DWORD { NO_VERIFY_YET = 0xFFFFFFFFu };
enum : UINT { WM_VERIFY_PASSWORD = WM_APP };
enum : WORD { SAVER_ICON_ID = 100, SETTINGS_DIALOG_ID = 2003 };

extern SaverFrameState g_frame;

// Start-up and command-line modes.
[[noreturn]] void SaverEntry();
const char* SkipProgramName(const char* commandLine);
int DispatchSaverMode(HINSTANCE instance, const char* arguments);
HWND ParseDecimalHandle(const char* text);
int RunPreview(const char* text);
int ShowSettingsDialog(HWND owner);
int ChangeSaverPassword(const char* text);
void CallPasswordChanger(HWND parent);
// DialogBoxParam with lParam 0, through the Unicode call wherever the system
// has it (Windows NT), so that the template's Japanese texts survive any ANSI
// code page; through the ANSI call on Windows 9x.
INT_PTR ShowModalDialog(HINSTANCE instance, WORD templateId, HWND owner, DLGPROC procedure);

// The saver window.
int RunSaverWindow(HWND parent);
LRESULT CALLBACK SaverFrameProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT SaverDefaultHandling(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Password provider and the system's screen-saver-running flag.
void SetSaverRunningFlag(bool on);
void LoadPasswordProvider();
void UnloadPasswordProvider();
BOOL VerifyBeforeClose(HWND window);
DWORD TicksBetween(DWORD earlier, DWORD later);
// Whether a close request at `now` comes so soon after the end of the last
// verification that it is refused without asking again.
bool TooSoonToAskAgain(DWORD lastVerifyTick, DWORD now);

// Hooks the application provides.
LRESULT CALLBACK AppSaverProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK AppConfigDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
BOOL AppPrepareDialogClasses(HINSTANCE instance);
