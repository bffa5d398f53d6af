// Numbered still images: the name pattern, the description, the depths, and
// every format read back with our own readers, pixel for pixel.
#include <gtest/gtest.h>

#include <cstdio>
#include <dirent.h>
#include <string>

#include "kavutil/kavnames.h"
#include "kavutil/ogfile.h"
#include "ogfile/ogfile_test_util.h"
#include "platform/stillimage/still_image.h"
#include "support/temp_dir.h"

namespace {

using kav::still::Format;
using kav::still::StillImage;
using ogtest::messages;
using ogtest::recordCallback;

std::vector<std::string> filesIn(const std::string &dir) {
  std::vector<std::string> out;
  DIR *d = opendir(dir.c_str());
  while (dirent *e = d ? readdir(d) : nullptr) {
    const std::string n = e->d_name;
    if (n != "." && n != "..") out.push_back(n);
  }
  if (d) closedir(d);
  std::sort(out.begin(), out.end());
  return out;
}

struct Loaded {
  StillImage image{};
  explicit Loaded(Format f, const std::string &name) { result = kav::still::stillFormat(f).load(name.c_str(), &image); }
  ~Loaded() { kav::still::stillRelease(&image); }
  int result;
  // The picture's pixel (x, y), y from the top, as 0x00RRGGBB.
  uint32_t rgb(int x, int y) const {
    const uint8_t *row = image.buffer + (image.height - 1 - y) * image.pitchBytes;
    if (image.bitsPerPixel == 8) {
      const uint8_t *c = image.palette[row[x]];
      return uint32_t{c[2]} << 16 | c[1] << 8 | c[0];
    }
    const uint8_t *p = row + x * (image.bitsPerPixel / 8);
    return uint32_t{p[2]} << 16 | p[1] << 8 | p[0];
  }
};

TEST(OGFileStill, NumberedNamesAndTheDescription) {
  kavtest::TempDir tmp;
  OGFile *o = OGFileCreate(0, tmp.file("shot.bmp").c_str(), 120, 15, 1, 3, 2, 3, nullptr, OGFILE_OVERWRITE, 0);
  ASSERT_NE(o, nullptr);
  EXPECT_EQ(std::string(o->name), tmp.file("shot%03i.bmp"));
  uint32_t total = 0;
  for (uint32_t n = 0; n < 120; ++n) {
    const auto f = ogtest::trueColourFrame(3, 2, 3, n);
    OGFilePut(o, f.data(), nullptr);
    total += kavfilesize(tmp.file("shot" + std::string(n < 10 ? "00" : n < 100 ? "0" : "") + std::to_string(n) + ".bmp").c_str());
    if (n == 0) {
      EXPECT_EQ(std::string(o->description), "shot000.bmp");
    }
  }
  EXPECT_EQ(std::string(o->firstName), "shot000.bmp");
  EXPECT_EQ(std::string(o->description), "shot000.bmp to shot119.bmp");
  EXPECT_EQ(o->frameNumber, 120u);
  EXPECT_EQ(o->errorFlag, 0u);
  EXPECT_EQ(o->bytesWritten, total);
  EXPECT_EQ(OGFileClose(o), total);
  const auto files = filesIn(tmp.path());
  ASSERT_EQ(files.size(), 120u);  // no temporary file is left
  EXPECT_EQ(files.front(), "shot000.bmp");
  EXPECT_EQ(files.back(), "shot119.bmp");

  // The number format follows the frame count.
  const std::pair<uint32_t, const char *> widths[] = {
      {1, "one.png"}, {2, "one%01i.png"}, {10, "one%02i.png"}, {1000, "one%04i.png"}, {10000, "one%05i.png"}};
  for (const auto &[count, pattern] : widths) {
    o = OGFileCreate(0, tmp.file("one.png").c_str(), count, 15, 1, 3, 2, 3, nullptr, OGFILE_OVERWRITE, 0);
    ASSERT_NE(o, nullptr);
    EXPECT_EQ(std::string(o->name), tmp.file(pattern));
    OGFileClose(o);
  }
  // A '%' of the name stays part of the name.
  o = OGFileCreate(0, tmp.file("100%.png").c_str(), 2, 15, 1, 3, 2, 3, nullptr, OGFILE_OVERWRITE, 0);
  ASSERT_NE(o, nullptr);
  const auto f = ogtest::trueColourFrame(3, 2, 3, 0);
  OGFilePut(o, f.data(), nullptr);
  OGFileClose(o);
  EXPECT_GT(kavfilesize(tmp.file("100%0.png").c_str()), 0u);
}

TEST(OGFileStill, ASingleFrameHasNoNumber) {
  kavtest::TempDir tmp;
  OGFile *o = OGFileCreate(0, tmp.file("still.png").c_str(), 1, 15, 1, 5, 4, 5, nullptr, OGFILE_OVERWRITE, 0);
  ASSERT_NE(o, nullptr);
  const auto f = ogtest::trueColourFrame(5, 4, 5, 1);
  OGFilePut(o, f.data(), nullptr);
  EXPECT_EQ(std::string(o->description), "still.png");
  OGFileClose(o);
  EXPECT_EQ(filesIn(tmp.path()), std::vector<std::string>{"still.png"});
}

struct Target {
  const char *ext;
  Format format;
  uint32_t mode;   // 0 true colour, 1 paletted
  bool lossy;
};

TEST(OGFileStill, EveryFormatReadsBackPixelForPixel) {
  kavtest::TempDir tmp;
  const Target targets[] = {
      {".bmp", Format::Bmp, 0, false}, {".bmp", Format::Bmp, 1, false}, {".png", Format::Png, 0, false},
      {".png", Format::Png, 1, false}, {".tga", Format::Tga, 0, false}, {".tga", Format::Tga, 1, false},
      {".tif", Format::Tiff, 0, false}, {".tif", Format::Tiff, 1, false}, {".pcx", Format::Pcx, 1, false},
      {".gif", Format::Gif, 1, false}, {".jpg", Format::Jpeg, 0, true}, {".jpg", Format::Jpeg, 1, true},
  };
  const uint32_t w = 13, h = 7, pitch = 16;
  for (const Target &t : targets) {
    SCOPED_TRACE(std::string(t.ext) + (t.mode ? " 8-bit" : " 24-bit"));
    const std::string base = tmp.file(std::string("pic") + (t.mode ? "p" : "t") + t.ext);
    OGFile *o = OGFileCreate(0, base.c_str(), 2, 15, 1, w, h, pitch, nullptr, OGFILE_OVERWRITE, t.mode);
    ASSERT_NE(o, nullptr);
    std::vector<std::vector<uint32_t>> expected;
    for (uint32_t n = 0; n < 2; ++n) {
      std::vector<uint32_t> want(w * h);
      if (t.mode) {
        const auto f = ogtest::pagedFrame(w, h, pitch, n);
        const auto p = ogtest::palette(n * 40);
        for (uint32_t y = 0; y < h; ++y)
          for (uint32_t x = 0; x < w; ++x) {
            const uint8_t *c = &p[3 * f[y * pitch + x]];
            want[y * w + x] = uint32_t{c[0]} << 16 | c[1] << 8 | c[2];
          }
        OGFilePut(o, f.data(), p.data());
      } else {
        const auto f = ogtest::trueColourFrame(w, h, pitch, n);
        for (uint32_t y = 0; y < h; ++y)
          for (uint32_t x = 0; x < w; ++x) want[y * w + x] = f[y * pitch + x];
        OGFilePut(o, f.data(), nullptr);
      }
      expected.push_back(want);
    }
    EXPECT_EQ(o->errorFlag, 0u);
    const uint32_t bits = o->bits;
    OGFileClose(o);
    for (uint32_t n = 0; n < 2; ++n) {
      std::string name = base;
      name.insert(name.size() - 4, std::to_string(n));
      Loaded l(t.format, name);
      ASSERT_EQ(l.result, 0) << name;
      ASSERT_EQ(l.image.pictureWidth, static_cast<int32_t>(w));
      ASSERT_EQ(l.image.pictureHeight, static_cast<int32_t>(h));
      if (!t.lossy) {
        EXPECT_EQ(l.image.bitsPerPixel, static_cast<int32_t>(bits));
      }
      int worst = 0;
      for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
          const uint32_t got = l.rgb(x, y), want = expected[n][y * w + x];
          if (!t.lossy) {
            ASSERT_EQ(got, want) << "pixel " << x << "," << y << " of " << name;
            continue;
          }
          for (int s = 0; s < 24; s += 8)
            worst = std::max(worst, std::abs(static_cast<int>((got >> s) & 0xFF) - static_cast<int>((want >> s) & 0xFF)));
        }
      if (t.lossy) {
        EXPECT_LT(worst, 80);  // a busy 13 x 7 test card at quality 100
      }
    }
  }
  // An 8-bit TGA target is written at 24 bits.
  Loaded l(Format::Tga, tmp.file("picp0.tga"));
  EXPECT_EQ(l.image.bitsPerPixel, 24);
}

