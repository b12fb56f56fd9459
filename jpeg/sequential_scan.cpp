// Sequential scans (SOF0, SOF1): every block whole in one pass, through the
// block decoder the built-in decode uses, over the marker-aware reader. A
// photo whose first scan holds every component is streamed: each block is
// transformed into the rings as soon as it is decoded, dequantised by the
// block decoder itself. Otherwise (one scan per component, or some other
// split) the kept band of each block goes into the coefficient store, raw,
// for the output pass.
#include "photo_context.h"

namespace {

// The whole block, into p->block, through the shared block decoder.
void DecodeWholeBlock(PhotoContext* p, PhotoComponent* comp, int scanIndex) {
    std::uint8_t end;
    comp->predictor =
        DecodeBlockStoppingAtMarkers(p->reader, p->decoder, scanIndex, p->block,
                                     static_cast<std::int16_t>(comp->predictor), &end);
}

void DecodeStreamedBlock(PhotoContext* p, PhotoComponent* comp, int scanIndex, std::int32_t bx,
                         std::int32_t by) {
    DecodeWholeBlock(p, comp, scanIndex);
    TransformToRing(p, comp, p->block, bx, by);
}

void DecodeStoredBlock(PhotoContext* p, PhotoComponent* comp, int scanIndex, std::int32_t bx,
                       std::int32_t by) {
    DecodeWholeBlock(p, comp, scanIndex);
    const int kept = comp->keptCount * comp->keptCount;
    std::int16_t* store =
        comp->coefficients + (static_cast<std::int64_t>(by) * comp->blocksAcross + bx) * kept;
    for (int j = 0; j < kept; ++j) store[j] = p->block[comp->keptNatural[j]];
}

}  // namespace

PhotoBlockDecoder ChooseSequentialDecoder(PhotoContext* p) {
    return p->streaming ? DecodeStreamedBlock : DecodeStoredBlock;
}

void BindPhotoScanTables(PhotoContext* p) {
    DecoderContext* c = p->decoder;
    for (int i = 0; i < p->scan.componentCount; ++i) {
        const PhotoComponent& comp = p->frame.components[p->scan.components[i]];
        c->dcLength[i] = c->lengthTable[comp.dcSlot];
        c->dcSymbol[i] = c->symbolTable[comp.dcSlot];
        c->acLength[i] = c->lengthTable[comp.acSlot];
        c->acSymbol[i] = c->symbolTable[comp.acSlot];
        c->dcFast[i] = &c->fast[comp.dcSlot];
        c->acFast[i] = &c->fast[comp.acSlot];
        // The streamed decode dequantises as it decodes; the store keeps raw values.
        for (int k = 0; k <= 64; ++k)
            c->quantZigzag[i][k] = p->streaming ? comp.quant[zigzagOrder[k]] : 1;
    }
}
