// The saver's one window, full-screen or as a preview child, its message loop,
// and the rules by which input ends a full-screen run.
#include "saver_frame.h"

namespace {

constexpr char CLASS_NAME[] = "WindowsScreenSaverClass";
constexpr char FULL_SCREEN_TITLE[] = "Screen Saver";
constexpr char PREVIEW_TITLE[] = "Preview";

using ImmAssociateContextFn = HANDLE(WINAPI*)(HWND window, HANDLE context);
using VerifyScreenSavePwdFn = BOOL(WINAPI*)(HWND window);

void PostCloseRequest(HWND window) { PostMessageA(window, WM_CLOSE, 0, 0); }

// Power broadcasts that mean the machine goes to sleep or wakes from it. The
// others (battery level, power source, power settings) arrive while nobody is
// at the machine and must not end the saver.
bool MeansSleepOrWake(WPARAM event) {
    switch (event) {
        case PBT_APMQUERYSUSPEND:
        case PBT_APMQUERYSTANDBY:
        case PBT_APMSUSPEND:
        case PBT_APMSTANDBY:
        case PBT_APMRESUMECRITICAL:
        case PBT_APMRESUMESUSPEND:
        case PBT_APMRESUMESTANDBY:
        case PBT_APMRESUMEAUTOMATIC: return true;
        default: return false;
    }
}

// The whole screen, every monitor: the full-screen window covers it.
RECT ScreenClipBox() {
    RECT screen{};
    HDC screenDc = GetDC(nullptr);
    GetClipBox(screenDc, &screen);
    ReleaseDC(nullptr, screenDc);
    return screen;
}

LRESULT Forward(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return AppSaverProc(window, message, wParam, lParam);
}

// The input method editor would otherwise open its composition window over the
// saver on a key press. IMM32 is only borrowed when the process already has it.
void DetachInputContext(HWND window) {
    g_frame.imeModule = GetModuleHandleA("IMM32.DLL");
    if (!g_frame.imeModule) return;
    g_frame.immAssociate = GetProcAddress(g_frame.imeModule, "ImmAssociateContext");
    if (g_frame.immAssociate)
        g_frame.savedInputContext =
            ProcAs<ImmAssociateContextFn>(g_frame.immAssociate)(window, nullptr);
}

void RestoreInputContext(HWND window) {
    if (g_frame.imeModule && g_frame.immAssociate && g_frame.savedInputContext)
        ProcAs<ImmAssociateContextFn>(g_frame.immAssociate)(window, g_frame.savedInputContext);
}

LRESULT OnCreate(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    DetachInputContext(window);
    GetCursorPos(&g_frame.lastCursor);
    if (!g_frame.isPreview) SetCursor(nullptr);
    return Forward(window, message, wParam, lParam);
}

LRESULT OnDestroy(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    RestoreInputContext(window);
    PostQuitMessage(0);
    return Forward(window, message, wParam, lParam);
}

// Monitors came or went or changed their size: the full-screen window covers
// the new screen. The system may have moved the cursor off a monitor that went
// away; that is no user at the machine, so movement is measured from here.
LRESULT OnDisplayChange(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (!g_frame.isPreview) {
        const RECT screen = ScreenClipBox();
        SetWindowPos(window, nullptr, screen.left, screen.top, screen.right - screen.left,
                     screen.bottom - screen.top, SWP_NOZORDER | SWP_NOACTIVATE);
        GetCursorPos(&g_frame.lastCursor);
    }
    return Forward(window, message, wParam, lParam);
}

LRESULT OnPaint(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (g_frame.closeConfirmed) return DefWindowProcA(window, message, wParam, lParam);
    if (!g_frame.isPreview) SetCursor(nullptr);
    return Forward(window, message, wParam, lParam);
}

// In the display settings, help and the context menu belong to the settings
// page around the preview, not to the preview itself.
LRESULT OnHelpOrContextMenu(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (!g_frame.isPreview) return Forward(window, message, wParam, lParam);
    HWND parent = GetParent(window);
    if (parent && IsWindow(parent))
        PostMessageA(parent, message, reinterpret_cast<WPARAM>(parent), lParam);
    return 1;
}

LRESULT OnSysCommand(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    // A full-screen saver must not be switched away from, nor started again.
    if (!g_frame.isPreview &&
        (wParam == SC_NEXTWINDOW || wParam == SC_PREVWINDOW || wParam == SC_SCREENSAVE))
        return 0;
    return Forward(window, message, wParam, lParam);
}

LRESULT OnTimer(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (g_frame.closeConfirmed) return 0;
    Sleep(0);  // a saver is the idle task: let every other ready thread run first
    return Forward(window, message, wParam, lParam);
}

LRESULT OnInput(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (g_frame.closeConfirmed) return DefWindowProcA(window, message, wParam, lParam);
    return Forward(window, message, wParam, lParam);
}

bool MovedBeyondThreshold(POINT now) {
    const long dx = static_cast<long>(now.x) - g_frame.lastCursor.x;
    const long dy = static_cast<long>(now.y) - g_frame.lastCursor.y;
    return (dx < 0 ? -dx : dx) + (dy < 0 ? -dy : dy) > g_frame.moveThreshold;
}

// Returns true when the message is answered here and must not reach the
// default handling (only WM_SETCURSOR, with *result set).
bool ApplyInputRules(HWND window, UINT message, WPARAM wParam, LRESULT* result) {
    switch (message) {
        case WM_SHOWWINDOW:
            if (wParam) SetCursor(nullptr);
            break;
        case WM_ACTIVATEAPP:
            if (!wParam) PostCloseRequest(window);
            break;
        case WM_SETCURSOR:
            SetCursor(nullptr);
            *result = 1;
            return true;
        case WM_POWER:
            if (wParam == PWR_CRITICALRESUME) PostCloseRequest(window);
            break;
        case WM_POWERBROADCAST:
            if (MeansSleepOrWake(wParam)) PostCloseRequest(window);
            break;
        case WM_KEYDOWN:
        case WM_SYSKEYDOWN:
        case WM_LBUTTONDOWN:
        case WM_RBUTTONDOWN:
        case WM_MBUTTONDOWN: PostCloseRequest(window); break;
        case WM_MOUSEMOVE: {
            // The message's own coordinates are relative to the window and arrive
            // even when nothing moved; the real cursor position decides.
            POINT now;
            GetCursorPos(&now);
            if (MovedBeyondThreshold(now)) {
                PostCloseRequest(window);
                g_frame.lastCursor = now;
            }
            break;
        }
        default: break;
    }
    return false;
}

}  // namespace

