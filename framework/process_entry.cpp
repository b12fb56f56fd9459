// The product's process entry and the three memory routines the compiler emits
// calls to. Dunmere.scr links no C runtime: the runtime's start-up and its
// threads support import calls that Windows 95 and NT 4.0 lack, so the loader
// there would refuse the file before a line of ours ran. The test programs link
// the ordinary runtime instead and never see this file.
#include "saver_frame.h"

#include <cstddef>
#include <new>

// The loader calls the entry with nothing we need; the command line and the
// module come again from the system. On i686 the stack is only 4-byte aligned
// here, so the entry realigns it for the code below.
extern "C" __attribute__((force_align_arg_pointer)) void WINAPI DunmereProcessStart() {
    SaverEntry();
}

// Built with loop-pattern recognition off, or the compiler would turn these
// loops back into calls to themselves.
extern "C" void* memcpy(void* destination, const void* source, size_t count) {
    auto* d = static_cast<unsigned char*>(destination);
    const auto* s = static_cast<const unsigned char*>(source);
    while (count--) *d++ = *s++;
    return destination;
}

extern "C" void* memmove(void* destination, const void* source, size_t count) {
    auto* d = static_cast<unsigned char*>(destination);
    const auto* s = static_cast<const unsigned char*>(source);
    if (d <= s || d >= s + count) return memcpy(destination, source, count);
    while (count--) d[count] = s[count];
    return destination;
}

extern "C" void* memset(void* destination, int value, size_t count) {
    auto* d = static_cast<unsigned char*>(destination);
    while (count--) *d++ = static_cast<unsigned char>(value);
    return destination;
}

// The decoder takes its working record with the non-throwing operator new; the
// runtime that would define it is not linked.
namespace std {
const nothrow_t nothrow{};
}

void* operator new(size_t bytes, const std::nothrow_t&) noexcept {
    return LocalAlloc(LMEM_FIXED, bytes);
}

void operator delete(void* block) noexcept {
    if (block) LocalFree(block);
}

void operator delete(void* block, size_t) noexcept { operator delete(block); }
