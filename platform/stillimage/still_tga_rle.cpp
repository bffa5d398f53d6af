#include "platform/stillimage/still_tga_rle.h"

#include <algorithm>
#include <cstring>

namespace kav::still::tgarle {

void equalMap(const uint8_t *row, int32_t width, size_t px, uint64_t *map) {
  std::memset(map, 0, equalMapWords(width) * sizeof(uint64_t));
  for (int32_t k = 0; k + 1 < width; ++k)
    if (samePixel(row + static_cast<size_t>(k) * px, px)) map[k >> 6] |= 1ull << (k & 63);
}

namespace {

inline int lowestBit(uint64_t v) { return __builtin_ctzll(v); }

// Copies 16-byte blocks covering bytes (reads and writes may pass the end
// by up to 15 bytes).
inline void copyBlocks(uint8_t *d, const uint8_t *s, size_t from, size_t bytes) {
  for (size_t k = from; k < bytes; k += 16) std::memcpy(d + k, s + k, 16);
}

// One packet of count pixels from pixel i: a run stores one pixel, raw
// packets all theirs. Four blocks are copied whatever the packet holds
// (most fit), so the common case does not branch on its kind or length;
// reads stay in the row, writes in the slack past the worst case.
template <size_t px>
inline uint8_t *packet(uint8_t *o, const uint8_t *row, size_t n, size_t i, size_t count, bool run) {
  const auto c = static_cast<uint8_t>(count - 1);
  *o++ = run ? static_cast<uint8_t>(0x80 | c) : c;
  const size_t b = i * px;
  const size_t stored = run ? px : count * px;
  if (b + 64 <= n) {
    copyBlocks(o, row + b, 0, 64);
    if (stored > 64) {
      if (b + stored + 15 <= n) copyBlocks(o, row + b, 64, stored);
      else std::memcpy(o + 64, row + b + 64, stored - 64);
    }
  } else {
    std::memcpy(o, row + b, stored);
  }
  return o + stored;
}

// Walks the row a packet at a time. A word of the map from the packet's
// first pixel on tells whether it is a run and where it ends (a run with
// the first pixel unlike its neighbour, raw pixels before the next pixel
// that starts a run); the packets after it are read from the same word,
// shifted, for as long as they end inside it.
template <size_t px>
size_t writeRowOf(const uint8_t *row, int32_t width, const uint64_t *map, uint8_t *out) {
  const auto w = static_cast<size_t>(width);
  const size_t n = w * px;
  const size_t words = (w + 63) / 64;
  uint8_t *o = out;
  size_t i = 0;  // the next pixel
  while (i < w) {
    // The map from this pixel on (the spare word past the row is clear).
    const size_t wi = i >> 6, sh = i & 63;
    uint64_t window = (map[wi] >> sh) | ((map[wi + 1] << 1) << (63 - sh));
    uint64_t valid = ~0ull;  // the bits of window still ahead of pixel i
    bool done = false;
    for (;;) {
      const bool run = window & 1;
      const uint64_t stop = (run ? ~window : window & ~1ull) & valid;
      if (!stop) break;
      const size_t count = std::min<size_t>(static_cast<size_t>(lowestBit(stop)) + run, 128);
      o = packet<px>(o, row, n, i, count, run);
      i += count;
      done = true;
      if (count >= 64) break;
      window >>= count;
      valid >>= count;
    }
    if (done) continue;
    // A packet longer than the word. The last pixel's bit is clear, so a
    // run ends inside the row; raw pixels may reach its end.
    const bool run = window & 1;
    size_t end = w;
    for (size_t j = wi + 1; j < words; ++j) {
      const uint64_t v = run ? ~map[j] : map[j];
      if (v) {
        end = j * 64 + static_cast<size_t>(lowestBit(v)) + run;
        break;
      }
    }
    const size_t count = std::min(end - i, size_t{128});
    o = packet<px>(o, row, n, i, count, run);
    i += count;
  }
  return static_cast<size_t>(o - out);
}

}  // namespace

size_t writeRow(const uint8_t *row, int32_t width, size_t px, const uint64_t *map, uint8_t *out) {
  return px == 1 ? writeRowOf<1>(row, width, map, out) : writeRowOf<3>(row, width, map, out);
}

}  // namespace kav::still::tgarle
