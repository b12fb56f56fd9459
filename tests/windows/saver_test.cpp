// The slideshow's own routines: its settings in the registry, its texts as a
// Japanese system shows them, and the order of its pictures.
#include "resource.h"
#include "saver_frame.h"
#include "slideshow.h"

#include <gtest/gtest.h>

#include <commctrl.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>
#include <string>

namespace {

std::wstring FromCodePage932(const char* bytes) {
    wchar_t wide[256] = {};
    MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, bytes, -1, wide, 256);
    return wide;
}

// The texts must be Shift-JIS bytes whatever the source file's encoding (code
// page 932 gives the Japanese back), and their wide forms the same texts.
TEST(Texts, MessagesAreShiftJisAndUtf16) {
    EXPECT_EQ(FromCodePage932(MSG_RESOURCE_TOO_LARGE.ansi), L"挿入したリソースが大きすぎます");
    EXPECT_EQ(FromCodePage932(MSG_SELECT_PICTURE_FAILED.ansi), L"SelectPicture失敗");
    EXPECT_EQ(FromCodePage932(MSG_NO_FILE.ansi), L"ファイルがありません");
    EXPECT_EQ(std::strlen(MSG_NO_FILE.ansi), 20u);  // ten double-byte characters
    for (const JapaneseText* text :
         {&MSG_RESOURCE_TOO_LARGE, &MSG_SELECT_PICTURE_FAILED, &MSG_NO_FILE})
        EXPECT_EQ(std::wstring(text->wide), FromCodePage932(text->ansi));
}

INT_PTR CALLBACK IdleDialogProc(HWND, UINT message, WPARAM, LPARAM) {
    return message == WM_INITDIALOG;
}

// Windows 9x makes the dialog through the ANSI calls: on a code-page-932
// system its texts reach the controls as Shift-JIS.
TEST(Texts, SettingsDialogShowsShiftJisThroughTheAnsiCalls) {
    ASSERT_EQ(GetACP(), 932u) << "the tests run Wine in a Japanese locale";
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_UPDOWN_CLASS};
    InitCommonControlsEx(&controls);
    HWND dialog =
        CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(SETTINGS_DIALOG_ID), nullptr,
                           IdleDialogProc, 0);
    ASSERT_NE(dialog, nullptr);
    char text[128];
    GetWindowTextA(dialog, text, sizeof text);
    EXPECT_EQ(FromCodePage932(text), L"設定");
    struct {
        int id;
        const wchar_t* text;
    } controlsTexts[] = {
        {IDC_ORDER_CATALOGUE, L"デフォルト"},
        {IDC_ORDER_RANDOM, L"ランダム"},
        {IDC_SIZE_ORIGINAL, L"オリジナル"},
        {IDC_SIZE_FIT, L"スクリーン"},
        {IDCANCEL, L"ｷｬﾝｾﾙ"},
        {IDOK, L"OK"},
    };
    for (const auto& c : controlsTexts) {
        GetDlgItemTextA(dialog, c.id, text, sizeof text);
        EXPECT_EQ(FromCodePage932(text), c.text) << "control " << c.id;
    }
    GetDlgItemTextA(dialog, IDCANCEL, text, sizeof text);
    EXPECT_STREQ(text, "\xB7\xAC\xDD\xBE\xD9");  // half-width katakana are single bytes
    DestroyWindow(dialog);
}

class Settings : public ::testing::Test {
protected:
    void SetUp() override {
        RegDeleteKeyA(HKEY_CURRENT_USER, SETTINGS_KEY);
        g_slideshow = SlideshowState{};
    }
    void TearDown() override { RegDeleteKeyA(HKEY_CURRENT_USER, SETTINGS_KEY); }
    static void Store(const char* name, DWORD type, const void* data, DWORD size) {
        HKEY key;
        RegCreateKeyA(HKEY_CURRENT_USER, SETTINGS_KEY, &key);
        RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size);
        RegCloseKey(key);
    }
};

TEST_F(Settings, WrittenNumbersReadBackAndMissingOnesLeaveTheSettingAlone) {
    WriteSettingDword(REVEAL_MS_VALUE, -7);
    int32_t setting = 99;
    ReadSettingDword(REVEAL_MS_VALUE, &setting);
    EXPECT_EQ(setting, -7);
    setting = 1234;
    ReadSettingDword("t9", &setting);
    EXPECT_EQ(setting, 1234);
}

