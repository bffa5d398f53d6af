// Damaged streams: every violation stops the plane cleanly, never touching
// memory outside the buffers (the sanitizer build checks the last part).
#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "support/temp_dir.h"
#include "vorn_harness.h"

using namespace kavtest;
using kav::vorn::ExpandStatus;
using vornw::Block;

TEST(VornMalformed, FixedSeedMutationsNeverEscapeTheBuffers) {
  // One rich frame, then thousands of mutated copies: bit flips, truncations
  // and random words.
  VornFrameBuffers base(40, 32);
  vornw::FrameDesc f = skipFrame(base);
  f.alphaSection = true;
  std::array<uint8_t, 64> px;
  for (int i = 0; i < 64; ++i) px[i] = uint8_t(i * 5);
  f.luma.rows[0] = {Block::raw(px), Block::intra(900, 3, {0, 40, -20}), Block::scaled(Block::fill(9)),
                    Block::run(4, {{true, 16, {1}}, {true, 16, {2}}, {true, 16, {3}}, {true, 16, {4}}})};
  f.luma.rows[1] = {Block::residueBlock(0, 0, 4, {9, -3, 2}), Block::inter(1, 1, -5, 2, {0, 3}),
                    Block::scaledLower(), Block::motion(-2, -3)};
  f.chroma[0].rows[1][1] = Block::pattern8(3, 4, {9, 9, 9, 9, 9, 9, 9, 9});
  f.alpha.rows[2][2] = Block::fill(1);
  const std::vector<uint8_t> good = vornw::writeFrame(f);
  ASSERT_EQ(base.expand(good, VORN_DECODE_ALPHA, VORN_HEADER_HAS_ALPHA), ExpandStatus::kOk);

  std::mt19937 rng(20240601);
  int failures = 0;
  for (int iter = 0; iter < 10000; ++iter) {
    std::vector<uint8_t> data = good;
    switch (iter % 3) {
      case 0:
        for (int n = 1 + int(rng() % 4); n > 0; --n) data[rng() % data.size()] ^= uint8_t(1u << (rng() % 8));
        break;
      case 1: data.resize(rng() % data.size()); break;
      default:
        for (int n = 1 + int(rng() % 3); n > 0; --n) {
          size_t at = rng() % data.size();
          data[at] = uint8_t(rng());
        }
    }
    VornFrameBuffers b(40, 32);
    uint32_t flags = (rng() % 2 ? VORN_DECODE_ALPHA : 0) | (rng() % 8 == 0 ? VORN_OLD_REVISION : 0);
    if (b.expand(data, flags, VORN_HEADER_HAS_ALPHA) != ExpandStatus::kOk) ++failures;
  }
  EXPECT_GT(failures, 100);
}

TEST(VornMalformed, EachLimitStopsThePlaneBeforeTheOffendingBlock) {
  // Motion sources must lie inside the previous plane.
  for (int dx : {-1, 9}) {
    VornFrameBuffers t(16, 16);
    vornw::FrameDesc f = skipFrame(t);
    f.grey = true;
    f.luma.rows[0][1] = Block::motion(dx, 0);  // x = 8: -1 fine, +9 leaves the 16-byte row
    f.luma.rows[1][0] = Block::motion(0, dx > 0 ? 9 : -9);
    std::vector<uint8_t> before = t.cur;
    ExpandStatus s = t.expand(vornw::writeFrame(f), VORN_GREY_SCALE);
    if (dx == -1) {
      // Row 0 decodes; row 1 moves up out of the plane (y = 8 - 9).
      EXPECT_EQ(s, ExpandStatus::kBadLuma);
      EXPECT_EQ(t.cur[8], t.prev[7]);
      EXPECT_EQ(t.cur[8 * t.pitch], before[8 * t.pitch]);
    } else {
      EXPECT_EQ(s, ExpandStatus::kBadLuma);
      EXPECT_EQ(t.cur[8], before[8]);
      EXPECT_EQ(t.cur[0], t.prev[0]);  // the skip before it was done
    }
  }
}

