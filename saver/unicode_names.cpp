// System calls that take names in any script. Windows NT has wide (UTF-16)
// forms of them, which are looked up at run time: Windows 95 lacks most of
// them, and a program that imported one would not even start there. Windows
// 9x names are in its ANSI code page, and the same routines convert there.
#include "picture_folder.h"
#include "saver_frame.h"

namespace {

using StrCmpLogicalFn = int(WINAPI*)(const wchar_t*, const wchar_t*);

struct WideCalls {
    bool lookedUp, complete, shellLookedUp;
    decltype(&FindFirstFileW) findFirst;
    decltype(&FindNextFileW) findNext;
    decltype(&CreateFileW) createFile;
    decltype(&lstrcmpiW) compareNoCase;
    decltype(&RegQueryValueExW) queryValue;
    decltype(&RegSetValueExW) setValue;
    decltype(&SetDlgItemTextW) setItemText;
    HMODULE shellUtilities;  // SHLWAPI, for the shell's own comparison (Windows XP on)
    StrCmpLogicalFn compareLogical;
};
WideCalls g_wide;

template <typename Fn>
void Find(Fn* call, const char* module, const char* name) {
    HMODULE loaded = GetModuleHandleA(module);
    *call = loaded ? ProcAs<Fn>(GetProcAddress(loaded, name)) : nullptr;
}

// Null on Windows 9x, and on a system that lacks one of the calls.
const WideCalls* Wide() {
    if (g_frame.isWindows9x) return nullptr;
    WideCalls& w = g_wide;
    if (!w.lookedUp) {
        w.lookedUp = true;
        Find(&w.findFirst, "KERNEL32.DLL", "FindFirstFileW");
        Find(&w.findNext, "KERNEL32.DLL", "FindNextFileW");
        Find(&w.createFile, "KERNEL32.DLL", "CreateFileW");
        Find(&w.compareNoCase, "KERNEL32.DLL", "lstrcmpiW");
        Find(&w.queryValue, "ADVAPI32.DLL", "RegQueryValueExW");
        Find(&w.setValue, "ADVAPI32.DLL", "RegSetValueExW");
        Find(&w.setItemText, "USER32.DLL", "SetDlgItemTextW");
        w.complete = w.findFirst && w.findNext && w.createFile && w.compareNoCase && w.queryValue &&
                     w.setValue && w.setItemText;
    }
    return w.complete ? &w : nullptr;
}

// The shell's comparison, loaded with the first comparison of names.
StrCmpLogicalFn ShellComparison() {
    WideCalls& w = g_wide;
    if (!w.shellLookedUp) {
        w.shellLookedUp = true;
        w.shellUtilities = LoadLibraryA("SHLWAPI.DLL");
        if (w.shellUtilities)
            w.compareLogical =
                ProcAs<StrCmpLogicalFn>(GetProcAddress(w.shellUtilities, "StrCmpLogicalW"));
    }
    return w.compareLogical;
}

bool HasQuestionMark(const char* text) {
    for (; *text; ++text)
        if (*text == '?') return true;  // never a trail byte of a double-byte character
    return false;
}

// A long name with characters outside the code page comes with question marks
// in their place, which no file name holds; its short name still opens it.
bool FromFound(const WIN32_FIND_DATAA& data, FoundName* found) {
    found->attributes = data.dwFileAttributes;
    const char* name = data.cFileName;
    if (HasQuestionMark(name)) name = data.cAlternateFileName;
    return name[0] && !HasQuestionMark(name) && FromCodePage(name, found->name, MAX_PATH);
}

void FromFound(const WIN32_FIND_DATAW& data, FoundName* found) {
    found->attributes = data.dwFileAttributes;
    int i = 0;
    for (; i < MAX_PATH - 1 && data.cFileName[i]; ++i) found->name[i] = data.cFileName[i];
    found->name[i] = 0;
}

// An entry that has no name the code page can hold is passed over rather
// than read under a wrong one.
void MarkUnreadable(FoundName* found) {
    found->name[0] = 0;
    found->attributes = 0;
}

}  // namespace

// The conversion puts the nearest letter for one the code page lacks (e for
// é), which would name another file: only a text that converts back to
// itself is taken.
bool ToCodePage(const wchar_t* text, char* out, int capacity) {
    BOOL lossy = FALSE;
    const int written = WideCharToMultiByte(CP_ACP, 0, text, -1, out, capacity, nullptr, &lossy);
    bool same = written > 0 && !lossy;
    if (same) {
        wchar_t back[FOLDER_PATH_LIMIT];
        const int n = MultiByteToWideChar(CP_ACP, 0, out, -1, back, FOLDER_PATH_LIMIT);
        same = n > 0;
        for (int i = 0; same && i < n; ++i) same = back[i] == text[i];
    }
    if (same) return true;
    if (capacity > 0) out[0] = 0;
    return false;
}

