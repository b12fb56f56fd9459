// Helpers shared by the bitmap-file tests: the ImageMagick samples and their
// expected pixels, pixels read out of a DIB handle, and the
// number of _lread and _lwrite calls made (the stand-in counts them natively;
// under Wine the test program's own imports are redirected through counters).
#pragma once

#include "dib.h"
#include "test_files.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

using Rgb = std::array<uint8_t, 3>;

// One ImageMagick-made file in samples/ (see make-bmp-samples).
struct Sample {
    const char* name;
    WORD bits;
    bool core;  // written with the 12-byte core header
    DWORD compression;
    LONG width, height;
};

inline const std::vector<Sample>& Samples() {
    static const std::vector<Sample> samples = {
        {"mono-BMP3", 1, false, BI_RGB, 37, 23},      {"mono-BMP2", 1, true, BI_RGB, 37, 23},
        {"pal4-BMP3", 4, false, BI_RGB, 37, 23},      {"pal4-BMP2", 4, true, BI_RGB, 37, 23},
        {"pal8-BMP3", 8, false, BI_RGB, 37, 23},      {"pal8-BMP2", 8, true, BI_RGB, 37, 23},
        {"true24-BMP3", 24, false, BI_RGB, 37, 23},   {"true24-BMP2", 24, true, BI_RGB, 37, 23},
        {"large24-BMP3", 24, false, BI_RGB, 211, 97},
    };
    return samples;
}

inline std::string SamplePath(const Sample& s, const char* extension = ".bmp") {
    return std::string("samples/") + s.name + extension;
}

// The pixels as ImageMagick reads its own file: top-down rows of RGB.
inline std::vector<Rgb> ExpectedPixels(const std::string& rgbPath) {
    Bytes raw = ReadFileBytes(rgbPath);
    std::vector<Rgb> pixels(raw.size() / 3);
    for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = {raw[3 * i], raw[3 * i + 1], raw[3 * i + 2]};
    return pixels;
}

// The colour of pixel (x, y), y counted from the top, of an uncompressed DIB
// with a 40-byte header (rows bottom-up, or top-down for a negative height): a
// colour-table index or blue, green, red.
inline Rgb DibPixel(const uint8_t* dib, int x, int y) {
    BITMAPINFOHEADER h;
    std::memcpy(&h, dib, sizeof h);
    const uint8_t* table = dib + h.biSize;
    const uint8_t* rows = table + ColorTableBytes(&h);
    const size_t stride = (size_t(h.biWidth) * h.biBitCount + 31) / 32 * 4;
    const uint8_t* row = rows + stride * size_t(h.biHeight < 0 ? y : h.biHeight - 1 - y);
    if (h.biBitCount == 24) return {row[3 * x + 2], row[3 * x + 1], row[3 * x]};
    unsigned index;
    switch (h.biBitCount) {
        case 1: index = (row[x / 8] >> (7 - x % 8)) & 1; break;
        case 4: index = (row[x / 2] >> (x % 2 ? 0 : 4)) & 15; break;
        default: index = row[x]; break;
    }
    const uint8_t* entry = table + 4 * index;
    return {entry[2], entry[1], entry[0]};
}

// Every pixel of a loaded DIB handle, top-down.
inline std::vector<Rgb> DibPixels(HGLOBAL dib) {
    std::vector<Rgb> pixels;
    const auto* bytes = static_cast<const uint8_t*>(GlobalLock(dib));
    if (!bytes) return pixels;
    BITMAPINFOHEADER h;
    std::memcpy(&h, bytes, sizeof h);
    for (int y = 0; y < (h.biHeight < 0 ? -h.biHeight : h.biHeight); ++y)
        for (int x = 0; x < h.biWidth; ++x) pixels.push_back(DibPixel(bytes, x, y));
    GlobalUnlock(dib);
    return pixels;
}

inline BITMAPINFOHEADER BlockHeader(HGLOBAL dib) {
    BITMAPINFOHEADER h;
    std::memcpy(&h, GlobalLock(dib), sizeof h);
    GlobalUnlock(dib);
    return h;
}

// Calls of _lread and _lwrite made so far by this process, and the byte count
// of the last of each.
struct FileCalls {
    long reads, writes;
    UINT lastRead, lastWrite;
};
FileCalls CountedFileCalls();