TEST(VornMalformed, ScaledAreasAndRunsPastTheirLimitsStopThePlane) {
  auto decode = [](VornFrameBuffers &t, vornw::FrameDesc f, uint32_t flags) {
    f.luma.strict = f.chroma[0].strict = f.chroma[1].strict = false;
    return t.expand(vornw::writeFrame(f), flags);
  };
  {
    // A scaled area starting in the last 8-pixel column.
    VornFrameBuffers t(24, 16);
    std::vector<uint8_t> before = t.cur;
    vornw::FrameDesc f = skipFrame(t);
    f.grey = true;
    f.luma.rows[0] = {Block::fill(1), Block::skip(), Block::scaled(Block::fill(2))};
    EXPECT_EQ(decode(t, f, VORN_GREY_SCALE), ExpandStatus::kBadLuma);
    EXPECT_EQ(t.cur[0], 1);
    EXPECT_EQ(t.cur[16], before[16]);
    EXPECT_EQ(t.cur[8 * t.pitch], before[8 * t.pitch]);  // the rest of the plane as it was
  }
  {
    // Runs adding up past 64 positions: 16 + 16 + 16 + 10 + 16.
    VornFrameBuffers t(16, 8);
    std::vector<uint8_t> before = t.cur;
    vornw::FrameDesc f = skipFrame(t);
    f.grey = true;
    f.luma.rows[0][1] = Block::run(0, {{true, 16, {1}}, {true, 16, {2}}, {true, 16, {3}}, {true, 10, {4}},
                                       {true, 16, {5}}});
    EXPECT_EQ(decode(t, f, VORN_GREY_SCALE), ExpandStatus::kBadLuma);
    EXPECT_EQ(t.cur[8], before[8]);  // the run block was not written
    EXPECT_EQ(t.cur[0], t.prev[0]);  // the skip before it was
  }
  {
    // A scaled area on the last block row of a chroma plane has no rows
    // below it (chroma planes of 24 rows: three block rows).
    VornFrameBuffers t(32, 34);
    vornw::FrameDesc f = skipFrame(t);
    f.chroma[0].rows[2] = {Block::scaled(Block::fill(3))};
    EXPECT_EQ(decode(t, f, 0), ExpandStatus::kBadChroma);
  }
}

TEST(VornMalformed, BadGeometryAndLayoutAreRefusedUpFront) {
  VornFrameBuffers b(32, 32);
  vornw::FrameDesc f = skipFrame(b);
  std::vector<uint8_t> data = vornw::writeFrame(f);
  std::vector<uint8_t> before = b.cur;
  b.width = 64;  // wider than the pitch
  EXPECT_EQ(b.expand(data), ExpandStatus::kBadGeometry);
  b.width = 32;
  b.planeHeight = 16;
  EXPECT_EQ(b.expand(data), ExpandStatus::kBadGeometry);
  b.planeHeight = 32;
  std::vector<uint8_t> bad = data;
  bad[0] = 0xFF;
  bad[1] = 0xFF;  // plane-size word past the data
  EXPECT_EQ(b.expand(bad), ExpandStatus::kBadLayout);
  EXPECT_EQ(b.expand({}), ExpandStatus::kBadLayout);
  EXPECT_EQ(b.cur, before);
}

TEST(VornMalformed, CorruptFilesInTheDataFolderFailCleanly) {
  namespace fs = std::filesystem;
  int n = 0;
  for (const auto &e : fs::directory_iterator(fs::path(KAV_VORN_DATA_DIR) / "bad")) {
    std::vector<uint8_t> data = readFile(e.path().string());
    VornFrameBuffers b(64, 48);
    EXPECT_NE(b.expand(data, VORN_DECODE_ALPHA, VORN_HEADER_HAS_ALPHA), ExpandStatus::kOk) << e.path();
    ++n;
  }
  EXPECT_GT(n, 0);
}
