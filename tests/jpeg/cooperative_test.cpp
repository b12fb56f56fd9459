// DecodeJpegFileCooperative: with an empty queue it decodes every test picture
// exactly as DecodeJpegFile (result, header, pixels), in a block of the height
// rounded up to 8 rows; a quit message ends the decode and is posted again; a
// picture without a full MCU row never looks at the queue. These run natively
// (whose stand-in queue holds only the quit message) and under Wine.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "test_support.h"

#ifndef _WIN32
#include <winstub_testing.h>
#endif

namespace {

Decoded DecodeCooperatively(const std::string& path) {
    Decoded d;
    HGLOBAL picture = nullptr;
    d.result = DecodeJpegFileCooperative(path.c_str(), &picture);
    if (picture != nullptr) {
        const std::uint8_t* p = static_cast<const std::uint8_t*>(GlobalLock(picture));
        d.dib.assign(p, p + GlobalSize(picture));
        GlobalUnlock(picture);
        GlobalFree(picture);
    }
    return d;
}

std::size_t Stride(const Decoded& d) {
    return (static_cast<std::size_t>(DibWidth(d)) * 3 + 3) & ~static_cast<std::size_t>(3);
}

// The header and the picture rows (not the spare rows, whose number differs).
Bytes HeaderAndPixels(const Decoded& d) {
    std::size_t bytes = 40 + static_cast<std::size_t>(DibHeight(d)) * Stride(d);
    return Bytes(d.dib.begin(), d.dib.begin() + std::min(bytes, d.dib.size()));
}

void ExpectSameDecode(const std::string& path) {
    Decoded ordinary = DecodeFile(path), cooperative = DecodeCooperatively(path);
    ASSERT_EQ(cooperative.result, ordinary.result) << path;
    if (ordinary.result != 0) {
        EXPECT_TRUE(cooperative.dib.empty()) << path;
        return;
    }
    EXPECT_TRUE(HeaderAndPixels(cooperative) == HeaderAndPixels(ordinary)) << path;
    std::size_t paddedRows =
        (static_cast<std::size_t>(DibHeight(ordinary)) + 7) & ~static_cast<std::size_t>(7);
    EXPECT_EQ(cooperative.dib.size(), 40 + (paddedRows + 15) * Stride(ordinary)) << path;
    for (std::size_t i = 40 + DibHeight(ordinary) * Stride(ordinary); i < cooperative.dib.size();
         ++i)
        ASSERT_EQ(cooperative.dib[i], 0) << path << ": spare byte " << i;
}

bool QuitMessageWaiting(int* exitCode) {
    MSG message;
    if (!PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) return false;
    *exitCode = static_cast<int>(message.wParam);
    return true;
}

void SetFrameHeight(Bytes* b, int height) {
    long sof = FindMarker(*b, 0xC0);
    PutBe16(*b, sof + 5, height);
}

}  // namespace

TEST(Cooperative, EmptyQueueDecodesEveryTestPictureAsTheOrdinaryEntry) {
    std::vector<std::string> paths = ListFiles(HostPath(JPEG_TEST_DATA_DIR), ".jpg");
    for (const std::string& path : ListFiles(DataPath("bench"), ".jpg")) paths.push_back(path);
    for (const std::string& path : ListFiles(RegressionsDir(), "")) paths.push_back(path);
    ASSERT_GE(paths.size(), 30u);
    for (const std::string& path : paths) ExpectSameDecode(path);
}

