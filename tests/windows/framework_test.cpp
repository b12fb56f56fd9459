// The framework's start-up: reading the command line, choosing the mode, the
// dialog's owner, the full-screen and preview windows, and the fault guard.
#include "fake_app_hooks.h"
#include "saver_frame.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

namespace {

class Framework : public ::testing::Test {
protected:
    void SetUp() override {
        g_fakeApp = FakeApp{};
        SaverFrameState fresh{};
        fresh.moveThreshold = 4;
        fresh.lastVerifyTick = NO_VERIFY_YET;
        g_frame = fresh;
        UnregisterClassA("WindowsScreenSaverClass", GetModuleHandleA(nullptr));
    }
    void TearDown() override {
        for (HWND w : made) DestroyWindow(w);
        MSG quit;  // a destroyed saver window asks a loop to end; none runs here
        while (PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {}
        UnregisterClassA("WindowsScreenSaverClass", GetModuleHandleA(nullptr));
    }
    HWND MakeWindow(const char* title, DWORD style = WS_OVERLAPPEDWINDOW | WS_VISIBLE) {
        HWND w = CreateWindowExA(0, "STATIC", title, style, 10, 10, 300, 200, nullptr, nullptr,
                                 nullptr, nullptr);
        made.push_back(w);
        return w;
    }
    int Dispatch(const std::string& arguments) {
        return DispatchSaverMode(GetModuleHandleA(nullptr), arguments.c_str());
    }
    static std::string Handle(HWND w) {
        return std::to_string(static_cast<unsigned>(reinterpret_cast<uintptr_t>(w)));
    }
    std::vector<HWND> made;
};

TEST(CommandLine, SkipsTheProgramNameAndTheBlanksBehindIt) {
    struct Case {
        const char* line;
        const char* arguments;
    } cases[] = {
        {"Dunmere.scr /s", "/s"},
        {"\"C:\\Program Files\\Dunmere.scr\" /c:42", "/c:42"},
        {"\"C:\\a b\\Dunmere.scr\"/p 7", "/p 7"},
        {"\"never closed /s", ""},  // the whole line is the name: configuration dialog
        {"Dunmere.scr", ""},
        {"\"Dunmere.scr\"", ""},
        {" /s", "/s"},                    // a leading blank means no name at all
        {"Dunmere.scr\t \x01 -s", "-s"},  // tabs and control bytes count as blanks
        {"\"\x83\x5C\x95\x5C.scr\" /s",
         "/s"},  // double-byte name whose trail bytes are backslashes
        {"", ""},
    };
    for (const Case& c : cases)
        EXPECT_STREQ(SkipProgramName(c.line), c.arguments) << "line: " << c.line;
}

TEST(CommandLine, ReadsWindowNumbersAsWrappingUnsignedDecimals) {
    EXPECT_EQ(ParseDecimalHandle("123abc"), reinterpret_cast<HWND>(123));
    EXPECT_EQ(ParseDecimalHandle(""), nullptr);
    EXPECT_EQ(ParseDecimalHandle("-5"), nullptr);
    EXPECT_EQ(ParseDecimalHandle(" 5"), nullptr);
    EXPECT_EQ(ParseDecimalHandle("0x10"), nullptr);
    EXPECT_EQ(ParseDecimalHandle("4294967297"), reinterpret_cast<HWND>(1));  // 2^32 + 1 wraps to 1
    EXPECT_EQ(
        reinterpret_cast<uintptr_t>(ParseDecimalHandle("4294967295")),
        static_cast<uintptr_t>(static_cast<intptr_t>(-1)));  // widened like the system's handles
}

TEST_F(Framework, NoArgumentsShowTheDialogWithoutOwner) {
    g_fakeApp.dialogResult = 77;
    EXPECT_EQ(Dispatch(""), 77);
    EXPECT_EQ(g_fakeApp.dialogCalls, 1);
    EXPECT_EQ(g_fakeApp.dialogOwner, nullptr);
    EXPECT_EQ(Dispatch("  "), 77);  // separators only
}

TEST_F(Framework, ConfigurationOwnerIsTheNamedWindowOrTheForegroundWindow) {
    HWND named = MakeWindow("named owner");
    HWND front = MakeWindow("front");
    SetForegroundWindow(front);
    ASSERT_EQ(GetForegroundWindow(), front);

    EXPECT_EQ(Dispatch("/c:" + Handle(named)), IDOK);
    EXPECT_EQ(g_fakeApp.dialogOwner, named);
    SetForegroundWindow(front);
    EXPECT_EQ(Dispatch("/c " + Handle(named)),
              IDOK);  // a blank instead of the colon: number ignored
    EXPECT_EQ(g_fakeApp.dialogOwner, front);
    SetForegroundWindow(front);
    EXPECT_EQ(Dispatch("/c:0"), IDOK);
    EXPECT_EQ(g_fakeApp.dialogOwner, front);
    SetForegroundWindow(front);
    EXPECT_EQ(Dispatch("-C:987654"), IDOK);  // not a window
    EXPECT_EQ(g_fakeApp.dialogOwner, front);
    EXPECT_EQ(g_fakeApp.dialogCalls, 4);
}

TEST_F(Framework, RefusedDialogClassesEndTheModeWithZero) {
    g_fakeApp.prepareResult = FALSE;
    EXPECT_EQ(Dispatch("/c"), 0);
    EXPECT_EQ(g_fakeApp.prepareCalls, 1);
    EXPECT_EQ(g_fakeApp.dialogCalls, 0);
}

TEST_F(Framework, UnknownSwitchesAndBadPreviewParentsEndWithMinusOne) {
    HWND host = MakeWindow("host");
    for (const std::string& bad :
         std::vector<std::string>{"/x", "/1", "/\ts", "x", "\x83\x5C", "/p", "/p:" + Handle(host),
                                  "/l 0", "/p 987654", "/a", "/a " + Handle(host)}) {
        EXPECT_EQ(Dispatch(bad), -1) << "arguments: " << bad;
    }
    EXPECT_EQ(g_fakeApp.dialogCalls + g_fakeApp.prepareCalls, 0);
    EXPECT_TRUE(g_fakeApp.messages.empty());
}

TEST_F(Framework, FullScreenRunsOneTopmostWindowUntilItCloses) {
    g_fakeApp.closeOnCreate = true;
    EXPECT_EQ(Dispatch("-/ Screen"), 0);
    ASSERT_FALSE(g_fakeApp.messages.empty());
    EXPECT_NE(std::find(g_fakeApp.messages.begin(), g_fakeApp.messages.end(), WM_CREATE),
              g_fakeApp.messages.end());
    EXPECT_EQ(g_fakeApp.messages.back(), static_cast<UINT>(WM_NCDESTROY));
    EXPECT_FALSE(g_frame.isPreview);
    EXPECT_EQ(g_frame.autoPlayMessage, 0u);  // not on Windows NT
    EXPECT_FALSE(IsWindow(g_frame.saverWindow));
}

int g_slices = 0;
bool CountedSlice() {
    if (++g_slices == 3) PostMessageA(g_frame.saverWindow, WM_CLOSE, 0, 0);
    return true;
}

// Slices run while the queue is empty and stop as soon as a message waits: the
// close posted by the third slice is handled before any fourth one.
TEST_F(Framework, IdleWorkRunsInSlicesWhileNoMessageWaits) {
    g_slices = 0;
    g_frame.idleWork = CountedSlice;
    EXPECT_EQ(Dispatch("/s"), 0);
    EXPECT_EQ(g_slices, 3);
    EXPECT_FALSE(IsWindow(g_frame.saverWindow));
}

TEST_F(Framework, FullScreenStartDefersToARunningSaver) {
    WNDCLASSA cls{};
    cls.lpfnWndProc = DefWindowProcA;
    cls.hInstance = GetModuleHandleA(nullptr);
    cls.lpszClassName = "WindowsScreenSaverClass";
    ASSERT_TRUE(RegisterClassA(&cls));
    HWND running = CreateWindowExA(0, cls.lpszClassName, "Screen Saver", WS_POPUP, 0, 0, 10, 10,
                                   nullptr, nullptr, cls.hInstance, nullptr);
    made.push_back(running);
    EXPECT_EQ(Dispatch("s"), 0);
    EXPECT_TRUE(g_fakeApp.messages.empty());  // no window of our own was made
    EXPECT_EQ(g_frame.saverWindow, nullptr);
}

// CreateWindowExA fails in the first run; the class it left registered makes
// RegisterClassA fail in the second. Neither may read as success.
TEST_F(Framework, ARunWhoseWindowCannotBeMadeEndsWithMinusOne) {
    g_fakeApp.refuseCreate = true;
    EXPECT_EQ(Dispatch("/s"), -1);
    EXPECT_EQ(Dispatch("/p " + Handle(MakeWindow("host"))), -1);
}

TEST_F(Framework, PreviewFillsTheParentsClientArea) {
    HWND host = MakeWindow("host");
    RECT client;
    GetClientRect(host, &client);
    g_fakeApp.closeOnCreate = true;  // in preview form a close goes through at once
    EXPECT_EQ(Dispatch("/p   " + Handle(host)), 0);
    EXPECT_TRUE(g_frame.isPreview);
    EXPECT_EQ(g_fakeApp.messages.back(), static_cast<UINT>(WM_NCDESTROY));
    EXPECT_TRUE(IsWindow(host));
}

TEST(PasswordTicks, DifferencesSurviveTheCountersWrap) {
    EXPECT_EQ(TicksBetween(100, 350), 250u);
    EXPECT_EQ(TicksBetween(0xFFFFFF00u, 0x40u), 0x140u);
    EXPECT_LT(TicksBetween(0xFFFFFFF0u, 0x00000050u), 200u);
}

TEST(PasswordTicks, CloseRequestsWithin200MsOfAVerificationAreRefusedAcrossTheWrap) {
    // Verifications that ended up to 400 ms before the counter wraps, so that
    // 150, 199, 200 and 250 ms later lie on either side of the wrap.
    for (DWORD before = 1; before <= 400; ++before) {
        const DWORD ended = 0u - before;
        if (ended == NO_VERIFY_YET) continue;  // that reading means "none yet"
        EXPECT_TRUE(TooSoonToAskAgain(ended, ended)) << before;
        EXPECT_TRUE(TooSoonToAskAgain(ended, ended + 150)) << before;
        EXPECT_TRUE(TooSoonToAskAgain(ended, ended + 199)) << before;
        EXPECT_FALSE(TooSoonToAskAgain(ended, ended + 200)) << before;
        EXPECT_FALSE(TooSoonToAskAgain(ended, ended + 250)) << before;
    }
    EXPECT_FALSE(TooSoonToAskAgain(0u, 200u));
    EXPECT_TRUE(TooSoonToAskAgain(0u, 150u));
    // Before the first verification every close request asks.
    for (DWORD now : {0u, 1u, 150u, 0xFFFFFFF0u, 0xFFFFFFFFu})
        EXPECT_FALSE(TooSoonToAskAgain(NO_VERIFY_YET, now));
}

// A password provider inside the test: it answers as told and records what
// the framework's state was while it was asked.
struct FakeProvider {
    int calls = 0;
    BOOL answer = FALSE;
    HWND window = nullptr;
    bool verifyingDuringCall = false;
    BOOL nestedClose = TRUE;  // what a close request made while the dialog is open got
};
FakeProvider g_provider;

BOOL WINAPI FakeVerifyScreenSavePwd(HWND window) {
    ++g_provider.calls;
    g_provider.window = window;
    g_provider.verifyingDuringCall = g_frame.verifying;
    g_provider.nestedClose = VerifyBeforeClose(window);
    return g_provider.answer;
}

TEST_F(Framework, VerificationAsksTheProviderOnceAndThenKeepsQuietFor200Ms) {
    g_frame.isWindows9x = true;
    g_provider = FakeProvider{};
    WNDCLASSA cls{};
    cls.lpfnWndProc = SaverFrameProc;
    cls.hInstance = GetModuleHandleA(nullptr);
    cls.lpszClassName = "WindowsScreenSaverClass";
    ASSERT_TRUE(RegisterClassA(&cls));
    HWND saver = CreateWindowExA(0, cls.lpszClassName, "Screen Saver", WS_POPUP, 0, 0, 50, 50,
                                 nullptr, nullptr, cls.hInstance, nullptr);
    ASSERT_NE(saver, nullptr);
    made.push_back(saver);

    g_frame.verifyPassword =
        reinterpret_cast<FARPROC>(reinterpret_cast<void*>(FakeVerifyScreenSavePwd));
    EXPECT_FALSE(VerifyBeforeClose(saver));
    EXPECT_EQ(g_provider.calls, 1);
    EXPECT_EQ(g_provider.window, saver);
    EXPECT_TRUE(g_provider.verifyingDuringCall);
    EXPECT_FALSE(g_provider.nestedClose) << "a close request while the dialog is open is refused";
    EXPECT_EQ(g_provider.calls, 1) << "and does not ask again";
    EXPECT_FALSE(g_frame.verifying);
    EXPECT_EQ(g_frame.closeConfirmed, 0);
    EXPECT_LE(TicksBetween(g_frame.lastVerifyTick, GetTickCount()), 100u)
        << "the end of the verification is noted";

    EXPECT_FALSE(VerifyBeforeClose(saver));
    g_frame.lastVerifyTick = GetTickCount() - 150;
    EXPECT_FALSE(VerifyBeforeClose(saver));
    EXPECT_EQ(g_provider.calls, 1) << "refused without asking within 200 ms";

    g_frame.lastVerifyTick = GetTickCount() - 250;
    g_provider.answer = 7;
    EXPECT_TRUE(VerifyBeforeClose(saver));
    EXPECT_EQ(g_provider.calls, 2);
    EXPECT_EQ(g_frame.closeConfirmed, 7) << "the provider's answer is kept as it came";

    g_frame.lastVerifyTick = GetTickCount() - 1000;
    EXPECT_FALSE(VerifyBeforeClose(saver)) << "once the close is decided nobody asks again";
    EXPECT_EQ(g_provider.calls, 2);

    // Without a provider function every close goes ahead.
    g_frame.closeConfirmed = 0;
    g_frame.verifyPassword = nullptr;
    EXPECT_TRUE(VerifyBeforeClose(saver));
    EXPECT_EQ(g_frame.closeConfirmed, 1);
}

// "ScreenSaveUsePassword" as the user's desktop settings hold it, in a scratch
// key that stands in for HKEY_CURRENT_USER, and the password provider stand-in
// where the system would find it.
class PasswordSwitch : public ::testing::Test {
protected:
    static constexpr const char* SCRATCH_KEY = "Software\\Mirelvane\\DunmereTests\\PasswordSwitch";

