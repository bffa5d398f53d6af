#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "colour/colour_reduce.h"
#include "colour/histogram.h"
#include "colour/palette_placement.h"

namespace kc = kav::colour;

namespace {

uint32_t entry(const uint8_t *palette, uint32_t i) {
  return uint32_t{palette[3 * i]} << 16 | uint32_t{palette[3 * i + 1]} << 8 | palette[3 * i + 2];
}
void setEntry(uint8_t *palette, uint32_t i, uint32_t c) {
  palette[3 * i] = static_cast<uint8_t>(c >> 16);
  palette[3 * i + 1] = static_cast<uint8_t>(c >> 8);
  palette[3 * i + 2] = static_cast<uint8_t>(c);
}

// A photo-like 8-bit-per-component picture: smooth fields and some noise.
std::vector<uint8_t> photo(uint32_t w, uint32_t h, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> p(w * h * 3);
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x) {
      uint8_t *q = &p[(y * w + x) * 3];
      q[0] = static_cast<uint8_t>((x * 255 / w + rng() % 9) & 0xFF);
      q[1] = static_cast<uint8_t>((y * 255 / h + rng() % 9) & 0xFF);
      q[2] = static_cast<uint8_t>(((x + y) * 2 + rng() % 5) & 0xFF);
    }
  return p;
}

std::vector<uint8_t> mapToPalette(const std::vector<uint8_t> &bgr, const uint8_t *palette) {
  std::vector<uint8_t> out(bgr.size() / 3);
  for (size_t i = 0; i < out.size(); ++i) {
    int best = 1 << 30, bestE = 0;
    for (int e = 0; e < 256; ++e) {
      const int db = palette[3 * e + 2] - bgr[3 * i], dg = palette[3 * e + 1] - bgr[3 * i + 1],
                dr = palette[3 * e] - bgr[3 * i + 2];
      const int d = dr * dr + dg * dg + db * db;
      if (d < best) best = d, bestE = e;
    }
    out[i] = static_cast<uint8_t>(bestE);
  }
  return out;
}

}  // namespace

TEST(PalettePlacement, DistanceIsRoundedAndLimited) {
  EXPECT_EQ(kc::placementDistance(0x000000, 0x030400), 500u);
  EXPECT_EQ(kc::placementDistance(0x010101, 0x000000), 173u);  // 173.2
  EXPECT_EQ(kc::placementDistance(0x020000, 0x000101), 245u);  // 244.9
  EXPECT_EQ(kc::placementDistance(0xFFFFFF, 0x000000), 32768u);
  EXPECT_EQ(kc::placementDistance(0x123456, 0x123456), 0u);
}

TEST(PalettePlacement, WithoutWeightsColoursFindTheirOwnSlots) {
  // No picture: every price is 0, so the tie-breaks decide, and a colour
  // already in the palette lands in the slot that holds it.
  uint8_t palette[768] = {};
  const uint32_t inUse[6] = {0x102030, 0xF00000, 0x00F000, 0x0000F0, 0x808080, 0xFFFFFF};
  for (uint32_t i = 0; i < 6; ++i) setEntry(palette, 40 + i, inUse[i]);
  const uint32_t colours[6] = {0xFFFFFF, 0x0000F0, 0x102030, 0x808080, 0x00F000, 0xF00000};
  uint32_t weights[256] = {};
  kc::placeColours(palette, 40, 6, colours, 6, weights);
  for (uint32_t i = 0; i < 6; ++i) EXPECT_EQ(entry(palette, 40 + i), inUse[i]) << i;
  EXPECT_EQ(entry(palette, 39), 0u);
  EXPECT_EQ(entry(palette, 46), 0u);
}

TEST(PalettePlacement, FewerColoursThanSlotsKeepTheRest) {
  uint8_t palette[768] = {};
  for (uint32_t i = 0; i < 8; ++i) setEntry(palette, i, 0x101010u * (i + 1));
  uint32_t weights[256] = {};
  for (uint32_t i = 0; i < 8; ++i) weights[i] = 100 * (i + 1);
  // Near the colours of slots 2 and 6: the heavy slots are the ones changed least.
  const uint32_t colours[2] = {0x717171, 0x313131};
  kc::placeColours(palette, 0, 8, colours, 2, weights);
  EXPECT_EQ(entry(palette, 6), 0x717171u);
  EXPECT_EQ(entry(palette, 2), 0x313131u);
  for (uint32_t i : {0u, 1u, 3u, 4u, 5u, 7u}) EXPECT_EQ(entry(palette, i), 0x101010u * (i + 1));
}

TEST(PalettePlacement, HeavySlotsArePreferredOverLightOnes) {
  // Slot 0 is on most of the screen. Of two new colours the one equal to its
  // colour stays there; the other replaces the unused slot.
  uint8_t palette[768] = {};
  setEntry(palette, 0, 0x204060);
  setEntry(palette, 1, 0x204062);
  uint32_t weights[256] = {};
  weights[0] = 100000;
  const uint32_t colours[2] = {0xE0E0E0, 0x204060};
  kc::placeColours(palette, 0, 2, colours, 2, weights);
  EXPECT_EQ(entry(palette, 0), 0x204060u);
  EXPECT_EQ(entry(palette, 1), 0xE0E0E0u);
}

TEST(PalettePlacement, SameHistogramAgainLeavesThePaletteUnchanged) {
  const uint32_t w = 96, h = 64;
  const auto image = photo(w, h, 4);
  auto histogramOf = [&] {
    std::vector<uint32_t> hist(kc::kHistogramCells, 0);
    EXPECT_TRUE(kc::histogramAddPixels(hist.data(), image.data(), w, h, w * 3, 24, nullptr));
    return hist;
  };
  uint8_t palette[768] = {};
  kc::writeSystemColours(palette);
  const auto r = kc::paletteReserve(0, 0, 256);
  auto hist = histogramOf();
  ASSERT_EQ(kc::reduceColours(palette, hist.data(), 0, 256, r.low, r.high, nullptr, nullptr), 236u);
  uint8_t first[768];
  std::memcpy(first, palette, sizeof first);

  // The picture on screen is the image drawn with that palette.
  const auto shown = mapToPalette(image, palette);
  uint32_t weights[256];
  kc::computeSlotWeights(weights, shown.data(), w, h, w, 0, 0, 0, 0, 0);
  hist = histogramOf();
  ASSERT_EQ(kc::reduceColours(palette, hist.data(), 0, 256, r.low, r.high, weights, nullptr), 236u);
  EXPECT_EQ(std::memcmp(palette, first, sizeof first), 0);

  // And without a picture on screen.
  hist = histogramOf();
  ASSERT_EQ(kc::reduceColours(palette, hist.data(), 0, 256, r.low, r.high, nullptr, nullptr), 236u);
  EXPECT_EQ(std::memcmp(palette, first, sizeof first), 0);
}
