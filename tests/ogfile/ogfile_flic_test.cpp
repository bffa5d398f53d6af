// The Flic target written from synthetic frames and read back with our Flic
// reader; and a Flic whose disk fills up part of the way.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "flic/flic_format.h"
#include "kavutil/flic.h"
#include "kavutil/kavnames.h"
#include "kavutil/ogfile.h"
#include "ogfile/ogfile_test_util.h"
#include "support/temp_dir.h"

namespace {

using ogtest::messages;
using ogtest::recordCallback;

// Frames that no run-length or delta coding can shrink much.
std::vector<uint8_t> noisyFrame(uint32_t w, uint32_t h, uint32_t n) {
  std::vector<uint8_t> f(size_t{w} * h);
  uint32_t s = 2654435761u * (n + 1);
  for (auto &b : f) {
    s = s * 1664525u + 1013904223u;
    b = static_cast<uint8_t>(s >> 24);
  }
  return f;
}

// Reads every frame of the Flic and checks it against frames[i] (w columns
// of each row compared).
void expectFrames(const std::string &name, uint32_t w, uint32_t h, const std::vector<std::vector<uint8_t>> &frames,
                  uint32_t pitch, const std::vector<std::vector<uint8_t>> &palettes) {
  KAVFlic *f = KAVFlicOpen(name.c_str());
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(f->frameCount, frames.size());
  EXPECT_EQ(f->width, (w + 3) & ~3u);
  EXPECT_EQ(f->height, h);
  std::vector<uint8_t> buffer(size_t{f->pitch} * f->paddedHeight);
  for (size_t i = 0; i < frames.size(); ++i) {
    ASSERT_NE(KAVFlicGetNext(f, buffer.data()), 0);
    for (uint32_t y = 0; y < h; ++y)
      ASSERT_EQ(std::memcmp(&buffer[y * f->pitch], &frames[i][y * pitch], w), 0) << "frame " << i << " row " << y;
    if (!palettes.empty()) {
      ASSERT_EQ(std::memcmp(KAVFlicGetPalette(f), palettes[i].data(), 768), 0) << "frame " << i;
    }
  }
  KAVFlicClose(f);
}

TEST(OGFileFlic, FramesAndPalettesReadBack) {
  kavtest::TempDir tmp;
  // 13 pixels wide: the Flic is 16 wide; once in rows of 13, once in rows of 20.
  for (uint32_t pitch : {13u, 16u, 20u}) {
    SCOPED_TRACE(pitch);
    const std::string name = tmp.file("anim" + std::to_string(pitch) + ".flc");
    OGFile *o = OGFileCreate(0, name.c_str(), 6, 30000, 1001, 13, 9, pitch, nullptr, OGFILE_OVERWRITE, 1);
    ASSERT_NE(o, nullptr);
    ASSERT_NE(o->flic, nullptr);
    EXPECT_EQ(o->flic->width, 16u);
    std::vector<std::vector<uint8_t>> frames, palettes;
    for (uint32_t n = 0; n < 6; ++n) {
      frames.push_back(ogtest::pagedFrame(13, 9, pitch, n % 4));  // frames 4, 5 repeat 0, 1
      palettes.push_back(ogtest::palette(n < 3 ? 0 : 9));
      OGFilePut(o, frames.back().data(), palettes.back().data());
      EXPECT_EQ(o->bytesWritten, KAVFileSize(o->flic->file));
    }
    EXPECT_EQ(o->errorFlag, 0u);
    const uint32_t size = OGFileClose(o);
    EXPECT_EQ(size, kavfilesize(name.c_str()));
    expectFrames(name, 13, 9, frames, pitch, palettes);
    KAVFlic *f = KAVFlicOpen(name.c_str());
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->rate, -3336);  // 100000 * 1001 / 30000, in 1/100000 s
    KAVFlicClose(f);
  }
}

