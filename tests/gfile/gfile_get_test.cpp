// Frame delivery: stepping at the output rate, every kind in both output
// depths, filters, palettes, lists, reset and damaged sources.
#include <gtest/gtest.h>
#include <kavutil/vornfile.h>

#include <cstdio>
#include <cstring>

#include "platform/avi/avi_file.h"
#include "platform/stillimage/still_image.h"
#include "support/vorn_fill_movie.h"
#include "tests/avi/avi_builder.h"
#include "tests/gfile/gfile_test_util.h"

namespace gtest_gfile {
namespace {

namespace avi = kav::avi;
namespace still = kav::still;

uint32_t get(GFile *g, float gamma = 1.0f, uint32_t contrast = 0, int32_t bright = 100) {
  return GFileGet(g, 0, contrast, bright, gamma, 0);
}

// Which source frame of picture8 the canvas shows (8-bit output, copied).
int frameShown(const GFile *g, uint32_t w, uint32_t h, int frames) {
  for (int n = 0; n < frames; ++n) {
    const auto p = picture8(w, h, n);
    bool same = true;
    for (uint32_t y = 0; y < h && same; ++y) same = std::memcmp(g->canvas + y * g->canvasPitch, &p[y * w], w) == 0;
    if (same) return n + 1;
  }
  return 0;
}

TEST(GFileGet, OutputRateRepeatsOrSkipsSourceFrames) {
  kavtest::TempDir dir;
  const std::string flc = writeFlic(dir, "t.flc", 16, 8, 10);
  GFile *g = open(flc, 1, 0, 0, 5, 1);
  ASSERT_NE(g, nullptr);
  ASSERT_EQ(g->outputFrameCount, 5u);
  std::vector<int> shown;
  for (int i = 0; i < 5; ++i) {
    ASSERT_EQ(get(g) & 0xFF, 1u);
    shown.push_back(frameShown(g, 16, 8, 10));
  }
  EXPECT_EQ(shown, (std::vector<int>{1, 3, 5, 7, 9}));
  EXPECT_EQ(g->endFlag, 1u);
  // Reset gives the same frames again.
  GFileReset(g);
  shown.clear();
  for (int i = 0; i < 5; ++i) {
    get(g);
    shown.push_back(frameShown(g, 16, 8, 10));
  }
  EXPECT_EQ(shown, (std::vector<int>{1, 3, 5, 7, 9}));
  GFileClose(g);

  g = open(flc, 1, 0, 0, 20, 1);
  ASSERT_EQ(g->outputFrameCount, 20u);
  shown.clear();
  for (int i = 0; i < 20; ++i) {
    get(g);
    shown.push_back(frameShown(g, 16, 8, 10));
  }
  for (int i = 0; i < 20; ++i) EXPECT_EQ(shown[i], i / 2 + 1);
  GFileClose(g);
}

TEST(GFileGet, SkippingAndProgressMessages) {
  kavtest::TempDir dir;
  const auto pal = colourfulPalette();
  std::vector<std::vector<uint8_t>> frames;
  for (uint32_t n = 0; n < 10; ++n) frames.push_back(picture8(8, 8, n));
  // The raw file carries its palette in the first frame only, which is
  // skipped: the palette still holds for the frames delivered.
  for (const std::string &file : {writeFlic(dir, "s.flc", 8, 8, 10), writeRaw(dir, "s.raw", 8, 8, frames, pal)}) {
    SCOPED_TRACE(file);
    messages().list.clear();
    GFile *g = open(file, 0, 0, 0, 0, 0, 0, 0, 4, 0, record);
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(g->frameCount, 7u);
    get(g);
    ASSERT_GE(messages().list.size(), 4u);
    EXPECT_EQ(messages().list[0], (std::pair<std::string, int32_t>{"Processing frame 4 of 10...", 0}));
    EXPECT_EQ(messages().list[1], (std::pair<std::string, int32_t>{"Skipping frame 1...", 1}));
    EXPECT_EQ(messages().list[2], (std::pair<std::string, int32_t>{"Skipping frame 2...", 0}));
    EXPECT_EQ(messages().list[3], (std::pair<std::string, int32_t>{"Skipping frame 3...", 0}));
    EXPECT_EQ(pixel32(g, 1, 1), rgbOf(pal, picture8(8, 8, 3)[9]));
    get(g);
    EXPECT_EQ(pixel32(g, 1, 1), rgbOf(pal, picture8(8, 8, 4)[9]));
    GFileClose(g);
  }
}

uint32_t KAVAPI cancel(const char *, int32_t) { return 0x101; }

TEST(GFileGet, CancelFromTheCallback) {
  kavtest::TempDir dir;
  GFile *g = open(writeFlic(dir, "c.flc", 8, 8, 2), 0, 0, 0, 0, 0, 0, 0, 0, 0, cancel);
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(get(g) & 0xFF, 0u);
  EXPECT_EQ(g->framesRead, 0u);
  GFileClose(g);
}

TEST(GFileGet, GammaContrastAndBrightness) {
  kavtest::TempDir dir;
  std::vector<uint8_t> frame = {128, 10, 245, 100};
  const std::string raw = writeRaw(dir, "g.raw", 4, 1, {frame}, greyRamp());
  GFile *g = open(raw);
  ASSERT_NE(g, nullptr);
  get(g, 1.00005f);
  EXPECT_EQ(pixel32(g, 0, 0), 0x808080u);
  GFileReset(g);
  get(g, 2.0f);
  EXPECT_EQ(pixel32(g, 0, 0), 0x404040u);
  GFileReset(g);
  get(g, 1.0f, 10);
  EXPECT_EQ(pixel32(g, 1, 0), 0u);
  EXPECT_EQ(pixel32(g, 2, 0), 0xFFFFFFu);
  EXPECT_EQ(pixel32(g, 3, 0), 0x616161u);  // 97
  GFileReset(g);
  get(g, 1.0f, 0, 200);
  EXPECT_EQ(pixel32(g, 0, 0), 0xFFFFFFu);
  EXPECT_EQ(pixel32(g, 1, 0), 0x141414u);
  GFileClose(g);
}

TEST(GFileGet, RawOddWidthKeepsRows) {
  kavtest::TempDir dir;
  const auto pic = picture8(5, 3, 0);
  const std::string raw = writeRaw(dir, "o.raw", 5, 3, {pic, picture8(5, 3, 1)}, greyRamp());
  GFile *g = open(raw, 1);
  ASSERT_NE(g, nullptr);
  get(g);
  for (uint32_t y = 0; y < 3; ++y) EXPECT_EQ(std::memcmp(g->canvas + y * 8, &pic[y * 5], 5), 0) << y;
  GFileClose(g);
  // Truncated: the second frame is cut short and the range ends with one.
  auto bytes = kavtest::readFile(raw);
  bytes.resize(bytes.size() - 4);
  kavtest::writeFile(raw, bytes);
  g = open(raw, 1);
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(get(g) & 0xFF, 1u);
  EXPECT_EQ(get(g) & 0xFF, 1u);
  EXPECT_EQ(g->endFlag, 1u);
  EXPECT_EQ(g->framesRead, 1u);
  for (uint32_t y = 0; y < 3; ++y) EXPECT_EQ(std::memcmp(g->canvas + y * 8, &pic[y * 5], 5), 0) << y;
  GFileClose(g);
}

// An AVI of uncompressed frames at `bits` (4, 8 or 24).
std::string writeAvi(kavtest::TempDir &dir, const char *name, uint32_t w, uint32_t h, uint16_t bits, int frames) {
  const std::string file = dir.file(name);
  avi::Writer *wr = avi::fileCreate(file.c_str());
  avi::StreamInfo i{};
  i.fccType = avi::kStreamVideo;
  i.dwScale = 1;
  i.dwRate = 10;
  i.dwQuality = -1;
  i.rcFrame = {0, 0, int32_t(w), int32_t(h)};
  avi::WriteStream *v = avi::fileCreateStream(wr, i);
  avi::BitmapInfoHeader b{};
  b.biSize = 40;
  b.biWidth = int32_t(w);
  b.biHeight = int32_t(h);
  b.biPlanes = 1;
  b.biBitCount = bits;
  const uint32_t row = avi::dibRowBytes(w, bits);
  b.biSizeImage = row * h;
  const uint32_t entries = bits <= 8 ? 1u << bits : 0;
  b.biClrUsed = entries;
  std::vector<uint8_t> fmt(40 + entries * 4);
  std::memcpy(fmt.data(), &b, 40);
  for (uint32_t e = 0; e < entries; ++e) {
    fmt[40 + e * 4] = uint8_t(e * 3);       // blue
    fmt[40 + e * 4 + 1] = uint8_t(e * 5);   // green
    fmt[40 + e * 4 + 2] = uint8_t(e * 7);   // red
  }
  if (bits == 4) {  // our writer makes 8 and 24 bits only: built by hand
    avi::fileRelease(wr);
    using namespace avitest;
    std::vector<Bytes> chunks;
    std::vector<IndexItem> items;
    uint32_t at = 4;
    for (int n = 0; n < frames; ++n) {
      Bytes px(size_t{row} * h, 0);
      for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
          const uint32_t val = (x + (h - 1 - y) * 3 + n) & 15;
          px[y * row + x / 2] |= uint8_t(x % 2 ? val : val << 4);  // left pixel in the high nibble
        }
      chunks.push_back(chunk("00db", px));
      items.push_back({"00db", 0x10, at, uint32_t(px.size())});
      at += uint32_t(chunks.back().size());
    }
    Bytes strf(fmt.begin(), fmt.end());
    std::vector<Bytes> hdrl = {mainHeader(100000, 1, w, h),
                               list("LIST", "strl", {streamHeader("vids", "DIB ", 1, 10, uint32_t(frames), 0),
                                                     chunk("strf", strf)})};
    kavtest::writeFile(file, riffAvi({list("LIST", "hdrl", hdrl), list("LIST", "movi", chunks), idx1(items)}));
    return file;
  }
  avi::streamSetFormat(v, 0, fmt.data(), int32_t(fmt.size()));
  for (int n = 0; n < frames; ++n) {
    std::vector<uint8_t> bitsData(size_t{row} * h, 0);
    for (uint32_t y = 0; y < h; ++y)  // bottom-up: memory row y is picture row h - 1 - y
      for (uint32_t x = 0; x < w; ++x) {
        const uint32_t py = h - 1 - y, val = (x + py * 3 + n) & 15;
        uint8_t *r = &bitsData[size_t{y} * row];
        if (bits == 4)
          r[x / 2] |= uint8_t(x % 2 ? val : val << 4);
        else if (bits == 8)
          r[x] = uint8_t(val);
        else
          r[x * 3] = uint8_t(val), r[x * 3 + 1] = uint8_t(val * 2), r[x * 3 + 2] = uint8_t(val * 3);
      }
    avi::streamWrite(v, n, 1, bitsData.data(), int32_t(bitsData.size()), avi::kKeyFrame, nullptr, nullptr);
  }
  avi::fileRelease(wr);
  return file;
}

TEST(GFileGet, AviFramesAtFourEightAndTwentyFourBits) {
  kavtest::TempDir dir;
  for (uint16_t bits : {4, 8, 24}) {
    const std::string file = writeAvi(dir, ("v" + std::to_string(bits) + ".avi").c_str(), 7, 5, bits, 3);
    GFile *g = open(file);
    ASSERT_NE(g, nullptr) << bits;
    EXPECT_EQ(g->kind, GFILE_KIND_AVI);
    EXPECT_EQ(g->totalFrames, 3u);
    for (int n = 0; n < 3; ++n) {
      ASSERT_EQ(get(g) & 0xFF, 1u);
      for (uint32_t y = 0; y < 5; ++y)
        for (uint32_t x = 0; x < 7; ++x) {
          const uint32_t val = (x + y * 3 + n) & 15;
          const uint32_t want = bits == 24 ? (val * 3) << 16 | (val * 2) << 8 | val
                                           : ((val * 7) & 255) << 16 | ((val * 5) & 255) << 8 | ((val * 3) & 255);
          ASSERT_EQ(pixel32(g, x, y), want) << bits << " " << x << "," << y << " frame " << n;
        }
    }
    GFileClose(g);
  }
}

TEST(GFileGet, StillImagesBothDepths) {
  kavtest::TempDir dir;
  const uint32_t w = 9, h = 6;
  for (auto fmt : {still::Format::Bmp, still::Format::Png, still::Format::Tga, still::Format::Pcx}) {
    const still::FormatEntry &f = still::stillFormat(fmt);
    still::StillImage img{};
    ASSERT_EQ(still::stillAllocate(&img, w, h, 24), still::kStillOk);
    for (uint32_t y = 0; y < h; ++y)
      for (uint32_t x = 0; x < w; ++x) {
        uint8_t *p = img.buffer + (h - 1 - y) * img.pitchBytes + x * 3;
        p[0] = uint8_t(x * 20), p[1] = uint8_t(y * 30), p[2] = uint8_t(200 - x * 10);
      }
    img.pictureWidth = w;
    img.pictureHeight = h;
    const std::string name = dir.file(std::string("s") + f.extension);
    ASSERT_EQ(f.save(name.c_str(), &img, f.saveOption), still::kStillOk) << f.name;
    still::stillRelease(&img);
    GFile *g = open(name);
    ASSERT_NE(g, nullptr) << f.name;
    EXPECT_EQ(g->totalFrames, 1u);
    EXPECT_EQ(g->sourceBits, 24u);
    ASSERT_EQ(get(g) & 0xFF, 1u);
    for (uint32_t y = 0; y < h; ++y)
      for (uint32_t x = 0; x < w; ++x)
        ASSERT_EQ(pixel32(g, x, y), uint32_t(200 - x * 10) << 16 | (y * 30) << 8 | (x * 20)) << f.name;
    GFileClose(g);
    // 8-bit output: every pixel maps to a palette entry close to it.
    g = open(name, 1);
    ASSERT_NE(g, nullptr);
    ASSERT_EQ(get(g) & 0xFF, 1u);
    for (uint32_t y = 0; y < h; ++y)
      for (uint32_t x = 0; x < w; ++x) {
        const uint8_t *c = g->palette + g->canvas[y * g->canvasPitch + x] * 3;
        EXPECT_NEAR(c[0], 200 - int(x) * 10, 8);
        EXPECT_NEAR(c[1], int(y) * 30, 8);
        EXPECT_NEAR(c[2], int(x) * 20, 8);
      }
    GFileClose(g);
  }
}

std::string writeVorn(kavtest::TempDir &dir, const char *name, uint32_t w, uint32_t h, int frames) {
  const std::string file = dir.file(name);
  kavtest::writeFile(file, kavtest::vornf::fillMovie(w, h, frames));
  return file;
}

TEST(GFileGet, VornMatchesItsDecoderAndEightBitPaletteStaysStable) {
  kavtest::TempDir dir;
  const uint32_t w = 32, h = 16;
  const std::string file = writeVorn(dir, "m.vrn", w, h, 3);
  VornHandle *v = VornOpen(file.c_str(), KAV_INVALID_OS_FILE, 0x8104000u);
  ASSERT_NE(v, nullptr);
  GFile *g = open(file);
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(g->kind, GFILE_KIND_VORN);
  std::vector<uint8_t> want(w * h * 4);
  for (int n = 0; n < 3; ++n) {
    VornDecodeFrame(v);
    VornCopyToBuffer(v, want.data(), int32_t(w * 4), h, 0, 0, 5u | (n == 0 ? 0x80000000u : 0));
    VornNextFrame(v);
    ASSERT_EQ(get(g) & 0xFF, 1u);
    for (uint32_t y = 0; y < h; ++y)
      for (uint32_t x = 0; x < w; ++x) {
        uint32_t p;
        std::memcpy(&p, &want[(y * w + x) * 4], 4);
        ASSERT_EQ(pixel32(g, x, y), p & 0xFFFFFF) << n;
      }
  }
  VornClose(v);
  GFileClose(g);

  // A true-colour source to 8-bit output, the palette recomputed every two
  // frames: frames that do not change keep their palette.
  const std::string still = writeVorn(dir, "still.vrn", w, h, 1);
  writeText(dir.file("same.lst"), std::string(still + " /L6\n"));
  g = GFileOpen(dir.file("same.lst").c_str(), 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 256, 0, 2, 2, nullptr,
                nullptr, nullptr);
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(g->kind, GFILE_KIND_LIST);
  EXPECT_EQ(g->frameCount, 6u);
  uint8_t previous[768];
  int changedEntries = 0;
  for (int n = 0; n < 6; ++n) {
    ASSERT_EQ(get(g) & 0xFF, 1u) << n;
    if (n > 0)
      for (int e = 0; e < 256; ++e) changedEntries += std::memcmp(previous + e * 3, g->palette + e * 3, 3) != 0;
    std::memcpy(previous, g->palette, 768);
  }
  EXPECT_EQ(changedEntries, 0);
  GFileClose(g);
}

TEST(GFileGet, ListOfMixedKindsWithRepeats) {
  kavtest::TempDir dir;
  const std::string flc = writeFlic(dir, "a.flc", 8, 4, 2);
  const std::string raw = writeRaw(dir, "b.raw", 8, 4, {picture8(8, 4, 5)}, colourfulPalette(), 10000);
  writeText(dir.file("mix.lst"), std::string("# comment\n" + flc + "\n" + raw + " /L2\n"));
  messages().list.clear();
  GFile *g = open(dir.file("mix.lst"), 1, 0, 0, 0, 0, 0, 0, 0, 0, record);
  ASSERT_NE(g, nullptr);
  EXPECT_TRUE(messages().contains("Opening " + flc + "...", 0));
  EXPECT_EQ(g->frameCount, 4u);
  std::vector<int> shown;
  for (int i = 0; i < 4; ++i) {
    ASSERT_EQ(get(g) & 0xFF, 1u);
    shown.push_back(frameShown(g, 8, 4, 6));
  }
  EXPECT_EQ(shown, (std::vector<int>{1, 2, 6, 6}));
  GFileReset(g);
  get(g);
  EXPECT_EQ(frameShown(g, 8, 4, 6), 1);
  GFileClose(g);
  // Starting inside the second entry.
  g = open(dir.file("mix.lst"), 1, 0, 0, 0, 0, 0, 0, 3, 0);
  ASSERT_NE(g, nullptr);
  get(g);
  EXPECT_EQ(frameShown(g, 8, 4, 6), 6);
  GFileClose(g);
}

// The stills of tests/data/gfile, made by ImageMagick (make.sh there):
// p00.png and p01.png are 8 x 6, p02.png is 4 x 3, each of one colour.
void copyStills(kavtest::TempDir &dir) {
  for (const char *n : {"p00.png", "p01.png", "p02.png"})
    kavtest::writeFile(dir.file(n), kavtest::readFile(std::string(KAV_GFILE_DATA_DIR "/") + n));
}

TEST(GFileGet, ListsAndSequencesOfStillsKeepEveryFrame) {
  kavtest::TempDir dir;
  copyStills(dir);
  writeText(dir.file("seq.lst"), dir.file("p00.png") + "\n" + dir.file("p01.png") + " /L2\n" + dir.file("p02.png"));
  // The colours as stored, and after contrast 40.
  const uint32_t plain[3] = {0x1EE164, 0x32CD64, 0x46B964};
  const uint32_t contrast40[3] = {0x00FF57, 0x0EF057, 0x2BD357};
  struct Case {
    const char *name;
    uint32_t inputRate, outputRate, contrast;
    std::vector<int> shown;
  };
  const Case cases[] = {
      // Each still twice at twice the rate, the last entry's repeats included.
      {"p??.png*0-2", 10, 20, 0, {0, 0, 1, 1, 2, 2}},
      {"seq.lst", 10, 20, 0, {0, 0, 1, 1, 1, 1, 2, 2}},
      {"p??.png *0-2", 0, 0, 0, {0, 1, 2}},  // the blank is no part of the names
      {"p??.png*0-2", 0, 0, 40, {0, 1, 2}},
      {"seq.lst", 0, 0, 40, {0, 1, 1, 2}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.name) + " contrast " + std::to_string(c.contrast));
    GFile *g = open(dir.file(c.name), 0, c.inputRate, 1, c.outputRate, 1);
    ASSERT_NE(g, nullptr);
    ASSERT_EQ(g->outputFrameCount, c.shown.size());
    ASSERT_EQ(g->canvasWidth, 8u);
    const uint32_t *colour = c.contrast ? contrast40 : plain;
    for (size_t n = 0; n < c.shown.size(); ++n) {
      ASSERT_EQ(get(g, 1.0f, c.contrast) & 0xFF, 1u) << n;
      const uint32_t want = colour[c.shown[n]];
      EXPECT_EQ(pixel32(g, 0, 0), want) << n;
      EXPECT_EQ(pixel32(g, 3, 2), want) << n;
      // Around the smaller picture the canvas is blank.
      EXPECT_EQ(pixel32(g, 7, 5), c.shown[n] == 2 ? 0u : want) << n;
      EXPECT_EQ(pixel32(g, 4, 0), c.shown[n] == 2 ? 0u : want) << n;
    }
    EXPECT_EQ(g->endFlag, 1u);
    GFileClose(g);
  }

