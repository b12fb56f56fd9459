// Under Wine, with a real message queue and a window of the test's thread:
// messages queued before a cooperative decode are dispatched before its first
// whole MCU; the window keeps answering during a long decode (and does not
// during the ordinary one); a quit message ends the decode and is in the
// queue again afterwards; a picture without a full MCU row leaves the queue
// alone. Also the information scan's warning box, as the user sees it.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <vector>

#include "jpeg_info.h"
#include "test_support.h"

namespace {

const UINT MSG_QUEUED = WM_APP + 1, MSG_LATE = WM_APP + 2, MSG_PING = WM_APP + 3;

// What the window procedure sees of the decode in progress.
HGLOBAL* g_picture;          // the caller's picture variable during the decode
const Decoded* g_reference;  // the ordinary decode of the same file
bool g_decoding;
std::vector<WPARAM> g_dispatched;
std::vector<bool> g_firstMcuDone;  // per dispatched MSG_QUEUED / MSG_LATE
int g_pingsWhileDecoding, g_pingsMidPicture;
int g_quitAfterPings;  // > 0: post the quit message at this many pings mid-picture

// Whether the 16 x 16 MCU at (x, y) of the picture being decoded already holds
// the reference's pixels (false while it is still black).
bool McuDone(int x, int y) {
    if (g_picture == nullptr || *g_picture == nullptr) return false;
    const std::uint8_t* block = static_cast<const std::uint8_t*>(GlobalLock(*g_picture));
    if (block == nullptr) return false;
    int height = DibHeight(*g_reference);
    std::size_t stride =
        (static_cast<std::size_t>(DibWidth(*g_reference)) * 3 + 3) & ~static_cast<std::size_t>(3);
    bool same = true;
    for (int r = 0; r < 16 && same; ++r) {
        const std::uint8_t* row = block + 40 + stride * (height - 1 - (y + r)) + 3 * x;
        same = std::memcmp(row, PixelAt(*g_reference, x, y + r), 48) == 0;
    }
    GlobalUnlock(*g_picture);
    return same;
}

LRESULT CALLBACK TestWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case MSG_QUEUED:
        case MSG_LATE:
            g_dispatched.push_back(wParam);
            g_firstMcuDone.push_back(McuDone(0, 0));
            // A message posted while the queue is drained is drained too.
            if (message == MSG_QUEUED && wParam == 2) PostMessageA(window, MSG_LATE, 100, 0);
            return 0;
        case MSG_PING:
            if (g_decoding) {
                ++g_pingsWhileDecoding;
                int w = DibWidth(*g_reference), h = DibHeight(*g_reference);
                if (McuDone(0, 0) && !McuDone(w - 16, h - 16)) {
                    ++g_pingsMidPicture;
                    if (g_quitAfterPings > 0 && g_pingsMidPicture == g_quitAfterPings)
                        PostQuitMessage(42);
                }
            }
            return 1;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

class CooperativeUnderWine : public testing::Test {
protected:
    void SetUp() override {
        WNDCLASSA cls = {};
        cls.lpfnWndProc = TestWindowProc;
        cls.hInstance = GetModuleHandleA(nullptr);
        cls.lpszClassName = "DunmereCooperativeTest";
        RegisterClassA(&cls);  // already registered by an earlier test: fine
        window_ = CreateWindowExA(0, cls.lpszClassName, "cooperative", WS_POPUP, 0, 0, 10, 10,
                                  nullptr, nullptr, cls.hInstance, nullptr);
        ASSERT_NE(window_, nullptr);
        Drain();
        g_dispatched.clear();
        g_firstMcuDone.clear();
        g_pingsWhileDecoding = g_pingsMidPicture = g_quitAfterPings = 0;
    }
    void TearDown() override {
        DestroyWindow(window_);
        Drain();
        g_picture = nullptr;
        g_reference = nullptr;
    }
    static void Drain() {
        MSG m;
        while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&m);
    }
    // Decodes cooperatively with the window procedure watching; the picture
    // variable stays readable for it during the decode.
    Decoded Decode(const std::string& path, const Decoded& reference) {
        HGLOBAL picture = nullptr;
        g_picture = &picture;
        g_reference = &reference;
        g_decoding = true;
        Decoded d;
        d.result = DecodeJpegFileCooperative(path.c_str(), &picture);
        g_decoding = false;
        g_picture = nullptr;
        if (picture != nullptr) {
            const std::uint8_t* p = static_cast<const std::uint8_t*>(GlobalLock(picture));
            d.dib.assign(p, p + std::min<SIZE_T>(GlobalSize(picture), reference.dib.size()));
            GlobalUnlock(picture);
            GlobalFree(picture);
        }
        return d;
    }
    HWND window_ = nullptr;
};

