// The photo path's segment loop: from the byte after SOI to EOI (or to the end
// of the data), with the scans inside it. Tables come through the shared DQT
// and DHT parsers into the DecoderContext and may change between scans; the
// frame, the scans, DRI and the application segments that matter to a photo
// (JFIF, EXIF, Adobe) are read here. Until the first scan, anything wrong is
// the file's result; once a scan has given coefficients, a damaged segment
// after it ends the parse instead, and the picture shows what came before.
#include "photo_context.h"

namespace {

const std::uint16_t MARKER_SOF1 = 0xFFC1, MARKER_SOF2 = 0xFFC2, MARKER_DRI = 0xFFDD,
                    MARKER_APP0 = 0xFFE0, MARKER_APP1 = 0xFFE1, MARKER_APP14 = 0xFFEE;

int CeilDiv(std::int64_t a, std::int64_t b) { return static_cast<int>((a + b - 1) / b); }

bool StartsWith(const std::uint8_t* payload, int length, const char* text, int textLength) {
    if (length < textLength) return false;
    for (int i = 0; i < textLength; ++i)
        if (payload[i] != static_cast<std::uint8_t>(text[i])) return false;
    return true;
}

// SOF0, SOF1 and SOF2: 8-bit samples only (12-bit ones are another process).
DecoderResult ParsePhotoFrame(PhotoContext* p, int n, bool progressive) {
    DecoderContext* c = p->decoder;
    PhotoFrame& f = p->frame;
    if (p->frameSeen) return DECODER_BAD_STREAM;  // one frame per file
    if (n < 6) return DECODER_BAD_STREAM;
    int precision = ReadByte(c);
    f.height = ReadWord(c);
    f.width = ReadWord(c);
    f.componentCount = ReadByte(c);
    if (precision != 8) return DECODER_NOT_BASELINE;
    if (f.width == 0 || f.height == 0 || (f.componentCount != 1 && f.componentCount != 3) ||
        n < 6 + 3 * f.componentCount)
        return DECODER_BAD_STREAM;
    f.hMax = f.vMax = 1;
    for (int i = 0; i < f.componentCount; ++i) {
        PhotoComponent& comp = f.components[i];
        comp.id = ReadByte(c);
        std::uint8_t sampling = ReadByte(c);
        comp.quantSlot = ReadByte(c);
        comp.h = sampling >> 4;
        comp.v = sampling & 0x0F;
        if (comp.h < 1 || comp.h > 4 || comp.v < 1 || comp.v > 4 || comp.quantSlot > 3)
            return DECODER_BAD_STREAM;
        for (int j = 0; j < i; ++j)
            if (f.components[j].id == comp.id) return DECODER_BAD_STREAM;
        // A lone component is never subsampled against itself.
        if (f.componentCount == 1) comp.h = comp.v = 1;
        if (comp.h > f.hMax) f.hMax = comp.h;
        if (comp.v > f.vMax) f.vMax = comp.v;
    }
    f.mcusAcross = CeilDiv(f.width, 8 * f.hMax);
    f.mcusDown = CeilDiv(f.height, 8 * f.vMax);
    for (int i = 0; i < f.componentCount; ++i) {
        PhotoComponent& comp = f.components[i];
        comp.blocksAcross = f.mcusAcross * comp.h;
        comp.blocksDown = f.mcusDown * comp.v;
        comp.ownBlocksAcross = CeilDiv(CeilDiv(std::int64_t(f.width) * comp.h, f.hMax), 8);
        comp.ownBlocksDown = CeilDiv(CeilDiv(std::int64_t(f.height) * comp.v, f.vMax), 8);
    }
    f.progressive = progressive;
    p->frameSeen = true;
    return 0;
}

// SOS: components by identifier, their tables, the band and the approximation.
DecoderResult ParsePhotoScan(PhotoContext* p, int n) {
    DecoderContext* c = p->decoder;
    PhotoFrame& f = p->frame;
    PhotoScan& s = p->scan;
    if (!p->frameSeen || n < 1) return DECODER_BAD_STREAM;
    s.componentCount = ReadByte(c);
    if (s.componentCount < 1 || s.componentCount > f.componentCount || n < 4 + 2 * s.componentCount)
        return DECODER_BAD_STREAM;
    for (int i = 0; i < s.componentCount; ++i) {
        std::uint8_t id = ReadByte(c), tables = ReadByte(c);
        int index = -1;
        for (int j = 0; j < f.componentCount; ++j)
            if (f.components[j].id == id) index = j;
        for (int j = 0; j < i; ++j)
            if (s.components[j] == index) index = -1;  // named twice
        if (index < 0 || (tables >> 4) > 3 || (tables & 0x0F) > 3) return DECODER_BAD_STREAM;
        s.components[i] = index;
        f.components[index].dcSlot = tables >> 4;
        f.components[index].acSlot = static_cast<std::uint8_t>((tables & 0x0F) + 4);
    }
    s.ss = ReadByte(c);
    s.se = ReadByte(c);
    std::uint8_t approximation = ReadByte(c);
    s.ah = approximation >> 4;
    s.al = approximation & 0x0F;
    if (!f.progressive) {
        // One band, one pass, whatever the header says.
        s.ss = 0;
        s.se = 63;
        s.ah = s.al = 0;
    } else if (s.se > 63 || s.ss > s.se || (s.ss == 0 && s.se != 0) ||
               (s.ss > 0 && s.componentCount != 1) || s.al > 13 ||
               (s.ah != 0 && s.al != s.ah - 1)) {
        return DECODER_BAD_STREAM;
    }
    // The tables the scan reads, and each component's quantisation table as
    // its first scan finds it (a later DQT may redefine the slot for others).
    bool dcFirst = s.ss == 0 && s.ah == 0, acScan = s.se > 0;
    for (int i = 0; i < s.componentCount; ++i) {
        PhotoComponent& comp = f.components[s.components[i]];
        if ((dcFirst || !f.progressive) && c->lengthTable[comp.dcSlot] == nullptr)
            return DECODER_BAD_STREAM;
        if (acScan && c->lengthTable[comp.acSlot] == nullptr) return DECODER_BAD_STREAM;
        if (!comp.quantLatched) {
            if (!(c->quantDefined & (1 << comp.quantSlot))) return DECODER_BAD_STREAM;
            for (int k = 0; k < 64; ++k) comp.quant[k] = c->quantTables[comp.quantSlot][k];
            comp.quantLatched = true;
        }
    }
    return 0;
}

// APP0, APP1 and APP14: what they say about colour and orientation, until the
// first scan has laid out the output by them.
void ReadApplicationSegment(PhotoContext* p, std::uint16_t marker, const std::uint8_t* payload,
                            int length) {
    if (p->prepared) return;
    if (marker == MARKER_APP0 && StartsWith(payload, length, "JFIF\0", 5)) {
        p->jfifSeen = true;
    } else if (marker == MARKER_APP1 && !p->exifSeen &&
               StartsWith(payload, length, "Exif\0\0", 6)) {
        p->exifSeen = true;  // only the first EXIF segment counts
        p->frame.orientation = ReadExifOrientation(payload, static_cast<std::uint32_t>(length));
    } else if (marker == MARKER_APP14 && length >= 12 && StartsWith(payload, length, "Adobe", 5)) {
        p->adobeTransform = payload[11];
    }
}

// Colours: an Adobe segment's transform flag decides; without one, a JFIF file
// is YCbCr, and components named 'R', 'G', 'B' are RGB.
PhotoColour ChooseColour(const PhotoContext* p) {
    const PhotoFrame& f = p->frame;
    if (f.componentCount == 1) return COLOUR_GREY;
    if (p->adobeTransform >= 0) return p->adobeTransform == 0 ? COLOUR_RGB : COLOUR_YCBCR;
    if (!p->jfifSeen && f.components[0].id == 'R' && f.components[1].id == 'G' &&
        f.components[2].id == 'B')
        return COLOUR_RGB;
    return COLOUR_YCBCR;
}

// The scan at readPos, then readPos after its data.
DecoderResult RunScan(PhotoContext* p) {
    DecoderContext* c = p->decoder;
    DecoderResult result = 0;
    if (!p->prepared) {
        p->frame.colour = ChooseColour(p);
        result = PreparePhotoOutput(p);
        if (result != 0) return result;
        p->prepared = true;
    }
    const std::uint8_t* end = c->readPos + c->bytesLeft;
    if (p->streaming && p->scanSeen) {
        p->reader.src = c->readPos;  // the picture is complete: later scans are passed over
    } else if (p->frame.progressive && !PhotoScanNeeded(p)) {
        p->reader.src = c->readPos;
    } else {
        p->scanSeen = true;
        ++p->scansDecoded;
        result = DecodePhotoScan(p);
    }
    c->bytesLeft = static_cast<std::int32_t>(end - p->reader.src);
    c->readPos = p->reader.src;
    return result;
}

// The next marker, passing over anything that is not one (entropy-coded data,
// fill bytes, stray bytes); false at the end of the data.
bool NextPhotoMarker(DecoderContext* c) {
    const std::uint8_t* marker = FindPhotoMarker(c->readPos, c->readPos + c->bytesLeft);
    if (marker == nullptr) return false;
    Advance(c, static_cast<int>(marker - c->readPos));
    c->marker = ReadWord(c);
    return true;
}

DecoderResult RunSegment(PhotoContext* p) {
    DecoderContext* c = p->decoder;
    std::uint16_t m = c->marker;
    bool frameMarker = m == MARKER_SOF0 || m == MARKER_SOF1 || m == MARKER_SOF2;
    if (frameMarker || m == MARKER_DHT || m == MARKER_DQT || m == MARKER_SOS || m == MARKER_DRI) {
        int payload = ReadSegmentLength(c);
        if (payload < 0) return DECODER_BAD_STREAM;
        const std::uint8_t* next = c->readPos + payload;
        DecoderResult result = 0;
        c->refusal = 0;
        if (frameMarker) {
            result = ParsePhotoFrame(p, payload, m == MARKER_SOF2);
        } else if (m == MARKER_DQT) {
            ParseQuantTables(c, static_cast<std::uint16_t>(payload));
        } else if (m == MARKER_DHT) {
            result = ParseHuffmanTables(c, static_cast<std::uint16_t>(payload));
        } else if (m == MARKER_DRI) {
            if (payload < 2) return DECODER_BAD_STREAM;
            p->frame.restartInterval = ReadWord(c);
        } else {
            if (p->scansDecoded == PHOTO_MAX_SCANS) return DECODER_BAD_STREAM;
            result = ParsePhotoScan(p, payload);
            if (result == 0) {
                Advance(c, static_cast<int>(next - c->readPos));
                return RunScan(p);
            }
        }
        if (result == 0) result = c->refusal;
        Advance(c, static_cast<int>(next - c->readPos));
        return result;
    }
    if (IsNonBaselineFrame(m)) return DECODER_NOT_BASELINE;
    if (IsSkippedSegment(m)) {
        int payload = ReadSkippedLength(c);
        if (payload < 0) return DECODER_BAD_STREAM;
        if (m >= MARKER_APP0 && m <= MARKER_APP14)
            ReadApplicationSegment(p, m, c->readPos, payload);
        Advance(c, payload);
    }
    // SOI, RST0..RST7 and the reserved codes: nothing.
    return 0;
}

}  // namespace

const std::uint8_t* FindPhotoMarker(const std::uint8_t* from, const std::uint8_t* end) {
    for (const std::uint8_t* q = from; end - q >= 2; ++q)
        if (q[0] == 0xFF && q[1] != 0x00 && q[1] != 0xFF) return q;
    return nullptr;
}

DecoderResult RunPhotoSegments(PhotoContext* p) {
    DecoderContext* c = p->decoder;
    p->frame.orientation = 1;
    p->adobeTransform = -1;
    DecoderResult result = 0;
    while (NextPhotoMarker(c) && c->marker != MARKER_EOI) {
        result = RunSegment(p);
        if (result == DECODER_ABANDONED || result == DECODER_ALLOC_FAILED ||
            result == DECODER_LOCK_FAILED)
            return result;
        if (result != 0) {
            if (!p->scanSeen) return result;
            result = 0;  // damage after the scans: the picture as they left it
            break;
        }
    }
    if (!p->scanSeen) return DECODER_BAD_STREAM;  // no scan, no picture
    return p->streaming ? (WriteReadyRows(p, true), DECODER_OK) : WriteStoredPicture(p);
}
