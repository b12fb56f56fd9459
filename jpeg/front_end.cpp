// The front end that the decode and the information scan share: the context's
// set-up and release, loading the file, the search for SOI, marker reading,
// the two segment length rules, the classes of markers and the choice of
// sampling mode. Both
// walk a file the same way up to their first SOS, so that the scan refuses
// exactly the streams the decode refuses before its scan starts.
#include <cstring>
#include <new>

#include "decoder_context.h"

void ReleaseBlock(HGLOBAL* handle, void* address) {
    if (address != nullptr && *handle != nullptr) GlobalUnlock(*handle);
    if (*handle != nullptr) GlobalFree(*handle);
    *handle = nullptr;
}

void ReleaseHuffmanSlot(DecoderContext* c, int slot) {
    ReleaseBlock(&c->symbolTableHandle[slot], c->symbolTable[slot]);
    ReleaseBlock(&c->lengthTableHandle[slot], c->lengthTable[slot]);
    c->symbolTable[slot] = nullptr;
    c->lengthTable[slot] = nullptr;
}

void ReleaseDecoder(DecoderContext* c) {
    for (int slot = 0; slot < HUFFMAN_SLOTS; ++slot) ReleaseHuffmanSlot(c, slot);
    ReleaseBlock(&c->crBlockHandle, c->crBlock);
    ReleaseBlock(&c->cbBlockHandle, c->cbBlock);
    ReleaseBlock(&c->lumaBlocksHandle, c->lumaBlocks);
    c->crBlock = c->cbBlock = c->lumaBlocks = nullptr;
    ReleaseBlock(&c->bufferHandle, c->buffer);
    c->buffer = nullptr;
    c->readPos = nullptr;
}

DecoderResult LoadJpegFile(DecoderContext* c, const char* fileName) {
    return LoadJpegFileHandle(c, CreateFileA(fileName, GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                             FILE_ATTRIBUTE_NORMAL, nullptr));
}

DecoderResult LoadJpegFileHandle(DecoderContext* c, HANDLE file) {
    DecoderResult result = 0;
    if (file == INVALID_HANDLE_VALUE) return DECODER_OPEN_FAILED;
    c->file = file;
    // The size in 64 bits, so that a file too large for the buffer (whose byte
    // count is a signed 32-bit number) is refused instead of read in part.
    LONG high = 0;
    DWORD low = SetFilePointer(c->file, 0, &high, FILE_END);
    if (low == INVALID_SET_FILE_POINTER || SetFilePointer(c->file, 0, nullptr, FILE_BEGIN) != 0) {
        result = DECODER_READ_FAILED;
    } else {
        std::uint64_t size =
            (static_cast<std::uint64_t>(static_cast<std::uint32_t>(high)) << 32) | low;
        if (size + FILE_SLACK_BYTES > 0x7FFFFFFFu) {
            result = DECODER_ALLOC_FAILED;
        } else if (ObtainBlock(&c->bufferHandle, &c->buffer,
                               static_cast<std::uint32_t>(size) + FILE_SLACK_BYTES, &result)) {
            DWORD read = 0;
            if (!ReadFile(c->file, c->buffer, static_cast<DWORD>(size), &read, nullptr))
                result = DECODER_READ_FAILED;
            c->bytesLeft = static_cast<std::int32_t>(size);
            c->readPos = c->buffer;
        }
    }
    CloseHandle(c->file);
    c->file = nullptr;
    return result;
}

DecoderContext* CreateDecoderContext(DecoderSwitches switches) {
    DecoderContext* c =
        static_cast<DecoderContext*>(::operator new(sizeof(DecoderContext), std::nothrow));
    if (c == nullptr) return nullptr;
    std::memset(c, 0, sizeof *c);
    c->switches = switches;
    return c;
}

DecoderResult OpenJpegStream(DecoderContext* c, const char* fileName) {
    DecoderResult result = LoadJpegFile(c, fileName);
    return result != 0 ? result : FindStartOfImage(c);
}

void DestroyDecoderContext(DecoderContext* c) {
    ReleaseDecoder(c);
    ::operator delete(c);
}

DecoderResult FindStartOfImage(DecoderContext* c) {
    for (;;) {
        while (c->readPos[0] != 0xFF) {
            Advance(c, 1);
            if (c->bytesLeft <= 0) return DECODER_BAD_STREAM;
        }
        c->marker = ReadWord(c);
        if (c->marker == MARKER_EOI || c->bytesLeft <= 0) return DECODER_BAD_STREAM;
        if (c->marker == MARKER_SOI) break;
    }
    return c->readPos[0] == 0xFF ? 0 : DECODER_BAD_STREAM;
}

DecoderResult ReadNextMarker(DecoderContext* c) {
    while (c->readPos[0] != 0xFF) {
        Advance(c, 1);
        if (c->bytesLeft < 0) return DECODER_BAD_STREAM;
    }
    std::uint8_t first = ReadByte(c);
    if (c->bytesLeft < 0) return DECODER_BAD_STREAM;
    std::uint8_t second = ReadByte(c);
    if (c->bytesLeft < 0) return DECODER_BAD_STREAM;
    c->marker = static_cast<std::uint16_t>((first << 8) | second);
    return 0;
}

// The file buffer carries FILE_SLACK_BYTES zero bytes after the data, so the
// length field itself may be read where bytesLeft is already below 2.
int ReadSegmentLength(DecoderContext* c) {
    std::uint16_t length = ReadWord(c);
    if (length < 2 || c->bytesLeft < length) return -1;
    return length - 2;
}

int ReadSkippedLength(DecoderContext* c) {
    std::uint16_t length = ReadWord(c);
    if (length < 2 || c->bytesLeft < length - 2) return -1;
    return length - 2;
}

DecoderResult SkipSegment(DecoderContext* c) {
    int payload = ReadSkippedLength(c);
    if (payload < 0) return DECODER_BAD_STREAM;
    Advance(c, payload);
    return 0;
}

bool IsNonBaselineFrame(std::uint16_t m) {
    return (m >= 0xFFC1 && m <= 0xFFC3) || (m >= 0xFFC5 && m <= 0xFFC7) ||
           (m >= 0xFFC9 && m <= 0xFFCB) || (m >= 0xFFCD && m <= 0xFFCF) || m == MARKER_DAC;
}

bool IsSkippedSegment(std::uint16_t m) {
    return m == 0xFFC8 || (m >= 0xFFDC && m <= 0xFFDF) || (m >= 0xFFE0 && m <= 0xFFEF) ||
           (m >= 0xFFF0 && m <= 0xFFFE);
}

SamplingMode ChooseSamplingMode(const FrameComponent* f, int componentCount) {
    // A single component is never subsampled against itself: the grey path
    // works on the 8 x 8 grid whatever factors the frame declares.
    if (componentCount == 1) return SAMPLING_GREY;
    if (componentCount != 3 || f[1].hSampling != 1 || f[1].vSampling != 1 || f[2].hSampling != 1 ||
        f[2].vSampling != 1)
        return SAMPLING_UNSUPPORTED;
    int h = f[0].hSampling, v = f[0].vSampling;
    if (h == 1 && v == 1) return SAMPLING_H1V1;
    if (h == 2 && v == 1) return SAMPLING_H2V1;
    if (h == 1 && v == 2) return SAMPLING_H1V2;
    if (h == 2 && v == 2) return SAMPLING_H2V2;
    return SAMPLING_UNSUPPORTED;
}
