// Stream parsing. DecodeJpegFile has the front end read the whole file into
// one movable block, walks its marker segments into a DecoderContext and, at
// the first SOS, hands over to the decode driver.
#include "decoder_context.h"
#include "photo_decoder.h"

namespace {

// A parser that refuses the stream records the code; the segment loop then ends the parse.
void Refuse(DecoderContext* c, DecoderResult code) {
    if (c->refusal == 0) c->refusal = code;
}

}  // namespace

// SOF0: precision, lines, samples per line, Nf and 3 bytes per component.
void ParseStartOfFrame(DecoderContext* c, std::uint16_t payloadLength) {
    if (payloadLength < 6) return Refuse(c, DECODER_BAD_STREAM);
    std::uint8_t precision = ReadByte(c);
    c->height = ReadWord(c);
    c->width = ReadWord(c);
    c->componentCount = ReadByte(c);
    if (precision != 8 || c->width == 0 || c->height == 0 || c->componentCount > 4 ||
        payloadLength < 6 + 3 * c->componentCount)
        return Refuse(c, DECODER_BAD_STREAM);
    for (int i = 0; i < c->componentCount; ++i) {
        ReadByte(c);  // component identifier, not used
        std::uint8_t sampling = ReadByte(c);
        c->frameComponents[i].hSampling = sampling >> 4;
        c->frameComponents[i].vSampling = sampling & 0x0F;
        c->frameComponents[i].quantSlot = ReadByte(c);
        if (c->frameComponents[i].quantSlot > 3) return Refuse(c, DECODER_BAD_STREAM);
    }
    c->frameSeen = 1;
}

void ParseQuantTables(DecoderContext* c, std::uint16_t n) {
    while (n != 0) {
        std::uint8_t b = ReadByte(c);
        --n;
        c->dqtPrecision = b >> 4;
        c->dqtSlot = b & 0x0F;
        if (c->dqtSlot > 3 || c->dqtPrecision > 1) return Refuse(c, DECODER_BAD_STREAM);
        int entryBytes = c->dqtPrecision == 0 ? 1 : 2;
        if (n < 64 * entryBytes) return Refuse(c, DECODER_BAD_STREAM);
        std::uint16_t* table = c->quantTables[c->dqtSlot];
        for (int j = 0; j < 64; ++j)
            table[zigzagOrder[j]] = entryBytes == 1 ? ReadByte(c) : ReadWord(c);
        n = static_cast<std::uint16_t>(n - 64 * entryBytes);
        c->quantDefined |= 1 << c->dqtSlot;
        ResetDcPredictors(c, c->quantTables[0][0]);
    }
}

DecoderResult ParseHuffmanTables(DecoderContext* c, std::uint16_t n) {
    while (n != 0) {
        if (n < 17) {
            Refuse(c, DECODER_BAD_STREAM);
            return 0;
        }
        std::uint8_t b = ReadByte(c);
        --n;
        if ((b & 0xEC) != 0) {  // only 0x00..0x03 and 0x10..0x13
            Refuse(c, DECODER_BAD_STREAM);
            return 0;
        }
        int slot = b <= 15 ? b : b - 12;
        ReleaseHuffmanSlot(c, slot);  // a slot defined again gets new tables

        // Whichever of the four blocks could not be had, the result is 102.
        DecoderResult ignored = 0;
        HGLOBAL lengthsHandle = nullptr, codesHandle = nullptr;
        std::uint8_t* lengths = nullptr;
        std::uint16_t* codes = nullptr;
        bool obtained = ObtainBlock(&c->lengthTableHandle[slot], &c->lengthTable[slot],
                                    LOOKUP_ENTRIES, &ignored) &&
                        ObtainBlock(&c->symbolTableHandle[slot], &c->symbolTable[slot],
                                    LOOKUP_ENTRIES, &ignored) &&
                        ObtainBlock(&lengthsHandle, &lengths, 257, &ignored) &&
                        ObtainBlock(&codesHandle, &codes, 257 * 2, &ignored);
        int used = -1;
        if (obtained)
            used = BuildHuffmanLookup(c, c->lengthTable[slot], c->symbolTable[slot], lengths, codes,
                                      n, slot >= 4, &c->fast[slot]);
        ReleaseBlock(&codesHandle, codes);
        ReleaseBlock(&lengthsHandle, lengths);
        if (!obtained) {
            ReleaseHuffmanSlot(c, slot);
            return DECODER_LOCK_FAILED;
        }
        if (used < 0) {
            Refuse(c, DECODER_BAD_STREAM);
            return 0;
        }
        n = static_cast<std::uint16_t>(n - used);
    }
    return 0;
}

