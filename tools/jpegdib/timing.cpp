// jpegdib time [--plain | --sse2] [--seconds S] IN.jpg...: decode speed of DecodeJpegFile
// on each file, in megapixels per CPU second of the decoding thread, so that
// the i686 build can be timed where it runs (under Wine) on the same pictures
// as tools/bench. Each file is decoded again and again until S CPU seconds
// (default 2) have passed; --sse2 caps the decoder's vector carriers at SSE2,
// --plain keeps it to the plain ones.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <windows.h>
#if !defined(_WIN32)
#include <time.h>
#endif

#include "decoder_context.h"

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
        HGLOBAL picture = nullptr;
        DecoderResult result = DecodeJpegFileSwitched(argv[i], &picture, false,
                                                      switches);  // also warms the file cache
        if (result != DECODER_OK) {
            std::fprintf(stderr, "jpegdib: %s: %d %s\n", argv[i], result,
                         DescribeDecoderResult(result));
            return result;
        }
        const BITMAPINFOHEADER* header = static_cast<const BITMAPINFOHEADER*>(GlobalLock(picture));
        double megapixels = static_cast<double>(header->biWidth) * header->biHeight / 1e6;
        GlobalUnlock(picture);
        GlobalFree(picture);
        picture = nullptr;  // the decoder frees what the variable holds
        long decodes = 0;
        double start = ThreadSeconds(), spent = 0;
        while (spent < seconds) {
            DecodeJpegFileSwitched(argv[i], &picture, false, switches);
            GlobalFree(picture);
            picture = nullptr;
            ++decodes;
            spent = ThreadSeconds() - start;
        }
        std::printf("%-40s %8.1f MP/s  (%ld decodes in %.2f CPU s)\n", argv[i],
                    megapixels * decodes / spent, decodes, spent);
    }
    return 0;
}
