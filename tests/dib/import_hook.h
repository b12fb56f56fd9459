// Windows test builds only: calls this program makes to a system DLL redirected
// through a function of the test's own, by rewriting the program's import
// table. Lets a test count and inspect calls that leave no other trace.
#pragma once

#include <windows.h>

// Points every import of `function` from `dll` at `replacement`; the original
// address, or null when the program does not import it.
void* RedirectImport(const char* dll, const char* function, void* replacement);

// SetCursor calls made since the last ResetCursorCalls, in order.
struct CursorCalls {
    int count;
    HCURSOR first, last;
};
CursorCalls RecordedCursorCalls();
void ResetCursorCalls();
