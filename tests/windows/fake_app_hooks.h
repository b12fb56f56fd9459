// A stand-in application for the framework's tests: it records what the
// framework hands it and answers as the test asks.
#pragma once

#include <windows.h>

#include <vector>

struct FakeApp {
    BOOL prepareResult = TRUE;
    int prepareCalls = 0;
    HWND dialogOwner = nullptr;
    int dialogCalls = 0;
    INT_PTR dialogResult = IDOK;
    bool closeOnCreate = false;  // the saver window asks to close as soon as it exists
    bool refuseCreate = false;   // WM_CREATE answers -1, so the window is never made
    std::vector<UINT> messages;
};

extern FakeApp g_fakeApp;