TEST(OGFileStill, AFailedSaveKeepsTheOldFileAndLeavesNoTemporary) {
  kavtest::TempDir tmp;
  const std::vector<uint8_t> old(10, 7);
  kavtest::writeFile(tmp.file("big1.bmp"), old);
  messages().clear();
  OGFile *o = OGFileCreate(0, tmp.file("big.bmp").c_str(), 3, 15, 1, 64, 64, 64, recordCallback, OGFILE_OVERWRITE, 0);
  ASSERT_NE(o, nullptr);
  const auto f = ogtest::trueColourFrame(64, 64, 64, 0);
  OGFilePut(o, f.data(), nullptr);
  EXPECT_EQ(o->errorFlag, 0u);
  {
    ogtest::FileSizeLimit limit(4096);  // the picture takes 12 KiB
    OGFilePut(o, f.data(), nullptr);
  }
  EXPECT_EQ(o->errorFlag, 1u);
  OGFilePut(o, f.data(), nullptr);
  EXPECT_EQ(o->errorFlag, 1u);  // never cleared
  EXPECT_EQ(std::string(o->description), "big0.bmp to big2.bmp");
  const uint32_t size = OGFileClose(o);
  EXPECT_EQ(size, 2 * kavfilesize(tmp.file("big0.bmp").c_str()));
  EXPECT_EQ(kavtest::readFile(tmp.file("big1.bmp")), old);
  EXPECT_EQ(filesIn(tmp.path()), (std::vector<std::string>{"big0.bmp", "big1.bmp", "big2.bmp"}));
  ASSERT_EQ(messages().size(), 1u);
  EXPECT_EQ(messages()[0].code, 2);
  EXPECT_EQ(messages()[0].text, "Error writing the output file.");
}

