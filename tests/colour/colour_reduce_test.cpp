#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "colour/colour_reduce.h"
#include "colour/histogram.h"
#include "colour/median_boxes.h"

namespace kc = kav::colour;

namespace {

std::vector<uint32_t> emptyHistogram() { return std::vector<uint32_t>(kc::kHistogramCells, 0); }

uint32_t cell6(uint32_t r, uint32_t g, uint32_t b) { return r << 12 | g << 6 | b; }

uint32_t entry(const uint8_t *palette, uint32_t i) {
  return uint32_t{palette[3 * i]} << 16 | uint32_t{palette[3 * i + 1]} << 8 | palette[3 * i + 2];
}

// Progress texts seen by the callback; cancels on call number `cancelAt`.
std::vector<std::string> g_texts;
std::vector<int32_t> g_codes;
size_t g_cancelAt = 0;
uint32_t KAVAPI recordStatus(const char *text, int32_t code) {
  g_texts.emplace_back(text);
  g_codes.push_back(code);
  return g_texts.size() == g_cancelAt ? 0x101u : 0x100u;  // only the low byte cancels
}
void resetStatus(size_t cancelAt = 0) {
  g_texts.clear();
  g_codes.clear();
  g_cancelAt = cancelAt;
}

// Cell-by-cell search over the 512 candidates, for comparison.
struct Literal {
  uint64_t total = ~0ull;
  uint32_t k = 512, firstCells = 0;
  uint64_t e0 = 0, e1 = 0;
};
Literal literalSplit(const std::vector<uint32_t> &cells, const std::vector<uint32_t> &hist) {
  const uint16_t *sq = kc::colourSquares();
  Literal best;
  best.total = 0x1FFFFFFDE0000002ull;
  for (uint32_t k = 0; k < 512; ++k) {
    const uint32_t t = k & 63;
    const uint32_t lim[3] = {(k & 64) ? 63 : t, (k & 128) ? 63 : t, (k & 256) ? 63 : t};
    uint64_t n[2] = {0, 0}, s[2][3] = {}, cnt[2] = {0, 0};
    auto part = [&](uint32_t c) {
      return (kc::cellRed(c) <= lim[0] && kc::cellGreen(c) <= lim[1] && kc::cellBlue(c) <= lim[2]) ? 0 : 1;
    };
    for (uint32_t c : cells) {
      const int p = part(c);
      n[p] += hist[c];
      ++cnt[p];
      s[p][0] += uint64_t{hist[c]} * kc::cellRed(c);
      s[p][1] += uint64_t{hist[c]} * kc::cellGreen(c);
      s[p][2] += uint64_t{hist[c]} * kc::cellBlue(c);
    }
    if (!n[0] || !n[1]) continue;
    uint64_t e[2] = {0, 0};
    for (uint32_t c : cells) {
      const int p = part(c);
      const uint32_t m[3] = {uint32_t(s[p][0] * 4 / n[p]) >> 2, uint32_t(s[p][1] * 4 / n[p]) >> 2,
                             uint32_t(s[p][2] * 4 / n[p]) >> 2};
      e[p] += uint64_t{hist[c]} * (30 * sq[m[0] * 64 + kc::cellRed(c)] + 58 * sq[m[1] * 64 + kc::cellGreen(c)] +
                                   12 * sq[m[2] * 64 + kc::cellBlue(c)]);
    }
    if (e[0] + e[1] < best.total) best = {e[0] + e[1], k, static_cast<uint32_t>(cnt[0]), e[0], e[1]};
  }
  return best;
}

}  // namespace

TEST(ColourTables, SquaresAndWidening) {
  const uint16_t *sq = kc::colourSquares();
  EXPECT_EQ(sq, kc::colourSquares());  // built once
  EXPECT_EQ(sq[0], 0);
  EXPECT_EQ(sq[63 * 64 + 0], 3969);
  EXPECT_EQ(sq[10 * 64 + 13], 9);
  EXPECT_EQ(kc::expand6(0), 0u);
  EXPECT_EQ(kc::expand6(16), 65u);
  EXPECT_EQ(kc::expand6(63), 255u);
  EXPECT_EQ(kc::cellOf(255, 4, 3), cell6(63, 1, 0));
}

