// Entropy decoding: the Huffman lookup builder, the bit reader, the DC and AC decoders
// and the block decoders, on hand-made tables and bit strings. Each block test
// runs the decoder's fast reader and the literal reader and wants the
// same block from both.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "test_support.h"

namespace {

struct Table {
    std::uint8_t counts[16];
    std::vector<std::uint8_t> symbols;
};

// A context over `data` (with a few bytes before it and the 1000 zero bytes
// after), and the lookup tables that tests define.
struct Rig {
    std::unique_ptr<DecoderContext> c{new DecoderContext()};
    Bytes buffer;
    std::vector<std::uint8_t> lengths[8], symbols[8];

    Rig() { std::memset(c.get(), 0, sizeof(DecoderContext)); }

    // Builds slot `slot` from the table; gives BuildHuffmanLookup's result.
    int Define(int slot, const Table& t) {
        Bytes segment(t.counts, t.counts + 16);
        segment.insert(segment.end(), t.symbols.begin(), t.symbols.end());
        segment.resize(segment.size() + 8, 0);
        const std::uint8_t* savedPos = c->readPos;
        std::int32_t savedLeft = c->bytesLeft;
        c->readPos = segment.data();
        c->bytesLeft = static_cast<std::int32_t>(segment.size());
        lengths[slot].assign(LOOKUP_ENTRIES, 0);
        symbols[slot].assign(LOOKUP_ENTRIES, 0);
        std::uint8_t codeLengths[257];
        std::uint16_t codes[257];
        int used = BuildHuffmanLookup(c.get(), lengths[slot].data(), symbols[slot].data(),
                                      codeLengths, codes, static_cast<int>(segment.size() - 8),
                                      slot >= 4, &c->fast[slot]);
        c->lengthTable[slot] = lengths[slot].data();
        c->symbolTable[slot] = symbols[slot].data();
        c->readPos = savedPos;
        c->bytesLeft = savedLeft;
        return used;
    }

    void SetData(const Bytes& data, std::uint8_t before = 0x00) {
        buffer.assign(4, before);
        buffer.insert(buffer.end(), data.begin(), data.end());
        buffer.resize(buffer.size() + FILE_SLACK_BYTES, 0);
        c->readPos = buffer.data() + 4;
        c->bytesLeft = static_cast<std::int32_t>(data.size());
        c->bitOffset = 0;
    }

    // Binds component 0 to DC slot 0, AC slot 4 and the quantisation table q.
    void Bind(const std::uint16_t* q) {
        std::memcpy(c->quantTables[0], q, 64 * sizeof(std::uint16_t));
        c->frameComponents[0].quantSlot = 0;
        c->dcLength[0] = c->lengthTable[0];
        c->dcSymbol[0] = c->symbolTable[0];
        c->acLength[0] = c->lengthTable[4];
        c->acSymbol[0] = c->symbolTable[4];
        c->dcFast[0] = &c->fast[0];
        c->acFast[0] = &c->fast[4];
        c->componentQuant[0] = c->quantTables[0];
        c->samplingMode = SAMPLING_GREY;
        BindScanTables(c.get());
    }
};

// Bits "0101..." to bytes, padded with 1 bits, FF data bytes stuffed with 00.
Bytes Pack(const std::string& bits, bool stuff = true) {
    Bytes out;
    int n = 0, byte = 0;
    for (char ch : bits) {
        if (ch != '0' && ch != '1') continue;
        byte = (byte << 1) | (ch - '0');
        if (++n == 8) {
            out.push_back(static_cast<std::uint8_t>(byte));
            if (stuff && byte == 0xFF) out.push_back(0x00);
            n = byte = 0;
        }
    }
    if (n > 0) {
        byte = (byte << (8 - n)) | ((1 << (8 - n)) - 1);
        out.push_back(static_cast<std::uint8_t>(byte));
        if (stuff && byte == 0xFF) out.push_back(0x00);
    }
    return out;
}

// The DC and AC luminance tables of ITU T.81 Annex K (K.3, K.5), as cjpeg writes
// them into a file without -optimize: taken from one of the test pictures.
std::vector<Table> StandardTables() {
    Bytes file = ReadFileBytes(DataPath("chelsea-17x17-2x2.jpg"));
    std::vector<Table> tables;
    for (long at = FindMarker(file, 0xC4); at >= 0; at = FindMarker(file, 0xC4, at + 2)) {
        size_t i = at + 4, end = JpegSegmentEnd(file, at);
        while (i < end) {
            Table t;
            ++i;  // class and identifier
            std::memcpy(t.counts, &file[i], 16);
            size_t n = 0;
            for (int k = 0; k < 16; ++k) n += t.counts[k];
            t.symbols.assign(file.begin() + i + 16, file.begin() + i + 16 + n);
            i += 16 + n;
            tables.push_back(t);
        }
    }
    return tables;  // DC luminance, AC luminance, DC chrominance, AC chrominance
}

Table Counts(std::initializer_list<std::pair<int, int>> lengthCounts,
             std::vector<std::uint8_t> symbols) {
    Table t;
    std::memset(t.counts, 0, 16);
    for (auto& lc : lengthCounts) t.counts[lc.first - 1] = static_cast<std::uint8_t>(lc.second);
    t.symbols = symbols;
    return t;
}

std::uint16_t g_ones[64] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,
                            1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,
                            1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};

}  // namespace

