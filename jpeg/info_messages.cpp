// The information scan's warning texts. This file is written in UTF-8 and
// compiled to code page 932 (-fexec-charset=CP932), the code page of the
// ANSI calls on the users' Japanese systems.
#include "info_messages.h"

const char JPEG_INFO_WARNING_CAPTION[] = "ＪＰＥＧコメントエラー";
const char JPEG_INFO_WARNING_TEXT[] = "コメント用のメモリが初期化されていません";