LRESULT CALLBACK SaverFrameProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE: return OnCreate(window, message, wParam, lParam);
        case WM_DESTROY: return OnDestroy(window, message, wParam, lParam);
        case WM_SETTEXT: return 0;
        case WM_PAINT: return OnPaint(window, message, wParam, lParam);
        case WM_DISPLAYCHANGE: return OnDisplayChange(window, message, wParam, lParam);
        case WM_HELP:
        case WM_CONTEXTMENU: return OnHelpOrContextMenu(window, message, wParam, lParam);
        case WM_SYSCOMMAND: return OnSysCommand(window, message, wParam, lParam);
        case WM_TIMER: return OnTimer(window, message, wParam, lParam);
        case WM_KEYDOWN:
        case WM_SYSKEYDOWN:
        case WM_MOUSEMOVE:
        case WM_LBUTTONDOWN:
        case WM_RBUTTONDOWN:
        case WM_MBUTTONDOWN: return OnInput(window, message, wParam, lParam);
        default: return Forward(window, message, wParam, lParam);
    }
}

LRESULT SaverDefaultHandling(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (!g_frame.isPreview && !g_frame.closeConfirmed) {
        if (message == WM_CLOSE) {
            if (g_frame.isWindows9x && !VerifyBeforeClose(window)) {
                GetCursorPos(&g_frame.lastCursor);  // the movement rule starts afresh from here
                return 0;
            }
        } else if (message == WM_VERIFY_PASSWORD && g_frame.isWindows9x) {
            return g_frame.verifyPassword
                       ? ProcAs<VerifyScreenSavePwdFn>(g_frame.verifyPassword)(window)
                       : 1;
        } else if (!g_frame.verifying) {
            LRESULT answered = 0;
            if (ApplyInputRules(window, message, wParam, &answered)) return answered;
        }
    }
    if (g_frame.autoPlayMessage != 0 && message == g_frame.autoPlayMessage) {
        PostCloseRequest(window);
        return g_frame.verifyPassword ? 1 : 0;  // 1 asks the system to cancel AutoPlay
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

int RunSaverWindow(HWND parent) {
    WNDCLASSA windowClass{};
    windowClass.style = CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS | CS_OWNDC;
    windowClass.lpfnWndProc = GuardedSaverFrameProc;
    windowClass.hInstance = g_frame.instance;
    windowClass.hIcon = LoadIconA(g_frame.instance, MAKEINTRESOURCEA(SAVER_ICON_ID));
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    windowClass.lpszClassName = CLASS_NAME;

    DWORD exStyle, style;
    const char* title;
    int x = 0, y = 0, width, height;
    if (parent) {
        RECT client{};
        GetClientRect(parent, &client);
        width = client.right;
        height = client.bottom;
        exStyle = 0;
        style = WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN;
        title = PREVIEW_TITLE;
        g_frame.isPreview = true;
    } else {
        const RECT screen = ScreenClipBox();
        x = screen.left;
        y = screen.top;
        width = screen.right - screen.left;
        height = screen.bottom - screen.top;
        exStyle = WS_EX_TOPMOST;
        style = WS_POPUP | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN;
        title = FULL_SCREEN_TITLE;

        HWND running = FindWindowA(CLASS_NAME, FULL_SCREEN_TITLE);
        if (running && IsWindow(running)) {
            SetForegroundWindow(running);
            return 0;
        }
        LoadPasswordProvider();
    }

    g_frame.autoPlayMessage =
        g_frame.isWindows9x ? RegisterWindowMessageA("QueryCancelAutoPlay") : 0;

    MSG message{};
    if (RegisterClassA(&windowClass)) {
        g_frame.saverWindow = CreateWindowExA(exStyle, CLASS_NAME, title, style, x, y, width,
                                              height, parent, nullptr, g_frame.instance, nullptr);
    }
    if (!g_frame.saverWindow) {
        UnloadPasswordProvider();
        return -1;  // not a run that ended well
    }
    if (!parent) SetForegroundWindow(g_frame.saverWindow);
    for (;;) {
        // One slice of the application's work at a time, and only while the
        // queue is empty: input is never kept waiting longer than a slice.
        while (g_frame.idleWork && !PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE) &&
               g_frame.idleWork()) {}
        if (!GetMessageA(&message, nullptr, 0, 0)) break;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    UnloadPasswordProvider();
    return static_cast<int>(message.wParam);
}
