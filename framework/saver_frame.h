// The screen-saver framework: process entry, command-line modes, the saver
// window with its message loop and closing rules, and the Windows 9x password
// provider. The application plugs in through the App* hooks below.
#pragma once

#include <windows.h>

#include <cstdint>

#include "resource.h"

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
    // Work the application does in slices while no message waits (listing a
    // folder, decoding the next picture); returns false when it has none left
    // for now. Null: the loop only waits for messages.
    bool (*idleWork)();

    // The fault guard. Its frames live on the stack; the handlers find these
    // through this record, so nothing about a fault needs a fixed address.
    bool guardActive;  // the outer frame is in place
    bool faultCaught;  // the outer frame's handler ran
    DWORD caughtCode;
    const EXCEPTION_RECORD* offeredFault;  // the system is asked once per fault
};

enum : DWORD { NO_VERIFY_YET = 0xFFFFFFFFu };
enum : UINT { WM_VERIFY_PASSWORD = WM_APP };

extern SaverFrameState g_frame;

// An optional system call found with GetProcAddress, as the function type it
// has; null when the system lacks it.
template <typename Fn>
Fn ProcAs(FARPROC proc) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(proc));
}

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

// The fault guard. The outer frame lies around the mode: a fault that the
// system gives to the guard ends the body, and *faultCode receives its code
// (0 when the body returned). Procedures that the system calls run under an
// inner frame once the outer one is in place.
using GuardedBody = intptr_t (*)(void* context);
struct GuardedMessage {
    HWND window;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};
intptr_t RunUnderFaultGuard(GuardedBody body, void* context, DWORD* faultCode);
intptr_t CallUnderFaultGuard(GuardedBody body, void* context);
LRESULT CALLBACK GuardedSaverFrameProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK GuardedConfigDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

template <TIMERPROC Proc>
intptr_t GuardedTimerBody(void* call) {
    const auto* m = static_cast<const GuardedMessage*>(call);
    Proc(m->window, m->message, m->wParam, static_cast<DWORD>(m->lParam));
    return 0;
}

// A timer callback for SetTimer: DispatchMessage would swallow a fault in Proc.
template <TIMERPROC Proc>
void CALLBACK GuardedTimerProc(HWND window, UINT message, UINT_PTR timerId, DWORD systemTime) {
    GuardedMessage call{window, message, timerId, static_cast<LPARAM>(systemTime)};
    CallUnderFaultGuard(GuardedTimerBody<Proc>, &call);
}

// Hooks the application provides.
LRESULT CALLBACK AppSaverProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK AppConfigDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
BOOL AppPrepareDialogClasses(HINSTANCE instance);
