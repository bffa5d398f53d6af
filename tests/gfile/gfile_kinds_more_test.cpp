// More source kinds through the graphics input: a movie carried inside an
// .EXE (Zanther or Vorn, found through the offset in its string table), a
// QuickTime movie, each read frame by frame, and 8-bit output whose palette
// comes from a named palette file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "support/pe_builder.h"
#include "support/vorn_fill_movie.h"
#include "support/zanther_writer.h"
#include "tests/gfile/gfile_test_util.h"
#include "tests/quicktime/qt_builder.h"

using namespace gtest_gfile;

namespace {

using Bytes = std::vector<uint8_t>;

using kavtest::buildExeWithMovie;
using kavtest::buildPeWithStrings;
using kavtest::movieOffsetText;

Bytes zantherMovie(uint32_t w, uint32_t h, uint32_t frames) {
  kavtest::zantw::Movie m;
  m.width = w;
  m.height = h;
  for (uint32_t n = 0; n < frames; ++n) {
    kavtest::zantw::Frame f;
    f.pixels = picture8(w, h, n);
    if (n == 0) {
      f.hasPalette = true;
      for (int i = 0; i < 256; ++i)
        f.palette.push_back(kavtest::zantw::PaletteCommand::literal(static_cast<uint8_t>(i & 63),
                                                                   static_cast<uint8_t>((i * 3) & 63),
                                                                   static_cast<uint8_t>(63 - (i & 63))));
    }
    m.frames.push_back(f);
  }
  return kavtest::zantw::writeMovie(m);
}

// Every frame of both sources, canvas for canvas; the kinds and counts too.
void expectSameFrames(const std::string &plain, const std::string &exe, uint32_t kind, uint32_t flags) {
  GFile *a = open(plain, flags);
  ASSERT_NE(a, nullptr);
  GFile *b = open(exe, flags);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(a->kind, kind);
  EXPECT_EQ(b->kind, kind);
  EXPECT_EQ(b->sourceWidth, a->sourceWidth);
  EXPECT_EQ(b->sourceHeight, a->sourceHeight);
  ASSERT_EQ(b->frameCount, a->frameCount);
  ASSERT_GT(a->frameCount, 1u);
  for (uint32_t n = 0; n < a->frameCount; ++n) {
    ASSERT_EQ(GFileGet(a, 0, 0, 100, 1.0f, 0) & 0xFF, 1u) << n;
    ASSERT_EQ(GFileGet(b, 0, 0, 100, 1.0f, 0) & 0xFF, 1u) << n;
    ASSERT_EQ(a->canvasPitch, b->canvasPitch);
    ASSERT_EQ(std::memcmp(a->canvas, b->canvas, size_t{a->canvasPitch} * a->canvasHeight), 0) << "frame " << n;
    if (!a->trueColour) {
      ASSERT_EQ(std::memcmp(a->palette, b->palette, 768), 0) << "frame " << n;
    }
  }
  GFileClose(a);
  GFileClose(b);
}

TEST(GFileExeMovie, ZantherAndVornInsideAProgramReadAsOnTheirOwn) {
  kavtest::TempDir dir;
  const Bytes zanther = zantherMovie(32, 16, 4);
  const std::string plainZ = dir.file("movie.znt");
  kavtest::writeFile(plainZ, zanther);
  const std::string exeZ = dir.file("ZPLAY.EXE");
  kavtest::writeFile(exeZ, buildExeWithMovie(zanther, 100));
  expectSameFrames(plainZ, exeZ, GFILE_KIND_ZANTHER, 0);

  const Bytes vorn = kavtest::vornf::fillMovie(32, 16, 3);
  const std::string plainV = dir.file("movie.vrn");
  kavtest::writeFile(plainV, vorn);
  const std::string exeV = dir.file("vplay.exe");
  kavtest::writeFile(exeV, buildExeWithMovie(vorn, 37));
  expectSameFrames(plainV, exeV, GFILE_KIND_VORN, 0);
}

TEST(GFileExeMovie, ProgramsWithoutAUsableMovieDoNotOpen) {
  kavtest::TempDir dir;
  const std::string exe = dir.file("bad.exe");
  // No offset in the strings, an offset past the end, garbage at the offset.
  const std::vector<Bytes> cases = {buildPeWithStrings(u"\x0005hello"), buildPeWithStrings(movieOffsetText(5000000)),
                                    buildExeWithMovie(Bytes(300, 0x5A), 0)};
  for (size_t i = 0; i < cases.size(); ++i) {
    kavtest::writeFile(exe, cases[i]);
    GFile *g = open(exe);
    if (g) {
      // Whatever else claims the bytes, it is not a movie from the program.
      EXPECT_NE(g->kind, GFILE_KIND_ZANTHER) << i;
      EXPECT_NE(g->kind, GFILE_KIND_VORN) << i;
      GFileClose(g);
    }
  }
  // A movie cut short after the program: no movie either, and no crash.
  Bytes cut = buildExeWithMovie(zantherMovie(32, 16, 4), 0);
  cut.resize(cut.size() - 40);
  kavtest::writeFile(exe, cut);
  if (GFile *g = open(exe)) {
    for (uint32_t n = 0; n < g->frameCount && n < 8; ++n) GFileGet(g, 0, 0, 100, 1.0f, 0);
    GFileClose(g);
  }
}

// Three raw 24-bit 5 x 3 frames, each one colour, a fifth of a second each.
Bytes quickTimeMovie() {
  Bytes data;
  for (uint8_t n = 0; n < 3; ++n)
    for (int i = 0; i < 5 * 3; ++i) {
      data.push_back(static_cast<uint8_t>(10 + n));
      data.push_back(static_cast<uint8_t>(20 + n));
      data.push_back(static_cast<uint8_t>(30 + n));
    }
  qttest::TrackSpec v{"vide"};
  v.entries = {qttest::videoEntry("raw ", 5, 3, 24)};
  v.times = {{3, 120}};
  v.chunkRuns = {{1, 3}};
  v.uniformSize = 45;
  v.sampleCount = 3;
  v.offsets = {8};
  v.duration = 360;
  return qttest::movie(data, 600, 360, {v});
}

TEST(GFileQuickTime, FramesColoursAndRate) {
  kavtest::TempDir dir;
  const std::string name = dir.file("clip.mov");
  kavtest::writeFile(name, quickTimeMovie());
  for (uint32_t flags : {0u, static_cast<uint32_t>(GFILE_PREFER_QUICKTIME)}) {
    SCOPED_TRACE(flags);
    // Found with and without its extension.
    for (const std::string &n : {name, dir.file("clip")}) {
      GFile *g = open(n, flags);
      ASSERT_NE(g, nullptr) << n;
      EXPECT_EQ(g->kind, GFILE_KIND_QUICKTIME);
      EXPECT_STREQ(g->kindName, "QuickTime");
      EXPECT_EQ(g->sourceWidth, 5u);
      EXPECT_EQ(g->sourceHeight, 3u);
      EXPECT_EQ(g->totalFrames, 3u);
      EXPECT_EQ(g->frameCount, 3u);
      EXPECT_EQ(g->hasSound, 0u);
      ASSERT_NE(g->nativeRateDenominator, 0u);
      EXPECT_EQ(g->nativeRateNumerator / g->nativeRateDenominator, 5u);
      EXPECT_EQ(std::string(g->name), name);
      for (uint32_t f = 0; f < 3; ++f) {
        ASSERT_EQ(GFileGet(g, 0, 0, 100, 1.0f, 0) & 0xFF, 1u) << f;
        const uint32_t want = (10u + f) << 16 | (20u + f) << 8 | (30u + f);
        for (uint32_t y = 0; y < 3; ++y)
          for (uint32_t x = 0; x < 5; ++x) ASSERT_EQ(pixel32(g, x, y) & 0xFFFFFF, want) << f << " " << x << "," << y;
      }
      GFileClose(g);
    }
  }
}

TEST(GFileQuickTime, DamagedMoviesFailCleanly) {
  kavtest::TempDir dir;
  const Bytes whole = quickTimeMovie();
  const std::string name = dir.file("bad.mov");
  for (size_t cut : {size_t{8}, whole.size() / 2, whole.size() - 9}) {
    Bytes b(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(cut));
    kavtest::writeFile(name, b);
    if (GFile *g = open(name)) {
      for (uint32_t n = 0; n < g->frameCount && n < 8; ++n) GFileGet(g, 0, 0, 100, 1.0f, 0);
      GFileClose(g);
    }
  }
}

GFile *openWithPaletteFile(const std::string &name, const std::string &paletteFile, KAVStatusCallback cb = nullptr) {
  // 8-bit output; a full analysis scale copies the palette file's palette.
  return GFileOpen(name.c_str(), 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 32000, 0, 256, 0, 0, 2, paletteFile.c_str(),
                   nullptr, cb);
}

uint32_t distance(const std::vector<uint8_t> &p, uint32_t i, const uint8_t *q, uint32_t e) {
  const int dr = p[i * 3] - q[e * 3], dg = p[i * 3 + 1] - q[e * 3 + 1], db = p[i * 3 + 2] - q[e * 3 + 2];
  return static_cast<uint32_t>(dr * dr + dg * dg + db * db);
}

TEST(GFilePaletteFile, OutputTakesThePaletteOfTheNamedFile) {
  kavtest::TempDir dir;
  const uint32_t w = 16, h = 8;
  const std::vector<uint8_t> colours = colourfulPalette(), grey = greyRamp();
  const std::string source = writeFlic(dir, "src.flc", w, h, 2, colours);
  const std::string paletteFile = writeFlic(dir, "grey.flc", w, h, 1, grey);
  GFile *g = openWithPaletteFile(source, paletteFile);
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(g->trueColour, 0u);
  for (uint32_t n = 0; n < 2; ++n) {
    ASSERT_EQ(GFileGet(g, 0, 0, 100, 1.0f, 0) & 0xFF, 1u) << n;
    ASSERT_EQ(std::memcmp(g->palette, grey.data(), 768), 0) << n;
    // Each pixel shows the grey nearest to its own colour.
    const std::vector<uint8_t> pic = picture8(w, h, n);
    for (uint32_t y = 0; y < h; ++y)
      for (uint32_t x = 0; x < w; ++x) {
        const uint8_t src = pic[size_t{y} * w + x], shown = g->canvas[size_t{y} * g->canvasPitch + x];
        uint32_t best = ~0u;
        for (uint32_t e = 0; e < 256; ++e) best = std::min(best, distance(colours, src, grey.data(), e));
        ASSERT_EQ(distance(colours, src, g->palette, shown), best) << n << " " << x << "," << y;
      }
  }
  GFileClose(g);

  // A palette file that cannot be opened: no frame, and the user is told.
  messages().list.clear();
  g = openWithPaletteFile(source, dir.file("missing.flc"), record);
  if (g) {
    EXPECT_EQ(GFileGet(g, 0, 0, 100, 1.0f, 0) & 0xFF, 0u);
    GFileClose(g);
  }
  EXPECT_TRUE(messages().contains("Error opening palette graphics file.", 2));
}

}  // namespace
