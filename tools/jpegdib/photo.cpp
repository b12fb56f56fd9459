// jpegdib photo [--scale 1|2|4|8 | --fit WxH] IN.jpg OUT.bmp: DecodePhotoFile
// on IN.jpg, written as a bitmap file. --scale N: the decode scaled by 1/N in
// the DCT domain, ceil(w / N) x ceil(h / N) upright (so w and h swap for the
// EXIF orientations 5 to 8); --fit WxH: fitted into a W x H box as the saver
// shows it (small pictures enlarged too); neither: its own size, upright. The
// exit status is the DecoderResult; on failure no file is written.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <windows.h>

#include "jpegdib.h"
#include "photo_decoder.h"

namespace {

int PhotoUsage() {
    std::fprintf(stderr, "usage: jpegdib photo [--scale 1|2|4|8 | --fit WxH] IN.jpg OUT.bmp\n");
    return 2;
}

// "WxH" with two positive decimal numbers.
bool ParseBox(const char* text, std::int32_t* width, std::int32_t* height) {
    char* end = nullptr;
    long w = std::strtol(text, &end, 10);
    if (end == text || *end != 'x') return false;
    const char* rest = end + 1;
    long h = std::strtol(rest, &end, 10);
    if (end == rest || *end != '\0' || w <= 0 || h <= 0 || w > 1000000 || h > 1000000) return false;
    *width = static_cast<std::int32_t>(w);
    *height = static_cast<std::int32_t>(h);
    return true;
}

}  // namespace

int RunPhotoCommand(int argc, char** argv) {
    PhotoRequest request = {};
    if (argc == 4 && std::strcmp(argv[0], "--scale") == 0) {
        int scale = std::atoi(argv[1]);
        if ((scale != 1 && scale != 2 && scale != 4 && scale != 8) || std::strlen(argv[1]) != 1)
            return PhotoUsage();
        request.scale = scale;
    } else if (argc == 4 && std::strcmp(argv[0], "--fit") == 0) {
        if (!ParseBox(argv[1], &request.boxWidth, &request.boxHeight)) return PhotoUsage();
        request.fitToBox = true;
    } else if (argc != 2) {
        return PhotoUsage();
    }
    const char* in = argv[argc - 2];
    const char* out = argv[argc - 1];
    HGLOBAL picture = nullptr;
    DecoderResult result = DecodePhotoFile(in, request, &picture);
    if (result != DECODER_OK) {
        std::fprintf(stderr, "jpegdib: %s: %d %s\n", in, result, DescribeDecoderResult(result));
        return result;
    }
    bool written = WriteBitmapFile(out, picture);
    GlobalFree(picture);
    if (!written) {
        std::fprintf(stderr, "jpegdib: %s: cannot write the bitmap file\n", out);
        return 1;
    }
    return 0;
}