TEST(Cooperative, TruncatedAndTallPictures) {
    Bytes original = ReadFileBytes(DataPath("coffee-641x481-1x2.jpg"));
    Bytes cut(original.begin(), original.begin() + original.size() / 3);
    WriteFileBytes(WorkPath("coop-cut.jpg"), cut);
    ExpectSameDecode(WorkPath("coop-cut.jpg"));
    // Heights from 65,529 round up to 65,536 rows: the block must hold them all
    // (the data runs out after a few rows; the rows are written from the top,
    // at the far end of the block).
    for (int height : {65529, 65535}) {
        for (const char* name : {"chelsea-17x17-grey.jpg", "chelsea-17x17-2x2.jpg"}) {
            Bytes b = ReadFileBytes(DataPath(name));
            SetFrameHeight(&b, height);
            WriteFileBytes(WorkPath("coop-tall.jpg"), b);
            ExpectSameDecode(WorkPath("coop-tall.jpg"));
        }
    }
}

TEST(Cooperative, QuitMessageEndsTheDecodeAndIsPostedAgain) {
    std::string path = DataPath("coffee-641x481-2x2.jpg");
    Decoded ordinary = DecodeFile(path);
    ASSERT_EQ(ordinary.result, 0);
    PostQuitMessage(37);
    Decoded d = DecodeCooperatively(path);
    int code = 0;
    ASSERT_TRUE(QuitMessageWaiting(&code));
    EXPECT_EQ(code, 37);
    EXPECT_FALSE(QuitMessageWaiting(&code)) << "posted again once, not once per row";
    // The quit came before the first whole MCU: a picture with the ordinary
    // header and nothing decoded.
    ASSERT_EQ(d.result, 0);
    EXPECT_TRUE(std::memcmp(d.dib.data(), ordinary.dib.data(), 40) == 0);
    std::size_t nonzero = 0;
    for (std::size_t i = 40; i < d.dib.size(); ++i) nonzero += d.dib[i] != 0;
    EXPECT_EQ(nonzero, 0u);
}

TEST(Cooperative, PictureWithoutAFullMcuRowNeverLooksAtTheQueue) {
    // MCU heights 16 (2x2, 1x2) and 8 (1x1, 2x1, grey) against heights 9 and 1.
    for (const char* name : {"chelsea-33x9-2x2.jpg", "chelsea-33x9-1x2.jpg", "chelsea-1x1-1x1.jpg",
                             "chelsea-1x1-2x2.jpg", "chelsea-1x1-grey.jpg"}) {
        std::string path = DataPath(name);
        Decoded ordinary = DecodeFile(path);
        PostQuitMessage(5);
#ifndef _WIN32
        long peeks = WinstubPeekMessageCount();
#endif
        Decoded d = DecodeCooperatively(path);
#ifndef _WIN32
        EXPECT_EQ(WinstubPeekMessageCount(), peeks) << name;
#endif
        int code = 0;
        EXPECT_TRUE(QuitMessageWaiting(&code)) << name;
        EXPECT_EQ(code, 5);
        ASSERT_EQ(d.result, 0) << name;
        EXPECT_TRUE(HeaderAndPixels(d) == HeaderAndPixels(ordinary)) << name;
    }
}

#ifndef _WIN32
// The queue is looked at once before every whole MCU of the full MCU rows and
// nowhere else (not for the right-edge or bottom MCUs).
TEST(Cooperative, OneLookAtTheQueuePerWholeMcu) {
    struct Case {
        const char* name;
        long wholeMcus;
    } cases[] = {
        {"chelsea-33x9-1x1.jpg",
         4},  // one full row of 4 whole MCUs, a clipped column, a bottom row
        {"chelsea-33x9-2x1.jpg", 2},       // 16 x 8 MCUs
        {"chelsea-17x17-2x2.jpg", 1},      // one whole MCU, its clipped column, the bottom row
        {"coffee-641x481-2x2.jpg", 1200},  // 40 x 30
        {"coffee-641x481-grey.jpg", 4800}  // 80 x 60
    };
    for (const Case& c : cases) {
        long peeks = WinstubPeekMessageCount();
        Decoded d = DecodeCooperatively(DataPath(c.name));
        EXPECT_EQ(d.result, 0);
        EXPECT_EQ(WinstubPeekMessageCount() - peeks, c.wholeMcus) << c.name;
    }
}
#endif
