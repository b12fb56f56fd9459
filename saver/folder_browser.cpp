// The system's folder browser, for the settings dialog. SHELL32 is loaded
// only for it, so that the program's imports stay what Windows 95 and NT 4.0
// have; the browser of SHELL32 4.0, which both ship, takes only the oldest
// flags, and the newer dialog style is asked for where SHELL32 5.0 or later
// is found, with OLE set up for the thread as that style needs.
#include "picture_folder.h"
#include "saver_frame.h"
#include "slideshow.h"

#include <shlobj.h>

namespace {

// DllGetVersion's record (shlwapi.h, which the program does not use otherwise).
struct ShellVersion {
    DWORD size, major, minor, build, platform;
};
using DllGetVersionFn = HRESULT(CALLBACK*)(ShellVersion*);
using OleInitializeFn = HRESULT(WINAPI*)(void*);
using OleUninitializeFn = void(WINAPI*)();
using SHGetMallocFn = HRESULT(WINAPI*)(IMalloc**);
using BrowseWFn = LPITEMIDLIST(WINAPI*)(BROWSEINFOW*);
using BrowseAFn = LPITEMIDLIST(WINAPI*)(BROWSEINFOA*);
using PathWFn = BOOL(WINAPI*)(LPCITEMIDLIST, wchar_t*);
using PathAFn = BOOL(WINAPI*)(LPCITEMIDLIST, char*);

enum : DWORD { NEW_STYLE_SHELL = 5 };

// SHELL32 4.0 exports the ANSI forms under their plain names as well.
FARPROC FindEither(HMODULE module, const char* name, const char* plainName) {
    FARPROC found = GetProcAddress(module, name);
    return found ? found : GetProcAddress(module, plainName);
}

// The browser opens on the folder that the dialog shows.
int CALLBACK OnBrowserEvent(HWND browser, UINT event, LPARAM, LPARAM start) {
    if (event == BFFM_INITIALIZED && start)
        SendMessageA(browser, g_frame.isWindows9x ? BFFM_SETSELECTIONA : BFFM_SETSELECTIONW, TRUE,
                     start);
    return 0;
}

// BROWSEINFOA or BROWSEINFOW, filled alike.
template <typename Info, typename Char>
Info BrowseInfo(HWND owner, Char* displayName, const Char* title, UINT flags, LPARAM start) {
    Info info{};
    info.hwndOwner = owner;
    info.pszDisplayName = displayName;
    info.lpszTitle = title;
    info.ulFlags = flags;
    info.lpfn = OnBrowserEvent;
    info.lParam = start;
    return info;
}

// One browse with the calls of this system; the chosen folder in `chosen`.
LPITEMIDLIST Browse(HMODULE shell, HWND owner, UINT flags, const wchar_t* start, wchar_t* chosen) {
    wchar_t displayName[MAX_PATH];
    if (!g_frame.isWindows9x) {
        auto browse = ProcAs<BrowseWFn>(GetProcAddress(shell, "SHBrowseForFolderW"));
        auto pathOf = ProcAs<PathWFn>(GetProcAddress(shell, "SHGetPathFromIDListW"));
        if (!browse || !pathOf) return nullptr;
        BROWSEINFOW info = BrowseInfo<BROWSEINFOW>(owner, displayName, MSG_CHOOSE_FOLDER.wide,
                                                   flags, reinterpret_cast<LPARAM>(start));
        LPITEMIDLIST list = browse(&info);
        if (list && !pathOf(list, chosen)) chosen[0] = 0;
        return list;
    }
    auto browse = ProcAs<BrowseAFn>(FindEither(shell, "SHBrowseForFolderA", "SHBrowseForFolder"));
    auto pathOf = ProcAs<PathAFn>(FindEither(shell, "SHGetPathFromIDListA", "SHGetPathFromIDList"));
    if (!browse || !pathOf) return nullptr;
    char ansiStart[MAX_PATH], ansiChosen[MAX_PATH], ansiName[MAX_PATH];
    const bool startKnown = ToCodePage(start, ansiStart, MAX_PATH) && ansiStart[0];
    BROWSEINFOA info =
        BrowseInfo<BROWSEINFOA>(owner, ansiName, MSG_CHOOSE_FOLDER.ansi, flags,
                                startKnown ? reinterpret_cast<LPARAM>(ansiStart) : 0);
    LPITEMIDLIST list = browse(&info);
    if (list && !(pathOf(list, ansiChosen) && FromCodePage(ansiChosen, chosen, MAX_PATH)))
        chosen[0] = 0;
    return list;
}

DWORD ShellMajorVersion(HMODULE shell) {
    auto getVersion = ProcAs<DllGetVersionFn>(GetProcAddress(shell, "DllGetVersion"));
    ShellVersion version{sizeof version, 4, 0, 0, 0};  // 4.0 has no DllGetVersion
    if (getVersion) getVersion(&version);
    return version.major;
}

}  // namespace

bool BrowseForFolder(HWND owner, wchar_t* path, uint32_t capacity) {
    HMODULE shell = LoadLibraryA("SHELL32.DLL");
    if (!shell) return false;
    UINT flags = BIF_RETURNONLYFSDIRS;
    HMODULE ole = nullptr;
    OleUninitializeFn oleEnd = nullptr;
    if (ShellMajorVersion(shell) >= NEW_STYLE_SHELL) {
        ole = LoadLibraryA("OLE32.DLL");
        auto oleStart =
            ole ? ProcAs<OleInitializeFn>(GetProcAddress(ole, "OleInitialize")) : nullptr;
        oleEnd = ole ? ProcAs<OleUninitializeFn>(GetProcAddress(ole, "OleUninitialize")) : nullptr;
        if (oleStart && oleEnd && SUCCEEDED(oleStart(nullptr)))
            flags |= BIF_NEWDIALOGSTYLE;
        else
            oleEnd = nullptr;
    }
    wchar_t chosen[MAX_PATH] = {};
    LPITEMIDLIST list = Browse(shell, owner, flags, path, chosen);
    bool picked = false;
    if (list) {
        uint32_t n = 0;
        while (chosen[n]) ++n;
        picked = n > 0 && n < capacity;
        for (uint32_t i = 0; picked && i <= n; ++i) path[i] = chosen[i];
        // The list belongs to the shell's allocator.
        auto getMalloc = ProcAs<SHGetMallocFn>(GetProcAddress(shell, "SHGetMalloc"));
        IMalloc* allocator = nullptr;
        if (getMalloc && SUCCEEDED(getMalloc(&allocator)) && allocator) {
            allocator->Free(list);
            allocator->Release();
        }
    }
    if (oleEnd) oleEnd();
    if (ole) FreeLibrary(ole);
    FreeLibrary(shell);
    return picked;
}
