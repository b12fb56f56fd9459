// The decoder's working record and the routines its steps share (internal).
// Parsing fills the record; entropy decoding, the inverse DCT and block output work on it.
#pragma once

#include <cstdint>

#include "jpeg_decoder.h"

const int FILE_SLACK_BYTES = 1000;
const int LOOKUP_ENTRIES = 65536;
const int HUFFMAN_SLOTS = 8;

// Marker codes.
const std::uint16_t MARKER_SOF0 = 0xFFC0, MARKER_DHT = 0xFFC4, MARKER_DAC = 0xFFCC,
                    MARKER_SOI = 0xFFD8, MARKER_EOI = 0xFFD9, MARKER_SOS = 0xFFDA,
                    MARKER_DQT = 0xFFDB;

// Lookahead ("fast") Huffman tables, built beside the 65,536-entry lookup pair
// of a slot: one entry per value of the next FAST_BITS stream bits. They give
// exactly what the full pair gives, only sooner; an entry whose 2^(16-FAST_BITS)
// full-pair entries do not all agree sends the decoder to the full pair.
const int FAST_BITS = 10;
const int FAST_ENTRIES = 1 << FAST_BITS;
// codeEntry: symbol in bits 0-7, code length in bits 8-12, FAST_SLOW set when
// the full pair must be consulted.
const std::uint16_t FAST_SLOW = 0x8000;
// acEntry: when FAST_AC_VALID is set the entry holds a whole coefficient (AC
// slots) or DC difference (DC slots, run 0): total bits (code and value) in
// bits 0-4, run in bits 8-11 and the extended value in bits 16-31.
const std::int32_t FAST_AC_VALID = 0x8000;

// The SSE2 carriers are built for x86 of either width, each function compiled
// for SSE2 on its own (SSE2_FN), so that the i686 product still runs on a 486;
// whether they run is decided at run time (SimdLevel). SSE2_ENTRY marks those
// that plain code calls: the 32-bit Windows stack is only 4-byte aligned, and
// their vector spills need 16. The AVX2 carriers are built on x86-64 only.
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define DUNMERE_SSE2 1
#define SSE2_FN __attribute__((target("sse2")))
#if defined(__i386__)
#define SSE2_ENTRY __attribute__((target("sse2"), force_align_arg_pointer))
#else
#define SSE2_ENTRY SSE2_FN
#endif
#else
#define DUNMERE_SSE2 0
#endif
#if DUNMERE_SSE2 && defined(__x86_64__)
#define DUNMERE_AVX2 1
#else
#define DUNMERE_AVX2 0
#endif

// The widest vector instructions the decode may use: what the processor and
// the system offer, capped by the context's simdLimit.
enum SimdLevel { SIMD_NONE, SIMD_SSE2, SIMD_AVX2 };

// How the frame's components are laid out in an MCU, from the sampling
// factors of its components: one grey component, or three whose second and
// third are 1x1 and whose first is HxV. Any other frame is not decoded.
enum SamplingMode : std::int16_t {
    SAMPLING_GREY = 0,
    SAMPLING_H1V1 = 1,
    SAMPLING_H2V1 = 2,
    SAMPLING_H1V2 = 3,
    SAMPLING_H2V2 = 4,
    SAMPLING_UNSUPPORTED = 99
};

// Switches that let tests, the fuzzer and the timing tool run the decode
// another way than the product does. literalPaths: blocks are decoded with the
// literal bit reader (PeekBits16/ConsumeBits), transformed with
// InverseDctReference and written pixel by pixel only, so that the fast
// carriers can be checked against them. simdLimit: the highest SimdLevel the
// decode may choose, so that the SSE2 carriers can run on an AVX2 processor.
struct DecoderSwitches {
    bool literalPaths;
    SimdLevel simdLimit;
};
constexpr DecoderSwitches PRODUCT_SWITCHES = {false, SIMD_AVX2};

struct FastHuffman {
    std::uint16_t codeEntry[FAST_ENTRIES];
    std::int32_t acEntry[FAST_ENTRIES];
};

struct FrameComponent {
    std::uint8_t hSampling;
    std::uint8_t vSampling;
    std::uint8_t quantSlot;
};

struct ScanComponent {
    std::uint8_t dcSlot;  // 0..3
    std::uint8_t acSlot;  // 4..7
};

