// jpegdib bmpinfo FILE.bmp: loads FILE.bmp with LoadBmpFile and prints the
// loaded block's header as one JSON object with the header's own field names,
// plus "colors", its colour table as [red, green, blue] entries. Exit status 0,
// or 1 with a message on stderr when the file cannot be loaded.
#include <cstdio>
#include <cstring>

#include <windows.h>
#ifndef _WIN32
#include <fcntl.h>
#endif

#include "dib.h"
#include "jpegdib.h"

namespace {

// LoadBmpFile opens names through OpenFile, which takes fewer than
// OFS_MAXPATHNAME characters; longer ones are opened here and read by the
// same routine. An HFILE is the file's handle on Windows and a descriptor
// under the native stand-in.
HGLOBAL LoadAnyPath(const char* path) {
    if (std::strlen(path) < OFS_MAXPATHNAME) return LoadBmpFile(path);
#ifdef _WIN32
    HANDLE handle = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    const HFILE file = handle == INVALID_HANDLE_VALUE
                           ? HFILE_ERROR
                           : static_cast<HFILE>(reinterpret_cast<INT_PTR>(handle));
#else
    const HFILE file = open(path, O_RDONLY | O_CLOEXEC);
#endif
    if (file == HFILE_ERROR) return nullptr;
    HGLOBAL dib = ReadBmpFile(file);
    _lclose(file);
    return dib;
}

}  // namespace

int RunBmpInfoCommand(int argc, char** argv) {
    if (argc != 1) {
        std::fprintf(stderr, "usage: jpegdib bmpinfo FILE.bmp\n");
        return 2;
    }
    HGLOBAL dib = LoadAnyPath(argv[0]);
    const BYTE* block = dib != nullptr ? static_cast<const BYTE*>(GlobalLock(dib)) : nullptr;
    if (block == nullptr) {
        std::fprintf(stderr, "jpegdib: %s: cannot load the bitmap file\n", argv[0]);
        if (dib != nullptr) GlobalFree(dib);
        return 1;
    }
    const BITMAPINFOHEADER* h = reinterpret_cast<const BITMAPINFOHEADER*>(block);
    std::printf(
        "{\"biSize\": %lu, \"biWidth\": %ld, \"biHeight\": %ld, \"biPlanes\": %u, \"biBitCount\": "
        "%u, "
        "\"biCompression\": %lu, \"biSizeImage\": %lu, \"biClrUsed\": %lu, \"biClrImportant\": "
        "%lu, "
        "\"colors\": [",
        static_cast<unsigned long>(h->biSize), static_cast<long>(h->biWidth),
        static_cast<long>(h->biHeight), h->biPlanes, h->biBitCount,
        static_cast<unsigned long>(h->biCompression), static_cast<unsigned long>(h->biSizeImage),
        static_cast<unsigned long>(h->biClrUsed), static_cast<unsigned long>(h->biClrImportant));
    const RGBQUAD* table = reinterpret_cast<const RGBQUAD*>(block + h->biSize);
    for (unsigned i = 0, n = ColorCount(h); i < n; ++i)
        std::printf("%s[%u, %u, %u]", i ? ", " : "", table[i].rgbRed, table[i].rgbGreen,
                    table[i].rgbBlue);
    std::printf("]}\n");
    GlobalUnlock(dib);
    GlobalFree(dib);
    return 0;
}