bool FromCodePage(const char* text, wchar_t* out, int capacity) {
    if (MultiByteToWideChar(CP_ACP, 0, text, -1, out, capacity) > 0) return true;
    if (capacity > 0) out[0] = 0;
    return false;
}

bool WideNamesAllowed() { return Wide() != nullptr; }

HANDLE FindFirstName(const wchar_t* pattern, FoundName* found) {
    if (const WideCalls* w = Wide()) {
        WIN32_FIND_DATAW data;
        HANDLE search = w->findFirst(pattern, &data);
        if (search != INVALID_HANDLE_VALUE) FromFound(data, found);
        return search;
    }
    char ansi[MAX_PATH];
    if (!ToCodePage(pattern, ansi, MAX_PATH)) return INVALID_HANDLE_VALUE;
    WIN32_FIND_DATAA data;
    HANDLE search = FindFirstFileA(ansi, &data);
    if (search != INVALID_HANDLE_VALUE && !FromFound(data, found)) MarkUnreadable(found);
    return search;
}

bool FindNextName(HANDLE search, FoundName* found) {
    if (const WideCalls* w = Wide()) {
        WIN32_FIND_DATAW data;
        if (!w->findNext(search, &data)) return false;
        FromFound(data, found);
        return true;
    }
    WIN32_FIND_DATAA data;
    if (!FindNextFileA(search, &data)) return false;
    if (!FromFound(data, found)) MarkUnreadable(found);
    return true;
}

HANDLE OpenForReading(const wchar_t* path) {
    if (const WideCalls* w = Wide())
        return w->createFile(path, GENERIC_READ,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    char ansi[MAX_PATH];
    if (!ToCodePage(path, ansi, MAX_PATH)) return INVALID_HANDLE_VALUE;
    // Windows 9x refuses FILE_SHARE_DELETE, which it does not know.
    return CreateFileA(ansi, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
}

int CompareNames(const wchar_t* a, const wchar_t* b) {
    if (const WideCalls* w = Wide()) {
        const StrCmpLogicalFn logical = ShellComparison();
        return logical ? logical(a, b) : w->compareNoCase(a, b);
    }
    char first[MAX_PATH], second[MAX_PATH];
    ToCodePage(a, first, MAX_PATH);
    ToCodePage(b, second, MAX_PATH);
    return lstrcmpiA(first, second);
}

void SetControlText(HWND dialog, int id, const wchar_t* text) {
    if (const WideCalls* w = Wide()) {
        w->setItemText(dialog, id, text);
        return;
    }
    char ansi[FOLDER_PATH_LIMIT * 2];
    ToCodePage(text, ansi, sizeof ansi);
    SetDlgItemTextA(dialog, id, ansi);
}

bool QueryRegistryText(HKEY key, const char* name, wchar_t* text, uint32_t capacity) {
    text[0] = 0;
    if (capacity < 1) return false;
    DWORD type = 0;
    if (const WideCalls* w = Wide()) {
        wchar_t wideName[16];
        if (!FromCodePage(name, wideName, 16)) return false;
        DWORD bytes = (capacity - 1) * sizeof(wchar_t);
        if (w->queryValue(key, wideName, nullptr, &type, reinterpret_cast<BYTE*>(text), &bytes) !=
                ERROR_SUCCESS ||
            type != REG_SZ) {
            text[0] = 0;
            return false;
        }
        // The stored text need not end with its zero; the room for one was kept.
        text[bytes / sizeof(wchar_t)] = 0;
        return true;
    }
    char ansi[FOLDER_PATH_LIMIT * 2];
    DWORD bytes = sizeof ansi - 1;
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(ansi), &bytes) !=
            ERROR_SUCCESS ||
        type != REG_SZ)
        return false;
    ansi[bytes] = 0;
    return FromCodePage(ansi, text, static_cast<int>(capacity));
}

void SetRegistryText(HKEY key, const char* name, const wchar_t* text) {
    if (const WideCalls* w = Wide()) {
        wchar_t wideName[16];
        if (!FromCodePage(name, wideName, 16)) return;
        const DWORD bytes = static_cast<DWORD>((lstrlenW(text) + 1) * sizeof(wchar_t));
        w->setValue(key, wideName, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), bytes);
        return;
    }
    char ansi[FOLDER_PATH_LIMIT * 2];
    if (!ToCodePage(text, ansi, sizeof ansi)) return;
    RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(ansi),
                   static_cast<DWORD>(lstrlenA(ansi) + 1));
}

void ReleaseNameCalls() {
    if (g_wide.shellUtilities) FreeLibrary(g_wide.shellUtilities);
    g_wide = WideCalls{};
}
