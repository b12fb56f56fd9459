// Windows 9x password protection: the system's password provider decides
// whether a full-screen saver may close, and the system is told while a
// protected saver runs (so that task switching and Ctrl+Alt+Del stay off).
// On Windows NT the system locks the workstation itself; nothing here runs.
#include "saver_frame.h"

namespace {

constexpr DWORD REFUSE_WITHIN_MS =
    200;  // a close request this soon after a dialog is not asked again

// A value shorter than four bytes reads as the number its bytes make; anything
// that is not a readable number of at most four bytes means "no password".
bool PasswordSwitchIsOn(HKEY desktop) {
    BYTE data[4] = {};
    DWORD size = sizeof data;
    if (RegQueryValueExA(desktop, "ScreenSaveUsePassword", nullptr, nullptr, data, &size) !=
        ERROR_SUCCESS)
        return false;
    const DWORD value = static_cast<DWORD>(data[0]) | static_cast<DWORD>(data[1]) << 8 |
                        static_cast<DWORD>(data[2]) << 16 | static_cast<DWORD>(data[3]) << 24;
    return value != 0;
}

}  // namespace

DWORD TicksBetween(DWORD earlier, DWORD later) { return later - earlier; }

bool TooSoonToAskAgain(DWORD lastVerifyTick, DWORD now) {
    return lastVerifyTick != NO_VERIFY_YET && TicksBetween(lastVerifyTick, now) < REFUSE_WITHIN_MS;
}

void SetSaverRunningFlag(bool on) {
    if (!g_frame.isWindows9x) return;
    BOOL previous = FALSE;
    SystemParametersInfoA(SPI_SETSCREENSAVERRUNNING, on ? 1 : 0, &previous, 0);
}

void LoadPasswordProvider() {
    if (!g_frame.isWindows9x) return;
    if (g_frame.providerModule) UnloadPasswordProvider();
    HKEY desktop = nullptr;
    if (RegOpenKeyA(HKEY_CURRENT_USER, "Control Panel\\Desktop", &desktop) != ERROR_SUCCESS) return;
    if (PasswordSwitchIsOn(desktop)) {
        g_frame.providerModule = LoadLibraryA("PASSWORD.CPL");
        if (g_frame.providerModule) {
            g_frame.verifyPassword = GetProcAddress(g_frame.providerModule, "VerifyScreenSavePwd");
            if (g_frame.verifyPassword)
                SetSaverRunningFlag(true);
            else
                UnloadPasswordProvider();
        }
    }
    RegCloseKey(desktop);
}

void UnloadPasswordProvider() {
    if (!g_frame.isWindows9x || !g_frame.providerModule) return;
    FreeLibrary(g_frame.providerModule);
    g_frame.providerModule = nullptr;
    if (g_frame.verifyPassword) {
        g_frame.verifyPassword = nullptr;
        SetSaverRunningFlag(false);
    }
}

BOOL VerifyBeforeClose(HWND window) {
    if (g_frame.verifying || g_frame.closeConfirmed) return FALSE;
    if (!g_frame.verifyPassword) {
        g_frame.closeConfirmed = 1;
        return TRUE;
    }
    const DWORD now = GetTickCount();
    // One burst of input posts several close requests; only the first may ask.
    if (TooSoonToAskAgain(g_frame.lastVerifyTick, now)) return FALSE;
    g_frame.verifying = true;
    MSG dropped;
    PeekMessageA(&dropped, window, WM_TIMER, WM_TIMER, PM_REMOVE | PM_NOYIELD);
    PeekMessageA(&dropped, window, WM_TIMER, WM_TIMER, PM_REMOVE | PM_NOYIELD);
    const LRESULT result = SendMessageA(window, WM_VERIFY_PASSWORD, 0, 0);
    g_frame.closeConfirmed = static_cast<int32_t>(result);
    g_frame.verifying = false;
    if (result == 0) SetCursor(nullptr);
    g_frame.lastVerifyTick = GetTickCount();
    return g_frame.closeConfirmed;
}
