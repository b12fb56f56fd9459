// The photo decode's working records and the routines its stages share
// (internal). The photo path keeps the shared DecoderContext for what is the
// same as in the built-in decode (the file buffer, the quantisation tables,
// the Huffman lookups and their lookahead tables), and records of its own for
// what differs: components matched by identifier with any sampling factors,
// many scans with spectral bands and successive approximation, restart
// intervals, a coefficient store kept at the chosen scale, and an output
// stage that scales, converts, resamples and turns the picture upright.
#pragma once

#include <cstdint>

#include "bit_reader.h"
#include "decoder_context.h"
#include "photo_decoder.h"

// One grey or three colour components; four-component (CMYK, YCCK) frames are
// refused.
const int PHOTO_COMPONENTS = 3;
// Blocks the photo path holds besides those of the DecoderContext.
const int PHOTO_HELD_BLOCKS = 24;
// The largest block the decode asks for, on every build.
const std::uint64_t PHOTO_BLOCK_LIMIT = 0x7FFFFFFFu;

enum PhotoColour { COLOUR_GREY, COLOUR_YCBCR, COLOUR_RGB };

struct PhotoComponent {
    std::uint8_t id;
    std::uint8_t h, v;  // sampling factors, 1..4
    std::uint8_t quantSlot;
    std::uint8_t dcSlot, acSlot;  // Huffman slots of the scan being decoded
    std::uint8_t blockSize;       // samples per side of its transform: 8, 4, 2 or 1
    bool quantLatched;            // `quant` holds the table its first scan found
    std::uint16_t quant[64];      // natural order
    // The coefficients its transform reads: per axis the frequencies `kept`
    // (keptCount of them), so keptCount^2 per block. The store holds them row
    // by row; `keep` gives each zigzag position's place there, or -1, and
    // `keptNatural` each place's natural index. `weights[k][i]`: the
    // transform's weight of kept frequency i at output k, 13-bit fixed point.
    std::uint8_t keptCount;
    std::uint8_t kept[8];
    std::int8_t keep[64];
    std::uint8_t keptNatural[64];
    std::uint64_t keptMask;  // the zigzag positions kept, as bits
    std::int16_t weights[8][8];
    std::int32_t predictor;  // DC predictor of the scan being decoded
    // Blocks of whole MCUs (interleaved scans, the store, the output), and of
    // the component's own extent (a scan of this component alone).
    std::int32_t blocksAcross, blocksDown;
    std::int32_t ownBlocksAcross, ownBlocksDown;
    // Its samples at the chosen scale: the true extent, not the padding.
    std::int32_t sampleWidth, sampleHeight;
    // The upsampling to the scaled frame, per axis: numerator over denominator.
    std::int32_t hNum, hDen, vNum, vDen;
    // The coefficient store (multi-scan photos): keptCount^2 raw coefficients
    // per block, and per block the 64-bit set of zigzag positions that are
    // nonzero (progressive photos only).
    std::int16_t* coefficients;
    std::uint64_t* nonzero;
    // Sample rows at the chosen scale, a ring of `ringRows` rows.
    std::uint8_t* ring;
    std::int32_t ringStride, ringRows;
    std::int32_t rowsReady;  // rows written into the ring so far
};

struct PhotoFrame {
    std::int32_t width, height;
    int componentCount;
    PhotoComponent components[PHOTO_COMPONENTS];
    int hMax, vMax;
    std::int32_t mcusAcross, mcusDown;
    bool progressive;
    std::int32_t restartInterval;  // MCUs per interval, 0 = none
    int orientation;               // EXIF orientation 1..8
    PhotoColour colour;
    int scale;      // 1, 2, 4 or 8
    int blockSize;  // 8 / scale: the transform of the most finely sampled components
};

struct PhotoScan {
    int componentCount;
    int components[PHOTO_COMPONENTS];  // indices into the frame's components
    int ss, se, ah, al;
};

// The stage that turns sample rows into the DIB. Scaled rows (the decode at
// the chosen scale, stored orientation) are upsampled and converted to colour,
// area-averaged to the target size (the fitted size, stored orientation) and
// written upright.
struct PhotoOutput {
    std::int32_t scaledWidth, scaledHeight;
    std::int32_t targetWidth, targetHeight;
    std::int32_t dibWidth, dibHeight;
    HGLOBAL dib;
    std::uint8_t* pixels;  // the first pixel row of the DIB (the bottom one)
    std::int32_t stride;
    std::int32_t nextScaledRow;                 // the next scaled row to write
    bool fancy;                                 // triangle filter for 2:1 chroma, else replication
    std::uint8_t* upsampled[PHOTO_COMPONENTS];  // one scaled row per component
    std::int16_t* weighted;                     // a component row filtered vertically
    std::uint8_t* colourRow;                    // one scaled row as blue, green, red
    // Area averaging, when the target size differs from the scaled size.
    bool resample;
    std::int32_t* columns;  // per target column: first, last, first weight, last weight
    std::uint32_t* columnSums;
    std::uint32_t* rowSums;
    std::uint8_t* targetRow;
    std::int32_t nextTargetRow;
};