struct DecoderContext;

// The before-whole-MCU gate of the traversal (before each whole MCU), for the
// cooperative decode: null for DecodeScanToDib. MCU_GATE_STOP ends the
// traversal there, as exhausted data does (the picture so far, result 0).
enum McuGateAnswer { MCU_GATE_DECODE, MCU_GATE_AGAIN, MCU_GATE_LEAVE_ROW, MCU_GATE_STOP };
struct McuGate {
    McuGateAnswer (*beforeWholeMcu)(McuGate* gate);
};

// A decode driver: DecodeScanToDib or a twin of it.
typedef DecoderResult (*ScanDriver)(DecoderContext* context, HGLOBAL* dib);

struct DecoderContext {
    std::uint16_t marker;
    std::uint16_t width;
    std::uint16_t height;
    HANDLE file;
    HGLOBAL bufferHandle;
    const std::uint8_t* readPos;
    std::int32_t bytesLeft;
    FrameComponent frameComponents[4];
    std::uint8_t componentCount;
    ScanComponent scanComponents[4];
    std::uint8_t scanComponentCount;
    HGLOBAL lengthTableHandle[HUFFMAN_SLOTS];
    HGLOBAL symbolTableHandle[HUFFMAN_SLOTS];
    std::uint8_t* lengthTable[HUFFMAN_SLOTS];
    std::uint8_t* symbolTable[HUFFMAN_SLOTS];
    std::int16_t dcPredictor[3];
    std::uint8_t dqtPrecision;
    std::uint8_t dqtSlot;
    std::uint16_t quantTables[4][64];
    SamplingMode samplingMode;
    std::int16_t dcDiff;
    std::int16_t acValue;
    std::int16_t acRun;
    std::uint16_t bitsToConsume;
    const std::uint8_t* dcLength[3];
    const std::uint8_t* dcSymbol[3];
    const std::uint8_t* acLength[3];
    const std::uint8_t* acSymbol[3];
    const std::uint16_t* componentQuant[3];
    std::int32_t rowStride;
    HGLOBAL lumaBlocksHandle;
    std::int16_t* lumaBlocks;
    HGLOBAL cbBlockHandle;
    std::int16_t* cbBlock;
    HGLOBAL crBlockHandle;
    std::int16_t* crBlock;
    std::int16_t bitOffset;

    // Implementation fields (beyond the working record proper).
    std::uint8_t* buffer;          // locked address of the file buffer
    std::uint8_t frameSeen;        // an SOF0 was parsed
    std::uint8_t quantDefined;     // bit s: a DQT defined slot s
    DecoderResult refusal;         // a parser refused the stream with this code
    const FastHuffman* dcFast[3];  // lookahead tables bound for the scan
    const FastHuffman* acFast[3];
    std::int32_t quantZigzag[3][65];  // componentQuant in zigzag order, [64] = [63]
    FastHuffman fast[HUFFMAN_SLOTS];
    SimdLevel simd;            // chosen at the start of the scan, within switches.simdLimit
    DecoderSwitches switches;  // PRODUCT_SWITCHES except in tests and tools
    std::uint8_t blockEnd[6];  // per block of the MCU the fast reader decoded
                               // (luma 0..3, Cb, Cr): the zigzag positions in use
};

// The natural (row-major) index of each zigzag position; entries 64..71 are 63,
// so that a zero run that overshoots the block lands on the last coefficient.
inline constexpr std::uint16_t zigzagOrder[72] = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48, 41, 34,
    27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
    58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63, 63, 63, 63, 63, 63, 63, 63, 63};

// Reading the file buffer: readPos moves forward and bytesLeft down together,
// so that bytesLeft always counts the bytes from readPos to the end.
inline void Advance(DecoderContext* c, int n) {
    c->readPos += n;
    c->bytesLeft -= n;
}

inline std::uint8_t ReadByte(DecoderContext* c) {
    std::uint8_t b = c->readPos[0];
    Advance(c, 1);
    return b;
}

inline std::uint16_t ReadWord(DecoderContext* c) {
    std::uint16_t w = static_cast<std::uint16_t>((c->readPos[0] << 8) | c->readPos[1]);
    Advance(c, 2);
    return w;
}

