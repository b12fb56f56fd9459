// The photo entries: the file is opened (by an ANSI or a wide name), read
// whole into the shared context's buffer by the front end, and walked by the
// photo segment loop, which decodes the scans and writes the DIB. Every block
// but the DIB is released before the entry returns; the DIB goes to the caller
// on success and is freed otherwise.
#include <cstring>
#include <new>

#include "photo_context.h"

bool ObtainPhotoBlock(PhotoContext* p, std::uint64_t bytes, void** address,
                      DecoderResult* failure) {
    *address = nullptr;
    HeldBlock* slot = nullptr;
    for (HeldBlock& b : p->held)
        if (b.handle == nullptr) {
            slot = &b;
            break;
        }
    if (slot == nullptr || bytes > PHOTO_BLOCK_LIMIT) {
        *failure = DECODER_ALLOC_FAILED;
        return false;
    }
    std::uint8_t* locked = nullptr;
    if (!ObtainBlock(&slot->handle, &locked, static_cast<std::uint32_t>(bytes), failure))
        return false;
    slot->address = locked;
    *address = locked;
    return true;
}

void ReleasePhotoBlocks(PhotoContext* p) {
    for (HeldBlock& b : p->held) {
        ReleaseBlock(&b.handle, b.address);
        b.address = nullptr;
    }
}

bool PhotoYields(PhotoContext* p) {
    if (!p->abandoned && p->request->yield != nullptr &&
        !p->request->yield(p->request->yieldArgument))
        p->abandoned = true;
    return !p->abandoned;
}

namespace {

DecoderResult DecodePhotoHandle(HANDLE file, const PhotoRequest& request, HGLOBAL* picture) {
    if (*picture != nullptr) {
        GlobalFree(*picture);
        *picture = nullptr;
    }
    DecoderContext* c = CreateDecoderContext(PRODUCT_SWITCHES);
    PhotoContext* p =
        static_cast<PhotoContext*>(::operator new(sizeof(PhotoContext), std::nothrow));
    if (c == nullptr || p == nullptr) {
        if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
        if (c != nullptr) DestroyDecoderContext(c);
        ::operator delete(p);
        return DECODER_ALLOC_FAILED;
    }
    std::memset(p, 0, sizeof *p);
    p->decoder = c;
    p->request = &request;
    SimdLevel offered = DetectSimdLevel();
    c->simd = offered < c->switches.simdLimit ? offered : c->switches.simdLimit;

    DecoderResult result = LoadJpegFileHandle(c, file);
    if (result == 0) result = FindStartOfImage(c);
    if (result == 0) result = RunPhotoSegments(p);
    HGLOBAL dib = p->output.dib;
    if (dib != nullptr && p->output.pixels != nullptr) GlobalUnlock(dib);
    if (result == 0) {
        *picture = dib;
    } else if (dib != nullptr) {
        GlobalFree(dib);
    }
    ReleasePhotoBlocks(p);
    ::operator delete(p);
    DestroyDecoderContext(c);
    return result;
}

}  // namespace

// A user's photo is shared with every other reader and writer while it is
// read (and, on Windows NT, with deleting, which 9x does not know), so that
// decoding it never keeps anyone from changing or removing it.
DecoderResult DecodePhotoFile(const char* fileName, const PhotoRequest& request, HGLOBAL* picture) {
    return DecodePhotoHandle(CreateFileA(fileName, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr),
                             request, picture);
}

DecoderResult DecodePhotoFileWide(const wchar_t* fileName, const PhotoRequest& request,
                                  HGLOBAL* picture) {
    return DecodePhotoHandle(
        CreateFileW(fileName, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr),
        request, picture);
}
