// Stands in, in the tests, for the password-change entry of MPR.DLL, which
// Wine's own MPR.DLL does not offer. PwdChangePasswordA records how it was
// called (the provider name, the parent window, the two further arguments, and
// which window was in the foreground then) and reports success without a
// dialog. The saver loads it from its own folder when Wine is told to prefer
// a native MPR.DLL (WINEDLLOVERRIDES mpr=n,b).
#include "standin_support.h"

namespace {

constexpr char STANDIN_NAME[] = "mpr.dll";
HMODULE self;

}  // namespace

extern "C" __declspec(dllexport) DWORD WINAPI
    PwdChangePasswordA(LPCSTR provider, HWND parent, DWORD flags, LPVOID info) {
    StandinLog(self, STANDIN_NAME, "change",
               JsonText("provider", provider) + "," + JsonWindow("parent", parent) + "," +
                   JsonBool("parentIsWindow", parent && IsWindow(parent)) + "," +
                   JsonNumber("flags", flags) + "," +
                   JsonNumber("info", reinterpret_cast<uintptr_t>(info)) + "," +
                   JsonWindow("foreground", GetForegroundWindow()));
    return 0;  // WN_SUCCESS
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        self = instance;
        StandinLog(self, STANDIN_NAME, "load");
    } else if (reason == DLL_PROCESS_DETACH) {
        StandinLog(self, STANDIN_NAME, reserved == nullptr ? "free" : "process-exit");
    }
    return TRUE;
}
