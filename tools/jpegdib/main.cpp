// jpegdib: the decoder from the command line.
//   jpegdib decode [--cooperative] [--max-pixels N] IN.jpg OUT.bmp
// decodes IN.jpg with DecodeJpegFile (or DecodeJpegFileCooperative) and writes
// OUT.bmp: the 14-byte file header ("BM", bfOffBits 54) followed by the DIB
// block exactly as the decoder made it (header, pixel rows and the spare rows
// behind them), as SaveBmpFile writes it. The exit status is the DecoderResult
// (0 on success); on failure no file is written and the code and its meaning
// go to stderr. A frame of more than N pixels (default 100,000,000; 0 = no
// limit) is refused with 105 before its bitmap is allocated: a header of a few
// bytes can otherwise ask for gigabytes.
//   jpegdib info [--max-pixels N] IN.jpg
// prints the information scan of IN.jpg as one JSON object (info.cpp).
//   jpegdib bmpinfo FILE.bmp
// prints the header and colour table of a bitmap file as LoadBmpFile loads it
// (bmpinfo.cpp).
//   jpegdib photo [--scale 1|2|4|8 | --fit WxH] IN.jpg OUT.bmp
// decodes a photograph with DecodePhotoFile (photo.cpp).
//   jpegdib time [--plain | --sse2] [--seconds S] IN.jpg...
// prints the decode speed of each file in MP per CPU second (timing.cpp).
// Subcommands are looked up in a table.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <windows.h>

#include "decoder_context.h"
#include "dib.h"
#include "jpeg_decoder.h"
#include "jpegdib.h"

namespace {

const int EXIT_USAGE = 2;

int Usage() {
    std::fprintf(stderr,
                 "usage: jpegdib decode [--cooperative] [--max-pixels N] IN.jpg OUT.bmp\n"
                 "  Decodes IN.jpg into a 24-bit bitmap file. Exit status: the decoder's\n"
                 "  result (0 = picture written; 101-106 = failure, no file written).\n"
                 "  --cooperative decodes through the entry that services the message queue.\n"
                 "  --max-pixels refuses (105) a frame of more than N pixels before its\n"
                 "  bitmap is made; default 100000000, 0 = no limit.\n"
                 "usage: jpegdib info [--max-pixels N] IN.jpg\n"
                 "  Prints the information scan of IN.jpg as one JSON object. Exit status:\n"
                 "  the scan's result, or 105 for a frame above the limit.\n"
                 "usage: jpegdib bmpinfo FILE.bmp\n"
                 "  Prints the header and colour table of FILE.bmp as loaded, as one JSON\n"
                 "  object. Exit status: 0, or 1 when the file cannot be loaded.\n"
                 "usage: jpegdib photo [--scale 1|2|4|8 | --fit WxH] IN.jpg OUT.bmp\n"
                 "  Decodes a photograph upright: at 1/N of its size in the DCT domain, fitted\n"
                 "  into a W x H box, or at its own size. Exit status as for decode (107: the\n"
                 "  decode was abandoned).\n"
                 "usage: jpegdib time [--plain | --sse2] [--seconds S] IN.jpg...\n"
                 "  Decodes each file for S CPU seconds (default 2) and prints megapixels per\n"
                 "  CPU second of the decoding thread, then the photo decode at each scale;\n"
                 "  --sse2 caps the vector carriers at SSE2.\n");
    return EXIT_USAGE;
}

}  // namespace

