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

#ifdef _WIN32
// A logical palette for a locked full header followed by its colour table (or,
// at 24 bits, by its rows): null when there is nothing to build it from. The
// palette belongs to the caller.
HPALETTE PaletteFromHeader(const BITMAPINFOHEADER* header);
HPALETTE PaletteFromDib(HGLOBAL dib);
#endif