// The 4096-pixel limit belongs to the still-image input. Output takes any
// size the format's fields hold (the largest for the 16-bit formats), and
// a refusal says why: the format's limit, or an image too large for memory.
TEST(OGFileStill, PicturesPast4096PixelsAreWrittenUpToTheFormatsLimit) {
  struct Case {
    const char *extension;
    Format format;
    uint32_t width;  // written: past 4096, the format's largest where it is 16-bit
    uint32_t most;
  };
  const Case cases[] = {
      {".bmp", Format::Bmp, 5000, 0x7FFFFFFF},  {".png", Format::Png, 5000, 0x7FFFFFFF},
      {".tif", Format::Tiff, 5000, 0x7FFFFFFF}, {".jpg", Format::Jpeg, 65500, 65500},
      {".pcx", Format::Pcx, 65534, 65534},      {".tga", Format::Tga, 65535, 65535},
      {".gif", Format::Gif, 65535, 65535},
  };
  kavtest::TempDir tmp;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.extension);
    const std::string name = tmp.file(std::string("wide") + c.extension);
    messages().clear();
    for (const auto &[w, h] : {std::pair{c.most + 1, 1u}, std::pair{1u, c.most + 1}}) {
      EXPECT_EQ(OGFileCreate(0, name.c_str(), 1, 15, 1, w, h, w, recordCallback, OGFILE_OVERWRITE, 1), nullptr);
    }
    ASSERT_EQ(messages().size(), 2u);
    EXPECT_EQ(messages()[0].text, "The picture is too large for a " + std::string(kav::still::stillFormat(c.format).name) +
                                      " file: at most " + std::to_string(c.most) + " pixels a side.");
    EXPECT_EQ(messages()[0].code, 2);

    OGFile *o = OGFileCreate(0, name.c_str(), 1, 15, 1, c.width, 3, c.width, recordCallback, OGFILE_OVERWRITE, 1);
    ASSERT_NE(o, nullptr);
    const auto f = ogtest::pagedFrame(c.width, 3, c.width, 1);
    OGFilePut(o, f.data(), ogtest::palette(2).data());
    EXPECT_EQ(o->errorFlag, 0u);
    OGFileClose(o);
    EXPECT_EQ(messages().size(), 2u);
    kav::still::StillInfo info{};
    ASSERT_EQ(kav::still::stillFormat(c.format).info(name.c_str(), &info), 0);
    EXPECT_EQ(info.width, static_cast<int32_t>(c.width));
    EXPECT_EQ(info.height, 3);
  }
  // Within the format's limit but beyond what an image buffer holds.
  messages().clear();
  EXPECT_EQ(OGFileCreate(0, tmp.file("huge.png").c_str(), 1, 15, 1, 70000, 70000, 70000, recordCallback,
                         OGFILE_OVERWRITE, 1),
            nullptr);
  ASSERT_EQ(messages().size(), 1u);
  EXPECT_EQ(messages()[0].text, "The picture is too large: an image in memory holds at most 4 GB.");
}

}  // namespace
