// The animated GIF target, read back through the composing GIF reader:
// every frame shows the colours that were put, the delays add up to the
// movie's length, tables and rectangles are only what changed, and a failed
// write leaves a GIF of the frames that reached the file.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "kavutil/kavnames.h"
#include "kavutil/ogfile.h"
#include "ogfile/ogfile_test_util.h"
#include "platform/stillimage/still_gif_anim.h"
#include "support/temp_dir.h"

namespace {

using kav::still::GifComposed;
using ogtest::messages;
using ogtest::recordCallback;

constexpr uint32_t kW = 40, kH = 30, kPitch = 44;

// A scene that moves: a background of bands, a square that walks one step
// per frame, a few scattered pixels that change now and then, and stretches
// where nothing happens at all.
std::vector<uint8_t> sceneFrame(uint32_t n) {
  std::vector<uint8_t> f(size_t{kPitch} * kH, 0xEE);  // padding that must not show
  for (uint32_t y = 0; y < kH; ++y)
    for (uint32_t x = 0; x < kW; ++x) f[y * kPitch + x] = static_cast<uint8_t>(10 + (x / 5 + y / 6) % 7);
  const uint32_t step = n < 4 ? n : n < 6 ? 4 : (n - 2) % 10;  // frames 4..6 repeat frame 4
  for (uint32_t y = 0; y < 6; ++y)
    for (uint32_t x = 0; x < 6; ++x) f[(3 + y + step) * kPitch + 2 + x + 2 * step] = static_cast<uint8_t>(200 + x);
  if (n == 2 || n == 8 || n == 11)
    for (uint32_t i = 0; i < 5; ++i) f[(i * 7 % kH) * kPitch + (i * 13 + n) % kW] = 99;
  return f;
}

uint32_t rgbOf(const std::vector<uint8_t> &pal, uint8_t i) {
  return uint32_t{pal[3 * i]} << 16 | uint32_t{pal[3 * i + 1]} << 8 | pal[3 * i + 2];
}

GifComposed readBack(const std::string &name) {
  const std::vector<uint8_t> bytes = kavtest::readFile(name);
  GifComposed g;
  EXPECT_EQ(kav::still::gifAnimRead(bytes.data(), bytes.size(), 1000, &g), 0);
  return g;
}

TEST(OGFileGif, EveryFrameReadsBackWithItsColoursTablesAndTime) {
  kavtest::TempDir tmp;
  const std::string name = tmp.file("walk.gif");
  constexpr uint32_t kFrames = 12;
  // The palette changes for frames 7 and 8 (a fade), then comes back; for
  // frame 10 it lists the same colours in another order.
  auto paletteFor = [](uint32_t n) {
    auto p = ogtest::palette(n == 7 || n == 8 ? n : 0);
    if (n == 10) std::rotate(p.begin(), p.begin() + 3, p.end());
    return p;
  };
  OGFile *o = OGFileCreate(0, name.c_str(), kFrames, 30, 1, kW, kH, kPitch, nullptr,
                           OGFILE_OVERWRITE | OGFILE_GIF_ANIMATION, 1);
  ASSERT_NE(o, nullptr);
  EXPECT_EQ(o->kind, static_cast<uint32_t>(OGFILE_GIF));
  EXPECT_EQ(std::string(o->name), name);  // one file, no number
  for (uint32_t n = 0; n < kFrames; ++n) {
    const auto f = sceneFrame(n);
    const auto p = paletteFor(n);
    OGFilePut(o, f.data(), p.data());
    EXPECT_EQ(o->frameNumber, n + 1);
  }
  EXPECT_EQ(o->errorFlag, 0u);
  const uint32_t size = OGFileClose(o);
  EXPECT_EQ(size, kavfilesize(name.c_str()));

  const GifComposed g = readBack(name);
  ASSERT_EQ(g.frames.size(), kFrames);
  EXPECT_EQ(g.width, kW);
  EXPECT_EQ(g.height, kH);
  EXPECT_TRUE(g.globalTable);
  EXPECT_EQ(g.loopCount, 0);  // for ever
  uint32_t total = 0;
  for (uint32_t n = 0; n < kFrames; ++n) {
    SCOPED_TRACE("frame " + std::to_string(n));
    const auto f = sceneFrame(n);
    const auto p = paletteFor(n);
    const auto &got = g.frames[n];
    uint32_t wrong = 0;
    for (uint32_t y = 0; y < kH; ++y)
      for (uint32_t x = 0; x < kW; ++x) wrong += got.rgb[y * kW + x] != rgbOf(p, f[y * kPitch + x]);
    EXPECT_EQ(wrong, 0u);
    // 30 frames per second: 3, 3, 4 hundredths, over and over.
    EXPECT_EQ(got.delayHundredths, n % 3 == 2 ? 4 : 3);
    total += got.delayHundredths;
    // A table of its own only where the palette brings colours the first
    // one lacks.
    EXPECT_EQ(got.localTable, n == 7 || n == 8);
  }
  EXPECT_EQ(total, kFrames * 100 / 30);
  // The first frame is whole; a repeated frame is one transparent pixel; a
  // step of the square alone stores a rectangle around the old and new
  // square, whose unchanged middle codes smaller as transparency.
  EXPECT_EQ(g.frames[0].width * g.frames[0].height, kW * kH);
  EXPECT_EQ(g.frames[5].width * g.frames[5].height, 1u);
  EXPECT_GE(g.frames[5].transparentIndex, 0);
  EXPECT_EQ(g.frames[1].left, 2u);
  EXPECT_EQ(g.frames[1].top, 3u);
  EXPECT_EQ(g.frames[1].width, 8u);
  EXPECT_EQ(g.frames[1].height, 7u);
}

// A palette of few colours leaves the global table room: colours that
// arrive later with a changed palette take it, with no local table, and
// every frame still shows what was put.
TEST(OGFileGif, NewColoursTakeTheGlobalTablesFreeRoom) {
  kavtest::TempDir tmp;
  const std::string name = tmp.file("few.gif");
  auto few = [](uint32_t base) {
    std::vector<uint8_t> p(768);
    for (int i = 0; i < 256; ++i) {
      p[3 * i] = static_cast<uint8_t>(base + (i % 16) * 8);
      p[3 * i + 1] = static_cast<uint8_t>(base);
      p[3 * i + 2] = static_cast<uint8_t>(i % 16);
    }
    return p;
  };
  const std::vector<uint8_t> palettes[] = {few(0), few(0), few(100), few(0), few(200)};
  OGFile *o = OGFileCreate(0, name.c_str(), 5, 10, 1, kW, kH, kPitch, nullptr,
                           OGFILE_OVERWRITE | OGFILE_GIF_ANIMATION, 1);
  ASSERT_NE(o, nullptr);
  for (uint32_t n = 0; n < 5; ++n) OGFilePut(o, sceneFrame(n).data(), palettes[n].data());
  OGFileClose(o);
  const GifComposed g = readBack(name);
  ASSERT_EQ(g.frames.size(), 5u);
  for (uint32_t n = 0; n < 5; ++n) {
    const auto f = sceneFrame(n);
    uint32_t wrong = 0;
    for (uint32_t y = 0; y < kH; ++y)
      for (uint32_t x = 0; x < kW; ++x) wrong += g.frames[n].rgb[y * kW + x] != rgbOf(palettes[n], f[y * kPitch + x]);
    EXPECT_EQ(wrong, 0u) << n;
    EXPECT_FALSE(g.frames[n].localTable) << n;
  }
}

TEST(OGFileGif, DelaysAddUpAndPlaysAreCounted) {
  kavtest::TempDir tmp;
  struct Case {
    uint32_t num, den, frames, plays;
    std::vector<uint16_t> firstDelays;
    int loopCount;  // -1: plays once, no loop block
  };
  const Case cases[] = {
      {15, 1, 7, 0, {6, 7, 7}, 0},
      {30000, 1001, 31, 3, {3, 3, 4}, 2},
      {25, 1, 4, 1, {4, 4, 4}, -1},
      {1, 2, 2, 2, {200, 200}, 1},
  };
  const auto pal = ogtest::palette(0);
  for (const Case &c : cases) {
    SCOPED_TRACE(std::to_string(c.num) + "/" + std::to_string(c.den));
    const std::string name = tmp.file("t.gif");
    OGFile *o = OGFileCreate(0, name.c_str(), c.frames, c.num, c.den, kW, kH, kPitch, nullptr,
                             OGFILE_OVERWRITE | OGFILE_GIF_ANIMATION | OGFILE_GIF_PLAYS(c.plays), 1);
    ASSERT_NE(o, nullptr);
    for (uint32_t n = 0; n < c.frames; ++n) OGFilePut(o, sceneFrame(n).data(), pal.data());
    OGFileClose(o);
    const GifComposed g = readBack(name);
    ASSERT_EQ(g.frames.size(), c.frames);
    EXPECT_EQ(g.loopCount, c.loopCount);
    uint64_t total = 0;
    for (uint32_t n = 0; n < c.frames; ++n) {
      if (n < c.firstDelays.size()) {
        EXPECT_EQ(g.frames[n].delayHundredths, c.firstDelays[n]) << n;
      }
      total += g.frames[n].delayHundredths;
    }
    EXPECT_EQ(total, uint64_t{c.frames} * 100 * c.den / c.num);
  }
}

TEST(OGFileGif, AFailedWriteLeavesTheFramesThatReachedTheFile) {
  kavtest::TempDir tmp;
  const std::string name = tmp.file("cut.gif");
  messages().clear();
  const auto pal = ogtest::palette(0);
  std::vector<std::vector<uint8_t>> frames;
  uint32_t held = 0;
  {
    OGFile *o = OGFileCreate(0, name.c_str(), 40, 10, 1, 64, 64, 64, recordCallback,
                             OGFILE_OVERWRITE | OGFILE_GIF_ANIMATION, 1);
    ASSERT_NE(o, nullptr);
    ogtest::FileSizeLimit limit(20000);  // room for some of the 40 noisy frames
    for (uint32_t n = 0; n < 40; ++n) {
      std::vector<uint8_t> f(64 * 64);
      uint32_t s = n * 2654435761u + 1;
      for (auto &b : f) b = static_cast<uint8_t>((s = s * 1103515245u + 12345u) >> 24);
      frames.push_back(f);
      OGFilePut(o, f.data(), pal.data());
    }
    EXPECT_EQ(o->errorFlag, 1u);
    held = o->frameNumber;
    OGFileClose(o);
  }
  ASSERT_GT(held, 0u);
  ASSERT_LT(held, 40u);
  ASSERT_EQ(messages().size(), 1u);
  EXPECT_EQ(messages()[0].text, "Error writing the output file.");
  const std::vector<uint8_t> bytes = kavtest::readFile(name);
  ASSERT_FALSE(bytes.empty());
  EXPECT_EQ(bytes.back(), 0x3B);  // the trailer ends the file
  const GifComposed g = readBack(name);
  ASSERT_EQ(g.frames.size(), held);
  for (uint32_t n = 0; n < held; ++n) {
    uint32_t wrong = 0;
    for (size_t i = 0; i < frames[n].size(); ++i) wrong += g.frames[n].rgb[i] != rgbOf(pal, frames[n][i]);
    EXPECT_EQ(wrong, 0u) << n;
  }
}

// The composing reader meets a file cut anywhere, or with a byte spoilt, and
// answers without reading outside what it holds.
TEST(OGFileGif, DamagedAnimationsReadSafely) {
  kavtest::TempDir tmp;
  const std::string name = tmp.file("d.gif");
  OGFile *o = OGFileCreate(0, name.c_str(), 4, 10, 1, kW, kH, kPitch, nullptr,
                           OGFILE_OVERWRITE | OGFILE_GIF_ANIMATION, 1);
  ASSERT_NE(o, nullptr);
  for (uint32_t n = 0; n < 4; ++n) OGFilePut(o, sceneFrame(n).data(), ogtest::palette(n == 3 ? 5 : 0).data());
  OGFileClose(o);
  const std::vector<uint8_t> whole = kavtest::readFile(name);
  for (size_t cut = 0; cut < whole.size(); ++cut) {
    std::vector<uint8_t> part(whole.begin(), whole.begin() + static_cast<long>(cut));
    GifComposed g;
    EXPECT_NE(kav::still::gifAnimRead(part.data(), part.size(), 100, &g), 0) << cut;
  }
  for (size_t at = 6; at < whole.size(); at += 7) {
    std::vector<uint8_t> spoilt = whole;
    spoilt[at] ^= 0xA5;
    GifComposed g;
    kav::still::gifAnimRead(spoilt.data(), spoilt.size(), 100, &g);  // any answer, no stray access
  }
  GifComposed g;
  EXPECT_NE(kav::still::gifAnimRead(whole.data(), whole.size(), 3, &g), 0);  // more frames than allowed
}

TEST(OGFileGif, WithoutTheOptionAGifIsStillANumberedSeries) {
  kavtest::TempDir tmp;
  const auto pal = ogtest::palette(0);
  OGFile *o = OGFileCreate(0, tmp.file("s.gif").c_str(), 3, 30, 1, kW, kH, kPitch, nullptr, OGFILE_OVERWRITE, 1);
  ASSERT_NE(o, nullptr);
  for (uint32_t n = 0; n < 3; ++n) OGFilePut(o, sceneFrame(n).data(), pal.data());
  OGFileClose(o);
  for (const char *f : {"s0.gif", "s1.gif", "s2.gif"}) EXPECT_GT(kavfilesize(tmp.file(f).c_str()), 0u) << f;
  EXPECT_EQ(kavfilesize(tmp.file("s.gif").c_str()), 0u);
}

}  // namespace
