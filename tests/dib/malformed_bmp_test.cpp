// Bitmap files that lie about themselves: each must give null without reading
// or writing out of bounds (the native build runs under AddressSanitizer) and
// without taking more memory than the file could fill. The nearby well-formed
// variants must still load.
#include "bmp_test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>

#ifndef _WIN32
#include <winstub_testing.h>
#endif

namespace {

// Offsets into a file with the 14-byte file header and a 40-byte header.
enum : size_t {
    BF_SIZE = 2,
    BF_OFF_BITS = 10,
    BI_SIZE = 14,
    BI_WIDTH = 18,
    BI_HEIGHT = 22,
    BI_BIT_COUNT = 28,
    BI_COMPRESSION = 30,
    BI_SIZE_IMAGE = 34,
    BI_CLR_USED = 46,
    TABLE = 54
};

// A sound 4 × 3 picture with `entries` colours in its table (biClrUsed says
// so): 14 + 40 + 4 × entries bytes, then the rows.
Bytes PictureFile(WORD bits = 8, uint32_t entries = 4) {
    const uint32_t rowBytes = (4 * bits + 31) / 32 * 4, offBits = TABLE + 4 * entries;
    Bytes b(offBits + 3 * rowBytes);
    PutLe16(b, 0, 0x4D42);
    PutLe32(b, BF_SIZE, uint32_t(b.size()));
    PutLe32(b, BF_OFF_BITS, offBits);
    PutLe32(b, BI_SIZE, 40);
    PutLe32(b, BI_WIDTH, 4);
    PutLe32(b, BI_HEIGHT, 3);
    PutLe16(b, 26, 1);
    PutLe16(b, BI_BIT_COUNT, bits);
    PutLe32(b, BI_CLR_USED, entries);
    for (uint32_t i = 0; i < entries; ++i) b[TABLE + 4 * i + 2] = uint8_t(60 * i);  // red ramp
    for (uint32_t i = 0; i < 3 * rowBytes; ++i) b[offBits + i] = uint8_t(i % 4);
    return b;
}

Bytes EightBitFile() { return PictureFile(); }

// A sound 1 × 1 picture at 1 bit with the core header: 36 bytes in all.
Bytes TinyCoreFile() {
    Bytes b(14 + 12 + 6 + 4);
    PutLe16(b, 0, 0x4D42);
    PutLe32(b, BF_SIZE, uint32_t(b.size()));
    PutLe32(b, BF_OFF_BITS, 14 + 12 + 6);
    PutLe32(b, BI_SIZE, 12);
    PutLe16(b, 18, 1);                         // bcWidth
    PutLe16(b, 20, 1);                         // bcHeight
    PutLe16(b, 22, 1);                         // bcPlanes
    PutLe16(b, 24, 1);                         // bcBitCount
    b[26 + 3] = b[26 + 4] = b[26 + 5] = 0xFF;  // second triple white
    b[32] = 0x80;                              // the one pixel: entry 1
    return b;
}

HGLOBAL LoadBytes(const Bytes& file) {
    WriteFileBytes("case.bmp", file);
    return LoadBmpFile("case.bmp");
}

struct Case {
    const char* what;
    std::function<void(Bytes&)> change;
};

const std::vector<Case>& RefusedCases() {
    static const std::vector<Case> cases = {
        {"top-down run-length data",
         [](Bytes& b) {
             PutLe32(b, BI_HEIGHT, uint32_t(-3));
             PutLe32(b, BI_COMPRESSION, BI_RLE8);
         }},
        {"zero height", [](Bytes& b) { PutLe32(b, BI_HEIGHT, 0); }},
        {"zero width", [](Bytes& b) { PutLe32(b, BI_WIDTH, 0); }},
        {"negative width", [](Bytes& b) { PutLe32(b, BI_WIDTH, uint32_t(-4)); }},
        {"most negative height", [](Bytes& b) { PutLe32(b, BI_HEIGHT, 0x80000000u); }},
        {"row bits past 32 bits",
         [](Bytes& b) {
             PutLe32(b, BI_WIDTH, 0x08000000);
             PutLe16(b, BI_BIT_COUNT, 32);
         }},
        {"depth past 32 bits",
         [](Bytes& b) {
             PutLe32(b, BI_WIDTH, 0x00020000);
             PutLe16(b, BI_BIT_COUNT, 0xFFFF);
             PutLe32(b, BI_CLR_USED, 0);
         }},
        {"image past 32 bits",
         [](Bytes& b) {
             PutLe32(b, BI_WIDTH, 0x10000);
             PutLe32(b, BI_HEIGHT, 0x10000);
         }},
        {"24-bit image past 32 bits",
         [](Bytes& b) {
             PutLe32(b, BI_WIDTH, 40000);
             PutLe32(b, BI_HEIGHT, 40000);
             PutLe16(b, BI_BIT_COUNT, 24);
             PutLe32(b, BI_CLR_USED, 0);
         }},
        {"huge picture, small file",
         [](Bytes& b) {
             PutLe32(b, BI_WIDTH, 20000);
             PutLe32(b, BI_HEIGHT, 20000);
         }},
        {"huge stated image size", [](Bytes& b) { PutLe32(b, BI_SIZE_IMAGE, 0xFFFFFFF0u); }},
        {"huge run-length data",
         [](Bytes& b) {
             PutLe32(b, BI_COMPRESSION, BI_RLE8);
             PutLe32(b, BI_SIZE_IMAGE, 0x7FFFFFF0u);
         }},
        // Each of these files holds the whole table its header names.
        {"3 colours at 1 bit", [](Bytes& b) { b = PictureFile(1, 3); }},
        {"17 colours at 4 bits", [](Bytes& b) { b = PictureFile(4, 17); }},
        {"257 colours at 8 bits", [](Bytes& b) { b = PictureFile(8, 257); }},
        {"257 colours at 24 bits", [](Bytes& b) { b = PictureFile(24, 257); }},
        {"colour count past 16 bits", [](Bytes& b) { PutLe32(b, BI_CLR_USED, 0x10004); }},
        {"offset past the end", [](Bytes& b) { PutLe32(b, BF_OFF_BITS, uint32_t(b.size() + 1)); }},
        {"offset at 4 GB", [](Bytes& b) { PutLe32(b, BF_OFF_BITS, 0xFFFFFFFFu); }},
        {"rows crossing the end",
         [](Bytes& b) { PutLe32(b, BF_OFF_BITS, uint32_t(b.size() - 11)); }},
        {"last row byte missing", [](Bytes& b) { b.pop_back(); }},
        {"more than the last row's padding missing",
         [](Bytes& b) {
             b = PictureFile(4, 16);
             b.resize(b.size() - 3);
         }},
        {"colour table cut", [](Bytes& b) { b.resize(TABLE + 10); }},
        {"header cut", [](Bytes& b) { b.resize(14 + 30); }},
        {"file header only", [](Bytes& b) { b.resize(14); }},
        {"just BM", [](Bytes& b) { b.resize(2); }},
        {"empty file", [](Bytes& b) { b.clear(); }},
        {"header size 0", [](Bytes& b) { PutLe32(b, BI_SIZE, 0); }},
        {"header size 64", [](Bytes& b) { PutLe32(b, BI_SIZE, 64); }},
        {"header size 108", [](Bytes& b) { PutLe32(b, BI_SIZE, 108); }},
    };
    return cases;
}

TEST(MalformedBmp, EachLieGivesNull) {
    for (const Case& c : RefusedCases()) {
        Bytes file = EightBitFile();
        c.change(file);
#ifndef _WIN32
        const long blocks = WinstubLiveBlocks(), locks = WinstubLiveLocks();
        WinstubResetPeakBytes();
        const unsigned long long before = WinstubLiveBytes();
#endif
        HGLOBAL dib = LoadBytes(file);
        EXPECT_EQ(dib, nullptr) << c.what;
        if (dib) GlobalFree(dib);
#ifndef _WIN32
        EXPECT_EQ(WinstubLiveBlocks(), blocks) << c.what;
        EXPECT_EQ(WinstubLiveLocks(), locks) << c.what;
        // Nothing beyond a header and a full colour table was ever held.
        EXPECT_LE(WinstubPeakBytes() - before, 40u + 1024u) << c.what;
#endif
    }
}

TEST(MalformedBmp, CoreFilesThatLie) {
    struct {
        const char* what;
        std::function<void(Bytes&)> change;
    } cases[] = {
        {"zero width", [](Bytes& b) { PutLe16(b, 18, 0); }},
        {"zero height", [](Bytes& b) { PutLe16(b, 20, 0); }},
        {"image past 32 bits",
         [](Bytes& b) {
             PutLe16(b, 18, 0xFFFF);
             PutLe16(b, 20, 0xFFFF);
             PutLe16(b, 24, 24);
         }},
        {"table cut", [](Bytes& b) { b.resize(14 + 12 + 4); }},
        {"header cut", [](Bytes& b) { b.resize(14 + 11); }},
        {"row missing", [](Bytes& b) { b.resize(b.size() - 4); }},
    };
    for (auto& c : cases) {
        Bytes file = TinyCoreFile();
        c.change(file);
        HGLOBAL dib = LoadBytes(file);
        EXPECT_EQ(dib, nullptr) << c.what;
        if (dib) GlobalFree(dib);
    }
}

TEST(MalformedBmp, SoundNeighboursStillLoad) {
    HGLOBAL dib = LoadBytes(EightBitFile());
    ASSERT_NE(dib, nullptr);
    const std::vector<Rgb> pixels = DibPixels(dib);
    EXPECT_EQ(pixels[0], (Rgb{0, 0, 0}));
    EXPECT_EQ(pixels[3], (Rgb{180, 0, 0}));
    GlobalFree(dib);

    // Tables as large as each depth allows.
    for (auto [bits, entries] : {std::pair<WORD, uint32_t>{1, 2}, {4, 16}, {8, 256}, {24, 256}}) {
        dib = LoadBytes(PictureFile(bits, entries));
        ASSERT_NE(dib, nullptr) << bits;
        EXPECT_EQ(GlobalSize(dib), 40 + 4 * entries + 3 * ((4 * bits + 31) / 32 * 4)) << bits;
        GlobalFree(dib);
    }

    // Offset 0 in a file with the file header: the rows follow the table.
    Bytes file = EightBitFile();
    PutLe32(file, BF_OFF_BITS, 0);
    dib = LoadBytes(file);
    ASSERT_NE(dib, nullptr);
    EXPECT_EQ(DibPixels(dib), pixels);
    GlobalFree(dib);

    // A stated image size below what the rows take is raised to it.
    file = EightBitFile();
    PutLe32(file, BI_SIZE_IMAGE, 5);
    dib = LoadBytes(file);
    ASSERT_NE(dib, nullptr);
    EXPECT_EQ(BlockHeader(dib).biSizeImage, 12u);
    EXPECT_EQ(DibPixels(dib), pixels);
    GlobalFree(dib);

    // Trailing bytes behind the rows are not part of the picture.
    file = EightBitFile();
    file.resize(file.size() + 9, 0xAB);
    dib = LoadBytes(file);
    ASSERT_NE(dib, nullptr);
    EXPECT_EQ(GlobalSize(dib), 40u + 16 + 12);
    GlobalFree(dib);

    // Top-down rows (rows 0 and 2 swapped) load as they stand, the height kept negative.
    file = EightBitFile();
    PutLe32(file, BI_HEIGHT, uint32_t(-3));
    std::swap_ranges(file.begin() + 70, file.begin() + 74, file.begin() + 78);
    dib = LoadBytes(file);
    ASSERT_NE(dib, nullptr);
    EXPECT_EQ(DibPixels(dib), pixels);
    GlobalFree(dib);

    // A file without its last row's padding (2 bytes at 4 × 4 bits) loads with zeros there.
    file = PictureFile(4, 16);
    file.resize(file.size() - 2);
    dib = LoadBytes(file);
    ASSERT_NE(dib, nullptr);
    const Bytes block = BlockBytes(dib);
    ASSERT_EQ(block.size(), file.size() - 14 + 2);
    EXPECT_TRUE(std::equal(file.begin() + TABLE, file.end(), block.begin() + 40) &&
                !block.end()[-1] && !block.end()[-2]);
    GlobalFree(dib);

    // Bitfields with the depth's own masks (5:5:5 at 16 bits) are plain rows.
    file = PictureFile(16, 0);
    PutLe32(file, BI_COMPRESSION, BI_BITFIELDS);
    PutLe32(file, BF_OFF_BITS, TABLE + 12);
    file.insert(file.begin() + TABLE, {0x00, 0x7C, 0, 0, 0xE0, 0x03, 0, 0, 0x1F, 0, 0, 0});
    dib = LoadBytes(file);
    ASSERT_NE(dib, nullptr);
    EXPECT_EQ(BlockHeader(dib).biCompression, DWORD(BI_RGB));
    EXPECT_TRUE(std::equal(file.begin() + TABLE + 12, file.end(), BlockBytes(dib).begin() + 40));
    GlobalFree(dib);

    // A core file smaller than a full header still has all it needs.
    dib = LoadBytes(TinyCoreFile());
    ASSERT_NE(dib, nullptr);
    const BITMAPINFOHEADER h = BlockHeader(dib);
    EXPECT_EQ(h.biWidth, 1);
    EXPECT_EQ(h.biClrUsed, 2u);
    EXPECT_EQ(DibPixels(dib), (std::vector<Rgb>{{255, 255, 255}}));
    GlobalFree(dib);
}

#ifndef _WIN32
TEST(MalformedBmp, FailuresOfTheSystemCallsLeaveNothingBehind) {
    struct {
        WinstubCall call;
        int nth;
    } failures[] = {
        {WINSTUB_OPEN_FILE, 1},   {WINSTUB_GLOBAL_ALLOC, 1}, {WINSTUB_GLOBAL_LOCK, 1},
        {WINSTUB_GLOBAL_LOCK, 2}, {WINSTUB_GLOBAL_LOCK, 3},  {WINSTUB_GLOBAL_REALLOC, 1},
        {WINSTUB_LREAD, 1},       {WINSTUB_LREAD, 3},        {WINSTUB_LREAD, 4},
        {WINSTUB_LREAD, 5},       {WINSTUB_LLSEEK, 1},       {WINSTUB_LLSEEK, 2},
        {WINSTUB_LLSEEK, 3},      {WINSTUB_LLSEEK, 4},
    };
    WriteFileBytes("case.bmp", EightBitFile());
    for (auto f : failures) {
        const long blocks = WinstubLiveBlocks(), locks = WinstubLiveLocks();
        const long opened = WinstubCallCount(WINSTUB_OPEN_FILE),
                   closed = WinstubCallCount(WINSTUB_LCLOSE);
        WinstubFailCall(f.call, f.nth);
        HGLOBAL dib = LoadBmpFile("case.bmp");
        WinstubResetFailures();
        EXPECT_EQ(dib, nullptr) << f.call << " #" << f.nth;
        if (dib) GlobalFree(dib);
        EXPECT_EQ(WinstubLiveBlocks(), blocks) << f.call << " #" << f.nth;
        EXPECT_EQ(WinstubLiveLocks(), locks) << f.call << " #" << f.nth;
        const long opens = WinstubCallCount(WINSTUB_OPEN_FILE) - opened;
        EXPECT_EQ(WinstubCallCount(WINSTUB_LCLOSE) - closed,
                  f.call == WINSTUB_OPEN_FILE ? 0 : opens)
            << "the file is closed on every path";
    }
}

TEST(MalformedBmp, AFailedWriteLeavesNoFile) {
    HGLOBAL dib = LoadBytes(EightBitFile());
    ASSERT_NE(dib, nullptr);
    for (int nth : {1, 2, 3}) {  // the two pieces of the file header, then the block
        std::remove("short.bmp");
        WinstubFailCall(WINSTUB_LWRITE, nth);
        EXPECT_FALSE(SaveBmpFile("short.bmp", dib)) << nth;
        WinstubResetFailures();
        EXPECT_FALSE(FileExists("short.bmp")) << nth;
    }
    WinstubFailCall(WINSTUB_GLOBAL_LOCK, 1);
    EXPECT_FALSE(SaveBmpFile("short.bmp", dib));
    WinstubResetFailures();
    EXPECT_FALSE(FileExists("short.bmp")) << "nothing is created for a block that cannot be read";
    GlobalFree(dib);
}
#endif

// Inputs the fuzzer once found troublesome: each loads or is refused, without
// a fault, and what loads holds every row its header announces.
TEST(MalformedBmp, FuzzerRegressions) {
    namespace fs = std::filesystem;
    int seen = 0;
    for (const auto& entry : fs::directory_iterator(DIB_REGRESSIONS_DIR)) {
        if (entry.path().filename() == "README") continue;
        ++seen;
        HGLOBAL dib = LoadBytes(ReadFileBytes(entry.path().string()));
        if (!dib) continue;
        const BITMAPINFOHEADER h = BlockHeader(dib);
        DWORD ruleBytes = 0;
        EXPECT_TRUE(RowImageBytes(h.biWidth, std::abs(h.biHeight), h.biBitCount, &ruleBytes))
            << entry.path();
        if (h.biCompression == BI_RGB) {
            EXPECT_GE(h.biSizeImage, ruleBytes) << entry.path();
        }
        EXPECT_EQ(GlobalSize(dib), 40u + ColorTableBytes(&h) + h.biSizeImage) << entry.path();
        GlobalFree(dib);
    }
    RecordProperty("inputs", seen);
}

}  // namespace
