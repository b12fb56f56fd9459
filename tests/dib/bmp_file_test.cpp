// Bitmap files read and written through OpenFile and the _l calls: files that
// ImageMagick made, files without the "BM" header, round trips, and the pieces
// bulk transfers go in.
#include "bmp_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#ifndef _WIN32
#include <winstub_testing.h>

FileCalls CountedFileCalls() {
    return {WinstubCallCount(WINSTUB_LREAD), WinstubCallCount(WINSTUB_LWRITE),
            WinstubLastBytes(WINSTUB_LREAD), WinstubLastBytes(WINSTUB_LWRITE)};
}
#endif

namespace {

TEST(BmpFile, ImageMagickFilesLoadWithTheirOwnPixels) {
    for (const Sample& s : Samples()) {
        SCOPED_TRACE(s.name);
        const std::vector<Rgb> expected = ExpectedPixels(SamplePath(s, ".rgb"));
        ASSERT_EQ(expected.size(), size_t(s.width * s.height)) << "samples/ not made?";
        HGLOBAL dib = LoadBmpFile(SamplePath(s).c_str());
        ASSERT_NE(dib, nullptr);
        const BITMAPINFOHEADER h = BlockHeader(dib);
        EXPECT_EQ(h.biSize, 40u);
        EXPECT_EQ(h.biWidth, s.width);
        EXPECT_EQ(h.biHeight, s.height);
        EXPECT_EQ(h.biBitCount, s.bits);
        EXPECT_EQ(h.biCompression, s.compression);
        const DWORD stride = (DWORD(s.width) * s.bits + 31) / 32 * 4;
        EXPECT_EQ(h.biSizeImage, stride * DWORD(s.height));
        const DWORD colors = s.bits <= 8 ? 1u << s.bits : 0;
        if (s.core) {
            // Core files become full headers naming their whole table.
            EXPECT_EQ(h.biClrUsed, colors);
            EXPECT_EQ(h.biClrImportant, colors);
        } else if (s.bits <= 8) {
            EXPECT_GT(h.biClrUsed, 0u);
            EXPECT_LE(h.biClrUsed, colors);
        }
        EXPECT_EQ(GlobalSize(dib), 40 + ColorTableBytes(&h) + h.biSizeImage);
        const Bytes block = BlockBytes(dib);
        for (unsigned i = 0; i < ColorCount(&h); ++i)
            EXPECT_EQ(block[40 + 4 * i + 3], 0) << "entry " << i;
        EXPECT_EQ(DibPixels(dib), expected);
        GlobalFree(dib);
    }
}

TEST(BmpFile, AFileWithoutTheFileHeaderIsReadFromItsFirstByte) {
    for (const char* name : {"pal8-BMP3", "pal4-BMP2", "true24-BMP3"}) {
        SCOPED_TRACE(name);
        Bytes file = ReadFileBytes(std::string("samples/") + name + ".bmp");
        ASSERT_GT(file.size(), 14u);
        WriteFileBytes("bare.dib", Bytes(file.begin() + 14, file.end()));
        HGLOBAL bare = LoadBmpFile("bare.dib");
        HGLOBAL whole = LoadBmpFile((std::string("samples/") + name + ".bmp").c_str());
        ASSERT_TRUE(bare && whole);
        EXPECT_EQ(BlockBytes(bare), BlockBytes(whole));
        GlobalFree(bare);
        GlobalFree(whole);
    }
}

TEST(BmpFile, SavedFilesCountTheWholeBlockAndLoadBackUnchanged) {
    for (const Sample& s : Samples()) {
        SCOPED_TRACE(s.name);
        HGLOBAL dib = LoadBmpFile(SamplePath(s).c_str());
        ASSERT_NE(dib, nullptr);
        ASSERT_TRUE(SaveBmpFile("saved.bmp", dib));
        const Bytes file = ReadFileBytes("saved.bmp");
        BITMAPFILEHEADER fh;
        ASSERT_EQ(file.size(), GlobalSize(dib) + sizeof fh);
        std::memcpy(&fh, file.data(), sizeof fh);
        EXPECT_EQ(WORD(fh.bfType), 0x4D42);
        EXPECT_EQ(DWORD(fh.bfSize), file.size());
        EXPECT_EQ(fh.bfReserved1 | fh.bfReserved2, 0);
        const BITMAPINFOHEADER h = BlockHeader(dib);
        EXPECT_EQ(DWORD(fh.bfOffBits), 14u + 40u + ColorTableBytes(&h));
        HGLOBAL again = LoadBmpFile("saved.bmp");
        ASSERT_NE(again, nullptr);
        EXPECT_EQ(BlockBytes(again), BlockBytes(dib));
        GlobalFree(again);
        GlobalFree(dib);
    }
}

TEST(BmpFile, ABlockLargerThanItsPictureIsSavedWhole) {
    // As the decoder leaves them: a 24-bit header, the rows, and spare rows behind.
    const LONG width = 5, height = 3;
    const DWORD stride = 16, spare = 15 * stride;
    HGLOBAL dib = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 40 + stride * height + spare);
    auto* bytes = static_cast<uint8_t*>(GlobalLock(dib));
    BITMAPINFOHEADER h{};
    h.biSize = 40;
    h.biWidth = width;
    h.biHeight = height;
    h.biPlanes = 1;
    h.biBitCount = 24;
    std::memcpy(bytes, &h, sizeof h);
    for (DWORD i = 0; i < stride * height; ++i) bytes[40 + i] = uint8_t(i * 7 + 1);
    GlobalUnlock(dib);

