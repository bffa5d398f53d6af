// Every block type and scaled sub-type, written by the independent writer and
// compared pixel for pixel (and map byte for map byte) with the model.
#include <gtest/gtest.h>

#include <random>

#include "vorn_harness.h"
#include "vorn_model.h"

using namespace kavtest;
using vornw::Block;
using vornw::RunSegment;
using kav::vorn::ExpandStatus;

namespace {

// Decodes `luma` as the only plane of a grey frame and checks the whole
// plane set and the block map against the model.
void expectLuma(VornFrameBuffers &b, const vornw::PlaneDesc &luma) {
  vornw::FrameDesc f = skipFrame(b);
  f.luma = luma;
  f.grey = true;
  std::vector<uint8_t> data = vornw::writeFrame(f);
  std::vector<uint8_t> want = b.cur;
  std::vector<uint8_t> wantMap = b.map;
  ModelPlane m{want.data(), b.prev.data(), b.pitch, &wantMap, b.pitch / 16, 1};
  modelPlane(m, luma);
  ASSERT_EQ(b.expand(data, VORN_GREY_SCALE), ExpandStatus::kOk);
  for (size_t i = 0; i < want.size(); ++i)
    ASSERT_EQ(b.cur[i], want[i]) << "pixel " << (i % b.pitch) << "," << (i / b.pitch);
  EXPECT_EQ(b.map, wantMap);
}

std::array<uint8_t, 64> ramp(uint8_t start) {
  std::array<uint8_t, 64> p;
  for (int i = 0; i < 64; ++i) p[i] = uint8_t(start + i * 3);
  return p;
}

}  // namespace

TEST(VornBlocks, DcOnlyIntraBlockGivesScaledDc) {
  for (int v : {0, 1, 8, 100, 1020, 2047}) {
    VornFrameBuffers b(8, 8);
    auto p = skipPlane(8, 8);
    p.rows[0][0] = Block::intra(v, 0);
    expectLuma(b, p);
    EXPECT_EQ(b.cur[0], uint8_t((32 * v + 127) >> 8)) << v;
    if (v == 1020) {
      EXPECT_EQ(b.cur[b.pitch + 1], 127);
    }
  }
}

TEST(VornBlocks, TransformOutputsWrapWithoutClamping) {
  // A large DC wraps: 2047 x 32 + 127 = 65631, >> 8 = 256, stored as 0.
  VornFrameBuffers b(16, 8);
  auto p = skipPlane(16, 8);
  p.rows[0][0] = Block::intra(2047, 0);
  std::array<int32_t, 64> c{};
  c[1] = -3000;
  c[2] = 1234;
  c[9] = 77;
  p.rows[0][1] = Block::intra(0, 3, c);
  expectLuma(b, p);
  EXPECT_EQ(b.cur[0], 0);
}

TEST(VornBlocks, EachFullSizeTypeMatchesTheModel) {
  VornFrameBuffers b(80, 16);
  auto p = skipPlane(80, 16);
  std::array<int32_t, 64> c{};
  c[1] = 40;
  c[5] = -9;
  c[63] = 2;
  p.rows[0] = {Block::skip(),
               Block::motion(-3, 5),
               Block::run(0, {{true, 16, {10}}, {false, 3, {1, 2, 3}}, {true, 16, {20}}, {true, 16, {30}},
                              {false, 13, {9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 255, 254, 253}}}),
               Block::residueBlock(1, 2, 5, {12, -7, 1, 0, 63, -63}),
               Block::intra(700, 2, c),
               Block::fill(77),
               Block::inter(-1, 1, -200, 4, c),
               Block::pattern8(11, 222, {0x01, 0x80, 0xFF, 0x00, 0x55, 0xAA, 0x0F, 0xF0}),
               Block::raw(ramp(5)),
               Block::none(10)};
  p.rows[1] = {Block::none(10), Block::none(11), Block::none(11), Block::skip(), Block::none(10),
               Block::motion(8, -8), Block::motion(-8, 0), Block::motion(0, 0), Block::fill(0), Block::fill(255)};
  expectLuma(b, p);
}

