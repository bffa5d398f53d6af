// Smooth-area dither. Pixels are held in a working form with blue in bits
// 0-7, green in 10-17 and red in 20-27: the two spare bits above each
// component absorb the borrow of a subtraction, so one subtraction compares
// all three components of two pixels at once.
#include "colour/smooth_dither.h"

#include <cstring>
#include <vector>

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

}  // namespace

void smoothDither24(uint8_t *out, const uint8_t *input, uint32_t width, uint32_t height, ptrdiff_t pitchBytes) {
  ditherRows(out, input, width, height, pitchBytes, Convert24{});
}
void smoothDither32(uint8_t *out, const uint8_t *input, uint32_t width, uint32_t height, ptrdiff_t pitchBytes) {
  ditherRows(out, input, width, height, pitchBytes, Convert32{});
}
void smoothDither16(uint8_t *out, const uint8_t *input, uint32_t width, uint32_t height, ptrdiff_t pitchBytes) {
  ditherRows(out, input, width, height, pitchBytes, Convert16{});
}
void smoothDither8(uint8_t *out, const uint8_t *input, uint32_t width, uint32_t height, ptrdiff_t pitchBytes,
                   const uint8_t *palette) {
  if (!palette) return;
  ditherRows(out, input, width, height, pitchBytes, Convert8{palette});
}

}  // namespace kav::colour