  // 8-bit output: bit 8 of the result tells that the palette handed over is
  // new, not that a new entry began.
  GFile *g = open(dir.file("p??.png*0-2"), 1, 10, 1, 20, 1);
  ASSERT_NE(g, nullptr);
  uint8_t before[768] = {};
  int newPalettes = 0;
  for (int n = 0; n < 6; ++n) {
    const uint32_t r = get(g);
    ASSERT_EQ(r & 0xFF, 1u) << n;
    const bool differs = std::memcmp(before, g->palette, 768) != 0;
    EXPECT_EQ((r & 0x100) != 0, n == 0 || differs) << n;
    newPalettes += (r & 0x100) != 0;
    std::memcpy(before, g->palette, 768);
  }
  EXPECT_EQ(newPalettes, 1);  // the whole sequence was analysed at once
  GFileClose(g);

  // An entry gone by the time it is due ends the list early; the picture
  // shown last stays.
  kavtest::writeFile(dir.file("gone.png"), kavtest::readFile(dir.file("p01.png")));
  writeText(dir.file("gone.lst"), dir.file("p00.png") + "\n" + dir.file("gone.png") + "\n");
  g = open(dir.file("gone.lst"));
  ASSERT_NE(g, nullptr);
  ASSERT_EQ(g->outputFrameCount, 2u);
  std::remove(dir.file("gone.png").c_str());
  for (int n = 0; n < 3; ++n) {
    ASSERT_EQ(get(g) & 0xFF, 1u) << n;
    EXPECT_EQ(pixel32(g, 5, 5), plain[0]) << n;
  }
  EXPECT_EQ(g->endFlag, 1u);
  GFileClose(g);
}

