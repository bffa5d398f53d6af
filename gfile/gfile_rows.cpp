// Row conversions from the frame as filtered into the canvas: 32-bit pixels
// for true-colour output, palette indices for 8-bit output (nearest colour
// through the colour cache, or the remap table for paletted frames).
#include <cstring>
#include <memory>

#include "colour/histogram.h"
#include "colour/nearest_entry.h"
#include "colour/row_cells.h"
#include "gfile/gfile_internal.h"

namespace kav::gfile {

namespace {

// The fourth byte of 32-bit frames is cleared unless asked to keep it.
void row32(uint32_t *out, const uint8_t *in, uint32_t w, uint32_t bits, bool keepFourth, const uint8_t *palette) {
  readRow32(out, in, w, bits, palette);
  if (bits == 32 && !keepFourth)
    for (uint32_t x = 0; x < w; ++x) out[x] &= 0x00FFFFFFu;
}

// The palette window to match against, and the search the processor runs
// fastest.
struct Matcher {
  kav::colour::PaletteWindow window;
  kav::colour::NearestEntryFn nearest;
  kav::colour::RowCellsFn cells;
};

// The cache is indexed by colour cell and holds 256 + the entry once known.
inline uint8_t cached(GFileInternal &s, const Matcher &m, uint32_t cell) {
  uint16_t &c = s.colourCache[cell];
  if (c < 256) {
    c = static_cast<uint16_t>(256 + m.nearest(m.window, kav::colour::cellRed(cell), kav::colour::cellGreen(cell),
                                                kav::colour::cellBlue(cell)));
  }
  return static_cast<uint8_t>(c);
}

void row8(GFileInternal &s, const Matcher &m, uint8_t *out, const uint8_t *in, uint32_t w, uint32_t bits,
          bool remap) {
  switch (bits) {
    case 32:
    case 24: {
      const uint32_t step = bits / 8;
      uint32_t cells[kav::colour::kCellRun];
      for (uint32_t x = 0; x < w; x += kav::colour::kCellRun) {
        const uint32_t n = w - x < kav::colour::kCellRun ? w - x : kav::colour::kCellRun;
        m.cells(cells, in + step * static_cast<size_t>(x), n, step);
        for (uint32_t i = 0; i < n; ++i) out[x + i] = cached(s, m, cells[i]);
      }
      break;
    }
    case 16:
      for (uint32_t x = 0; x < w; ++x) {
        const uint32_t p = in[x * 2] | in[x * 2 + 1] << 8;
        out[x] = cached(s, m, ((p >> 10) & 0x1F) << 13 | ((p >> 5) & 0x1F) << 7 | (p & 0x1F) << 1);
      }
      break;
    default:
      if (remap) {
        for (uint32_t x = 0; x < w; ++x) out[x] = s.remap[in[x]];
      } else {
        std::memcpy(out, in, w);
      }
      break;
  }
}

}  // namespace

void convertRows(GFile *g) {
  GFileInternal &s = state(g);
  const GFilePlacement &pl = g->placement;
  if (pl.visibleWidth <= 0 || pl.visibleHeight <= 0 || !s.visible || !g->canvas) return;
  const uint32_t vw = static_cast<uint32_t>(pl.visibleWidth), vh = static_cast<uint32_t>(pl.visibleHeight);
  const uint32_t bpp = g->trueColour ? 4 : 1;
  uint8_t *dst = g->canvas;
  if (pl.topMargin < 0) dst += size_t(-int64_t{pl.topMargin}) * g->canvasPitch;
  if (pl.leftMargin < 0) dst += size_t(-int64_t{pl.leftMargin}) * bpp;
  const bool keepFourth = g->preferQuickTime != 0;
  const bool remap = !g->trueColour && s.remapActive;
  // Built once a frame: the cache misses of a frame all search this window.
  std::unique_ptr<Matcher> matcher;
  if (!g->trueColour) {
    matcher = std::make_unique<Matcher>();
    kav::colour::preparePaletteWindow(matcher->window, g->palette, s.firstColour, s.colourCount);
    matcher->nearest = kav::colour::nearestEntry();
    matcher->cells = kav::colour::rowCells();
  }
  for (uint32_t y = 0; y < vh; ++y) {
    const uint8_t *in = s.visible + s.visiblePitch * static_cast<ptrdiff_t>(y);
    uint8_t *out = dst + size_t{y} * g->canvasPitch;
    if (g->trueColour)
      row32(reinterpret_cast<uint32_t *>(out), in, vw, g->frameBits, keepFourth, g->sourcePalette);
    else
      row8(s, *matcher, out, in, vw, g->frameBits, remap);
  }
}

}  // namespace kav::gfile
