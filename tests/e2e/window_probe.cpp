// Looks at the running saver from outside, as another program on the same
// desktop would: its windows, the cursor, the screen-saver-running flag, and
// starts it with an exact command line. Prints one JSON record per line (UTF-8)
// for the end-to-end tests.
//
//   window_probe windows                    every top-level window
//   window_probe children HWND              the direct children of HWND
//   window_probe wait CLASS TITLE MS        the first visible top-level window
//                                           of that class and title ("*" = any),
//                                           exit 1 when none appears in time
//   window_probe gone CLASS TITLE MS        exit 0 once FindWindowA finds no such
//                                           window (visible or not), 1 if one stays
//   window_probe cursor                     the foreground thread's cursor
//   window_probe cursor-pos                 GetCursorPos: where a program started
//                                           now believes the pointer is
//   window_probe set-cursor-pos X Y         SetCursorPos, so that Wine's server
//                                           holds that position; then as cursor-pos
//   window_probe saver-running              SPI_GETSCREENSAVERRUNNING
//   window_probe set-saver-running 0|1
//   window_probe code-page                  this process's ANSI code page
//   window_probe screen                     the virtual screen's size as Wine sees it
//   window_probe spawn PROGRAM HEXLINE MS   CreateProcessA with exactly the bytes
//                                           HEXLINE as the command line; prints
//                                           the child's id, then its exit code
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::string Utf8(const wchar_t* text) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1) return {};
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], size, nullptr, nullptr);
    out.resize(static_cast<size_t>(size - 1));
    return out;
}

std::string Quoted(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

// Handles travel as the unsigned 32-bit numbers that command lines carry.
unsigned long Number(HWND window) {
    return static_cast<unsigned long>(reinterpret_cast<uintptr_t>(window) & 0xFFFFFFFFu);
}

HWND HandleFrom(const char* text) {
    return reinterpret_cast<HWND>(
        static_cast<intptr_t>(static_cast<int32_t>(std::strtoul(text, nullptr, 10))));
}

std::string ClassOf(HWND window) {
    wchar_t name[256] = {};
    GetClassNameW(window, name, 256);
    return Utf8(name);
}

// Asks the window itself, so that controls that keep their own text (edits)
// answer with what they show; the system marshals the text across processes.
std::string TextOf(HWND window) {
    wchar_t text[512] = {};
    DWORD_PTR ignored = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(text),
                             SMTO_ABORTIFHUNG, 2000, &ignored))
        GetWindowTextW(window, text, 512);
    return Utf8(text);
}

std::string RectJson(const RECT& r) {
    char text[96];
    std::snprintf(text, sizeof text, "[%ld,%ld,%ld,%ld]", r.left, r.top, r.right, r.bottom);
    return text;
}

std::string Hex(unsigned long value) {
    char text[16];
    std::snprintf(text, sizeof text, "\"0x%08lx\"", value);
    return text;
}

std::string Describe(HWND window) {
    // Visibility before the style: a window under creation gets WS_VISIBLE
    // only at its end, so a visible window's style then shows it too.
    const bool visible = IsWindowVisible(window);
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    RECT rect{}, client{};
    GetWindowRect(window, &rect);
    GetClientRect(window, &client);
    const unsigned long style = static_cast<unsigned long>(GetWindowLongA(window, GWL_STYLE));
    const unsigned long exStyle = static_cast<unsigned long>(GetWindowLongA(window, GWL_EXSTYLE));
    const auto xWindow = reinterpret_cast<uintptr_t>(GetPropA(window, "__wine_x11_whole_window"));
    std::string out = "{\"hwnd\":" + std::to_string(Number(window));
    out += ",\"pid\":" + std::to_string(processId);
    out += ",\"class\":" + Quoted(ClassOf(window));
    out += ",\"title\":" + Quoted(TextOf(window));
    out += ",\"id\":" + std::to_string(GetDlgCtrlID(window));
    out += ",\"style\":" + Hex(style) + ",\"exstyle\":" + Hex(exStyle);
    out += ",\"rect\":" + RectJson(rect) + ",\"client\":" + RectJson(client);
    out += ",\"visible\":" + std::string(visible ? "true" : "false");
    out += ",\"owner\":" + std::to_string(Number(GetWindow(window, GW_OWNER)));
    out += ",\"parent\":" + std::to_string(Number(GetAncestor(window, GA_PARENT)));
    out += ",\"foreground\":" + std::string(GetForegroundWindow() == window ? "true" : "false");
    out += ",\"xwin\":" + std::to_string(static_cast<unsigned long>(xWindow));
    if (ClassOf(window) == "Button") {
        DWORD_PTR check = 0;
        SendMessageTimeoutW(window, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, 2000, &check);
        out += ",\"checked\":" + std::string(check == BST_CHECKED ? "true" : "false");
    }
    return out + "}";
}

void Print(const std::string& line) {
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

BOOL CALLBACK PrintWindow(HWND window, LPARAM) {
    Print(Describe(window));
    return TRUE;
}

struct Wanted {
    std::string className, title;
    HWND found;
};

BOOL CALLBACK MatchWindow(HWND window, LPARAM data) {
    Wanted* wanted = reinterpret_cast<Wanted*>(data);
    if (!IsWindowVisible(window) || ClassOf(window) != wanted->className) return TRUE;
    if (wanted->title != "*" && TextOf(window) != wanted->title) return TRUE;
    wanted->found = window;
    return FALSE;
}

int Wait(const char* className, const char* title, DWORD timeoutMs) {
    Wanted wanted{className, title, nullptr};
    const DWORD start = GetTickCount();
    for (;;) {
        EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&wanted));
        if (wanted.found) {
            Print(Describe(wanted.found));
            return 0;
        }
        if (GetTickCount() - start > timeoutMs) return 1;
        Sleep(20);
    }
}

