// Modal dialogs from the program's own templates. The templates hold their
// texts as Unicode; a dialog made through the ANSI calls passes them through
// the system's ANSI code page, which on a system whose code page is not 932
// turns every Japanese text into question marks. Windows NT therefore makes
// the dialog with the Unicode call. Windows 9x has no Unicode dialogs, and a
// Japanese 9x shows the ANSI ones right.
#include "saver_frame.h"

INT_PTR ShowModalDialog(HINSTANCE instance, WORD templateId, HWND owner, DLGPROC procedure) {
    if (!g_frame.isWindows9x) {
        // Looked up rather than imported: Windows 95 may not export it, and a
        // program importing a missing function does not even start there.
        using DialogBoxParamWFn = INT_PTR(WINAPI*)(HINSTANCE, LPCWSTR, HWND, DLGPROC, LPARAM);
        auto dialogBoxW = ProcAs<DialogBoxParamWFn>(
            GetProcAddress(GetModuleHandleA("USER32.DLL"), "DialogBoxParamW"));
        if (dialogBoxW)
            return dialogBoxW(instance, MAKEINTRESOURCEW(templateId), owner, procedure, 0);
    }
    return DialogBoxParamA(instance, MAKEINTRESOURCEA(templateId), owner, procedure, 0);
}
