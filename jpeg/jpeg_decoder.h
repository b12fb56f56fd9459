// Dunmere's baseline JPEG decoder: a JFIF file in, a 24-bit DIB handle out.
#pragma once

#include <windows.h>

// DecoderResult: 0 means that a picture was produced.
typedef int DecoderResult;
enum {
    DECODER_OK = 0,
    DECODER_ALLOC_FAILED = 101,  // allocating a movable memory block failed
    DECODER_LOCK_FAILED = 102,   // locking one failed (or the lookup tables of a Huffman table)
    DECODER_OPEN_FAILED = 103,   // opening the file failed
    DECODER_READ_FAILED = 104,   // obtaining its size or reading it failed
    DECODER_BAD_STREAM = 105,    // malformed, truncated or unsupported stream
    DECODER_NOT_BASELINE = 106   // a coding process other than baseline sequential Huffman
};

// Decodes the JPEG file `fileName` into a new 24-bit DIB (movable global block:
// BITMAPINFOHEADER, then bottom-up BGR rows padded to 4 bytes, then 15 spare
// rows). `*picture` is in and out: a non-null handle on entry is freed first;
// on 0 it holds the new picture, which belongs to the caller; on any other
// result it is null.
DecoderResult DecodeJpegFile(const char* fileName, HGLOBAL* picture);

// The same decode, keeping the calling thread's message queue serviced: before
// every whole MCU of the full MCU rows, each queued message is translated and
// dispatched (window procedures of the thread run from inside the decode; they
// must not free or unlock `*picture` nor decode into it). A quit message ends
// the decode there: it is posted again with its exit code and the result is 0
// with the rows decoded so far (the rest black). The DIB block holds the height
// rounded up to a multiple of 8 plus 15 spare rows; the header is the same.
DecoderResult DecodeJpegFileCooperative(const char* fileName, HGLOBAL* picture);

// A short English meaning of a DecoderResult, for messages ("unknown result"
// for codes outside the list).
const char* DescribeDecoderResult(DecoderResult result);
