// The inverse DCT's worked examples, its 16-bit wrap rule, and the
// fast carrier against the literal one on many blocks.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "test_support.h"

TEST(InverseDct, ZeroBlockStaysZero) {
    std::int16_t block[64] = {};
    InverseDct(block, DetectSimdLevel());
    for (int i = 0; i < 64; ++i) EXPECT_EQ(block[i], 0);
}

TEST(InverseDct, DcOnlyGivesDcShiftedRightByThree) {
    for (int dc : {8, 1024, -9, 2047, -32768, 32767, 1}) {
        std::int16_t block[64] = {};
        block[0] = static_cast<std::int16_t>(dc);
        InverseDct(block, DetectSimdLevel());
        for (int i = 0; i < 64; ++i) ASSERT_EQ(block[i], dc >> 3) << dc;
    }
    std::int16_t block[64] = {};
    block[0] = -9;
    InverseDct(block, DetectSimdLevel());
    EXPECT_EQ(block[17], -2);
}

// Coefficient 1100 at row 0, column 1 is outside -1024..1023: its multiple by
// 32 wraps (35200 - 65536), so the row pass gives -536, -742, 859, 309, -310,
// -860, 741, 535 (not the plain products), and each column then gives its
// value >> 3.
TEST(InverseDct, WrapRuleOfTheMultiples) {
    std::int16_t block[64] = {};
    block[1] = 1100;
    InverseDct(block, DetectSimdLevel());
    const int expected[8] = {-536 >> 3, -742 >> 3, 859 >> 3, 309 >> 3,
                             -310 >> 3, -860 >> 3, 741 >> 3, 535 >> 3};
    for (int r = 0; r < 8; ++r)
        for (int c = 0; c < 8; ++c) EXPECT_EQ(block[8 * r + c], expected[c]) << r << "," << c;
    EXPECT_EQ(expected[0], -67);
}

TEST(InverseDct, PositionsZeroAndFourNeverWrap) {
    std::int16_t block[64] = {};
    block[0] = 30000;
    block[4] = -30000;  // E1 = 32 x 60000 in 32 bits
    std::int16_t reference[64];
    std::memcpy(reference, block, sizeof block);
    InverseDct(block, DetectSimdLevel());
    InverseDctReference(reference);
    for (int i = 0; i < 64; ++i) EXPECT_EQ(block[i], reference[i]);
    // Row 0 gives (32 x 0 + ...) for y0 and (32 x 60000) >> 5 = 60000 -> low 16 bits for y1.
}

// Each round's block goes through InverseDct, and, as one of the three
// blocks of an MCU, through InverseDctMcu with each vector carrier (pairs,
// lone blocks, DC-only blocks).
TEST(InverseDct, FastCarrierMatchesTheLiteralSteps) {
    std::mt19937 random(12345);
    static DecoderContext c;
    std::int16_t mcu[3][64], mcuReference[3][64];
    c.lumaBlocks = mcu[0], c.cbBlock = mcu[1], c.crBlock = mcu[2];
    for (int round = 0; round < 20000; ++round) {
        std::int16_t *block = mcu[round % 3], *reference = mcuReference[round % 3];
        int range = round % 4 == 0 ? 32768 : round % 4 == 1 ? 1024 : round % 4 == 2 ? 1100 : 300;
        int density = 1 + round % 64;
        for (int i = 0; i < 64; ++i) {
            int v = static_cast<int>(random() % (2 * range)) - range;
            block[i] = static_cast<std::int16_t>(static_cast<int>(random() % 64) < density ? v : 0);
        }
        if (round % 5 == 0)
            block[0] = static_cast<std::int16_t>(static_cast<int>(random() % 4096) - 2048);
        c.blockEnd[round % 3] = 64;
        if (round % 7 == 0)
            std::memset(block + 1, 0, 63 * sizeof block[0]), c.blockEnd[round % 3] = 1;
        std::memcpy(reference, block, sizeof mcu[0]);
        std::int16_t copy[64];
        std::memcpy(copy, block, sizeof copy);
        InverseDct(copy, DetectSimdLevel());
        InverseDctReference(reference);
        for (int i = 0; i < 64; ++i)
            ASSERT_EQ(copy[i], reference[i]) << "round " << round << " cell " << i;
        if (round % 3 != 2) continue;
        SimdLevel level = static_cast<SimdLevel>(round / 3 % 3), offered = DetectSimdLevel();
        c.simd = level < offered ? level : offered;
        InverseDctMcu(&c, 1, true);
        ASSERT_EQ(std::memcmp(mcu, mcuReference, sizeof mcu), 0) << "round " << round;
    }
}

TEST(InverseDct, OutputsAreNotClamped) {
    std::int16_t block[64] = {};
    block[0] = 4000;  // 500 everywhere
    InverseDct(block, DetectSimdLevel());
    EXPECT_EQ(block[63], 500);
    block[0] = -4000;
    for (int i = 1; i < 64; ++i) block[i] = 0;
    InverseDct(block, DetectSimdLevel());
    EXPECT_EQ(block[9], -500);
}
