// The information scan: what it reads from SOF0, DQT, DRI and COM, where it
// stops, what it refuses (with the sanitizers watching that nothing is read
// past the file's data), the record's life and its failures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "info_messages.h"
#include "jpeg_info.h"
#include "test_support.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <iconv.h>
#include <winstub_testing.h>
#endif

namespace {

// SOF0 of a 17 x 9 frame with the given sampling bytes (one per component).
Bytes Frame(std::initializer_list<std::uint8_t> sampling) {
    Bytes p(6 + 3 * sampling.size());
    p[0] = 8;
    p[2] = 9;
    p[4] = 17;
    p[5] = static_cast<std::uint8_t>(sampling.size());
    std::size_t at = 6;
    for (std::uint8_t s : sampling) {
        p[at] = static_cast<std::uint8_t>(at / 3 - 1);  // identifiers 1, 2, ...
        p[at + 1] = s;
        at += 3;
    }
    return JpegSegment(0xC0, p);
}

Bytes QuantTable8(std::uint8_t slot, std::uint8_t first, std::uint8_t rest) {
    Bytes t(65, rest);
    t[0] = slot;
    t[1] = first;
    return t;
}

struct Scanned {
    DecoderResult result = -1;
    JpegInfo info = {};
    Bytes commentBlock;  // the whole comment block, when there is one
};

Scanned ScanFile(const std::string& path) {
    Scanned s;
    HGLOBAL record = nullptr;
    EXPECT_EQ(CreateJpegInfo(&record), 0);
    s.result = ScanJpegInfo(path.c_str(), &record);
    const JpegInfo* info = static_cast<const JpegInfo*>(GlobalLock(record));
    s.info = *info;
    if (info->commentHandle != nullptr) {
        const std::uint8_t* text =
            static_cast<const std::uint8_t*>(GlobalLock(info->commentHandle));
        s.commentBlock.assign(text, text + GlobalSize(info->commentHandle));
        GlobalUnlock(info->commentHandle);
    }
    GlobalUnlock(record);
    DestroyJpegInfo(&record);
    EXPECT_EQ(record, nullptr);
    return s;
}

Scanned ScanBytes(const Bytes& b) {
    WriteFileBytes(WorkPath("info-scan.jpg"), b);
    return ScanFile(WorkPath("info-scan.jpg"));
}

DecoderResult ResultOf(const Bytes& b) { return ScanBytes(b).result; }

}  // namespace

TEST(InfoScan, TestPictures) {
    struct Case {
        const char* name;
        int width, height, grey, mode, restart;
    } cases[] = {
        {"chelsea-17x17-grey.jpg", 17, 17, 1, 0, 0},
        {"chelsea-17x17-2x2.jpg", 17, 17, 0, 4, 0},
        {"chelsea-17x17-1x2.jpg", 17, 17, 0, 3, 0},
        {"chelsea-17x17-2x1.jpg", 17, 17, 0, 2, 0},
        {"chelsea-17x17-1x1.jpg", 17, 17, 0, 1, 0},
        {"astronaut-641x481-2x2-rst1.jpg", 641, 481, 0, 4, 1},
        {"bench/mosaic-2560x1600-2x2.jpg", 2560, 1600, 0, 4, 0},
    };
    for (const Case& c : cases) {
        Scanned s = ScanFile(DataPath(c.name));
        EXPECT_EQ(s.result, 0) << c.name;
        EXPECT_EQ(s.info.width, c.width) << c.name;
        EXPECT_EQ(s.info.height, c.height) << c.name;
        EXPECT_EQ(s.info.isGreyscale, c.grey) << c.name;
        EXPECT_EQ(s.info.samplingMode, c.mode) << c.name;
        EXPECT_EQ(s.info.restartInterval, c.restart) << c.name;
        EXPECT_GT(s.info.averageQuant, 0) << c.name;
        EXPECT_EQ(s.info.commentLength, 0u) << c.name;
        EXPECT_EQ(s.info.commentHandle, nullptr) << c.name;
    }
    // The scan stops at SOF2: nothing of the progressive frame is read.
    Scanned progressive = ScanFile(DataPath("rocket-47x31-progressive.jpg"));
    EXPECT_EQ(progressive.result, 106);
    EXPECT_EQ(progressive.info.width, 0);
    EXPECT_EQ(progressive.info.height, 0);
    EXPECT_EQ(ScanFile(DataPath("rocket-47x31-arithmetic.jpg")).result, 106);
    EXPECT_EQ(ScanFile(WorkPath("no-such-file.jpg")).result, 103);
}

