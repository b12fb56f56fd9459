// The JPEG information scan: the file is loaded and walked as the decoder does
// (same loading, same search for SOI, same segment loop and result codes), but
// only SOF0, DQT, DRI and COM are read, into a JpegInfo record; the walk stops
// at the first SOS or EOI. Every segment it reads is first checked against its
// stated length and the data left, so malformed files are refused with 105
// instead of being read past their end.
#include <cstring>

#include "decoder_context.h"
#include "info_messages.h"
#include "jpeg_info.h"

namespace {

const std::uint16_t MARKER_DRI = 0xFFDD, MARKER_COM = 0xFFFE;
const std::uint32_t COMMENT_ZERO_BYTES = 5;  // zeros after the text, so it reads as a C string

// What the walk gathers besides the record's own fields.
struct ScanTotals {
    std::uint64_t quantSum;
    std::uint64_t quantEntries;
    std::uint8_t componentCount;
    FrameComponent components[4];
};

DecoderResult ReadFrame(DecoderContext* c, JpegInfo* info, ScanTotals* totals) {
    int payload = ReadSegmentLength(c);
    if (payload < 6) return DECODER_BAD_STREAM;
    Advance(c, 1);  // sample precision
    info->height = ReadWord(c);
    info->width = ReadWord(c);
    std::uint8_t count = ReadByte(c);
    info->isGreyscale = count == 1 ? 1 : 0;
    // The component table has four entries; the segment must hold them all.
    if (count > 4 || payload < 6 + 3 * count) return DECODER_BAD_STREAM;
    totals->componentCount = count;
    for (int i = 0; i < count; ++i) {
        Advance(c, 1);  // component identifier
        std::uint8_t sampling = ReadByte(c);
        totals->components[i].hSampling = sampling >> 4;
        totals->components[i].vSampling = sampling & 0x0F;
        totals->components[i].quantSlot = ReadByte(c);
    }
    return 0;
}

DecoderResult ReadQuantTables(DecoderContext* c, ScanTotals* totals) {
    int n = ReadSegmentLength(c);
    if (n < 0) return DECODER_BAD_STREAM;
    while (n > 0) {
        std::uint8_t precision = ReadByte(c) >> 4;
        --n;
        if (precision == 0) {
            if (n < 64) return DECODER_BAD_STREAM;
            for (int j = 0; j < 64; ++j) totals->quantSum += ReadByte(c);
            n -= 64;
            totals->quantEntries += 64;
        } else if (precision == 1) {
            if (n < 128) return DECODER_BAD_STREAM;
            for (int j = 0; j < 64; ++j) totals->quantSum += ReadWord(c);
            n -= 128;
            totals->quantEntries += 64;
        }
        // Any other precision: nothing more for that byte.
    }
    return 0;
}

DecoderResult ReadRestartInterval(DecoderContext* c, JpegInfo* info) {
    int payload = ReadSkippedLength(c);
    if (payload < 2) return DECODER_BAD_STREAM;  // no room for the interval
    info->restartInterval = ReadWord(c);
    Advance(c, payload - 2);  // the decoder skips the whole segment
    return 0;
}

// Keeps a copy of the comment's text, replacing any earlier one. Gives 0, 105
// for a segment that runs past the data, or 101 when the copy's block cannot be
// obtained (the walk then goes on after the comment).
DecoderResult ReadComment(DecoderContext* c, JpegInfo* info) {
    int length = ReadSkippedLength(c);
    if (length < 0) return DECODER_BAD_STREAM;
    info->commentLength = static_cast<std::uint32_t>(length);
    if (info->commentHandle != nullptr) GlobalFree(info->commentHandle);
    info->commentHandle = nullptr;
    DecoderResult result = 0;
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT,
                                static_cast<SIZE_T>(length) + COMMENT_ZERO_BYTES);
    std::uint8_t* text = block != nullptr ? static_cast<std::uint8_t*>(GlobalLock(block)) : nullptr;
    if (text == nullptr) {
        if (block != nullptr) GlobalFree(block);
        result = DECODER_ALLOC_FAILED;
    } else {
        std::memcpy(text, c->readPos, static_cast<std::size_t>(length));
        GlobalUnlock(block);
        info->commentHandle = block;
    }
    // Passed over also when no copy was made: the text is not to be read as markers.
    Advance(c, length);
    return result;
}

