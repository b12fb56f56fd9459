// Block output: colour and grey conversion examples, the pixel
// placement of each layout, and clipped MCUs against whole ones.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>

#include "test_support.h"

namespace {

struct OutputRig {
    std::unique_ptr<DecoderContext> c{new DecoderContext()};
    std::int16_t luma[288], cb[72], cr[72];
    std::vector<std::uint8_t> dib;  // 16 rows of 64 bytes, the MCU at the top-left
    OutputRig() {
        std::memset(c.get(), 0, sizeof(DecoderContext));
        c->lumaBlocks = luma;
        c->cbBlock = cb;
        c->crBlock = cr;
        c->rowStride = 64;
        dib.assign(64 * 16, 0xEE);
    }
    std::uint8_t* Dest() { return dib.data() + 64 * 15; }  // row 0 is the last one in memory
    const std::uint8_t* Pixel(int x, int y) const { return dib.data() + 64 * (15 - y) + 3 * x; }
    void Fill(std::int16_t y, std::int16_t b, std::int16_t r) {
        for (int i = 0; i < 288; ++i) luma[i] = y;
        for (int i = 0; i < 72; ++i) cb[i] = b, cr[i] = r;
    }
};

}  // namespace

TEST(ColourConversion, WorkedExamples) {
    struct Case {
        int y, cb, cr, blue, green, red;
    } cases[] = {{128, 0, 0, 128, 128, 128},
                 {128, 100, 0, 255, 71, 128},
                 {128, 0, 100, 128, 53, 253},
                 {100, -50, 60, 25, 83, 175},
                 {-20, 0, 0, 0, 0, 0},
                 {300, 0, 0, 255, 255, 255},
                 {32767, -32768, 32767, 0, 255, 255}};
    for (const Case& k : cases) {
        OutputRig rig;
        rig.Fill(static_cast<std::int16_t>(k.y), static_cast<std::int16_t>(k.cb),
                 static_cast<std::int16_t>(k.cr));
        PutMcuH1V1(rig.Dest(), rig.c.get());
        const std::uint8_t* p = rig.Pixel(3, 5);
        EXPECT_EQ(p[0], k.blue) << k.y << " " << k.cb << " " << k.cr;
        EXPECT_EQ(p[1], k.green) << k.y << " " << k.cb << " " << k.cr;
        EXPECT_EQ(p[2], k.red) << k.y << " " << k.cb << " " << k.cr;
    }
}

TEST(GreyConversion, ClampsToByteRange) {
    OutputRig rig;
    rig.Fill(0, 0, 0);
    rig.luma[0] = -5;
    rig.luma[1] = 300;
    rig.luma[2] = 77;
    PutGreyBlock(rig.Dest(), rig.c.get());
    EXPECT_EQ(rig.Pixel(0, 0)[0], 0);
    EXPECT_EQ(rig.Pixel(1, 0)[1], 255);
    EXPECT_EQ(rig.Pixel(2, 0)[2], 77);
    EXPECT_EQ(rig.Pixel(2, 0)[0], 77);
}

namespace {

typedef void (*Whole)(std::uint8_t*, const DecoderContext*);
typedef void (*Clipped)(std::uint8_t*, const DecoderContext*, int, int);

struct LayoutCase {
    const char* name;
    int h, v;  // 0, 0 for grey
    Whole whole;
    Clipped clipped;
};

const LayoutCase LAYOUTS[] = {{"H1V1", 1, 1, PutMcuH1V1, PutMcuH1V1Clipped},
                              {"H2V1", 2, 1, PutMcuH2V1, PutMcuH2V1Clipped},
                              {"H1V2", 1, 2, PutMcuH1V2, PutMcuH1V2Clipped},
                              {"H2V2", 2, 2, PutMcuH2V2, PutMcuH2V2Clipped},
                              {"grey", 0, 0, PutGreyBlock, PutGreyBlockClipped}};

// Samples in the usual range, or (wide) at and beyond the edges of the range
// that the 16-bit carrier takes, or anywhere in 16 bits.
void Randomise(OutputRig& rig, std::mt19937& random, int mode = 0) {
    auto pick = [&](int usual, int edge) {
        if (mode == 0)
            return static_cast<std::int16_t>(static_cast<int>(random() % (2 * usual)) - usual / 2);
        if (mode == 1) {
            const int edges[] = {-edge - 1, -edge, -edge + 1, edge - 2, edge - 1, edge, 0, 5};
            return static_cast<std::int16_t>(edges[random() % 8]);
        }
        return static_cast<std::int16_t>(random());
    };
    for (int i = 0; i < 288; ++i) rig.luma[i] = pick(200, 8192);
    for (int i = 0; i < 72; ++i) {
        rig.cb[i] = pick(150, 1024);
        rig.cr[i] = pick(150, 1024);
    }
}

}  // namespace