TEST_F(Settings, ValuesOfOtherTypesAndLengthsNeverSpillPastTheSetting) {
    struct {
        int32_t setting;
        int32_t guard;
    } held{0x11111111, 0x5A5A5A5A};
    const BYTE eight[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    Store(SWITCH_SECONDS_VALUE, REG_BINARY, eight, sizeof eight);
    ReadSettingDword(SWITCH_SECONDS_VALUE, &held.setting);
    EXPECT_EQ(held.setting, 0x11111111) << "a value longer than four bytes is ignored";
    EXPECT_EQ(held.guard, 0x5A5A5A5A);

    const BYTE two[2] = {0x34, 0x12};
    Store(SWITCH_SECONDS_VALUE, REG_BINARY, two, sizeof two);
    ReadSettingDword(SWITCH_SECONDS_VALUE, &held.setting);
    EXPECT_EQ(held.setting, 0x11111234) << "a shorter value covers the setting's first bytes";

    Store(SWITCH_SECONDS_VALUE, REG_SZ, "7", 2);
    held.setting = 0;
    ReadSettingDword(SWITCH_SECONDS_VALUE, &held.setting);
    EXPECT_EQ(held.setting, '7') << "the type is not looked at";
    EXPECT_EQ(held.guard, 0x5A5A5A5A);
}

TEST_F(Settings, SwitchSecondsDefaultToFiveAndAreStored) {
    for (int32_t stored : {0, -3}) {
        WriteSettingDword(SWITCH_SECONDS_VALUE, stored);
        g_slideshow.switchSeconds = 0;
        ReadSwitchSecondsWithDefault();
        EXPECT_EQ(g_slideshow.switchSeconds, 5);
        int32_t back = 0;
        ReadSettingDword(SWITCH_SECONDS_VALUE, &back);
        EXPECT_EQ(back, 5);
    }
    RegDeleteKeyA(HKEY_CURRENT_USER, SETTINGS_KEY);
    g_slideshow.switchSeconds = 0;
    ReadSwitchSecondsWithDefault();
    EXPECT_EQ(g_slideshow.switchSeconds, 5);
}

TEST(SwitchInterval, IsSecondsTimesAThousandWithinWhatSetTimerTakes) {
    EXPECT_EQ(SwitchIntervalMs(5), 5000);
    EXPECT_EQ(SwitchIntervalMs(2147483), 2147483000);
    EXPECT_EQ(SwitchIntervalMs(2147484), USER_TIMER_MAXIMUM)
        << "one more second overflowed 32 bits";
    EXPECT_EQ(SwitchIntervalMs(INT32_MAX), USER_TIMER_MAXIMUM);
}

TEST(Selection, TheSeedIsTheCalendarSecondsSince1970) {
    const int64_t now = static_cast<int64_t>(time(nullptr));
    EXPECT_LE(std::abs(static_cast<int64_t>(CalendarSeconds()) - now), 2);
}

TEST(Selection, TheGeneratorIsTheFifteenBitCongruentialOne) {
    SeedRandom(1);
    EXPECT_EQ(NextRandom(), 41);
    EXPECT_EQ(NextRandom(), 18467);
    EXPECT_EQ(NextRandom(), 6334);
    EXPECT_EQ(NextRandom(), 26500);
    SeedRandom(0);
    EXPECT_EQ(NextRandom(), 38);
    EXPECT_EQ(NextRandom(), 7719);
}

int NewlyShown(const BYTE (&before)[PICTURE_COUNT + 1]) {
    for (int n = 0; n <= PICTURE_COUNT; ++n)
        if (g_slideshow.shown[n] && !before[n]) return n;
    return -1;
}

TEST(Selection, RandomOrderShowsEveryPictureOncePerCycle) {
    g_slideshow = SlideshowState{};
    SeedRandom(1);
    const int expectedStart[] = {10, 22, 26, 11, 7};
    std::vector<int> order;
    for (int i = 0; i < PICTURE_COUNT; ++i) {
        BYTE before[PICTURE_COUNT + 1];
        std::memcpy(before, g_slideshow.shown, sizeof before);
        SelectNextPicture(1);
        order.push_back(NewlyShown(before));
    }
    for (int i = 0; i < 5; ++i) EXPECT_EQ(order[i], expectedStart[i]);
    std::vector<int> sorted(order);
    std::sort(sorted.begin(), sorted.end());
    for (int i = 0; i < PICTURE_COUNT; ++i) EXPECT_EQ(sorted[i], i + 1);
    EXPECT_EQ(g_slideshow.shown[0], 0);

    SelectNextPicture(1);  // the thirty-first begins a new cycle: one flag set
    int flags = 0;
    for (int n = 0; n <= PICTURE_COUNT; ++n) flags += g_slideshow.shown[n];
    EXPECT_EQ(flags, 1);
}

TEST(Selection, CatalogueOrderCyclesFromOne) {
    g_slideshow = SlideshowState{};
    SelectNextPicture(0);
    EXPECT_EQ(g_slideshow.sequencePosition, 2);
    for (int i = 0; i < 29; ++i) SelectNextPicture(2);  // any value but 1 is catalogue order
    EXPECT_EQ(g_slideshow.sequencePosition, 1);
}

// A temporary file that cannot be made (a folder that cannot be deleted stands
// under its name) fails the selection: the decoder never reads what is there.
TEST(Selection, AnUnwritableTemporaryFileFailsTheSelection) {
    g_slideshow = SlideshowState{};
    GetTempPathA(MAX_PATH, g_slideshow.tempDir);
    wsprintfA(g_slideshow.tempFile, "%sdunmere-extract-%lu", g_slideshow.tempDir,
              GetCurrentProcessId());
    ASSERT_TRUE(CreateDirectoryA(g_slideshow.tempFile, nullptr));
    EXPECT_EQ(ExtractPicture(1), 0);
    EXPECT_EQ(SelectNextPicture(0), 0);
    RemoveDirectoryA(g_slideshow.tempFile);
}

}  // namespace