// Scans decoded at most: real files have a few dozen; more is a file made to
// walk every block again and again, and ends the decode there.
const int PHOTO_MAX_SCANS = 1000;

// A scan header as the outline of the file's scans records it.
const int PHOTO_OUTLINE_SCANS = 64;
struct ScanOutline {
    std::uint8_t component;  // a one-component scan's index, else 0xFF
    std::uint8_t ss, se, ah;
};

struct HeldBlock {
    HGLOBAL handle;
    void* address;
};

struct PhotoContext {
    DecoderContext* decoder;
    const PhotoRequest* request;
    PhotoFrame frame;
    PhotoScan scan;
    PhotoOutput output;
    MarkerReader reader;
    std::int32_t eobRun;
    bool frameSeen;
    bool prepared;   // the first scan has set up the output
    bool streaming;  // one sequential scan, decoded straight into the output
    bool scanSeen;   // a scan has been decoded (in part at least)
    bool abandoned;  // the yield said no
    bool jfifSeen, exifSeen;
    int adobeTransform;  // -1: no Adobe segment
    int scanNumber;      // progressive scans met so far
    int scansDecoded;
    ScanOutline outline[PHOTO_OUTLINE_SCANS];
    int outlineCount;
    bool outlineFull;        // more scans than the outline holds
    std::int16_t block[64];  // a block of the scan being decoded, or being transformed
    HeldBlock held[PHOTO_HELD_BLOCKS];
};

// Blocks of the photo path: zero-filled, locked, released together. False
// (with 101 or 102 in *failure) when there is no block; also 101 for one above
// PHOTO_BLOCK_LIMIT, checked in 64 bits.
bool ObtainPhotoBlock(PhotoContext* p, std::uint64_t bytes, void** address, DecoderResult* failure);
void ReleasePhotoBlocks(PhotoContext* p);
// The caller's yield between rows of MCUs; false once it has said no.
bool PhotoYields(PhotoContext* p);

// The segment loop from the byte after SOI to EOI or the end of the data.
DecoderResult RunPhotoSegments(PhotoContext* p);
// The orientation from an APP1 payload that begins with "Exif\0\0": 1..8.
int ReadExifOrientation(const std::uint8_t* payload, std::uint32_t length);

// Geometry and output, once the first scan's header is read: the scale, the
// sizes, every block of the output stage and the DIB.
DecoderResult PreparePhotoOutput(PhotoContext* p);
// Writes every scaled row that the rows in the rings allow; `final` once no
// more rows will come, so that the last rows use the edges they have.
void WriteReadyRows(PhotoContext* p, bool final);
// Transforms one block's dequantised coefficients (natural order; only the
// kept ones are read) into the component's ring at block (bx, by).
void TransformToRing(PhotoContext* p, PhotoComponent* comp, std::int16_t* coefficients,
                     std::int32_t bx, std::int32_t by);
// The target row's pixels into the DIB, upright.
void WriteTargetRow(PhotoOutput* out, int orientation, std::int32_t y, const std::uint8_t* bgr);
// A scaled row (blue, green, red) into the resampler or straight to the DIB.
void TakeScaledRow(PhotoContext* p, const std::uint8_t* bgr);
DecoderResult PrepareResampler(PhotoContext* p);

// Scans. The traversal walks the scan's MCUs with the restarts, the yield and
// the end of the data, and hands every block to the scan's block decoder.
typedef void (*PhotoBlockDecoder)(PhotoContext* p, PhotoComponent* comp, int scanIndex,
                                  std::int32_t bx, std::int32_t by);
DecoderResult DecodePhotoScan(PhotoContext* p);
PhotoBlockDecoder ChooseSequentialDecoder(PhotoContext* p);
PhotoBlockDecoder ChooseProgressiveDecoder(PhotoContext* p);
// Binds the scan's tables into the DecoderContext for the shared block decoder.
void BindPhotoScanTables(PhotoContext* p);
// Whether a progressive scan must be decoded for the coefficients kept at this
// scale, looking at the scans that follow it in the file.
bool PhotoScanNeeded(PhotoContext* p);

// The coefficient store.
// Chooses what a component keeps: the frequencies its transform needs, no
// more than `visible` of them (the target shows no finer detail).
void PlanKeptCoefficients(PhotoComponent* comp, int visible);
DecoderResult ObtainCoefficientStore(PhotoContext* p);
// The output pass over the store, one MCU row at a time.
DecoderResult WriteStoredPicture(PhotoContext* p);

// The component's inverse transform of one block: dequantised coefficients in
// natural order (only the kept ones are read) to blockSize x blockSize samples
// with the level shift, clamped to 0..255, rows `outStride` apart. The full
// 8 x 8 one may work in place on `coefficients`.
void ScaledInverseDct(const PhotoComponent& comp, std::int16_t* coefficients, std::uint8_t* out,
                      std::int32_t outStride, SimdLevel simd);
// Its weight table: outputs of a transform of `size` against frequencies 0..7.
const std::int16_t* TransformWeights(int size);

// Photo markers: the next FF xx at or after `from` that is a marker (not a
// stuffed 00, not a fill byte); null when the data ends first.
const std::uint8_t* FindPhotoMarker(const std::uint8_t* from, const std::uint8_t* end);
