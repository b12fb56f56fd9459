// The fast bit reader of the entropy-coded data: the de-stuffed stream in a
// 64-bit word, filled eight bytes at a time where no FF is among them. Within
// the data it sees exactly the bits PeekBits16 sees and moves exactly as
// ConsumeBits moves; FinishReader turns its position back into readPos,
// bitOffset and bytesLeft. It treats FF xx as data, as the literal reader does.
#pragma once

#include <cstdint>
#include <cstring>

#include "decoder_context.h"

struct FastReader {
    std::uint64_t bits;  // de-stuffed stream, next bit in bit 63
    int count;           // valid bits in `bits`
    const std::uint8_t* src;
    std::uint32_t loaded;  // de-stuffed bytes taken into `bits`
    bool stuffed;          // a stuffed 00 was passed over
};

inline std::uint64_t LoadBigEndian64(const std::uint8_t* p) {
    std::uint64_t v;
    std::memcpy(&v, p, 8);
#if defined(__GNUC__)
    return __builtin_bswap64(v);
#else
    std::uint64_t r = 0;
    for (int i = 0; i < 8; ++i) r = (r << 8) | p[i];
    return r;
#endif
}

inline bool HasByteFF(std::uint64_t v) {
    std::uint64_t x = ~v;
    return ((x - 0x0101010101010101ull) & ~x & 0x8080808080808080ull) != 0;
}

// Fills `bits` to at least 57 valid bits. Eight raw bytes without an FF among
// them are taken at once; the bits past `count` that this leaves in the word
// are the true next bits, so a later fill that ORs them in again changes
// nothing. Otherwise one byte at a time, passing over the 00 after an FF.
inline void Refill(FastReader& r) {
    while (r.count <= 56) {
        std::uint64_t raw = LoadBigEndian64(r.src);
        if (!HasByteFF(raw)) {
            int bytes = (64 - r.count) >> 3;
            r.bits |= raw >> r.count;
            r.src += bytes;
            r.count += 8 * bytes;
            r.loaded += bytes;
            return;
        }
        std::uint32_t b = *r.src++;
        if (b == 0xFF && *r.src == 0x00) {
            ++r.src;
            r.stuffed = true;
        }
        r.bits |= static_cast<std::uint64_t>(b) << (56 - r.count);
        r.count += 8;
        ++r.loaded;
    }
}

inline void Skip(FastReader& r, int n) {
    r.bits <<= n;
    r.count -= n;
}

inline void StartReader(FastReader& r, const DecoderContext* c) {
    r.bits = 0;
    r.count = 0;
    r.src = c->readPos;
    r.loaded = 0;
    r.stuffed = false;
    Refill(r);
    Skip(r, c->bitOffset);
}

// Back to readPos, bitOffset and bytesLeft; false (nothing changed) when an
// advance on the way would have exhausted the data.
inline bool FinishReader(const FastReader& r, DecoderContext* c) {
    std::uint32_t passedBits = 8 * r.loaded - static_cast<std::uint32_t>(r.count);
    std::uint32_t passed = passedBits >> 3;
    const std::uint8_t* p = c->readPos;
    if (!r.stuffed) {
        p += passed;
    } else {
        for (; passed > 0; --passed) p += (p[0] == 0xFF && p[1] == 0x00) ? 2 : 1;
    }
    if (p - c->readPos > c->bytesLeft) return false;
    c->bytesLeft -= static_cast<std::int32_t>(p - c->readPos);
    c->readPos = p;
    c->bitOffset = static_cast<std::int16_t>(passedBits & 7);
    return true;
}

// The photo path's reader: the same word and the same look-ups, but it stops
// at a marker (a restart, the end of a scan) and at the end of the data, and
// from there feeds zero bits, counting them, so that a scan cut short still
// ends and the decoder can tell afterwards that it read past its data. It
// never reads outside [src, end).
struct MarkerReader {
    std::uint64_t bits;  // next bit in bit 63; the bits past `count` are zero
    int count;           // bits in `bits`, the fed zeros included
    const std::uint8_t* src;
    const std::uint8_t* end;
    int fed;       // zero bits fed since the data stopped
    bool stopped;  // src stands on a marker or at the end of the data
};

inline void StartMarkerReader(MarkerReader& r, const std::uint8_t* src, const std::uint8_t* end) {
    r.bits = 0;
    r.count = 0;
    r.src = src;
    r.end = end;
    r.fed = 0;
    r.stopped = false;
}

// Fills `bits` to at least 57 bits. Eight bytes without an FF among them are
// taken at once, as Refill does; a stuffed FF 00 gives FF; any other FF is a
// marker (or fill before one), where the data stops.
inline void Refill(MarkerReader& r) {
    while (r.count <= 56) {
        if (!r.stopped) {
            if (r.end - r.src >= 8) {
                std::uint64_t raw = LoadBigEndian64(r.src);
                if (!HasByteFF(raw)) {
                    int bytes = (64 - r.count) >> 3;
                    r.bits |= raw >> r.count;
                    r.src += bytes;
                    r.count += 8 * bytes;
                    return;
                }
            }
            if (r.src < r.end) {
                std::uint32_t b = *r.src;
                if (b != 0xFF || (r.end - r.src >= 2 && r.src[1] == 0x00)) {
                    r.src += b == 0xFF ? 2 : 1;
                    r.bits |= static_cast<std::uint64_t>(b) << (56 - r.count);
                    r.count += 8;
                    continue;
                }
            }
            r.stopped = true;
        }
        r.count += 8;
        r.fed += 8;
    }
}

inline void Skip(MarkerReader& r, int n) {
    r.bits <<= n;
    r.count -= n;
}

// True once the decoder has taken fed zeros, that is, more bits than the data held.
inline bool ReadPastData(const MarkerReader& r) { return r.count < r.fed; }

// The next n bits (1..16) as an unsigned number.
inline std::uint32_t TakeBits(MarkerReader& r, int n) {
    if (r.count < n) Refill(r);
    std::uint32_t v = static_cast<std::uint32_t>(r.bits >> (64 - n));
    Skip(r, n);
    return v;
}

// The shared block decoder (entropy.cpp) over the marker-aware reader: one
// block of scan component `comp` exactly as the built-in decode reads it, with
// the values of the context's quantZigzag as the multipliers; gives the new
// DC predictor and, in *end, the zigzag position after the last value.
std::int16_t DecodeBlockStoppingAtMarkers(MarkerReader& r, const DecoderContext* c, int comp,
                                          std::int16_t* block, std::int16_t predictor,
                                          std::uint8_t* end);
