// Paints one bitmap file into a top-most window for the screenshot test
// (paint-screenshot): on black, at its own size at (10, 20) with
// PaintDibUnscaled, and twice as large at (60, 20) with PaintDibScaled.
// Creates READY once the window shows the picture, and ends when DONE
// appears (or after 30 seconds).
// Usage: paint_window FILE.bmp READY DONE
#include <windows.h>

#include <cstdio>

#include "dib.h"

namespace {

HGLOBAL g_picture;
LONG g_width, g_height;

LRESULT CALLBACK PaintProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_PAINT) return DefWindowProcA(window, message, wParam, lParam);
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    PatBlt(dc, 0, 0, 200, 150, BLACKNESS);
    PaintDibUnscaled(dc, 10, 20, g_width, g_height, g_picture, 0, 0, SRCCOPY);
    SetStretchBltMode(dc, COLORONCOLOR);
    PaintDibScaled(dc, 60, 20, 2 * g_width, 2 * g_height, g_picture, 0, 0, g_width, g_height,
                   SRCCOPY);
    EndPaint(window, &paint);
    return 0;
}

void Pump(DWORD milliseconds) {
    const DWORD start = GetTickCount();
    do {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
        Sleep(10);
    } while (GetTickCount() - start < milliseconds);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) return 2;
    g_picture = LoadBmpFile(argv[1]);
    BITMAPINFOHEADER header;
    if (!QueryDibHeader(g_picture, &header)) {
        std::fprintf(stderr, "paint_window: cannot load %s\n", argv[1]);
        return 1;
    }
    g_width = header.biWidth;
    g_height = header.biHeight;
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = PaintProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "DunmerePaintWindow";
    RegisterClassA(&windowClass);
    HWND window =
        CreateWindowExA(WS_EX_TOPMOST, windowClass.lpszClassName, "paint", WS_POPUP | WS_VISIBLE, 0,
                        0, 200, 150, nullptr, nullptr, windowClass.hInstance, nullptr);
    if (!window) return 1;
    UpdateWindow(window);
    Pump(700);
    CloseHandle(CreateFileA(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    for (int i = 0; i < 3000 && GetFileAttributesA(argv[3]) == INVALID_FILE_ATTRIBUTES; ++i)
        Pump(10);
    DestroyWindow(window);
    GlobalFree(g_picture);
    return 0;
}