TEST(InfoScan, AverageQuantisationEntry) {
    // Two 8-bit tables, entries summing to 3,200: 3,200 / 128 = 25.
    // Table 0: 2 + 63 x 20 = 1,262; table 1: 48 + 63 x 30 = 1,938.
    Bytes twoTables = Join({QuantTable8(0, 2, 20), QuantTable8(1, 48, 30)});
    Scanned s = ScanBytes(Join({SOI_BYTES, JpegSegment(0xDB, twoTables), EOI_BYTES}));
    EXPECT_EQ(s.result, 0);
    EXPECT_EQ(s.info.averageQuant, 25);
    // The same tables in two segments; then a 16-bit table: (64 x 1,000 + 64 x 0) / 128.
    s = ScanBytes(Join({SOI_BYTES, JpegSegment(0xDB, QuantTable8(0, 2, 20)),
                        JpegSegment(0xDB, QuantTable8(1, 48, 30)), EOI_BYTES}));
    EXPECT_EQ(s.info.averageQuant, 25);
    Bytes wide(129, 0xE8);  // precision 1, slot 0, then 64 x 1,000 (03 E8)
    wide[0] = 0x10;
    for (int i = 0; i < 64; ++i) wide[1 + 2 * i] = 0x03;
    s = ScanBytes(
        Join({SOI_BYTES, JpegSegment(0xDB, Join({wide, QuantTable8(1, 0, 0)})), EOI_BYTES}));
    EXPECT_EQ(s.info.averageQuant, 500);
    // A precision nibble other than 0 and 1 is that one byte and nothing more.
    s = ScanBytes(
        Join({SOI_BYTES, JpegSegment(0xDB, Join({{0x20}, QuantTable8(0, 7, 7)})), EOI_BYTES}));
    EXPECT_EQ(s.result, 0);
    EXPECT_EQ(s.info.averageQuant, 7);
    // No DQT.
    s = ScanBytes(Join({SOI_BYTES, Frame({0x11}), EOI_BYTES}));
    EXPECT_EQ(s.result, 0);
    EXPECT_EQ(s.info.averageQuant, 0);
}

