// The vector path against the portable path over every sample value, and
// the strategies (leading pixels, height doubling, vector width) that must
// all write the same pixels.
#include <gtest/gtest.h>

#include <random>
#include <set>

#include "tests/yuv/yuv_model.h"
#include "vorn/yuv_dispatch.h"

namespace {

using namespace yuvtest;
using kav::yuv::SimdLevel;

// 512 x 512: chroma sample (r, c) holds first = r and second = c, so all
// 65536 chroma pairs occur; luma (c + 131 r) & 255 meets every chroma value
// of either plane with every luma value.
Planes everyValue() {
  Planes p(512, 512);
  for (int r = 0; r < 512; ++r) {
    for (int c = 0; c < 512; ++c) p.luma(r, c) = static_cast<uint8_t>((c + 131 * r) & 255);
  }
  for (int r = 0; r < 256; ++r) {
    for (int c = 0; c < 256; ++c) {
      p.first(r, c) = static_cast<uint8_t>(r);
      p.second(r, c) = static_cast<uint8_t>(c);
    }
  }
  for (size_t i = 0; i < p.alpha.size(); ++i) p.alpha[i] = static_cast<uint8_t>(i * 7);
  return p;
}

class YuvVectorPath : public ::testing::TestWithParam<SimdLevel> {
 protected:
  void SetUp() override {
    YUV_init(YUV_TYPE_32BPP);
    kav::yuv::limitSimdLevel(GetParam());
    if (kav::yuv::simdLevel() != GetParam()) GTEST_SKIP() << "level not available";
  }
  void TearDown() override {
    kav::yuv::setStrategy(kav::yuv::Strategy{});
    YUV_init(YUV_TYPE_32BPP);
  }
};

// Start on an odd column and row so both chroma phases and the single first
// row are exercised; the rest still covers every value.
BlitArgs everyValueArgs(uint32_t flags) {
  BlitArgs a;
  a.srcX = 1;
  a.srcY = 1;
  a.w = 511;
  a.h = 511;
  a.flags = flags;
  a.withAlpha = true;
  return a;
}

TEST_P(YuvVectorPath, DiffersFromPortableOnlyWhereTheFormulasDo) {
  Planes p = everyValue();
  const std::set<int> greyDiffers = {89, 162, 235};
  // Source column 1 and destination column 0: the bulk runs start on odd
  // columns, in the second half of a chroma sample.
  kav::yuv::setStrategy({kav::yuv::Leading::kAlignDestination, kav::yuv::HeightDoubling::kCopyLineBuffer});
  for (uint32_t flags : {0u, YUV_FLAG_EXCHANGE_CHROMA, YUV_FLAG_GREY}) {
    const bool grey = flags == YUV_FLAG_GREY;
    BlitArgs a = everyValueArgs(flags);
    Surface vec(511, 511, false);
    libraryBlit(vec, p, a);
    a.flags |= YUV_FLAG_NO_SIMD;
    Surface portable(511, 511, false);
    libraryBlit(portable, p, a);
    int differing = 0;
    for (int r = 0; r < 511; ++r) {
      for (int c = 0; c < 511; ++c) {
        if (portable.at(r, c) == vec.at(r, c)) continue;
        const int y = p.luma(r + 1, c + 1);
        if (grey) {
          ASSERT_TRUE(greyDiffers.count(y)) << "luma " << y;
          ASSERT_EQ(vec.at(r, c) & 0xFF, (portable.at(r, c) & 0xFF) - 1) << "luma " << y;
        } else {
          ASSERT_GT(y, 235) << "row " << r << " column " << c;
        }
        ++differing;
      }
    }
    EXPECT_GT(differing, 0) << "the formulas part somewhere";
  }
}

TEST_P(YuvVectorPath, EveryModeFollowsItsFormulaForEveryValue) {
  // Where the paths differ, the vector path must give the vector formula's
  // value, and elsewhere the common one: both are checked against the model.
  Planes p = everyValue();
  for (uint32_t mode = 0; mode < 7; ++mode) {
    // Odd and even chroma phases in the bulk runs, alternately.
    kav::yuv::setStrategy({mode & 1 ? kav::yuv::Leading::kAlignSource : kav::yuv::Leading::kAlignDestination,
                           mode & 2 ? kav::yuv::HeightDoubling::kConvertTwice
                                    : kav::yuv::HeightDoubling::kCopyLineBuffer});
    for (uint32_t flags : {0u, YUV_FLAG_EXCHANGE_CHROMA, YUV_FLAG_GREY}) {
      BlitArgs a = everyValueArgs((mode << 28) | flags);
      a.withAlpha = flags == 0;
      const bool wide = mode == 3 || mode == 4 || mode == 5;
      const int32_t height = mode == 0 || mode == 3 ? 511 : 1022;
      Surface vec(wide ? 1022 : 511, height, mode == 1);
      Surface want(vec.width, vec.height, mode == 1);
      libraryBlit(vec, p, a);
      modelBlit(want, p, a, Formula::kVector);
      ASSERT_EQ(vec.pixels, want.pixels) << "mode " << mode << " flags " << std::hex << flags;
      a.flags |= YUV_FLAG_NO_SIMD;
      Surface portable(vec.width, vec.height, mode == 1);
      Surface wantPortable(vec.width, vec.height, mode == 1);
      libraryBlit(portable, p, a);
      modelBlit(wantPortable, p, a, Formula::kPortable);
      ASSERT_EQ(portable.pixels, wantPortable.pixels) << "mode " << mode << " flags " << std::hex << flags;
    }
  }
}

TEST_P(YuvVectorPath, EveryStrategyWritesTheSamePixels) {
  std::mt19937 rng(77);
  Planes p(160, 32);
  p.randomise(rng);
  using kav::yuv::HeightDoubling;
  using kav::yuv::Leading;
  const kav::yuv::Strategy strategies[] = {{Leading::kAlignDestination, HeightDoubling::kCopyLineBuffer},
                                           {Leading::kAlignSource, HeightDoubling::kCopyLineBuffer},
                                           {Leading::kAlignDestination, HeightDoubling::kConvertTwice},
                                           {Leading::kAlignSource, HeightDoubling::kConvertTwice}};
  const kav::yuv::Strategy saved = kav::yuv::strategy();
  for (uint32_t mode = 0; mode < 7; ++mode) {
    for (int trial = 0; trial < 6; ++trial) {
      BlitArgs a;
      a.srcX = static_cast<int>(rng() % 9);
      a.srcY = static_cast<int>(rng() % 5);
      a.w = 20 + static_cast<int>(rng() % 130);
      a.h = 3 + static_cast<int>(rng() % 20);
      a.dstX = 1 + static_cast<int>(rng() % 7);  // never aligned with the source by chance alone
      a.flags = (mode << 28) | (trial & 1 ? YUV_FLAG_GREY : 0) | (trial & 2 ? YUV_FLAG_EXCHANGE_CHROMA : 0);
      a.withAlpha = trial >= 3;
      Surface first(a.dstX + 2 * a.w, 2 * a.h + 2, false);
      kav::yuv::setStrategy(strategies[0]);
      libraryBlit(first, p, a);
      for (const auto &s : strategies) {
        kav::yuv::setStrategy(s);
        Surface other(first.width, first.height, false);
        libraryBlit(other, p, a);
        ASSERT_EQ(other.pixels, first.pixels) << "mode " << mode << " trial " << trial;
      }
      // A narrower vector unit writes the same pixels as well.
      if (GetParam() == SimdLevel::kAvx2) {
        kav::yuv::limitSimdLevel(SimdLevel::kSse2);
        Surface narrow(first.width, first.height, false);
        libraryBlit(narrow, p, a);
        kav::yuv::limitSimdLevel(SimdLevel::kAvx2);
        ASSERT_EQ(narrow.pixels, first.pixels) << "mode " << mode << " trial " << trial;
      }
    }
  }
  kav::yuv::setStrategy(saved);
}

INSTANTIATE_TEST_SUITE_P(Levels, YuvVectorPath, ::testing::Values(SimdLevel::kSse2, SimdLevel::kAvx2));

TEST(YuvPortablePath, EveryStrategyWritesTheSamePixels) {
  YUV_init(YUV_TYPE_32BPP);
  std::mt19937 rng(78);
  Planes p(96, 32);
  p.randomise(rng);
  const kav::yuv::Strategy saved = kav::yuv::strategy();
  for (uint32_t mode = 0; mode < 7; ++mode) {
    BlitArgs a;
    a.srcX = 3;
    a.srcY = 2;
    a.w = 61;
    a.h = 13;
    a.dstX = 2;
    a.flags = (mode << 28) | YUV_FLAG_NO_SIMD;
    Surface first(a.dstX + 2 * a.w, 2 * a.h + 2, false);
    kav::yuv::setStrategy({kav::yuv::Leading::kAlignDestination, kav::yuv::HeightDoubling::kCopyLineBuffer});
    libraryBlit(first, p, a);
    Surface other(first.width, first.height, false);
    kav::yuv::setStrategy({kav::yuv::Leading::kAlignSource, kav::yuv::HeightDoubling::kConvertTwice});
    libraryBlit(other, p, a);
    EXPECT_EQ(other.pixels, first.pixels) << "mode " << mode;
  }
  kav::yuv::setStrategy(saved);
}

}  // namespace
