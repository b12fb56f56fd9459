// The coefficient store of a photo that comes in more than one scan. Per
// component it keeps, for every block of whole MCUs, only the coefficients its
// transform at the chosen scale reads and the target can show (raw, as the
// scans leave them) and, for progressive photos, the 64-bit set of its nonzero
// zigzag positions. Once the scans are done, the
// output pass dequantises and transforms the blocks MCU row by MCU row into
// the rings.
#include "photo_context.h"

namespace {

// The frequencies (per axis) each transform size reads: every one whose
// weight does not vanish, so that a decode at 1/N is the mean of the full
// decode's N x N groups. Count first.
constexpr std::uint8_t NEEDED[4][9] = {
    {8, 0, 1, 2, 3, 4, 5, 6, 7}, {7, 0, 1, 2, 3, 5, 6, 7}, {5, 0, 1, 3, 5, 7}, {1, 0}};

}  // namespace

void PlanKeptCoefficients(PhotoComponent* comp, int visible) {
    const int n = comp->blockSize;
    const std::uint8_t* needed = NEEDED[n == 8 ? 0 : n == 4 ? 1 : n == 2 ? 2 : 3];
    int place[8] = {-1, -1, -1, -1, -1, -1, -1, -1};
    comp->keptCount = 0;
    for (int i = 1; i <= needed[0]; ++i)
        if (needed[i] < visible || needed[i] == 0) {
            place[needed[i]] = comp->keptCount;
            comp->kept[comp->keptCount++] = needed[i];
        }
    const int count = comp->keptCount;
    comp->keptMask = 0;
    for (int k = 0; k < 64; ++k) {
        int row = place[zigzagOrder[k] >> 3], col = place[zigzagOrder[k] & 7];
        comp->keep[k] = static_cast<std::int8_t>(row >= 0 && col >= 0 ? row * count + col : -1);
        if (comp->keep[k] >= 0) {
            comp->keptNatural[comp->keep[k]] = static_cast<std::uint8_t>(zigzagOrder[k]);
            comp->keptMask |= 1ull << k;
        }
    }
    const std::int16_t* table = TransformWeights(n);
    for (int k = 0; k < n; ++k)
        for (int i = 0; i < count; ++i) comp->weights[k][i] = table[8 * k + comp->kept[i]];
}

DecoderResult ObtainCoefficientStore(PhotoContext* p) {
    DecoderResult failure = 0;
    for (int i = 0; i < p->frame.componentCount; ++i) {
        PhotoComponent& comp = p->frame.components[i];
        std::uint64_t blocks = static_cast<std::uint64_t>(comp.blocksAcross) * comp.blocksDown;
        void* address = nullptr;
        if (!ObtainPhotoBlock(p, blocks * comp.keptCount * comp.keptCount * 2, &address, &failure))
            return failure;
        comp.coefficients = static_cast<std::int16_t*>(address);
        if (p->frame.progressive) {
            if (!ObtainPhotoBlock(p, blocks * 8, &address, &failure)) return failure;
            comp.nonzero = static_cast<std::uint64_t*>(address);
        }
    }
    return 0;
}

DecoderResult WriteStoredPicture(PhotoContext* p) {
    PhotoFrame& f = p->frame;
    for (std::int32_t mcuRow = 0; mcuRow < f.mcusDown; ++mcuRow) {
        if (!PhotoYields(p)) return DECODER_ABANDONED;
        for (int i = 0; i < f.componentCount; ++i) {
            PhotoComponent& comp = f.components[i];
            const int kept = comp.keptCount * comp.keptCount;
            std::uint16_t quant[64];
            for (int j = 0; j < kept; ++j) quant[j] = comp.quant[comp.keptNatural[j]];
            for (std::int32_t by = mcuRow * comp.v; by < (mcuRow + 1) * comp.v; ++by) {
                const std::int16_t* raw =
                    comp.coefficients + static_cast<std::int64_t>(by) * comp.blocksAcross * kept;
                for (std::int32_t bx = 0; bx < comp.blocksAcross; ++bx, raw += kept) {
                    for (int j = 0; j < kept; ++j)
                        p->block[comp.keptNatural[j]] =
                            static_cast<std::int16_t>(raw[j] * quant[j]);
                    TransformToRing(p, &comp, p->block, bx, by);
                }
            }
            comp.rowsReady = (mcuRow + 1) * comp.v * comp.blockSize;
        }
        WriteReadyRows(p, mcuRow + 1 == f.mcusDown);
    }
    return 0;
}
