// Helpers shared by the decoder's tests: paths that work natively and under
// Wine, file reading and writing, decoding to bytes, checksums.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "decoder_context.h"
#include "test_files.h"

// A path below the test data folder, the regressions folder or the work folder;
// on Windows builds "/x/y" becomes "Z:\x\y" (Wine maps Z: to /).
std::string DataPath(const std::string& name);
std::string RegressionsDir();
std::string WorkPath(const std::string& name);
std::string HostPath(const std::string& posixPath);
std::vector<std::string> ListFiles(const std::string& dir, const std::string& suffix);

struct Decoded {
    DecoderResult result = -1;
    Bytes dib;  // the whole DIB block (header, rows, spare rows) when result is 0
};
// DecodeJpegFile on a file; `literal` selects the literal paths only.
// `limit` caps the vector carriers the decode may choose.
Decoded DecodeFile(const std::string& path, bool literal = false, SimdLevel limit = SIMD_AVX2);
// Writes `bytes` to a work file named `name` and decodes it.
Decoded DecodeBytes(const Bytes& bytes, const std::string& name, bool literal = false);

std::uint64_t Fnv1a64(const Bytes& bytes);

// The pixel (blue, green, red) at column x, row y (0 = top) of a decoded DIB.
const std::uint8_t* PixelAt(const Decoded& d, int x, int y);
int DibWidth(const Decoded& d);
int DibHeight(const Decoded& d);

// Offset of the first marker FF xx with the given code, or -1.
long FindMarker(const Bytes& bytes, std::uint8_t code, long from = 0);
