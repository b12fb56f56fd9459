// The information scan's warning. This file is written in UTF-8 and compiled
// with -fexec-charset=CP932: each text is written once and becomes Shift-JIS
// bytes as a narrow literal and UTF-16 (on Windows) as a wide one.
#include "info_messages.h"

#define INFO_WARNING_TEXT(literal) \
    { literal, L"" literal }

extern const InfoWarningText JPEG_INFO_WARNING_CAPTION =
    INFO_WARNING_TEXT("ＪＰＥＧコメントエラー");
extern const InfoWarningText JPEG_INFO_WARNING_TEXT =
    INFO_WARNING_TEXT("コメント用のメモリが初期化されていません");

void ShowInfoWarning() {
    constexpr UINT style = MB_SYSTEMMODAL | MB_ICONEXCLAMATION;
    // The decoder stands apart from the saver's start-up, so it asks the system
    // itself. The high bit of GetVersion is set on Windows 95/98/Me, whose ANSI
    // box shows Shift-JIS right on a Japanese system; Windows NT shows the
    // Unicode text on every system, whatever its ANSI code page.
    if (GetVersion() & 0x80000000u)
        MessageBoxA(nullptr, JPEG_INFO_WARNING_TEXT.ansi, JPEG_INFO_WARNING_CAPTION.ansi, style);
    else
        MessageBoxW(nullptr, JPEG_INFO_WARNING_TEXT.wide, JPEG_INFO_WARNING_CAPTION.wide, style);
}
