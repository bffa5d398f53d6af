// Smooth-area dither. Pixels are held in a working form with blue in bits
// 0-7, green in 10-17 and red in 20-27: the two spare bits above each
// component absorb the borrow of a subtraction, so one subtraction compares
// all three components of two pixels at once.
#include "colour/smooth_dither.h"

#include <atomic>
#include <cstring>
#include <vector>

#include "colour/smooth_dither_vector.h"
#include "platform/os_cpu.h"

namespace kav::colour {
namespace {

constexpr uint8_t kDither[64] = {
    0, 11, 3,  14, 1,  12, 3, 15, 8,  4, 11, 7, 8,  5, 11, 7, 2,  13, 1, 12, 2,  14,
    2, 13, 9,  6,  8,  5,  10, 6, 9,  5, 0,  12, 3, 15, 0,  12, 3, 14, 8,  4,  11, 7,
    8, 4,  11, 7,  2,  14, 1,  13, 2, 14, 1,  13, 10, 6, 9,  5,  10, 6,  9, 5};

constexpr uint32_t kFieldMask = 0x0FF3FCFFu;   // the three 8-bit components
constexpr uint32_t kGuardBits = 0x10040100u;   // bit 8 of each component field
constexpr uint32_t kStartIndex = 56;

inline uint32_t working(uint32_t b, uint32_t g, uint32_t r) { return b | g << 10 | r << 20; }

// 0xFF in every component field where a >= b, 0 elsewhere.
inline uint32_t geMask(uint32_t a, uint32_t b) {
  const uint32_t ge = (((a | kGuardBits) - b) & kGuardBits) >> 8;
  return ge * 0xFFu;
}
inline uint32_t maxOf(uint32_t a, uint32_t b) {
  const uint32_t m = geMask(a, b);
  return (a & m) | (b & ~m & kFieldMask);
}
inline uint32_t minOf(uint32_t a, uint32_t b) {
  const uint32_t m = geMask(a, b);
  return (b & m) | (a & ~m & kFieldMask);
}

struct Convert24 {
  uint32_t operator()(const uint8_t *row, uint32_t x) const {
    const uint8_t *p = row + 3 * static_cast<size_t>(x);
    return working(p[0], p[1], p[2]);
  }
};
struct Convert32 {
  uint32_t operator()(const uint8_t *row, uint32_t x) const {
    const uint8_t *p = row + 4 * static_cast<size_t>(x);
    return working(p[0], p[1], p[2]);
  }
};
struct Convert16 {
  uint32_t operator()(const uint8_t *row, uint32_t x) const {
    const uint32_t v = row[2 * static_cast<size_t>(x)] | static_cast<uint32_t>(row[2 * static_cast<size_t>(x) + 1]) << 8;
    return working((v & 31) << 3, ((v >> 5) & 31) << 3, ((v >> 10) & 31) << 3);
  }
};
struct Convert8 {
  const uint8_t *palette;
  uint32_t operator()(const uint8_t *row, uint32_t x) const {
    const uint8_t *e = palette + 3 * static_cast<size_t>(row[x]);
    return working(e[2], e[1], e[0]);
  }
};

inline void put(uint8_t *out, uint32_t w) {
  out[0] = static_cast<uint8_t>(w);
  out[1] = static_cast<uint8_t>(w >> 10);
  out[2] = static_cast<uint8_t>(w >> 20);
}

inline uint32_t quantise(uint32_t c, uint32_t t) {
  const uint32_t q = (c & ~15u) + (t < (c & 15u) ? 16u : 0u);
  return q > 255 ? 255 : q;
}

template <class Convert>
void ditherRows(uint8_t *out, const uint8_t *input, uint32_t width, uint32_t height, ptrdiff_t pitch,
                Convert convert) {
  if (!out || !input || width == 0 || height == 0) return;
  // Three rows in working form; rows rotate through the buffer.
  std::vector<uint32_t> buffer(3 * static_cast<size_t>(width));
  uint32_t *rows[3] = {buffer.data(), buffer.data() + width, buffer.data() + 2 * static_cast<size_t>(width)};
  const size_t outPitch = 3 * static_cast<size_t>(width);
  auto load = [&](uint32_t *dst, uint32_t y) {
    const uint8_t *src = input + static_cast<ptrdiff_t>(y) * pitch;
    for (uint32_t x = 0; x < width; ++x) dst[x] = convert(src, x);
  };
  auto copyRow = [&](const uint32_t *w, uint32_t y) {
    uint8_t *o = out + y * outPitch;
    for (uint32_t x = 0; x < width; ++x) put(o + 3 * static_cast<size_t>(x), w[x]);
  };

  load(rows[0], 0);
  copyRow(rows[0], 0);
  if (height == 1) return;
  load(rows[1], 1);
  if (height == 2 || width < 3) {
    // No interior pixels: every row passes unfiltered.
    copyRow(rows[1], 1);
    for (uint32_t y = 2; y < height; ++y) {
      load(rows[0], y);
      copyRow(rows[0], y);
    }
    return;
  }

  uint32_t index = kStartIndex;
  for (uint32_t y = 1; y + 1 < height; ++y) {
    load(rows[2], y + 1);
    const uint32_t *above = rows[0], *mid = rows[1], *below = rows[2];
    index = (index & 7) ? index - 1 : index + 7;
    uint8_t *o = out + y * outPitch;
    put(o, mid[0]);

    // Column extremes of the three rows, sliding: columns x-1, x, x+1.
    auto colMax = [&](uint32_t x) { return maxOf(maxOf(above[x], mid[x]), below[x]); };
    auto colMin = [&](uint32_t x) { return minOf(minOf(above[x], mid[x]), below[x]); };
    uint32_t max0 = colMax(0), min0 = colMin(0), max1 = colMax(1), min1 = colMin(1);
    for (uint32_t x = 1; x + 1 < width; ++x) {
      const uint32_t max2 = colMax(x + 1), min2 = colMin(x + 1);
      const uint32_t hi = maxOf(maxOf(max0, max1), max2);
      const uint32_t lo = minOf(minOf(min0, min1), min2);
      max0 = max1, min0 = min1, max1 = max2, min1 = min2;

      index = index >= 8 ? index - 8 : index + 56;
      const uint32_t t = kDither[index];
      const uint32_t centre = mid[x];
      // Every component's maximum below 32: all of hi's bits 5-7 clear.
      const bool dark = (hi & 0x0E0380E0u) == 0;
      const uint32_t range = hi - lo;  // no borrows: hi >= lo per component
      const uint32_t sum = (range & 0xFF) + ((range >> 10) & 0xFF) + ((range >> 20) & 0xFF);
      uint8_t *px = o + 3 * static_cast<size_t>(x);
      if (dark || sum <= 4 || sum >= 16) {
        put(px, centre);
      } else {
        px[0] = static_cast<uint8_t>(quantise(centre & 0xFF, t));
        px[1] = static_cast<uint8_t>(quantise((centre >> 10) & 0xFF, t));
        px[2] = static_cast<uint8_t>(quantise((centre >> 20) & 0xFF, t));
      }
    }
    put(o + 3 * static_cast<size_t>(width - 1), mid[width - 1]);
    uint32_t *spent = rows[0];
    rows[0] = rows[1];
    rows[1] = rows[2];
    rows[2] = spent;
  }
  copyRow(rows[1], height - 1);
}

// The vector path. Rows are held as 4-byte pixels (blue, green, red,
// ignored); the kernel filters the interior of every row at least a block
// wide, and narrower rows are filtered here one pixel at a time with the
// same rule on bytes.

// 32-bit input is already in that form and is read in place.
struct Direct32 {
  static constexpr bool kBuffered = false;
  const uint8_t *operator()(uint8_t *, const uint8_t *src, uint32_t) const { return src; }
};
// Other layouts are widened a row at a time into the slot given.
template <class Convert>
struct Widened {
  static constexpr bool kBuffered = true;
  Convert convert;
  const uint8_t *operator()(uint8_t *slot, const uint8_t *src, uint32_t width) const {
    for (uint32_t x = 0; x < width; ++x) {
      const uint32_t w = convert(src, x);
      uint8_t *p = slot + 4 * static_cast<size_t>(x);
      p[0] = static_cast<uint8_t>(w);
      p[1] = static_cast<uint8_t>(w >> 10);
      p[2] = static_cast<uint8_t>(w >> 20);
      p[3] = 0;
    }
    return slot;
  }
};

inline void copyPixels(uint8_t *o, const uint8_t *p, uint32_t count) {
  for (uint32_t x = 0; x < count; ++x, o += 3, p += 4) o[0] = p[0], o[1] = p[1], o[2] = p[2];
}

void ditherPixel(uint8_t *o, const uint8_t *above, const uint8_t *mid, const uint8_t *below, uint32_t t) {
  uint32_t hi[3] = {0, 0, 0}, lo[3] = {255, 255, 255};
  for (const uint8_t *row : {above, mid, below}) {
    for (int dx = -1; dx <= 1; ++dx) {
      const uint8_t *p = row + 4 * dx;
      for (int c = 0; c < 3; ++c) {
        hi[c] = p[c] > hi[c] ? p[c] : hi[c];
        lo[c] = p[c] < lo[c] ? p[c] : lo[c];
      }
    }
  }
  const uint32_t sum = hi[0] - lo[0] + hi[1] - lo[1] + hi[2] - lo[2];
  const bool dark = hi[0] < 32 && hi[1] < 32 && hi[2] < 32;
  for (int c = 0; c < 3; ++c) {
    o[c] = dark || sum <= 4 || sum >= 16 ? mid[c] : static_cast<uint8_t>(quantise(mid[c], t));
  }
}

// Width and height at least 3.
template <class Rows>
void ditherRowsVector(uint8_t *out, const uint8_t *input, uint32_t width, uint32_t height, ptrdiff_t pitch,
                      Rows rows, DitherBlocksFn blocks) {
  const size_t slot = 4 * static_cast<size_t>(width);
  std::vector<uint8_t> buffer(Rows::kBuffered ? 3 * slot : 0);
  auto row = [&](uint32_t y) {
    return rows(Rows::kBuffered ? buffer.data() + (y % 3) * slot : nullptr, input + static_cast<ptrdiff_t>(y) * pitch,
                width);
  };
  const size_t outPitch = 3 * static_cast<size_t>(width);
  const uint8_t *above = row(0), *mid = row(1);
  copyPixels(out, above, width);
  uint32_t index = kStartIndex;
  for (uint32_t y = 1; y + 1 < height; ++y) {
    const uint8_t *below = row(y + 1);
    index = (index & 7) ? index - 1 : index + 7;
    // Pixel x reads entry index - 8x (mod 64): a pattern of eight pixels.
    uint8_t thresholds[8];
    for (uint32_t j = 0; j < 8; ++j) thresholds[j] = kDither[(index - 8 * (j + 1)) & 63];
    uint8_t *o = out + y * outPitch;
    copyPixels(o, mid, 1);
    for (uint32_t x = 1 + blocks(o, above, mid, below, width, thresholds); x + 1 < width; ++x) {
      const size_t at = 4 * static_cast<size_t>(x);
      ditherPixel(o + 3 * static_cast<size_t>(x), above + at, mid + at, below + at, thresholds[(x - 1) & 7]);
    }
    copyPixels(o + 3 * static_cast<size_t>(width - 1), mid + 4 * static_cast<size_t>(width - 1), 1);
    index = (index - 8 * (width - 2)) & 63;
    above = mid;
    mid = below;
  }
  copyPixels(out + (height - 1) * outPitch, mid, width);
}

std::atomic<int> gUnit{-1};

DitherUnit processorUnit() {
  if (kav::os::simdDisabled()) return DitherUnit::kPortable;
#if defined(__x86_64__) || defined(__i386__)
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx2")) return DitherUnit::kAvx2;
  if (__builtin_cpu_supports("sse4.1")) return DitherUnit::kSse41;
#endif
  return DitherUnit::kPortable;
}

// The kernel to use, or none for the portable path.
DitherBlocksFn vectorBlocks(uint32_t width, uint32_t height) {
  if (width < 3 || height < 3) return nullptr;
  switch (ditherUnit()) {
    case DitherUnit::kAvx2: return ditherBlocksAvx2;
    case DitherUnit::kSse41: return ditherBlocksSse41;
    default: return nullptr;
  }
}

}  // namespace

DitherUnit ditherUnit() {
  int unit = gUnit.load(std::memory_order_relaxed);
  if (unit < 0) {
    unit = static_cast<int>(processorUnit());
    gUnit.store(unit, std::memory_order_relaxed);
  }
  return static_cast<DitherUnit>(unit);
}

void limitDitherUnit(DitherUnit unit) {
  const DitherUnit best = processorUnit();
  gUnit.store(static_cast<int>(unit) < static_cast<int>(best) ? static_cast<int>(unit) : static_cast<int>(best),
              std::memory_order_relaxed);
}

// Every layout takes the vector path when a vector unit is in use and the
// picture has interior pixels; both paths write the same bytes.
void smoothDither24(uint8_t *out, const uint8_t *input, uint32_t width, uint32_t height, ptrdiff_t pitchBytes) {
  if (!out || !input) return;
  if (DitherBlocksFn blocks = vectorBlocks(width, height))
    ditherRowsVector(out, input, width, height, pitchBytes, Widened<Convert24>{}, blocks);
  else
    ditherRows(out, input, width, height, pitchBytes, Convert24{});
}
void smoothDither32(uint8_t *out, const uint8_t *input, uint32_t width, uint32_t height, ptrdiff_t pitchBytes) {
  if (!out || !input) return;
  if (DitherBlocksFn blocks = vectorBlocks(width, height))
    ditherRowsVector(out, input, width, height, pitchBytes, Direct32{}, blocks);
  else
    ditherRows(out, input, width, height, pitchBytes, Convert32{});
}
void smoothDither16(uint8_t *out, const uint8_t *input, uint32_t width, uint32_t height, ptrdiff_t pitchBytes) {
  if (!out || !input) return;
  if (DitherBlocksFn blocks = vectorBlocks(width, height))
    ditherRowsVector(out, input, width, height, pitchBytes, Widened<Convert16>{}, blocks);
  else
    ditherRows(out, input, width, height, pitchBytes, Convert16{});
}
void smoothDither8(uint8_t *out, const uint8_t *input, uint32_t width, uint32_t height, ptrdiff_t pitchBytes,
                   const uint8_t *palette) {
  if (!out || !input || !palette) return;
  if (DitherBlocksFn blocks = vectorBlocks(width, height))
    ditherRowsVector(out, input, width, height, pitchBytes, Widened<Convert8>{{palette}}, blocks);
  else
    ditherRows(out, input, width, height, pitchBytes, Convert8{palette});
}

}  // namespace kav::colour