TEST(ColourHistogram, CountsEveryDepth) {
  auto h = emptyHistogram();
  const uint8_t bgr[2 * 3] = {8, 16, 255, 0, 0, 0};
  ASSERT_TRUE(kc::histogramAddPixels(h.data(), bgr, 2, 1, 6, 24, nullptr));
  EXPECT_EQ(h[cell6(63, 4, 2)], 1u);
  EXPECT_EQ(h[0], 1u);
  const uint8_t bgrx[4] = {8, 16, 255, 99};
  ASSERT_TRUE(kc::histogramAddPixels(h.data(), bgrx, 1, 1, 4, 32, nullptr));
  EXPECT_EQ(h[cell6(63, 4, 2)], 2u);
  const uint16_t p555 = 31 << 10 | 1 << 5 | 3;  // 5-bit components doubled
  ASSERT_TRUE(kc::histogramAddPixels(h.data(), reinterpret_cast<const uint8_t *>(&p555), 1, 1, 2, 16, nullptr));
  EXPECT_EQ(h[cell6(62, 2, 6)], 1u);
  uint8_t palette[768] = {};
  palette[3 * 7] = 40, palette[3 * 7 + 1] = 80, palette[3 * 7 + 2] = 120;
  const uint8_t idx[6] = {7, 0, 9, 7, 7, 9};
  ASSERT_TRUE(kc::histogramAddPixels(h.data(), idx + 3, 2, 2, -3, 8, palette));  // bottom-up rows
  EXPECT_EQ(h[cell6(10, 20, 30)], 3u);
  EXPECT_FALSE(kc::histogramAddPixels(h.data(), idx, 1, 1, 1, 8, nullptr));
  EXPECT_FALSE(kc::histogramAddPixels(h.data(), idx, 1, 1, 1, 4, palette));
  h[5] = 0xFFFFFFF0u;
  kc::histogramAddCount(h.data(), 5, 100);
  EXPECT_EQ(h[5], 0xFFFFFFFFu);  // saturates
}

TEST(ColourReserve, ReserveArithmeticAndSystemColours) {
  auto r = kc::paletteReserve(0, 0, 256);
  EXPECT_EQ(r.low, 10u);
  EXPECT_EQ(r.high, 10u);
  r = kc::paletteReserve(1, 20, 200);
  EXPECT_EQ(r.low, 0u);
  EXPECT_EQ(r.high, 0u);
  r = kc::paletteReserve(2, 0, 256);
  EXPECT_EQ(r.low + r.high, 0u);
  r = kc::paletteReserve(0, 4, 250);
  EXPECT_EQ(r.low, 6u);
  EXPECT_EQ(r.high, 8u);
  // A range inside the fixed entries is all reserve, never more.
  r = kc::paletteReserve(0, 2, 5);
  EXPECT_EQ(r.low, 5u);
  EXPECT_EQ(r.high, 0u);
  r = kc::paletteReserve(0, 250, 100);  // clipped to the palette
  EXPECT_EQ(r.high, 6u);

  uint8_t palette[768] = {};
  kc::writeSystemColours(palette);
  EXPECT_EQ(entry(palette, 8), 0xC0DCC0u);
  EXPECT_EQ(entry(palette, 9), 0xA6CAF0u);
  EXPECT_EQ(entry(palette, 246), 0xFFFBF0u);
  EXPECT_EQ(entry(palette, 247), 0xA0A0A4u);
  EXPECT_EQ(entry(palette, 255), 0xFFFFFFu);
  EXPECT_EQ(entry(palette, 10), 0u);
}

TEST(ColourReserve, SlotWeights) {
  uint32_t w[256];
  kc::computeSlotWeights(w, nullptr, 4, 4, 4, -1, -1, 1, 1, 0);
  EXPECT_EQ(*std::max_element(w, w + 256), 0u);
  // 4 x 3 picture; top margin -1 skips its first row, left margin -1 with a
  // start of 1 byte skips its first column.
  const uint8_t pic[12] = {9, 9, 9, 9, 9, 1, 2, 2, 9, 3, 3, 3};
  kc::computeSlotWeights(w, pic, 4, 3, 4, -1, -1, 2, 0, 1);
  EXPECT_EQ(w[0], (1u + 2u) * 3 + (4u + 2u) * 1);
  EXPECT_EQ(w[1], 1u);
  EXPECT_EQ(w[2], 2u);
  EXPECT_EQ(w[3], 3u);
  EXPECT_EQ(w[9], 0u);
  // Offsets past the picture count nothing rather than reading beyond it.
  kc::computeSlotWeights(w, pic, 4, 3, 4, -5, -7, 0, 0, 9);
  EXPECT_EQ(w[9] + w[1] + w[2] + w[3], 0u);
}