TEST(HuffmanLookup, StandardLuminanceDcCodeZeroFillsAQuarter) {
    std::vector<Table> standard = StandardTables();
    ASSERT_EQ(standard.size(), 4u);
    Rig rig;
    ASSERT_EQ(rig.Define(0, standard[0]), 16 + 12);
    for (int i = 0; i <= 0x3FFF; ++i) {
        ASSERT_EQ(rig.lengths[0][i], 2) << i;
        ASSERT_EQ(rig.symbols[0][i], 0) << i;
    }
    EXPECT_EQ(rig.lengths[0][0x4000], 3);  // 010: category 1
    EXPECT_EQ(rig.symbols[0][0x4000], 1);
    EXPECT_EQ(rig.lengths[0][0xFF00], 9);  // 111111110: category 11
    EXPECT_EQ(rig.symbols[0][0xFF00], 11);
    EXPECT_EQ(rig.lengths[0][0xFF80], 0);  // 111111111: no code
}

TEST(HuffmanLookup, AllZeroCountsLeaveZeroTables) {
    Rig rig;
    ASSERT_EQ(rig.Define(0, Counts({}, {})), 16);
    for (int i = 0; i < LOOKUP_ENTRIES; ++i) ASSERT_EQ(rig.lengths[0][i] | rig.symbols[0][i], 0);
}

TEST(HuffmanLookup, Length16FillsOneEntryAndLength1Half) {
    Rig rig;
    ASSERT_EQ(rig.Define(0, Counts({{16, 1}}, {7})), 17);
    int filled = 0;
    for (int i = 0; i < LOOKUP_ENTRIES; ++i) filled += rig.lengths[0][i] != 0;
    EXPECT_EQ(filled, 1);
    EXPECT_EQ(rig.lengths[0][0], 16);
    ASSERT_EQ(rig.Define(1, Counts({{1, 1}}, {5})), 17);
    filled = 0;
    for (int i = 0; i < LOOKUP_ENTRIES; ++i)
        filled += rig.lengths[1][i] == 1 && rig.symbols[1][i] == 5;
    EXPECT_EQ(filled, 32768);
}

TEST(HuffmanLookup, OverfullAndOversizedTablesAreRefused) {
    Rig rig;
    EXPECT_EQ(rig.Define(0, Counts({{1, 3}}, {1, 2, 3})), -1);  // three codes of one bit
    EXPECT_EQ(rig.Define(0, Counts({{2, 4}, {3, 1}}, {1, 2, 3, 4, 5})),
              -1);  // five codes, room for four
    std::vector<std::uint8_t> many(257, 1);
    EXPECT_EQ(rig.Define(0, Counts({{15, 2}, {16, 255}}, many)), -1);  // 257 codes
    EXPECT_EQ(rig.Define(0, Counts({{1, 2}}, {1, 2})), 18);            // full but fitting
}