    void SetUp() override {
        SaverFrameState fresh{};
        fresh.isWindows9x = true;
        fresh.lastVerifyTick = NO_VERIFY_YET;
        g_frame = fresh;
        RegDeleteTreeA(HKEY_CURRENT_USER, SCRATCH_KEY);
        ASSERT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, SCRATCH_KEY, &scratch), ERROR_SUCCESS);
        ASSERT_EQ(RegOverridePredefKey(HKEY_CURRENT_USER, scratch), ERROR_SUCCESS);
        ASSERT_TRUE(SetDllDirectoryA(DUNMERE_STANDINS_DIR));
    }
    void TearDown() override {
        UnloadPasswordProvider();
        SetDllDirectoryA(nullptr);
        RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
        RegCloseKey(scratch);
        RegDeleteTreeA(HKEY_CURRENT_USER, SCRATCH_KEY);
    }
    void Store(DWORD type, std::initializer_list<BYTE> bytes) {
        HKEY desktop;
        ASSERT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, "Control Panel\\Desktop", &desktop),
                  ERROR_SUCCESS);
        const std::vector<BYTE> data(bytes);
        RegSetValueExA(desktop, "ScreenSaveUsePassword", 0, type, data.data(),
                       static_cast<DWORD>(data.size()));
        RegCloseKey(desktop);
    }
    // Loads and unloads the provider; returns whether the run was protected.
    bool Protected() {
        LoadPasswordProvider();
        const bool on = g_frame.verifyPassword != nullptr;
        EXPECT_EQ(g_frame.providerModule != nullptr, on)
            << "the provider stays loaded exactly when it protects";
        UnloadPasswordProvider();
        EXPECT_EQ(g_frame.providerModule, nullptr);
        return on;
    }
    HKEY scratch = nullptr;
};

