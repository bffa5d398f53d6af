// The pixels a block description stands for, worked out from the description
// alone, for comparison with what the expander wrote.
#pragma once

#include <cstdint>
#include <vector>

#include "support/vorn_writer.h"

namespace kavtest {

struct ModelPlane {
  uint8_t *pixels;           // expected plane, starting as the current buffer
  const uint8_t *prev;       // previous plane
  uint32_t rowBytes;
  std::vector<uint8_t> *map = nullptr;
  uint32_t mapPitch = 0;
  unsigned scale = 1;
};

// The 8x8 source of a run, intra, fill, pattern or raw description.
inline std::array<uint8_t, 64> modelSource(const vornw::Block &b, unsigned type) {
  std::array<uint8_t, 64> s{};
  switch (type) {
    case 3: {
      unsigned i = 0;
      for (const auto &r : b.runs)
        for (unsigned j = 0; j < r.length; ++j, ++i)
          s[vornw::runPatternPosition(b.runPattern, i)] = r.single ? r.colours[0] : r.colours[j];
      if (i == 63) s[vornw::runPatternPosition(b.runPattern, 63)] = uint8_t(b.lastColour);
      break;
    }
    case 5: {
      std::array<int32_t, 64> c = b.coef;
      c[0] = b.dc;
      s = vornw::modelTransform(c, true, b.q);
      break;
    }
    case 6: s.fill(b.colours[0]); break;
    case 8:
      for (int j = 0; j < 8; ++j)
        for (int k = 0; k < 8; ++k) s[j * 8 + k] = (b.pattern[j] >> k) & 1 ? b.colours[1] : b.colours[0];
      break;
    case 9:
      for (int i = 0; i < 64; ++i) s[i] = b.colours[i];
      break;
  }
  return s;
}

// Applies one block at (x, y) to the expected plane; returns its width.
inline unsigned modelBlock(ModelPlane &m, const vornw::Block &b, uint32_t x, uint32_t y, unsigned row) {
  auto at = [&](uint32_t px, uint32_t py) -> uint8_t & { return m.pixels[size_t(py) * m.rowBytes + px]; };
  auto prevAt = [&](int64_t px, int64_t py) { return m.prev[size_t(py) * m.rowBytes + size_t(px)]; };
  auto mark = [&](uint32_t px) {
    if (m.map) (*m.map)[size_t(m.scale == 1 ? row / 2 : row) * m.mapPitch + (m.scale == 1 ? px / 16 : px / 8)] = 1;
  };
  switch (b.type) {
    case 0:
      for (int j = 0; j < 8; ++j)
        for (int k = 0; k < 8; ++k) at(x + k, y + j) = prevAt(x + k, y + j);
      return 8;
    case 1: {
      if (row % 2 == 0 && (b.sub == 3 || b.sub == 5 || b.sub == 6 || b.sub == 8 || b.sub == 9)) {
        auto s = modelSource(b, b.sub);
        for (int j = 0; j < 16; ++j)
          for (int k = 0; k < 16; ++k) at(x + k, y + j) = s[(j / 2) * 8 + k / 2];
      }
      mark(x);
      mark(x + 8);
      return 16;
    }
    case 2:
    case 4:
    case 7: {
      std::array<uint8_t, 64> delta{};
      if (b.type == 4)
        for (int k = 0; k < 64; ++k) delta[vornw::scanPosition(k)] = uint8_t(b.residue[k]);
      if (b.type == 7) {
        std::array<int32_t, 64> c = b.coef;
        c[0] = b.dc;
        delta = vornw::modelTransform(c, false, b.q);
      }
      for (int j = 0; j < 8; ++j)
        for (int k = 0; k < 8; ++k) at(x + k, y + j) = uint8_t(prevAt(int64_t(x) + k + b.dx, int64_t(y) + j + b.dy) + delta[j * 8 + k]);
      mark(x);
      return 8;
    }
    case 3:
    case 5:
    case 6:
    case 8:
    case 9: {
      auto s = modelSource(b, b.type);
      for (int j = 0; j < 8; ++j)
        for (int k = 0; k < 8; ++k) at(x + k, y + j) = s[j * 8 + k];
      mark(x);
      return 8;
    }
    default: return 8;
  }
}

inline void modelPlane(ModelPlane &m, const vornw::PlaneDesc &p) {
  for (unsigned r = 0; r < p.rows.size(); ++r) {
    uint32_t x = 0;
    for (const auto &b : p.rows[r]) x += modelBlock(m, b, x, r * 8, r);
  }
}

}  // namespace kavtest
