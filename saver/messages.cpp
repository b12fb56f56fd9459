// Every text the slideshow shows. This file is written in UTF-8 and compiled
// with -fexec-charset=CP932: each text is written once and becomes Shift-JIS
// bytes as a narrow literal and UTF-16 as a wide one.
#include "slideshow.h"

#define JAPANESE_TEXT(literal) \
    { literal, L"" literal }

extern const JapaneseText MSG_RESOURCE_TOO_LARGE = JAPANESE_TEXT("挿入したリソースが大きすぎます");
extern const JapaneseText MSG_SELECT_PICTURE_FAILED = JAPANESE_TEXT("SelectPicture失敗");
extern const JapaneseText MSG_NO_FILE = JAPANESE_TEXT("ファイルがありません");
extern const JapaneseText MSG_CHOOSE_FOLDER =
    JAPANESE_TEXT("表示する画像のフォルダを選んでください");