TEST_F(PasswordSwitch, MissingKeyOrValueLeavesTheRunUnprotected) {
    HKEY desktop;
    ASSERT_NE(RegOpenKeyA(HKEY_CURRENT_USER, "Control Panel\\Desktop", &desktop), ERROR_SUCCESS);
    EXPECT_FALSE(Protected());
    ASSERT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, "Control Panel\\Desktop", &desktop), ERROR_SUCCESS);
    RegCloseKey(desktop);
    EXPECT_FALSE(Protected());
    Store(REG_DWORD, {1, 0, 0, 0});
    EXPECT_TRUE(Protected()) << "the stand-in provider is found, so the cases above can fail";
}

TEST_F(PasswordSwitch, ValuesShorterThanFourBytesReadAsTheNumberTheirBytesMake) {
    struct Case {
        DWORD type;
        std::initializer_list<BYTE> bytes;
        bool on;
    } cases[] = {
        {REG_DWORD, {1, 0, 0, 0}, true},
        {REG_DWORD, {0, 0, 0, 0}, false},
        {REG_DWORD, {0, 0, 0, 1}, true},
        {REG_BINARY, {1}, true},
        {REG_BINARY, {0}, false},
        {REG_BINARY, {0, 1}, true},  // 0x0100
        {REG_BINARY, {0, 0, 0}, false},
        {REG_BINARY, {0, 0, 2}, true},
        {REG_BINARY, {}, false},
        {REG_BINARY, {1, 0, 0, 0, 0}, false},  // longer than four bytes: no password
        {REG_SZ, {'1', 0}, true},              // the type is not looked at: "1" reads as 0x31
        {REG_SZ, {0}, false},
    };
    for (const Case& c : cases) {
        Store(c.type, c.bytes);
        EXPECT_EQ(Protected(), c.on) << "type " << c.type << ", " << c.bytes.size() << " bytes";
    }
}

