// A saver process that faults inside a mode, for the test of the fault guard.
// Arguments: "fault" or "calm" run the configuration mode after raising the
// screen-saver-running flag; "fault-window" and "fault-timer" raise it in the
// saver window's WM_CREATE and fault there or in a timer callback; "read" exits
// with the flag's state; "clear" lowers it.
#include "saver_frame.h"

#include <cstring>

namespace {
const char* what = "";
bool faultInMode;

void Fault() { *static_cast<volatile int*>(nullptr) = 1; }

void CALLBACK FaultingTimerProc(HWND, UINT, UINT_PTR, DWORD) { Fault(); }
}  // namespace

LRESULT CALLBACK AppSaverProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CREATE) {
        SetSaverRunningFlag(true);
        if (std::strcmp(what, "fault-window") == 0) Fault();
        SetTimer(window, 1, 10, GuardedTimerProc<FaultingTimerProc>);
    }
    return SaverDefaultHandling(window, message, wParam, lParam);
}

INT_PTR CALLBACK AppConfigDialogProc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

BOOL AppPrepareDialogClasses(HINSTANCE) {
    SetSaverRunningFlag(true);
    if (faultInMode) Fault();
    return FALSE;
}

int main(int argc, char** argv) {
    what = argc > 1 ? argv[1] : "";
    if (std::strcmp(what, "read") == 0) {
        BOOL running = FALSE;
        SystemParametersInfoA(SPI_GETSCREENSAVERRUNNING, 0, &running, 0);
        return running ? 1 : 0;
    }
    if (std::strcmp(what, "clear") == 0) {
        BOOL previous = FALSE;
        SystemParametersInfoA(SPI_SETSCREENSAVERRUNNING, FALSE, &previous, 0);
        return 0;
    }
    faultInMode = std::strcmp(what, "fault") == 0;
    return DispatchSaverMode(GetModuleHandleA(nullptr),
                             std::strncmp(what, "fault-", 6) == 0 ? "/s" : "/c");
}
