// One picture of the user's folder, decoded for the presentation: JPEG files
// through the photo decoder, upright and already at the size they are shown
// at; bitmap files through the bitmap library's reader. The file is opened for
// reading only, shared, and closed again; nothing is ever written to it.
#include "dib.h"
#include "photo_decoder.h"
#include "picture_folder.h"

namespace {

int32_t Smaller(int32_t a, int32_t b) { return a < b ? a : b; }

// The size the picture is kept at: its own, or, where it is larger than the
// box, the largest size of its shape inside the box.
void SizeForBox(LONG width, LONG height, int32_t boxWidth, int32_t boxHeight, LONG* keptWidth,
                LONG* keptHeight) {
    *keptWidth = width;
    *keptHeight = height;
    if (boxWidth <= 0 || boxHeight <= 0 || (width <= boxWidth && height <= boxHeight)) return;
    const int64_t across = int64_t(boxWidth) * height, down = int64_t(boxHeight) * width;
    if (across <= down) {
        *keptWidth = boxWidth;
        *keptHeight = static_cast<LONG>((across + width / 2) / width);
    } else {
        *keptHeight = boxHeight;
        *keptWidth = static_cast<LONG>((down + height / 2) / height);
    }
    *keptWidth = *keptWidth < 1 ? 1 : Smaller(*keptWidth, width);
    *keptHeight = *keptHeight < 1 ? 1 : Smaller(*keptHeight, height);
}

// The presentation draws bottom-up rows, one band at a time. A top-down
// bitmap, or one larger than the box (which would make every reveal tick
// scale the whole of it), is reduced into a bottom-up copy of its kept size.
// Compressed rows keep their own form, drawn as they are.
HGLOBAL ReadyForTheScreen(HGLOBAL dib, int32_t boxWidth, int32_t boxHeight, DibYield yield) {
    BITMAPINFOHEADER info;
    if (!QueryDibHeader(dib, &info)) {
        GlobalFree(dib);
        return nullptr;
    }
    const LONG height = info.biHeight < 0 ? -info.biHeight : info.biHeight;
    LONG width = 0, kept = 0;
    SizeForBox(info.biWidth, height, boxWidth, boxHeight, &width, &kept);
    const bool reduce = info.biHeight < 0 || width != info.biWidth || kept != height;
    const bool drawable = info.biCompression == BI_RGB || info.biCompression == BI_RLE8 ||
                          info.biCompression == BI_RLE4;
    if (!drawable) {
        GlobalFree(dib);
        return nullptr;
    }
    if (!reduce) return dib;
    HGLOBAL reduced = ReduceDib(dib, width, kept, yield, nullptr);
    if (reduced || info.biHeight < 0) {
        GlobalFree(dib);
        return reduced;
    }
    return dib;  // a compressed picture larger than the box: drawn scaled
}

HGLOBAL ReadBitmapFile(const wchar_t* path, DibYield yield) {
    HANDLE file = OpenForReading(path);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    // An HFILE of a 32-bit program is the file's handle.
    HGLOBAL dib = ReadBmpFile(static_cast<HFILE>(reinterpret_cast<INT_PTR>(file)), yield, nullptr);
    CloseHandle(file);
    return dib;
}

// Windows NT opens any name the listing holds through the wide entry; Windows
// 9x takes the name (or, outside its code page, the short name the listing
// kept) in its ANSI code page. Whatever the decoder refuses, and a decode the
// yield abandoned, gives nothing.
HGLOBAL DecodePhoto(const wchar_t* path, int32_t boxWidth, int32_t boxHeight, bool fit,
                    PhotoYield yield) {
    const PhotoRequest request{boxWidth, boxHeight, fit, 0, yield, nullptr};
    HGLOBAL picture = nullptr;
    DecoderResult result;
    if (WideNamesAllowed()) {
        result = DecodePhotoFileWide(path, request, &picture);
    } else {
        char ansi[MAX_PATH];
        if (!ToCodePage(path, ansi, MAX_PATH)) return nullptr;
        result = DecodePhotoFile(ansi, request, &picture);
    }
    return result == 0 ? picture : nullptr;
}

}  // namespace

HGLOBAL DecodeFolderPicture(const wchar_t* path, PictureKind kind, int32_t boxWidth,
                            int32_t boxHeight, bool fit, bool (*yield)(void*)) {
    if (kind == JPEG_PICTURE) return DecodePhoto(path, boxWidth, boxHeight, fit, yield);
    if (kind != BITMAP_PICTURE) return nullptr;
    HGLOBAL dib = ReadBitmapFile(path, yield);
    return dib ? ReadyForTheScreen(dib, boxWidth, boxHeight, yield) : nullptr;
}
