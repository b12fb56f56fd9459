// The framework's start-up: reading the command line, choosing the mode, the
// dialog's owner, the full-screen and preview windows, and the fault guard.
#include "fake_app_hooks.h"
#include "saver_frame.h"

#include <gtest/gtest.h>

#include <string>

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
        UnregisterClassA("WindowsScreenSaverClass", GetModuleHandleA(nullptr));
    }
    HWND MakeWindow(const char* title, DWORD style = WS_OVERLAPPEDWINDOW | WS_VISIBLE) {
        HWND w = CreateWindowExA(0, "STATIC", title, style, 10, 10, 300, 200, nullptr, nullptr, nullptr, nullptr);
        made.push_back(w);
        return w;
    }
    int Dispatch(const std::string& arguments) { return DispatchSaverMode(GetModuleHandleA(nullptr), arguments.c_str()); }
    static std::string Handle(HWND w) { return std::to_string(static_cast<unsigned>(reinterpret_cast<uintptr_t>(w))); }
    std::vector<HWND> made;
};

TEST(CommandLine, SkipsTheProgramNameAndTheBlanksBehindIt) {
    struct Case { const char* line; const char* arguments; } cases[] = {
        {"Dunmere.scr /s", "/s"},
        {"\"C:\\Program Files\\Dunmere.scr\" /c:42", "/c:42"},
        {"\"C:\\a b\\Dunmere.scr\"/p 7", "/p 7"},
        {"\"never closed /s", ""},  // the whole line is the name: configuration dialog
        {"Dunmere.scr", ""},
        {"\"Dunmere.scr\"", ""},
        {" /s", "/s"},                     // a leading blank means no name at all
        {"Dunmere.scr\t \x01 -s", "-s"},    // tabs and control bytes count as blanks
        {"\"\x83\x5C\x95\x5C.scr\" /s", "/s"},  // double-byte name whose trail bytes are backslashes
        {"", ""},
    };
    for (const Case& c : cases) EXPECT_STREQ(SkipProgramName(c.line), c.arguments) << "line: " << c.line;
}

TEST(CommandLine, ReadsWindowNumbersAsWrappingUnsignedDecimals) {
    EXPECT_EQ(ParseDecimalHandle("123abc"), reinterpret_cast<HWND>(123));
    EXPECT_EQ(ParseDecimalHandle(""), nullptr);
    EXPECT_EQ(ParseDecimalHandle("-5"), nullptr);
    EXPECT_EQ(ParseDecimalHandle(" 5"), nullptr);
    EXPECT_EQ(ParseDecimalHandle("0x10"), nullptr);
    EXPECT_EQ(ParseDecimalHandle("4294967297"), reinterpret_cast<HWND>(1));  // 2^32 + 1 wraps to 1
    EXPECT_EQ(reinterpret_cast<uintptr_t>(ParseDecimalHandle("4294967295")),
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
    EXPECT_EQ(Dispatch("/c " + Handle(named)), IDOK);  // a blank instead of the colon: number ignored
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
    for (const std::string& bad : std::vector<std::string>{"/x", "/1", "/\ts", "x", "\x83\x5C", "/p", "/p:" + Handle(host), "/l 0", "/p 987654",
                            "/a", "/a " + Handle(host)}) {
        EXPECT_EQ(Dispatch(bad), -1) << "arguments: " << bad;
    }
    EXPECT_EQ(g_fakeApp.dialogCalls + g_fakeApp.prepareCalls, 0);
    EXPECT_TRUE(g_fakeApp.messages.empty());
}

TEST_F(Framework, FullScreenRunsOneTopmostWindowUntilItCloses) {
    g_fakeApp.closeOnCreate = true;
    EXPECT_EQ(Dispatch("-/ Screen"), 0);
    ASSERT_FALSE(g_fakeApp.messages.empty());
    EXPECT_NE(std::find(g_fakeApp.messages.begin(), g_fakeApp.messages.end(), WM_CREATE), g_fakeApp.messages.end());
    EXPECT_EQ(g_fakeApp.messages.back(), static_cast<UINT>(WM_NCDESTROY));
    EXPECT_FALSE(g_frame.isPreview);
    EXPECT_EQ(g_frame.autoPlayMessage, 0u);  // not on Windows NT
    EXPECT_FALSE(IsWindow(g_frame.saverWindow));
}

TEST_F(Framework, FullScreenStartDefersToARunningSaver) {
    WNDCLASSA cls{};
    cls.lpfnWndProc = DefWindowProcA;
    cls.hInstance = GetModuleHandleA(nullptr);
    cls.lpszClassName = "WindowsScreenSaverClass";
    ASSERT_TRUE(RegisterClassA(&cls));
    HWND running = CreateWindowExA(0, cls.lpszClassName, "Screen Saver", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                   cls.hInstance, nullptr);
    made.push_back(running);
    EXPECT_EQ(Dispatch("s"), 0);
    EXPECT_TRUE(g_fakeApp.messages.empty());  // no window of our own was made
    EXPECT_EQ(g_frame.saverWindow, nullptr);
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
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return 0xDEADDEAD;
    WaitForSingleObject(process.hProcess, 60000);
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
    ASSERT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, "Software\\Wine\\AppDefaults\\fault_guard_child.exe", &key),
              ERROR_SUCCESS);
    RegSetValueExA(key, "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>("win98"), 6);
    RegCloseKey(key);

    RunChild("clear");
    EXPECT_EQ(RunChild("calm"), 0u);
    EXPECT_EQ(RunChild("read"), 1u) << "a calm mode leaves the flag as it set it: the probe sees it";
    RunChild("clear");
    EXPECT_EQ(RunChild("read"), 0u);

    EXPECT_EQ(RunChild("fault"), static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION));
    EXPECT_EQ(RunChild("read"), 0u) << "the fault guard must lower the flag";

    RunChild("clear");
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Wine\\AppDefaults\\fault_guard_child.exe");
}

}  // namespace