TEST(InfoScan, FrameLayouts) {
    auto modeOf = [](std::initializer_list<std::uint8_t> sampling) {
        Scanned s = ScanBytes(Join({SOI_BYTES, Frame(sampling), EOI_BYTES}));
        EXPECT_EQ(s.result, 0);
        return s.info.samplingMode;
    };
    EXPECT_EQ(modeOf({0x22, 0x11, 0x11}), 4);
    EXPECT_EQ(modeOf({0x12, 0x11, 0x11}), 3);
    EXPECT_EQ(modeOf({0x21, 0x11, 0x11}), 2);
    EXPECT_EQ(modeOf({0x11, 0x11, 0x11}), 1);
    EXPECT_EQ(modeOf({0x22, 0x21, 0x11}), 0);  // outside the four layouts: no refusal here
    EXPECT_EQ(modeOf({0x44, 0x11, 0x11}), 0);
    EXPECT_EQ(modeOf({0x22}), 0);
    EXPECT_EQ(modeOf({0x22, 0x11, 0x11, 0x11}), 0);
    Scanned grey = ScanBytes(Join({SOI_BYTES, Frame({0x22}), EOI_BYTES}));
    EXPECT_EQ(grey.info.isGreyscale, 1);
    EXPECT_EQ(grey.info.width, 17);
    EXPECT_EQ(grey.info.height, 9);
    // The last SOF0 before the end is the one reported.
    Scanned two = ScanBytes(Join({SOI_BYTES, Frame({0x22}), Frame({0x21, 0x11, 0x11}), EOI_BYTES}));
    EXPECT_EQ(two.info.isGreyscale, 0);
    EXPECT_EQ(two.info.samplingMode, 2);
    // Without SOF0, greyscale and layout stay 0 whatever else the file holds.
    Scanned none = ScanBytes(Join({SOI_BYTES, JpegSegment(0xDD, {0x00, 0x10}), EOI_BYTES}));
    EXPECT_EQ(none.result, 0);
    EXPECT_EQ(none.info.isGreyscale, 0);
    EXPECT_EQ(none.info.samplingMode, 0);
    EXPECT_EQ(none.info.restartInterval, 16);
}

TEST(InfoScan, RestartIntervalAndComments) {
    Scanned s = ScanBytes(
        Join({SOI_BYTES, JpegSegment(0xDD, {0x01, 0x04}), JpegSegment(0xFE, Text("first comment")),
              JpegSegment(0xFE, Text("se\xFF\xD9nd")), Frame({0x11}), EOI_BYTES}));
    EXPECT_EQ(s.result, 0);
    EXPECT_EQ(s.info.restartInterval, 260);
    // The second comment is kept (its FF D9 is text, not the end of the image),
    // followed by at least five zero bytes.
    EXPECT_EQ(s.info.commentLength, 6u);
    ASSERT_GE(s.commentBlock.size(), 11u);
    EXPECT_EQ(Bytes(s.commentBlock.begin(), s.commentBlock.begin() + 6), Text("se\xFF\xD9nd"));
    EXPECT_TRUE(std::all_of(s.commentBlock.begin() + 6, s.commentBlock.end(),
                            [](std::uint8_t b) { return b == 0; }));
    EXPECT_EQ(s.info.width, 17);  // the frame after the comment was read
    // An empty comment is a comment of length 0, with its five zero bytes.
    s = ScanBytes(Join({SOI_BYTES, JpegSegment(0xFE, {}), EOI_BYTES}));
    EXPECT_EQ(s.info.commentLength, 0u);
    EXPECT_EQ(s.commentBlock, Bytes(5, 0));
}

