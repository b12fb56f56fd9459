// How many colour-table entries a bitmap header announces, and their bytes.
#include "dib.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

BITMAPINFOHEADER Info(WORD bits, DWORD used = 0) {
    BITMAPINFOHEADER h{};
    h.biSize = sizeof h;
    h.biWidth = 4;
    h.biHeight = 4;
    h.biPlanes = 1;
    h.biBitCount = bits;
    h.biClrUsed = used;
    return h;
}

BITMAPCOREHEADER Core(WORD bits) {
    BITMAPCOREHEADER h{};
    h.bcSize = sizeof h;
    h.bcWidth = 4;
    h.bcHeight = 4;
    h.bcPlanes = 1;
    h.bcBitCount = bits;
    return h;
}

TEST(ColorTable, DepthDecidesTheCountUnlessTheHeaderNamesOne) {
    struct {
        WORD bits;
        uint16_t count;
    } depths[] = {{1, 2}, {4, 16}, {8, 256}, {2, 0}, {16, 0}, {24, 0}, {32, 0}, {0, 0}};
    for (auto d : depths) {
        BITMAPINFOHEADER info = Info(d.bits);
        EXPECT_EQ(ColorCount(&info), d.count) << d.bits << " bits";
        EXPECT_EQ(ColorTableBytes(&info), d.count * 4) << d.bits << " bits";
        BITMAPCOREHEADER core = Core(d.bits);
        EXPECT_EQ(ColorCount(&core), d.count) << d.bits << " bits, core";
        EXPECT_EQ(ColorTableBytes(&core), d.count * 3) << d.bits << " bits, core";
    }
}

TEST(ColorTable, ANamedCountWinsAtAnyDepthAndKeepsSixteenBits) {
    BITMAPINFOHEADER h = Info(24, 12);
    EXPECT_EQ(ColorCount(&h), 12);
    EXPECT_EQ(ColorTableBytes(&h), 48);
    h = Info(8, 0x10005);
    EXPECT_EQ(ColorCount(&h), 5);
    h = Info(8, 0x4001);  // 16385 entries: 65540 bytes, kept modulo 65536
    EXPECT_EQ(ColorTableBytes(&h), 4);
}

TEST(ColorTable, ReadsHeadersAtAnyAlignment) {
    alignas(4) unsigned char bytes[sizeof(BITMAPINFOHEADER) + 1];
    BITMAPINFOHEADER h = Info(4);
    std::memcpy(bytes + 1, &h, sizeof h);
    EXPECT_EQ(ColorCount(bytes + 1), 16);
}

}  // namespace
