// The conversion's numeric examples and the set-up call, through single
// pixels blitted with each path.
#include <gtest/gtest.h>

#include <cstdlib>

#include "tests/yuv/yuv_model.h"
#include "vorn/yuv_dispatch.h"
#include "vorn/yuv_tables.h"

namespace {

using namespace yuvtest;

// Converts one pixel (a 2x2 plane set, pixel 0,0) and returns B, G, R, A.
uint32_t onePixel(uint8_t y, uint8_t first, uint8_t second, uint32_t flags, uint8_t alpha = 0,
                  bool withAlpha = false) {
  Planes p(16, 16);
  p.luma(0, 0) = y;
  p.first(0, 0) = first;
  p.second(0, 0) = second;
  p.alphaAt(0, 0) = alpha;
  Surface s(1, 1, false);
  BlitArgs a;
  a.w = 1;
  a.h = 1;
  a.flags = flags;
  a.withAlpha = withAlpha;
  libraryBlit(s, p, a);
  return s.pixels[0];
}

uint32_t bgr(int b, int g, int r) { return static_cast<uint32_t>(b | g << 8 | r << 16); }

class YuvExamples : public ::testing::TestWithParam<uint32_t> {
 protected:
  void SetUp() override { YUV_init(YUV_TYPE_32BPP); }
};

TEST_P(YuvExamples, KnownColoursOnBothPaths) {
  const uint32_t f = GetParam();
  EXPECT_EQ(onePixel(16, 128, 128, f), bgr(0, 0, 0));
  EXPECT_EQ(onePixel(235, 128, 128, f), bgr(254, 254, 254));
  EXPECT_EQ(onePixel(128, 128, 128, f), bgr(130, 130, 130));
  // First plane Cr = 240, second plane Cb = 128.
  EXPECT_EQ(onePixel(81, 240, 128, f), bgr(75, 0, 253));
  // Exchanged: the first plane is read as Cb with the red coefficients.
  EXPECT_EQ(onePixel(81, 240, 128, f | YUV_FLAG_EXCHANGE_CHROMA), bgr(253, 0, 75));
  // Back to the usual arrangement after an exchanged blit.
  EXPECT_EQ(onePixel(81, 240, 128, f), bgr(75, 0, 253));
  EXPECT_EQ(onePixel(0, 128, 128, f), bgr(0, 0, 0));
}

TEST_P(YuvExamples, GreyIgnoresChromaAndKeepsAlpha) {
  const uint32_t f = GetParam() | YUV_FLAG_GREY;
  EXPECT_EQ(onePixel(128, 0, 255, f), onePixel(128, 255, 0, f));
  EXPECT_EQ(onePixel(16, 0, 255, f), 0u);
  EXPECT_EQ(onePixel(200, 10, 20, f, 0x7B, true) >> 24, 0x7Bu);
  EXPECT_EQ(onePixel(200, 10, 20, GetParam(), 0x7B, true) >> 24, 0x7Bu);
}

INSTANTIATE_TEST_SUITE_P(Paths, YuvExamples, ::testing::Values(0u, YUV_FLAG_NO_SIMD));

TEST(YuvTables, PortableGreyAndLumaEnds) {
  YUV_init(YUV_TYPE_32BPP);
  EXPECT_EQ(onePixel(235, 0, 0, YUV_FLAG_GREY | YUV_FLAG_NO_SIMD), 0xFFFFFFu);
  EXPECT_EQ(onePixel(89, 0, 0, YUV_FLAG_GREY | YUV_FLAG_NO_SIMD), 85u * 0x010101u);
  for (int y = 235; y < 256; ++y) EXPECT_EQ(kav::yuv::lumaTerm(y), 254) << y;
  for (int y = 0; y <= 16; ++y) EXPECT_EQ(kav::yuv::lumaTerm(y), 0) << y;
  // Negative chroma terms truncate toward zero.
  EXPECT_EQ(kav::yuv::blueFromCb(0), -258);
  EXPECT_EQ(kav::yuv::redFromCr(0), -204);
  EXPECT_EQ(kav::yuv::greenFromCb(255), -49);
}

TEST(YuvTables, MostNegativeBlueSumStaysInsideSaturation) {
  // Yt 0 with CB[0] = -258 reaches below the 256 zeros a 768-entry table
  // would start with; the result must still be 0.
  YUV_init(YUV_TYPE_32BPP);
  EXPECT_EQ(onePixel(16, 128, 0, YUV_FLAG_NO_SIMD) & 0xFF, 0u);
  EXPECT_EQ(onePixel(17, 128, 0, YUV_FLAG_NO_SIMD) & 0xFF, 0u);
}

TEST(YuvInit, MinusOneBuildsTablesButKeepsTheType) {
  YUV_init(YUV_TYPE_32ABPP);
  EXPECT_EQ(kav::yuv::recordedType(), 5);
  YUV_init(-1);
  EXPECT_EQ(kav::yuv::recordedType(), 5);
  YUV_init(YUV_TYPE_32BPP);
  EXPECT_EQ(kav::yuv::recordedType(), 3);
  EXPECT_EQ(onePixel(128, 128, 128, 0), bgr(130, 130, 130));
}

TEST(YuvInit, EnvironmentAndFlagRuleOutTheVectorUnit) {
  ASSERT_EQ(setenv("KAV_NO_SIMD", "1", 1), 0);
  YUV_init(YUV_TYPE_32BPP);
  EXPECT_EQ(kav::yuv::simdLevel(), kav::yuv::SimdLevel::kNone);
  Planes p(16, 16);
  Surface s(1, 1, false);
  EXPECT_EQ(YUV_blit_32bpp(s.origin(), 0, 0, 4, p.data.data(), 0, 0, 1, 1, 16, 16, 0), 0);
  // Luma 250 is where the formulas part: the portable one clips at 235.
  EXPECT_EQ(onePixel(250, 128, 128, 0), bgr(254, 254, 254));
  ASSERT_EQ(unsetenv("KAV_NO_SIMD"), 0);
  YUV_init(YUV_TYPE_32BPP);
  if (kav::yuv::simdLevel() == kav::yuv::SimdLevel::kNone) GTEST_SKIP() << "no vector unit";
  EXPECT_EQ(YUV_blit_32bpp(s.origin(), 0, 0, 4, p.data.data(), 0, 0, 1, 1, 16, 16, 0), 1);
  EXPECT_EQ(onePixel(250, 128, 128, 0), bgr(255, 255, 255));
  EXPECT_EQ(onePixel(250, 128, 128, YUV_FLAG_NO_SIMD), bgr(254, 254, 254));
}

TEST(YuvBlit, NothingWrittenForEmptyOrMissingInput) {
  YUV_init(YUV_TYPE_32BPP);
  Planes p(16, 16);
  Surface s(4, 4, false);
  const auto before = s.pixels;
  YUV_blit_32bpp(s.origin(), 0, 0, 16, p.data.data(), 0, 0, 0, 4, 16, 16, 0);
  YUV_blit_32bpp(s.origin(), 0, 0, 16, p.data.data(), 0, 0, 4, 0, 16, 16, 0);
  YUV_blit_32abpp(s.origin(), 0, 0, 16, p.data.data(), 0, 0, 4, 4, 16, 16, nullptr, 0);
  // A field of one row has no rows left once halved.
  YUV_blit_32bpp(s.origin(), 0, 0, 16, p.data.data(), 0, 0, 4, 1, 16, 16, YUV_MODE_FIELD);
  EXPECT_EQ(s.pixels, before);
}

}  // namespace
