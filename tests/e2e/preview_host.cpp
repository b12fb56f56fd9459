// Stands in for the display settings around a preview: a window whose number
// the tests pass to the saver, which it can destroy on request.
//
//   preview_host [X Y WIDTH HEIGHT]
//
// Prints {"hwnd":N,"client":[0,0,W,H]} once the window exists, then reads
// commands from standard input, one a line:
//   destroy      destroys the window (the process then ends with 0)
//   foreground   brings the window to the foreground
// End of input destroys the window as well.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

enum : UINT { WM_HOST_DESTROY = WM_APP + 1, WM_HOST_FOREGROUND = WM_APP + 2 };

HWND hostWindow;

LRESULT CALLBACK HostProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_HOST_DESTROY: DestroyWindow(window); return 0;
        case WM_HOST_FOREGROUND: SetForegroundWindow(window); return 0;
        case WM_DESTROY: PostQuitMessage(0); return 0;
        default: return DefWindowProcA(window, message, wParam, lParam);
    }
}

// Standard input blocks, so it is read beside the message loop; only the
// window's own thread may destroy it, hence the posted requests.
DWORD WINAPI ReadCommands(void*) {
    char line[128];
    while (std::fgets(line, sizeof line, stdin)) {
        if (std::strncmp(line, "destroy", 7) == 0) PostMessageA(hostWindow, WM_HOST_DESTROY, 0, 0);
        if (std::strncmp(line, "foreground", 10) == 0)
            PostMessageA(hostWindow, WM_HOST_FOREGROUND, 0, 0);
    }
    PostMessageA(hostWindow, WM_HOST_DESTROY, 0, 0);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    int x = 100, y = 100, width = 320, height = 240;
    if (argc == 5) {
        x = std::atoi(argv[1]);
        y = std::atoi(argv[2]);
        width = std::atoi(argv[3]);
        height = std::atoi(argv[4]);
    }
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = HostProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    // Grey, so that a black preview inside it shows in a screenshot.
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH));
    windowClass.lpszClassName = "DunmereTestHost";
    if (!RegisterClassA(&windowClass)) return 1;
    // Topmost: with no window manager nothing else would raise it into view.
    hostWindow = CreateWindowExA(WS_EX_TOPMOST, windowClass.lpszClassName, "preview host",
                                 WS_OVERLAPPEDWINDOW | WS_VISIBLE | WS_CLIPCHILDREN, x, y, width,
                                 height, nullptr, nullptr, windowClass.hInstance, nullptr);
    if (!hostWindow) return 1;
    SetForegroundWindow(hostWindow);
    RECT client{};
    GetClientRect(hostWindow, &client);
    std::printf("{\"hwnd\":%lu,\"client\":[%ld,%ld,%ld,%ld]}\n",
                static_cast<unsigned long>(reinterpret_cast<uintptr_t>(hostWindow) & 0xFFFFFFFFu),
                client.left, client.top, client.right, client.bottom);
    std::fflush(stdout);

    HANDLE reader = CreateThread(nullptr, 0, ReadCommands, nullptr, 0, nullptr);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    // The reader may still sit in a blocking read; the process ends regardless.
    if (reader) CloseHandle(reader);
    ExitProcess(0);
}
