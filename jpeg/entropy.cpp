// Entropy decoding. The Huffman lookup builder, the bit reader over
// the file buffer, the DC and AC decoders and the three block decoders.
//
// Two carriers of the same steps: the literal bit reader (PeekBits16 and
// ConsumeBits on readPos, bitOffset and bytesLeft), and a fast reader for blocks
// that start far enough from the end of the data that no advance inside them
// can exhaust it. The fast reader keeps the de-stuffed stream in a 64-bit word
// and looks codes up FAST_BITS at a time; at the end of the block it turns its
// position back into readPos, bitOffset and bytesLeft. In that region it sees
// exactly the bits PeekBits16 sees and moves exactly as ConsumeBits moves, so
// the blocks it decodes are the same; a block in which an advance would exhaust
// the data, blocks after that, and the odd starting position noted below go the
// literal way.
#include <cstring>

#include "bit_reader.h"
#include "decoder_context.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// EXTEND of ITU T.81 F.2.2.1 for s = 1..16, kept in 16 bits by the caller.
inline std::int32_t Extend(std::int32_t v, int s) {
    return v < (1 << (s - 1)) ? v - ((1 << s) - 1) : v;
}

// The lookahead table of a slot, from its codes (a valid prefix code: over-full
// tables are refused). Where a code of at most FAST_BITS bits begins the next
// FAST_BITS bits, all entries of the full pair under them hold that code's
// length and symbol; where no code does, they are all 0 (length 0, symbol 0);
// only under the prefix of a longer code do they differ, and such an entry
// sends the decoder to the full pair.
void BuildFastHuffman(const std::uint8_t* codeLengths, const std::uint16_t* codes,
                      const std::uint8_t* symbols, int n, bool isAc, FastHuffman* fast) {
    std::memset(fast->codeEntry, 0, sizeof fast->codeEntry);
    for (int k = 0; k < n; ++k) {
        int length = codeLengths[k];
        if (length <= FAST_BITS) {
            int first = codes[k] << (FAST_BITS - length), count = 1 << (FAST_BITS - length);
            for (int i = first; i < first + count; ++i)
                fast->codeEntry[i] = static_cast<std::uint16_t>((length << 8) | symbols[k]);
        } else {
            fast->codeEntry[codes[k] >> (length - FAST_BITS)] = FAST_SLOW;
        }
    }
    for (int i = 0; i < FAST_ENTRIES; ++i) {
        fast->acEntry[i] = 0;
        unsigned entry = fast->codeEntry[i];
        if (entry & FAST_SLOW) continue;
        int length = (entry >> 8) & 31, symbol = entry & 0xFF;
        if (!isAc && symbol >= 16)
            continue;  // a DC size category beyond 15 is not split into run and size
        int run = symbol >> 4, size = symbol & 0x0F;
        if (length + size > FAST_BITS) continue;
        std::int32_t value = 0;
        if (size != 0) {
            std::int32_t bits = (i >> (FAST_BITS - length - size)) & ((1 << size) - 1);
            value = Extend(bits, size);
        }
        fast->acEntry[i] = static_cast<std::int32_t>(static_cast<std::uint32_t>(value) << 16) |
                           FAST_AC_VALID | (run << 8) | (length + size);
    }
}

}  // namespace