TEST(ColourBoxes, BestSplitMatchesTheCellByCellSearch) {
  std::mt19937 rng(3);
  for (int round = 0; round < 40; ++round) {
    auto hist = emptyHistogram();
    std::set<uint32_t> chosen;
    const uint32_t n = 3 + rng() % 60;
    const uint32_t spread = 1 + rng() % 64;
    const uint32_t base[3] = {uint32_t(rng() % (65 - spread)), uint32_t(rng() % (65 - spread)),
                             uint32_t(rng() % (65 - spread))};
    while (chosen.size() < n && chosen.size() < spread * spread * spread)
      chosen.insert(cell6(base[0] + rng() % spread, base[1] + rng() % spread, base[2] + rng() % spread));
    std::vector<uint32_t> cells(chosen.begin(), chosen.end());
    if (cells.size() < 3) continue;
    for (uint32_t c : cells) hist[c] = 1 + rng() % (round % 2 ? 5 : 100000);
    const Literal lit = literalSplit(cells, hist);

    kc::ColourBox box{};
    box.start = 0;
    box.count = static_cast<uint32_t>(cells.size());
    std::vector<uint32_t> work = cells;
    kc::findBestSplit(box, work.data(), hist.data());
    ASSERT_LT(lit.k, 512u);
    EXPECT_EQ(box.split.firstCount, lit.firstCells) << round;
    EXPECT_EQ(box.split.error[0], lit.e0) << round;
    EXPECT_EQ(box.split.error[1], lit.e1) << round;
    // Reordered in place: the same cells, the first part in front.
    std::vector<uint32_t> sorted = work;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(sorted, cells);
    const uint32_t t = lit.k & 63;
    for (uint32_t i = 0; i < work.size(); ++i) {
      const bool inside = kc::cellRed(work[i]) <= ((lit.k & 64) ? 63 : t) &&
                          kc::cellGreen(work[i]) <= ((lit.k & 128) ? 63 : t) &&
                          kc::cellBlue(work[i]) <= ((lit.k & 256) ? 63 : t);
      EXPECT_EQ(inside, i < box.split.firstCount);
    }
    // The first part's colour is its truncated mean at 8 bits.
    if (box.split.firstCount > 1) {
      uint64_t s = 0, cnt = 0;
      for (uint32_t i = 0; i < box.split.firstCount; ++i) s += uint64_t{hist[work[i]]} * kc::cellRed(work[i]), cnt += hist[work[i]];
      EXPECT_EQ(box.split.colour[0] >> 16, s * 4 / cnt);
    }
  }
}

TEST(ColourReduce, FiftyColoursStayExact) {
  std::mt19937 rng(21);
  auto hist = emptyHistogram();
  std::set<uint32_t> cells;
  while (cells.size() < 50) cells.insert(rng() % kc::kHistogramCells);
  for (uint32_t c : cells) hist[c] = 1 + rng() % 1000;
  uint8_t palette[768];
  std::memset(palette, 0x33, sizeof palette);
  kc::writeSystemColours(palette);
  const auto r = kc::paletteReserve(0, 0, 256);
  ASSERT_EQ(256 - r.low - r.high, 236u);
  EXPECT_EQ(kc::reduceColours(palette, hist.data(), 0, 256, r.low, r.high, nullptr, nullptr), 50u);
  std::multiset<uint32_t> expect, got;
  for (uint32_t c : cells) expect.insert(kc::cellColour(c));
  for (uint32_t i = 10; i < 246; ++i)
    if (entry(palette, i) != 0x333333u) got.insert(entry(palette, i));
  EXPECT_EQ(got, expect);
  EXPECT_EQ(entry(palette, 9), 0xA6CAF0u);  // the reserve is kept
  EXPECT_EQ(entry(palette, 246), 0xFFFBF0u);
}

TEST(ColourReduce, EmptySingleAndReservedHistograms) {
  uint8_t palette[768], before[768];
  for (int i = 0; i < 768; ++i) palette[i] = static_cast<uint8_t>(i * 7);
  std::memcpy(before, palette, sizeof palette);
  auto hist = emptyHistogram();
  EXPECT_EQ(kc::reduceColours(palette, hist.data(), 0, 256, 0, 0, nullptr, nullptr), 0u);
  EXPECT_EQ(std::memcmp(palette, before, sizeof palette), 0);

  // One colour gives one entry, its cell widened.
  hist[cell6(63, 0, 40)] = 500;
  EXPECT_EQ(kc::reduceColours(palette, hist.data(), 20, 100, 0, 0, nullptr, nullptr), 1u);
  bool found = false;
  for (uint32_t i = 20; i < 120; ++i) found |= entry(palette, i) == 0xFF00A2u;
  EXPECT_TRUE(found);

  // Colours of the reserved entries are cleared from the histogram and
  // never spent again.
  hist = emptyHistogram();
  kc::writeSystemColours(palette);
  hist[0] = 1000;                       // black: entry 0
  hist[cell6(63, 63, 63)] = 1000;       // white: entry 255
  hist[cell6(20, 30, 40)] = 10;
  hist[cell6(21, 30, 40)] = 10;
  EXPECT_EQ(kc::reduceColours(palette, hist.data(), 0, 256, 10, 10, nullptr, nullptr), 2u);
  EXPECT_EQ(hist[0], 0u);
  EXPECT_EQ(hist[cell6(63, 63, 63)], 0u);
}

