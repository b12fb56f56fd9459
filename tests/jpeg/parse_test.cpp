// Parsing and its refusals: results of DecodeJpegFile on
// edited copies of a small cjpeg picture, and on injected allocation, lock and
// file failures (native build only: the stand-in can make them happen).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "test_support.h"

#ifndef _WIN32
#include <winstub_testing.h>
#endif

namespace {

const char* COLOUR_PICTURE = "chelsea-17x17-2x2.jpg";
const char* GREY_PICTURE = "chelsea-17x17-grey.jpg";

// Offset of the FF of the nth segment with marker code `code`.
long Segment(const Bytes& b, std::uint8_t code, int nth = 0) {
    long at = -1;
    for (int i = 0; i <= nth; ++i) {
        at = FindMarker(b, code, at + 1);
        if (at < 0) return -1;
    }
    return at;
}

// Replaces the whole segment at `at` (marker, length and payload).
Bytes ReplaceSegment(const Bytes& b, long at, const Bytes& segment) {
    Bytes out(b.begin(), b.begin() + at);
    out.insert(out.end(), segment.begin(), segment.end());
    out.insert(out.end(), b.begin() + JpegSegmentEnd(b, at), b.end());
    return out;
}

Bytes Payload(const Bytes& b, long at) {
    return Bytes(b.begin() + at + 4, b.begin() + JpegSegmentEnd(b, at));
}

DecoderResult ResultOf(const Bytes& b) { return DecodeBytes(b, "parse-edit.jpg").result; }

}  // namespace

TEST(DecodeJpegFile, MissingFileIs103AndEmptyFileIs105) {
    EXPECT_EQ(DecodeFile(WorkPath("does-not-exist.jpg")).result, 103);
    EXPECT_EQ(DecodeFile(HostPath(JPEG_TEST_WORK_DIR)).result, 103);  // a folder
    EXPECT_EQ(ResultOf({}), 105);
    EXPECT_EQ(ResultOf({0xFF}), 105);
    EXPECT_EQ(ResultOf({0xFF, 0xD8}), 105);
}

TEST(DecodeJpegFile, BytesBeforeSoiAreSkippedButEoiFirstIs105) {
    Bytes original = ReadFileBytes(DataPath(COLOUR_PICTURE));
    Decoded reference = DecodeFile(DataPath(COLOUR_PICTURE));
    ASSERT_EQ(reference.result, 0);
    Decoded d =
        DecodeBytes(Insert(original, 0, {0x00, 0x12, 0xFF, 0x01, 0xFF, 0xC0, 0x77}), "pre-soi.jpg");
    EXPECT_EQ(d.result, 0);
    EXPECT_EQ(d.dib, reference.dib);
    EXPECT_EQ(ResultOf(Insert(original, 0, {0xFF, 0xD9})), 105);
    EXPECT_EQ(ResultOf(Insert(original, 2, {0x00})), 105);  // the byte after SOI is not FF
}

TEST(DecodeJpegFile, OtherCodingProcessesAre106) {
    Bytes original = ReadFileBytes(DataPath(COLOUR_PICTURE));
    long sof = Segment(original, 0xC0);
    for (std::uint8_t code : {0xC1, 0xC2, 0xC3, 0xC5, 0xC7, 0xC9, 0xCB, 0xCD, 0xCF}) {
        Bytes b = original;
        b[sof + 1] = code;
        EXPECT_EQ(ResultOf(b), 106) << std::hex << int(code);
    }
    Bytes dac = Insert(original, sof, JpegSegment(0xCC, {0x00, 0x00}));
    EXPECT_EQ(ResultOf(dac), 106);
    EXPECT_EQ(DecodeFile(DataPath("rocket-47x31-progressive.jpg")).result, 106);
    EXPECT_EQ(DecodeFile(DataPath("rocket-47x31-arithmetic.jpg")).result, 106);
}