TEST(GFileGet, ScalingSofteningAndDeinterlace) {
  kavtest::TempDir dir;
  // Even lines 0, odd lines 200.
  std::vector<uint8_t> f(8 * 8);
  for (uint32_t y = 0; y < 8; ++y) std::memset(&f[y * 8], y % 2 ? 200 : 0, 8);
  const std::string raw = writeRaw(dir, "i.raw", 8, 8, {f}, greyRamp());
  GFile *g = open(raw, GFILE_DEINTERLACE_ODD);
  ASSERT_NE(g, nullptr);
  get(g);
  for (uint32_t y = 0; y < 8; ++y) EXPECT_EQ(pixel32(g, 3, y), 0xC8C8C8u) << y;
  GFileClose(g);
  g = open(raw, GFILE_DEINTERLACE_EVEN | GFILE_DEINTERLACE_BLEND);
  get(g);
  EXPECT_EQ(pixel32(g, 3, 0), 0x323232u);  // (3 x 0 + 200) / 4
  GFileClose(g);
  // Scaled to twice the size, softened: the picture still holds its levels.
  g = open(raw, 0, 0, 0, 0, 0, -2, -2);
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(g->canvasWidth, 16u);
  EXPECT_EQ(GFileGet(g, 0x1000 | 0x1000u << 16, 0, 100, 1.0f, 0) & 0xFF, 1u);
  uint32_t lo = 255, hi = 0;
  for (uint32_t y = 0; y < 16; ++y) {
    const uint32_t c = pixel32(g, 5, y) & 0xFF;
    lo = std::min(lo, c), hi = std::max(hi, c);
  }
  EXPECT_LT(lo, 100u);
  EXPECT_GT(hi, 100u);
  GFileClose(g);
}

}  // namespace
}  // namespace gtest_gfile
