// A saver process that faults inside its configuration mode, for the test of
// the fault guard. Arguments: "fault" or "calm" run the mode after raising the
// screen-saver-running flag; "read" exits with the flag's state; "clear" lowers it.
#include "saver_frame.h"

#include <cstring>

namespace {
bool faultInMode;
}

LRESULT CALLBACK AppSaverProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return SaverDefaultHandling(window, message, wParam, lParam);
}

INT_PTR CALLBACK AppConfigDialogProc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

BOOL AppPrepareDialogClasses(HINSTANCE) {
    SetSaverRunningFlag(true);
    if (faultInMode) *static_cast<volatile int*>(nullptr) = 1;
    return FALSE;
}

int main(int argc, char** argv) {
    const char* what = argc > 1 ? argv[1] : "";
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
    return DispatchSaverMode(GetModuleHandleA(nullptr), "/c");
}
