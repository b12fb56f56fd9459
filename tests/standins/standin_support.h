// What the test stand-ins for system components share: their folder, the
// settings file the test writes there, and the log the test reads back.
//
// A stand-in is quiet unless its folder holds "standins.ini"; then it appends
// one JSON record a line to "standins.log" in the same folder, each with the
// component's name, the process id and the tick count of the event.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

// The folder of the module, with the trailing backslash.
std::string StandinFolder(HMODULE self);
bool StandinConfigured(HMODULE self);
// [standin] KEY from standins.ini, or `fallback`.
std::string StandinSetting(HMODULE self, const char* key, const char* fallback);
// Appends {"who":WHO,"event":EVENT,"pid":...,"tick":...,FIELDS}; FIELDS is
// empty or a comma-separated list of JSON members.
void StandinLog(HMODULE self, const char* who, const char* event, const std::string& fields = {});

// JSON pieces. Window handles travel as the unsigned 32-bit numbers that
// command lines carry.
std::string JsonWindow(const char* name, HWND window);
std::string JsonNumber(const char* name, uint64_t value);
std::string JsonText(const char* name, const char* text);  // null gives JSON null
std::string JsonBool(const char* name, bool value);

// The system's screen-saver-running flag as this process reads it.
bool SaverRunningFlag();
