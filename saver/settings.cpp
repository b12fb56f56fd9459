// The settings live per user in the registry: 32-bit numbers, and the picture
// folder's path as text.
#include "slideshow.h"

#include <cstring>

const char SETTINGS_KEY[] = "Software\\Mirelvane\\Dunmere";

namespace {

// Every access creates the key, so a first read leaves the user a key to edit.
HKEY OpenSettingsKey() {
    HKEY key = nullptr;
    DWORD disposition = 0;
    char noClass[] = "";
    RegCreateKeyExA(HKEY_CURRENT_USER, SETTINGS_KEY, 0, noClass, REG_OPTION_NON_VOLATILE,
                    KEY_ALL_ACCESS, nullptr, &key, &disposition);
    return key;
}

}  // namespace

// The stored type is not looked at: up to four bytes of data are laid over the
// setting's first bytes. A value longer than four bytes is ignored, so the
// setting keeps what it held (the system leaves a too-small buffer undefined).
void ReadSettingDword(const char* name, int32_t* setting) {
    HKEY key = OpenSettingsKey();
    if (!key) return;
    BYTE data[sizeof *setting];
    DWORD size = sizeof data;
    DWORD type = 0;
    if (RegQueryValueExA(key, name, nullptr, &type, data, &size) == ERROR_SUCCESS &&
        size <= sizeof data)
        std::memcpy(setting, data, size);
    RegCloseKey(key);
}

void WriteSettingDword(const char* name, int32_t value) {
    HKEY key = OpenSettingsKey();
    if (!key) return;
    RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
    RegCloseKey(key);
}

void ReadSettingText(const char* name, wchar_t* text, uint32_t capacity) {
    text[0] = 0;
    HKEY key = OpenSettingsKey();
    if (!key) return;
    QueryRegistryText(key, name, text, capacity);
    RegCloseKey(key);
}

void WriteSettingText(const char* name, const wchar_t* text) {
    HKEY key = OpenSettingsKey();
    if (!key) return;
    SetRegistryText(key, name, text);
    RegCloseKey(key);
}

// A switch time of 0 or less (a missing value reads as 0) means the default, which is then
// stored so that the user finds it in the registry and the dialog.
void ReadSwitchSecondsWithDefault() {
    ReadSettingDword(SWITCH_SECONDS_VALUE, &g_slideshow.switchSeconds);
    if (g_slideshow.switchSeconds <= 0) {
        g_slideshow.switchSeconds = DEFAULT_SWITCH_SECONDS;
        WriteSettingDword(SWITCH_SECONDS_VALUE, DEFAULT_SWITCH_SECONDS);
    }
}