int BuildHuffmanLookup(DecoderContext* c, std::uint8_t* lengthTable, std::uint8_t* symbolTable,
                       std::uint8_t* codeLengths, std::uint16_t* codes, int available, bool isAc,
                       FastHuffman* fast) {
    if (available < 16) return -1;
    int n = 0;
    for (int length = 1; length <= 16; ++length) {
        int count = ReadByte(c);
        if (n + count > 256) return -1;  // more codes than the working arrays hold
        for (int i = 0; i < count; ++i) codeLengths[n++] = static_cast<std::uint8_t>(length);
    }
    codeLengths[n] = 0;
    if (16 + n > available) return -1;

    std::uint32_t code = 0;
    int size = codeLengths[0];
    int k = 0;
    while (codeLengths[k] != 0) {
        while (codeLengths[k] == size) {
            codes[k++] = static_cast<std::uint16_t>(code);
            ++code;
        }
        if (code > (1u << size)) return -1;  // over-full: the codes do not fit in `size` bits
        code <<= 1;
        ++size;
    }

    const std::uint8_t* symbols = c->readPos;
    for (k = 0; k < n; ++k) {
        std::uint8_t symbol = ReadByte(c);
        int length = codeLengths[k];
        std::uint32_t first = (static_cast<std::uint32_t>(codes[k]) << (16 - length)) & 0xFFFF;
        std::uint32_t count = (0xFFFFu >> length) + 1;
        std::memset(lengthTable + first, length, count);
        std::memset(symbolTable + first, symbol, count);
    }
    if (fast != nullptr) BuildFastHuffman(codeLengths, codes, symbols, n, isAc, fast);
    return 16 + n;
}

void BindScanTables(DecoderContext* c) {
    int decoded = c->samplingMode == SAMPLING_GREY ? 1 : 3;
    for (int comp = 0; comp < decoded; ++comp)
        for (int k = 0; k <= 64; ++k)
            c->quantZigzag[comp][k] = c->componentQuant[comp][zigzagOrder[k]];
}

// ---------------------------------------------------------------------------
// The literal bit reader: the steps one by one.

std::uint16_t PeekBits16(const DecoderContext* c) {
    const std::uint8_t* p = c->readPos;
    unsigned first = p[0];
    if (first == 0x00 && p[-1] == 0xFF) first = *++p;
    unsigned second = *++p;
    if (second == 0x00 && p[-1] == 0xFF) second = *++p;
    unsigned value = (first << 8) | second;
    if (c->bitOffset != 0) {
        unsigned third = *++p;
        if (third == 0x00 && p[-1] == 0xFF) third = *++p;
        value = ((value << c->bitOffset) & 0xFFFF) + (third >> (8 - c->bitOffset));
    }
    return static_cast<std::uint16_t>(value);
}

// Exhausted data keeps bytesLeft at -1: below 0 is all that is ever asked of
// it from then on, and it must not run down without bound.
int ConsumeBits(DecoderContext* c) {
    int total = c->bitsToConsume + c->bitOffset;
    for (int whole = total / 8; whole > 0; --whole) {
        if (c->readPos[0] == 0xFF && c->readPos[1] == 0x00) {
            if (c->bytesLeft <= 0) {
                c->bytesLeft = -1;
                return 1;
            }
            --c->bytesLeft;
            ++c->readPos;
        }
        if (c->bytesLeft <= 0) {
            c->bytesLeft = -1;
            return 1;
        }
        --c->bytesLeft;
        ++c->readPos;
    }
    c->bitOffset = static_cast<std::int16_t>(total % 8);
    return 0;
}

// A size category above 16 (no baseline table has one; DC allows up to 11) is
// taken as 16: 16 bits are read and extended, so that no shift is negative.
int DecodeDc(DecoderContext* c, int comp) {
    std::uint16_t i = PeekBits16(c);
    c->bitsToConsume = c->dcLength[comp][i];
    int s = c->dcSymbol[comp][i];
    int result = ConsumeBits(c);
    if (s == 0) {
        c->dcDiff = 0;
        return result;
    }
    if (s > 16) s = 16;
    i = PeekBits16(c);
    c->bitsToConsume = static_cast<std::uint16_t>(s);
    result = ConsumeBits(c);
    c->dcDiff = static_cast<std::int16_t>(Extend(i >> (16 - s), s));
    return result;
}

int DecodeAc(DecoderContext* c, int comp) {
    std::uint16_t i = PeekBits16(c);
    c->bitsToConsume = c->acLength[comp][i];
    int rs = c->acSymbol[comp][i];
    int result = ConsumeBits(c);
    c->acRun = static_cast<std::int16_t>(rs >> 4);
    int size = rs & 0x0F;
    if (size == 0) {
        c->acValue = 0;
        return result;
    }
    i = PeekBits16(c);
    c->bitsToConsume = static_cast<std::uint16_t>(size);
    result = ConsumeBits(c);
    c->acValue = static_cast<std::int16_t>(Extend(i >> (16 - size), size));
    return result;
}