TEST(DecodeJpegFile, SegmentLongerThanTheDataIs105) {
    Bytes original = ReadFileBytes(DataPath(COLOUR_PICTURE));
    for (std::uint8_t code : {0xDB, 0xC4, 0xC0, 0xDA, 0xE0}) {
        Bytes b = original;
        long at = Segment(b, code);
        ASSERT_GE(at, 0);
        long left = static_cast<long>(b.size()) - (at + 4);  // bytes after the length field
        b.resize(at + 4 + 10);                               // cut the file inside the segment
        left = 10;
        PutBe16(b, at + 2, left + 1);
        EXPECT_EQ(ResultOf(b), 105) << std::hex << int(code);
    }
}

TEST(DecodeJpegFile, SegmentLengthBelowTwoIs105) {
    Bytes original = ReadFileBytes(DataPath(COLOUR_PICTURE));
    for (std::uint8_t code : {0xDB, 0xE0}) {
        Bytes b = original;
        long at = Segment(b, code);
        b[at + 2] = 0;
        b[at + 3] = 1;
        EXPECT_EQ(ResultOf(b), 105) << std::hex << int(code);
    }
}

TEST(DecodeJpegFile, FrameRefusals) {
    Bytes original = ReadFileBytes(DataPath(COLOUR_PICTURE));
    long sof = Segment(original, 0xC0);
    Bytes frame = Payload(original, sof);  // P Y Y X X Nf (C HV Tq) x 3
    auto with = [&](Bytes payload) {
        return ReplaceSegment(original, sof, JpegSegment(0xC0, payload));
    };
    Bytes f = frame;
    f[0] = 12;
    EXPECT_EQ(ResultOf(with(f)), 105) << "precision 12";
    f = frame;
    f[1] = f[2] = 0;
    EXPECT_EQ(ResultOf(with(f)), 105) << "height 0";
    f = frame;
    f[3] = f[4] = 0;
    EXPECT_EQ(ResultOf(with(f)), 105) << "width 0";
    f = frame;
    f[5 + 3 * 0 + 3] = 4;
    EXPECT_EQ(ResultOf(with(f)), 105) << "quantisation slot 4";
    f = frame;
    f[5 + 3 * 1 + 3] = 2;
    EXPECT_EQ(ResultOf(with(f)), 105) << "quantisation slot 2, never defined";
    f = frame;
    f[5 + 3 * 1 + 2] = 0x21;
    EXPECT_EQ(ResultOf(with(f)), 105) << "component 1 sampled 2x1";
    f = frame;
    f[5] = 5;
    for (int i = 0; i < 2; ++i) f.insert(f.end(), {static_cast<std::uint8_t>(4 + i), 0x11, 0x00});
    EXPECT_EQ(ResultOf(with(f)), 105) << "five components";
    f = frame;
    f[5] = 4;
    f.insert(f.end(), {4, 0x11, 0x00});
    EXPECT_EQ(ResultOf(with(f)), 105) << "four components";
    f = frame;
    f.resize(f.size() - 1);
    EXPECT_EQ(ResultOf(with(f)), 105) << "segment shorter than its components";
}

TEST(DecodeJpegFile, DimensionsWhoseDibCannotBeAddressedAre101) {
    Bytes original = ReadFileBytes(DataPath(COLOUR_PICTURE));
    long sof = Segment(original, 0xC0);
    struct Size {
        int width, height;
    } sizes[] = {{65535, 65535}, {65535, 10922}, {21846, 32767}};
    for (const Size& s : sizes) {
        Bytes b = original;
        PutBe16(b, sof + 5, s.height);
        PutBe16(b, sof + 7, s.width);
        EXPECT_EQ(ResultOf(b), 101) << s.width << "x" << s.height;
    }
}

