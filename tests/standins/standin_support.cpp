#include "standin_support.h"

#include <cstdio>

std::string StandinFolder(HMODULE self) {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(self, path, MAX_PATH);
    std::string folder(path);
    return folder.substr(0, folder.find_last_of("\\/") + 1);
}

bool StandinConfigured(HMODULE self) {
    return GetFileAttributesA((StandinFolder(self) + "standins.ini").c_str()) !=
           INVALID_FILE_ATTRIBUTES;
}

std::string StandinSetting(HMODULE self, const char* key, const char* fallback) {
    char value[256] = {};
    GetPrivateProfileStringA("standin", key, fallback, value, sizeof value,
                             (StandinFolder(self) + "standins.ini").c_str());
    return value;
}

void StandinLog(HMODULE self, const char* who, const char* event, const std::string& fields) {
    if (!StandinConfigured(self)) return;
    const DWORD tick = GetTickCount();  // first, so that logging does not delay the moment recorded
    std::string line = "{" + JsonText("who", who) + "," + JsonText("event", event) + "," +
                       JsonNumber("pid", GetCurrentProcessId()) + "," + JsonNumber("tick", tick);
    if (!fields.empty()) line += "," + fields;
    line += "}\n";
    // Appending whole lines in one write keeps the records of several
    // processes apart.
    HANDLE log = CreateFileA((StandinFolder(self) + "standins.log").c_str(), FILE_APPEND_DATA,
                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (log == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(log, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    CloseHandle(log);
}

std::string JsonWindow(const char* name, HWND window) {
    return JsonNumber(name, static_cast<uint32_t>(reinterpret_cast<uintptr_t>(window)));
}

std::string JsonNumber(const char* name, uint64_t value) {
    return "\"" + std::string(name) + "\":" + std::to_string(value);
}

std::string JsonText(const char* name, const char* text) {
    std::string out = "\"" + std::string(name) + "\":";
    if (!text) return out + "null";
    out += '"';
    for (const char* p = text; *p; ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 ||
                   c >= 0x80) {  // bytes outside ASCII as escapes: the log stays valid UTF-8
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + '"';
}

std::string JsonBool(const char* name, bool value) {
    return "\"" + std::string(name) + "\":" + (value ? "true" : "false");
}

bool SaverRunningFlag() {
    BOOL running = FALSE;
    SystemParametersInfoA(SPI_GETSCREENSAVERRUNNING, 0, &running, 0);
    return running != FALSE;
}
