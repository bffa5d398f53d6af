// A synthetic Vorn plane for the benchmarks that read whole movies: key
// frames of intra blocks, between them a quarter of the blocks refilled and
// the rest kept, so a movie decodes like a real one.
#pragma once

#include <array>
#include <cstdint>

#include "support/vorn_writer.h"

namespace kavbench {

inline kavtest::vornw::PlaneDesc keyOrRefillPlane(uint32_t w, uint32_t h, bool key, uint32_t seed) {
  using kavtest::vornw::Block;
  kavtest::vornw::PlaneDesc p;
  p.width = (w + 7) & ~7u;
  p.height = (h + 7) & ~7u;
  uint32_t s = seed * 2654435761u + 1;
  auto next = [&] { return (s = s * 1103515245u + 12345u) >> 16; };
  p.rows.assign(p.height / 8, {});
  for (uint32_t by = 0; by < p.height / 8; ++by)
    for (uint32_t bx = 0; bx < p.width / 8; ++bx) {
      if (key) {
        std::array<int32_t, 64> c{};
        c[1] = int32_t(next() % 31) - 15;
        c[2] = int32_t(next() % 31) - 15;
        p.rows[by].push_back(Block::intra(int32_t(200 + next() % 1200), 2 + next() % 6, c));
      } else if (next() % 4 == 0) {
        p.rows[by].push_back(Block::fill(uint8_t(next())));
      } else {
        p.rows[by].push_back(Block::skip());
      }
    }
  return p;
}

// Frame n of such a movie: the luma plane and two half-size chroma planes,
// each from its own seed.
inline kavtest::vornw::FrameDesc keyOrRefillFrame(uint32_t w, uint32_t h, bool key, uint32_t n) {
  kavtest::vornw::FrameDesc f;
  f.luma = keyOrRefillPlane(w, h, key, n);
  f.chroma[0] = keyOrRefillPlane(w / 2, h / 2, key, n + 1000);
  f.chroma[1] = keyOrRefillPlane(w / 2, h / 2, key, n + 2000);
  return f;
}

}  // namespace kavbench
