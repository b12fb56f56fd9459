// Bitmap files in and out of DIB handles. Files come from anywhere, so the
// reader checks every size a file states against the bit depth, 32-bit
// arithmetic and the file's real length before it allocates or reads.
#include "dib.h"

#include <cstring>

namespace {

enum : DWORD { CORE_HEADER_SIZE = 12, INFO_HEADER_SIZE = 40, MASKS_BYTES = 12 };
enum : WORD { BM_TYPE = 0x4D42 };  // "BM" read as a little-endian number
enum : UINT { FILE_HEADER_LEAD = 2, FILE_HEADER_REST = 12, CHUNK = 0x8000 };
enum : UINT { BLOCK_FLAGS = GMEM_MOVEABLE | GMEM_ZEROINIT };
enum : DWORD { YIELD_PIECE = 8 * CHUNK };
// Palette devices have at most 256 entries; a table beside 16, 24 or 32-bit
// rows exists only to serve them.
enum : DWORD { MAX_OPTIONAL_COLORS = 256 };

static_assert(sizeof(BITMAPFILEHEADER) == FILE_HEADER_LEAD + FILE_HEADER_REST,
              "file header is packed");
static_assert(sizeof(BITMAPINFOHEADER) == INFO_HEADER_SIZE, "full header is 40 bytes");
static_assert(sizeof(BITMAPCOREHEADER) == CORE_HEADER_SIZE, "core header is 12 bytes");

DWORD MaxColors(unsigned bits) {
    return bits >= 1 && bits <= 8 ? DWORD(1) << bits : MAX_OPTIONAL_COLORS;
}

// The core header widened to the full form, in place in `buffer`.
void WidenCoreHeader(unsigned char* buffer, WORD colors) {
    BITMAPCOREHEADER core;
    std::memcpy(&core, buffer, sizeof core);
    BITMAPINFOHEADER info{};
    info.biSize = INFO_HEADER_SIZE;
    info.biWidth = core.bcWidth;
    info.biHeight = core.bcHeight;
    info.biPlanes = core.bcPlanes;
    info.biBitCount = core.bcBitCount;
    info.biClrUsed = colors;
    info.biClrImportant = colors;
    std::memcpy(buffer, &info, sizeof info);
}

bool Uncompressed(const BITMAPINFOHEADER& info) {
    return info.biCompression == BI_RGB || info.biCompression == BI_BITFIELDS;
}

// Checks a full header as the file states it and completes its image size.
// False for anything the rows could not be read or drawn safely from.
bool CompleteHeader(BITMAPINFOHEADER* info) {
    // A negative height means top-down rows, which the header keeps; run-length
    // data has no top-down form.
    if (info->biWidth <= 0 || info->biHeight == 0 || info->biHeight == INT32_MIN) return false;
    if (info->biHeight < 0 && !Uncompressed(*info)) return false;
    const LONG rows = info->biHeight < 0 ? -info->biHeight : info->biHeight;
    if (info->biClrUsed > MaxColors(info->biBitCount)) return false;
    DWORD ruleBytes;
    if (!RowImageBytes(info->biWidth, rows, info->biBitCount, &ruleBytes)) return false;
    // An uncompressed image is never smaller than its rows, whatever the file
    // says; compressed data has only its stated size.
    if (info->biSizeImage == 0 || (Uncompressed(*info) && info->biSizeImage < ruleBytes))
        info->biSizeImage = ruleBytes;
    return true;
}

// The padding behind the last row's pixels, which some writers leave out of
// the file: that many bytes may be missing at its end.
DWORD MissingBytesAllowed(const BITMAPINFOHEADER& info) {
    if (!Uncompressed(info)) return 0;
    const uint64_t rowBits = uint64_t(info.biWidth) * info.biBitCount;
    return static_cast<DWORD>((rowBits + 31) / 32 * 4 - (rowBits + 7) / 8);
}

// Moves to the rows: `offset` from `start`, or where the file now stands when
// the offset is 0. False when the rows, but for `missing` bytes at their end,
// lie beyond the file's end.
bool SeekToRows(HFILE file, LONG start, DWORD offset, DWORD rowBytes, DWORD missing) {
    const LONG here = _llseek(file, 0, FILE_CURRENT);
    const LONG end = _llseek(file, 0, FILE_END);
    if (here == HFILE_ERROR || end == HFILE_ERROR) return false;
    const int64_t rows = offset != 0 ? int64_t(start) + offset : here;
    if (rows > end || int64_t(end) - rows + missing < rowBytes) return false;
    return _llseek(file, static_cast<LONG>(rows), FILE_BEGIN) == rows;
}

// The masks each depth draws with when a header names none.
bool DefaultMasks(WORD bits, const DWORD masks[3]) {
    if (bits == 16) return masks[0] == 0x7C00 && masks[1] == 0x03E0 && masks[2] == 0x001F;
    if (bits == 32)
        return masks[0] == 0x00FF0000 && masks[1] == 0x0000FF00 && masks[2] == 0x000000FF;
    return false;
}

// A bitfield header's masks follow it. When they are the depth's own, the rows
// are plain RGB rows and are marked so, because a DIB handle has no room for
// masks; the file then stands behind them. Other masks are left unread, as
// they always were. False when the file cannot be read or put back.
bool PlainRgbForDefaultMasks(HFILE file, BITMAPINFOHEADER* info) {
    if (info->biCompression != BI_BITFIELDS) return true;
    DWORD masks[3];
    const UINT got = _lread(file, masks, MASKS_BYTES);
    if (got == UINT(HFILE_ERROR)) return false;
    if (got == MASKS_BYTES && DefaultMasks(info->biBitCount, masks)) {
        info->biCompression = BI_RGB;
        return true;
    }
    return got == 0 || _llseek(file, -LONG(got), FILE_CURRENT) != HFILE_ERROR;
}

}  // namespace

