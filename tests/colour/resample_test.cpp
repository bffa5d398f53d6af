#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "colour/resample.h"
#include "colour/resample_kernels.h"

namespace kc = kav::colour;

namespace {

struct ResamplerPtr {
  kc::Resampler *r;
  explicit ResamplerPtr(kc::Resampler *p) : r(p) {}
  ~ResamplerPtr() { kc::resamplerFree(r); }
  kc::Resampler *operator->() const { return r; }
};

std::vector<uint32_t> randomPicture(uint32_t w, uint32_t h, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint32_t> p(static_cast<size_t>(w) * h);
  for (auto &v : p) v = rng();
  return p;
}

const uint8_t *bytes(const std::vector<uint32_t> &p) { return reinterpret_cast<const uint8_t *>(p.data()); }

uint32_t fetch24(const uint8_t *row, uint32_t column) {
  const uint8_t *p = row + 3 * column;
  return p[0] | p[1] << 8 | p[2] << 16;
}

}  // namespace

TEST(ResampleKernels, StoredCoefficientsMatchTheMitchellCubic) {
  for (double x : {0.0, 0.3, 0.99, 1.0, 1.5, 1.99}) {
    const double b = std::fabs(x);
    const double exact = b < 1 ? 7.0 / 6 * b * b * b - 2 * b * b + 8.0 / 9
                               : -7.0 / 18 * b * b * b + 2 * b * b - 10.0 / 3 * b + 16.0 / 9;
    EXPECT_NEAR(kc::cubicKernel(x), exact, 1e-12) << x;
    EXPECT_DOUBLE_EQ(kc::cubicKernel(-x), kc::cubicKernel(x));
  }
  EXPECT_EQ(kc::cubicKernel(2.0), 0.0);
  EXPECT_EQ(kc::triangleKernel(0.25), 0.75);
  EXPECT_EQ(kc::triangleKernel(1.0), 0.0);
  // The box is half-open: +0.5 belongs to it, -0.5 does not.
  EXPECT_EQ(kc::boxKernel(0.5), 1.0);
  EXPECT_EQ(kc::boxKernel(-0.5), 0.0);
  EXPECT_EQ(kc::resampleKernel(0).support, 2.0);
  EXPECT_EQ(kc::resampleKernel(1).support, 1.0);
  EXPECT_EQ(kc::resampleKernel(2).support, 0.5);
}

TEST(ResampleTables, ReflectionMirrorsWithoutRepeatingTheLeftEdge) {
  EXPECT_EQ(kc::resampleReflect(-1, 4), 1);
  EXPECT_EQ(kc::resampleReflect(-3, 4), 3);
  EXPECT_EQ(kc::resampleReflect(-4, 4), 3);  // beyond the mirror: last pixel
  EXPECT_EQ(kc::resampleReflect(4, 4), 3);   // right edge repeated
  EXPECT_EQ(kc::resampleReflect(5, 4), 2);
  EXPECT_EQ(kc::resampleReflect(9, 4), 0);   // would be negative
  EXPECT_EQ(kc::resampleReflect(2, 4), 2);
  EXPECT_EQ(kc::resampleReflect(-1, 1), 0);
}

TEST(ResampleTables, ChannelRounding) {
  EXPECT_EQ(kc::resampleRoundChannel(255.4), 255u);
  EXPECT_EQ(kc::resampleRoundChannel(255.6), 255u);
  EXPECT_EQ(kc::resampleRoundChannel(-3.0), 0u);
  EXPECT_EQ(kc::resampleRoundChannel(0.0), 0u);
  EXPECT_EQ(kc::resampleRoundChannel(2.2), 2u);
  EXPECT_EQ(kc::resampleRoundChannel(2.5), 3u);
}

TEST(ResampleTables, EqualSizeBoxHasOneUnitWeightAndCopies) {
  ResamplerPtr r(kc::resamplerCreate(2, 7, 5, 7, 5));
  ASSERT_NE(r.r, nullptr);
  for (uint32_t i = 0; i < 7; ++i) {
    ASSERT_EQ(r->horizontal.counts[i], 1u);
    const auto &c = r->horizontal.contributions[i * r->horizontal.capacity];
    EXPECT_EQ(c.weight, 1.0);
    EXPECT_EQ(c.source, static_cast<int32_t>(i));
  }
  auto src = randomPicture(7, 5, 1);
  std::vector<uint32_t> dst(35);
  kc::resamplerApply(r.r, dst.data(), bytes(src), 7 * 4, kc::resampleFetch32);
  EXPECT_EQ(dst, src);
  // The fourth channel is filtered like the others and kept.
  std::vector<uint32_t> alpha(35, 0xFF000000u);
  kc::resamplerApply(r.r, dst.data(), bytes(alpha), 7 * 4, kc::resampleFetch32);
  EXPECT_EQ(dst, alpha);
}

TEST(ResampleTables, DoublingWithTheTriangle) {
  ResamplerPtr r(kc::resamplerCreate(1, 8, 1, 4, 1));
  ASSERT_NE(r.r, nullptr);
  const auto &t = r->horizontal;
  EXPECT_EQ(t.capacity, 3u);
  ASSERT_EQ(t.counts[1], 2u);
  EXPECT_EQ(t.contributions[3].source, 0);
  EXPECT_EQ(t.contributions[3].weight, 0.5);
  EXPECT_EQ(t.contributions[4].source, 1);
  EXPECT_EQ(t.contributions[4].weight, 0.5);
  ASSERT_EQ(t.counts[0], 3u);
  const int32_t sources[3] = {1, 0, 1};
  const double weights[3] = {0, 1, 0};
  for (int k = 0; k < 3; ++k) {
    EXPECT_EQ(t.contributions[k].source, sources[k]);
    EXPECT_EQ(t.contributions[k].weight, weights[k]);
  }
}

