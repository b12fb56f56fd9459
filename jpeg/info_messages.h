// The information scan's warning texts, in code page 932 (Shift-JIS) bytes.
#ifndef DUNMERE_JPEG_INFO_MESSAGES_H
#define DUNMERE_JPEG_INFO_MESSAGES_H

// "JPEG comment error"
extern const char JPEG_INFO_WARNING_CAPTION[];
// "The memory for the comment has not been initialised"
extern const char JPEG_INFO_WARNING_TEXT[];

#endif
