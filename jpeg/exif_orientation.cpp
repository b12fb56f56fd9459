// The EXIF orientation: tag 0x0112 of IFD0 in an APP1 segment that begins
// with "Exif\0\0". The segment holds a TIFF structure in either byte order
// whose IFD0 may stand anywhere in it; only IFD0 is read (IFD1 describes the
// thumbnail), and every offset is checked against the segment before use.
#include "photo_context.h"

namespace {

const std::uint32_t EXIF_HEADER = 6;  // "Exif\0\0"
const std::uint16_t TAG_ORIENTATION = 0x0112;
const std::uint16_t TYPE_SHORT = 3, TYPE_LONG = 4;

struct TiffView {
    const std::uint8_t* data;
    std::uint32_t length;
    bool bigEndian;
};

std::uint32_t Read16(const TiffView& t, std::uint32_t at) {
    const std::uint8_t* p = t.data + at;
    return t.bigEndian ? (p[0] << 8) | p[1] : (p[1] << 8) | p[0];
}

std::uint32_t Read32(const TiffView& t, std::uint32_t at) {
    return t.bigEndian ? (Read16(t, at) << 16) | Read16(t, at + 2)
                       : (Read16(t, at + 2) << 16) | Read16(t, at);
}

}  // namespace

int ReadExifOrientation(const std::uint8_t* payload, std::uint32_t length) {
    if (length < EXIF_HEADER + 8) return 1;
    TiffView t = {payload + EXIF_HEADER, length - EXIF_HEADER, payload[EXIF_HEADER] == 'M'};
    std::uint8_t order = t.data[0];
    if ((order != 'I' && order != 'M') || t.data[1] != order || Read16(t, 2) != 42) return 1;
    std::uint32_t ifd = Read32(t, 4);
    if (ifd > t.length - 2) return 1;
    std::uint32_t entries = Read16(t, ifd);
    for (std::uint32_t i = 0; i < entries; ++i) {
        std::uint64_t entry = ifd + 2 + 12ull * i;
        if (entry + 12 > t.length) return 1;
        std::uint32_t at = static_cast<std::uint32_t>(entry);
        if (Read16(t, at) != TAG_ORIENTATION) continue;
        std::uint32_t type = Read16(t, at + 2), value;
        if (type == TYPE_SHORT)
            value = Read16(t, at + 8);
        else if (type == TYPE_LONG)
            value = Read32(t, at + 8);
        else
            return 1;
        return value >= 1 && value <= 8 ? static_cast<int>(value) : 1;
    }
    return 1;
}