TEST_F(PasswordSwitch, TheRunningFlagIsRaisedOnlyWhileTheProviderIsLoaded) {
    auto flag = [] {
        BOOL running = FALSE;
        SystemParametersInfoA(SPI_GETSCREENSAVERRUNNING, 0, &running, 0);
        return running != FALSE;
    };
    BOOL previous;
    SystemParametersInfoA(SPI_SETSCREENSAVERRUNNING, FALSE, &previous, 0);
    Store(REG_DWORD, {1, 0, 0, 0});
    LoadPasswordProvider();
    ASSERT_NE(g_frame.verifyPassword, nullptr);
    EXPECT_TRUE(flag());
    UnloadPasswordProvider();
    EXPECT_FALSE(flag());

    g_frame.isWindows9x = false;  // Windows NT: nothing is loaded, the flag is left alone
    SystemParametersInfoA(SPI_SETSCREENSAVERRUNNING, TRUE, &previous, 0);
    LoadPasswordProvider();
    EXPECT_EQ(g_frame.providerModule, nullptr);
    UnloadPasswordProvider();
    EXPECT_TRUE(flag());
    SystemParametersInfoA(SPI_SETSCREENSAVERRUNNING, FALSE, &previous, 0);
}

std::string ChildPath() {
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string dir(path);
    return dir.substr(0, dir.find_last_of("\\/") + 1) + "fault_guard_child.exe";
}

