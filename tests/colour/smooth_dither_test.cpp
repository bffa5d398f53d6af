#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "colour/smooth_dither.h"
#include "colour/smooth_dither_vector.h"

namespace kc = kav::colour;

namespace {

constexpr uint8_t kTable[64] = {0, 11, 3,  14, 1,  12, 3, 15, 8,  4, 11, 7, 8,  5, 11, 7, 2,  13, 1, 12, 2,  14,
                                2, 13, 9,  6,  8,  5,  10, 6, 9,  5, 0,  12, 3, 15, 0,  12, 3, 14, 8,  4,  11, 7,
                                8, 4,  11, 7,  2,  14, 1,  13, 2, 14, 1,  13, 10, 6, 9,  5,  10, 6,  9, 5};

// A plain per-component model of the filter on 24-bit input.
std::vector<uint8_t> model(const std::vector<uint8_t> &in, uint32_t w, uint32_t h) {
  std::vector<uint8_t> out = in;
  if (w < 3 || h < 3) return out;
  int index = 56;
  for (uint32_t y = 1; y + 1 < h; ++y) {
    index = (index & 7) ? index - 1 : index + 7;
    for (uint32_t x = 1; x + 1 < w; ++x) {
      index -= 8;
      if (index < 0) index += 64;
      int hi[3] = {0, 0, 0}, lo[3] = {255, 255, 255};
      for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx)
          for (int c = 0; c < 3; ++c) {
            const int v = in[((y + dy) * w + x + dx) * 3 + c];
            hi[c] = std::max(hi[c], v);
            lo[c] = std::min(lo[c], v);
          }
      const int sum = hi[0] - lo[0] + hi[1] - lo[1] + hi[2] - lo[2];
      if ((hi[0] < 32 && hi[1] < 32 && hi[2] < 32) || sum <= 4 || sum >= 16) continue;
      for (int c = 0; c < 3; ++c) {
        const int v = in[(y * w + x) * 3 + c];
        out[(y * w + x) * 3 + c] = static_cast<uint8_t>(std::min(255, 16 * (v / 16) + (kTable[index] < v % 16 ? 16 : 0)));
      }
    }
  }
  return out;
}

// A picture whose rows are 24-bit (b, g, r) given by f(x, y, component).
template <class F>
std::vector<uint8_t> picture(uint32_t w, uint32_t h, F f) {
  std::vector<uint8_t> p(w * h * 3);
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x)
      for (int c = 0; c < 3; ++c) p[(y * w + x) * 3 + c] = static_cast<uint8_t>(f(x, y, c));
  return p;
}

std::vector<uint8_t> run24(const std::vector<uint8_t> &in, uint32_t w, uint32_t h) {
  std::vector<uint8_t> out(in.size() + 1, 0xEE);
  kc::smoothDither24(out.data(), in.data(), w, h, w * 3);
  EXPECT_EQ(out.back(), 0xEE);  // nothing beyond width x height x 3
  out.pop_back();
  return out;
}

}  // namespace

TEST(SmoothDither, PassesFlatRampsDetailAndDarkAreasUnchanged) {
  const uint32_t w = 40, h = 6;
  auto uniform = picture(w, h, [](uint32_t, uint32_t, int) { return 137; });
  EXPECT_EQ(run24(uniform, w, h), uniform);
  // One level per pixel in one component: range sum 2.
  auto gentle = picture(w, h, [](uint32_t x, uint32_t, int c) { return c == 1 ? 100 + x : 90; });
  EXPECT_EQ(run24(gentle, w, h), gentle);
  // Two levels per pixel in one component: range sum 4.
  auto four = picture(w, h, [](uint32_t x, uint32_t, int c) { return c == 2 ? 60 + 2 * x : 90; });
  EXPECT_EQ(run24(four, w, h), four);
  // Three levels per pixel in every component: range sum 18, detail.
  auto steep = picture(w, h, [](uint32_t x, uint32_t, int) { return 40 + 3 * x; });
  EXPECT_EQ(run24(steep, w, h), steep);
  // A range sum of 6 but every component below 32.
  auto dark30 = picture(30, h, [](uint32_t x, uint32_t, int) { return x; });
  EXPECT_EQ(run24(dark30, 30, h), dark30);
}

TEST(SmoothDither, DithersModerateRampsWithTheRowPhase) {
  // One level per pixel in all three components: range sum 6.
  const uint32_t w = 12, h = 4;
  auto ramp = picture(w, h, [](uint32_t x, uint32_t, int) { return 100 + x; });
  auto out = run24(ramp, w, h);
  EXPECT_EQ(out, model(ramp, w, h));
  EXPECT_NE(out, ramp);
  // Row 1 starts at index 63: pixel 1 reads entry 55 (13), pixel 2 entry 47 (7).
  // Pixel 1 is 101 (101 % 16 = 5, and 13 < 5 fails: 96); pixel 2 is 102 (7 < 6 fails: 96).
  EXPECT_EQ(out[(1 * w + 1) * 3], 96);
  EXPECT_EQ(out[(1 * w + 2) * 3], 96);
  // Row 2 continues from where row 1 left: after 10 interior pixels the
  // column phase has moved by 10 mod 8 = 2 groups, and the row step is -1.
  const int index = (63 - 8 * 10 % 64 + 64) % 64;  // index after row 1
  const int start = (index & 7) ? index - 1 : index + 7;
  const int first = (start - 8 + 64) % 64;
  const int v = 101;
  EXPECT_EQ(out[(2 * w + 1) * 3], 16 * (v / 16) + (kTable[first] < v % 16 ? 16 : 0));
}

