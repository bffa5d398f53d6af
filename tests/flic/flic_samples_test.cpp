// The reader on real files from another program's test suite: the usable
// ones must show the pictures an independent decoder (Pillow) shows; the
// damaged ones must fail or decode without crashing or hanging.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "flic/flic_test_util.h"
#include "kavutil/flic.h"

using namespace flictest;

namespace {

const std::string kSamples = KAV_FLIC_SAMPLES_DIR;

#define REQUIRE_SAMPLES()                                                             \
  if (!std::filesystem::is_directory(kSamples)) GTEST_SKIP() << "no " << kSamples; \
  static_assert(true)

// Checksums taken by hand with Pillow 9.4: FNV-1a of the width x height
// index bytes of each frame, chained over all frames (the chain starts from
// the FNV offset basis and goes on from each frame's result), and of the
// 768 palette bytes after frame 1. 2422.flc was checked with its prefix
// chunk cut out (that Pillow version rewinds onto the prefix). Pillow widens
// 64-level colours as c << 2; ours is (c << 2) | (c >> 4), so for a.fli the
// palette checksum is of Pillow's values widened the same way.
struct Sample {
  const char *name;
  uint32_t width, height, frames;
  int32_t rate;
  uint64_t firstFrame, lastFrame, chain, firstPalette;
};
const Sample kUsable[] = {
    {"hopper.fli", 128, 128, 1, -4000, 0x72e9d942c7d7dd0, 0x72e9d942c7d7dd0, 0x72e9d942c7d7dd0,
     0x94bf97f13f7b2ddd},
    {"hopper_palette_chunk_second.fli", 128, 128, 1, -4000, 0x72e9d942c7d7dd0, 0x72e9d942c7d7dd0,
     0x72e9d942c7d7dd0, 0x94bf97f13f7b2ddd},
    {"2422.flc", 320, 200, 27, -17100, 0x82aa1d778c5e04a1, 0x82aa1d778c5e04a1, 0x5ec13101e5fa0fa2,
     0x1583e60b1584539c},
    {"a.fli", 320, 200, 384, -7142, 0x3042e7d7b5ad6305, 0xdd01e21a4d8103ce, 0xe9cacf79fae14d36,
     0xd120c2ac6baca6a3},
};

class FlicSamples : public ::testing::TestWithParam<Sample> {};

TEST_P(FlicSamples, DecodesThePicturesAnotherDecoderShows) {
  REQUIRE_SAMPLES();
  const Sample &s = GetParam();
  KAVFlic *f = KAVFlicOpen((kSamples + "/" + s.name).c_str());
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->width, s.width);
  EXPECT_EQ(f->height, s.height);
  EXPECT_EQ(f->frameCount, s.frames);
  EXPECT_EQ(f->rate, s.rate);
  std::vector<uint8_t> buf(static_cast<size_t>(f->pitch) * f->paddedHeight);
  uint64_t chain = 1469598103934665603ull;
  std::vector<uint64_t> hashes;
  for (uint32_t i = 0; i < s.frames; ++i) {
    KAVFlicGetNext(f, buf.data());
    ASSERT_EQ(f->framesDecoded, i + 1);
    const uint64_t h = pictureHash(buf.data(), f->width, f->height, f->pitch);
    hashes.push_back(h);
    for (uint32_t y = 0; y < f->height; ++y)
      for (uint32_t x = 0; x < f->width; ++x) {
        chain ^= buf[static_cast<size_t>(y) * f->pitch + x];
        chain *= 1099511628211ull;
      }
    if (i == 0) {
      EXPECT_EQ(bytesHash(KAVFlicGetPalette(f), 768), s.firstPalette) << std::hex << bytesHash(KAVFlicGetPalette(f), 768);
    }
  }
  EXPECT_EQ(hashes.front(), s.firstFrame) << std::hex << hashes.front();
  EXPECT_EQ(hashes.back(), s.lastFrame) << std::hex << hashes.back();
  EXPECT_EQ(chain, s.chain) << std::hex << chain;

  // Looping comes back to frame 1; seeking lands on the same pictures.
  KAVFlicGetNext(f, buf.data());
  EXPECT_EQ(pictureHash(buf.data(), f->width, f->height, f->pitch), s.firstFrame);
  const uint32_t mid = s.frames / 2 + 1;
  EXPECT_NE(KAVFlicGoto(f, mid, buf.data()), 0);
  EXPECT_EQ(pictureHash(buf.data(), f->width, f->height, f->pitch), hashes[mid - 1]);
  EXPECT_NE(KAVFlicGoto(f, s.frames, buf.data()), 0);
  EXPECT_EQ(pictureHash(buf.data(), f->width, f->height, f->pitch), s.lastFrame);
  KAVFlicClose(f);
}

INSTANTIATE_TEST_SUITE_P(Usable, FlicSamples, ::testing::ValuesIn(kUsable),
                         [](const ::testing::TestParamInfo<Sample> &i) {
                           std::string n = i.param.name;
                           std::replace_if(n.begin(), n.end(), [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); }, '_');
                           return n;
                         });

TEST(FlicSamplesDamaged, NeitherCrashNorHang) {
  REQUIRE_SAMPLES();
  const std::vector<std::string> usable = {"hopper.fli", "hopper_palette_chunk_second.fli", "2422.flc", "a.fli"};
  size_t damaged = 0;
  for (const auto &e : std::filesystem::recursive_directory_iterator(kSamples)) {
    const std::string name = e.path().filename().string();
    if (!e.is_regular_file() || e.path().extension() == ".md") continue;
    if (std::find(usable.begin(), usable.end(), name) != usable.end()) continue;
    ++damaged;
    KAVFlic *f = KAVFlicOpen(e.path().string().c_str());
    if (!f) continue;
    std::vector<uint8_t> buf(static_cast<size_t>(f->pitch) * f->paddedHeight + 64, 0xA5);
    const size_t picture = buf.size() - 64;
    // A full pass and a little more, then seeks: every read must end.
    const uint32_t reads = std::min<uint32_t>(f->frameCount, 400) + 3;
    for (uint32_t i = 0; i < reads; ++i) KAVFlicGetNext(f, buf.data());
    KAVFlicGoto(f, f->frameCount, buf.data());
    KAVFlicGoto(f, 2, buf.data());
    for (size_t i = picture; i < buf.size(); ++i) ASSERT_EQ(buf[i], 0xA5) << name;
    KAVFlicClose(f);
  }
  EXPECT_EQ(damaged, 45u);
}

}  // namespace