// A thread that keeps sending MSG_PING to the window (answered only when the
// window's thread looks at its queue) until told to stop.
struct Pinger {
    HWND window;
    std::atomic<bool> stop{false};
    std::atomic<int> answered{0};
    HANDLE thread = nullptr;
    static DWORD WINAPI Run(LPVOID self) {
        Pinger* p = static_cast<Pinger*>(self);
        while (!p->stop) {
            DWORD_PTR result = 0;
            if (SendMessageTimeoutA(p->window, MSG_PING, 0, 0, SMTO_NORMAL, 200, &result))
                ++p->answered;
        }
        return 0;
    }
    // Starts the thread and answers its messages until it is sending steadily,
    // so that it is at work before the decode begins.
    void Start(HWND w) {
        window = w;
        thread = CreateThread(nullptr, 0, Run, this, 0, nullptr);
        for (DWORD start = GetTickCount(); answered < 3 && GetTickCount() - start < 10000;) {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_SENDMESSAGE);
            MSG m;
            PeekMessageA(&m, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        }
    }
    // Stops the thread, answering its last message, without touching posted ones.
    void Finish() {
        stop = true;
        while (MsgWaitForMultipleObjects(1, &thread, FALSE, 5000, QS_SENDMESSAGE) ==
               WAIT_OBJECT_0 + 1) {
            MSG m;
            PeekMessageA(&m, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        }
        CloseHandle(thread);
    }
};

const char* LARGE_PICTURE = "bench/mosaic-2560x1600-2x2.jpg";  // 16,000 whole MCUs

}  // namespace

TEST_F(CooperativeUnderWine, QueuedMessagesAreDispatchedBeforeTheFirstWholeMcu) {
    std::string path = DataPath("coffee-641x481-2x2.jpg");
    Decoded reference = DecodeFile(path);
    ASSERT_EQ(reference.result, 0);
    for (WPARAM i = 0; i < 5; ++i) PostMessageA(window_, MSG_QUEUED, i, 0);
    Decoded d = Decode(path, reference);
    ASSERT_EQ(d.result, 0);
    EXPECT_EQ(g_dispatched, (std::vector<WPARAM>{0, 1, 2, 3, 4, 100}));
    for (bool done : g_firstMcuDone)
        EXPECT_FALSE(done) << "an MCU was decoded before the queue was empty";
    // Then the first MCU and all the others were decoded, as by the ordinary entry.
    EXPECT_TRUE(
        std::memcmp(d.dib.data() + 40, reference.dib.data() + 40, reference.dib.size() - 40) == 0);
}

TEST_F(CooperativeUnderWine, WindowKeepsAnsweringDuringALongDecode) {
    std::string path = DataPath(LARGE_PICTURE);
    Decoded reference = DecodeFile(path);
    ASSERT_EQ(reference.result, 0);
    ASSERT_EQ(DibWidth(reference), 2560);

    Pinger ordinary;
    ordinary.Start(window_);
    HGLOBAL picture = nullptr;
    g_reference = &reference;
    g_decoding = true;
    EXPECT_EQ(DecodeJpegFile(path.c_str(), &picture), 0);
    g_decoding = false;
    GlobalFree(picture);
    ordinary.Finish();
    EXPECT_EQ(g_pingsWhileDecoding, 0) << "the ordinary decode does not look at the queue";

    Pinger cooperative;
    cooperative.Start(window_);
    Decoded d = Decode(path, reference);
    cooperative.Finish();
    ASSERT_EQ(d.result, 0);
    EXPECT_TRUE(
        std::memcmp(d.dib.data() + 40, reference.dib.data() + 40, reference.dib.size() - 40) == 0);
    // Answers came from inside the decode, also between its first and last MCU.
    EXPECT_GE(g_pingsWhileDecoding, 3);
    EXPECT_GE(g_pingsMidPicture, 2);
    std::printf("pings answered during the decode: %d (%d with the picture part-way)\n",
                g_pingsWhileDecoding, g_pingsMidPicture);
}