    ASSERT_TRUE(SaveBmpFile("spare.bmp", dib));
    const Bytes file = ReadFileBytes("spare.bmp");
    BITMAPFILEHEADER fh;
    std::memcpy(&fh, file.data(), sizeof fh);
    EXPECT_EQ(DWORD(fh.bfSize), 14 + 40 + stride * height + spare);
    EXPECT_EQ(file.size(), DWORD(fh.bfSize));
    EXPECT_EQ(DWORD(fh.bfOffBits), 54u);
    HGLOBAL loaded = LoadBmpFile("spare.bmp");
    ASSERT_NE(loaded, nullptr);
    EXPECT_EQ(GlobalSize(loaded), 40 + stride * height)
        << "the spare rows are not part of the picture";
    EXPECT_EQ(DibPixels(loaded), DibPixels(dib));
    GlobalFree(loaded);
    GlobalFree(dib);
}

TEST(BmpFile, SavingFailsWithoutABlockOrAPlaceToWrite) {
    EXPECT_FALSE(SaveBmpFile("never.bmp", nullptr));
    EXPECT_FALSE(FileExists("never.bmp"));
    HGLOBAL dib = LoadBmpFile("samples/mono-BMP3.bmp");
    ASSERT_NE(dib, nullptr);
    EXPECT_FALSE(SaveBmpFile("no-such-folder/x.bmp", dib));
    HGLOBAL tiny =
        GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 20);  // too small for any header it might name
    EXPECT_FALSE(SaveBmpFile("tiny.bmp", tiny));
    EXPECT_FALSE(FileExists("tiny.bmp"));
    GlobalFree(tiny);
    GlobalFree(dib);
}

TEST(BmpFile, HeaderBlockLeavesTheFileAtThePixels) {
    // A gap of 6 bytes between colour table and rows, named by bfOffBits.
    Bytes file = ReadFileBytes("samples/pal4-BMP3.bmp");
    BITMAPFILEHEADER fh;
    std::memcpy(&fh, file.data(), sizeof fh);
    const Bytes gap = {0xDE, 0xAD, 0xBE, 0xEF, 0xDE, 0xAD};
    file.insert(file.begin() + fh.bfOffBits, gap.begin(), gap.end());
    fh.bfOffBits += gap.size();
    fh.bfSize += gap.size();
    std::memcpy(file.data(), &fh, sizeof fh);
    WriteFileBytes("gap.bmp", file);

    OFSTRUCT of;
    HFILE f = OpenFile("gap.bmp", &of, OF_READ);
    ASSERT_NE(f, HFILE_ERROR);
    HGLOBAL header = ReadDibHeaderBlock(f);
    ASSERT_NE(header, nullptr);
    EXPECT_EQ(_llseek(f, 0, FILE_CURRENT), LONG(fh.bfOffBits));
    const BITMAPINFOHEADER h = BlockHeader(header);
    EXPECT_EQ(GlobalSize(header), 40u + ColorTableBytes(&h)) << "header and colour table only";
    _lclose(f);
    GlobalFree(header);

    HGLOBAL withGap = LoadBmpFile("gap.bmp");
    HGLOBAL plain = LoadBmpFile("samples/pal4-BMP3.bmp");
    ASSERT_TRUE(withGap && plain);
    EXPECT_EQ(BlockBytes(withGap), BlockBytes(plain));
    GlobalFree(withGap);
    GlobalFree(plain);
    EXPECT_EQ(ReadDibHeaderBlock(HFILE_ERROR), nullptr);
}

