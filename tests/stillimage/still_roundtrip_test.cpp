// Every saver read back by its loader through the format table: lossless
// formats pixel for pixel, JPEG within a small error; loads into buffers
// one pixel wider than the picture, at the depths callers ask for.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "stillimage/still_test_util.h"
#include "support/temp_dir.h"

using namespace kav::still;
using stilltest::Image;

namespace {

struct Case {
  Format format;
  int bits;  // descriptor depth saved
  int32_t option;
};

std::string caseName(const testing::TestParamInfo<Case> &i) {
  return std::string(stillFormat(i.param.format).name) + "_" + std::to_string(i.param.bits) + "bit_opt" +
         std::to_string(i.param.option);
}

class RoundTrip : public testing::TestWithParam<Case> {};

TEST_P(RoundTrip, SavedPictureLoadsBackIntoSpareColumnBuffer) {
  const Case c = GetParam();
  const FormatEntry &f = stillFormat(c.format);
  kavtest::TempDir dir;
  const std::string name = dir.file(std::string("pic") + f.extension);
  const int32_t w = 37, h = 23;  // odd sizes exercise row padding
  Image src(w, h, c.bits);
  ASSERT_NE(src->buffer, nullptr);
  if (c.bits == 8) stilltest::fillPaletted(src);
  else stilltest::fillTrueColour(src);
  ASSERT_EQ(f.save(name.c_str(), &src.img, c.option), kStillOk);
  // Saving twice gives identical bytes.
  const auto first = kavtest::readFile(name);
  ASSERT_EQ(f.save(name.c_str(), &src.img, c.option), kStillOk);
  EXPECT_EQ(kavtest::readFile(name), first);

  StillInfo info{};
  ASSERT_EQ(f.info(name.c_str(), &info), kStillOk);
  EXPECT_EQ(info.width, w);
  EXPECT_EQ(info.height, h);
  // A paletted picture is written to JPEG in colour.
  const bool indexed = c.bits == 8 && c.format != Format::Jpeg;
  EXPECT_EQ(info.bitsPerPixel, c.format == Format::Jpeg ? 24 : c.bits);
  if (c.format == Format::Tiff) {
    EXPECT_EQ(info.compression, c.option == 1 ? 8u : 1u);
  }

  // The graphics input's way: one spare column, the reported depth.
  Image dst;
  ASSERT_EQ(f.allocate(&dst.img, info.width + 1, info.height, info.bitsPerPixel), kStillOk);
  EXPECT_EQ(dst->pitchBytes, (((w + 1) * info.bitsPerPixel / 8) + 3) & ~3);
  ASSERT_EQ(f.load(name.c_str(), &dst.img), kStillOk);
  EXPECT_EQ(dst->pictureWidth, w);
  EXPECT_EQ(dst->pictureHeight, h);
  int worst = 0;
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < w; ++x) {
      uint8_t a[3], b[3];
      src.bgr(x, y, a);
      dst.bgr(x, y, b);
      for (int k = 0; k < 3; ++k) worst = std::max(worst, std::abs(a[k] - b[k]));
      if (indexed) {
        ASSERT_EQ(src.index(x, y), dst.index(x, y)) << x << "," << y;
      }
    }
    // The spare column and row padding are cleared.
    for (int32_t i = w * (info.bitsPerPixel / 8); i < dst->pitchBytes; ++i) ASSERT_EQ(dst.row(y)[i], 0);
  }
  if (c.format == Format::Jpeg) {
    EXPECT_LE(worst, 12);
  }
  else EXPECT_EQ(worst, 0);
  EXPECT_EQ(f.release(&dst.img), kStillOk);
  EXPECT_EQ(dst->buffer, nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    AllFormats, RoundTrip,
    testing::Values(Case{Format::Bmp, 8, 0}, Case{Format::Bmp, 8, 1}, Case{Format::Bmp, 24, 0},
                    Case{Format::Pcx, 8, 0}, Case{Format::Pcx, 24, 0}, Case{Format::Png, 8, 0},
                    Case{Format::Png, 24, 0}, Case{Format::Png, 24, 9}, Case{Format::Tga, 8, 1},
                    Case{Format::Tga, 24, 1}, Case{Format::Tga, 24, 0}, Case{Format::Tiff, 8, 1},
                    Case{Format::Tiff, 24, 1}, Case{Format::Tiff, 24, 0}, Case{Format::Gif, 8, 0},
                    Case{Format::Jpeg, 24, 100}, Case{Format::Jpeg, 8, 100}),
    caseName);

TEST(StillTable, SevenFormatsWithTheirExtensionsAndOptions) {
  const FormatEntry *t = stillFormats();
  const char *ext[] = {".bmp", ".pcx", ".png", ".tga", ".tif", ".gif", ".jpg"};
  const int32_t option[] = {0, 0, 0, 1, 1, 0, 100};
  for (int i = 0; i < kFormatCount; ++i) {
    EXPECT_EQ(static_cast<int>(t[i].format), i);
    EXPECT_STREQ(t[i].extension, ext[i]);
    EXPECT_EQ(t[i].saveOption, option[i]);
    EXPECT_TRUE(t[i].info && t[i].load && t[i].allocate && t[i].release && t[i].save);
  }
}