TEST(DecodeJpegFile, ScanRefusals) {
    Bytes original = ReadFileBytes(DataPath(COLOUR_PICTURE));
    long sos = Segment(original, 0xDA);
    Bytes scan = Payload(original, sos);  // Ns (C T) x 3 Ss Se A
    auto with = [&](Bytes payload) {
        return ReplaceSegment(original, sos, JpegSegment(0xDA, payload));
    };
    Bytes s = scan;
    s[2] = 0x22;
    EXPECT_EQ(ResultOf(with(s)), 105) << "Huffman tables 2 never defined";
    s = scan;
    s[2] = 0x40;
    EXPECT_EQ(ResultOf(with(s)), 105) << "DC table 4";
    s = scan;
    s[4] = 0x14;
    EXPECT_EQ(ResultOf(with(s)), 105) << "AC table 4";
    s = {1, scan[1], scan[2], 0, 63, 0};
    EXPECT_EQ(ResultOf(with(s)), 105) << "one scan component for a three-component frame";
    s = scan;
    s[0] = 5;
    s.insert(s.begin() + 7, {4, 0x00, 5, 0x00});
    EXPECT_EQ(ResultOf(with(s)), 105) << "five scan components";
    s = scan;
    s.resize(s.size() - 1);
    EXPECT_EQ(ResultOf(with(s)), 105) << "segment shorter than its components";
    // A four-component scan of a three-component frame: the fourth is not used.
    s = scan;
    s[0] = 4;
    s.insert(s.begin() + 7, {4, 0x11});
    Decoded d = DecodeBytes(with(s), "four-scan.jpg");
    EXPECT_EQ(d.result, 0);
    EXPECT_EQ(d.dib, DecodeFile(DataPath(COLOUR_PICTURE)).dib);
}

TEST(DecodeJpegFile, ScanBeforeFrameIs105) {
    Bytes b = ReadFileBytes(DataPath(COLOUR_PICTURE));
    long sof = Segment(b, 0xC0);
    b[sof + 1] = 0xE1;  // the frame becomes an APP1 segment
    EXPECT_EQ(ResultOf(b), 105);
}

TEST(DecodeJpegFile, QuantisationTableRefusals) {
    Bytes original = ReadFileBytes(DataPath(COLOUR_PICTURE));
    long dqt = Segment(original, 0xDB);
    Bytes table = Payload(original, dqt);
    ASSERT_EQ(table.size(), 65u);
    auto with = [&](Bytes payload) {
        return ReplaceSegment(original, dqt, JpegSegment(0xDB, payload));
    };
    Bytes t = table;
    t[0] = 0x04;
    EXPECT_EQ(ResultOf(with(t)), 105) << "slot 4";
    t = table;
    t[0] = 0x20;
    EXPECT_EQ(ResultOf(with(t)), 105) << "precision 2";
    t = table;
    t.push_back(0);
    EXPECT_EQ(ResultOf(with(t)), 105) << "one byte too many";
    t = table;
    t.pop_back();
    EXPECT_EQ(ResultOf(with(t)), 105) << "one byte too few";
    // Two tables in one segment, and a 16-bit table, are fine.
    long dqt2 = Segment(original, 0xDB, 1);
    Bytes both = table;
    Bytes second = Payload(original, dqt2);
    both.insert(both.end(), second.begin(), second.end());
    Bytes merged = ReplaceSegment(ReplaceSegment(original, dqt2, {}), dqt, JpegSegment(0xDB, both));
    Decoded d = DecodeBytes(merged, "two-tables.jpg");
    EXPECT_EQ(d.result, 0);
    EXPECT_EQ(d.dib, DecodeFile(DataPath(COLOUR_PICTURE)).dib);
    Bytes wide = {0x10};
    for (int j = 0; j < 64; ++j) wide.insert(wide.end(), {0x00, table[1 + j]});
    d = DecodeBytes(with(wide), "sixteen-bit.jpg");
    EXPECT_EQ(d.result, 0);
    EXPECT_EQ(d.dib, DecodeFile(DataPath(COLOUR_PICTURE)).dib);
}