void ParseStartOfScan(DecoderContext* c, std::uint16_t payloadLength) {
    if (payloadLength < 1) return Refuse(c, DECODER_BAD_STREAM);
    c->scanComponentCount = ReadByte(c);
    int ns = c->scanComponentCount;
    if (ns == 0 || ns > 4 || payloadLength < 4 + 2 * ns) return Refuse(c, DECODER_BAD_STREAM);
    for (int i = 0; i < ns; ++i) {
        ReadByte(c);  // component selector, not used
        std::uint8_t t = ReadByte(c);
        c->scanComponents[i].dcSlot = t >> 4;
        c->scanComponents[i].acSlot = static_cast<std::uint8_t>((t & 0x0F) + 4);
    }
    Advance(c, 3);  // spectral start and end, successive approximation: not checked

    if (!c->frameSeen) return Refuse(c, DECODER_BAD_STREAM);
    const FrameComponent* f = c->frameComponents;
    c->samplingMode = ChooseSamplingMode(f, c->componentCount);
    if (c->samplingMode == SAMPLING_UNSUPPORTED) return Refuse(c, DECODER_BAD_STREAM);

    // Scan component c is paired with frame component c by position. Every
    // component the layout decodes must be in the scan and use defined tables.
    int decoded = c->samplingMode == SAMPLING_GREY ? 1 : 3;
    if (ns < decoded) return Refuse(c, DECODER_BAD_STREAM);
    for (int i = 0; i < decoded; ++i) {
        const ScanComponent& s = c->scanComponents[i];
        if (s.dcSlot > 3 || s.acSlot > 7 || c->lengthTable[s.dcSlot] == nullptr ||
            c->lengthTable[s.acSlot] == nullptr || !(c->quantDefined & (1 << f[i].quantSlot)))
            return Refuse(c, DECODER_BAD_STREAM);
        c->dcLength[i] = c->lengthTable[s.dcSlot];
        c->dcSymbol[i] = c->symbolTable[s.dcSlot];
        c->acLength[i] = c->lengthTable[s.acSlot];
        c->acSymbol[i] = c->symbolTable[s.acSlot];
        c->componentQuant[i] = c->quantTables[f[i].quantSlot];
        c->dcFast[i] = &c->fast[s.dcSlot];
        c->acFast[i] = &c->fast[s.acSlot];
    }
    c->bitOffset = 0;
    BindScanTables(c);
}

namespace {

// The segment loop, from the byte after SOI to the first SOS. Gives the call's result.
DecoderResult RunSegmentLoop(DecoderContext* c, HGLOBAL* picture, ScanDriver driver) {
    c->refusal = 0;
    for (;;) {
        if (ReadNextMarker(c) != 0) return DECODER_BAD_STREAM;
        std::uint16_t m = c->marker;
        if (m == MARKER_SOF0 || m == MARKER_DHT || m == MARKER_DQT || m == MARKER_SOS) {
            int payload = ReadSegmentLength(c);
            if (payload < 0) return DECODER_BAD_STREAM;
            std::uint16_t n = static_cast<std::uint16_t>(payload);
            if (m == MARKER_SOF0) {
                ParseStartOfFrame(c, n);
            } else if (m == MARKER_DQT) {
                ParseQuantTables(c, n);
            } else if (m == MARKER_DHT) {
                DecoderResult r = ParseHuffmanTables(c, n);
                if (r != 0) return r;
            } else {
                ParseStartOfScan(c, n);
                if (c->refusal != 0) return c->refusal;
                return driver(c, picture);
            }
            if (c->refusal != 0) return c->refusal;
        } else if (IsNonBaselineFrame(m)) {
            return DECODER_NOT_BASELINE;
        } else if (IsSkippedSegment(m)) {
            if (SkipSegment(c) != 0) return DECODER_BAD_STREAM;
        } else if (m == MARKER_EOI) {
            return DECODER_BAD_STREAM;  // the parse ended before any SOS: no picture was made
        }
        // SOI, RST0..RST7, 0xFF00..0xFFBF and 0xFFFF: nothing. (A second SOI
        // matters to the information scan only: the decode's result comes from its
        // SOS or EOI.)
    }
}

}  // namespace

DecoderResult DecodeJpegFileWith(const char* fileName, HGLOBAL* picture, ScanDriver driver,
                                 DecoderSwitches switches) {
    DecoderContext* c = CreateDecoderContext(switches);
    if (picture != nullptr && *picture != nullptr) {
        GlobalFree(*picture);
        *picture = nullptr;
    }
    if (c == nullptr) return DECODER_ALLOC_FAILED;
    DecoderResult result = OpenJpegStream(c, fileName);
    if (result == 0) {
        DecoderResult failure = 0;
        if (!ObtainBlock(&c->lumaBlocksHandle, &c->lumaBlocks, 288 * 2, &failure) ||
            !ObtainBlock(&c->cbBlockHandle, &c->cbBlock, 72 * 2, &failure) ||
            !ObtainBlock(&c->crBlockHandle, &c->crBlock, 72 * 2, &failure))
            result = failure;
    }
    if (result == 0) result = RunSegmentLoop(c, picture, driver);
    DestroyDecoderContext(c);
    if (result != 0 && picture != nullptr && *picture != nullptr) {
        GlobalFree(*picture);
        *picture = nullptr;
    }
    return result;
}

DecoderResult DecodeJpegFile(const char* fileName, HGLOBAL* picture) {
    return DecodeJpegFileWith(fileName, picture, DecodeScanToDib, PRODUCT_SWITCHES);
}

const char* DescribeDecoderResult(DecoderResult result) {
    switch (result) {
        case DECODER_OK: return "a picture was produced";
        case DECODER_ALLOC_FAILED: return "allocating a movable memory block failed";
        case DECODER_LOCK_FAILED: return "locking a movable memory block failed";
        case DECODER_OPEN_FAILED: return "opening the file failed";
        case DECODER_READ_FAILED: return "obtaining the file's size or reading it failed";
        case DECODER_BAD_STREAM: return "malformed, truncated or unsupported stream";
        case DECODER_NOT_BASELINE: return "a coding process other than baseline sequential Huffman";
        case DECODER_ABANDONED: return "the caller abandoned the decode";
        default: return "unknown result";
    }
}
