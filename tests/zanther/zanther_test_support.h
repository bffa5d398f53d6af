// Shared helpers of the Zanther tests: synthetic pictures with every block
// kind, opening movies from bytes, and decoding all frames.
#pragma once

#include <kavutil/zanther.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "support/temp_dir.h"
#include "support/zanther_writer.h"

namespace ztest {

using kavtest::zantw::Frame;
using kavtest::zantw::Movie;
using kavtest::zantw::PaletteCommand;

// Draws block (bx, by) of a w-wide picture as one of the block kinds.
inline void drawBlock(std::vector<uint8_t> &pic, uint32_t w, uint32_t bx, uint32_t by, int kind, std::mt19937 &rng) {
  auto rnd = [&](int n) { return static_cast<uint8_t>(std::uniform_int_distribution<int>(0, n - 1)(rng)); };
  const uint8_t a = rnd(256), b = rnd(256);
  for (uint32_t r = 0; r < 4; ++r)
    for (uint32_t c = 0; c < 4; ++c) {
      uint8_t v;
      switch (kind) {
        case 0: v = a; break;                                      // solid
        case 1: v = rnd(2) ? a : static_cast<uint8_t>(a ^ 0x55); break;  // two colours
        case 2: v = (r < 2 ? (c < 2 ? a : b) : (c < 2 ? b : a)) ^ static_cast<uint8_t>(r / 2 * 7); break;  // quarters
        case 3: v = static_cast<uint8_t>(a + (r / 2) * 3 + c * 17); break;  // half rows
        default: v = rnd(8) + static_cast<uint8_t>(16 * c); break;           // full
      }
      pic[static_cast<size_t>(by * 4 + r) * w + bx * 4 + c] = v;
    }
}

inline std::vector<uint8_t> randomPicture(uint32_t w, uint32_t h, std::mt19937 &rng) {
  std::vector<uint8_t> pic(static_cast<size_t>(w) * h, 0);
  for (uint32_t by = 0; by < h / 4; ++by)
    for (uint32_t bx = 0; bx < w / 4; ++bx) drawBlock(pic, w, bx, by, static_cast<int>(rng() % 5), rng);
  return pic;
}

// Changes about `percent` of the blocks, with runs of solid areas.
inline std::vector<uint8_t> changedPicture(std::vector<uint8_t> pic, uint32_t w, uint32_t h, int percent,
                                           std::mt19937 &rng) {
  for (uint32_t by = 0; by < h / 4; ++by)
    for (uint32_t bx = 0; bx < w / 4; ++bx)
      if (static_cast<int>(rng() % 100) < percent) drawBlock(pic, w, bx, by, static_cast<int>(rng() % 5), rng);
  return pic;
}

inline std::vector<PaletteCommand> literalPalette(uint32_t seed) {
  std::vector<PaletteCommand> cmds;
  for (uint32_t i = 0; i < 256; ++i)
    cmds.push_back(PaletteCommand::literal(static_cast<uint8_t>((i + seed) & 63), static_cast<uint8_t>((i * 3 + seed) & 63),
                                           static_cast<uint8_t>((i * 7) & 63)));
  return cmds;
}

inline uint8_t widen(uint32_t v) { return static_cast<uint8_t>(v * 4 + v / 16); }

inline std::vector<uint8_t> expectedLiteralPalette(uint32_t seed) {
  std::vector<uint8_t> p(768);
  for (uint32_t i = 0; i < 256; ++i) {
    p[3 * i] = widen((i + seed) & 63);
    p[3 * i + 1] = widen((i * 3 + seed) & 63);
    p[3 * i + 2] = widen((i * 7) & 63);
  }
  return p;
}

struct MovieFile {
  kavtest::TempDir dir;
  std::string name;
  explicit MovieFile(const std::vector<uint8_t> &bytes, const std::string &file = "movie.znt") : name(dir.file(file)) {
    kavtest::writeFile(name, bytes);
  }
};

inline ZanthHandle *openBytes(const MovieFile &f, uint32_t request = 0) {
  return ZanthOpen(f.name.c_str(), KAV_INVALID_OS_FILE, 0, request);
}

// Decodes `count` frames from the current one, returning the target after each.
inline std::vector<std::vector<uint8_t>> decodeFrames(ZanthHandle *h, uint32_t count) {
  std::vector<uint8_t> target(static_cast<size_t>(h->Width) * h->Height, 0);
  ZanthSetTarget(h, 0, 0, static_cast<int32_t>(h->Width), h->Height, target.data(), 0);
  std::vector<std::vector<uint8_t>> out;
  for (uint32_t i = 0; i < count; ++i) {
    ZanthDecodeFrame(h);
    out.push_back(target);
    ZanthAdvance(h);
  }
  ZanthSetTarget(h, 0, 0, 0, 0, nullptr, 0);
  return out;
}

}  // namespace ztest