TEST(OGFileFlic, AFullDiskLeavesAHeaderForTheFramesThatReachedIt) {
  kavtest::TempDir tmp;
  const std::string name = tmp.file("full.flc");
  messages().clear();
  OGFile *o = OGFileCreate(0, name.c_str(), 40, 15, 1, 64, 64, 64, recordCallback, OGFILE_OVERWRITE, 1);
  ASSERT_NE(o, nullptr);
  std::vector<std::vector<uint8_t>> frames;
  const auto pal = ogtest::palette(3);
  {
    ogtest::FileSizeLimit limit(100000);  // room for about 24 of the 40 frames
    for (uint32_t n = 0; n < 40; ++n) {
      frames.push_back(noisyFrame(64, 64, n));
      OGFilePut(o, frames.back().data(), pal.data());
    }
    EXPECT_EQ(o->errorFlag, 1u);
    OGFileClose(o);
  }
  ASSERT_EQ(messages().size(), 1u);
  EXPECT_EQ(messages()[0].text, "Error writing the output file.");
  EXPECT_EQ(messages()[0].code, 2);

  KAVFlic *f = KAVFlicOpen(name.c_str());
  ASSERT_NE(f, nullptr);
  const uint32_t kept = f->frameCount;
  KAVFlicClose(f);
  EXPECT_GT(kept, 10u);
  EXPECT_LT(kept, 40u);
  frames.resize(kept);
  expectFrames(name, 64, 64, frames, 64, {});
  // The header's size is where the last whole frame ends.
  const auto bytes = kavtest::readFile(name);
  ASSERT_GE(bytes.size(), 128u);
  const uint32_t declared = bytes[0] | bytes[1] << 8 | bytes[2] << 16 | uint32_t{bytes[3]} << 24;
  EXPECT_LE(declared, bytes.size());
  EXPECT_LE(bytes.size(), 100000u);
}

// A Flic that the format cannot take further: past 65535 frames (the
// header's 16-bit count) or past the size our own file layer reads back
// (lowered here for the test). The output stops with its own message and no
// write error, and the file reads back whole with every frame it took.
TEST(OGFileFlic, AFullFlicStopsWithAWholeFile) {
  struct Case {
    const char *name;
    uint32_t frames, width, sizeLimit;
    const char *message;
    uint32_t kept;  // 0: some, fewer than asked
  };
  const Case cases[] = {
      {"frames", 65536, 2, 0, "The output flic is full: a flic holds at most 65535 frames.", 65535},
      {"bytes", 40, 64, 3000, "The output flic is full: a flic file must stay below 4 GB.", 0},
  };
  kavtest::TempDir tmp;
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    const std::string name = tmp.file(std::string(c.name) + ".flc");
    messages().clear();
    kav::flic::setWriterFileLimitForTests(c.sizeLimit);
    OGFile *o = OGFileCreate(0, name.c_str(), c.frames, 30, 1, c.width, 2, c.width, recordCallback,
                             OGFILE_OVERWRITE, 1);
    ASSERT_NE(o, nullptr);
    const auto pal = ogtest::palette(3);
    std::vector<std::vector<uint8_t>> frames;
    uint32_t taken = 0;
    for (uint32_t n = 0; n < c.frames && !o->errorFlag; ++n, ++taken) {
      frames.push_back(noisyFrame(c.width, 2, n));
      OGFilePut(o, frames.back().data(), pal.data());
    }
    for (int extra = 0; extra < 2; ++extra) OGFilePut(o, frames.back().data(), pal.data());  // said once only
    EXPECT_EQ(o->errorFlag, 1u);
    EXPECT_EQ(o->flic->writeError, 0u);
    const uint32_t size = OGFileClose(o);
    kav::flic::setWriterFileLimitForTests(0);
    ASSERT_EQ(messages().size(), 1u);
    EXPECT_EQ(messages()[0].text, c.message);
    EXPECT_EQ(messages()[0].code, 2);
    if (c.sizeLimit) {
      EXPECT_LE(size, c.sizeLimit);
    }

    frames.pop_back();  // the frame that did not fit
    if (c.kept) {
      EXPECT_EQ(frames.size(), c.kept);
    }
    EXPECT_EQ(taken - 1, frames.size());
    EXPECT_GT(frames.size(), 2u);
    expectFrames(name, c.width, 2, frames, c.width, {});
    const auto bytes = kavtest::readFile(name);
    ASSERT_GE(bytes.size(), 128u);
    EXPECT_EQ(bytes[0] | bytes[1] << 8 | bytes[2] << 16 | uint32_t{bytes[3]} << 24, bytes.size());
    EXPECT_EQ(bytes[6] | bytes[7] << 8, frames.size());
  }
}

}  // namespace
