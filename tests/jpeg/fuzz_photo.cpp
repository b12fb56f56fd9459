// libFuzzer target over DecodePhotoFile (the real file entry: each input is
// written to a temporary file), at every scale, fitted into boxes with and
// without enlarging, at its own size, and abandoned through the yield. Every
// result must be a DecoderResult; a picture's block must hold exactly its
// rows; a decode at 1/N must be ceil(w / N) x ceil(h / N) of the picture at
// its own size, and a fitted one must fit its box; an abandoned decode gives
// 107 and nothing; nothing may be left allocated or locked. Built by tools/fuzz.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <windows.h>
#include <winstub_testing.h>

#include "fuzz_input.h"
#include "photo_decoder.h"

namespace {

const std::string& InputPath() { return FuzzInputPath("photo-fuzz"); }

struct Outcome {
    DecoderResult result;
    long width, height;
};

void Fail(const char* what, DecoderResult result) {
    std::fprintf(stderr, "photo fuzz: %s (result %d)\n", what, result);
    std::abort();
}

Outcome Decode(const PhotoRequest& request) {
    HGLOBAL picture = nullptr;
    Outcome o = {DecodePhotoFile(InputPath().c_str(), request, &picture), 0, 0};
    if (o.result != 0) {
        if (picture != nullptr) Fail("a picture left after a failure", o.result);
        if ((o.result < 101 || o.result > 107)) Fail("not a DecoderResult", o.result);
        return o;
    }
    if (picture == nullptr) Fail("no picture for 0", 0);
    const BITMAPINFOHEADER* h = static_cast<const BITMAPINFOHEADER*>(GlobalLock(picture));
    o.width = h->biWidth;
    o.height = h->biHeight;
    SIZE_T stride = (static_cast<SIZE_T>(o.width) * 3 + 3) & ~static_cast<SIZE_T>(3);
    if (o.width < 1 || o.height < 1 || h->biBitCount != 24 ||
        GlobalSize(picture) != 40 + stride * static_cast<SIZE_T>(o.height))
        Fail("a block that does not hold its rows", 0);
    GlobalUnlock(picture);
    GlobalFree(picture);
    return o;
}

bool StopAtThird(void* calls) { return ++*static_cast<int*>(calls) < 3; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (!WriteFuzzInput(InputPath(), data, size)) return 0;
    long blocks = WinstubLiveBlocks();

    PhotoRequest request = {};
    Outcome own = Decode(request);
    for (int scale : {1, 2, 4, 8}) {
        request.scale = scale;
        Outcome scaled = Decode(request);
        if (own.result == 0 && scaled.result == 0 &&
            (scaled.width != (own.width + scale - 1) / scale ||
             scaled.height != (own.height + scale - 1) / scale))
            Fail("a scaled size that is not ceil(w / N) x ceil(h / N)", 0);
    }
    const PhotoRequest boxes[] = {{64, 48, true, 0, nullptr, nullptr},
                                  {100, 10, false, 0, nullptr, nullptr},
                                  {300, 700, true, 0, nullptr, nullptr}};
    for (const PhotoRequest& box : boxes) {
        Outcome fitted = Decode(box);
        if (fitted.result == 0 &&
            (fitted.width > box.boxWidth || fitted.height > box.boxHeight ||
             (box.fitToBox && fitted.width != box.boxWidth && fitted.height != box.boxHeight)))
            Fail("a fitted picture that does not fit its box", 0);
    }
    int calls = 0;
    request = {};
    request.yield = StopAtThird;
    request.yieldArgument = &calls;
    Outcome abandoned = Decode(request);
    if (calls >= 3 && abandoned.result != DECODER_ABANDONED)
        Fail("the yield said no", abandoned.result);
    if (WinstubLiveBlocks() != blocks || WinstubLiveLocks() != 0) Fail("a leak", 0);
    return 0;
}
