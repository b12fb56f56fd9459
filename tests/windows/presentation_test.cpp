// Where a picture is placed, how the fitting shrinks the target, and what the
// reveal ticks draw, on a real window and its own device context.
#include "saver_frame.h"
#include "slideshow.h"

#include <gtest/gtest.h>

namespace {

struct Placement {
    int32_t clientWidth, clientHeight;
    int32_t x, y, width, height;
};

Placement Place(int32_t clientWidth, int32_t clientHeight, int32_t fit, int32_t pictureWidth = 640,
                int32_t pictureHeight = 480, bool fromFolder = false) {
    g_slideshow = SlideshowState{};
    g_slideshow.pictureFromFolder = fromFolder;
    g_slideshow.clientWidth = clientWidth;
    g_slideshow.clientHeight = clientHeight;
    g_slideshow.fitToScreen = fit;
    g_slideshow.pictureWidth = pictureWidth;
    g_slideshow.pictureHeight = pictureHeight;
    PlacePicture();
    const SlideshowState& s = g_slideshow;
    return {clientWidth, clientHeight, s.targetX, s.targetY, s.targetWidth, s.targetHeight};
}

void ExpectPlacement(const Placement& got, int32_t x, int32_t y, int32_t width, int32_t height) {
    EXPECT_EQ(got.x, x) << got.clientWidth << "x" << got.clientHeight;
    EXPECT_EQ(got.y, y) << got.clientWidth << "x" << got.clientHeight;
    EXPECT_EQ(got.width, width) << got.clientWidth << "x" << got.clientHeight;
    EXPECT_EQ(got.height, height) << got.clientWidth << "x" << got.clientHeight;
}

TEST(Placement, OriginalSizeIsCentredAndMayOverhang) {
    ExpectPlacement(Place(1024, 768, 0), 192, 144, 640, 480);
    ExpectPlacement(Place(152, 112, 0), -244, -184, 640, 480);
    ExpectPlacement(Place(641, 481, 2), 0, 0, 640,
                    480);  // any value but 1 is original size; halves truncate
    ExpectPlacement(Place(153, 113, 0), -243, -183, 640, 480);  // toward zero, not down
}

TEST(Placement, FittingShrinksTheScreenToThePicturesShapeInFourPixelSteps) {
    ExpectPlacement(Place(1024, 768, 1), 0, 0, 1024, 768);
    ExpectPlacement(Place(800, 600, 1), 0, 0, 800, 600);
    ExpectPlacement(Place(152, 112, 1), 0, 0, 152, 112);
    ExpectPlacement(Place(1280, 1024, 1), 0, 14, 1280, 996);
    ExpectPlacement(Place(1920, 1080, 1), 214, 0, 1492, 1080);
    ExpectPlacement(Place(1366, 768, 1), 152, 0, 1062, 768);
}

// A folder picture keeps its exact shape; at its own size it is shrunk where too large.
TEST(Placement, FolderPicturesAreFittedByTheirExactShape) {
    ExpectPlacement(Place(1920, 1080, 1, 640, 480, true), 240, 0, 1440, 1080);
    ExpectPlacement(Place(1920, 1080, 1, 3000, 1000, true), 0, 220, 1920, 640);
    ExpectPlacement(Place(1920, 1080, 0, 640, 480, true), 640, 300, 640, 480);
    ExpectPlacement(Place(1920, 1080, 0, 1000, 3000, true), 780, 0, 360, 1080);
}

// Areas far from the picture's shape or only a few pixels wide must still end
// with a positive size no larger than the area.
TEST(Placement, FittingEndsForTinyAndOddAreas) {
    const int32_t sides[] = {1, 2, 3, 4, 5, 7, 8, 9, 13, 20, 31, 64, 3000};
    for (int32_t w : sides) {
        for (int32_t h : sides) {
            const Placement p = Place(w, h, 1);
            EXPECT_GT(p.width, 0) << w << "x" << h;
            EXPECT_GT(p.height, 0) << w << "x" << h;
            EXPECT_LE(p.width, w);
            EXPECT_LE(p.height, h);
        }
    }
    // Small areas that step over the band: the search goes on until it lands in it.
    ExpectPlacement(Place(40, 40, 1), 2, 6, 36, 28);
    ExpectPlacement(Place(20, 60, 1), 2, 24, 16, 12);
    ExpectPlacement(Place(68, 61, 1), 2, 6, 64, 49);
    const Placement empty = Place(0, 0, 1);
    EXPECT_EQ(empty.width, 0);
    EXPECT_EQ(empty.height, 0);
}

// An 800 x 600 monitor left of a 1024 x 768 primary, a mirror of the primary,
// and one the window does not reach: each place gets today's placement.
TEST(Placement, EachMonitorGetsThePictureByItsOwnRectangle) {
    const RECT screens[] = {
        {0, 0, 1024, 768}, {-800, 0, 0, 600}, {0, 0, 1024, 768}, {1024, 0, 1324, 200}};
    g_slideshow = SlideshowState{};
    SlideshowState& s = g_slideshow;
    s.monitorCount = MonitorAreasInClient(screens, 4, POINT{-800, 0}, 1824, 768, s.monitors);
    ASSERT_EQ(s.monitorCount, 2);
    s.pictureWidth = 640;
    s.pictureHeight = 480;
    auto target = [&s](int i) {
        return Placement{
            i, 0, s.targets[i].x, s.targets[i].y, s.targets[i].width, s.targets[i].height};
    };
    PlacePicture();
    ExpectPlacement(target(0), 992, 144, 640, 480);
    ExpectPlacement(target(1), 80, 60, 640, 480);
    s.monitors[1] = {0, 0, 1280, 1024};
    s.fitToScreen = 1;
    PlacePicture();
    ExpectPlacement(target(0), 800, 0, 1024, 768);
    ExpectPlacement(target(1), 0, 14, 1280, 996);
}

}  // namespace

