// The decode driver: allocates the DIB, walks the picture MCU by
// MCU (entropy decoding, inverse DCT, block output straight into the DIB) and
// checks for restart and end-of-image markers between MCUs.
#include <cstring>

#include "decoder_context.h"

namespace {

const std::uint32_t DIB_HEADER_BYTES = 40;
const std::uint32_t SPARE_ROWS = 15;
const std::uint64_t DIB_LIMIT = 0x7FFFFFFFu;  // largest DIB on every build

typedef void (*PutWhole)(std::uint8_t*, const DecoderContext*);
typedef void (*PutClipped)(std::uint8_t*, const DecoderContext*, int, int);

struct Layout {
    int lumaPerMcu;  // luma blocks per MCU; 0 marks the grey path (one block, no chroma)
    int mcuWidth, mcuHeight;
    PutWhole whole;
    PutClipped clipped;
};

// The transform of a block that the literal reader decoded.
inline void TransformBlock(const DecoderContext* c, std::int16_t* block) {
    if (c->switches.literalPaths) return InverseDctReference(block);
    InverseDct(block, c->simd);
}

// Decodes one MCU into the coefficient buffers; gives its status.
int DecodeMcu(DecoderContext* c, const Layout& layout) {
    int lumaCount = layout.lumaPerMcu == 0 ? 1 : layout.lumaPerMcu;
    if (DecodeMcuFast(c, lumaCount, layout.lumaPerMcu != 0)) {
        InverseDctMcu(c, lumaCount, layout.lumaPerMcu != 0);
        return 0;  // no advance of the MCU ran out of data
    }
    if (layout.lumaPerMcu == 0) {
        int status = DecodeLumaBlock(c);
        TransformBlock(c, c->lumaBlocks);
        return status;
    }
    std::int16_t* first = c->lumaBlocks;
    for (int i = 0; i < layout.lumaPerMcu; ++i) {
        DecodeLumaBlock(c);
        TransformBlock(c, c->lumaBlocks);
        c->lumaBlocks += 64;
    }
    c->lumaBlocks = first;
    DecodeCbBlock(c);
    TransformBlock(c, c->cbBlock);
    int status = DecodeCrBlock(c);
    TransformBlock(c, c->crBlock);
    return status;
}

}  // namespace

std::uint16_t CheckRestartMarker(DecoderContext* c) {
    const std::uint8_t* b = c->readPos;
    // A stuffed FF 00 directly ahead of a marker is padding. Mended from passing
    // over every FF 00 FF, which took two stuffed FF data bytes meeting at an MCU
    // boundary for padding and lost a byte of data: now only when a marker really
    // follows (the byte after the second FF is not 00).
    if (b[0] == 0xFF && b[1] == 0x00 && b[2] == 0xFF && b[3] != 0x00) {
        Advance(c, 2);
        if (c->bytesLeft < 0) return 1;
        c->bitOffset = 0;
    }
    const std::uint8_t* p = c->readPos + (c->bitOffset != 0 ? 1 : 0);
    if (p[0] != 0xFF) return 0;
    if (p[1] >= 0xD0 && p[1] <= 0xD7) {
        Advance(c, 2);
        if (c->bytesLeft < 0) return 1;
        if (c->bitOffset != 0) Advance(c, 1);
        ResetDcPredictors(c, c->componentQuant[0][0]);
        c->bitOffset = 0;
        return 0;
    }
    if (p[1] == 0xD9) return 1;
    return 0;
}

DecoderResult DecodeScanToDib(DecoderContext* c, HGLOBAL* dib) {
    return RunScanToDib(c, dib, c->height, nullptr);
}

