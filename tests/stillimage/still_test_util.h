// Helpers for the still-image tests: descriptors filled with test pictures,
// pixel access by picture row, and little-endian byte building.
#pragma once

#include "support/le_bytes.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/stillimage/still_codecs.h"
#include "platform/stillimage/still_image.h"

namespace stilltest {

using kavtest::Bytes;
using kav::still::StillImage;

using kavtest::put16;
using kavtest::put32;

// Owns a descriptor and releases it.
struct Image {
  StillImage img{};
  Image() = default;
  Image(int32_t w, int32_t h, int bits) { kav::still::stillAllocate(&img, w, h, bits); }
  ~Image() { kav::still::stillRelease(&img); }
  Image(const Image &) = delete;
  Image &operator=(const Image &) = delete;
  StillImage *operator->() { return &img; }
  // Pixel bytes of picture row y (0 = top).
  uint8_t *row(int32_t y) { return img.buffer + static_cast<size_t>(img.pictureHeight - 1 - y) * img.pitchBytes; }
  // Palette index at (x, y) of a 1/2/4/8-bit image.
  int index(int32_t x, int32_t y) {
    const int b = img.bitsPerPixel;
    const uint8_t *r = row(y);
    if (b == 8) return r[x];
    const int per = 8 / b;
    return (r[x / per] >> (8 - b * (1 + x % per))) & ((1 << b) - 1);
  }
  // B, G, R of (x, y), through the palette for paletted images.
  void bgr(int32_t x, int32_t y, uint8_t out[3]) {
    const int b = img.bitsPerPixel;
    if (b <= 8) {
      std::memcpy(out, img.palette[index(x, y)], 3);
    } else if (b == 16) {
      const uint8_t *p = row(y) + 2 * x;
      const unsigned v = p[0] | (p[1] << 8);
      out[0] = static_cast<uint8_t>((v & 31) << 3);
      out[1] = static_cast<uint8_t>(((v >> 5) & 31) << 3);
      out[2] = static_cast<uint8_t>(((v >> 10) & 31) << 3);
    } else {
      std::memcpy(out, row(y) + static_cast<size_t>(x) * (b / 8), 3);
    }
  }
};

// A paletted test picture: a 256-colour ramp palette and a pattern that
// uses every index.
inline void fillPaletted(Image &im) {
  StillImage &d = im.img;
  for (int i = 0; i < 256; ++i) {
    d.palette[i][0] = static_cast<uint8_t>(i);
    d.palette[i][1] = static_cast<uint8_t>(255 - i);
    d.palette[i][2] = static_cast<uint8_t>((i * 7) & 255);
  }
  d.colours = 256;
  for (int32_t y = 0; y < d.height; ++y)
    for (int32_t x = 0; x < d.width; ++x) im.row(y)[x] = static_cast<uint8_t>((x * 3 + y * 5 + (x / 4) * (y / 3)) & 255);
}

// A smooth true-colour picture (so JPEG stays close) with a few flat runs.
inline void fillTrueColour(Image &im) {
  StillImage &d = im.img;
  for (int32_t y = 0; y < d.height; ++y)
    for (int32_t x = 0; x < d.width; ++x) {
      uint8_t *p = im.row(y) + 3 * x;
      p[0] = static_cast<uint8_t>(x * 255 / (d.width > 1 ? d.width - 1 : 1));
      p[1] = static_cast<uint8_t>(y * 255 / (d.height > 1 ? d.height - 1 : 1));
      p[2] = static_cast<uint8_t>(x < d.width / 2 ? 40 : 200);
    }
}

inline kav::still::ByteView view(const Bytes &b) { return {b.data(), b.size()}; }

}  // namespace stilltest