TEST(DecodeJpegFile, HuffmanTableRefusals) {
    Bytes original = ReadFileBytes(DataPath(COLOUR_PICTURE));
    long dht = Segment(original, 0xC4);
    Bytes table = Payload(original, dht);
    auto with = [&](Bytes payload) {
        return ReplaceSegment(original, dht, JpegSegment(0xC4, payload));
    };
    for (std::uint8_t id : {0x04, 0x08, 0x14, 0x20, 0x02 | 0x80}) {
        Bytes t = table;
        t[0] = id;
        EXPECT_EQ(ResultOf(with(t)), 105) << std::hex << int(id);
    }
    Bytes t = table;
    t.push_back(0);
    EXPECT_EQ(ResultOf(with(t)), 105) << "one byte too many";
    t = table;
    t.pop_back();
    EXPECT_EQ(ResultOf(with(t)), 105) << "one byte too few";
    Bytes overfull = {0x00, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 2};
    EXPECT_EQ(ResultOf(with(overfull)), 105) << "over-full";
    Bytes many = {0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 255};
    many.resize(many.size() + 257, 1);
    EXPECT_EQ(ResultOf(with(many)), 105) << "257 codes";
}

TEST(DecodeJpegFile, ParseEndingBeforeAnyScanIsNeverZero) {
    Bytes original = ReadFileBytes(DataPath(COLOUR_PICTURE));
    long sos = Segment(original, 0xDA);
    Bytes noScan(original.begin(), original.begin() + sos);
    noScan.insert(noScan.end(), {0xFF, 0xD9});
    EXPECT_EQ(ResultOf(noScan), 105);
    // A second SOI and then EOI: 105; a second SOI and then the scan: the picture.
    Bytes secondSoi = Insert(noScan, noScan.size() - 2, {0xFF, 0xD8});
    EXPECT_EQ(ResultOf(secondSoi), 105);
    Decoded d =
        DecodeBytes(Insert(original, Segment(original, 0xDB), {0xFF, 0xD8}), "second-soi.jpg");
    EXPECT_EQ(d.result, 0);
    EXPECT_EQ(d.dib, DecodeFile(DataPath(COLOUR_PICTURE)).dib);
}

TEST(DecodeJpegFile, FillBytesBeforeMarkersAreConsumedInPairs) {
    Bytes original = ReadFileBytes(DataPath(COLOUR_PICTURE));
    Decoded reference = DecodeFile(DataPath(COLOUR_PICTURE));
    long dqt = Segment(original, 0xDB);
    Decoded even = DecodeBytes(Insert(original, dqt, {0xFF, 0xFF}), "fill-even.jpg");
    EXPECT_EQ(even.result, 0);
    EXPECT_EQ(even.dib, reference.dib);
    // Odd: the marker's own FF pairs with the last fill byte, the DQT segment is
    // scanned over as ordinary bytes, and its table is then missing at SOS.
    EXPECT_EQ(ResultOf(Insert(original, dqt, {0xFF})), 105);
}

TEST(DecodeJpegFile, SkippedSegmentsHaveNoEffect) {
    Bytes original = ReadFileBytes(DataPath(COLOUR_PICTURE));
    Decoded reference = DecodeFile(DataPath(COLOUR_PICTURE));
    long dqt = Segment(original, 0xDB);
    Bytes extra = JpegSegment(0xFE, {'h', 'i', 0xFF, 0xD9, 0xFF});  // COM holding marker-like bytes
    Bytes app = JpegSegment(0xEF, Bytes(300, 0xFF));
    Bytes dri = JpegSegment(0xDD, {0x00, 0x01});
    extra.insert(extra.end(), app.begin(), app.end());
    extra.insert(extra.end(), dri.begin(), dri.end());
    extra.insert(extra.end(), {0xFF, 0xD0, 0xFF, 0x01});  // RST and a reserved marker: nothing
    Decoded d = DecodeBytes(Insert(original, dqt, extra), "skipped.jpg");
    EXPECT_EQ(d.result, 0);
    EXPECT_EQ(d.dib, reference.dib);
}