TEST(VornBlocks, RunBlocksReachingSixtyThreeTakeOneMoreColourAndSixtyFourNone) {
  VornFrameBuffers b(24, 8);
  auto p = skipPlane(24, 8);
  // 63 positions then the last colour; 64 positions exactly; then a fill that
  // would take the wrong colour if either block took one colour too many or few.
  p.rows[0][0] = Block::run(7, {{true, 16, {1}}, {true, 16, {2}}, {true, 16, {3}}, {true, 15, {4}}}, 99);
  p.rows[0][1] = Block::run(13, {{true, 16, {5}}, {true, 16, {6}}, {true, 16, {7}}, {false, 16, {}}});
  p.rows[0][1].runs[3].colours = {10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25};
  p.rows[0][2] = Block::fill(200);
  expectLuma(b, p);
  EXPECT_EQ(b.cur[7 * b.pitch + 0], 99);  // pattern 7 ends at raster 56
  EXPECT_EQ(b.cur[16], 200);
}

TEST(VornBlocks, ResidueMaskAtSevenIsMinus128AndStaysNegative) {
  VornFrameBuffers b(16, 8);
  auto p = skipPlane(16, 8);
  std::array<int8_t, 64> r{};
  r[0] = -128;  // coded in the first pass: the mask or its negation, both -128
  r[5] = -64;   // -128 refined by the next mask: -128 - (-64)
  r[9] = -96;
  p.rows[0][0] = Block::residueBlock(0, 0, 7, r);
  p.rows[0][1] = Block::fill(3);
  expectLuma(b, p);
  EXPECT_EQ(b.cur[0], uint8_t(b.prev[0] - 128));
}

TEST(VornBlocks, ResidueStopsAtTheChangeAfterTheBudget) {
  // Budget 2 allows three changes. The residue asks for four coefficient
  // codings in the first pass (coefficients 0..3 of the first group); only the
  // first three are applied and no bit of the block is read after the third.
  VornFrameBuffers b(16, 8);
  auto p = skipPlane(16, 8);
  std::array<int8_t, 64> r{};
  r[0] = 4;
  r[1] = -4;
  r[2] = 4;
  r[3] = 4;
  p.rows[0][0] = Block::residueBlock(0, 0, 2, r, 2);
  std::array<int32_t, 64> c{};
  c[1] = 21;
  c[6] = -5;
  p.rows[0][1] = Block::intra(800, 2, c);  // reads its own bits right after
  vornw::FrameDesc f = skipFrame(b);
  f.luma = p;
  f.grey = true;
  ASSERT_EQ(b.expand(vornw::writeFrame(f), VORN_GREY_SCALE), ExpandStatus::kOk);
  EXPECT_EQ(b.cur[0], uint8_t(b.prev[0] + 4));
  EXPECT_EQ(b.cur[1], uint8_t(b.prev[1] - 4));
  EXPECT_EQ(b.cur[b.pitch], uint8_t(b.prev[b.pitch] + 4));  // coefficient 2 is raster 8
  EXPECT_EQ(b.cur[b.pitch + 1], b.prev[b.pitch + 1]);       // the fourth change never happened
  std::array<int32_t, 64> full = c;
  full[0] = 800;
  std::array<uint8_t, 64> next = vornw::modelTransform(full, true, 2);
  for (int j = 0; j < 8; ++j)
    for (int k = 0; k < 8; ++k) ASSERT_EQ(b.cur[j * b.pitch + 8 + k], next[j * 8 + k]);
}