TEST(StillTable, EachQueryRejectsTheOtherFormats) {
  kavtest::TempDir dir;
  Image src(9, 5, 8);
  stilltest::fillPaletted(src);
  for (int i = 0; i < kFormatCount; ++i) {
    const FormatEntry &f = stillFormats()[i];
    const std::string name = dir.file(std::string("x") + f.extension);
    ASSERT_EQ(f.save(name.c_str(), &src.img, f.saveOption), kStillOk) << f.name;
    for (int j = 0; j < kFormatCount; ++j) {
      StillInfo info{};
      const int r = stillFormats()[j].info(name.c_str(), &info);
      if (i == j) {
        EXPECT_EQ(r, kStillOk) << f.name;
      }
      else EXPECT_NE(r, kStillOk) << stillFormats()[j].name << " accepted a " << f.name;
    }
  }
  StillInfo info{};
  EXPECT_EQ(stillFormat(Format::Png).info(dir.file("missing.png").c_str(), &info), kStillOpenFailed);
}

TEST(StillTable, GifAndPaletteFreeSaversRefuseTrueColour) {
  kavtest::TempDir dir;
  Image src(4, 4, 24);
  EXPECT_NE(stillFormat(Format::Gif).save(dir.file("a.gif").c_str(), &src.img, 0), kStillOk);
  StillImage empty{};
  EXPECT_EQ(stillFormat(Format::Bmp).save(dir.file("b.bmp").c_str(), &empty, 0), kStillBadImage);
  EXPECT_EQ(stillFormat(Format::Bmp).save("/nonexistent-dir/x.bmp", &src.img, 0), kStillWriteFailed);
}

// Conversions into the depth the descriptor was allocated at.
TEST(StillConvert, LoadsIntoOtherDepths) {
  kavtest::TempDir dir;
  const std::string pal = dir.file("p.bmp"), rgb = dir.file("t.bmp");
  Image p(11, 7, 8), t(11, 7, 24);
  stilltest::fillPaletted(p);
  stilltest::fillTrueColour(t);
  const FormatEntry &bmp = stillFormat(Format::Bmp);
  ASSERT_EQ(bmp.save(pal.c_str(), &p.img, 0), kStillOk);
  ASSERT_EQ(bmp.save(rgb.c_str(), &t.img, 0), kStillOk);
  for (int bits : {16, 24, 32}) {
    for (const std::string *name : {&pal, &rgb}) {
      Image d(12, 7, bits);
      ASSERT_EQ(bmp.load(name->c_str(), &d.img), kStillOk) << bits;
      Image &ref = name == &pal ? p : t;
      for (int32_t y = 0; y < 7; ++y)
        for (int32_t x = 0; x < 11; ++x) {
          uint8_t a[3], b[3];
          ref.bgr(x, y, a);
          d.bgr(x, y, b);
          for (int k = 0; k < 3; ++k) ASSERT_EQ(bits == 16 ? (a[k] & 0xF8) : a[k], b[k]) << bits << " " << x << "," << y;
          if (bits == 32) {
            ASSERT_EQ(d.row(y)[4 * x + 3], 0);
          }
        }
    }
  }
  // No colour reduction: a true-colour picture does not go into 8 bits.
  Image d8(11, 7, 8);
  EXPECT_EQ(bmp.load(rgb.c_str(), &d8.img), kStillBadImage);
  // A buffer smaller than the picture is refused.
  Image small(10, 7, 24);
  EXPECT_EQ(bmp.load(rgb.c_str(), &small.img), kStillBadImage);
  // Without a buffer the load allocates one at the natural depth.
  Image own;
  ASSERT_EQ(bmp.load(pal.c_str(), &own.img), kStillOk);
  EXPECT_EQ(own->bitsPerPixel, 8);
  EXPECT_EQ(own->width, 11);
}

TEST(StillAllocate, PitchFollowsTheGraphicsInputAndRejectsBadSizes) {
  Image a(641, 480, 24);
  EXPECT_EQ(a->pitchBytes, 1924);
  Image b(9, 2, 4);  // 8-pixel 4-bit picture plus the spare column
  EXPECT_EQ(b->pitchBytes, 4);
  Image c(34, 2, 1);  // the truncated pitch would not hold 33 pixels
  EXPECT_EQ(c->pitchBytes, 8);
  StillImage d{};
  EXPECT_EQ(stillAllocate(&d, 70000, 70000, 8), kStillTooLarge);  // over the 4 GiB a buffer holds
  EXPECT_EQ(stillAllocate(&d, 0x7FFFFFFF, 1, 24), kStillTooLarge);
  EXPECT_EQ(stillAllocate(&d, 10, 10, 12), kStillBadImage);
  EXPECT_EQ(stillAllocate(&d, 0, 10, 8), kStillBadImage);
  EXPECT_EQ(stillAllocate(&d, 4097, 4097, 32), kStillOk);
  EXPECT_EQ(stillRelease(&d), kStillOk);
}

}  // namespace
