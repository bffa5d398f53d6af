// Frames from the caller's layout (top row first, rows of the input pitch)
// into the bottom-up pictures that AVI frames and still images are.
#include <cstring>

#include "ogfile/ogfile_internal.h"

namespace kav::og {

void paletteToTable(const uint8_t *palette, uint8_t *table) {
  for (int i = 0; i < 256; ++i) {
    table[4 * i + 0] = palette[3 * i + 2];
    table[4 * i + 1] = palette[3 * i + 1];
    table[4 * i + 2] = palette[3 * i + 0];
    table[4 * i + 3] = 0;
  }
}

void copyFrame(const Handle *h, const void *pixels, const uint8_t *palette, uint8_t *top, int32_t pitch) {
  const OGFile &o = h->pub;
  const uint32_t width = o.width;
  if (o.trueColour) {
    const auto *src = static_cast<const uint8_t *>(pixels);
    const size_t srcPitch = size_t{o.inputPitch} * 4;
    for (uint32_t y = 0; y < o.height; ++y) {
      const uint8_t *s = src + y * srcPitch;
      uint8_t *d = top + static_cast<ptrdiff_t>(y) * pitch;
      // 0x00RRGGBB in memory is B, G, R, 0: the first three bytes are kept.
      // Whole words are stored, each overlapping the next pixel's place,
      // which that pixel then overwrites; the last one takes three bytes.
      for (uint32_t x = 0; x + 1 < width; ++x) std::memcpy(d + 3 * x, s + 4 * x, 4);
      std::memcpy(d + 3 * (width - 1), s + 4 * (width - 1), 3);
    }
    return;
  }
  const auto *src = static_cast<const uint8_t *>(pixels);
  if (o.bits == 24) {
    const uint8_t *pal = palette ? palette : h->lastPalette;
    for (uint32_t y = 0; y < o.height; ++y) {
      const uint8_t *s = src + size_t{y} * o.inputPitch;
      uint8_t *d = top + static_cast<ptrdiff_t>(y) * pitch;
      for (uint32_t x = 0; x < width; ++x) {
        const uint8_t *c = pal + 3 * s[x];
        d[3 * x + 0] = c[2];
        d[3 * x + 1] = c[1];
        d[3 * x + 2] = c[0];
      }
    }
    return;
  }
  for (uint32_t y = 0; y < o.height; ++y)
    std::memcpy(top + static_cast<ptrdiff_t>(y) * pitch, src + size_t{y} * o.inputPitch, width);
}

}  // namespace kav::og