// A single component is never subsampled against itself: declared factors
// other than 1x1 decode exactly as 1x1.
TEST(DecodeJpegFile, GreyFrameSamplingFactorsDoNotMatter) {
    Bytes original = ReadFileBytes(DataPath(GREY_PICTURE));
    Decoded reference = DecodeFile(DataPath(GREY_PICTURE));
    ASSERT_EQ(reference.result, 0);
    long sof = Segment(original, 0xC0);
    for (std::uint8_t factors : {0x22, 0x12, 0x21, 0x00, 0x44, 0xFF}) {
        Bytes b = original;
        b[sof + 4 + 6 + 1] = factors;
        Decoded d = DecodeBytes(b, "grey-factors.jpg");
        EXPECT_EQ(d.result, 0) << std::hex << int(factors);
        EXPECT_EQ(d.dib, reference.dib) << std::hex << int(factors);
    }
}

TEST(DecodeJpegFile, DibHeaderAndSize) {
    Decoded d = DecodeFile(DataPath("chelsea-17x17-2x1.jpg"));
    ASSERT_EQ(d.result, 0);
    BITMAPINFOHEADER h;
    std::memcpy(&h, d.dib.data(), sizeof h);
    EXPECT_EQ(h.biSize, 40u);
    EXPECT_EQ(h.biWidth, 17);
    EXPECT_EQ(h.biHeight, 17);
    EXPECT_EQ(h.biPlanes, 1);
    EXPECT_EQ(h.biBitCount, 24);
    EXPECT_EQ(h.biCompression, 0u);
    EXPECT_EQ(h.biSizeImage, 17u * 52);
    EXPECT_EQ(h.biClrUsed, 0u);
    EXPECT_GE(d.dib.size(), 40u + (17 + 15) * 52);
    for (size_t i = 40 + 17 * 52; i < 40u + 32 * 52; ++i)
        ASSERT_EQ(d.dib[i], 0) << "spare rows stay zero";
    for (int row = 0; row < 17; ++row)
        EXPECT_EQ(d.dib[40 + row * 52 + 51], 0) << "padding stays zero";
    Decoded one = DecodeFile(DataPath("chelsea-1x1-1x1.jpg"));
    ASSERT_EQ(one.result, 0);
    std::memcpy(&h, one.dib.data(), sizeof h);
    EXPECT_EQ(h.biSizeImage, 4u);
    EXPECT_EQ(one.dib[40 + 3], 0);
}

#ifndef _WIN32
// Every allocation and every lock of a decode, made to fail in turn: the
// result is 101 or 102 as they must, the picture variable is empty and
// nothing stays allocated or locked.
TEST(InjectedFailures, EveryAllocationAndLock) {
    std::string path = DataPath(COLOUR_PICTURE);
    long allocsBefore = WinstubCallCount(WINSTUB_GLOBAL_ALLOC),
         locksBefore = WinstubCallCount(WINSTUB_GLOBAL_LOCK);
    ASSERT_EQ(DecodeFile(path).result, 0);
    // DecodeFile itself locks the picture once more.
    int allocs = static_cast<int>(WinstubCallCount(WINSTUB_GLOBAL_ALLOC) - allocsBefore);
    int locks = static_cast<int>(WinstubCallCount(WINSTUB_GLOBAL_LOCK) - locksBefore) - 1;
    ASSERT_GT(allocs, 10);
    for (int call = WINSTUB_GLOBAL_ALLOC; call <= WINSTUB_GLOBAL_LOCK; ++call) {
        int count = call == WINSTUB_GLOBAL_ALLOC ? allocs : locks;
        for (int nth = 1; nth <= count; ++nth) {
            long blocks = WinstubLiveBlocks();
            WinstubFailCall(static_cast<WinstubCall>(call), nth);
            HGLOBAL picture = nullptr;
            DecoderResult r = DecodeJpegFile(path.c_str(), &picture);
            WinstubResetFailures();
            if (call == WINSTUB_GLOBAL_ALLOC)
                EXPECT_TRUE(r == 101 || r == 102) << "alloc " << nth << ": " << r;
            else
                EXPECT_EQ(r, 102) << "lock " << nth;
            EXPECT_EQ(picture, nullptr);
            EXPECT_EQ(WinstubLiveBlocks(), blocks) << call << " " << nth;
            EXPECT_EQ(WinstubLiveLocks(), 0) << call << " " << nth;
        }
    }
    // The first allocation is the file buffer (101), the last the DIB (101); the
    // lookup tables of a Huffman table give 102 also when allocating fails.
    WinstubFailCall(WINSTUB_GLOBAL_ALLOC, 1);
    EXPECT_EQ(DecodeFile(path).result, 101);
    WinstubFailCall(WINSTUB_GLOBAL_ALLOC, allocs);
    EXPECT_EQ(DecodeFile(path).result, 101);
    WinstubFailCall(WINSTUB_GLOBAL_ALLOC, 5);
    EXPECT_EQ(DecodeFile(path).result, 102);
    WinstubResetFailures();
}