TEST(InfoScan, WhereTheScanEnds) {
    // At EOI without any SOS: 0.
    Scanned s =
        ScanBytes(Join({SOI_BYTES, Frame({0x11}), EOI_BYTES, JpegSegment(0xDD, {0x00, 0x09})}));
    EXPECT_EQ(s.result, 0);
    EXPECT_EQ(s.info.restartInterval, 0);
    // At SOS, which wants L bytes after its length field (two more than it holds).
    Bytes sos = JpegSegment(0xDA, {1, 1, 0x00, 0, 63, 0});
    EXPECT_EQ(ResultOf(Join({SOI_BYTES, Frame({0x11}), sos})), 105);
    EXPECT_EQ(ResultOf(Join({SOI_BYTES, Frame({0x11}), sos, {0x00}})), 105);
    s = ScanBytes(
        Join({SOI_BYTES, Frame({0x11}), sos, {0x00, 0x00}, JpegSegment(0xDD, {0x00, 0x09})}));
    EXPECT_EQ(s.result, 0);
    EXPECT_EQ(s.info.restartInterval, 0);  // nothing after SOS is read
    EXPECT_EQ(ResultOf(Join({SOI_BYTES, JpegSegmentWithLength(0xDA, 1, {0, 0, 0, 0}), EOI_BYTES})),
              105);
    // Running out of data before SOS or EOI.
    EXPECT_EQ(ResultOf(Join({SOI_BYTES, Frame({0x11})})), 105);
    // A second SOI is remembered; the scan goes on.
    s = ScanBytes(Join({SOI_BYTES, JpegSegment(0xDB, QuantTable8(0, 9, 9)), SOI_BYTES,
                        Frame({0x22, 0x11, 0x11}), EOI_BYTES}));
    EXPECT_EQ(s.result, 105);
    EXPECT_EQ(s.info.samplingMode, 4);
    EXPECT_EQ(s.info.averageQuant, 9);
    // SOI is searched as the decoder does.
    EXPECT_EQ(ResultOf({}), 105);
    EXPECT_EQ(ResultOf(Join({EOI_BYTES, SOI_BYTES, EOI_BYTES})), 105);
    EXPECT_EQ(ResultOf(Join({{0x00, 0x12}, SOI_BYTES, Frame({0x11}), EOI_BYTES})), 0);
    // Segments the scan does not read are skipped, also when they hold marker-like bytes.
    s = ScanBytes(Join({SOI_BYTES, JpegSegment(0xE1, {0xFF, 0xC0, 0xFF, 0xD9}),
                        JpegSegment(0xC4, {0xFF, 0xDD}), Frame({0x11}), EOI_BYTES}));
    EXPECT_EQ(s.result, 0);
    EXPECT_EQ(s.info.width, 17);
}

// Lengths that disagree with the contents, and segments that would run past
// the data, are refused with 105; under the sanitizers nothing is read beyond
// the file buffer (the lengths reach far past its 1000 spare bytes).
TEST(InfoScan, MalformedSegmentsAre105) {
    Bytes fiveComponents = Frame({0x11, 0x11, 0x11, 0x11, 0x11});
    EXPECT_EQ(ResultOf(Join({SOI_BYTES, fiveComponents, EOI_BYTES})), 105);
    Bytes manyComponents(6 + 3 * 255, 0x11);
    manyComponents[0] = 8;
    manyComponents[1] = manyComponents[3] = 0;
    manyComponents[2] = 9;
    manyComponents[4] = 17;
    manyComponents[5] = 255;
    EXPECT_EQ(ResultOf(Join({SOI_BYTES, JpegSegment(0xC0, manyComponents), EOI_BYTES})), 105);
    Bytes frame = Frame({0x22, 0x11, 0x11});
    Bytes shortFrame = JpegSegmentWithLength(0xC0, static_cast<int>(frame.size()) - 3,
                                             Bytes(frame.begin() + 4, frame.end()));
    EXPECT_EQ(ResultOf(Join({SOI_BYTES, shortFrame, EOI_BYTES})), 105)
        << "SOF0 length shorter than its components";
    EXPECT_EQ(
        ResultOf(Join({SOI_BYTES, JpegSegmentWithLength(0xC0, 7, {8, 0, 9, 0, 17}), EOI_BYTES})),
        105);
    EXPECT_EQ(ResultOf(Join({SOI_BYTES, JpegSegmentWithLength(0xC0, 60000, {8, 0, 9, 0, 17, 3})})),
              105);

    Bytes table = QuantTable8(0, 1, 1);
    EXPECT_EQ(ResultOf(Join({SOI_BYTES, JpegSegmentWithLength(0xDB, 3, table), EOI_BYTES})), 105)
        << "DQT length 3";
    EXPECT_EQ(ResultOf(Join({SOI_BYTES, JpegSegmentWithLength(0xDB, 2 + 40, table), EOI_BYTES})),
              105);
    EXPECT_EQ(ResultOf(Join({SOI_BYTES, JpegSegment(0xDB, {0x10, 1, 2, 3}), EOI_BYTES})), 105)
        << "16-bit table cut short";
    EXPECT_EQ(ResultOf(Join({SOI_BYTES, JpegSegmentWithLength(0xDB, 60000, table)})), 105);
    EXPECT_EQ(ResultOf(Join({SOI_BYTES, JpegSegmentWithLength(0xDB, 1, {}), EOI_BYTES})), 105);

    EXPECT_EQ(ResultOf(Join({SOI_BYTES, JpegSegmentWithLength(0xDD, 3, {0x01}), EOI_BYTES})), 105)
        << "DRI without its interval";
    EXPECT_EQ(ResultOf(Join({SOI_BYTES, JpegSegmentWithLength(0xDD, 4, {0x01})})), 105)
        << "DRI past the end";
    Scanned longDri =
        ScanBytes(Join({SOI_BYTES, JpegSegmentWithLength(0xDD, 6, {0x00, 0x07, 0xFF, 0xD9}),
                        Frame({0x11}), EOI_BYTES}));
    EXPECT_EQ(longDri.result, 0) << "a longer DRI is skipped whole, as the decoder skips it";
    EXPECT_EQ(longDri.info.width, 17);
    EXPECT_EQ(longDri.info.restartInterval, 7);

    EXPECT_EQ(ResultOf(Join({SOI_BYTES, JpegSegmentWithLength(0xFE, 60000, Text("short"))})), 105)
        << "COM past the end";
    EXPECT_EQ(ResultOf(Join({SOI_BYTES, JpegSegmentWithLength(0xFE, 1, {}), EOI_BYTES})), 105);
    EXPECT_EQ(ResultOf(Join({SOI_BYTES, JpegSegmentWithLength(0xE0, 60000, Text("JFIF"))})), 105)
        << "APP0 past the end";
    EXPECT_EQ(ResultOf(Join({SOI_BYTES, JpegSegmentWithLength(0xE0, 0, {}), EOI_BYTES})), 105);
}

