// The Flic writer, checked through the reader (round trips) and through the
// bytes it writes: header fields, chunk choices, palette packets, the ring
// frame and the header fix-up.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "flic/flic_animation.h"
#include "flic/flic_test_util.h"
#include "kavutil/flic.h"
#include "support/temp_dir.h"

using namespace flictest;

namespace {

using Frame = std::vector<uint8_t>;
using Palette = std::vector<uint8_t>;

struct Step {
  Frame pixels;
  Palette palette;  // empty: no palette given
};

Palette rampPalette(uint32_t seed) {
  Palette p(768);
  for (int i = 0; i < 768; ++i) p[i] = static_cast<uint8_t>(i * 7 + seed * 13);
  return p;
}

// Writes the steps; returns the file bytes.
Bytes writeFlic(const std::string &name, uint32_t w, uint32_t h, const std::vector<Step> &steps, int32_t rate = -4000) {
  KAVOFlic *o = KAVOFlicCreate(name.c_str(), w, h, rate);
  EXPECT_NE(o, nullptr);
  if (!o) return {};
  for (const auto &s : steps) EXPECT_EQ(KAVOFlicPutNext(o, s.pixels.data(), s.palette.empty() ? nullptr : s.palette.data()), 1);
  const uint32_t size = KAVOFlicClose(o);
  // The writer adds ".flc" to a name without an extension.
  const bool bare = name.find('.', name.rfind('/') + 1) == std::string::npos;
  Bytes file = kavtest::readFile(bare ? name + ".flc" : name);
  EXPECT_EQ(size, file.size());
  return file;
}

// Reads the file back and checks every frame and the palette after it.
void expectReadsBack(const std::string &name, uint32_t w, uint32_t h, const std::vector<Step> &steps) {
  KAVFlic *f = KAVFlicOpen(name.c_str());
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(f->frameCount, steps.size());
  std::vector<uint8_t> buf(static_cast<size_t>(f->pitch) * f->paddedHeight, 0x33);
  std::vector<Palette> palettes;
  Palette current(768, 0);
  for (const auto &s : steps) {
    if (!s.palette.empty()) current = s.palette;
    palettes.push_back(current);
  }
  auto expectFrame = [&](size_t i) {
    for (uint32_t y = 0; y < h; ++y)
      ASSERT_EQ(0, std::memcmp(buf.data() + static_cast<size_t>(y) * f->pitch, steps[i].pixels.data() + static_cast<size_t>(y) * w, w))
          << "frame " << i + 1 << " row " << y;
    for (uint32_t y = 0; y < f->paddedHeight; ++y)
      for (uint32_t x = (y < h ? w : 0); x < f->pitch; ++x) ASSERT_EQ(buf[static_cast<size_t>(y) * f->pitch + x], 0);
  };
  for (size_t i = 0; i < steps.size(); ++i) {
    const uint8_t r = KAVFlicGetNext(f, buf.data());
    const bool paletteChanged = !steps[i].palette.empty() && (i == 0 ? steps[i].palette != Palette(768, 0) : palettes[i] != palettes[i - 1]);
    EXPECT_EQ(r, paletteChanged ? 2 : 1) << "frame " << i + 1;
    expectFrame(i);
    ASSERT_EQ(0, std::memcmp(KAVFlicGetPalette(f), palettes[i].data(), 768)) << "frame " << i + 1;
  }
  // After the last frame the reader loops to frame 1 (not the ring frame).
  KAVFlicGetNext(f, buf.data());
  expectFrame(0);
  // Seeks, forwards and backwards.
  std::mt19937 rng(5);
  for (int k = 0; k < 6; ++k) {
    const uint32_t target = 1 + rng() % steps.size();
    ASSERT_NE(KAVFlicGoto(f, target, buf.data()), 0);
    expectFrame(target - 1);
  }
  KAVFlicClose(f);
}

struct Geometry {
  uint32_t w, h;
};

class FlicRoundTrip : public ::testing::TestWithParam<Geometry> {};

TEST_P(FlicRoundTrip, MovingPicturesAndPaletteChanges) {
  const auto [w, h] = GetParam();
  kavtest::TempDir dir;
  std::vector<Step> steps;
  for (uint32_t t = 0; t < 12; ++t) {
    Step s{movingFrame(w, h, t), {}};
    if (t == 0) s.palette = rampPalette(0);
    if (t == 4) {  // a few entries change
      s.palette = rampPalette(0);
      s.palette[30] ^= 1;
      s.palette[31 * 3] = 9;
      s.palette[200 * 3 + 2] = 1;
    }
    if (t == 7) s.palette = rampPalette(3);  // all entries change
    if (t == 8) s.palette = rampPalette(3);  // same as before: no colour chunk
    if (t == 9) steps.push_back(steps.back());  // an identical frame
    steps.push_back(s);
  }
  const std::string name = dir.file("anim.flc");
  writeFlic(name, w, h, steps);
  expectReadsBack(name, w, h, steps);
}

TEST_P(FlicRoundTrip, RandomChangesOfEveryDensity) {
  const auto [w, h] = GetParam();
  kavtest::TempDir dir;
  std::mt19937 rng(w * 131 + h);
  std::vector<Step> steps;
  Frame cur(static_cast<size_t>(w) * h);
  for (auto &b : cur) b = static_cast<uint8_t>(rng() % 4);
  steps.push_back({cur, rampPalette(1)});
  // From a single changed pixel to every pixel, with few or many values so
  // that runs, literals and long skips all occur.
  const double densities[] = {0.0001, 0.01, 0.1, 0.5, 1.0, 0.03, 0.9};
  for (double d : densities)
    for (uint32_t values : {2u, 256u}) {
      for (auto &b : cur)
        if (std::uniform_real_distribution<double>(0, 1)(rng) < d) b = static_cast<uint8_t>(rng() % values);
      cur[rng() % cur.size()] ^= 0x80;  // at least one change
      steps.push_back({cur, {}});
    }
  // Long equal runs ending at odd columns and a changed last pixel.
  for (uint32_t y = 0; y < h; ++y) std::memset(cur.data() + static_cast<size_t>(y) * w, static_cast<int>(y), (y * 7) % w + 1);
  cur.back() ^= 0xFF;
  steps.push_back({cur, {}});
  const std::string name = dir.file("random.flc");
  writeFlic(name, w, h, steps);
  expectReadsBack(name, w, h, steps);
}

INSTANTIATE_TEST_SUITE_P(Sizes, FlicRoundTrip,
                         ::testing::Values(Geometry{320, 200}, Geometry{318, 7}, Geometry{640, 48}, Geometry{2, 1},
                                           Geometry{100, 37}, Geometry{600, 3}),
                         [](const ::testing::TestParamInfo<Geometry> &i) {
                           return std::to_string(i.param.w) + "x" + std::to_string(i.param.h);
                         });

TEST(FlicWriterHeader, FieldsAndFixUpAtClose) {
  kavtest::TempDir dir;
  std::vector<Step> steps;
  for (uint32_t t = 0; t < 3; ++t) steps.push_back({movingFrame(320, 200, t), t == 0 ? rampPalette(0) : Palette{}});
  const Bytes file = writeFlic(dir.file("three"), 320, 200, steps, -4167);  // ".flc" is added
  ASSERT_FALSE(file.empty());
  EXPECT_EQ(get32(file, 0), file.size());
  EXPECT_EQ(get16(file, 4), 0xAF12);
  EXPECT_EQ(get16(file, 6), 3);
  EXPECT_EQ(get16(file, 8), 320);
  EXPECT_EQ(get16(file, 10), 200);
  EXPECT_EQ(get16(file, 12), 8);
  EXPECT_EQ(get16(file, 14), 3);
  EXPECT_EQ(get32(file, 16), 41u);
  EXPECT_EQ(static_cast<int32_t>(get32(file, 26)), -4167);
  EXPECT_EQ(get16(file, 38), 6);
  EXPECT_EQ(get16(file, 40), 5);
  EXPECT_EQ(get32(file, 80), 128u);
  const auto frames = walkFrames(file);
  ASSERT_EQ(frames.size(), 4u);  // three frames and the ring frame
  EXPECT_EQ(get32(file, 84), frames[1].offset);
  EXPECT_EQ(frames.back().offset + frames.back().size, file.size());
  for (const auto &f : frames) EXPECT_EQ(f.type, 0xF1FA);
  for (size_t i : {20, 22, 30, 34, 42, 60, 88, 100, 124}) EXPECT_EQ(get32(file, i), 0u) << i;
  // The reader keeps the exact duration.
  KAVFlic *r = KAVFlicOpen(dir.file("three.flc").c_str());
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->rate, -4167);
  KAVFlicClose(r);

