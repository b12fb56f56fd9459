// The JPEG information scan: a light look at a JPEG file without decoding it
// (its size, whether it is greyscale, a compression estimate from its
// quantisation tables, its sampling layout, restart interval and comment).
//   HGLOBAL info = nullptr;
//   CreateJpegInfo(&info);              // 0, 102 (no block) or 101 (no lock)
//   ScanJpegInfo("a.jpg", &info);       // a DecoderResult
//   ... GlobalLock(info) and read the JpegInfo record ...
//   DestroyJpegInfo(&info);
#pragma once

#include <cstddef>
#include <cstdint>

#include "jpeg_decoder.h"

// The record lives at the start of a zero-filled movable block of this size.
const std::uint32_t JPEG_INFO_BYTES = 276;

struct JpegInfo {
    std::uint32_t commentLength;    // bytes of the last comment's text; 0 = none
    HGLOBAL commentHandle;          // movable block: the text, 5 or more zero bytes; the record's
    std::uint16_t width;            // samples per line (SOF0)
    std::uint16_t height;           // lines (SOF0)
    std::uint16_t isGreyscale;      // 1 when the frame has exactly one component
    std::uint16_t averageQuant;     // mean of every quantisation table entry; 0 = no DQT
    std::uint16_t samplingMode;     // three components: 4 = 2x2, 3 = 1x2, 2 = 2x1, 1 = 1x1; else 0
    std::uint16_t restartInterval;  // MCUs per restart interval (DRI); 0 = none
};
static_assert(sizeof(JpegInfo) <= JPEG_INFO_BYTES, "the record fits its block");
static_assert(offsetof(JpegInfo, commentHandle) == sizeof(void*) &&
                  offsetof(JpegInfo, width) == 2 * sizeof(void*) &&
                  offsetof(JpegInfo, restartInterval) == 2 * sizeof(void*) + 10,
              "the fields follow one another in the record's order");

// Allocates a zero-filled record block and stores its handle in `*info`.
// Results: 0; 102 when the block cannot be allocated, 101 when it cannot be
// locked (this numbering is the reverse of the decoder's); on failure `*info`
// is null.
DecoderResult CreateJpegInfo(HGLOBAL* info);

// Fills the record `*info` from the JPEG file `fileName`: clears it (freeing an
// earlier comment), reads SOF0, DQT, DRI and COM, skips the other segments and
// stops at the first SOS or EOI. Results are the decoder's: 0; 101 for a null
// record (after a warning message box) or when the comment's block cannot be
// obtained; 102 when the record cannot be locked; 103, 104 and 101/102 for the
// file and its buffer; 105 for a malformed stream (also after a second SOI);
// 106 for a coding process other than baseline. Fields read before a failure
// keep their values.
DecoderResult ScanJpegInfo(const char* fileName, HGLOBAL* info);

// Frees the record and its comment block and empties `*info`; a null handle
// does nothing.
void DestroyJpegInfo(HGLOBAL* info);