DWORD ReadChunked(HFILE file, void* buffer, DWORD count) {
    auto* at = static_cast<char*>(buffer);
    DWORD left = count;
    while (left > CHUNK) {
        if (_lread(file, at, CHUNK) != CHUNK) return 0;
        at += CHUNK;
        left -= CHUNK;
    }
    // Nothing left means no call: a transfer of 0 bytes is not a request.
    if (left != 0 && _lread(file, at, left) != left) return 0;
    return count;
}

DWORD WriteChunked(HFILE file, const void* buffer, DWORD count) {
    const auto* at = static_cast<const char*>(buffer);
    DWORD left = count;
    while (left > CHUNK) {
        if (_lwrite(file, at, CHUNK) != CHUNK) return 0;
        at += CHUNK;
        left -= CHUNK;
    }
    // _lwrite of 0 bytes would cut the file off here.
    if (left != 0 && _lwrite(file, at, left) != left) return 0;
    return count;
}

void ReadBmpFileHeader(HFILE file, BITMAPFILEHEADER* header, LONG* start) {
    // A file shorter than the header leaves zeros, not stale bytes, behind.
    std::memset(header, 0, sizeof *header);
    *start = _llseek(file, 0, FILE_CURRENT);
    auto* bytes = reinterpret_cast<char*>(header);
    _lread(file, bytes, FILE_HEADER_LEAD);
    _lread(file, bytes + FILE_HEADER_LEAD, FILE_HEADER_REST);
}

UINT WriteBmpFileHeader(HFILE file, const BITMAPFILEHEADER* header) {
    const auto* bytes = reinterpret_cast<const char*>(header);
    // Without its "BM" the rest would land two bytes early: the file is lost
    // already, and the result says so.
    if (_lwrite(file, bytes, FILE_HEADER_LEAD) != FILE_HEADER_LEAD) return UINT(HFILE_ERROR);
    return _lwrite(file, bytes + FILE_HEADER_LEAD, FILE_HEADER_REST);
}