namespace {

// A small bottom-up picture whose rows, top to bottom, are distinct colours.
constexpr int PICTURE_WIDTH = 8, PICTURE_HEIGHT = 6;
constexpr COLORREF ROW_COLOUR[PICTURE_HEIGHT] = {RGB(255, 0, 0),   RGB(0, 255, 0),
                                                 RGB(0, 0, 255),   RGB(255, 255, 0),
                                                 RGB(0, 255, 255), RGB(255, 0, 255)};

HGLOBAL MakeStripedPicture() {
    const int stride = (PICTURE_WIDTH * 3 + 3) & ~3;
    HGLOBAL dib = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT,
                              sizeof(BITMAPINFOHEADER) + stride * PICTURE_HEIGHT);
    auto* info = static_cast<BITMAPINFOHEADER*>(GlobalLock(dib));
    info->biSize = sizeof *info;
    info->biWidth = PICTURE_WIDTH;
    info->biHeight = PICTURE_HEIGHT;
    info->biPlanes = 1;
    info->biBitCount = 24;
    BYTE* rows = reinterpret_cast<BYTE*>(info + 1);
    for (int stored = 0; stored < PICTURE_HEIGHT; ++stored) {
        const COLORREF c = ROW_COLOUR[PICTURE_HEIGHT - 1 - stored];  // stored bottom row first
        for (int x = 0; x < PICTURE_WIDTH; ++x) {
            rows[stored * stride + x * 3 + 0] = GetBValue(c);
            rows[stored * stride + x * 3 + 1] = GetGValue(c);
            rows[stored * stride + x * 3 + 2] = GetRValue(c);
        }
    }
    GlobalUnlock(dib);
    return dib;
}