// The lookahead tables give exactly what the full pair gives, for every peek.
TEST(HuffmanLookup, LookaheadTablesAgreeWithTheFullPair) {
    std::vector<Table> tables = StandardTables();
    tables.push_back(Counts({{1, 1}, {12, 2}, {16, 1}}, {0x00, 0xF0, 0x3A, 0x11}));
    for (size_t t = 0; t < tables.size(); ++t) {
        Rig rig;
        int slot = (t % 2 == 1 || t == 4) ? 4 : 0;
        ASSERT_GT(rig.Define(slot, tables[t]), 0);
        const FastHuffman& fast = rig.c->fast[slot];
        for (int i = 0; i < LOOKUP_ENTRIES; ++i) {
            int length = rig.lengths[slot][i], symbol = rig.symbols[slot][i];
            unsigned e = fast.codeEntry[i >> (16 - FAST_BITS)];
            if (!(e & FAST_SLOW)) {
                ASSERT_EQ(static_cast<int>((e >> 8) & 31), length) << t << " " << i;
                ASSERT_EQ(static_cast<int>(e & 0xFF), symbol) << t << " " << i;
            }
            std::int32_t ac = fast.acEntry[i >> (16 - FAST_BITS)];
            if (slot == 4 && (ac & FAST_AC_VALID)) {
                int size = symbol & 15;
                ASSERT_EQ(ac & 31, length + size);
                ASSERT_EQ((ac >> 8) & 15, symbol >> 4);
                int bits = size ? (i >> (16 - length - size)) & ((1 << size) - 1) : 0;
                int value = size == 0                  ? 0
                            : bits < (1 << (size - 1)) ? bits - ((1 << size) - 1)
                                                       : bits;
                ASSERT_EQ(ac >> 16, value);
            }
        }
    }
}

TEST(BitReader, StuffedByteReadsBackAsOneFF) {
    Rig rig;
    rig.SetData({0xFF, 0x00, 0x12, 0x34});
    EXPECT_EQ(PeekBits16(rig.c.get()), 0xFF12);
    rig.c->bitsToConsume = 8;
    EXPECT_EQ(ConsumeBits(rig.c.get()), 0);
    EXPECT_EQ(rig.c->readPos, rig.buffer.data() + 6);  // past FF 00
    EXPECT_EQ(rig.c->bytesLeft, 2);
    EXPECT_EQ(PeekBits16(rig.c.get()), 0x1234);
}

TEST(BitReader, PeekStartingOnAStuffingByteSkipsIt) {
    Rig rig;
    rig.SetData({0x00, 0xAB, 0xCD}, 0xFF);  // the byte before readPos is FF
    EXPECT_EQ(PeekBits16(rig.c.get()), 0xABCD);
}

TEST(BitReader, OffsetFiveCombinesThreeBytes) {
    Rig rig;
    rig.SetData({0xA1, 0xB2, 0xC3});
    rig.c->bitOffset = 5;
    EXPECT_EQ(PeekBits16(rig.c.get()), ((0xA1 & 7) << 13) | (0xB2 << 5) | (0xC3 >> 3));
}

TEST(BitReader, ExhaustionKeepsPassedBytesAndOffset) {
    Rig rig;
    rig.SetData({0x12});
    rig.c->bitOffset = 3;
    rig.c->bitsToConsume = 16;  // passes 0x12, then finds no byte left
    EXPECT_EQ(ConsumeBits(rig.c.get()), 1);
    EXPECT_EQ(rig.c->readPos, rig.buffer.data() + 5);
    EXPECT_EQ(rig.c->bitOffset, 3);
    EXPECT_LT(rig.c->bytesLeft, 0);
    rig.c->bitsToConsume = 9;  // a whole byte to pass: 1 at once, nothing moves
    EXPECT_EQ(ConsumeBits(rig.c.get()), 1);
    EXPECT_EQ(rig.c->readPos, rig.buffer.data() + 5);
    rig.c->bitsToConsume = 2;  // within the byte: still moves the offset
    EXPECT_EQ(ConsumeBits(rig.c.get()), 0);
    EXPECT_EQ(rig.c->bitOffset, 5);
}