// The front end shared by the decode and the information scan.
// A zeroed context with the given switches, or null when there is no memory for it.
DecoderContext* CreateDecoderContext(DecoderSwitches switches);
// Loads the file into the context's buffer and moves to the byte after its SOI.
DecoderResult OpenJpegStream(DecoderContext* context, const char* fileName);
// Releases every block the context holds, then the context itself.
void DestroyDecoderContext(DecoderContext* context);
// The next marker into context->marker; 105 when the data runs out.
DecoderResult ReadNextMarker(DecoderContext* context);
// The length rule of the segments that are read (SOF0, DHT, DQT, SOS): reads
// the length field L; refused when L is below 2 or fewer than L bytes are left
// after the field. Gives the payload length L - 2, or -1.
int ReadSegmentLength(DecoderContext* context);
// The rule of the segments that are passed over: refused when L is below 2 or
// the segment runs past the end of the data. Gives L - 2, or -1.
int ReadSkippedLength(DecoderContext* context);
// Passes over the segment whose length field is at readPos; 105 when refused.
DecoderResult SkipSegment(DecoderContext* context);
// SOF1..SOF3, SOF5..SOF7, SOF9..SOF11, SOF13..SOF15 and DAC.
bool IsNonBaselineFrame(std::uint16_t marker);
// The segments the decode passes over: JPG, DNL, DRI, DHP, EXP, APP0..APP15,
// JPG0..JPG13 and COM.
bool IsSkippedSegment(std::uint16_t marker);
SamplingMode ChooseSamplingMode(const FrameComponent* components, int componentCount);

// The DC predictors at the start of the scan and after each restart marker:
// the luma one starts from 1024 divided by `firstQuantEntry` (1024 when that
// is 0), the chroma ones from 0. The scan starts from the first entry of
// quantisation slot 0 (whichever slot component 0 uses); a restart from that
// of component 0's bound table.
inline void ResetDcPredictors(DecoderContext* c, std::uint16_t firstQuantEntry) {
    c->dcPredictor[0] =
        static_cast<std::int16_t>(firstQuantEntry != 0 ? 1024 / firstQuantEntry : 1024);
    c->dcPredictor[1] = 0;
    c->dcPredictor[2] = 0;
}

// Movable blocks held as a handle and a locked address. ObtainBlock allocates
// a zero-filled block and locks it; on failure nothing is held and `failure`
// says which step failed (101 or 102). ReleaseBlock releases what is held.
template <typename T>
bool ObtainBlock(HGLOBAL* handle, T** address, std::uint32_t bytes, DecoderResult* failure) {
    *handle = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, bytes);
    if (*handle == nullptr) {
        *failure = DECODER_ALLOC_FAILED;
        return false;
    }
    *address = static_cast<T*>(GlobalLock(*handle));
    if (*address == nullptr) {
        GlobalFree(*handle);
        *handle = nullptr;
        *failure = DECODER_LOCK_FAILED;
        return false;
    }
    return true;
}
void ReleaseBlock(HGLOBAL* handle, void* address);
// Releases the lookup pair of a Huffman slot (nothing when it holds none).
void ReleaseHuffmanSlot(DecoderContext* context, int slot);
// Releases every block the context holds; safe on a partly filled context.
void ReleaseDecoder(DecoderContext* context);

// Parsing.
void ParseStartOfFrame(DecoderContext* context, std::uint16_t payloadLength);
void ParseQuantTables(DecoderContext* context, std::uint16_t payloadLength);
DecoderResult ParseHuffmanTables(DecoderContext* context, std::uint16_t payloadLength);
void ParseStartOfScan(DecoderContext* context, std::uint16_t payloadLength);
// The entry with its driver and switches chosen (DecodeJpegFile passes
// DecodeScanToDib and PRODUCT_SWITCHES).
DecoderResult DecodeJpegFileWith(const char* fileName, HGLOBAL* picture, ScanDriver driver,
                                 DecoderSwitches switches);
// Reads the whole file into the context's buffer (with FILE_SLACK_BYTES zero bytes after it).
DecoderResult LoadJpegFile(DecoderContext* context, const char* fileName);
// The same from a file the caller opened for reading (INVALID_HANDLE_VALUE gives
// 103); the handle is closed whatever the result.
DecoderResult LoadJpegFileHandle(DecoderContext* context, HANDLE file);
// Moves past the first SOI; 105 when there is none or no marker follows it directly.
DecoderResult FindStartOfImage(DecoderContext* context);

