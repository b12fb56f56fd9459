// Plain routines over device-independent bitmaps held in movable global
// blocks: a 40-byte BITMAPINFOHEADER, its colour table, then the rows.
#pragma once

#include <windows.h>

#include <cstdint>

// Colour-table entries and their size in bytes, for either header form (a
// 12-byte core header has 3-byte entries, the full header 4-byte ones). Both
// are 16-bit quantities, as every user of them takes them.
uint16_t ColorCount(const void* header);
uint16_t ColorTableBytes(const void* header);

// The row and image size rule: ((width × bits + 31) / 32) × 4 bytes a row,
// times the rows. False when the width or the rows are negative or a step of
// the rule needs more than 32 bits.
bool RowImageBytes(LONG width, LONG rows, unsigned bits, DWORD* bytes);
// Where the rows start in a locked DIB block of `blockBytes` bytes (behind the
// header and colour table), or 0 when the block cannot hold the rows its
// header announces, so that nothing handed the rows reads past the block.
SIZE_T DibBitsOffset(const void* header, SIZE_T blockBytes);

// Bitmap files: the 14-byte "BM" file header, a core or full header, the
// colour table and the rows. Files are opened with OpenFile and moved with
// _lread/_lwrite/_llseek/_lclose; bulk transfers go in pieces of 32768 bytes.

// Transfer `count` bytes in pieces of at most 32768; the count, or 0 when a
// piece moved fewer bytes than asked.
DWORD ReadChunked(HFILE file, void* buffer, DWORD count);
DWORD WriteChunked(HFILE file, const void* buffer, DWORD count);
// The file header at the current position, as two pieces (2 bytes, then 12);
// `start` receives the position before it. Writing gives the second piece's
// result, or HFILE_ERROR when the first ("BM") fell short.
void ReadBmpFileHeader(HFILE file, BITMAPFILEHEADER* header, LONG* start);
UINT WriteBmpFileHeader(HFILE file, const BITMAPFILEHEADER* header);
// A new DIB handle with the file's header (always the 40-byte form) and colour
// table, the file left at the first pixel byte; null for a file that is not a
// sound bitmap. Bitfield rows with the depth's default masks come back as
// BI_RGB, the masks read.
HGLOBAL ReadDibHeaderBlock(HFILE file);
// A copy of the DIB's header with the image size and colour count filled in
// where the block leaves them 0.
BOOL QueryDibHeader(HGLOBAL dib, BITMAPINFOHEADER* header);
// A bitmap file as a new DIB handle: header, colour table and rows, the rows
// in the file's own order (top-down files keep their negative height). A file
// may end without its last row's padding. Null for anything else that is not a
// sound bitmap. ReadBmpFile does the same from where an open file stands, for
// callers that opened it themselves; the file stays theirs. It reads the rows
// in pieces of 256 KiB and calls `yield` between them, where one is given: a
// false from it abandons the read (null).
typedef bool (*DibYield)(void* argument);
HGLOBAL ReadBmpFile(HFILE file, DibYield yield = nullptr, void* argument = nullptr);
HGLOBAL LoadBmpFile(const char* name);
BOOL SaveBmpFile(const char* name, HGLOBAL dib);

// A new 24-bit bottom-up DIB of width x height (each no larger than the
// picture's own) whose every pixel is the average of the picture's area it
// covers. Takes uncompressed pictures of 1, 4, 8, 16, 24 and 32 bits, top-down
// or bottom-up; the same size turns one into a bottom-up 24-bit copy. Calls
// `yield` every few hundred thousand pixels; a false from it abandons the work.
// Null for other pictures, sizes, and failures; the picture stays the caller's.
HGLOBAL ReduceDib(HGLOBAL dib, LONG width, LONG height, DibYield yield = nullptr,
                  void* argument = nullptr);

#ifdef _WIN32
// A logical palette for a locked full header followed by its colour table (or,
// at 24 bits, by its rows): null when there is nothing to build it from. The
// palette belongs to the caller. `blockBytes` is what the caller's block holds
// from the header on; a table that would run past it gives null. Callers that
// built the header and its table themselves may leave it out.
constexpr SIZE_T DIB_BYTES_VOUCHED = ~SIZE_T(0);
HPALETTE PaletteFromHeader(const BITMAPINFOHEADER* header, SIZE_T blockBytes = DIB_BYTES_VOUCHED);
HPALETTE PaletteFromDib(HGLOBAL dib);

// Device-dependent bitmaps made from DIB handles and back, through the
// screen's device context. `bits` 0 keeps the bitmap's own depth; a null
// palette means the default one. Both results belong to the caller.
HGLOBAL DeviceBitmapToDib(HBITMAP bitmap, DWORD compression, WORD bits, HPALETTE palette);
HBITMAP DibToDeviceBitmap(HGLOBAL dib, HPALETTE palette);

// Drawing. BlitDeviceBitmap draws the whole bitmap at (0, 0). Without a
// DIB the paint routines fill the destination with the raster operation.
BOOL BlitDeviceBitmap(HDC dc, HBITMAP bitmap, DWORD rop);
BOOL PaintDibUnscaled(HDC dc, int x, int y, int width, int height, HGLOBAL dib, int sourceX,
                      int sourceY, DWORD rop);
int PaintDibScaled(HDC dc, int x, int y, int width, int height, HGLOBAL dib, int sourceX,
                   int sourceY, int sourceWidth, int sourceHeight, DWORD rop);
#endif