TEST(InfoScan, RecordLife) {
    HGLOBAL record = nullptr;
    ASSERT_EQ(CreateJpegInfo(&record), 0);
    ASSERT_NE(record, nullptr);
    EXPECT_GE(GlobalSize(record), JPEG_INFO_BYTES);
    const std::uint8_t* bytes = static_cast<const std::uint8_t*>(GlobalLock(record));
    EXPECT_TRUE(std::all_of(bytes, bytes + JPEG_INFO_BYTES, [](std::uint8_t b) { return b == 0; }));
    GlobalUnlock(record);
#ifndef _WIN32
    long blocks = WinstubLiveBlocks();
#endif
    WriteFileBytes(WorkPath("info-com1.jpg"),
                   Join({SOI_BYTES, JpegSegment(0xFE, Text("one")), Frame({0x11}), EOI_BYTES}));
    WriteFileBytes(WorkPath("info-com2.jpg"), Join({SOI_BYTES, JpegSegment(0xFE, Text("second")),
                                                    JpegSegment(0xDD, {0, 4}), EOI_BYTES}));
    ASSERT_EQ(ScanJpegInfo(WorkPath("info-com1.jpg").c_str(), &record), 0);
    // A second scan with the same record frees the first comment and clears the
    // fields the second file does not set.
    ASSERT_EQ(ScanJpegInfo(WorkPath("info-com2.jpg").c_str(), &record), 0);
#ifndef _WIN32
    EXPECT_EQ(WinstubLiveBlocks(), blocks + 1);
    EXPECT_EQ(WinstubLiveLocks(), 0);
#endif
    JpegInfo* info = static_cast<JpegInfo*>(GlobalLock(record));
    EXPECT_EQ(info->commentLength, 6u);
    EXPECT_EQ(info->width, 0);
    EXPECT_EQ(info->restartInterval, 4);
    GlobalUnlock(record);
    ASSERT_EQ(ScanJpegInfo(DataPath("chelsea-17x17-grey.jpg").c_str(), &record), 0);
    info = static_cast<JpegInfo*>(GlobalLock(record));
    EXPECT_EQ(info->commentLength, 0u);
    EXPECT_EQ(info->commentHandle, nullptr);
    EXPECT_EQ(info->restartInterval, 0);
    GlobalUnlock(record);
#ifndef _WIN32
    EXPECT_EQ(WinstubLiveBlocks(), blocks);
#endif
    ASSERT_EQ(ScanJpegInfo(WorkPath("info-com1.jpg").c_str(), &record), 0);
    DestroyJpegInfo(&record);
    EXPECT_EQ(record, nullptr);
#ifndef _WIN32
    EXPECT_EQ(WinstubLiveBlocks(), blocks - 1);
#endif
    DestroyJpegInfo(&record);  // a null handle does nothing
    DestroyJpegInfo(nullptr);
}

