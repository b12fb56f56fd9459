// Byte builders shared by the decoder, information-scan and bitmap-file tests:
// joined parts, text, fields in either byte order, JPEG marker segments and
// the bytes of a movable block.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

inline Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

inline Bytes Text(const char* s) { return Bytes(s, s + std::strlen(s)); }

// `b` with `what` inserted before offset `at`.
inline Bytes Insert(const Bytes& b, std::size_t at, const Bytes& what) {
    Bytes out(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(at));
    out.insert(out.end(), what.begin(), what.end());
    out.insert(out.end(), b.begin() + static_cast<std::ptrdiff_t>(at), b.end());
    return out;
}

// JPEG fields are big-endian, bitmap-file fields little-endian.
inline void PutBe16(Bytes& b, std::size_t at, unsigned v) {
    b[at] = static_cast<std::uint8_t>(v >> 8);
    b[at + 1] = static_cast<std::uint8_t>(v);
}

inline void PutLe16(Bytes& b, std::size_t at, unsigned v) {
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

inline void PutLe32(Bytes& b, std::size_t at, std::uint32_t v) {
    PutLe16(b, at, v & 0xFFFF);
    PutLe16(b, at + 2, v >> 16);
}

const Bytes SOI_BYTES = {0xFF, 0xD8}, EOI_BYTES = {0xFF, 0xD9};

// A segment whose length field says `length` whatever follows. (Built by
// size and copy: gcc 12 misjudges the bounds of a small vector's insert.)
inline Bytes JpegSegmentWithLength(std::uint8_t code, int length, const Bytes& payload) {
    Bytes s(4 + payload.size());
    s[0] = 0xFF;
    s[1] = code;
    PutBe16(s, 2, static_cast<unsigned>(length));
    if (!payload.empty()) std::memcpy(s.data() + 4, payload.data(), payload.size());
    return s;
}

inline Bytes JpegSegment(std::uint8_t code, const Bytes& payload) {
    return JpegSegmentWithLength(code, static_cast<int>(payload.size()) + 2, payload);
}

// The offset just past the segment whose marker is at `at`, by its length field.
inline std::size_t JpegSegmentEnd(const Bytes& b, std::size_t at) {
    return at + 2 + ((static_cast<std::size_t>(b[at + 2]) << 8) | b[at + 3]);
}

// A copy of the whole movable block `block`.
inline Bytes BlockBytes(HGLOBAL block) {
    const auto* bytes = static_cast<const std::uint8_t*>(GlobalLock(block));
    Bytes copy(bytes, bytes + GlobalSize(block));
    GlobalUnlock(block);
    return copy;
}