// The segment loop. Gives the scan's result; `*complete` tells whether the walk
// reached its end (SOS or EOI) rather than stopping at a failure.
DecoderResult WalkSegments(DecoderContext* c, JpegInfo* info, ScanTotals* totals, bool* complete) {
    DecoderResult held = 0;
    *complete = false;
    for (;;) {
        if (ReadNextMarker(c) != 0) return DECODER_BAD_STREAM;
        std::uint16_t m = c->marker;
        DecoderResult r = 0;
        if (m == MARKER_SOF0) {
            r = ReadFrame(c, info, totals);
        } else if (m == MARKER_DQT) {
            r = ReadQuantTables(c, totals);
        } else if (m == MARKER_DRI) {
            r = ReadRestartInterval(c, info);
        } else if (m == MARKER_COM) {
            r = ReadComment(c, info);
            if (r == DECODER_ALLOC_FAILED) {
                held = r;
                r = 0;
            }
        } else if (m == MARKER_SOS) {
            if (ReadSegmentLength(c) < 0) return DECODER_BAD_STREAM;
            *complete = true;
            return held;
        } else if (IsNonBaselineFrame(m)) {
            return DECODER_NOT_BASELINE;
        } else if (m == MARKER_DHT || IsSkippedSegment(m)) {
            r = SkipSegment(c);
        } else if (m == MARKER_SOI) {
            held = DECODER_BAD_STREAM;
        } else if (m == MARKER_EOI) {
            *complete = true;
            return held;
        }
        // RST0..RST7, 0xFF00..0xFFBF and 0xFFFF: nothing.
        if (r != 0) return r;
    }
}

void ClearRecord(JpegInfo* info) {
    info->commentLength = 0;
    if (info->commentHandle != nullptr) GlobalFree(info->commentHandle);
    info->commentHandle = nullptr;
    info->width = info->height = 0;
    info->isGreyscale = info->averageQuant = info->samplingMode = info->restartInterval = 0;
}

}  // namespace

DecoderResult CreateJpegInfo(HGLOBAL* info) {
    if (info == nullptr) return DECODER_LOCK_FAILED;
    *info = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, JPEG_INFO_BYTES);
    if (*info == nullptr) return DECODER_LOCK_FAILED;
    JpegInfo* record = static_cast<JpegInfo*>(GlobalLock(*info));
    if (record == nullptr) {
        GlobalFree(*info);
        *info = nullptr;
        return DECODER_ALLOC_FAILED;
    }
    record->commentHandle = nullptr;
    ClearRecord(record);
    GlobalUnlock(*info);
    return 0;
}

DecoderResult ScanJpegInfo(const char* fileName, HGLOBAL* info) {
    if (info == nullptr || *info == nullptr) {
        ShowInfoWarning();
        return DECODER_ALLOC_FAILED;
    }
    JpegInfo* record = static_cast<JpegInfo*>(GlobalLock(*info));
    if (record == nullptr) return DECODER_LOCK_FAILED;
    ClearRecord(record);

    DecoderContext* c = CreateDecoderContext(PRODUCT_SWITCHES);
    if (c == nullptr) {
        GlobalUnlock(*info);
        return DECODER_ALLOC_FAILED;
    }
    ScanTotals totals = {};
    bool complete = false;
    DecoderResult result = OpenJpegStream(c, fileName);
    if (result == 0) result = WalkSegments(c, record, &totals, &complete);
    if (complete) {
        if (totals.quantEntries != 0)
            record->averageQuant =
                static_cast<std::uint16_t>(totals.quantSum / totals.quantEntries);
        // The record shows the colour layouts only; grey and undecodable frames are 0.
        SamplingMode mode = ChooseSamplingMode(totals.components, totals.componentCount);
        if (mode != SAMPLING_UNSUPPORTED) record->samplingMode = static_cast<std::uint16_t>(mode);
    }
    DestroyDecoderContext(c);
    GlobalUnlock(*info);
    return result;
}

void DestroyJpegInfo(HGLOBAL* info) {
    if (info == nullptr || *info == nullptr) return;
    JpegInfo* record = static_cast<JpegInfo*>(GlobalLock(*info));
    if (record != nullptr) {
        if (record->commentHandle != nullptr) GlobalFree(record->commentHandle);
        record->commentHandle = nullptr;
        GlobalUnlock(*info);
    }
    GlobalFree(*info);
    *info = nullptr;
}