TEST(ResampleTables, HalvingWithTheCubic) {
  ResamplerPtr r(kc::resamplerCreate(0, 5, 3, 10, 6));
  ASSERT_NE(r.r, nullptr);
  const auto &t = r->horizontal;
  EXPECT_EQ(t.capacity, 9u);
  EXPECT_EQ(r->vertical.capacity, 9u);
  for (uint32_t i = 0; i < 5; ++i) {
    const double centre = i / 0.5;
    ASSERT_EQ(t.counts[i], 9u);  // centre is an integer: ceil(c - 4) .. floor(c + 4)
    for (uint32_t k = 0; k < 9; ++k) {
      const int64_t j = static_cast<int64_t>(centre) - 4 + k;
      const auto &c = t.contributions[i * 9 + k];
      EXPECT_EQ(c.weight, kc::cubicKernel((centre - j) * 0.5) * 0.5);
      EXPECT_EQ(c.source, kc::resampleReflect(j, 10));
    }
  }
}

TEST(ResampleTables, RefusesZeroSizes) {
  EXPECT_EQ(kc::resamplerCreate(0, 0, 4, 4, 4), nullptr);
  EXPECT_EQ(kc::resamplerCreate(0, 4, 4, 4, 0), nullptr);
  kc::resamplerFree(nullptr);
}

// The column-by-column apply must equal the plain double sum over the
// vertical then the horizontal contributions of every pixel.
TEST(ResampleApply, MatchesTheTwoDimensionalSumForEveryKernelAndSize) {
  struct Case {
    uint32_t sel, dw, dh, sw, sh;
  } cases[] = {{0, 13, 7, 29, 11}, {0, 31, 17, 9, 6}, {1, 5, 9, 12, 4}, {2, 10, 3, 7, 8}, {1, 1, 1, 3, 3},
               {0, 4, 2, 1, 1}};
  for (const auto &c : cases) {
    ResamplerPtr r(kc::resamplerCreate(c.sel, c.dw, c.dh, c.sw, c.sh));
    ASSERT_NE(r.r, nullptr);
    auto src = randomPicture(c.sw, c.sh, c.dw * 31 + c.sel);
    std::vector<uint32_t> dst(c.dw * c.dh);
    kc::resamplerApply(r.r, dst.data(), bytes(src), c.sw * 4, kc::resampleFetch32);
    for (uint32_t y = 0; y < c.dh; ++y)
      for (uint32_t x = 0; x < c.dw; ++x) {
        uint32_t expect = 0;
        for (int ch = 0; ch < 4; ++ch) {
          double v = 0;
          for (uint32_t kv = 0; kv < r->vertical.counts[y]; ++kv) {
            const auto &vc = r->vertical.contributions[y * r->vertical.capacity + kv];
            double h = 0;
            for (uint32_t kh = 0; kh < r->horizontal.counts[x]; ++kh) {
              const auto &hc = r->horizontal.contributions[x * r->horizontal.capacity + kh];
              h += hc.weight * ((src[vc.source * c.sw + hc.source] >> (8 * ch)) & 0xFF);
            }
            v += vc.weight * h;
          }
          expect |= kc::resampleRoundChannel(v) << (8 * ch);
        }
        ASSERT_EQ(dst[y * c.dw + x], expect) << c.sel << " " << x << "," << y;
      }
  }
}

TEST(ResampleApply, BottomUpPitchAndCallerFetch) {
  const uint32_t sw = 11, sh = 9, dw = 6, dh = 14;
  ResamplerPtr r(kc::resamplerCreate(0, dw, dh, sw, sh));
  ASSERT_NE(r.r, nullptr);
  auto src = randomPicture(sw, sh, 7);
  for (auto &v : src) v &= 0x00FFFFFF;
  std::vector<uint32_t> expect(dw * dh), got(dw * dh);
  kc::resamplerApply(r.r, expect.data(), bytes(src), sw * 4, kc::resampleFetch32);

  // The same rows stored bottom-up and read with a negative pitch.
  std::vector<uint32_t> flipped(sw * sh);
  for (uint32_t y = 0; y < sh; ++y) std::memcpy(&flipped[(sh - 1 - y) * sw], &src[y * sw], sw * 4);
  kc::resamplerApply(r.r, got.data(), bytes(flipped) + (sh - 1) * sw * 4, -static_cast<ptrdiff_t>(sw * 4),
                     kc::resampleFetch32);
  EXPECT_EQ(got, expect);

  // The same pixels as 24-bit rows through a caller's fetch.
  std::vector<uint8_t> packed(sw * sh * 3 + 1);
  for (uint32_t i = 0; i < sw * sh; ++i) std::memcpy(&packed[3 * i], &src[i], 3);
  kc::resamplerApply(r.r, got.data(), packed.data(), sw * 3, fetch24);
  EXPECT_EQ(got, expect);
}