TEST(BitReader, StuffedPairCostsTwoAndCanExhaustBetweenItsBytes) {
    Rig rig;
    rig.SetData({0xFF, 0x00});
    rig.c->bytesLeft = 1;  // as if the file ended after the FF
    rig.c->bitsToConsume = 8;
    EXPECT_EQ(ConsumeBits(rig.c.get()), 1);
    EXPECT_EQ(rig.c->readPos, rig.buffer.data() + 5);  // the FF stays passed
}

TEST(DcDecoding, SignExtension) {
    std::vector<Table> standard = StandardTables();
    struct Case {
        const char* bits;
        int diff;
    } cases[] = {{"100 010", -5}, {"100 101", 5}, {"010 0", -1},
                 {"010 1", 1},    {"00", 0},      {"011 00", -3}};
    for (const Case& k : cases) {
        Rig rig;
        rig.Define(0, standard[0]);
        rig.Define(4, standard[1]);
        rig.Bind(g_ones);
        rig.SetData(Pack(k.bits));
        DecodeDc(rig.c.get(), 0);
        EXPECT_EQ(rig.c->dcDiff, k.diff) << k.bits;
    }
}

// Category 16 keeps the low 16 bits of the extended value; categories above 16
// are read as 16 (documented choice: no negative shift).
TEST(DcDecoding, CategorySixteenAndAbove) {
    for (int symbol : {16, 20, 255}) {
        Rig rig;
        rig.Define(0, Counts({{1, 1}}, {static_cast<std::uint8_t>(symbol)}));
        rig.Define(4, Counts({{1, 1}}, {0x00}));
        rig.Bind(g_ones);
        rig.SetData(
            Pack("0 0000000000000000 0 1000000000000000 0 1111111111111111 0 0111111111111111"));
        for (int i = 0; i < 4; ++i) {
            DecodeDc(rig.c.get(), 0);
            std::int32_t v = i == 0 ? 0 : i == 1 ? 0x8000 : i == 2 ? 0xFFFF : 0x7FFF;
            std::int32_t extended = v < 0x8000 ? v - 65535 : v;
            EXPECT_EQ(rig.c->dcDiff, static_cast<std::int16_t>(extended)) << symbol << " " << i;
        }
    }
}

namespace {

// The block decoded from `bits` by the literal reader and by the fast reader
// (with enough data behind it for the fast one to take it): must agree.
std::vector<std::int16_t> DecodeBoth(Rig& rig, const std::string& bits,
                                     std::int16_t predictor = 0) {
    std::vector<std::int16_t> blocks[2];
    for (int literal = 0; literal < 2; ++literal) {
        Bytes data = Pack(bits);
        data.resize(data.size() + 600, 0x00);  // room for the fast reader
        rig.SetData(data);
        rig.c->dcPredictor[0] = predictor;
        std::int16_t block[288];
        std::memset(block, 0x55, sizeof block);
        rig.c->lumaBlocks = block;
        rig.c->switches.literalPaths = literal != 0;
        DecodeLumaBlock(rig.c.get());
        blocks[literal].assign(block, block + 64);
    }
    EXPECT_EQ(blocks[0], blocks[1]) << bits;
    return blocks[1];
}

void UseTestTables(Rig& rig, const std::uint16_t* q) {
    // DC: "0" = category 0, "1" = category 2. AC: 00 = EOB, 01 = ZRL, 10 = run 0
    // size 1, 11 = run 14 size 1.
    rig.Define(0, Counts({{1, 2}}, {0, 2}));
    rig.Define(4, Counts({{2, 4}}, {0x00, 0xF0, 0x01, 0xE1}));
    rig.Bind(q);
}

}  // namespace