namespace {

int DecodeBlockLiteral(DecoderContext* c, int comp, std::int16_t* block) {
    const std::uint16_t* q = c->componentQuant[comp];
    int k = 1;
    DecodeDc(c, comp);
    c->dcPredictor[comp] = static_cast<std::int16_t>(c->dcPredictor[comp] + c->dcDiff);
    block[0] = static_cast<std::int16_t>(c->dcPredictor[comp] * q[0]);
    int result;
    for (;;) {
        result = DecodeAc(c, comp);
        if (c->acRun == 0 && c->acValue == 0) {
            for (; k < 64; ++k) block[zigzagOrder[k]] = 0;
            break;
        }
        while (c->acRun > 0 && k < 64) {
            block[zigzagOrder[k]] = 0;
            ++k;
            --c->acRun;
        }
        int z = zigzagOrder[k];
        ++k;
        block[z] = static_cast<std::int16_t>(c->acValue * q[z]);
        if (k >= 64) break;
    }
    return result;
}

// ---------------------------------------------------------------------------
// Blocks through the fast reader (bit_reader.h).

// Zeroes a block. The compiler makes a 128-byte memset a string store, whose
// start-up costs more than the eight vector stores.
inline void ClearBlock(std::int16_t* block) {
#if defined(__SSE2__)
    for (int i = 0; i < 8; ++i)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(block + 8 * i), _mm_setzero_si128());
#else
    std::memset(block, 0, 64 * sizeof(std::int16_t));
#endif
}

// Decodes one block of component `comp` from the reader; gives the new DC
// predictor (the caller stores it once the whole advance is known to be good).
// The reader is the fast one, or the photo path's marker-aware one.
template <typename Reader>
inline std::int16_t DecodeWithReader(Reader& r, const DecoderContext* c, int comp,
                                     std::int16_t* block, std::int16_t predictor,
                                     std::uint8_t* end) {
    ClearBlock(block);
    const std::int32_t* q = c->quantZigzag[comp];
    if (r.count < 32) Refill(r);

    // DC.
    const FastHuffman* dc = c->dcFast[comp];
    unsigned peek = static_cast<unsigned>(r.bits >> 48);
    std::int32_t whole = dc->acEntry[peek >> (16 - FAST_BITS)];
    std::int32_t diff = 0;
    int length;
    if (whole & FAST_AC_VALID) {
        Skip(r, whole & 31);
        diff = whole >> 16;
    } else {
        unsigned entry = dc->codeEntry[peek >> (16 - FAST_BITS)];
        int s;
        if (entry & FAST_SLOW) {
            length = c->dcLength[comp][peek];
            s = c->dcSymbol[comp][peek];
        } else {
            length = (entry >> 8) & 31;
            s = entry & 0xFF;
        }
        Skip(r, length);
        if (s != 0) {
            if (s > 16) s = 16;
            diff = Extend(static_cast<std::int32_t>(r.bits >> (64 - s)), s);
            Skip(r, s);
        }
    }
    predictor = static_cast<std::int16_t>(predictor + diff);
    block[0] = static_cast<std::int16_t>(predictor * q[0]);

    // AC.
    const FastHuffman* ac = c->acFast[comp];
    const std::uint8_t* acLength = c->acLength[comp];
    const std::uint8_t* acSymbol = c->acSymbol[comp];
    int k = 1;
    for (;;) {
        if (r.count < 32) Refill(r);
        peek = static_cast<unsigned>(r.bits >> 48);
        std::int32_t e = ac->acEntry[peek >> (16 - FAST_BITS)];
        int run;
        std::int32_t value;
        if (e & FAST_AC_VALID) {
            Skip(r, e & 31);
            run = (e >> 8) & 15;
            value = e >> 16;
        } else {
            unsigned ce = ac->codeEntry[peek >> (16 - FAST_BITS)];
            int rs;
            if (ce & FAST_SLOW) {
                length = acLength[peek];
                rs = acSymbol[peek];
            } else {
                length = (ce >> 8) & 31;
                rs = ce & 0xFF;
            }
            Skip(r, length);
            run = rs >> 4;
            int size = rs & 0x0F;
            value = 0;
            if (size != 0) {
                value = Extend(static_cast<std::int32_t>(r.bits >> (64 - size)), size);
                Skip(r, size);
            }
        }
        if (run == 0 && value == 0) break;  // end of block: the rest stays zero
        k += run;
        if (k > 64) k = 64;
        block[zigzagOrder[k]] = static_cast<std::int16_t>(value * q[k]);
        if (++k >= 64) break;
    }
    *end = static_cast<std::uint8_t>(k);
    return predictor;
}

