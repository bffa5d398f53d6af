// Every mode of the blit against the per-pixel model, on each converter set:
// rectangles at every parity of start and size, top-down and bottom-up
// surfaces, and rows and pixels outside the written area left untouched.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <tuple>

#include "tests/yuv/yuv_model.h"
#include "vorn/yuv_dispatch.h"

namespace {

using namespace yuvtest;
using kav::yuv::SimdLevel;

constexpr uint32_t kModes[] = {0, YUV_MODE_DOUBLE_HEIGHT, YUV_MODE_INTERLACED, YUV_MODE_DOUBLE_WIDTH,
                               YUV_MODE_DOUBLE_BOTH, YUV_MODE_DOUBLE_WIDTH_INTERLACED, YUV_MODE_FIELD,
                               0x70000000u};

// Destination rows and columns the mode needs for h source rows of width w.
void destinationSize(uint32_t mode, const BlitArgs &a, int32_t *w, int32_t *h) {
  const uint32_t m = mode >> 28;
  const bool wide = m == 3 || m == 4 || m == 5;
  *w = a.dstX + (wide ? 2 : 1) * a.w;
  *h = m == 6 ? 2 * a.dstY + 2 * (a.h / 2) : a.dstY + ((m == 0 || m == 3 || m == 7) ? a.h : 2 * a.h);
}

// Picks the converter set: kNone means the portable path by flag.
uint32_t selectPath(SimdLevel level) {
  YUV_init(YUV_TYPE_32BPP);
  if (level == SimdLevel::kNone) return YUV_FLAG_NO_SIMD;
  kav::yuv::limitSimdLevel(level);
  return 0;
}

class YuvModes : public ::testing::TestWithParam<std::tuple<SimdLevel, uint32_t>> {
 protected:
  void TearDown() override {
    kav::yuv::setStrategy(kav::yuv::Strategy{});
    YUV_init(YUV_TYPE_32BPP);
  }
};

TEST_P(YuvModes, MatchesPerPixelModelAtEveryParity) {
  const auto [level, mode] = GetParam();
  const uint32_t pathFlag = selectPath(level);
  if (level != SimdLevel::kNone && kav::yuv::simdLevel() != level) GTEST_SKIP() << "level not available";
  const Formula formula = level == SimdLevel::kNone ? Formula::kPortable : Formula::kVector;
  std::mt19937 rng(1234 + mode);
  Planes planes(112, 48);
  planes.randomise(rng);
  int cases = 0;
  for (int parity = 0; parity < 16; ++parity) {
    for (uint32_t variant = 0; variant < 8; ++variant) {
      BlitArgs a;
      // Widths from a handful of pixels to past two 32-pixel vectors.
      const int baseWidth = (variant & 1) ? 70 + static_cast<int>(rng() % 20) : 2 + static_cast<int>(rng() % 14);
      a.srcX = 2 * static_cast<int>(rng() % 8) + (parity & 1);
      a.srcY = 2 * static_cast<int>(rng() % 6) + ((parity >> 1) & 1);
      a.w = (baseWidth & ~1) + ((parity >> 2) & 1);
      a.h = 2 * (1 + static_cast<int>(rng() % 7)) + ((parity >> 3) & 1);
      if (a.srcX + a.w > planes.pitch) a.w = planes.pitch - a.srcX;
      if (a.srcY + a.h > planes.planeHeight) a.h = planes.planeHeight - a.srcY;
      a.dstX = static_cast<int>(rng() % 5);
      a.dstY = static_cast<int>(rng() % 3);
      a.flags = mode | pathFlag | ((variant & 2) ? YUV_FLAG_GREY : 0) |
                ((variant & 4) ? YUV_FLAG_EXCHANGE_CHROMA : 0);
      a.withAlpha = (rng() & 1) != 0;
      const bool bottomUp = (rng() & 1) != 0;
      kav::yuv::setStrategy({rng() & 1 ? kav::yuv::Leading::kAlignSource : kav::yuv::Leading::kAlignDestination,
                             rng() & 1 ? kav::yuv::HeightDoubling::kConvertTwice
                                       : kav::yuv::HeightDoubling::kCopyLineBuffer});
      int32_t dw, dh;
      destinationSize(mode, a, &dw, &dh);
      // A spare column and row around the written area must stay as filled.
      Surface got(dw + 1, dh + 1, bottomUp);
      Surface want(dw + 1, dh + 1, bottomUp);
      libraryBlit(got, planes, a);
      modelBlit(want, planes, a, formula);
      ASSERT_EQ(got.pixels, want.pixels)
          << "srcX " << a.srcX << " srcY " << a.srcY << " w " << a.w << " h " << a.h << " dstX " << a.dstX
          << " dstY " << a.dstY << " flags " << std::hex << a.flags << " alpha " << a.withAlpha << " bottom-up "
          << bottomUp;
      ++cases;
    }
  }
  EXPECT_EQ(cases, 128);
}

TEST_P(YuvModes, RectangleEndingAtTheEndOfThePlanes) {
  // The planes and the surface are allocated to their exact size and the
  // rectangle reaches their last byte, so any read or write past a row's end
  // is caught by the address sanitizer (and by the comparison).
  const auto [level, mode] = GetParam();
  const uint32_t pathFlag = selectPath(level);
  if (level != SimdLevel::kNone && kav::yuv::simdLevel() != level) GTEST_SKIP() << "level not available";
  const Formula formula = level == SimdLevel::kNone ? Formula::kPortable : Formula::kVector;
  std::mt19937 rng(99);
  for (int32_t w : {1, 3, 4, 33, 47, 64}) {
    Planes planes(64, 16);
    planes.randomise(rng);
    BlitArgs a;
    a.w = w;
    a.srcX = planes.pitch - w;
    a.srcY = 9;
    a.h = planes.planeHeight - a.srcY;
    a.flags = mode | pathFlag;
    a.withAlpha = true;
    int32_t dw, dh;
    destinationSize(mode, a, &dw, &dh);
    Surface got(dw, dh, false);
    Surface want(dw, dh, false);
    libraryBlit(got, planes, a);
    modelBlit(want, planes, a, formula);
    ASSERT_EQ(got.pixels, want.pixels) << "w " << w;
  }
}

std::string modeName(const ::testing::TestParamInfo<std::tuple<SimdLevel, uint32_t>> &info) {
  static const char *levels[] = {"Portable", "Sse2", "Avx2"};
  return std::string(levels[static_cast<int>(std::get<0>(info.param))]) + "_Mode" +
         std::to_string(std::get<1>(info.param) >> 28);
}

INSTANTIATE_TEST_SUITE_P(AllSets, YuvModes,
                         ::testing::Combine(::testing::Values(SimdLevel::kNone, SimdLevel::kSse2, SimdLevel::kAvx2),
                                            ::testing::ValuesIn(kModes)),
                         modeName);

TEST(YuvInterlace, RowsBetweenKeepTheirContents) {
  YUV_init(YUV_TYPE_32BPP);
  for (uint32_t mode : {YUV_MODE_INTERLACED, YUV_MODE_DOUBLE_WIDTH_INTERLACED, YUV_MODE_FIELD}) {
    for (uint32_t path : {0u, YUV_FLAG_NO_SIMD}) {
      Planes planes(48, 32);
      std::mt19937 rng(5);
      planes.randomise(rng);
      Surface s(80, 40, false, 0x12345678u);
      YUV_blit_32bpp(s.origin(), 0, 1, s.pitchBytes(), planes.data.data(), 0, 0, 40, 16, planes.pitch,
                     planes.planeHeight, mode | path);
      const int firstRow = mode == YUV_MODE_FIELD ? 2 : 1;
      for (int r = 0; r < s.height; ++r) {
        const bool written = r >= firstRow && (r - firstRow) % 2 == 0 &&
                             r < firstRow + 2 * (mode == YUV_MODE_FIELD ? 8 : 16);
        int untouched = 0;
        for (int c = 0; c < s.width; ++c) untouched += s.at(r, c) == 0x12345678u;
        if (written) {
          EXPECT_LT(untouched, s.width) << "row " << r << " mode " << std::hex << mode;
        } else {
          EXPECT_EQ(untouched, s.width) << "row " << r << " mode " << std::hex << mode;
        }
      }
    }
  }
}

}  // namespace
