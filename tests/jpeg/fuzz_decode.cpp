// libFuzzer target over DecodeJpegFile (the real file entry: each input is
// written to a temporary file). Every input is decoded twice, once as the
// decoder normally runs and once with the literal bit reader and inverse
// DCT only; the two must agree in result and in every byte of the DIB. Also
// checks that nothing is left allocated and that the picture variable is empty
// on failure. The cooperative entry must give the same result, header and
// pixels (its block holds up to 7 rows more), and the information scan must
// read the file without leaving the buffer, leak nothing, and agree with the
// decode: a file that decodes scans as 0 (or 105 after a second SOI) with the
// picture's size. Built by tools/fuzz.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <windows.h>
#include <winstub_testing.h>

#include "decoder_context.h"
#include "fuzz_input.h"
#include "jpeg_info.h"

namespace {

const std::string& InputPath() { return FuzzInputPath("jpeg-fuzz"); }

struct Outcome {
    DecoderResult result;
    std::string dib;
};

Outcome Decode(bool literal, bool cooperative = false, SimdLevel limit = SIMD_AVX2) {
    HGLOBAL picture = nullptr;
    Outcome o;
    o.result = DecodeJpegFileSwitched(InputPath().c_str(), &picture, cooperative,
                                      DecoderSwitches{literal, limit});
    if (o.result != 0) {
        if (picture != nullptr) std::abort();  // the variable must be empty on failure
        return o;
    }
    if (picture == nullptr) std::abort();
    const char* bytes = static_cast<const char*>(GlobalLock(picture));
    o.dib.assign(bytes, GlobalSize(picture));
    GlobalUnlock(picture);
    GlobalFree(picture);
    return o;
}

// The header and picture rows of a DIB block.
std::string HeaderAndRows(const std::string& dib) {
    BITMAPINFOHEADER h;
    std::memcpy(&h, dib.data(), sizeof h);
    std::size_t stride =
        (static_cast<std::size_t>(h.biWidth) * 3 + 3) & ~static_cast<std::size_t>(3);
    return dib.substr(0, 40 + stride * static_cast<std::size_t>(h.biHeight));
}

void CheckInformationScan(const Outcome& decoded) {
    HGLOBAL record = nullptr;
    if (CreateJpegInfo(&record) != 0) std::abort();
    DecoderResult result = ScanJpegInfo(InputPath().c_str(), &record);
    JpegInfo info = *static_cast<JpegInfo*>(GlobalLock(record));
    GlobalUnlock(record);
    if (info.commentHandle != nullptr) {
        // The copy holds the text and at least five zero bytes.
        const std::uint8_t* text = static_cast<const std::uint8_t*>(GlobalLock(info.commentHandle));
        if (GlobalSize(info.commentHandle) < info.commentLength + 5u) std::abort();
        for (std::uint32_t i = info.commentLength; i < info.commentLength + 5u; ++i)
            if (text[i] != 0) std::abort();
        GlobalUnlock(info.commentHandle);
    }
    DestroyJpegInfo(&record);
    if (result != 0 && (result < 101 || result > 106)) std::abort();
    if (decoded.result == 0) {
        if (result != 0 && result != DECODER_BAD_STREAM) {
            std::fprintf(stderr, "the file decodes but scans as %d\n", result);
            std::abort();
        }
        BITMAPINFOHEADER h;
        std::memcpy(&h, decoded.dib.data(), sizeof h);
        if (result == 0 && (info.width != h.biWidth || info.height != h.biHeight)) {
            std::fprintf(stderr, "scanned %ux%u, decoded %dx%d\n", info.width, info.height,
                         int(h.biWidth), int(h.biHeight));
            std::abort();
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (!WriteFuzzInput(InputPath(), data, size)) return 0;
    long blocks = WinstubLiveBlocks();
    Outcome fast = Decode(false);
    Outcome literal = Decode(true);
    Outcome sse2 = Decode(false, false, SIMD_SSE2), plain = Decode(false, false, SIMD_NONE);
    Outcome cooperative = Decode(false, true);
    CheckInformationScan(fast);
    if (WinstubLiveBlocks() != blocks || WinstubLiveLocks() != 0) std::abort();  // leak
    if (fast.result != literal.result || fast.dib != literal.dib || sse2.dib != literal.dib ||
        plain.dib != literal.dib) {
        std::fprintf(stderr, "fast and literal paths differ: %d vs %d\n", fast.result,
                     literal.result);
        std::abort();
    }
    // The larger block may exceed the allocation limit where the ordinary one did not.
    bool largerBlockRefused = fast.result == 0 && cooperative.result == DECODER_ALLOC_FAILED;
    if (!largerBlockRefused &&
        (cooperative.result != fast.result ||
         (fast.result == 0 && HeaderAndRows(cooperative.dib) != HeaderAndRows(fast.dib)))) {
        std::fprintf(stderr, "cooperative and ordinary decodes differ: %d vs %d\n",
                     cooperative.result, fast.result);
        std::abort();
    }
    return 0;
}
