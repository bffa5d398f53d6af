#include "platform/stillimage/still_tga_rle.h"

#include <algorithm>
#include <cstring>

#include "platform/os_cpu.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kav::still::tgarle {

namespace {

inline int lowestBit(uint64_t v) { return __builtin_ctzll(v); }

}  // namespace

void equalMapPortable(const uint8_t *row, int32_t width, size_t px, uint64_t *map) {
  std::memset(map, 0, equalMapWords(width) * sizeof(uint64_t));
  for (int32_t k = 0; k + 1 < width; ++k)
    if (samePixel(row + static_cast<size_t>(k) * px, px)) map[k >> 6] |= 1ull << (k & 63);
}

#if defined(__SSE2__)
namespace {

// Bit t: byte at + t equals the byte px on.
inline uint64_t byteMatches(const uint8_t *row, size_t at, size_t px) {
  const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i *>(row + at));
  const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i *>(row + at + px));
  return static_cast<uint64_t>(static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(x, y))));
}

// Bits 0, 3, 6, ..., 45 of x gathered into bits 0 to 15 (the usual
// halving steps, stopped once sixteen bits are together).
inline uint64_t everyThirdBit(uint64_t x) {
  x &= 0x0000249249249249ull;
  x = (x ^ (x >> 2)) & 0x10c30c30c30c30c3ull;
  x = (x ^ (x >> 4)) & 0x100f00f00f00f00full;
  x = (x ^ (x >> 8)) & 0x001f0000ff0000ffull;
  x = (x ^ (x >> 16)) & 0x000000000000ffffull;
  return x;
}

}  // namespace

// Sixteen pixels at a time: bytes against the bytes one pixel on, then (for
// three-byte pixels) a pixel is equal when its three bytes are.
void equalMapSse2(const uint8_t *row, int32_t width, size_t px, uint64_t *map) {
  std::memset(map, 0, equalMapWords(width) * sizeof(uint64_t));
  const auto w = static_cast<size_t>(width);
  size_t k = 0;
  // Loads reach px bytes past the sixteen pixels, so pixel k + 16 must be
  // in the row (and is the last one compared).
  if (px == 1) {
    for (; k + 17 <= w; k += 16) map[k >> 6] |= byteMatches(row, k, 1) << (k & 63);
  } else {
    for (; k + 17 <= w; k += 16) {
      const size_t b = 3 * k;
      const uint64_t m = byteMatches(row, b, 3) | (byteMatches(row, b + 16, 3) << 16) |
                         (byteMatches(row, b + 32, 3) << 32);
      // Flat stretches (all sixteen alike) need no gathering.
      const uint64_t bits = m == 0xFFFFFFFFFFFFull ? 0xFFFFull : everyThirdBit(m & (m >> 1) & (m >> 2));
      map[k >> 6] |= bits << (k & 63);
    }
  }
  for (; k + 1 < w; ++k)
    if (samePixel(row + k * px, px)) map[k >> 6] |= 1ull << (k & 63);
}
#endif

bool useSimd() {
#if defined(__SSE2__)
  return !kav::os::simdDisabled();
#else
  return false;
#endif
}

void equalMap(const uint8_t *row, int32_t width, size_t px, uint64_t *map, bool simd) {
#if defined(__SSE2__)
  if (simd) return equalMapSse2(row, width, px, map);
#else
  (void)simd;
#endif
  equalMapPortable(row, width, px, map);
}

namespace {

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
