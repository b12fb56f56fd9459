// Progressive scans (SOF2): the DC first and refinement scans, and the AC
// first and refinement scans of one component's spectral band, with EOB runs
// and successive approximation, into the coefficient store. The store keeps
// only the coefficients the chosen scale's transform reads; every other
// position still has its nonzero bit, because an AC refinement scan reads a
// correction bit for each nonzero coefficient of its band and counts its zero
// runs over the others.
//
// A scan that gives nothing the picture will use is passed over without
// decoding: its band holds no kept coefficient, and no later scan that is
// decoded refines a position of its band (a refinement needs the exact
// nonzero history of its whole band). The later scans are known from an
// outline of the file's scan headers, made once at the first scan.
#include "photo_context.h"

namespace {

inline std::int32_t Extend(std::uint32_t v, int s) {
    return v < (1u << (s - 1)) ? static_cast<std::int32_t>(v) - ((1 << s) - 1)
                               : static_cast<std::int32_t>(v);
}

// One Huffman symbol of the slot: the lookahead table, else the full pair.
inline int DecodeSymbol(MarkerReader& r, const DecoderContext* c, int slot) {
    if (r.count < 16) Refill(r);
    unsigned peek = static_cast<unsigned>(r.bits >> 48);
    unsigned entry = c->fast[slot].codeEntry[peek >> (16 - FAST_BITS)];
    int length = (entry >> 8) & 31, symbol = entry & 0xFF;
    if (entry & FAST_SLOW) {
        length = c->lengthTable[slot][peek];
        symbol = c->symbolTable[slot][peek];
    }
    Skip(r, length);
    return symbol;
}

// One AC code and its value: the run, and the value (0 for an EOB run or ZRL,
// whose run is then the symbol's high four bits).
inline std::int32_t DecodeAcCode(MarkerReader& r, const DecoderContext* c, int slot, int* run) {
    if (r.count < 32) Refill(r);
    std::int32_t e = c->fast[slot].acEntry[static_cast<unsigned>(r.bits >> (64 - FAST_BITS))];
    if (e & FAST_AC_VALID) {
        Skip(r, e & 31);
        *run = (e >> 8) & 15;
        return e >> 16;
    }
    int symbol = DecodeSymbol(r, c, slot), size = symbol & 15;
    *run = symbol >> 4;
    return size == 0 ? 0 : Extend(TakeBits(r, size), size);
}

struct StoredBlock {
    std::int16_t* kept;
    std::uint64_t* nonzero;
    const std::int8_t* keep;  // zigzag position -> store index, or -1
};

inline StoredBlock BlockAt(const PhotoComponent* comp, std::int32_t bx, std::int32_t by) {
    std::int64_t index = static_cast<std::int64_t>(by) * comp->blocksAcross + bx;
    return {comp->coefficients + index * comp->keptCount * comp->keptCount, comp->nonzero + index,
            comp->keep};
}

void DecodeDcFirst(PhotoContext* p, PhotoComponent* comp, int, std::int32_t bx, std::int32_t by) {
    int s = DecodeSymbol(p->reader, p->decoder, comp->dcSlot);
    if (s > 16) s = 16;
    std::int32_t diff = s == 0 ? 0 : Extend(TakeBits(p->reader, s), s);
    comp->predictor = static_cast<std::int16_t>(comp->predictor + diff);
    BlockAt(comp, bx, by).kept[0] = static_cast<std::int16_t>(comp->predictor * (1 << p->scan.al));
}

void DecodeDcRefine(PhotoContext* p, PhotoComponent* comp, int, std::int32_t bx, std::int32_t by) {
    if (TakeBits(p->reader, 1)) {
        std::int16_t* dc = BlockAt(comp, bx, by).kept;
        *dc = static_cast<std::int16_t>(*dc | (1 << p->scan.al));
    }
}

void DecodeAcFirst(PhotoContext* p, PhotoComponent* comp, int, std::int32_t bx, std::int32_t by) {
    if (p->eobRun > 0) {
        --p->eobRun;
        return;
    }
    MarkerReader& r = p->reader;
    StoredBlock b = BlockAt(comp, bx, by);
    const int se = p->scan.se, al = p->scan.al;
    for (int k = p->scan.ss; k <= se;) {
        int run;
        std::int32_t value = DecodeAcCode(r, p->decoder, comp->acSlot, &run);
        if (value == 0) {
            if (run == 15) {
                k += 16;
                continue;
            }
            p->eobRun =
                (1 << run) - 1 + (run != 0 ? static_cast<std::int32_t>(TakeBits(r, run)) : 0);
            break;
        }
        k += run;
        if (k > se) break;  // a run past the band: damaged data
        if (b.keep[k] >= 0) b.kept[b.keep[k]] = static_cast<std::int16_t>(value * (1 << al));
        *b.nonzero |= 1ull << k;
        ++k;
    }
}

void DecodeAcRefine(PhotoContext* p, PhotoComponent* comp, int, std::int32_t bx, std::int32_t by) {
    MarkerReader& r = p->reader;
    StoredBlock b = BlockAt(comp, bx, by);
    const int se = p->scan.se;
    const std::int32_t bit = 1 << p->scan.al;
    std::uint64_t nonzero = *b.nonzero;
    // A correction bit for a coefficient that is already nonzero.
    auto refine = [&](int k) {
        if (TakeBits(r, 1) && b.keep[k] >= 0) {
            std::int16_t& v = b.kept[b.keep[k]];
            if ((v & bit) == 0) v = static_cast<std::int16_t>(v >= 0 ? v + bit : v - bit);
        }
    };
    int k = p->scan.ss;
    if (p->eobRun == 0) {
        for (; k <= se; ++k) {
            int run;
            std::int32_t value = DecodeAcCode(r, p->decoder, comp->acSlot, &run);
            if (value == 0 && run != 15) {
                p->eobRun =
                    (1 << run) + (run != 0 ? static_cast<std::int32_t>(TakeBits(r, run)) : 0);
                break;
            }
            // Over `run` zero coefficients, refining the nonzero ones on the way.
            for (; k <= se; ++k) {
                if ((nonzero >> k) & 1) {
                    refine(k);
                } else {
                    if (run == 0) break;
                    --run;
                }
            }
            if (value != 0 && k <= se) {
                if (b.keep[k] >= 0)
                    b.kept[b.keep[k]] = static_cast<std::int16_t>(value > 0 ? bit : -bit);
                nonzero |= 1ull << k;
            }
        }
    }
    if (p->eobRun > 0) {
        for (; k <= se; ++k)
            if ((nonzero >> k) & 1) refine(k);
        --p->eobRun;
    }
    *b.nonzero = nonzero;
}

std::uint64_t BandBits(int ss, int se) {
    std::uint64_t upTo = se >= 63 ? ~0ull : (1ull << (se + 1)) - 1;
    return upTo & ~((1ull << ss) - 1);
}

// The headers of the scans from the current one to the end of the file.
void OutlineScans(PhotoContext* p) {
    DecoderContext* c = p->decoder;
    const std::uint8_t* end = c->readPos + c->bytesLeft;
    const std::uint8_t* q = c->readPos;
    ScanOutline* o = p->outline;
    o[0] = {static_cast<std::uint8_t>(p->scan.components[0]), static_cast<std::uint8_t>(p->scan.ss),
            static_cast<std::uint8_t>(p->scan.se), static_cast<std::uint8_t>(p->scan.ah)};
    p->outlineCount = 1;
    while ((q = FindPhotoMarker(q, end)) != nullptr) {
        std::uint8_t code = q[1];
        q += 2;
        if (code == 0xD9) break;
        if ((code >= 0xD0 && code <= 0xD7) || code == 0x01 || code == 0xD8) continue;
        if (end - q < 2) break;
        int length = (q[0] << 8) | q[1];
        if (length < 2 || end - q < length) break;
        if (code == 0xDA && length >= 6 + 2 * q[2]) {
            if (p->outlineCount == PHOTO_OUTLINE_SCANS) {
                p->outlineFull = true;
                break;
            }
            int ns = q[2];
            const std::uint8_t* tail = q + 3 + 2 * ns;
            ScanOutline s = {0xFF, tail[0], tail[1], static_cast<std::uint8_t>(tail[2] >> 4)};
            for (int j = 0; ns == 1 && j < p->frame.componentCount; ++j)
                if (p->frame.components[j].id == q[3]) s.component = static_cast<std::uint8_t>(j);
            o[p->outlineCount++] = s;
        }
        q += length;
    }
}

}  // namespace

