// Native stand-in for the thread message queue, the message boxes and the
// platform's version (see include/windows.h). There are no windows here, so nothing is ever posted but
// the quit message: PeekMessageA finds that one (as Windows does, once the
// queue is otherwise empty) and nothing else.
#include <windows.h>
#include <winstub_testing.h>

#include <cstdio>
#include <string>

namespace {

// Per thread, as Windows keeps one queue per thread.
thread_local bool t_quitPosted;
thread_local int t_quitCode;
long g_peekCalls;
bool g_windows9x;

// wchar_t holds whole code points here (UTF-32).
std::string Utf8(const wchar_t* text) {
    std::string out;
    for (; text != nullptr && *text != 0; ++text) {
        const auto c = static_cast<std::uint32_t>(*text);
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | c >> 6);
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | c >> 12);
            out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | c >> 18);
            out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
            out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

}  // namespace

long WinstubPeekMessageCount() { return g_peekCalls; }

BOOL PeekMessageA(LPMSG msg, HWND window, UINT first, UINT last, UINT remove) {
    ++g_peekCalls;
    // The quit message belongs to no window; a range of 0..0 means every message.
    bool rangeHasQuit = (first == 0 && last == 0) || (first <= WM_QUIT && WM_QUIT <= last);
    if (!t_quitPosted || window != nullptr || !rangeHasQuit || msg == nullptr) return FALSE;
    *msg = MSG{};
    msg->message = WM_QUIT;
    msg->wParam = static_cast<WPARAM>(static_cast<std::intptr_t>(t_quitCode));
    if (remove & PM_REMOVE) t_quitPosted = false;
    return TRUE;
}

// No message ever reaches these two but the quit message, which is neither
// translated nor dispatched to a window.
BOOL TranslateMessage(const MSG*) { return FALSE; }
LRESULT DispatchMessageA(const MSG*) { return 0; }

void PostQuitMessage(int exitCode) {
    t_quitPosted = true;
    t_quitCode = exitCode;
}

int MessageBoxA(HWND, LPCSTR text, LPCSTR caption, UINT) {
    std::fprintf(stderr, "%s: %s\n", caption != nullptr ? caption : "Error",
                 text != nullptr ? text : "");
    std::fflush(stderr);
    return IDOK;
}

int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
    const std::string shownCaption = caption != nullptr ? Utf8(caption) : "Error",
                      shownText = Utf8(text);
    return MessageBoxA(owner, shownText.c_str(), shownCaption.c_str(), type);
}

void WinstubSetWindows9x(bool on) { g_windows9x = on; }

// Windows 98 is 4.10 build 1998; Windows 7 is 6.1 build 7601.
DWORD GetVersion() { return g_windows9x ? 0xC0000A04u : 0x1DB10106u; }
