// Every text the slideshow shows. This file is compiled to Shift-JIS (code
// page 932), the encoding the ANSI message box expects on a Japanese system.
#include "slideshow.h"

const char MSG_RESOURCE_TOO_LARGE[] = "挿入したリソースが大きすぎます";
const char MSG_SELECT_PICTURE_FAILED[] = "SelectPicture失敗";
const char MSG_NO_FILE[] = "ファイルがありません";
