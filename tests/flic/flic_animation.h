// Synthetic animations for the Flic tests and benchmarks: a gradient
// background with a moving block and a patch of noise that drifts.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

namespace flictest {

inline std::vector<uint8_t> movingFrame(uint32_t width, uint32_t height, uint32_t t) {
  std::vector<uint8_t> f(static_cast<size_t>(width) * height);
  for (uint32_t y = 0; y < height; ++y)
    for (uint32_t x = 0; x < width; ++x) f[static_cast<size_t>(y) * width + x] = static_cast<uint8_t>((x / 8 + y / 8) & 0x3F);
  const uint32_t bw = width / 5 + 1, bh = height / 5 + 1;
  const uint32_t bx = (t * 7) % (width - bw + 1), by = (t * 3) % (height - bh + 1);
  for (uint32_t y = by; y < by + bh; ++y)
    for (uint32_t x = bx; x < bx + bw; ++x) f[static_cast<size_t>(y) * width + x] = static_cast<uint8_t>(200 + (t & 15));
  std::mt19937 rng(t);
  const uint32_t nw = width / 8 + 1, nh = height / 8 + 1;
  const uint32_t nx = (width - nw) / 2 + (t % 5), ny = (height - nh) / 2;
  for (uint32_t y = ny; y < ny + nh && y < height; ++y)
    for (uint32_t x = nx; x < nx + nw && x < width; ++x) f[static_cast<size_t>(y) * width + x] = static_cast<uint8_t>(rng());
  return f;
}

}  // namespace flictest