TEST(InjectedFailures, FileCalls) {
    std::string path = DataPath(COLOUR_PICTURE);
    WinstubFailCall(WINSTUB_CREATE_FILE, 1);
    EXPECT_EQ(DecodeFile(path).result, 103);
    WinstubFailCall(WINSTUB_SET_FILE_POINTER, 1);
    EXPECT_EQ(DecodeFile(path).result, 104);
    WinstubFailCall(WINSTUB_SET_FILE_POINTER, 2);
    EXPECT_EQ(DecodeFile(path).result, 104);
    WinstubFailCall(WINSTUB_READ_FILE, 1);
    long blocks = WinstubLiveBlocks();
    EXPECT_EQ(DecodeFile(path).result, 104);
    EXPECT_EQ(WinstubLiveBlocks(), blocks);
    WinstubResetFailures();
}

TEST(DecodeJpegFile, PictureGivenUpOnEntryIsFreed) {
    long blocks = WinstubLiveBlocks();
    HGLOBAL old = GlobalAlloc(GMEM_MOVEABLE, 100);
    HGLOBAL picture = old;
    EXPECT_EQ(DecodeJpegFile(WorkPath("does-not-exist.jpg").c_str(), &picture), 103);
    EXPECT_EQ(picture, nullptr);
    EXPECT_EQ(WinstubLiveBlocks(), blocks);
    picture = GlobalAlloc(GMEM_MOVEABLE, 100);
    EXPECT_EQ(DecodeJpegFile(DataPath(COLOUR_PICTURE).c_str(), &picture), 0);
    EXPECT_EQ(WinstubLiveBlocks(), blocks + 1);
    GlobalFree(picture);
}
#endif

TEST(DecodeJpegFile, FourHuffmanTablesInOneSegment) {
    Bytes original = ReadFileBytes(DataPath(COLOUR_PICTURE));
    Bytes tables;
    Bytes rest = original;
    for (long at = Segment(rest, 0xC4); at >= 0; at = Segment(rest, 0xC4)) {
        Bytes payload = Payload(rest, at);
        tables.insert(tables.end(), payload.begin(), payload.end());
        rest = ReplaceSegment(rest, at, {});
    }
    long sos = Segment(rest, 0xDA);
    Decoded d = DecodeBytes(Insert(rest, sos, JpegSegment(0xC4, tables)), "one-dht.jpg");
    EXPECT_EQ(d.result, 0);
    EXPECT_EQ(d.dib, DecodeFile(DataPath(COLOUR_PICTURE)).dib);
}

// The context starts zero-filled: when quantisation slot 0 is never defined,
// its first entry reads 0 and the DC start value is 1024 (instead of 1024 / Q0),
// which here lifts every grey sample far above 255.
TEST(DecodeJpegFile, DcStartValueWhenSlotZeroIsNeverDefined) {
    Bytes b = ReadFileBytes(DataPath(GREY_PICTURE));
    long dqt = Segment(b, 0xDB), sof = Segment(b, 0xC0);
    ASSERT_EQ(b[dqt + 4], 0x00);
    b[dqt + 4] = 0x01;          // the table goes to slot 1
    b[sof + 4 + 6 + 2] = 0x01;  // and the component uses slot 1
    Decoded d = DecodeBytes(b, "slot-one.jpg");
    ASSERT_EQ(d.result, 0);
    for (int x = 0; x < 17; ++x) EXPECT_EQ(PixelAt(d, x, 0)[0], 255) << x;
}