TEST(BmpFile, QueryFillsTheCopyNotTheBlock) {
    HGLOBAL dib = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 40 + 16 * 4 + 8 * 3);
    BITMAPINFOHEADER h{};
    h.biSize = 40;
    h.biWidth = 13;
    h.biHeight = 3;
    h.biPlanes = 1;
    h.biBitCount = 4;
    std::memcpy(GlobalLock(dib), &h, sizeof h);
    GlobalUnlock(dib);
    const Bytes before = BlockBytes(dib);
    BITMAPINFOHEADER copy;
    ASSERT_TRUE(QueryDibHeader(dib, &copy));
    EXPECT_EQ(copy.biSizeImage, 8u * 3);
    EXPECT_EQ(copy.biClrUsed, 16u);
    EXPECT_EQ(BlockBytes(dib), before);
    // A top-down DIB has as many rows as a bottom-up one.
    h.biHeight = -3;
    std::memcpy(GlobalLock(dib), &h, sizeof h);
    GlobalUnlock(dib);
    ASSERT_TRUE(QueryDibHeader(dib, &copy));
    EXPECT_EQ(copy.biSizeImage, 8u * 3);
    GlobalFree(dib);
    EXPECT_FALSE(QueryDibHeader(nullptr, &copy));
}

TEST(BmpFile, TransfersGoInPiecesOf32768Bytes) {
    Bytes data(3 * 32768 + 5);
    for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i * 31 + i / 251);
    OFSTRUCT of;
    HFILE f = OpenFile("chunks.bin", &of, OF_CREATE | OF_READWRITE);
    ASSERT_NE(f, HFILE_ERROR);
    struct {
        DWORD count;
        long calls;
        UINT last;
    } cases[] = {{32768, 1, 32768}, {32769, 2, 1}, {65536, 2, 32768}, {1, 1, 1}, {0, 0, 0}};
    for (auto c : cases) {
        const FileCalls before = CountedFileCalls();
        EXPECT_EQ(WriteChunked(f, data.data(), c.count), c.count);
        const FileCalls after = CountedFileCalls();
        EXPECT_EQ(after.writes - before.writes, c.calls) << c.count << " bytes";
        if (c.calls) {
            EXPECT_EQ(after.lastWrite, c.last) << c.count << " bytes";
        }
    }
    ASSERT_EQ(_llseek(f, 0, FILE_END), LONG(32768 + 32769 + 65536 + 1))
        << "the empty write did not cut the file";
    _llseek(f, 0, FILE_BEGIN);
    Bytes back(data.size());
    for (auto c : cases) {
        const FileCalls before = CountedFileCalls();
        EXPECT_EQ(ReadChunked(f, back.data(), c.count), c.count);
        const FileCalls after = CountedFileCalls();
        EXPECT_EQ(after.reads - before.reads, c.calls) << c.count << " bytes";
        if (c.calls) {
            EXPECT_EQ(after.lastRead, c.last) << c.count << " bytes";
        }
        EXPECT_TRUE(std::equal(back.begin(), back.begin() + c.count, data.begin()))
            << c.count << " bytes";
    }
    // Past the end: a short piece gives 0, also when it is not the last one.
    _llseek(f, -40000, FILE_END);
    EXPECT_EQ(ReadChunked(f, back.data(), 40001), 0u);
    _llseek(f, -100, FILE_END);
    EXPECT_EQ(ReadChunked(f, back.data(), 32769), 0u);
    _lclose(f);
}

#ifndef _WIN32
// ImageMagick reading our files: only the native build can start it.
TEST(BmpFile, ImageMagickReadsOurFilesWithTheSamePixels) {
    for (const Sample& s : Samples()) {
        SCOPED_TRACE(s.name);
        HGLOBAL dib = LoadBmpFile(SamplePath(s).c_str());
        ASSERT_NE(dib, nullptr);
        ASSERT_TRUE(SaveBmpFile("ours.bmp", dib));
        GlobalFree(dib);
        std::remove("ours.rgb");
        const std::string command =
            std::string(CONVERT_PROGRAM) + " ours.bmp -depth 8 rgb:ours.rgb";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
        EXPECT_EQ(ExpectedPixels("ours.rgb"), ExpectedPixels(SamplePath(s, ".rgb")));
    }
}
#endif

}  // namespace