// The warning texts, decoded as code page 932, are the system's own, and so
// are their wide forms.
TEST(InfoScan, WarningTextsAreShiftJisAndWide) {
    const char* expectedCaption = "ＪＰＥＧコメントエラー";
    const char* expectedText = "コメント用のメモリが初期化されていません";
    EXPECT_EQ(std::strlen(JPEG_INFO_WARNING_CAPTION.ansi), 22u);  // eleven double-byte characters
    EXPECT_EQ(std::wstring(JPEG_INFO_WARNING_CAPTION.wide), L"ＪＰＥＧコメントエラー");
    EXPECT_EQ(std::wstring(JPEG_INFO_WARNING_TEXT.wide),
              L"コメント用のメモリが初期化されていません");
#ifdef _WIN32
    auto toUtf8 = [](const char* cp932) {
        wchar_t wide[128] = {};
        int n = MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, cp932, -1, wide, 128);
        char utf8[512] = {};
        if (n > 0) WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8, sizeof utf8, nullptr, nullptr);
        return std::string(utf8);
    };
#else
    auto toUtf8 = [](const char* cp932) {
        iconv_t cd = iconv_open("UTF-8", "CP932");
        if (cd == reinterpret_cast<iconv_t>(-1)) return std::string("(no CP932 converter)");
        char out[512] = {};
        char *in = const_cast<char*>(cp932), *to = out;
        std::size_t inLeft = std::strlen(cp932), outLeft = sizeof out - 1;
        std::size_t rc = iconv(cd, &in, &inLeft, &to, &outLeft);
        iconv_close(cd);
        return rc == static_cast<std::size_t>(-1) ? std::string("(not CP932)") : std::string(out);
    };
#endif
    EXPECT_EQ(toUtf8(JPEG_INFO_WARNING_CAPTION.ansi), expectedCaption);
    EXPECT_EQ(toUtf8(JPEG_INFO_WARNING_TEXT.ansi), expectedText);
}

#ifndef _WIN32
// The stand-in's boxes write to stderr (the Unicode one as UTF-8): NT gets the
// Unicode box, 9x the Shift-JIS one. (cooperative_windows_test.cpp: the real one.)
TEST(InfoScan, NullRecordShowsTheWarningAndGives101) {
    long blocks = WinstubLiveBlocks(), opens = WinstubCallCount(WINSTUB_CREATE_FILE);
    for (bool windows9x : {true, false}) {
        WinstubSetWindows9x(windows9x);
        HGLOBAL record = nullptr;
        testing::internal::CaptureStderr();
        EXPECT_EQ(ScanJpegInfo(DataPath("chelsea-17x17-grey.jpg").c_str(), &record), 101);
        EXPECT_EQ(testing::internal::GetCapturedStderr(),
                  windows9x ? std::string(JPEG_INFO_WARNING_CAPTION.ansi) + ": " +
                                  JPEG_INFO_WARNING_TEXT.ansi + "\n"
                            : "ＪＰＥＧコメントエラー: コメント用のメモリが初期化されていません\n");
        EXPECT_EQ(record, nullptr);
    }
    EXPECT_EQ(WinstubLiveBlocks(), blocks);  // nothing else happened
    EXPECT_EQ(WinstubCallCount(WINSTUB_CREATE_FILE), opens);
}