// Whether the fast reader may start here: not on exhausted data, and not on the
// 00 of a stuffed pair (PeekBits16 passes over it while ConsumeBits counts it).
inline bool FastStart(const DecoderContext* c, std::int32_t margin) {
    return !c->switches.literalPaths && c->bytesLeft >= margin &&
           !(c->readPos[0] == 0x00 && c->readPos[-1] == 0xFF);
}

// Decodes a block as the literal reader would, provided no advance inside it
// exhausts the data; gives false, with the context untouched, when one would
// (the caller then decodes the block the literal way). A block cannot pass more
// than 2 x 249 bytes (64 codes and values of at most 16 bits each, all bytes
// stuffed) and the reader looks at most 17 bytes further, so from any position
// inside the data it stays within the 1000 zero bytes behind it.
bool DecodeBlockFast(DecoderContext* c, int comp, std::int16_t* block) {
    FastReader r;
    StartReader(r, c);
    std::uint8_t end;
    std::int16_t predictor = DecodeWithReader(r, c, comp, block, c->dcPredictor[comp], &end);
    if (!FinishReader(r, c)) return false;
    c->dcPredictor[comp] = predictor;
    return true;
}

int DecodeBlock(DecoderContext* c, int comp, std::int16_t* block) {
    if (FastStart(c, 1) && DecodeBlockFast(c, comp, block)) return 0;
    return DecodeBlockLiteral(c, comp, block);
}

}  // namespace

// All blocks of one MCU with one fast reader, when the MCU starts at least
// MCU_MARGIN bytes before the end of the data (six blocks pass at most 2988
// bytes, so no advance inside it can exhaust the data and every read stays in
// the buffer). Gives false, with the context untouched, otherwise.
bool DecodeMcuFast(DecoderContext* c, int lumaCount, bool colour) {
    const std::int32_t MCU_MARGIN = 3100;
    if (!FastStart(c, MCU_MARGIN)) return false;
    FastReader r;
    StartReader(r, c);
    std::int16_t luma = c->dcPredictor[0], cb = c->dcPredictor[1], cr = c->dcPredictor[2];
    for (int i = 0; i < lumaCount; ++i)
        luma = DecodeWithReader(r, c, 0, c->lumaBlocks + 64 * i, luma, &c->blockEnd[i]);
    if (colour) {
        cb = DecodeWithReader(r, c, 1, c->cbBlock, cb, &c->blockEnd[lumaCount]);
        cr = DecodeWithReader(r, c, 2, c->crBlock, cr, &c->blockEnd[lumaCount + 1]);
    }
    if (!FinishReader(r, c)) return false;
    c->dcPredictor[0] = luma;
    c->dcPredictor[1] = cb;
    c->dcPredictor[2] = cr;
    return true;
}

int DecodeLumaBlock(DecoderContext* c) { return DecodeBlock(c, 0, c->lumaBlocks); }
int DecodeCbBlock(DecoderContext* c) { return DecodeBlock(c, 1, c->cbBlock); }
int DecodeCrBlock(DecoderContext* c) { return DecodeBlock(c, 2, c->crBlock); }

std::int16_t DecodeBlockStoppingAtMarkers(MarkerReader& r, const DecoderContext* c, int comp,
                                          std::int16_t* block, std::int16_t predictor,
                                          std::uint8_t* end) {
    return DecodeWithReader(r, c, comp, block, predictor, end);
}
