// The walk over one scan's MCUs, for every kind of scan: an interleaved scan
// goes MCU by MCU, each holding h x v blocks of every scan component; a scan
// of one component goes block by block over the component's own extent. The
// restart interval is counted in those MCUs: at each interval's end the
// reader moves past the RSTn marker and the predictors and the EOB run start
// again. The caller's yield runs between MCU rows. A scan whose data runs out
// (the reader fed zeros) or that meets another marker where a restart belongs
// ends there; what it decoded so far stays.
#include "photo_context.h"

namespace {

void StartInterval(PhotoContext* p) {
    for (int i = 0; i < p->scan.componentCount; ++i)
        p->frame.components[p->scan.components[i]].predictor = 0;
    p->eobRun = 0;
}

// Moves past the restart marker that ends an interval; false when the next
// marker is not one.
bool TakeRestartMarker(PhotoContext* p) {
    MarkerReader& r = p->reader;
    const std::uint8_t* marker = FindPhotoMarker(r.src, r.end);
    if (marker == nullptr || marker[1] < 0xD0 || marker[1] > 0xD7) {
        r.src = marker != nullptr ? marker : r.end;
        return false;
    }
    StartMarkerReader(r, marker + 2, r.end);
    StartInterval(p);
    return true;
}

// The rows of an MCU row that the streamed decode has put into the rings.
void RowOfMcusDone(PhotoContext* p, std::int32_t mcuRow) {
    for (int i = 0; i < p->frame.componentCount; ++i) {
        PhotoComponent& comp = p->frame.components[i];
        comp.rowsReady = (mcuRow + 1) * comp.v * comp.blockSize;
    }
    WriteReadyRows(p, false);
}

}  // namespace

DecoderResult DecodePhotoScan(PhotoContext* p) {
    DecoderContext* c = p->decoder;
    const PhotoFrame& f = p->frame;
    const PhotoScan& s = p->scan;
    PhotoBlockDecoder decode =
        f.progressive ? ChooseProgressiveDecoder(p) : ChooseSequentialDecoder(p);
    BindPhotoScanTables(p);
    StartMarkerReader(p->reader, c->readPos, c->readPos + c->bytesLeft);
    StartInterval(p);

    PhotoComponent* first = &p->frame.components[s.components[0]];
    bool alone = s.componentCount == 1;
    std::int32_t across = alone ? first->ownBlocksAcross : f.mcusAcross;
    std::int32_t down = alone ? first->ownBlocksDown : f.mcusDown;
    std::int32_t interval = f.restartInterval, left = interval;
    for (std::int32_t y = 0; y < down; ++y) {
        if (!PhotoYields(p)) return DECODER_ABANDONED;
        for (std::int32_t x = 0; x < across; ++x) {
            if (interval != 0) {
                if (left == 0) {
                    if (!TakeRestartMarker(p)) return 0;
                    left = interval;
                }
                --left;
            }
            if (alone) {
                decode(p, first, 0, x, y);
            } else {
                for (int i = 0; i < s.componentCount; ++i) {
                    PhotoComponent* comp = &p->frame.components[s.components[i]];
                    for (int by = 0; by < comp->v; ++by)
                        for (int bx = 0; bx < comp->h; ++bx)
                            decode(p, comp, i, x * comp->h + bx, y * comp->v + by);
                }
            }
            if (ReadPastData(p->reader)) return 0;
        }
        if (p->streaming) RowOfMcusDone(p, y);
    }
    return 0;
}