TEST(InfoScan, InjectedFailures) {
    long blocks = WinstubLiveBlocks();
    HGLOBAL record = reinterpret_cast<HGLOBAL>(1);
    WinstubFailCall(WINSTUB_GLOBAL_ALLOC, 1);
    EXPECT_EQ(CreateJpegInfo(&record), 102);
    EXPECT_EQ(record, nullptr);
    WinstubFailCall(WINSTUB_GLOBAL_LOCK, 1);
    EXPECT_EQ(CreateJpegInfo(&record), 101);
    EXPECT_EQ(record, nullptr);
    EXPECT_EQ(WinstubLiveBlocks(), blocks);

    ASSERT_EQ(CreateJpegInfo(&record), 0);
    std::string path = WorkPath("info-failures.jpg");
    WriteFileBytes(path, Join({SOI_BYTES, JpegSegment(0xDB, QuantTable8(0, 5, 5)),
                               JpegSegment(0xFE, Text("k\xFF\xD9pt")), Frame({0x11}), EOI_BYTES}));
    auto scan = [&](WinstubCall call, int nth) {
        WinstubFailCall(call, nth);
        DecoderResult r = ScanJpegInfo(path.c_str(), &record);
        WinstubResetFailures();
        EXPECT_EQ(WinstubLiveLocks(), 0);
        return r;
    };
    auto info = [&]() {
        JpegInfo copy = *static_cast<JpegInfo*>(GlobalLock(record));
        GlobalUnlock(record);
        return copy;
    };
    EXPECT_EQ(scan(WINSTUB_GLOBAL_LOCK, 1), 102);  // the record
    EXPECT_EQ(scan(WINSTUB_CREATE_FILE, 1), 103);
    EXPECT_EQ(scan(WINSTUB_SET_FILE_POINTER, 1), 104);
    EXPECT_EQ(scan(WINSTUB_READ_FILE, 1), 104);
    EXPECT_EQ(scan(WINSTUB_GLOBAL_ALLOC, 1), 101);  // the file buffer
    EXPECT_EQ(scan(WINSTUB_GLOBAL_LOCK, 2), 102);
    EXPECT_EQ(WinstubLiveBlocks(), blocks + 1);
    // The comment's block: 101 at the end of an otherwise complete scan; the
    // text is passed over even so (its FF D9 is not the end of the image).
    for (int lock : {0, 1}) {
        DecoderResult r = lock ? scan(WINSTUB_GLOBAL_LOCK, 3) : scan(WINSTUB_GLOBAL_ALLOC, 2);
        EXPECT_EQ(r, 101) << lock;
        JpegInfo i = info();
        EXPECT_EQ(i.commentLength, 5u);
        EXPECT_EQ(i.commentHandle, nullptr);
        EXPECT_EQ(i.width, 17);
        EXPECT_EQ(i.averageQuant, 5);
        EXPECT_EQ(WinstubLiveBlocks(), blocks + 1) << lock;
    }
    ASSERT_EQ(ScanJpegInfo(path.c_str(), &record), 0);
    HGLOBAL comment = info().commentHandle;
    ASSERT_NE(comment, nullptr);
    // A record that cannot be locked is still freed (its comment block, out of
    // reach without the lock, is not).
    WinstubFailCall(WINSTUB_GLOBAL_LOCK, 1);
    DestroyJpegInfo(&record);
    WinstubResetFailures();
    EXPECT_EQ(record, nullptr);
    EXPECT_EQ(WinstubLiveBlocks(), blocks + 1);
    EXPECT_EQ(GlobalFree(comment), nullptr);
    EXPECT_EQ(WinstubLiveBlocks(), blocks);
}
#endif