TEST(VornBlocks, ScaledSubTypesDoubleTheirSourceAndOthersOnlyMark) {
  VornFrameBuffers b(96, 32);
  auto p = skipPlane(96, 32);
  std::array<int32_t, 64> c{};
  c[2] = 50;
  c[20] = -4;
  p.rows[0] = {Block::scaled(Block::run(3, {{true, 16, {1}}, {true, 16, {2}}, {true, 16, {3}}, {true, 16, {4}}})),
               Block::scaled(Block::intra(900, 1, c)), Block::scaled(Block::fill(42)),
               Block::scaled(Block::pattern8(1, 2, {1, 2, 4, 8, 16, 32, 64, 128})),
               Block::scaled(Block::raw(ramp(100))), Block::scaled(Block::motion(0, 0))};
  p.rows[1].assign(6, Block::scaledLower());
  p.rows[2] = {Block::scaled(Block::none(2)), Block::scaled(Block::none(0)), Block::scaled(Block::none(11)),
               Block::fill(1), Block::skip(), Block::scaled(Block::fill(7)), Block::none(11), Block::skip()};
  p.rows[3] = {Block::scaledLower(), Block::scaledLower(), Block::scaledLower(),
               Block::fill(2), Block::skip(), Block::scaledLower(), Block::none(11), Block::skip()};
  expectLuma(b, p);
}

TEST(VornBlocks, RandomPlanesOfEveryConstructMatchTheModel) {
  std::mt19937 rng(1234);
  auto rnd = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  for (int iter = 0; iter < 40; ++iter) {
    uint32_t w = 8 * rnd(2, 12), h = 16 * rnd(1, 4);
    VornFrameBuffers b(w, h);
    auto p = skipPlane(w, h);
    auto content = [&](int type) {
      switch (type) {
        case 3: {
          std::vector<RunSegment> runs;
          unsigned i = 0;
          while (i < 63) {
            unsigned n = std::min<unsigned>(rnd(1, 16), 64 - i);
            RunSegment s;
            s.single = rnd(0, 1);
            s.length = n;
            for (unsigned j = 0; j < (s.single ? 1 : n); ++j) s.colours.push_back(uint8_t(rnd(0, 255)));
            runs.push_back(s);
            i += n;
          }
          return Block::run(rnd(0, 15), runs, i == 63 ? rnd(0, 255) : -1);
        }
        case 5:
        case 7: {
          std::array<int32_t, 64> c{};
          for (int n = rnd(0, 12); n > 0; --n) c[rnd(1, 63)] = rnd(-5000, 5000) >> rnd(0, 10);
          if (type == 5) return Block::intra(rnd(0, 2047), rnd(0, 15), c);
          return Block::inter(rnd(-8, 8), rnd(-8, 8), rnd(-1023, 1023), rnd(0, 15), c);
        }
        case 4: {
          std::array<int8_t, 64> res{};
          unsigned s = rnd(0, 6);
          for (int n = rnd(0, 20); n > 0; --n) res[rnd(0, 63)] = int8_t(rnd(-(1 << (s + 1)) + 1, (1 << (s + 1)) - 1));
          return Block::residueBlock(rnd(-8, 8), rnd(-8, 8), s, res);
        }
        case 6: return Block::fill(uint8_t(rnd(0, 255)));
        case 8: {
          std::array<uint8_t, 8> pat;
          for (auto &v : pat) v = uint8_t(rnd(0, 255));
          return Block::pattern8(uint8_t(rnd(0, 255)), uint8_t(rnd(0, 255)), pat);
        }
        case 9: {
          std::array<uint8_t, 64> px;
          for (auto &v : px) v = uint8_t(rnd(0, 255));
          return Block::raw(px);
        }
        case 2: return Block::motion(rnd(-8, 8), rnd(-8, 8));
        default: return Block::none(unsigned(type));
      }
    };
    // A full-size block (types 12..15 are left to the fill-form tests: as
    // symbols they are repeat codes).
    auto fullSize = [&](uint32_t x, uint32_t y) {
      int t = rnd(0, 11);
      if (t == 1) t = 0;
      Block blk = content(t);
      // Motion sources stay inside the previous plane.
      if (blk.dx < 0 && x < uint32_t(-blk.dx)) blk.dx = 0;
      if (blk.dy < 0 && y < uint32_t(-blk.dy)) blk.dy = 0;
      if (x + 8 + blk.dx > b.pitch) blk.dx = 0;
      if (y + 8 + blk.dy > b.planeHeight) blk.dy = 0;
      return blk;
    };
    for (unsigned r = 0; r < p.rows.size(); ++r) {
      auto &row = p.rows[r];
      row.clear();
      uint32_t x = 0;
      if (r % 2) {
        // Under each scaled area its lower half, elsewhere any block.
        for (const Block &up : p.rows[r - 1]) {
          if (up.type == 1) {
            row.push_back(Block::scaledLower());
            x += 16;
          } else {
            row.push_back(fullSize(x, r * 8));
            x += 8;
          }
        }
        continue;
      }
      while (x < p.width) {
        if (x + 16 <= p.width && rnd(0, 5) == 0) {
          row.push_back(Block::scaled(content(rnd(0, 9))));
          x += 16;
        } else {
          row.push_back(fullSize(x, r * 8));
          x += 8;
        }
      }
    }
    // Random codings of every bundle.
    for (auto &c : p.coding) {
      c.tree.tree = unsigned(rnd(0, 15));
      c.tree.form = rnd(0, 1) ? vornw::MapForm::kListed : vornw::MapForm::kMerged;
      std::vector<uint8_t> perm(16);
      for (int i = 0; i < 16; ++i) perm[i] = uint8_t(i);
      std::shuffle(perm.begin(), perm.end(), rng);
      c.tree.depth = 3;
      if (c.tree.form == vornw::MapForm::kListed) perm.resize(rnd(1, 8));
      c.tree.order = perm;
      c.allowFill = rnd(0, 1);
      c.useRepeats = rnd(0, 1);
      c.rowsPerRefill = rnd(1, 3);
    }
    for (auto &t : p.highNibble) {
      t.tree = unsigned(rnd(0, 15));
      t.order = {uint8_t(rnd(0, 15))};
    }
    SCOPED_TRACE(iter);
    expectLuma(b, p);
  }
}

