// jpegdib time [--plain | --sse2] [--seconds S] IN.jpg...: decode speed of DecodeJpegFile
// and of DecodePhotoFile at the scales 1/1, 1/2, 1/4 and 1/8 on each file, in
// megapixels (of the photo at its own size) per CPU second of the decoding thread, so
// that the i686 build can be timed where it runs (under Wine) on the same
// pictures as tools/bench. Each file is decoded again and again until S CPU
// seconds (default 2) have passed; --sse2 caps the built-in decoder's vector
// carriers at SSE2, --plain keeps it to the plain ones.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include <windows.h>
#if !defined(_WIN32)
#include <time.h>
#endif

#include "decoder_context.h"
#include "photo_decoder.h"

namespace {

// CPU seconds of the calling thread so far.
double ThreadSeconds() {
#if defined(_WIN32)
    FILETIME created, exited, kernel, user;
    if (!GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user)) return 0;
    auto ticks = [](const FILETIME& t) {
        return (static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    };
    return static_cast<double>(ticks(kernel) + ticks(user)) / 1e7;
#else
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
#endif
}

const char* LevelName(SimdLevel level) {
    return level == SIMD_AVX2 ? "AVX2" : level == SIMD_SSE2 ? "SSE2" : "plain";
}

typedef DecoderResult (*TimedDecode)(const char* fileName, void* how, HGLOBAL* picture);

struct BuiltInDecode {
    DecoderSwitches switches;
};

DecoderResult DecodeBuiltIn(const char* fileName, void* how, HGLOBAL* picture) {
    return DecodeJpegFileSwitched(fileName, picture, false,
                                  static_cast<BuiltInDecode*>(how)->switches);
}

DecoderResult DecodePhoto(const char* fileName, void* how, HGLOBAL* picture) {
    return DecodePhotoFile(fileName, *static_cast<PhotoRequest*>(how), picture);
}

// Decodes the file again and again for `seconds` CPU seconds and prints the
// rate in megapixels per CPU second: of `*megapixels` when it is not 0, else
// of the picture made (which goes to `*megapixels`). A failure is printed and
// returned.
DecoderResult TimeDecodes(const char* fileName, const char* label, double seconds,
                          TimedDecode decode, void* how, double* megapixels) {
    HGLOBAL picture = nullptr;
    DecoderResult result = decode(fileName, how, &picture);
    if (result != DECODER_OK) {
        std::fprintf(stderr, "jpegdib: %s%s: %d %s\n", label, fileName, result,
                     DescribeDecoderResult(result));
        return result;
    }
    const BITMAPINFOHEADER* header = static_cast<const BITMAPINFOHEADER*>(GlobalLock(picture));
    if (*megapixels == 0)
        *megapixels = static_cast<double>(header->biWidth) * header->biHeight / 1e6;
    GlobalUnlock(picture);
    GlobalFree(picture);
    picture = nullptr;  // the decoder frees what the variable holds
    long decodes = 0;
    double start = ThreadSeconds(), spent = 0;
    while (spent < seconds) {
        decode(fileName, how, &picture);
        GlobalFree(picture);
        picture = nullptr;
        ++decodes;
        spent = ThreadSeconds() - start;
    }
    std::printf("%s%-40s %8.1f MP/s %8.2f ms  (%ld decodes in %.2f CPU s)\n", label, fileName,
                *megapixels * decodes / spent, 1000 * spent / decodes, decodes, spent);
    return DECODER_OK;
}

}  // namespace

int RunTimeCommand(int argc, char** argv) {
    double seconds = 2;
    DecoderSwitches switches = PRODUCT_SWITCHES;
    int i = 0;
    for (; i < argc && argv[i][0] == '-'; ++i) {
        if (std::strcmp(argv[i], "--sse2") == 0) {
            switches.simdLimit = SIMD_SSE2;
        } else if (std::strcmp(argv[i], "--plain") == 0) {
            switches.simdLimit = SIMD_NONE;
        } else if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) {
            seconds = std::atof(argv[++i]);
        } else {
            i = argc;  // unknown option: usage
            break;
        }
    }
    if (i >= argc) {
        std::fprintf(stderr, "usage: jpegdib time [--plain | --sse2] [--seconds S] IN.jpg...\n");
        return 2;
    }
    SimdLevel offered = DetectSimdLevel();
    std::printf("carriers: %s\n",
                LevelName(offered < switches.simdLimit ? offered : switches.simdLimit));
    for (; i < argc; ++i) {
        // The built-in decode (which refuses progressive files), then the
        // photo decode at each scale, rated by the photo's own size; each
        // first runs once, which also warms the file cache.
        BuiltInDecode builtIn = {switches};
        double megapixels = 0;
        DecoderResult result =
            TimeDecodes(argv[i], "", seconds, DecodeBuiltIn, &builtIn, &megapixels);
        if (result != DECODER_OK && result != DECODER_NOT_BASELINE) return result;
        megapixels = 0;
        for (int scale : {1, 2, 4, 8}) {
            PhotoRequest request = {};
            request.scale = scale;
            char label[32];
            std::snprintf(label, sizeof label, "photo 1/%d ", scale);
            result = TimeDecodes(argv[i], label, seconds, DecodePhoto, &request, &megapixels);
            if (result != DECODER_OK) return result;
        }
    }
    return 0;
}
