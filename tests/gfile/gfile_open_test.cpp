// Opening: the kinds, the extension search, range, size codes, rates and
// the command-line switches.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "support/zanther_writer.h"
#include "tests/gfile/gfile_test_util.h"

namespace gtest_gfile {

Messages &messages() {
  static Messages m;
  return m;
}
uint32_t KAVAPI record(const char *text, int32_t code) {
  messages().list.push_back({text ? text : "", code});
  return 0;
}

namespace {

TEST(GFileCommandLine, FlagsRatesSizesAndPaletteWindow) {
  char cmd[] = "in.avi /Z1203 /;257 /F-40 /A30;1.001 /(-0.5 /)-2 /Q200 /U0 /]2 /[120 /S5 /E9 /&pal.bmp /D300 out.flc";
  uint32_t flags = 0, inN = 0, inD = 0, outN = 0, outD = 0, scale = 0, first = 0, count = 0;
  int32_t bright = 0, w = 0, h = 0, s = 0, e = 0;
  float gamma = 0;
  uint8_t d = 0;
  char pal[KAV_NAME_MAX] = {};
  GFileCommandLine(cmd, &flags, &inN, &inD, &outN, &outD, nullptr, nullptr, &bright, &gamma, nullptr, &w, &h, nullptr,
                   nullptr, nullptr, nullptr, &s, &e, &scale, &first, &count, nullptr, &d, nullptr, pal);
  EXPECT_EQ(flags, GFILE_PREFER_QUICKTIME | GFILE_FILTER_2 | 3u | GFILE_DEINTERLACE_EVEN | GFILE_DEINTERLACE_BLEND);
  EXPECT_EQ(inN, 25u);  // 40 ms per frame
  EXPECT_EQ(inD, 1u);
  EXPECT_EQ(outN, 30000u);
  EXPECT_EQ(outD, 1001u);
  EXPECT_EQ(w, -1500);
  EXPECT_EQ(h, -3000);
  EXPECT_EQ(count, 200u);
  EXPECT_EQ(first, 28u);  // (256 - 200) / 2
  EXPECT_EQ(scale, 0x10000u);
  EXPECT_FLOAT_EQ(gamma, 0.5f);
  EXPECT_EQ(bright, 120);
  EXPECT_EQ(s, 5);
  EXPECT_EQ(e, 9);
  EXPECT_EQ(d, 300 & 0xFF);
  EXPECT_STREQ(pal, "pal.bmp");
  std::string rest = cmd;
  rest.erase(std::remove(rest.begin(), rest.end(), ' '), rest.end());
  EXPECT_EQ(rest, "in.aviout.flc");

  char cmd2[] = "/Z104 /I250 /Q100 /F-200000 /(-1 /)320";
  GFileCommandLine(cmd2, &flags, &inN, &inD, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &w, &h,
                   nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &first, &count, nullptr, nullptr,
                   nullptr, nullptr);
  EXPECT_EQ(flags, GFILE_FILTER_1 | 4u);
  EXPECT_EQ(first, 156u);  // reduced to 256 - Q
  EXPECT_EQ(inN, 1u);      // 200000 / 100000 s per frame
  EXPECT_EQ(inD, 2u);
  EXPECT_EQ(w, -1);
  EXPECT_EQ(h, 320);

  // Deinterlace: the field is the value modulo 8, the blend bit 8 (256).
  const struct {
    const char *value;
    uint32_t flags;
  } deinterlace[] = {
      {"9", GFILE_DEINTERLACE_EVEN},
      {"8", 0},
      {"256", GFILE_DEINTERLACE_BLEND},
      {"258", GFILE_DEINTERLACE_ODD | GFILE_DEINTERLACE_BLEND},
  };
  for (const auto &c : deinterlace) {
    std::string line = std::string("/;") + c.value;
    GFileCommandLine(line.data(), &flags, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                     nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                     nullptr, nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(flags, c.flags) << "/;" << c.value;
  }
}

TEST(GFileOpen, FlicRangeSizeCodesAndRates) {
  kavtest::TempDir dir;
  const std::string flc = writeFlic(dir, "a.flc", 64, 48, 10);
  GFile *g = open(flc, 0, 0, 0, 0, 0, 0, 0, 5, 3);
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(g->kind, GFILE_KIND_FLIC);
  EXPECT_STREQ(g->kindName, "Flic");
  EXPECT_EQ(g->sourceBits, 8u);
  EXPECT_EQ(g->frameCount, 1u);  // first 5, last raised to 5
  EXPECT_EQ(g->totalFrames, 10u);
  EXPECT_EQ(g->nativeRateNumerator, 10u);
  EXPECT_EQ(g->nativeRateDenominator, 1u);
  GFileClose(g);

  g = open(flc, GFILE_HALVE_HEIGHT | 1, 0, 0, 0, 0, -1500, -1);
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(g->scaledWidth, 32u);
  EXPECT_EQ(g->scaledHeight, 12u);  // aspect 24, then halved
  EXPECT_EQ(g->outputBits, 32u);
  EXPECT_EQ(g->frameCount, 10u);
  EXPECT_EQ(g->flags, 1u);
  EXPECT_EQ(g->trueColour, 0u);
  EXPECT_EQ(g->canvasPitch, 32u);
  GFileClose(g);

  g = open(flc, 0, 0, 0, 0, 0, -1, 24);
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(g->scaledWidth, 32u);
  EXPECT_EQ(g->scaledHeight, 24u);
  GFileClose(g);

  g = open(flc, 0, 0, 0, 0, 0, -2, -1000);
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(g->scaledWidth, 128u);
  EXPECT_EQ(g->scaledHeight, 48000u > 32768u ? 32768u : 48000u);
  GFileClose(g);
}

TEST(GFileOpen, FiftyOutputFramesAndTheirPeriod) {
  kavtest::TempDir dir;
  std::vector<std::vector<uint8_t>> frames(100, std::vector<uint8_t>(16, 1));
  const std::string raw = writeRaw(dir, "r.raw", 4, 4, frames, greyRamp());
  GFile *g = open(raw, 0, 30, 1, 15, 1);
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(g->kind, GFILE_KIND_RAW);
  EXPECT_STREQ(g->kindName, "");
  EXPECT_EQ(g->nativeRateNumerator, 10u);  // 10000 units of 1/100000 s
  EXPECT_EQ(g->outputFrameCount, 50u);
  EXPECT_EQ(g->outputPeriod, -6666);
  GFileClose(g);
}

TEST(GFileOpen, ExtensionSearchFindsZanther) {
  kavtest::TempDir dir;
  kavtest::zantw::Movie m;
  m.width = 16;
  m.height = 8;
  for (int i = 0; i < 3; ++i) {
    kavtest::zantw::Frame f;
    f.pixels = picture8(16, 8, i);
    if (i == 0) {
      f.hasPalette = true;
      for (int c = 0; c < 128; ++c)
        f.palette.push_back(kavtest::zantw::PaletteCommand::literal(uint8_t(c % 64), uint8_t(63 - c % 64), 9));
    }
    m.frames.push_back(f);
  }
  kavtest::writeFile(dir.file("clip.znt"), kavtest::zantw::writeMovie(m));
  GFile *g = open(dir.file("clip"));
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(g->kind, GFILE_KIND_ZANTHER);
  EXPECT_EQ(std::string(g->name), dir.file("clip.znt"));
  EXPECT_EQ(g->totalFrames, 3u);
  // 8-bit output of the 8-bit source is the decoded picture byte for byte.
  GFileClose(g);
  g = open(dir.file("clip.znt"), 1);
  ASSERT_NE(g, nullptr);
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(GFileGet(g, 0, 0, 100, 1.0f, 0) & 0xFF, 1u);
    const auto want = picture8(16, 8, i);
    for (uint32_t y = 0; y < 8; ++y)
      ASSERT_EQ(std::memcmp(g->canvas + y * g->canvasPitch, want.data() + y * 16, 16), 0) << i;
  }
  GFileClose(g);
}

TEST(GFileOpen, WaveIsSoundOnlyFourByFour) {
  kavtest::TempDir dir;
  const std::string wav = writeWave(dir, "s.wav", 8000, 1, 16, 16000 * 2);  // two seconds
  messages().list.clear();
  GFile *g = open(dir.file("s"), 0, 0, 0, 0, 0, 0, 0, 0, 0, record);
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(g->kind, GFILE_KIND_SOUND_ONLY);
  EXPECT_STREQ(g->kindName, "Sound-only");
  EXPECT_EQ(std::string(g->name), wav);
  EXPECT_EQ(g->sourceWidth, 4u);
  EXPECT_EQ(g->sourceHeight, 4u);
  EXPECT_EQ(g->hasSound, 1u);
  EXPECT_EQ(g->nativeRateNumerator, 15u);
  EXPECT_EQ(g->totalFrames, 31u);  // 2 s at 15 per second, plus one
  ASSERT_EQ(GFileGet(g, 0, 0, 100, 1.0f, 0) & 0xFF, 1u);
  for (uint32_t y = 0; y < 4; ++y)
    for (uint32_t x = 0; x < 4; ++x) EXPECT_EQ(pixel32(g, x, y), 0u);
  GFileClose(g);
}

TEST(GFileOpen, FailuresReportTheNameAsGiven) {
  kavtest::TempDir dir;
  messages().list.clear();
  EXPECT_EQ(open(dir.file("nothing.avi"), 0, 0, 0, 0, 0, 0, 0, 0, 0, record), nullptr);
  EXPECT_TRUE(messages().contains("Error opening: " + dir.file("nothing.avi"), 2));
  // A raw file with an absurd size is not opened.
  std::vector<uint8_t> b = {'R', 'A', 'W', 'B'};
  le32(b, 1), le32(b, 0x7FFFFFFF), le32(b, 0x7FFFFFFF), le32(b, 100);
  kavtest::writeFile(dir.file("huge.raw"), b);
  EXPECT_EQ(open(dir.file("huge.raw")), nullptr);
  // A list naming a missing file fails with that file's name.
  writeText(dir.file("l.lst"), std::string(writeFlic(dir, "ok.flc", 8, 8, 2) + "\nmissing.flc\n"));
  messages().list.clear();
  EXPECT_EQ(open(dir.file("l.lst"), 0, 0, 0, 0, 0, 0, 0, 0, 0, record), nullptr);
  EXPECT_TRUE(messages().contains("Error opening: missing.flc", 2));
  // An empty list has no frames.
  writeText(dir.file("e.lst"), std::string("# nothing\n\n"));
  messages().list.clear();
  EXPECT_EQ(open(dir.file("e.lst"), 0, 0, 0, 0, 0, 0, 0, 0, 0, record), nullptr);
  EXPECT_TRUE(messages().contains("No files in the list file.", 2));
}

TEST(GFileOpen, PlacementWithNegativeOffsetsAndMargins) {
  kavtest::TempDir dir;
  const std::string flc = writeFlic(dir, "p.flc", 20, 10, 1);
  GFile *g = GFileOpen(flc.c_str(), 0, 0, 0, 0, 0, 0, 0, -3, 4, 30, 4, 0, 0, 0, 0, 256, 0, 0, 2, nullptr, nullptr,
                       nullptr);
  ASSERT_NE(g, nullptr);
  const GFilePlacement &p = g->placement;
  EXPECT_EQ(p.leftMargin, -3);
  EXPECT_EQ(p.rightBlank, 7);  // -3 + 30 - 20
  EXPECT_EQ(p.visibleWidth, 20);
  EXPECT_EQ(p.startRow, 4);
  EXPECT_EQ(p.visibleHeight, 4);
  ASSERT_EQ(GFileGet(g, 0, 0, 100, 1.0f, 0) & 0xFF, 1u);
  const auto pic = picture8(20, 10, 0);
  const auto pal = colourfulPalette();
  EXPECT_EQ(pixel32(g, 0, 0), 0u);
  EXPECT_EQ(pixel32(g, 3, 0), rgbOf(pal, pic[4 * 20 + 0]));
  EXPECT_EQ(pixel32(g, 22, 3), rgbOf(pal, pic[7 * 20 + 19]));
  EXPECT_EQ(pixel32(g, 23, 3), 0u);
  GFileClose(g);
  // Entirely off the left: nothing visible.
  g = GFileOpen(flc.c_str(), 0, 0, 0, 0, 0, 0, 0, -50, 0, 30, 4, 0, 0, 0, 0, 256, 0, 0, 2, nullptr, nullptr, nullptr);
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(g->placement.visibleWidth, 0);
  EXPECT_EQ(GFileGet(g, 0, 0, 100, 1.0f, 0) & 0xFF, 1u);
  GFileClose(g);
  // Starting beyond the right edge.
  g = GFileOpen(flc.c_str(), 0, 0, 0, 0, 0, 0, 0, 25, 0, 8, 4, 0, 0, 0, 0, 256, 0, 0, 2, nullptr, nullptr, nullptr);
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(g->placement.visibleWidth, 0);
  EXPECT_EQ(GFileGet(g, 0, 0, 100, 1.0f, 0) & 0xFF, 1u);
  GFileClose(g);
}

}  // namespace
}  // namespace gtest_gfile
