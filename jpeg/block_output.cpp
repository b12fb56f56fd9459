// Part 2.4, block output: the ten routines that write one MCU's samples as
// blue, green, red pixels into the DIB, with the colour conversion of the four
// colour layouts and the grey conversion. `dest` is the MCU's top-left pixel;
// row r below it is at dest - r x rowStride.
#include "decoder_context.h"

namespace {

// clamp(v): 0 below 0, 255 from 4096 on, else v >> 4.
inline std::uint8_t Clamp(std::int32_t v) {
  v = v < 0 ? 0 : v;
  v = v > 4095 ? 4095 : v;
  return static_cast<std::uint8_t>(v >> 4);
}

inline std::uint8_t ClampGrey(std::int32_t v) {
  return static_cast<std::uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
}

// One pixel from luma Y and the chroma terms of its chroma sample.
inline void PutPixel(std::uint8_t *p, std::int32_t y, std::int32_t cb, std::int32_t cr) {
  std::int32_t luma = 16 * y;
  p[0] = Clamp(luma + 16 * cb + 8 * cb);
  p[1] = Clamp(luma - (8 * cb + cb) - (8 * cr + 4 * cr));
  p[2] = Clamp(luma + 16 * cr + 4 * cr);
}

// The general mapping of step 5 for layout (H, V), limited to `columns` x
// `rows`; the compiler specialises it for each layout and for whole MCUs.
template <int H, int V>
inline void PutColourMcu(std::uint8_t *dest, const DecoderContext *c, int columns, int rows) {
  const std::int16_t *luma = c->lumaBlocks;
  const std::int16_t *cbBlock = c->cbBlock;
  const std::int16_t *crBlock = c->crBlock;
  std::int32_t stride = c->rowStride;
  for (int r = 0; r < rows; ++r) {
    std::uint8_t *p = dest - static_cast<std::ptrdiff_t>(r) * stride;
    const std::int16_t *lumaRow = luma + 64 * ((r >> 3) * H) + 8 * (r & 7);
    const std::int16_t *cbRow = cbBlock + 8 * (r / V);
    const std::int16_t *crRow = crBlock + 8 * (r / V);
    for (int col = 0; col < columns; ++col) {
      std::int32_t y = lumaRow[64 * (col >> 3) + (col & 7)];
      PutPixel(p + 3 * col, y, cbRow[col / H], crRow[col / H]);
    }
  }
}

inline void PutGrey(std::uint8_t *dest, const DecoderContext *c, int columns, int rows) {
  const std::int16_t *block = c->lumaBlocks;
  for (int r = 0; r < rows; ++r) {
    std::uint8_t *p = dest - static_cast<std::ptrdiff_t>(r) * c->rowStride;
    for (int col = 0; col < columns; ++col) {
      std::uint8_t v = ClampGrey(block[8 * r + col]);
      p[3 * col] = v;
      p[3 * col + 1] = v;
      p[3 * col + 2] = v;
    }
  }
}

}  // namespace

void PutGreyBlock(std::uint8_t *dest, const DecoderContext *c) { PutGrey(dest, c, 8, 8); }
void PutMcuH1V1(std::uint8_t *dest, const DecoderContext *c) { PutColourMcu<1, 1>(dest, c, 8, 8); }
void PutMcuH2V1(std::uint8_t *dest, const DecoderContext *c) { PutColourMcu<2, 1>(dest, c, 16, 8); }
void PutMcuH1V2(std::uint8_t *dest, const DecoderContext *c) { PutColourMcu<1, 2>(dest, c, 8, 16); }
void PutMcuH2V2(std::uint8_t *dest, const DecoderContext *c) { PutColourMcu<2, 2>(dest, c, 16, 16); }

void PutGreyBlockClipped(std::uint8_t *dest, const DecoderContext *c, int columns, int rows) {
  PutGrey(dest, c, columns < 8 ? columns : 8, rows < 8 ? rows : 8);
}
void PutMcuH1V1Clipped(std::uint8_t *dest, const DecoderContext *c, int columns, int rows) {
  PutColourMcu<1, 1>(dest, c, columns < 8 ? columns : 8, rows < 8 ? rows : 8);
}
void PutMcuH2V1Clipped(std::uint8_t *dest, const DecoderContext *c, int columns, int rows) {
  PutColourMcu<2, 1>(dest, c, columns < 16 ? columns : 16, rows < 8 ? rows : 8);
}
void PutMcuH1V2Clipped(std::uint8_t *dest, const DecoderContext *c, int columns, int rows) {
  PutColourMcu<1, 2>(dest, c, columns < 8 ? columns : 8, rows < 16 ? rows : 16);
}
void PutMcuH2V2Clipped(std::uint8_t *dest, const DecoderContext *c, int columns, int rows) {
  PutColourMcu<2, 2>(dest, c, columns < 16 ? columns : 16, rows < 16 ? rows : 16);
}