// SaveBmpFile writes the same file, but through OpenFile, which takes names of
// fewer than OFS_MAXPATHNAME characters only.
bool WriteBitmapFile(const char* path, HGLOBAL dib) {
    if (std::strlen(path) < OFS_MAXPATHNAME) return SaveBmpFile(path, dib);
    SIZE_T size = GlobalSize(dib);
    const BYTE* block = static_cast<const BYTE*>(GlobalLock(dib));
    if (block == nullptr) return false;
    BITMAPFILEHEADER fileHeader;
    fileHeader.bfType = 0x4D42;  // "BM"
    fileHeader.bfSize = static_cast<DWORD>(size + sizeof fileHeader);
    fileHeader.bfReserved1 = 0;
    fileHeader.bfReserved2 = 0;
    fileHeader.bfOffBits = sizeof fileHeader + sizeof(BITMAPINFOHEADER);
    bool ok = false;
    HANDLE file =
        CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        DWORD written = 0, written2 = 0;
        ok = WriteFile(file, &fileHeader, sizeof fileHeader, &written, nullptr) &&
             written == sizeof fileHeader &&
             WriteFile(file, block, static_cast<DWORD>(size), &written2, nullptr) &&
             written2 == size;
        ok = CloseHandle(file) && ok;
        if (!ok) DeleteFileA(path);
    }
    GlobalUnlock(dib);
    return ok;
}

namespace {

// The frame limit of this run, and the decoder's own driver behind it: the
// decoder calls the driver at the start of the scan, with the frame parsed and
// nothing of the picture allocated yet.
std::uint64_t g_maxPixels = DEFAULT_MAX_PIXELS;
ScanDriver g_scanDriver = DecodeScanToDib;

DecoderResult LimitedScanDriver(DecoderContext* context, HGLOBAL* dib) {
    if (FrameAboveLimit(context->width, context->height, g_maxPixels)) return DECODER_BAD_STREAM;
    return g_scanDriver(context, dib);
}

int Decode(int argc, char** argv) {
    bool cooperative = false;
    for (;;) {
        if (argc > 0 && std::strcmp(argv[0], "--cooperative") == 0) {
            cooperative = true;
            --argc;
            ++argv;
        } else if (argc > 0 && std::strcmp(argv[0], "--max-pixels") == 0) {
            if (!TakeMaxPixels(&argc, &argv, &g_maxPixels)) return Usage();
        } else {
            break;
        }
    }
    if (argc != 2) return Usage();
    g_scanDriver = cooperative ? DecodeScanToDibCooperative : DecodeScanToDib;
    HGLOBAL picture = nullptr;
    DecoderResult result =
        DecodeJpegFileWith(argv[0], &picture, LimitedScanDriver, PRODUCT_SWITCHES);
    if (result != DECODER_OK) {
        std::fprintf(stderr, "jpegdib: %s: %d %s\n", argv[0], result,
                     DescribeDecoderResult(result));
        return result;
    }
    bool written = WriteBitmapFile(argv[1], picture);
    GlobalFree(picture);
    if (!written) {
        std::fprintf(stderr, "jpegdib: %s: cannot write the bitmap file\n", argv[1]);
        return 1;
    }
    return 0;
}

struct Command {
    const char* name;
    int (*run)(int argc, char** argv);  // arguments after the subcommand
};

const Command COMMANDS[] = {
    {"decode", Decode},         {"info", RunInfoCommand}, {"bmpinfo", RunBmpInfoCommand},
    {"photo", RunPhotoCommand}, {"time", RunTimeCommand},
};

}  // namespace

bool FrameAboveLimit(unsigned width, unsigned height, std::uint64_t maxPixels) {
    const std::uint64_t pixels = std::uint64_t(width) * height;
    if (maxPixels == 0 || pixels <= maxPixels) return false;
    std::fprintf(stderr,
                 "jpegdib: the frame of %u x %u pixels is above the limit of %llu (--max-pixels)\n",
                 width, height, static_cast<unsigned long long>(maxPixels));
    return true;
}

bool TakeMaxPixels(int* argc, char*** argv, std::uint64_t* maxPixels) {
    if (*argc < 2 || std::strcmp((*argv)[0], "--max-pixels") != 0) return false;
    const char* text = (*argv)[1];
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text, &end, 10);
    if (text[0] < '0' || text[0] > '9' || *end != '\0') return false;
    *maxPixels = value;
    *argc -= 2;
    *argv += 2;
    return true;
}

int main(int argc, char** argv) {
    if (argc < 2) return Usage();
    for (const Command& command : COMMANDS)
        if (std::strcmp(argv[1], command.name) == 0) return command.run(argc - 2, argv + 2);
    return Usage();
}
