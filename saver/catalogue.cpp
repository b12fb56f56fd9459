// The thirty pictures inside the program, the order they are shown in, and
// the writing of one of them as a complete JFIF file for the decoder.
#include "slideshow.h"

#include <cstring>

namespace {

// Copies a picture resource, or gives size 0 and no bytes when it is missing.
const BYTE* FindPicture(int32_t number, DWORD* size) {
    *size = 0;
    HRSRC found = FindResourceA(nullptr, MAKEINTRESOURCEA(PICTURE_ID(number)), "DAT");
    if (!found) return nullptr;
    HGLOBAL loaded = LoadResource(nullptr, found);
    const BYTE* bytes = loaded ? static_cast<const BYTE*>(LockResource(loaded)) : nullptr;
    if (bytes) *size = SizeofResource(nullptr, found);
    return bytes;
}

bool WriteAll(HANDLE file, const void* bytes, DWORD size) {
    DWORD written = 0;
    return WriteFile(file, bytes, size, &written, nullptr) && written == size;
}

}  // namespace

void SeedRandom(uint32_t seed) { g_slideshow.randomState = seed; }

int NextRandom() {
    uint32_t& state = g_slideshow.randomState;
    state = state * 214013u + 2531011u;
    return static_cast<int>((state >> 16) & 0x7FFF);
}

int SelectNextPicture(int32_t order) {
    SlideshowState& s = g_slideshow;
    if (order != 1) {
        if (s.sequencePosition == 0) s.sequencePosition = 1;
        const int result = ExtractPicture(s.sequencePosition);
        if (++s.sequencePosition > PICTURE_COUNT) s.sequencePosition = 1;
        return result;
    }
    for (;;) {
        const int d = NextRandom() % (PICTURE_COUNT + 1);
        if (d == 0) continue;
        if (s.shown[d] != 1) {
            const int result = ExtractPicture(d);
            s.shown[d] = 1;
            return result;
        }
        bool cycleComplete = true;
        for (int n = 1; n <= PICTURE_COUNT; ++n) cycleComplete = cycleComplete && s.shown[n] != 0;
        if (cycleComplete) std::memset(s.shown, 0, sizeof s.shown);
    }
}

// A picture that is missing from the program is reported like any other
// selection failure; nothing is read from it.
int ExtractPicture(int32_t number) {
    DWORD size = 0;
    const BYTE* bytes = FindPicture(number, &size);
    if (!bytes) return 0;
    if (size > MAX_PICTURE_BYTES) {
        ShowJapaneseMessage(nullptr, MSG_RESOURCE_TOO_LARGE);
        return 0;
    }
    // CREATE_NEW first so that a file left under the fixed name is noticed and
    // replaced rather than partly overwritten.
    HANDLE file = CreateFileA(g_slideshow.tempFile, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        DeleteFileA(g_slideshow.tempFile);
        file = CreateFileA(g_slideshow.tempFile, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    // Whatever still sits under the name is not this picture: a file that
    // cannot be made or filled is a failed selection, never left to the decoder.
    if (file == INVALID_HANDLE_VALUE) return 0;
    const bool written =
        WriteAll(file, JFIF_PREFIX, sizeof JFIF_PREFIX) && WriteAll(file, bytes, size);
    if (!CloseHandle(file) || !written) {
        DeleteFileA(g_slideshow.tempFile);
        return 0;
    }
    return 1;
}
