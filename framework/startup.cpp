// Process entry and command-line modes: which of the four modes the display
// settings asked for, and the two small modes that need no window of our own.
#include "saver_frame.h"

namespace {

constexpr SaverFrameState InitialFrameState() {
    SaverFrameState state{};
    state.moveThreshold = 4;
    state.lastVerifyTick = NO_VERIFY_YET;
    return state;
}

bool IsBlank(unsigned char c) { return c <= 0x20; }

int RunChosenMode(const char* arguments) {
    const char* p = arguments;
    for (;;) {
        const unsigned char c = static_cast<unsigned char>(*p);
        switch (c) {
            case 0: return ShowSettingsDialog(nullptr);
            case ' ':
            case '-':
            case '/': ++p; continue;
            case 'S':
            case 's': return RunSaverWindow(nullptr);
            case 'P':
            case 'p':
            case 'L':
            case 'l':
                ++p;
                while (*p == ' ') ++p;
                return RunPreview(p);
            case 'C':
            case 'c': {
                HWND owner = nullptr;
                if (p[1] == ':') owner = ParseDecimalHandle(p + 2);
                if (!owner || !IsWindow(owner)) owner = GetForegroundWindow();
                return ShowSettingsDialog(owner);
            }
            case 'A':
            case 'a':
                if (!g_frame.isWindows9x) return -1;
                ++p;
                while (*p == ' ') ++p;
                return ChangeSaverPassword(p);
            default: return -1;
        }
    }
}

intptr_t GuardedModeBody(void* arguments) {
    return RunChosenMode(static_cast<const char*>(arguments));
}

}  // namespace

SaverFrameState g_frame = InitialFrameState();

const char* SkipProgramName(const char* commandLine) {
    const char* p = commandLine;
    auto byte = [&p] { return static_cast<unsigned char>(*p); };
    if (byte() == '"') {
        p = CharNextA(p);
        while (byte() != 0 && byte() != '"') p = CharNextA(p);
        if (byte() == '"') ++p;
    } else if (byte() > 0x20) {
        while (byte() > 0x20) p = CharNextA(p);
    }
    while (byte() != 0 && IsBlank(byte())) p = CharNextA(p);
    return p;
}

void SaverEntry() {
    const char* arguments = SkipProgramName(GetCommandLineA());
    ExitProcess(static_cast<UINT>(DispatchSaverMode(GetModuleHandleA(nullptr), arguments)));
}

int DispatchSaverMode(HINSTANCE instance, const char* arguments) {
    g_frame.instance = instance;
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof version;
    static_assert(sizeof(OSVERSIONINFOA) == 148, "the platform check passes the 148-byte record");
    g_frame.isWindows9x =
        GetVersionExA(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS;

    DWORD faultCode = 0;
    const intptr_t result =
        RunUnderFaultGuard(GuardedModeBody, const_cast<char*>(arguments), &faultCode);
    if (faultCode == 0) return static_cast<int>(result);
    SetSaverRunningFlag(false);  // the system gave the fault to us: it is reported already
    return static_cast<int>(faultCode);
}

HWND ParseDecimalHandle(const char* text) {
    uint32_t value = 0;  // 32-bit and wrapping, as the display settings' numbers are read
    for (; *text >= '0' && *text <= '9'; ++text)
        value = value * 10u + static_cast<uint32_t>(*text - '0');
    // Window handles are 32-bit values on every Windows; widen them the way the
    // system does (sign extension), so a 64-bit build reads the same handle.
    return reinterpret_cast<HWND>(static_cast<intptr_t>(static_cast<int32_t>(value)));
}

int RunPreview(const char* text) {
    HWND parent = ParseDecimalHandle(text);
    if (!parent || !IsWindow(parent)) return -1;
    return RunSaverWindow(parent);
}

int ShowSettingsDialog(HWND owner) {
    if (!AppPrepareDialogClasses(g_frame.instance)) return 0;
    return static_cast<int>(
        ShowModalDialog(g_frame.instance, SETTINGS_DIALOG_ID, owner, GuardedConfigDialogProc));
}

int ChangeSaverPassword(const char* text) {
    HWND parent = ParseDecimalHandle(text);
    if (!parent || !IsWindow(parent)) parent = GetForegroundWindow();
    CallPasswordChanger(parent);
    return 0;
}

void CallPasswordChanger(HWND parent) {
    HMODULE mpr = LoadLibraryA("MPR.DLL");
    if (!mpr) return;
    using PwdChangePasswordFn =
        DWORD(WINAPI*)(LPCSTR provider, HWND parent, DWORD reserved1, LPVOID reserved2);
    auto change = ProcAs<PwdChangePasswordFn>(GetProcAddress(mpr, "PwdChangePasswordA"));
    if (change) change("SCRSAVE", parent, 0, nullptr);
    FreeLibrary(mpr);
}
