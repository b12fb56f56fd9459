// What the subcommands of jpegdib share.
#pragma once

#include <windows.h>

#include <cstdint>

int RunInfoCommand(int argc, char** argv);     // info.cpp
int RunBmpInfoCommand(int argc, char** argv);  // bmpinfo.cpp
int RunTimeCommand(int argc, char** argv);     // timing.cpp
int RunPhotoCommand(int argc, char** argv);    // photo.cpp

// The largest frame decoded or reported unless --max-pixels says otherwise.
const std::uint64_t DEFAULT_MAX_PIXELS = 100000000;

// True, with a message on stderr, when a frame has more pixels than the limit
// (0 = none).
bool FrameAboveLimit(unsigned width, unsigned height, std::uint64_t maxPixels);
// Takes "--max-pixels N" from the front of the arguments; false when N is not
// a decimal number.
bool TakeMaxPixels(int* argc, char*** argv, std::uint64_t* maxPixels);

// Writes a DIB block as a bitmap file (the 14-byte file header, then the block
// as it is); false when it could not be written completely (the partial file
// is then removed).
bool WriteBitmapFile(const char* path, HGLOBAL dib);
