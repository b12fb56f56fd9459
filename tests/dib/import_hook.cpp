// Redirected imports: the _l file calls counted for the transfer tests, and
// SetCursor recorded for the wait-cursor test.
#include "import_hook.h"

#include "bmp_test_support.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

using LreadFn = UINT(WINAPI*)(HFILE, LPVOID, UINT);
using LwriteFn = UINT(WINAPI*)(HFILE, LPCCH, UINT);
using SetCursorFn = HCURSOR(WINAPI*)(HCURSOR);

LreadFn g_lread;
LwriteFn g_lwrite;
SetCursorFn g_setCursor;
FileCalls g_fileCalls;
CursorCalls g_cursorCalls;

UINT WINAPI CountingLread(HFILE file, LPVOID buffer, UINT bytes) {
    ++g_fileCalls.reads;
    g_fileCalls.lastRead = bytes;
    return g_lread(file, buffer, bytes);
}

UINT WINAPI CountingLwrite(HFILE file, LPCCH buffer, UINT bytes) {
    ++g_fileCalls.writes;
    g_fileCalls.lastWrite = bytes;
    return g_lwrite(file, buffer, bytes);
}

HCURSOR WINAPI RecordingSetCursor(HCURSOR cursor) {
    if (g_cursorCalls.count++ == 0) g_cursorCalls.first = cursor;
    g_cursorCalls.last = cursor;
    return g_setCursor(cursor);
}

// Installed before main, so that every test sees the counters.
struct Install {
    Install() {
        g_lread = reinterpret_cast<LreadFn>(
            RedirectImport("kernel32.dll", "_lread", reinterpret_cast<void*>(CountingLread)));
        g_lwrite = reinterpret_cast<LwriteFn>(
            RedirectImport("kernel32.dll", "_lwrite", reinterpret_cast<void*>(CountingLwrite)));
        g_setCursor = reinterpret_cast<SetCursorFn>(
            RedirectImport("user32.dll", "SetCursor", reinterpret_cast<void*>(RecordingSetCursor)));
        if (!g_lread || !g_lwrite || !g_setCursor) {
            std::fputs("import_hook: _lread, _lwrite or SetCursor is not imported\n", stderr);
            std::abort();
        }
    }
} g_install;

}  // namespace

void* RedirectImport(const char* dll, const char* function, void* replacement) {
    auto* base = reinterpret_cast<BYTE*>(GetModuleHandleA(nullptr));
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    void* original = nullptr;
    for (auto* d = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
         d->Name; ++d) {
        if (lstrcmpiA(reinterpret_cast<const char*>(base + d->Name), dll) != 0) continue;
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(
            base + (d->OriginalFirstThunk ? d->OriginalFirstThunk : d->FirstThunk));
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            const auto* byName =
                reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<const char*>(byName->Name), function) != 0) continue;
            DWORD protection;
            VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE,
                           &protection);
            if (!original) original = reinterpret_cast<void*>(slots->u1.Function);
            slots->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
            VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, protection, &protection);
        }
    }
    return original;
}

FileCalls CountedFileCalls() { return g_fileCalls; }
CursorCalls RecordedCursorCalls() { return g_cursorCalls; }
void ResetCursorCalls() { g_cursorCalls = CursorCalls{}; }