class Reveal : public ::testing::Test {
protected:
    void SetUp() override {
        WNDCLASSA cls{};
        cls.style = CS_OWNDC;
        cls.lpfnWndProc = DefWindowProcA;
        cls.hInstance = GetModuleHandleA(nullptr);
        cls.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
        cls.lpszClassName = "RevealTestWindow";
        RegisterClassA(&cls);
        window = CreateWindowExA(WS_EX_TOPMOST, cls.lpszClassName, "", WS_POPUP | WS_VISIBLE, 0, 0,
                                 64, 48, nullptr, nullptr, cls.hInstance, nullptr);
        ASSERT_NE(window, nullptr);
        UpdateWindow(window);
        g_slideshow = SlideshowState{};
        g_slideshow.clientWidth = 64;
        g_slideshow.clientHeight = 48;
        g_slideshow.switchIntervalMs = 60000;
        g_slideshow.picture = MakeStripedPicture();
        g_slideshow.pictureInfo = static_cast<BITMAPINFOHEADER*>(GlobalLock(g_slideshow.picture));
        g_slideshow.pictureBits = reinterpret_cast<BYTE*>(g_slideshow.pictureInfo + 1);
        g_slideshow.pictureWidth = PICTURE_WIDTH;
        g_slideshow.pictureHeight = PICTURE_HEIGHT;
        g_slideshow.revealing = true;
    }
    void TearDown() override {
        ReleasePicture();
        KillTimer(window, NEXT_PICTURE_TIMER);
        DestroyWindow(window);
        UnregisterClassA("RevealTestWindow", GetModuleHandleA(nullptr));
    }
    void Tick() { RevealTimerProc(window, WM_TIMER, REVEAL_TIMER, 0); }
    COLORREF At(int x, int y) {
        HDC dc = GetDC(window);
        COLORREF c = GetPixel(dc, x, y);
        ReleaseDC(window, dc);
        return c & 0xFFFFFF;
    }
    HWND window = nullptr;
};

TEST_F(Reveal, ThePictureSlidesDownOneSourceRowPerTick) {
    g_slideshow.fitToScreen = 0;
    PlacePicture();  // 8x6 centred in 64x48: target (28, 21)
    ASSERT_EQ(g_slideshow.targetX, 28);
    ASSERT_EQ(g_slideshow.targetY, 21);
    Tick();  // tick 0: an empty band
    EXPECT_EQ(At(28, 21), RGB(0, 0, 0));
    Tick();  // the picture's bottom row shows first, at the top of the target
    EXPECT_EQ(At(28, 21), ROW_COLOUR[PICTURE_HEIGHT - 1]);
    EXPECT_EQ(At(28, 22), RGB(0, 0, 0)) << "nothing below the band is touched";
    Tick();
    EXPECT_EQ(At(30, 21), ROW_COLOUR[PICTURE_HEIGHT - 2]);
    EXPECT_EQ(At(30, 22), ROW_COLOUR[PICTURE_HEIGHT - 1]);
    for (int k = 3; k <= PICTURE_HEIGHT; ++k) Tick();
    for (int row = 0; row < PICTURE_HEIGHT; ++row)
        EXPECT_EQ(At(35, 21 + row), ROW_COLOUR[row]) << "row " << row;
    EXPECT_TRUE(g_slideshow.revealing);
    EXPECT_NE(g_slideshow.picture, nullptr);
    Tick();  // the finishing tick arms the switch and keeps the picture for repaints
    EXPECT_FALSE(g_slideshow.revealing);
    EXPECT_NE(g_slideshow.picture, nullptr);
    EXPECT_EQ(g_slideshow.revealRow, 0);
    EXPECT_TRUE(KillTimer(window, NEXT_PICTURE_TIMER)) << "the switch timer was armed";
    Tick();  // nothing more happens once the reveal is done
    EXPECT_FALSE(KillTimer(window, NEXT_PICTURE_TIMER));
}

TEST_F(Reveal, ScaledBandsGrowByTheScaleAndInstantRevealDrawsAllAtOnce) {
    g_slideshow.fitToScreen = 1;
    PlacePicture();  // 64x48 already has the picture's 4:3 shape: scale 8
    ASSERT_EQ(g_slideshow.targetHeight, 48);
    Tick();
    Tick();
    EXPECT_EQ(At(10, 0), ROW_COLOUR[PICTURE_HEIGHT - 1]);
    EXPECT_EQ(At(10, 7), ROW_COLOUR[PICTURE_HEIGHT - 1]);
    EXPECT_EQ(At(10, 8), RGB(0, 0, 0));

    g_slideshow.instantReveal = true;
    Tick();
    for (int row = 0; row < PICTURE_HEIGHT; ++row)
        EXPECT_EQ(At(10, row * 8 + 4), ROW_COLOUR[row]) << "row " << row;
    EXPECT_FALSE(g_slideshow.revealing) << "an instant reveal finishes on its first tick";
}

}  // namespace