HGLOBAL ReadDibHeaderBlock(HFILE file) {
    if (file == HFILE_ERROR) return nullptr;
    BITMAPFILEHEADER fileHeader;
    LONG start;
    ReadBmpFileHeader(file, &fileHeader, &start);
    if (start == HFILE_ERROR) return nullptr;
    DWORD offBits = fileHeader.bfOffBits;
    if (fileHeader.bfType != BM_TYPE) {
        // No file header: the bitmap header is the first thing in the file.
        offBits = 0;
        if (_llseek(file, start, FILE_BEGIN) != start) return nullptr;
    }

    unsigned char buffer[INFO_HEADER_SIZE] = {};
    const UINT got = _lread(file, buffer, INFO_HEADER_SIZE);
    if (got == UINT(HFILE_ERROR)) return nullptr;
    DWORD headerBytes;
    std::memcpy(&headerBytes, buffer, sizeof headerBytes);
    const bool core = got >= sizeof headerBytes && headerBytes == CORE_HEADER_SIZE;
    // A small core file may end before 40 bytes; it needs only its own 12.
    if (got < (core ? CORE_HEADER_SIZE : INFO_HEADER_SIZE)) return nullptr;
    if (!core && headerBytes != INFO_HEADER_SIZE) return nullptr;

    const WORD colors = ColorCount(buffer);
    if (core) {
        WidenCoreHeader(buffer, colors);
        // Back to just behind the 12 bytes of the core header.
        if (_llseek(file, -LONG(got - CORE_HEADER_SIZE), FILE_CURRENT) == HFILE_ERROR)
            return nullptr;
    }
    BITMAPINFOHEADER info;
    std::memcpy(&info, buffer, sizeof info);
    if (!CompleteHeader(&info)) return nullptr;
    if (info.biClrUsed == 0) info.biClrUsed = colors;
    if (!core && !PlainRgbForDefaultMasks(file, &info)) return nullptr;

    const DWORD tableBytes = DWORD(colors) * sizeof(RGBQUAD);
    HGLOBAL block = GlobalAlloc(BLOCK_FLAGS, INFO_HEADER_SIZE + tableBytes);
    if (!block) return nullptr;
    auto* dib = static_cast<unsigned char*>(GlobalLock(block));
    if (!dib) {
        GlobalFree(block);
        return nullptr;
    }
    std::memcpy(dib, &info, sizeof info);
    bool sound = true;
    if (colors != 0) {
        auto* table = reinterpret_cast<RGBQUAD*>(dib + INFO_HEADER_SIZE);
        if (core) {
            const UINT tripleBytes = colors * sizeof(RGBTRIPLE);
            sound = _lread(file, table, tripleBytes) == tripleBytes;
            // Widen from the last entry down, so that no triple is overwritten
            // before it has been moved.
            const auto* triples = reinterpret_cast<const unsigned char*>(table);
            for (int i = colors - 1; i >= 0; --i) {
                RGBQUAD quad = {triples[3 * i], triples[3 * i + 1], triples[3 * i + 2], 0};
                table[i] = quad;
            }
        } else {
            sound = _lread(file, table, tableBytes) == tableBytes;
        }
    }
    sound = sound && SeekToRows(file, start, offBits, info.biSizeImage, MissingBytesAllowed(info));
    GlobalUnlock(block);
    if (!sound) {
        GlobalFree(block);
        return nullptr;
    }
    return block;
}

BOOL QueryDibHeader(HGLOBAL dib, BITMAPINFOHEADER* header) {
    if (!dib) return FALSE;
    const SIZE_T blockBytes = GlobalSize(dib);
    const auto* bytes = static_cast<const unsigned char*>(GlobalLock(dib));
    if (!bytes) return FALSE;
    // Copy no more than the block holds; a core header's block may be shorter
    // than the full form.
    std::memset(header, 0, sizeof *header);
    std::memcpy(header, bytes,
                blockBytes < INFO_HEADER_SIZE ? blockBytes : SIZE_T(INFO_HEADER_SIZE));
    GlobalUnlock(dib);
    if (header->biSize == CORE_HEADER_SIZE) return blockBytes >= CORE_HEADER_SIZE;
    if (blockBytes < INFO_HEADER_SIZE) return FALSE;
    if (header->biSizeImage == 0) {
        // A top-down DIB (negative height) has as many rows as a bottom-up one;
        // sizes the rule cannot give in 32 bits are no header to work from.
        const int64_t rows = header->biHeight < 0 ? -int64_t(header->biHeight) : header->biHeight;
        if (rows > INT32_MAX || !RowImageBytes(header->biWidth, static_cast<LONG>(rows),
                                               header->biBitCount, &header->biSizeImage))
            return FALSE;
    }
    if (header->biClrUsed == 0) header->biClrUsed = ColorCount(header);
    return TRUE;
}