TEST(VornBlocks, TypesTwelveToFifteenFromFillRefillsLeaveTheirBlocksAlone) {
  VornFrameBuffers b(32, 32);
  auto p = skipPlane(32, 32);
  for (unsigned r = 0; r < 4; ++r) p.rows[r].assign(4, Block::none(12 + r));
  expectLuma(b, p);
  EXPECT_EQ(b.map, std::vector<uint8_t>(b.map.size(), 0));
  // The same values as scaled sub-block types: nothing written, map set.
  VornFrameBuffers c(32, 32);
  auto q = skipPlane(32, 32);
  q.rows[0].assign(2, Block::scaled(Block::none(13)));
  q.rows[1].assign(2, Block::scaledLower());
  q.rows[2].assign(2, Block::scaled(Block::none(15)));
  q.rows[3].assign(2, Block::scaledLower());
  expectLuma(c, q);
  EXPECT_EQ(c.map, std::vector<uint8_t>(c.map.size(), 1));
}

TEST(VornBlocks, NeighbouringSkipsAndFillsStopAtTheRowEnd) {
  // One refill holds both rows' block types and colours, so the next row's
  // values already wait in the bundles when a row ends in a run.
  VornFrameBuffers b(48, 24);
  auto p = skipPlane(48, 24);
  p.rows[0] = {Block::fill(5), Block::fill(5), Block::fill(5), Block::skip(), Block::skip(), Block::skip()};
  p.rows[1] = {Block::skip(), Block::skip(), Block::fill(5), Block::fill(5), Block::fill(6), Block::fill(5)};
  p.rows[2] = {Block::fill(5), Block::fill(5), Block::skip(), Block::fill(5), Block::none(10), Block::fill(5)};
  p.coding[vornw::kTypes].rowsPerRefill = 3;
  p.coding[vornw::kColours].rowsPerRefill = 3;
  expectLuma(b, p);
}