DecoderResult RunScanToDib(DecoderContext* c, HGLOBAL* dib, std::uint32_t dibRows, McuGate* gate) {
    // The DIB block, every size in 64 bits.
    std::uint64_t stride = static_cast<std::uint64_t>(c->width) * 3;
    if (c->width % 4 != 0) stride = (stride & ~static_cast<std::uint64_t>(3)) + 4;
    std::uint64_t bytes =
        DIB_HEADER_BYTES + (static_cast<std::uint64_t>(dibRows) + SPARE_ROWS) * stride;
    *dib = nullptr;
    if (bytes > DIB_LIMIT) return DECODER_ALLOC_FAILED;
    c->rowStride = static_cast<std::int32_t>(stride);
    *dib = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, static_cast<SIZE_T>(bytes));
    if (*dib == nullptr) return DECODER_ALLOC_FAILED;
    std::uint8_t* block = static_cast<std::uint8_t*>(GlobalLock(*dib));
    if (block == nullptr) {
        GlobalFree(*dib);
        *dib = nullptr;
        return DECODER_LOCK_FAILED;
    }
    BITMAPINFOHEADER header;
    std::memset(&header, 0, sizeof header);
    header.biSize = DIB_HEADER_BYTES;
    header.biWidth = c->width;
    header.biHeight = c->height;
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = BI_RGB;
    header.biSizeImage = static_cast<DWORD>(static_cast<std::uint64_t>(c->height) * stride);
    std::memcpy(block, &header, sizeof header);
    std::uint8_t* pixels = block + DIB_HEADER_BYTES;
    SimdLevel offered = DetectSimdLevel();
    c->simd = offered < c->switches.simdLimit ? offered : c->switches.simdLimit;

    // The MCU geometry and the right and bottom remainders.
    Layout layout;
    switch (c->samplingMode) {
        case SAMPLING_H1V1: layout = {1, 8, 8, PutMcuH1V1, PutMcuH1V1Clipped}; break;
        case SAMPLING_H2V1: layout = {2, 16, 8, PutMcuH2V1, PutMcuH2V1Clipped}; break;
        case SAMPLING_H1V2: layout = {2, 8, 16, PutMcuH1V2, PutMcuH1V2Clipped}; break;
        case SAMPLING_H2V2: layout = {4, 16, 16, PutMcuH2V2, PutMcuH2V2Clipped}; break;
        default: layout = {0, 8, 8, PutGreyBlock, PutGreyBlockClipped}; break;
    }
    const int width = c->width, height = c->height;
    const int widthRem = width % layout.mcuWidth, heightRem = height % layout.mcuHeight;
    const int fullWidth = width - widthRem, fullHeight = height - heightRem;
    auto at = [&](int x, int y) {
        return pixels + static_cast<std::ptrdiff_t>(stride) * (height - 1 - y) +
               3 * static_cast<std::ptrdiff_t>(x);
    };

    // The traversal: whole MCU rows, then the clipped bottom row.
    int y = 0;
    bool stop = false;
    for (; y + layout.mcuHeight <= fullHeight && !stop; y += layout.mcuHeight) {
        for (int x = 0; x + layout.mcuWidth <= fullWidth;) {
            if (gate != nullptr) {
                McuGateAnswer answer = gate->beforeWholeMcu(gate);
                if (answer == MCU_GATE_AGAIN) continue;
                if (answer == MCU_GATE_LEAVE_ROW) break;
                if (answer == MCU_GATE_STOP) {
                    stop = true;
                    break;
                }
            }
            int status = DecodeMcu(c, layout);
            layout.whole(at(x, y), c);
            if (status != 0 || CheckRestartMarker(c) != 0) {
                stop = true;
                break;
            }
            x += layout.mcuWidth;
        }
        if (stop) break;
        if (widthRem > 0) {
            DecodeMcu(c, layout);  // the status of a right-edge MCU is not consulted
            layout.clipped(at(fullWidth, y), c, widthRem, layout.mcuHeight);
            if (CheckRestartMarker(c) != 0) stop = true;
        }
    }
    if (!stop && heightRem > 0) {
        for (int x = 0; x + layout.mcuWidth <= fullWidth; x += layout.mcuWidth) {
            int status = DecodeMcu(c, layout);
            layout.clipped(at(x, y), c, layout.mcuWidth, heightRem);
            if (status != 0 || CheckRestartMarker(c) != 0) {
                stop = true;
                break;
            }
        }
        if (!stop && widthRem > 0) {
            DecodeMcu(c, layout);
            layout.clipped(at(fullWidth, y), c, widthRem, heightRem);
            CheckRestartMarker(c);
        }
    }
    GlobalUnlock(*dib);
    return DECODER_OK;
}
