// One pixel of each converter formula.
#pragma once

#include <algorithm>
#include <cstdint>

#include "vorn/yuv_rows.h"

namespace kav::yuv {

// Portable: the channel is read from the saturation table at the luma term
// plus the chroma term.
inline uint32_t colourPortable(const Tables &t, uint8_t y, uint8_t cb, uint8_t cr) {
  const uint8_t *base = t.sat + kSatZero + t.yt[y];
  const uint32_t b = base[t.cb[cb]];
  const uint32_t g = base[t.gu[cb] + t.gv[cr]];
  const uint32_t r = base[t.cr[cr]];
  return b | g << 8 | r << 16;
}

// Vector formula: the luma term is not clipped above 235 and every channel is
// clamped to 0..255, as a saturating 16-bit add and subtract of 0x7F00 do.
inline uint32_t colourVector(const Tables &t, uint8_t y, uint8_t cb, uint8_t cr) {
  const int32_t l = t.ytVector[y];
  const uint32_t b = static_cast<uint32_t>(std::clamp(l + t.cb[cb], 0, 255));
  const uint32_t g = static_cast<uint32_t>(std::clamp(l + t.gu[cb] + t.gv[cr], 0, 255));
  const uint32_t r = static_cast<uint32_t>(std::clamp(l + t.cr[cr], 0, 255));
  return b | g << 8 | r << 16;
}

inline uint32_t greyPortable(const Tables &t, uint8_t y) { return t.grey[y]; }

inline uint32_t greyVector(const Tables &t, uint8_t y) {
  const uint32_t g = static_cast<uint32_t>(std::min(t.ytVector[y], 255));
  return g | g << 8 | g << 16;
}

}  // namespace kav::yuv
