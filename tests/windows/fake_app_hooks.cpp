#include "fake_app_hooks.h"

#include "saver_frame.h"

FakeApp g_fakeApp;

LRESULT CALLBACK AppSaverProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    g_fakeApp.messages.push_back(message);
    if (message == WM_CREATE && g_fakeApp.closeOnCreate) PostMessageA(window, WM_CLOSE, 0, 0);
    if (message == WM_CREATE && g_fakeApp.refuseCreate) return -1;
    if (message == WM_DESTROY) return 0;
    return SaverDefaultHandling(window, message, wParam, lParam);
}

INT_PTR CALLBACK AppConfigDialogProc(HWND dialog, UINT message, WPARAM, LPARAM) {
    if (message != WM_INITDIALOG) return FALSE;
    ++g_fakeApp.dialogCalls;
    g_fakeApp.dialogOwner = GetWindow(dialog, GW_OWNER);
    EndDialog(dialog, g_fakeApp.dialogResult);
    return TRUE;
}

BOOL AppPrepareDialogClasses(HINSTANCE) {
    ++g_fakeApp.prepareCalls;
    return g_fakeApp.prepareResult;
}