TEST_F(CooperativeUnderWine, QuitMessageDuringTheDecodeEndsItAndIsPostedAgain) {
    std::string path = DataPath(LARGE_PICTURE);
    Decoded reference = DecodeFile(path);
    ASSERT_EQ(reference.result, 0);
    g_quitAfterPings = 2;
    Pinger pinger;
    pinger.Start(window_);
    Decoded d = Decode(path, reference);
    // The quit message first, before anything else can take it from the queue.
    MSG quit = {};
    BOOL quitWaiting = PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
    pinger.Finish();
    ASSERT_EQ(d.result, 0);
    ASSERT_GE(g_pingsMidPicture, g_quitAfterPings);
    EXPECT_TRUE(quitWaiting);
    EXPECT_EQ(quit.wParam, 42u);
    // The picture holds the reference's MCUs up to where the quit came, and
    // black after it (2560 x 1600 has no clipped MCUs).
    int w = DibWidth(reference), h = DibHeight(reference);
    auto sameMcu = [&](int x, int y) {
        for (int r = 0; r < 16; ++r)
            if (std::memcmp(PixelAt(d, x, y + r), PixelAt(reference, x, y + r), 48) != 0)
                return false;
        return true;
    };
    auto blackMcu = [&](int x, int y) {
        for (int r = 0; r < 16; ++r)
            for (int k = 0; k < 48; ++k)
                if (PixelAt(d, x, y + r)[k] != 0) return false;
        return true;
    };
    int decoded = 0, total = (w / 16) * (h / 16);
    while (decoded < total && sameMcu(decoded % (w / 16) * 16, decoded / (w / 16) * 16)) ++decoded;
    EXPECT_GT(decoded, 0);
    EXPECT_LT(decoded, total);
    int stray = 0;
    for (int i = decoded; i < total; ++i) stray += !blackMcu(i % (w / 16) * 16, i / (w / 16) * 16);
    EXPECT_EQ(stray, 0) << "MCUs decoded after the quit message";
    std::printf("the quit message ended the decode after %d of %d MCUs\n", decoded, total);
}

TEST_F(CooperativeUnderWine, PictureWithoutAFullMcuRowLeavesTheQueueAlone) {
    // Height 9: no full row of 16-high MCUs; the same picture in 8-high MCUs has one.
    for (const char* name : {"chelsea-33x9-2x2.jpg", "chelsea-33x9-1x1.jpg"}) {
        bool hasFullRow = std::strcmp(name, "chelsea-33x9-1x1.jpg") == 0;
        std::string path = DataPath(name);
        Decoded reference = DecodeFile(path);
        g_dispatched.clear();
        PostMessageA(window_, MSG_QUEUED, 7, 0);
        Decoded d = Decode(path, reference);
        ASSERT_EQ(d.result, 0) << name;
        EXPECT_TRUE(d.dib == reference.dib) << name;
        MSG left = {};
        BOOL waiting = PeekMessageA(&left, window_, MSG_QUEUED, MSG_QUEUED, PM_REMOVE);
        if (hasFullRow) {
            EXPECT_EQ(g_dispatched.size(), 1u) << name;
            EXPECT_FALSE(waiting) << name;
        } else {
            EXPECT_TRUE(g_dispatched.empty()) << name;
            EXPECT_TRUE(waiting) << name;
        }
    }
}

namespace {

struct BoxSeen {
    DWORD thread;
    wchar_t caption[128];
    wchar_t text[256];
    bool found;
};

BOOL CALLBACK FindBox(HWND window, LPARAM lParam) {
    BoxSeen* seen = reinterpret_cast<BoxSeen*>(lParam);
    char cls[32] = {};
    GetClassNameA(window, cls, sizeof cls);
    if (std::strcmp(cls, "#32770") != 0) return TRUE;
    GetWindowTextW(window, seen->caption, 128);
    GetDlgItemTextW(window, 0xFFFF, seen->text, 256);  // the message box's text control
    seen->found = true;
    PostMessageA(window, WM_COMMAND, IDOK, 0);
    return FALSE;
}

DWORD WINAPI WatchForBox(LPVOID parameter) {
    BoxSeen* seen = static_cast<BoxSeen*>(parameter);
    for (int i = 0; i < 500 && !seen->found; ++i) {
        EnumThreadWindows(seen->thread, FindBox, reinterpret_cast<LPARAM>(seen));
        Sleep(20);
    }
    return 0;
}

}  // namespace

// The ANSI texts reach the user through code page 932 (the prefix runs with a
// Japanese locale): the box shows the Japanese caption and text.
TEST(InfoScanUnderWine, NullRecordShowsTheWarningBox) {
    BoxSeen seen = {};
    seen.thread = GetCurrentThreadId();
    HANDLE watcher = CreateThread(nullptr, 0, WatchForBox, &seen, 0, nullptr);
    HGLOBAL record = nullptr;
    DecoderResult result = ScanJpegInfo(DataPath("chelsea-17x17-grey.jpg").c_str(), &record);
    WaitForSingleObject(watcher, 15000);
    CloseHandle(watcher);
    EXPECT_EQ(result, 101);
    ASSERT_TRUE(seen.found);
    EXPECT_EQ(std::wstring(seen.caption), L"ＪＰＥＧコメントエラー");
    EXPECT_EQ(std::wstring(seen.text), L"コメント用のメモリが初期化されていません");
    EXPECT_EQ(record, nullptr);
}
