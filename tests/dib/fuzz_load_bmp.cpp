// libFuzzer target over LoadBmpFile (the real file entry: each input is
// written to a temporary file). Whatever loads must be a DIB that every later
// user can trust: a 40-byte header with a positive width and a height that is
// not 0 (negative for top-down rows), a block exactly as large
// as header, colour table and image, rows that fit it, and a file that saves and
// loads back to the same bytes, and that reduces to a smaller size. Nothing may stay allocated or locked, and no
// block may be larger than the file could fill. Built by tools/fuzz.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

#include <windows.h>
#include <winstub_testing.h>

#include "dib.h"

namespace {

// In memory where there is a tmpfs: every input is written, opened and read.
std::string TempPath(const char* what) {
    const char* dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    return std::string(dir) + "/dunmere-bmp-fuzz-" + std::to_string(getpid()) + what;
}

void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "fuzz_load_bmp: %s\n", what);
        std::abort();
    }
}

std::string Bytes(HGLOBAL dib) {
    const char* bytes = static_cast<const char*>(GlobalLock(dib));
    std::string copy(bytes, GlobalSize(dib));
    GlobalUnlock(dib);
    return copy;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string input = TempPath(".bmp"), saved = TempPath("-saved.bmp");
    FILE* f = std::fopen(input.c_str(), "wb");
    if (f == nullptr) return 0;
    if (size != 0) std::fwrite(data, 1, size, f);
    std::fclose(f);

    const long blocks = WinstubLiveBlocks(), locks = WinstubLiveLocks();
    WinstubResetPeakBytes();
    const unsigned long long before = WinstubLiveBytes();
    HGLOBAL dib = LoadBmpFile(input.c_str());
    // The file fills header, table and rows, except the last row's padding,
    // which it may lack (at most 3 bytes, made zero).
    Check(WinstubPeakBytes() - before <= 40 + 1024 + size + 3,
          "a block larger than the file could fill");
    Check(WinstubLiveLocks() == locks, "a lock left behind");
    if (dib == nullptr) {
        Check(WinstubLiveBlocks() == blocks, "a block left behind on failure");
        return 0;
    }

    BITMAPINFOHEADER h;
    std::memcpy(&h, Bytes(dib).data(), sizeof h);
    Check(h.biSize == 40 && h.biWidth > 0 && h.biHeight != 0 && h.biHeight != INT32_MIN, "header");
    Check(h.biClrUsed <= 256 && ColorCount(&h) == h.biClrUsed, "colour count");
    Check(GlobalSize(dib) == 40u + ColorTableBytes(&h) + h.biSizeImage, "block size");
    const std::string loaded = Bytes(dib);
    DWORD ruleBytes;
    Check(RowImageBytes(h.biWidth, std::abs(h.biHeight), h.biBitCount, &ruleBytes),
          "row and image size");
    if (h.biCompression == BI_RGB) Check(h.biSizeImage >= ruleBytes, "rows do not fit the block");
    // BI_BITFIELDS keeps no masks in a DIB handle: GDI would take them from
    // the first row bytes, so the drawing routines need 12 row bytes at least.
    if (h.biCompression != BI_BITFIELDS || GlobalSize(dib) >= 52)
        Check(DibBitsOffset(loaded.data(), loaded.size()) == 40u + ColorTableBytes(&h),
              "rows do not fit the block");
    BITMAPINFOHEADER query;
    Check(QueryDibHeader(dib, &query) && std::memcmp(&query, &h, sizeof h) == 0,
          "query differs from the block");

    Check(SaveBmpFile(saved.c_str(), dib), "save");
    HGLOBAL again = LoadBmpFile(saved.c_str());
    Check(again != nullptr && Bytes(again) == loaded, "a saved file loads back differently");
    GlobalFree(again);
    // The saver reduces what it loads to the screen: any loaded picture, to a
    // size that splits its pixels.
    const LONG rows = h.biHeight < 0 ? -h.biHeight : h.biHeight;
    if (uint64_t(h.biWidth) * uint64_t(rows) <= (1u << 22)) {
        HGLOBAL reduced = ReduceDib(dib, (h.biWidth + 2) / 3, (rows + 1) / 2);
        const unsigned b = h.biBitCount;
        const bool depth = b == 1 || b == 4 || b == 8 || b == 16 || b == 24 || b == 32;
        Check(reduced != nullptr || h.biCompression != BI_RGB || !depth,
              "an uncompressed picture does not reduce");
        if (reduced) GlobalFree(reduced);
    }
    GlobalFree(dib);
    Check(WinstubLiveBlocks() == blocks && WinstubLiveLocks() == locks,
          "a block or lock left behind");
    return 0;
}