TEST(ColourReduce, KnownClustersGiveTheirMeans) {
  // Four tight clusters far apart, reduced to four colours: each entry is
  // its cluster's truncated mean.
  auto hist = emptyHistogram();
  const uint32_t centres[4][3] = {{5, 5, 5}, {50, 10, 10}, {10, 50, 30}, {40, 40, 60}};
  uint32_t expect[4];
  for (int k = 0; k < 4; ++k) {
    uint64_t s[3] = {}, n = 0;
    for (uint32_t d = 0; d < 3; ++d) {
      const uint32_t r = centres[k][0] + d, g = centres[k][1], b = centres[k][2] - d % 2;
      const uint32_t count = 100 * (d + 1);
      hist[cell6(r, g, b)] = count;
      s[0] += count * r, s[1] += count * g, s[2] += count * b, n += count;
    }
    expect[k] = uint32_t(s[0] * 4 / n) << 16 | uint32_t(s[1] * 4 / n) << 8 | uint32_t(s[2] * 4 / n);
  }
  uint8_t palette[768] = {};
  ASSERT_EQ(kc::reduceColours(palette, hist.data(), 100, 4, 0, 0, nullptr, nullptr), 4u);
  std::set<uint32_t> got;
  for (uint32_t i = 100; i < 104; ++i) got.insert(entry(palette, i));
  EXPECT_EQ(got, std::set<uint32_t>(expect, expect + 4));
}

TEST(ColourReduce, ProgressTextsAndCancel) {
  std::mt19937 rng(8);
  auto fill = [&] {
    auto h = emptyHistogram();
    for (int i = 0; i < 3000; ++i) h[rng() % kc::kHistogramCells] += 1 + rng() % 50;
    return h;
  };
  auto hist = fill();
  uint8_t palette[768] = {};
  resetStatus();
  EXPECT_EQ(kc::reduceColours(palette, hist.data(), 0, 256, 10, 10, nullptr, recordStatus), 236u);
  // One text per split (235), then the placement notice.
  ASSERT_EQ(g_texts.size(), 236u);
  EXPECT_EQ(g_texts[0], "Reducing the number of colors (1%)...");
  EXPECT_EQ(g_codes[0], 1);
  EXPECT_EQ(g_codes[1], 0);
  EXPECT_EQ(g_texts[118], "Reducing the number of colors (51%)...");  // before the 119th split
  EXPECT_EQ(g_texts[117], "Reducing the number of colors (50%)...");
  EXPECT_EQ(g_texts.back(), "Minimizing palette changes...");
  EXPECT_EQ(g_codes.back(), 1);

  // A cancel keeps the boxes made so far and still places them.
  hist = fill();
  resetStatus(5);
  EXPECT_EQ(kc::reduceColours(palette, hist.data(), 0, 256, 10, 10, nullptr, recordStatus), 5u);
  EXPECT_EQ(g_texts.size(), 6u);
  EXPECT_EQ(g_texts.back(), "Minimizing palette changes...");
}

TEST(ColourReduce, ReducedPaletteFitsAGradientImage) {
  // A smooth two-colour gradient reduced to 16 colours: every pixel lies
  // within a few levels of its nearest entry.
  auto hist = emptyHistogram();
  for (uint32_t i = 0; i < 256; ++i) hist[kc::cellOf(i, 255 - i, 128)] += 10;
  uint8_t palette[768] = {};
  ASSERT_EQ(kc::reduceColours(palette, hist.data(), 0, 16, 0, 0, nullptr, nullptr), 16u);
  for (uint32_t i = 0; i < 256; ++i) {
    int best = 1 << 30;
    for (int e = 0; e < 16; ++e) {
      const int dr = palette[3 * e] - static_cast<int>(i), dg = palette[3 * e + 1] - static_cast<int>(255 - i),
                db = palette[3 * e + 2] - 128;
      best = std::min(best, dr * dr + dg * dg + db * db);
    }
    EXPECT_LE(best, 2 * 16 * 16) << i;
  }
}