HGLOBAL ReadBmpFile(HFILE file, DibYield yield, void* argument) {
    HGLOBAL block = ReadDibHeaderBlock(file);
    BITMAPINFOHEADER info;
    if (!block || !QueryDibHeader(block, &info)) {
        if (block) GlobalFree(block);
        return nullptr;
    }
    const uint64_t bytes = uint64_t(info.biSize) + ColorTableBytes(&info) + info.biSizeImage;
    HGLOBAL grown = bytes <= SIZE_T(-1)
                        ? GlobalReAlloc(block, static_cast<SIZE_T>(bytes), BLOCK_FLAGS)
                        : nullptr;
    if (!grown) {
        GlobalFree(block);
        return nullptr;
    }
    block = grown;
    auto* dib = static_cast<unsigned char*>(GlobalLock(block));
    // The file was measured before the block grew; a read that still comes up
    // short (the file shrank, or a read failed) leaves no half picture behind.
    // Only the last row's padding may be missing; it stays zero.
    bool read = false;
    if (dib) {
        unsigned char* rows = dib + info.biSize + ColorTableBytes(&info);
        const DWORD optional = MissingBytesAllowed(info), whole = info.biSizeImage - optional;
        // A large file from a slow disk comes in pieces, with the caller's
        // yield between them; a false from it abandons the read.
        read = true;
        for (DWORD done = 0; read && done < whole;) {
            const DWORD piece = whole - done < YIELD_PIECE ? whole - done : DWORD(YIELD_PIECE);
            read = ReadChunked(file, rows + done, piece) == piece;
            done += piece;
            if (read && done < whole && yield) read = yield(argument);
        }
        if (read && optional != 0) {
            const UINT got = _lread(file, rows + whole, optional);
            read = got != UINT(HFILE_ERROR);
            if (read && got < optional) std::memset(rows + whole + got, 0, optional - got);
        }
        GlobalUnlock(block);
    }
    if (!read) {
        GlobalFree(block);
        return nullptr;
    }
    return block;
}

HGLOBAL LoadBmpFile(const char* name) {
    OFSTRUCT opened;
    const HFILE file = OpenFile(name, &opened, OF_READ);
    if (file == HFILE_ERROR) return nullptr;
    HGLOBAL block = ReadBmpFile(file);
    _lclose(file);
    return block;
}

BOOL SaveBmpFile(const char* name, HGLOBAL dib) {
    if (!dib) return FALSE;
    const SIZE_T blockBytes = GlobalSize(dib);
    const auto* bytes = static_cast<const unsigned char*>(GlobalLock(dib));
    if (!bytes) return FALSE;
    // The block must hold the header its first field names, and the file's
    // 32-bit size must be able to count it.
    DWORD headerBytes = 0;
    if (blockBytes >= sizeof headerBytes) std::memcpy(&headerBytes, bytes, sizeof headerBytes);
    const DWORD needed = headerBytes == CORE_HEADER_SIZE ? CORE_HEADER_SIZE : INFO_HEADER_SIZE;
    if (blockBytes < needed || uint64_t(blockBytes) + sizeof(BITMAPFILEHEADER) > 0xFFFFFFFFu) {
        GlobalUnlock(dib);
        return FALSE;
    }
    OFSTRUCT opened;
    const HFILE file = OpenFile(name, &opened, OF_CREATE | OF_READWRITE);
    if (file == HFILE_ERROR) {
        GlobalUnlock(dib);
        return FALSE;
    }
    BITMAPFILEHEADER fileHeader{};
    fileHeader.bfType = BM_TYPE;
    fileHeader.bfSize = static_cast<DWORD>(blockBytes + sizeof fileHeader);
    fileHeader.bfOffBits = sizeof fileHeader + headerBytes + ColorTableBytes(bytes);
    const bool written = WriteBmpFileHeader(file, &fileHeader) == FILE_HEADER_REST &&
                         WriteChunked(file, bytes, static_cast<DWORD>(blockBytes)) == blockBytes;
    GlobalUnlock(dib);
    const bool closed = _lclose(file) != HFILE_ERROR;
    if (!written || !closed) {
        // A half-written bitmap is worse than none: the caller sees FALSE and
        // no file that looks like a picture.
        OpenFile(name, &opened, OF_DELETE);
        return FALSE;
    }
    return TRUE;
}