namespace {

// The mean of the area that target pixel (tx, ty) of a width x height
// reduction covers, each source pixel weighted by its share of it.
Rgb AreaMean(const std::vector<Rgb>& pixels, LONG w, LONG h, LONG width, LONG height, LONG tx,
             LONG ty) {
    auto share = [](double at, double size, double target, double slot) {  // overlap on one axis
        return std::max(0.0, std::min(at + size, target + slot) - std::max(at, target));
    };
    double sum[3] = {};
    for (LONG y = ty * h / height; y < h && y <= (ty + 1) * h / height; ++y)
        for (LONG x = tx * w / width; x < w && x <= (tx + 1) * w / width; ++x)
            for (int c = 0; c < 3; ++c)
                sum[c] += pixels[y * w + x][c] * share(x * width, width, tx * w, w) *
                          share(y * height, height, ty * h, h);
    Rgb mean;
    for (int c = 0; c < 3; ++c) mean[c] = uint8_t(sum[c] / (double(w) * h) + 0.5);
    return mean;
}

bool CountedStop(void* calls) { return ++*static_cast<int*>(calls) < 0; }
bool Counted(void* calls) { return ++*static_cast<int*>(calls) > 0; }

// A block of one header and the given rows, as a reader of other files leaves them.
HGLOBAL RowsDib(LONG width, LONG height, WORD bits, const Bytes& rows) {
    HGLOBAL dib = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 40 + rows.size());
    auto* bytes = static_cast<uint8_t*>(GlobalLock(dib));
    const BITMAPINFOHEADER h{40, width, height, 1, bits, BI_RGB, 0, 0, 0, 0, 0};
    std::memcpy(bytes, &h, sizeof h);
    std::memcpy(bytes + 40, rows.data(), rows.size());
    GlobalUnlock(dib);
    return dib;
}

}  // namespace

// Every depth, to its own size (a 24-bit copy) and to sizes that split pixels;
// top-down rows come out bottom-up.
TEST(ReduceDib, EachPixelIsTheMeanOfTheAreaItCovers) {
    std::vector<HGLOBAL> dibs = {RowsDib(1, -2, 24, {0, 0, 255, 0, 255, 0, 0, 0}),  // top-down
                                 RowsDib(2, 1, 16, {0x00, 0x7C, 0x1F, 0x00})};  // 5-bit red, blue
    for (const Sample& s : Samples()) dibs.push_back(LoadBmpFile(SamplePath(s).c_str()));
    for (HGLOBAL dib : dibs) {
        ASSERT_NE(dib, nullptr);
        const BITMAPINFOHEADER h = BlockHeader(dib);
        const LONG w = h.biWidth, rows = std::abs(h.biHeight);
        // The helpers read no 16-bit rows: those are the two pixels written above.
        const std::vector<Rgb> source =
            h.biBitCount == 16 ? std::vector<Rgb>{{255, 0, 0}, {0, 0, 255}} : DibPixels(dib);
        for (const auto& size : {std::array<LONG, 2>{w, rows},
                                 {std::max<LONG>(w / 3, 1), std::max<LONG>(rows / 2, 1)}}) {
            SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(rows) + " to " +
                         std::to_string(size[0]));
            HGLOBAL reduced = ReduceDib(dib, size[0], size[1]);
            ASSERT_NE(reduced, nullptr);
            EXPECT_EQ(BlockHeader(reduced).biBitCount, 24);
            EXPECT_EQ(BlockHeader(reduced).biHeight, size[1]) << "bottom-up";
            const std::vector<Rgb> got = DibPixels(reduced);
            for (LONG y = 0; y < size[1]; ++y)
                for (LONG x = 0; x < size[0]; ++x)
                    for (int c = 0; c < 3; ++c)
                        ASSERT_NEAR(got[y * size[0] + x][c],
                                    AreaMean(source, w, rows, size[0], size[1], x, y)[c], 1);
            GlobalFree(reduced);
        }
        GlobalFree(dib);
    }
}

// Large rows are read in pieces of 256 KiB and reduced 256 Ki pixels at a
// time, with the yield between them; a false from it abandons the work.
TEST(ReduceDib, LargePicturesAreReadAndReducedWithAYieldThatCanStopThem) {
    HGLOBAL dib = RowsDib(700, 400, 24, Bytes(700 * 3 * 400, 0x5A));
    EXPECT_EQ(ReduceDib(dib, 701, 400), nullptr) << "no growing";
    int calls = 0;
    EXPECT_EQ(ReduceDib(dib, 350, 200, CountedStop, &calls), nullptr);
    calls = 0;
    HGLOBAL reduced = ReduceDib(dib, 350, 200, Counted, &calls);
    EXPECT_NE(reduced, nullptr);
    EXPECT_EQ(calls, 1);
    ASSERT_TRUE(SaveBmpFile("pieces.bmp", dib));
    OFSTRUCT opened;
    for (bool goOn : {true, false}) {
        const HFILE file = OpenFile("pieces.bmp", &opened, OF_READ);
        calls = 0;
        HGLOBAL loaded = ReadBmpFile(file, goOn ? Counted : CountedStop, &calls);
        _lclose(file);
        EXPECT_EQ(calls, goOn ? 3 : 1);
        EXPECT_EQ(loaded != nullptr, goOn);
        if (loaded) GlobalFree(loaded);
    }
    GlobalFree(reduced);
    GlobalFree(dib);
}