TEST(SmoothDither, BordersAreNeverDithered) {
  std::mt19937 rng(5);
  const uint32_t w = 23, h = 17;
  // Gentle noise: most windows land in the dithered band.
  auto noisy = picture(w, h, [&](uint32_t, uint32_t, int) { return 120 + rng() % 3; });
  auto out = run24(noisy, w, h);
  EXPECT_EQ(out, model(noisy, w, h));
  EXPECT_NE(out, noisy);
  for (uint32_t x = 0; x < w; ++x)
    for (int c = 0; c < 3; ++c) {
      EXPECT_EQ(out[x * 3 + c], noisy[x * 3 + c]);
      EXPECT_EQ(out[((h - 1) * w + x) * 3 + c], noisy[((h - 1) * w + x) * 3 + c]);
    }
  for (uint32_t y = 0; y < h; ++y)
    for (int c = 0; c < 3; ++c) {
      EXPECT_EQ(out[(y * w) * 3 + c], noisy[(y * w) * 3 + c]);
      EXPECT_EQ(out[(y * w + w - 1) * 3 + c], noisy[(y * w + w - 1) * 3 + c]);
    }
}

TEST(SmoothDither, SmallPicturesAreCopied) {
  std::mt19937 rng(9);
  for (uint32_t w : {1u, 2u, 3u})
    for (uint32_t h : {1u, 2u, 3u, 5u}) {
      auto p = picture(w, h, [&](uint32_t, uint32_t, int) { return 120 + rng() % 3; });
      auto out = run24(p, w, h);
      if (w < 3 || h < 3) {
        EXPECT_EQ(out, p) << w << "x" << h;
      }
      EXPECT_EQ(out, model(p, w, h)) << w << "x" << h;
    }
  uint8_t untouched = 0x5A;
  const uint8_t in[3] = {1, 2, 3};
  kc::smoothDither24(&untouched, in, 1, 0, 3);
  EXPECT_EQ(untouched, 0x5A);
}

TEST(SmoothDither, AllInputLayoutsMatchTheModel) {
  std::mt19937 rng(11);
  const uint32_t w = 19, h = 13;
  // 5-bit components, so that every layout can hold the same picture.
  std::vector<uint8_t> rgb5(w * h * 3);
  for (uint32_t i = 0; i < w * h; ++i) {
    const uint32_t base = 12 + (i % w) / 4;
    for (int c = 0; c < 3; ++c) rgb5[3 * i + c] = static_cast<uint8_t>(base + rng() % 2);
  }
  std::vector<uint8_t> as24(w * h * 3), pad32(w * h * 4 + 8), as16(w * h * 2 + 2), as8(w * h);
  std::vector<uint8_t> palette(768);
  for (uint32_t i = 0; i < w * h; ++i) {
    const uint8_t b = rgb5[3 * i], g = rgb5[3 * i + 1], r = rgb5[3 * i + 2];
    as24[3 * i] = b << 3, as24[3 * i + 1] = g << 3, as24[3 * i + 2] = r << 3;
    pad32[4 * i] = b << 3, pad32[4 * i + 1] = g << 3, pad32[4 * i + 2] = r << 3, pad32[4 * i + 3] = 0x77;
    const uint16_t v = static_cast<uint16_t>(b | g << 5 | r << 10 | 0x8000);
    std::memcpy(&as16[2 * i], &v, 2);
    // The palette entry i % 256 holds this pixel (at most 247 pixels).
    as8[i] = static_cast<uint8_t>(i);
    palette[3 * i] = r << 3, palette[3 * i + 1] = g << 3, palette[3 * i + 2] = b << 3;
  }
  const auto expect = model(as24, w, h);
  std::vector<uint8_t> out(w * h * 3);
  kc::smoothDither24(out.data(), as24.data(), w, h, w * 3);
  EXPECT_EQ(out, expect);
  kc::smoothDither32(out.data(), pad32.data(), w, h, w * 4);
  EXPECT_EQ(out, expect);
  kc::smoothDither16(out.data(), as16.data(), w, h, w * 2);
  EXPECT_EQ(out, expect);
  kc::smoothDither8(out.data(), as8.data(), w, h, w, palette.data());
  EXPECT_EQ(out, expect);
  // Bottom-up rows through a negative pitch.
  std::vector<uint8_t> flipped(w * h * 3);
  for (uint32_t y = 0; y < h; ++y) std::memcpy(&flipped[(h - 1 - y) * w * 3], &as24[y * w * 3], w * 3);
  kc::smoothDither24(out.data(), flipped.data() + (h - 1) * w * 3, w, h, -static_cast<ptrdiff_t>(w * 3));
  EXPECT_EQ(out, expect);
}

