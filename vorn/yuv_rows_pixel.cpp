// Per-pixel converters: the ragged start and end of a row pair, and rows
// converted alone. Each walks its pixels with the column parity, moving to
// the next chroma sample after every odd source column.
#include <cassert>
#include <utility>

#include "vorn/yuv_pixel.h"
#include "vorn/yuv_rows.h"

namespace kav::yuv {
namespace {

template <Formula F, bool Alpha, int Mode, int Rows>
void convertPixels(const Span &s, const RowContext &ctx) {
  constexpr bool kGrey = (Mode & kModeGrey) != 0;
  constexpr bool kWide = (Mode & kModeWide) != 0;
  constexpr bool kTall = (Mode & kModeTall) != 0;
  constexpr int kStep = kWide ? 8 : 4;
  const Tables &t = *ctx.tables;
  const uint8_t *cb = ctx.exchanged ? s.chroma1 : s.chroma2;
  const uint8_t *cr = ctx.exchanged ? s.chroma2 : s.chroma1;
  for (int r = 0; r < Rows; ++r) {
    const uint8_t *luma = s.luma[r];
    const uint8_t *alpha = s.alpha[r];
    uint8_t *dst = s.dst[r];
    uint8_t *copy = s.dstCopy[r];
    assert(!kTall || copy);
    int ci = 0;
    int parity = s.phase;
    for (int32_t i = 0; i < s.n; ++i) {
      uint32_t px;
      if constexpr (kGrey) {
        px = F == Formula::kPortable ? greyPortable(t, luma[i]) : greyVector(t, luma[i]);
      } else {
        px = F == Formula::kPortable ? colourPortable(t, luma[i], cb[ci], cr[ci])
                                     : colourVector(t, luma[i], cb[ci], cr[ci]);
      }
      if constexpr (Alpha) px |= static_cast<uint32_t>(alpha[i]) << 24;
      storePixel(dst + i * kStep, px);
      if constexpr (kWide) storePixel(dst + i * kStep + 4, px);
      if constexpr (kTall) {
        storePixel(copy + i * kStep, px);
        if constexpr (kWide) storePixel(copy + i * kStep + 4, px);
      }
      if (parity) ++ci;
      parity ^= 1;
    }
  }
}

template <Formula F, bool Alpha, int... Modes>
void fillModes(ConverterSet &set, std::integer_sequence<int, Modes...>) {
  ((set.oneRow[Modes] = &convertPixels<F, Alpha, Modes, 1>), ...);
  ((set.twoRow[Modes] = &convertPixels<F, Alpha, Modes, 2>), ...);
}

template <Formula F, bool Alpha>
void fillFor(ConverterSet &set) {
  fillModes<F, Alpha>(set, std::make_integer_sequence<int, kModeCombinations>{});
}

}  // namespace

void fillPixelConverters(ConverterSet &set, Formula formula, bool withAlpha) {
  if (formula == Formula::kPortable) {
    withAlpha ? fillFor<Formula::kPortable, true>(set) : fillFor<Formula::kPortable, false>(set);
  } else {
    withAlpha ? fillFor<Formula::kVector, true>(set) : fillFor<Formula::kVector, false>(set);
  }
}

}  // namespace kav::yuv