// Entropy decoding. BuildHuffmanLookup returns the bytes consumed, or -1 for a table
// that is not a valid prefix code within `available` bytes (refused with 105).
// It also fills the slot's lookahead table `fast` (when not null).
int BuildHuffmanLookup(DecoderContext* context, std::uint8_t* lengthTable,
                       std::uint8_t* symbolTable, std::uint8_t* codeLengths, std::uint16_t* codes,
                       int available, bool isAc, FastHuffman* fast);
std::uint16_t PeekBits16(const DecoderContext* context);
int ConsumeBits(DecoderContext* context);
int DecodeDc(DecoderContext* context, int c);
int DecodeAc(DecoderContext* context, int c);
int DecodeLumaBlock(DecoderContext* context);
int DecodeCbBlock(DecoderContext* context);
int DecodeCrBlock(DecoderContext* context);
// The blocks of one whole MCU (lumaCount luma blocks, then Cb and Cr when
// colour), as the three block decoders would decode them one after another,
// with one fast reader; false (context untouched) where that cannot be done
// (near the end of the data, or under the literal paths switch).
bool DecodeMcuFast(DecoderContext* context, int lumaCount, bool colour);
// Prepares the per-scan tables of the block decoders (after ParseStartOfScan).
void BindScanTables(DecoderContext* context);

// What this processor and system allow (cpu_features.cpp), whatever the switches.
SimdLevel DetectSimdLevel();
#if DUNMERE_SSE2 && defined(__i386__) && defined(_WIN32)
// Whether the system runs SSE instructions (it saves the XMM registers on a
// task switch): one is tried under a structured exception frame. `forceFault`
// tries an always-illegal instruction instead, as on Windows 95 and NT 4.0.
bool SystemRunsSse(bool forceFault);
#endif

// Inverse DCT, with the vector carriers up to `simd`.
void InverseDct(std::int16_t* block, SimdLevel simd);
// All blocks of an MCU that DecodeMcuFast decoded, using its blockEnd hints.
void InverseDctMcu(DecoderContext* context, int lumaCount, bool colour);
void InverseDctReference(std::int16_t* block);

// Block output and the decode driver.
DecoderResult DecodeScanToDib(DecoderContext* context, HGLOBAL* dib);
// Its twin that services the thread's message queue (cooperative.cpp).
DecoderResult DecodeScanToDibCooperative(DecoderContext* context, HGLOBAL* dib);
// The shared driver: `dibRows` rows are allocated besides the 15 spare ones
// (height, or the height rounded up to whole MCU rows for the cooperative decode); `gate` may be null.
DecoderResult RunScanToDib(DecoderContext* context, HGLOBAL* dib, std::uint32_t dibRows,
                           McuGate* gate);
std::uint16_t CheckRestartMarker(DecoderContext* context);
void PutGreyBlock(std::uint8_t* dest, const DecoderContext* context);
void PutMcuH1V1(std::uint8_t* dest, const DecoderContext* context);
void PutMcuH2V1(std::uint8_t* dest, const DecoderContext* context);
void PutMcuH1V2(std::uint8_t* dest, const DecoderContext* context);
void PutMcuH2V2(std::uint8_t* dest, const DecoderContext* context);
void PutGreyBlockClipped(std::uint8_t* dest, const DecoderContext* context, int columns, int rows);
void PutMcuH1V1Clipped(std::uint8_t* dest, const DecoderContext* context, int columns, int rows);
void PutMcuH2V1Clipped(std::uint8_t* dest, const DecoderContext* context, int columns, int rows);
void PutMcuH1V2Clipped(std::uint8_t* dest, const DecoderContext* context, int columns, int rows);
void PutMcuH2V2Clipped(std::uint8_t* dest, const DecoderContext* context, int columns, int rows);

// The decode under other switches than the product's, for tests and tools only
// (switched_decode.cpp; the product never calls it).
DecoderResult DecodeJpegFileSwitched(const char* fileName, HGLOBAL* picture, bool cooperative,
                                     DecoderSwitches switches);
