// The information scan's warning: its texts and the box that shows them.
#pragma once

#include <windows.h>

// One Japanese text in both forms the system's calls take: code page 932
// (Shift-JIS) bytes for the ANSI calls, UTF-16 for the Unicode ones.
struct InfoWarningText {
    const char* ansi;
    const wchar_t* wide;
};

// "JPEG comment error"
extern const InfoWarningText JPEG_INFO_WARNING_CAPTION;
// "The memory for the comment has not been initialised"
extern const InfoWarningText JPEG_INFO_WARNING_TEXT;

// The system-modal warning box of a scan into a record that was never created.
void ShowInfoWarning();