  const Bytes ms = writeFlic(dir.file("ms.flc"), 64, 2, {{Frame(128, 1), {}}}, 66);
  EXPECT_EQ(get32(ms, 16), 66u);
  EXPECT_EQ(get32(ms, 26), 0u);
  EXPECT_EQ(get16(ms, 38), 1);
  EXPECT_EQ(get16(ms, 40), 1);
  EXPECT_EQ(get16(ms, 6), 1);
}

TEST(FlicWriterHeader, RefusesOddWidthAndEmptyPictures) {
  kavtest::TempDir dir;
  EXPECT_EQ(KAVOFlicCreate(dir.file("a.flc").c_str(), 321, 200, 50), nullptr);
  EXPECT_EQ(KAVOFlicCreate(dir.file("b.flc").c_str(), 0, 200, 50), nullptr);
  EXPECT_EQ(KAVOFlicCreate(dir.file("c.flc").c_str(), 320, 0, 50), nullptr);
  EXPECT_EQ(KAVOFlicCreate(dir.file("no/such/dir.flc").c_str(), 320, 200, 50), nullptr);
  EXPECT_EQ(KAVOFlicPutNext(nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(KAVOFlicClose(nullptr), 0u);
}

TEST(FlicWriterChunks, ChoosesEncodingsBySizeAndContent) {
  kavtest::TempDir dir;
  std::mt19937 rng(9);
  auto noise = [&](uint32_t n) {
    Frame f(n);
    for (auto &b : f) b = static_cast<uint8_t>(rng());
    return f;
  };
  // Runs of three equal bytes: no equal words and no runs of four, so the
  // deltas lose to the byte run.
  auto threes = [](uint32_t n) {
    Frame f(n);
    for (uint32_t i = 0; i < n; ++i) f[i] = static_cast<uint8_t>(1 + (i / 3) % 2);
    return f;
  };
  for (const Geometry g : {Geometry{320, 200}, Geometry{64, 40}}) {
    const uint32_t s = g.w * g.h;
    const uint16_t delta = g.w == 320 ? 12 : 7;
    Frame moved = threes(s);
    moved[s / 2] = 77;
    const std::vector<Step> steps = {{Frame(s, 5), rampPalette(0)}, {threes(s), {}}, {moved, {}}, {moved, {}}, {noise(s), {}}};
    const std::string name = dir.file("kinds" + std::to_string(g.w) + ".flc");
    const Bytes file = writeFlic(name, g.w, g.h, steps);
    const auto frames = walkFrames(file);
    ASSERT_EQ(frames.size(), 6u);
    ASSERT_EQ(frames[0].chunks.size(), 2u);
    EXPECT_EQ(frames[0].chunks[0].type, 4);
    EXPECT_EQ(frames[0].chunks[1].type, 15);  // frame 1 is a full picture
    ASSERT_EQ(frames[1].chunks.size(), 1u);
    EXPECT_EQ(frames[1].chunks[0].type, 15);  // the delta would not be smaller
    ASSERT_EQ(frames[2].chunks.size(), 1u);
    EXPECT_EQ(frames[2].chunks[0].type, delta);
    EXPECT_EQ(frames[3].size, 16u);  // identical frame: header only
    EXPECT_TRUE(frames[3].chunks.empty());
    ASSERT_EQ(frames[4].chunks.size(), 1u);
    EXPECT_EQ(frames[4].chunks[0].type, 16);  // noise does not compress
    EXPECT_EQ(frames[4].chunks[0].size, s);
    ASSERT_EQ(frames[5].chunks.size(), 1u);  // the ring frame back to frame 1
    EXPECT_EQ(frames[5].chunks[0].type, delta);
    expectReadsBack(name, g.w, g.h, steps);
  }
}

TEST(FlicWriterChunks, PalettePacketsCoverChangedRuns) {
  kavtest::TempDir dir;
  Palette p0 = rampPalette(0), p1 = p0, p2 = p1;
  p1[10 * 3] ^= 1;
  p1[11 * 3 + 2] ^= 1;
  p2 = p1;
  p2[0] ^= 1;
  p2[255 * 3] ^= 1;
  p2[100 * 3 + 1] ^= 1;
  const Frame px(16, 3);
  const Bytes file = writeFlic(dir.file("pal.flc"), 8, 2, {{px, p0}, {px, p1}, {px, p2}, {px, p2}});
  const auto frames = walkFrames(file);
  ASSERT_EQ(frames.size(), 5u);
  const auto &first = frames[0].chunks[0];
  EXPECT_EQ(first.type, 4);
  EXPECT_EQ(first.size, 2u + 2 + 768);
  EXPECT_EQ(get16(file, first.offset), 1);
  EXPECT_EQ(file[first.offset + 2], 0);
  EXPECT_EQ(file[first.offset + 3], 0);  // 256 entries
  ASSERT_EQ(frames[1].chunks.size(), 1u);
  const auto &c = frames[1].chunks[0];
  EXPECT_EQ(c.type, 4);
  EXPECT_EQ(c.size, 2u + 2 + 6);
  EXPECT_EQ(get16(file, c.offset), 1);
  EXPECT_EQ(file[c.offset + 2], 10);
  EXPECT_EQ(file[c.offset + 3], 2);
  EXPECT_EQ(0, std::memcmp(&file[c.offset + 4], &p1[30], 6));
  const auto &d = frames[2].chunks[0];
  EXPECT_EQ(get16(file, d.offset), 3);
  EXPECT_EQ((Bytes{file[d.offset + 2], file[d.offset + 3]}), (Bytes{0, 1}));
  EXPECT_EQ((Bytes{file[d.offset + 7], file[d.offset + 8]}), (Bytes{99, 1}));   // 100 - 1
  EXPECT_EQ((Bytes{file[d.offset + 12], file[d.offset + 13]}), (Bytes{154, 1}));  // 255 - 101
  EXPECT_EQ(frames[3].size, 16u);  // same pixels, same palette
  expectReadsBack(dir.file("pal.flc"), 8, 2, {{px, p0}, {px, p1}, {px, p2}, {px, p2}});
}

TEST(FlicWriterChunks, SameFramesGiveSameBytes) {
  kavtest::TempDir dir;
  std::vector<Step> steps;
  for (uint32_t t = 0; t < 6; ++t) steps.push_back({movingFrame(96, 20, t), t % 3 == 0 ? rampPalette(t) : Palette{}});
  const Bytes a = writeFlic(dir.file("a.flc"), 96, 20, steps);
  const Bytes b = writeFlic(dir.file("b.flc"), 96, 20, steps);
  EXPECT_EQ(a, b);
}

TEST(FlicWriterChunks, SingleFrameAndEmptyAnimation) {
  kavtest::TempDir dir;
  const Frame px = movingFrame(32, 8, 1);
  const Bytes one = writeFlic(dir.file("one.flc"), 32, 8, {{px, rampPalette(2)}});
  auto frames = walkFrames(one);
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[1].size, 16u);  // the ring frame of a single frame changes nothing
  expectReadsBack(dir.file("one.flc"), 32, 8, {{px, rampPalette(2)}});

  KAVOFlic *o = KAVOFlicCreate(dir.file("none.flc").c_str(), 32, 8, 10);
  ASSERT_NE(o, nullptr);
  EXPECT_EQ(KAVOFlicClose(o), 128u + 16 + 6 + 8 * 3);  // a black picture as the ring frame
  const Bytes none = kavtest::readFile(dir.file("none.flc"));
  EXPECT_EQ(get16(none, 6), 0);
}

}  // namespace