// Every pixel takes its luma sample from block (r div 8) x H + (c div 8) at
// 8 (r mod 8) + (c mod 8) and its chroma from 8 (r div V) + (c div H).
TEST(BlockOutput, PixelPlacementOfEachLayout) {
    std::mt19937 random(7);
    for (int round = 0; round < 60; ++round)
        for (const LayoutCase& layout : LAYOUTS) {
            OutputRig rig;
            Randomise(rig, random, round % 3);
            layout.whole(rig.Dest(), rig.c.get());
            int h = layout.h ? layout.h : 1, v = layout.v ? layout.v : 1;
            for (int r = 0; r < 8 * v; ++r)
                for (int col = 0; col < 8 * h; ++col) {
                    int y = rig.luma[64 * ((r / 8) * h + col / 8) + 8 * (r % 8) + col % 8];
                    const std::uint8_t* p = rig.Pixel(col, r);
                    if (layout.h == 0) {
                        int g = y < 0 ? 0 : y > 255 ? 255 : y;
                        ASSERT_EQ(p[0], g);
                        ASSERT_EQ(p[1], g);
                        ASSERT_EQ(p[2], g);
                        continue;
                    }
                    int cb = rig.cb[8 * (r / v) + col / h], cr = rig.cr[8 * (r / v) + col / h];
                    auto clamp = [](int x) { return x < 0 ? 0 : x >= 4096 ? 255 : x >> 4; };
                    ASSERT_EQ(p[0], clamp(16 * y + 24 * cb))
                        << layout.name << " " << r << "," << col;
                    ASSERT_EQ(p[1], clamp(16 * y - 9 * cb - 12 * cr))
                        << layout.name << " " << r << "," << col;
                    ASSERT_EQ(p[2], clamp(16 * y + 20 * cr))
                        << layout.name << " " << r << "," << col;
                }
            // Nothing right of the MCU is touched (column 16 x 3 = byte 48 on).
            for (int r = 0; r < 16; ++r) ASSERT_EQ(rig.dib[64 * r + 48], 0xEE) << layout.name;
        }
}

TEST(BlockOutput, ClippedMcusShowWhatWholeOnesShow) {
    std::mt19937 random(99);
    for (const LayoutCase& layout : LAYOUTS) {
        int width = 8 * (layout.h ? layout.h : 1), height = 8 * (layout.v ? layout.v : 1);
        for (int columns = 1; columns <= width; ++columns)
            for (int rows = 1; rows <= height; ++rows) {
                OutputRig whole, clipped;
                Randomise(whole, random);
                std::memcpy(clipped.luma, whole.luma, sizeof whole.luma);
                std::memcpy(clipped.cb, whole.cb, sizeof whole.cb);
                std::memcpy(clipped.cr, whole.cr, sizeof whole.cr);
                layout.whole(whole.Dest(), whole.c.get());
                layout.clipped(clipped.Dest(), clipped.c.get(), columns, rows);
                for (int r = 0; r < 16; ++r)
                    for (int col = 0; col < 21; ++col) {
                        bool inside = col < columns && r < rows;
                        for (int k = 0; k < 3; ++k) {
                            if (inside)
                                ASSERT_EQ(clipped.Pixel(col, r)[k], whole.Pixel(col, r)[k])
                                    << layout.name << " " << columns << "x" << rows;
                            else
                                ASSERT_EQ(clipped.Pixel(col, r)[k], 0xEE)
                                    << layout.name << " " << columns << "x" << rows;
                        }
                    }
            }
    }
}
