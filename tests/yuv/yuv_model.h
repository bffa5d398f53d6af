// A straightforward model of the YUV blit for the tests: the pixel formulas
// written out per pixel, and every mode's mapping of source pixels to
// destination pixels, without row pairs, tables or vectors.
#pragma once

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "kavutil/yuv.h"

namespace yuvtest {

enum class Formula { kPortable, kVector };

inline int lumaPortable(int y) { return std::clamp(y - 16, 0, 219) * 38154 / 32768; }
inline int lumaVector(int y) { return ((std::max(y - 16, 0) * 4) * 19077) >> 16; }
inline int clamp255(int v) { return std::clamp(v, 0, 255); }

// Pixel (B | G << 8 | R << 16) for luma y and chroma samples of the first and
// second plane.
inline uint32_t colourPixel(Formula f, int y, int first, int second, bool exchanged) {
  const int l = f == Formula::kPortable ? lumaPortable(y) : lumaVector(y);
  const int cb = exchanged ? first : second;
  const int cr = exchanged ? second : first;
  int blueTerm = 66101 * (cb - 128) / 32768;
  int redTerm = 52299 * (cr - 128) / 32768;
  int greenTerm = 12837 * (128 - cb) / 32768 + 26639 * (128 - cr) / 32768;
  if (exchanged) {
    // The coefficient tables trade roles along with the planes.
    blueTerm = 52299 * (cb - 128) / 32768;
    redTerm = 66101 * (cr - 128) / 32768;
    greenTerm = 26639 * (128 - cb) / 32768 + 12837 * (128 - cr) / 32768;
  }
  return static_cast<uint32_t>(clamp255(l + blueTerm) | clamp255(l + greenTerm) << 8 | clamp255(l + redTerm) << 16);
}

inline uint32_t greyPixel(Formula f, int y) {
  int g;
  if (f == Formula::kVector) {
    g = std::min(lumaVector(y), 255);
  } else {
    g = y <= 16 ? 0 : y >= 235 ? 255 : 255 * (y - 16) / 219;
  }
  return static_cast<uint32_t>(g * 0x010101);
}

// A plane set with the decoder's layout, allocated to its exact size, and an
// alpha plane of the luma geometry.
struct Planes {
  int32_t pitch = 0;
  int32_t planeHeight = 0;
  std::vector<uint8_t> data;
  std::vector<uint8_t> alpha;

  Planes(int32_t p, int32_t ph) : pitch(p), planeHeight(ph) {
    data.resize(static_cast<size_t>(p) * ph + 2 * static_cast<size_t>(p / 2) * (ph / 2));
    alpha.resize(static_cast<size_t>(p) * ph);
  }
  uint8_t &luma(int r, int c) { return data[static_cast<size_t>(r) * pitch + c]; }
  uint8_t &first(int r, int c) { return data[static_cast<size_t>(pitch) * planeHeight + r * (pitch / 2) + c]; }
  uint8_t &second(int r, int c) {
    return data[static_cast<size_t>(pitch) * planeHeight + (planeHeight / 2) * (pitch / 2) + r * (pitch / 2) + c];
  }
  uint8_t &alphaAt(int r, int c) { return alpha[static_cast<size_t>(r) * pitch + c]; }

  void randomise(std::mt19937 &rng) {
    for (auto &v : data) v = static_cast<uint8_t>(rng());
    for (auto &v : alpha) v = static_cast<uint8_t>(rng());
  }
};

// A 32-bit surface of w x h pixels whose rows run top-down in memory, or
// bottom-up (negative pitch, the blit given its last row).
struct Surface {
  int32_t width, height;
  bool bottomUp;
  std::vector<uint32_t> pixels;

  Surface(int32_t w, int32_t h, bool up, uint32_t fill = 0xA5C3E1F0u)
      : width(w), height(h), bottomUp(up), pixels(static_cast<size_t>(w) * h, fill) {}
  int32_t pitchBytes() const { return (bottomUp ? -4 : 4) * width; }
  uint8_t *origin() {
    auto *base = reinterpret_cast<uint8_t *>(pixels.data());
    return bottomUp ? base + static_cast<size_t>(height - 1) * width * 4 : base;
  }
  // Pixel at row r counted from origin() in pitch steps.
  uint32_t &at(int32_t r, int32_t c) {
    const int32_t memRow = bottomUp ? height - 1 - r : r;
    return pixels[static_cast<size_t>(memRow) * width + c];
  }
};

struct BlitArgs {
  int32_t dstX = 0, dstY = 0;
  int32_t srcX = 0, srcY = 0, w = 0, h = 0;
  uint32_t flags = 0;
  bool withAlpha = false;
};

// Writes into s what the blit should write, reading the pixels one by one.
inline void modelBlit(Surface &s, Planes &p, const BlitArgs &a, Formula f) {
  const uint32_t mode = (a.flags >> 28) & 7;
  const bool grey = (a.flags & YUV_FLAG_GREY) != 0;
  const bool exchanged = (a.flags & YUV_FLAG_EXCHANGE_CHROMA) != 0;
  const bool wide = mode == 3 || mode == 4 || mode == 5;
  const int rows = mode == 6 ? a.h / 2 : a.h;
  for (int k = 0; k < rows; ++k) {
    int lumaRow, chromaRow;
    std::vector<int> dstRows;
    if (mode == 6) {
      const int fieldRow = a.srcY / 2 + k;  // row of the half-height picture
      lumaRow = 2 * fieldRow;
      chromaRow = 2 * (fieldRow / 2);
      dstRows = {2 * a.dstY + 2 * k};
    } else {
      lumaRow = a.srcY + k;
      chromaRow = lumaRow / 2;
      if (mode == 1 || mode == 4) {
        dstRows = {a.dstY + 2 * k, a.dstY + 2 * k + 1};
      } else if (mode == 2 || mode == 5) {
        dstRows = {a.dstY + 2 * k};
      } else {
        dstRows = {a.dstY + k};
      }
    }
    for (int c = 0; c < a.w; ++c) {
      const int x = a.srcX + c;
      const int y = p.luma(lumaRow, x);
      uint32_t px = grey ? greyPixel(f, y)
                         : colourPixel(f, y, p.first(chromaRow, x / 2), p.second(chromaRow, x / 2), exchanged);
      if (a.withAlpha) px |= static_cast<uint32_t>(p.alphaAt(lumaRow, x)) << 24;
      for (int r : dstRows) {
        if (wide) {
          s.at(r, a.dstX + 2 * c) = px;
          s.at(r, a.dstX + 2 * c + 1) = px;
        } else {
          s.at(r, a.dstX + c) = px;
        }
      }
    }
  }
}

inline void libraryBlit(Surface &s, Planes &p, const BlitArgs &a) {
  if (a.withAlpha) {
    YUV_blit_32abpp(s.origin(), a.dstX, a.dstY, s.pitchBytes(), p.data.data(), a.srcX, a.srcY, a.w, a.h, p.pitch,
                    p.planeHeight, p.alpha.data(), a.flags);
  } else {
    YUV_blit_32bpp(s.origin(), a.dstX, a.dstY, s.pitchBytes(), p.data.data(), a.srcX, a.srcY, a.w, a.h, p.pitch,
                   p.planeHeight, a.flags);
  }
}

}  // namespace yuvtest