TEST(BlockDecoding, EndOfBlockFirstLeavesOnlyTheDc) {
    Rig rig;
    std::uint16_t q[64];
    for (int i = 0; i < 64; ++i) q[i] = static_cast<std::uint16_t>(i + 2);
    UseTestTables(rig, q);
    std::vector<std::int16_t> b = DecodeBoth(rig, "1 11 00", 100);  // DC diff 3, EOB
    EXPECT_EQ(b[0], (100 + 3) * 2);
    for (int i = 1; i < 64; ++i) EXPECT_EQ(b[i], 0) << i;
    EXPECT_EQ(rig.c->dcPredictor[0], 103);
}

TEST(BlockDecoding, ZeroRunLengthAdvancesSixteen) {
    Rig rig;
    UseTestTables(rig, g_ones);
    std::vector<std::int16_t> b =
        DecodeBoth(rig, "0 01 10 1 00");  // ZRL, then +1 at zigzag 17, EOB
    for (int i = 0; i < 64; ++i) EXPECT_EQ(b[i], i == zigzagOrder[17] ? 1 : 0) << i;
}

TEST(BlockDecoding, RunPastPosition63PutsTheValueAtIndex63) {
    Rig rig;
    std::uint16_t q[64];
    for (int i = 0; i < 64; ++i) q[i] = 1;
    q[63] = 7;
    UseTestTables(rig, q);
    // Three ZRLs (k = 49), +1 at 49 (k = 50), then run 14 from 50 reaches 64.
    std::vector<std::int16_t> b = DecodeBoth(rig, "0 01 01 01 10 1 11 0");
    EXPECT_EQ(b[zigzagOrder[49]], 1);
    EXPECT_EQ(b[63], -7);
}

TEST(BlockDecoding, ProductsKeepTheirLow16Bits) {
    Rig rig;
    std::uint16_t q[64];
    for (int i = 0; i < 64; ++i) q[i] = 40000;
    UseTestTables(rig, q);
    std::vector<std::int16_t> b = DecodeBoth(rig, "1 11 10 1 00", 0);  // DC 3, AC +1
    EXPECT_EQ(b[0], static_cast<std::int16_t>(3 * 40000));
    EXPECT_EQ(b[1], static_cast<std::int16_t>(40000));
}

TEST(BlockDecoding, UndefinedPatternDecodesAsCategoryZeroAndEndOfBlock) {
    Rig rig;
    rig.Define(0, Counts({{2, 1}}, {3}));     // only code 00
    rig.Define(4, Counts({{2, 1}}, {0x01}));  // only code 00
    rig.Bind(g_ones);
    std::vector<std::int16_t> b = DecodeBoth(rig, "11111111", 9);
    EXPECT_EQ(b[0], 9);
    for (int i = 1; i < 64; ++i) EXPECT_EQ(b[i], 0);
}

// Data that runs out mid-block: the block still ends (here every code is read
// from the zero bytes behind the data), and its status is 1 because its last
// advance had a whole byte to pass.
TEST(BlockDecoding, ExhaustedDataStillEndsTheBlock) {
    Rig rig;
    rig.Define(0, Counts({{1, 1}}, {0}));           // "0": DC category 0
    rig.Define(4, Counts({{1, 2}}, {0x01, 0x00}));  // "0": run 0 size 1, "1": EOB
    rig.Bind(g_ones);
    rig.SetData({0x00});
    std::int16_t block[64];
    rig.c->lumaBlocks = block;
    int status = DecodeLumaBlock(rig.c.get());
    EXPECT_EQ(block[0], 0);
    for (int i = 1; i < 64; ++i) EXPECT_EQ(block[i], -1) << i;
    EXPECT_EQ(status, 1);
    EXPECT_LT(rig.c->bytesLeft, 0);
}
