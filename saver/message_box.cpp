// The slideshow's message boxes, readable on every Windows. Windows NT gets the
// Unicode box: through the ANSI one a system whose code page is not 932 would
// show the Shift-JIS bytes as other characters. Windows 9x keeps the ANSI box,
// which a Japanese 9x shows right.
#include "saver_frame.h"
#include "slideshow.h"

void ShowJapaneseMessage(HWND owner, const JapaneseText& text) {
    if (g_frame.isWindows9x)
        MessageBoxA(owner, text.ansi, nullptr, MB_OK);
    else
        MessageBoxW(owner, text.wide, nullptr, MB_OK);
}