// FindWindowA, as a starting saver looks for a running one, so that "gone"
// means gone for the next saver too.
int Gone(const char* className, const char* title, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    while (FindWindowA(className, std::strcmp(title, "*") == 0 ? nullptr : title)) {
        if (GetTickCount() - start > timeoutMs) return 1;
        Sleep(20);
    }
    return 0;
}

int Children(HWND parent) {
    for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        std::string line = Describe(child);
        RECT inParent{};
        GetWindowRect(child, &inParent);
        MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&inParent), 2);
        line.insert(line.size() - 1, ",\"inparent\":" + RectJson(inParent));
        Print(line);
    }
    return IsWindow(parent) ? 0 : 1;
}

int Cursor() {
    CURSORINFO info{};
    info.cbSize = sizeof info;
    if (!GetCursorInfo(&info)) return 1;
    Print("{\"showing\":" + std::string(info.flags & CURSOR_SHOWING ? "true" : "false") +
          ",\"cursor\":" +
          std::to_string(static_cast<unsigned long>(reinterpret_cast<uintptr_t>(info.hCursor))) +
          ",\"x\":" + std::to_string(info.ptScreenPos.x) +
          ",\"y\":" + std::to_string(info.ptScreenPos.y) + "}");
    return 0;
}

// Wine's server keeps the last position that reached it through one of its
// own windows, and for a short while after that change GetCursorPos answers
// with it rather than asking X: a pointer moved where no Wine window sees it
// reads as its old place until then.
int CursorPos() {
    POINT at{};
    if (!GetCursorPos(&at)) return 1;
    Print("{\"x\":" + std::to_string(at.x) + ",\"y\":" + std::to_string(at.y) + "}");
    return 0;
}

int SetCursorPosition(const char* x, const char* y) {
    if (!SetCursorPos(std::atoi(x), std::atoi(y))) return 1;
    return CursorPos();
}

int SaverRunning() {
    BOOL running = FALSE;
    if (!SystemParametersInfoA(SPI_GETSCREENSAVERRUNNING, 0, &running, 0)) return 1;
    Print("{\"running\":" + std::string(running ? "true" : "false") + "}");
    return 0;
}

int Screen() {
    Print("{\"width\":" + std::to_string(GetSystemMetrics(SM_CXVIRTUALSCREEN)) +
          ",\"height\":" + std::to_string(GetSystemMetrics(SM_CYVIRTUALSCREEN)) + "}");
    return 0;
}

int SetSaverRunning(bool on) {
    BOOL previous = FALSE;
    return SystemParametersInfoA(SPI_SETSCREENSAVERRUNNING, on, &previous, 0) ? 0 : 1;
}

std::string FromHex(const char* hex) {
    std::string bytes;
    for (size_t i = 0; hex[i] && hex[i + 1]; i += 2) {
        const char pair[3] = {hex[i], hex[i + 1], 0};
        bytes += static_cast<char>(std::strtoul(pair, nullptr, 16));
    }
    return bytes;
}

int Spawn(const char* program, const char* hexLine, DWORD timeoutMs) {
    std::string line = FromHex(hexLine);
    std::string buffer = line + '\0';
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(program, &buffer[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        Print("{\"error\":" + std::to_string(GetLastError()) + "}");
        return 1;
    }
    Print("{\"pid\":" + std::to_string(process.dwProcessId) + "}");
    bool timedOut = WaitForSingleObject(process.hProcess, timeoutMs) != WAIT_OBJECT_0;
    if (timedOut) {
        TerminateProcess(process.hProcess, 0xDEAD);
        WaitForSingleObject(process.hProcess, 5000);
    }
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    Print("{\"exit\":" + std::to_string(code) + ",\"timeout\":" + (timedOut ? "true" : "false") +
          "}");
    return 0;
}

int Usage() {
    std::fputs(
        "usage: window_probe windows|children H|wait CLASS TITLE MS|gone CLASS TITLE "
        "MS|cursor|cursor-pos|set-cursor-pos X Y|saver-running|"
        "set-saver-running 0|1|code-page|spawn PROGRAM HEXLINE MS\n",
        stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return Usage();
    const std::string what = argv[1];
    if (what == "windows") {
        Print("{\"foreground\":" + std::to_string(Number(GetForegroundWindow())) + "}");
        EnumWindows(PrintWindow, 0);
        return 0;
    }
    if (what == "children" && argc == 3) return Children(HandleFrom(argv[2]));
    if (what == "wait" && argc == 5)
        return Wait(argv[2], argv[3], std::strtoul(argv[4], nullptr, 10));
    if (what == "gone" && argc == 5)
        return Gone(argv[2], argv[3], std::strtoul(argv[4], nullptr, 10));
    if (what == "cursor") return Cursor();
    if (what == "cursor-pos") return CursorPos();
    if (what == "set-cursor-pos" && argc == 4) return SetCursorPosition(argv[2], argv[3]);
    if (what == "code-page") {
        Print("{\"acp\":" + std::to_string(GetACP()) + "}");
        return 0;
    }
    if (what == "saver-running") return SaverRunning();
    if (what == "screen") return Screen();
    if (what == "set-saver-running" && argc == 3)
        return SetSaverRunning(std::strcmp(argv[2], "1") == 0);
    if (what == "spawn" && argc == 5)
        return Spawn(argv[2], argv[3], std::strtoul(argv[4], nullptr, 10));
    return Usage();
}
