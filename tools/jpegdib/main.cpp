// jpegdib: the decoder from the command line.
//   jpegdib decode [--cooperative] IN.jpg OUT.bmp
// decodes IN.jpg with DecodeJpegFile (or DecodeJpegFileCooperative) and writes
// OUT.bmp: the 14-byte file header ("BM", bfOffBits 54) followed by the DIB
// block exactly as the decoder made it (header, pixel rows and the spare rows
// behind them), as SaveBmpFile writes it. The exit status is the DecoderResult
// (0 on success); on failure no file is written and the code and its meaning
// go to stderr.
//   jpegdib info IN.jpg
// prints the information scan of IN.jpg as one JSON object (info.cpp).
//   jpegdib bmpinfo FILE.bmp
// prints the header and colour table of a bitmap file as LoadBmpFile loads it
// (bmpinfo.cpp).
//   jpegdib time [--sse2] [--seconds S] IN.jpg...
// prints the decode speed of each file in MP per CPU second (timing.cpp).
// Subcommands are looked up in a table.
#include <cstdio>
#include <cstring>

#include <windows.h>

#include "dib.h"
#include "jpeg_decoder.h"

int RunInfoCommand(int argc, char **argv);     // info.cpp
int RunBmpInfoCommand(int argc, char **argv);  // bmpinfo.cpp
int RunTimeCommand(int argc, char **argv);     // timing.cpp

namespace {

const int EXIT_USAGE = 2;

int Usage() {
  std::fprintf(stderr,
               "usage: jpegdib decode [--cooperative] IN.jpg OUT.bmp\n"
               "  Decodes IN.jpg into a 24-bit bitmap file. Exit status: the decoder's\n"
               "  result (0 = picture written; 101-106 = failure, no file written).\n"
               "  --cooperative decodes through the entry that services the message queue.\n"
               "usage: jpegdib info IN.jpg\n"
               "  Prints the information scan of IN.jpg as one JSON object. Exit status:\n"
               "  the scan's result.\n"
               "usage: jpegdib bmpinfo FILE.bmp\n"
               "  Prints the header and colour table of FILE.bmp as loaded, as one JSON\n"
               "  object. Exit status: 0, or 1 when the file cannot be loaded.\n"
               "usage: jpegdib time [--sse2] [--seconds S] IN.jpg...\n"
               "  Decodes each file for S CPU seconds (default 2) and prints megapixels per\n"
               "  CPU second of the decoding thread; --sse2 caps the vector carriers at SSE2.\n");
  return EXIT_USAGE;
}

// Writes the bitmap file; false when it could not be written completely (the
// partial file is then removed). SaveBmpFile writes the same file, but through
// OpenFile, which takes names of fewer than OFS_MAXPATHNAME characters only.
bool WriteBitmapFile(const char *path, HGLOBAL dib) {
  if (std::strlen(path) < OFS_MAXPATHNAME) return SaveBmpFile(path, dib);
  SIZE_T size = GlobalSize(dib);
  const BYTE *block = static_cast<const BYTE *>(GlobalLock(dib));
  if (block == nullptr) return false;
  BITMAPFILEHEADER fileHeader;
  fileHeader.bfType = 0x4D42;  // "BM"
  fileHeader.bfSize = static_cast<DWORD>(size + sizeof fileHeader);
  fileHeader.bfReserved1 = 0;
  fileHeader.bfReserved2 = 0;
  fileHeader.bfOffBits = sizeof fileHeader + sizeof(BITMAPINFOHEADER);
  bool ok = false;
  HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    DWORD written = 0, written2 = 0;
    ok = WriteFile(file, &fileHeader, sizeof fileHeader, &written, nullptr) && written == sizeof fileHeader &&
         WriteFile(file, block, static_cast<DWORD>(size), &written2, nullptr) && written2 == size;
    ok = CloseHandle(file) && ok;
    if (!ok) DeleteFileA(path);
  }
  GlobalUnlock(dib);
  return ok;
}

int Decode(int argc, char **argv) {
  bool cooperative = argc > 0 && std::strcmp(argv[0], "--cooperative") == 0;
  if (cooperative) {
    --argc;
    ++argv;
  }
  if (argc != 2) return Usage();
  HGLOBAL picture = nullptr;
  DecoderResult result = cooperative ? DecodeJpegFileCooperative(argv[0], &picture) : DecodeJpegFile(argv[0], &picture);
  if (result != DECODER_OK) {
    std::fprintf(stderr, "jpegdib: %s: %d %s\n", argv[0], result, DescribeDecoderResult(result));
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
  const char *name;
  int (*run)(int argc, char **argv);  // arguments after the subcommand
};

const Command kCommands[] = {
    {"decode", Decode},
    {"info", RunInfoCommand},
    {"bmpinfo", RunBmpInfoCommand},
    {"time", RunTimeCommand},
};

}  // namespace

int main(int argc, char **argv) {
  if (argc < 2) return Usage();
  for (const Command &command : kCommands)
    if (std::strcmp(argv[1], command.name) == 0) return command.run(argc - 2, argv + 2);
  return Usage();
}