namespace {

using kc::DitherUnit;

class SmoothDitherVector : public ::testing::TestWithParam<DitherUnit> {
 protected:
  void SetUp() override {
    kc::limitDitherUnit(GetParam());
    if (kc::ditherUnit() != GetParam()) GTEST_SKIP() << "unit not available";
  }
  void TearDown() override { kc::limitDitherUnit(DitherUnit::kAvx2); }
};

// Gentle noise on plateaus that change every few pixels, with dark patches
// and sharp steps, so that every branch of the filter is taken often.
uint8_t sample(std::mt19937 &rng, uint32_t x, uint32_t y) {
  const uint32_t patch = (x / 5 + y / 3) % 7;
  if (patch == 0) return static_cast<uint8_t>(rng() % 36);
  if (patch == 1) return static_cast<uint8_t>(rng());
  return static_cast<uint8_t>(40 + 30 * patch + rng() % (patch == 2 ? 6 : 3));
}

}  // namespace

TEST_P(SmoothDitherVector, WritesThePortableBytesForEveryLayoutAndShape) {
  std::mt19937 rng(29);
  const uint32_t widths[] = {1, 2, 3, 4, 5, 6, 9, 10, 11, 12, 13, 17, 18, 19, 31, 33, 70};
  const uint32_t heights[] = {1, 2, 3, 4, 9};
  for (uint32_t bits : {8u, 16u, 24u, 32u}) {
    const uint32_t bpp = bits / 8;
    std::vector<uint8_t> palette(768);
    for (auto &v : palette) v = static_cast<uint8_t>(120 + rng() % 4);
    for (int i = 0; i < 96; ++i) palette[rng() % 768] = static_cast<uint8_t>(rng());
    for (uint32_t w : widths) {
      for (uint32_t h : heights) {
        for (bool bottomUp : {false, true}) {
          // Rows padded by a few bytes, which the filter must not read as pixels.
          const size_t rowBytes = w * bpp + 5;
          std::vector<uint8_t> in(rowBytes * h);
          for (uint32_t y = 0; y < h; ++y)
            for (uint32_t x = 0; x < w; ++x) {
              uint8_t *p = &in[y * rowBytes + x * bpp];
              if (bits == 8) {
                p[0] = static_cast<uint8_t>(rng() % 4 ? rng() % 8 : rng());
              } else if (bits == 16) {
                const uint32_t v = (sample(rng, x, y) >> 3) | (sample(rng, x, y) >> 3) << 5 |
                                   (sample(rng, x, y) >> 3) << 10 | (rng() & 1) << 15;
                p[0] = static_cast<uint8_t>(v), p[1] = static_cast<uint8_t>(v >> 8);
              } else {
                for (uint32_t c = 0; c < 3; ++c) p[c] = sample(rng, x, y);
                if (bits == 32) p[3] = static_cast<uint8_t>(rng());
              }
            }
          const uint8_t *first = bottomUp ? in.data() + (h - 1) * rowBytes : in.data();
          const ptrdiff_t pitch = bottomUp ? -static_cast<ptrdiff_t>(rowBytes) : static_cast<ptrdiff_t>(rowBytes);
          auto run = [&](DitherUnit unit) {
            kc::limitDitherUnit(unit);
            std::vector<uint8_t> out(w * h * 3 + 1, 0xEE);
            switch (bits) {
              case 8: kc::smoothDither8(out.data(), first, w, h, pitch, palette.data()); break;
              case 16: kc::smoothDither16(out.data(), first, w, h, pitch); break;
              case 24: kc::smoothDither24(out.data(), first, w, h, pitch); break;
              default: kc::smoothDither32(out.data(), first, w, h, pitch); break;
            }
            return out;
          };
          const auto want = run(DitherUnit::kPortable);
          const auto got = run(GetParam());
          ASSERT_EQ(got.back(), 0xEE) << "wrote past the picture";
          ASSERT_EQ(got, want) << bits << " bits, " << w << " x " << h << (bottomUp ? " bottom-up" : "");
        }
      }
    }
  }
}

TEST_P(SmoothDitherVector, DithersAWidePictureAsTheModelDoes) {
  // A picture wide enough for many blocks a row, whose rows carry the dither
  // phase over from one to the next across several block counts.
  std::mt19937 rng(30);
  for (uint32_t w : {64u, 641u}) {
    const uint32_t h = 12;
    auto p = picture(w, h, [&](uint32_t x, uint32_t y, int) { return sample(rng, x, y); });
    EXPECT_EQ(run24(p, w, h), model(p, w, h)) << w;
  }
}

INSTANTIATE_TEST_SUITE_P(Units, SmoothDitherVector, ::testing::Values(DitherUnit::kSse41, DitherUnit::kAvx2));
