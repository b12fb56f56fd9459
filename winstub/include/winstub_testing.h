// Test-only controls of the native Win32 stand-in: make a chosen later call of
// GlobalAlloc, GlobalLock, GlobalReAlloc, CreateFileA, SetFilePointer,
// ReadFile, WriteFile or one of the OpenFile and _l calls fail, count the calls,
// and count the global blocks still allocated. Only the native
// build has them; Windows builds test these paths not at all.
#pragma once

enum WinstubCall {
    WINSTUB_GLOBAL_ALLOC,
    WINSTUB_GLOBAL_LOCK,
    WINSTUB_GLOBAL_REALLOC,
    WINSTUB_CREATE_FILE,
    WINSTUB_SET_FILE_POINTER,
    WINSTUB_READ_FILE,
    WINSTUB_WRITE_FILE,
    WINSTUB_OPEN_FILE,
    WINSTUB_LREAD,
    WINSTUB_LWRITE,
    WINSTUB_LLSEEK,
    WINSTUB_LCLOSE,
    WINSTUB_CALL_COUNT
};

// The `nth` call from now on (1 = the next one) of `call` fails; 0 disarms.
void WinstubFailCall(WinstubCall call, int nth);
// Disarms every failure.
void WinstubResetFailures();
// Number of calls of `call` since the process started.
long WinstubCallCount(WinstubCall call);
// The byte count the last _lread or _lwrite call asked for.
unsigned WinstubLastBytes(WinstubCall call);
// GlobalAlloc and GlobalReAlloc fail for more than `bytes` (0 = no limit), as
// on a machine with less memory.
void WinstubSetAllocationLimit(unsigned long long bytes);
// Global blocks allocated and not yet freed, and locks not yet undone.
long WinstubLiveBlocks();
long WinstubLiveLocks();
// Bytes held in global blocks now, and the most held at once since the last
// WinstubResetPeakBytes.
unsigned long long WinstubLiveBytes();
unsigned long long WinstubPeakBytes();
void WinstubResetPeakBytes();

// Number of PeekMessageA calls since the process started.
long WinstubPeekMessageCount();

// GetVersion reports Windows 98 (true) or Windows NT (false, the start).
void WinstubSetWindows9x(bool on);