DWORD RunChild(const char* argument) {
    std::string line = "\"" + ChildPath() + "\" " + argument;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process))
        return 0xDEADDEAD;
    if (WaitForSingleObject(process.hProcess, 60000) == WAIT_TIMEOUT)
        TerminateProcess(process.hProcess, 0xDEADDEAD);
    DWORD code = 0xDEADDEAD;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code;
}

// The child runs as on Windows 98, where the framework owns the system's
// screen-saver-running flag. A fault inside a mode must not leave it raised.
TEST(FaultGuard, AFaultInsideAModeLowersTheScreenSaverRunningFlag) {
    HKEY key;
    ASSERT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, "Software\\Wine\\AppDefaults\\fault_guard_child.exe",
                            &key),
              ERROR_SUCCESS);
    RegSetValueExA(key, "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>("win98"), 6);
    RegCloseKey(key);

    RunChild("clear");
    EXPECT_EQ(RunChild("calm"), 0u);
    EXPECT_EQ(RunChild("read"), 1u)
        << "a calm mode leaves the flag as it set it: the probe sees it";
    RunChild("clear");
    EXPECT_EQ(RunChild("read"), 0u);

    // On the main stack, in a window procedure, and in a timer callback, which
    // DispatchMessage would run under a frame of its own that swallows faults.
    for (const char* where : {"fault", "fault-window", "fault-timer"}) {
        EXPECT_EQ(RunChild(where), static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION)) << where;
        EXPECT_EQ(RunChild("read"), 0u) << "the fault guard must lower the flag: " << where;
    }

    RunChild("clear");
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Wine\\AppDefaults\\fault_guard_child.exe");
}

}  // namespace