PhotoBlockDecoder ChooseProgressiveDecoder(PhotoContext* p) {
    if (p->scan.ss == 0) return p->scan.ah == 0 ? DecodeDcFirst : DecodeDcRefine;
    return p->scan.ah == 0 ? DecodeAcFirst : DecodeAcRefine;
}

bool PhotoScanNeeded(PhotoContext* p) {
    const PhotoScan& s = p->scan;
    int current = p->scanNumber++;
    if (current == 0) OutlineScans(p);
    if (s.ss == 0) return true;  // DC is kept at every scale
    const ScanOutline* o = p->outline;
    if (p->outlineFull || current >= p->outlineCount || o[current].component != s.components[0] ||
        o[current].ss != s.ss || o[current].se != s.se || o[current].ah != s.ah)
        return true;  // the outline does not know this scan: decode it
    std::uint64_t needed[PHOTO_COMPONENTS];
    for (int i = 0; i < p->frame.componentCount; ++i) needed[i] = p->frame.components[i].keptMask;
    for (int j = p->outlineCount - 1; j > current; --j) {
        if (o[j].ss == 0) continue;
        if (o[j].component >= p->frame.componentCount || o[j].se > 63 || o[j].ss > o[j].se)
            return true;
        std::uint64_t band = BandBits(o[j].ss, o[j].se);
        if ((band & needed[o[j].component]) != 0 && o[j].ah != 0) needed[o[j].component] |= band;
    }
    return (BandBits(s.ss, s.se) & needed[s.components[0]]) != 0;
}
