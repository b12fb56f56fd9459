// jpegdib info IN.jpg: the information scan of IN.jpg as one JSON object on
// stdout; the exit status is the scan's DecoderResult. The fields are printed
// also when the scan fails, as far as it filled them. A frame of any size is
// reported: the scan allocates nothing for it, so the decode's frame limit has
// no place here.
#include <cstdio>

#include <windows.h>

#include "jpeg_info.h"
#include "jpegdib.h"

namespace {

// The comment as a JSON string: printable ASCII as it is (quote and backslash
// escaped), every other byte as \u00XX.
void PrintComment(const JpegInfo* info) {
    const unsigned char* text =
        info->commentHandle != nullptr
            ? static_cast<const unsigned char*>(GlobalLock(info->commentHandle))
            : nullptr;
    if (text == nullptr) {
        // No copy of the text: either no comment, or its block could not be had.
        std::printf(info->commentLength == 0 ? "\"\"" : "null");
        return;
    }
    std::putchar('"');
    for (std::uint32_t i = 0; i < info->commentLength; ++i) {
        unsigned char b = text[i];
        if (b == '"' || b == '\\')
            std::printf("\\%c", b);
        else if (b >= 0x20 && b < 0x7F)
            std::putchar(b);
        else
            std::printf("\\u%04X", b);
    }
    std::putchar('"');
    GlobalUnlock(info->commentHandle);
}

}  // namespace

int RunInfoCommand(int argc, char** argv) {
    if (argc != 1) {
        std::fprintf(stderr, "usage: jpegdib info IN.jpg\n");
        return 2;
    }
    HGLOBAL handle = nullptr;
    DecoderResult result = CreateJpegInfo(&handle);
    if (result != DECODER_OK) {
        std::fprintf(stderr, "jpegdib: cannot make the information record: %d\n", result);
        std::printf("{\"result\": %d}\n", result);
        return result;
    }
    result = ScanJpegInfo(argv[0], &handle);
    const JpegInfo* info = static_cast<const JpegInfo*>(GlobalLock(handle));
    if (info == nullptr) {
        std::printf("{\"result\": %d}\n", result);
    } else {
        std::printf(
            "{\"result\": %d, \"width\": %u, \"height\": %u, \"isGreyscale\": %u, "
            "\"averageQuant\": %u, "
            "\"samplingMode\": %u, \"restartInterval\": %u, \"commentLength\": %lu, \"comment\": ",
            result, info->width, info->height, info->isGreyscale, info->averageQuant,
            info->samplingMode, info->restartInterval,
            static_cast<unsigned long>(info->commentLength));
        PrintComment(info);
        std::printf("}\n");
        GlobalUnlock(handle);
    }
    if (result != DECODER_OK)
        std::fprintf(stderr, "jpegdib: %s: %d %s\n", argv[0], result,
                     DescribeDecoderResult(result));
    DestroyJpegInfo(&handle);
    return result;
}
