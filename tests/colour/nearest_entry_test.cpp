// The nearest-entry search against a direct reading of its rule, and its
// AVX2 twin against the reference, over windows of awkward sizes and
// palettes full of ties.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "colour/histogram.h"
#include "colour/nearest_entry.h"

namespace kc = kav::colour;

namespace {

// The rule read directly: squared 6-bit differences, the lowest entry of
// equals.
uint32_t direct(const std::vector<uint8_t> &palette, uint32_t first, uint32_t count, uint32_t r6, uint32_t g6,
                uint32_t b6) {
  const uint16_t *sq = kc::colourSquares();
  uint32_t best = 0xFFFFFFFFu, bestIndex = first;
  for (uint32_t e = first; e < first + count; ++e) {
    const uint8_t *p = &palette[e * 3];
    const uint32_t d = sq[r6 * 64 + (p[0] >> 2)] + sq[g6 * 64 + (p[1] >> 2)] + sq[b6 * 64 + (p[2] >> 2)];
    if (d < best) best = d, bestIndex = e;
  }
  return bestIndex;
}

}  // namespace

TEST(NearestEntry, FollowsTheRuleAndTheVectorSearchAgrees) {
  std::mt19937 rng(61);
  const bool avx2 = __builtin_cpu_supports("avx2");
  struct Window {
    uint32_t first, count;
  };
  const Window windows[] = {{0, 256}, {0, 0}, {7, 1}, {3, 15}, {16, 16}, {40, 17}, {100, 156}, {1, 236}};
  for (int trial = 0; trial < 4; ++trial) {
    // Few distinct values per component, so that many entries tie.
    std::vector<uint8_t> palette(768);
    const uint32_t spread = trial == 0 ? 256 : 8u << trial;
    for (auto &v : palette) v = static_cast<uint8_t>(rng() % spread * (256 / spread));
    // The extremes, where 16-bit distances are largest.
    palette[0] = palette[1] = palette[2] = 0;
    palette[765] = palette[766] = palette[767] = 255;
    for (const Window &win : windows) {
      kc::PaletteWindow w;
      kc::preparePaletteWindow(w, palette.data(), win.first, win.count);
      for (uint32_t cell = 0; cell < kc::kHistogramCells; cell += (win.count == 256 && trial == 0 ? 1 : 97)) {
        const uint32_t r6 = kc::cellRed(cell), g6 = kc::cellGreen(cell), b6 = kc::cellBlue(cell);
        const uint32_t want = direct(palette, win.first, win.count, r6, g6, b6);
        ASSERT_EQ(kc::nearestEntryPortable(w, r6, g6, b6), want) << win.first << "+" << win.count << " " << cell;
        if (avx2) {
          ASSERT_EQ(kc::nearestEntryAvx2(w, r6, g6, b6), want) << win.first << "+" << win.count << " " << cell;
        }
      }
    }
  }
}
