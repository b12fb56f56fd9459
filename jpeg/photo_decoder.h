// The decoder's entry for photographs: every 8-bit Huffman JPEG that cameras,
// phones and image programs write (baseline, extended sequential and
// progressive; one or three components; any sampling factors from 1 to 4),
// turned upright by its EXIF orientation and scaled in the DCT domain to the
// box it will be shown in. The built-in pictures keep DecodeJpegFile.
#pragma once

#include <windows.h>

#include <cstdint>

#include "jpeg_decoder.h"

// The caller gave up the decode through its yield (below): nothing is produced.
enum { DECODER_ABANDONED = 107 };

// Called between rows of MCUs, often enough that it runs every few
// milliseconds however large the photograph; false abandons the decode.
typedef bool (*PhotoYield)(void* argument);

struct PhotoRequest {
    // The box the picture will be shown in; 0 x 0 means its own size.
    std::int32_t boxWidth, boxHeight;
    // true: the largest size of the upright picture's shape inside the box,
    // small pictures enlarged too. false: its own size, shrunk to that size
    // only where it is larger than the box.
    bool fitToBox;
    // 0: the DCT scale is chosen from the box. 1, 2, 4 or 8: the decode at that
    // scale and its size (tools and benchmarks; the box is not used).
    std::int32_t scale;
    PhotoYield yield;  // may be null
    void* yieldArgument;
};

// Decodes a photograph into a new 24-bit bottom-up DIB (movable global block:
// BITMAPINFOHEADER, then BGR rows padded to 4 bytes; no spare rows). `*picture`
// is in and out as for DecodeJpegFile: a handle on entry is freed first; on 0
// it holds the new picture, which belongs to the caller; otherwise it is null.
DecoderResult DecodePhotoFile(const char* fileName, const PhotoRequest& request, HGLOBAL* picture);
// The same for a UTF-16 name (Windows NT only: Windows 95 and 98 have no
// CreateFileW), so that any name the system lists can be opened.
DecoderResult DecodePhotoFileWide(const wchar_t* fileName, const PhotoRequest& request,
                                  HGLOBAL* picture);
