// The bit reader, tree and symbol-map reading, and each coding form of the
// bundles (checked through the pixels of planes that use them).
#include <gtest/gtest.h>

#include <random>

#include "vorn/bitreader.h"
#include "vorn/trees.h"
#include "vorn_harness.h"
#include "vorn_model.h"

using namespace kavtest;
using kav::vorn::BitReader;
using kav::vorn::ExpandStatus;
using vornw::Block;

TEST(VornBitReader, FieldsComeLeastSignificantBitFirstAcrossWords) {
  vornw::BitWriter w;
  w.put(0x5, 3);
  w.put(0x7FF, 11);
  w.put(0x1234, 15);
  w.put(0x2A, 6);  // crosses into the second word
  std::vector<uint8_t> bytes = w.words();
  ASSERT_EQ(bytes.size(), 8u);
  BitReader br(bytes.data(), bytes.size(), 0);
  EXPECT_EQ(br.bits(3), 0x5u);
  EXPECT_EQ(br.bits(11), 0x7FFu);
  EXPECT_EQ(br.bits(15), 0x1234u);
  EXPECT_EQ(br.endOffset(), 4u);
  EXPECT_EQ(br.bits(6), 0x2Au);
  EXPECT_EQ(br.endOffset(), 8u);
  EXPECT_FALSE(br.overrun());
}

TEST(VornBitReader, PeekedWordDoesNotCountAndReadingPastTheEndIsFlagged) {
  std::vector<uint8_t> bytes(4, 0xFF);
  BitReader br(bytes.data(), bytes.size(), 0);
  br.bits(30);
  EXPECT_EQ(br.peek(7), 0x3u);  // two real bits, then zeros past the end
  EXPECT_EQ(br.endOffset(), 4u);
  EXPECT_FALSE(br.overrun());
  br.bits(2);
  EXPECT_FALSE(br.overrun());
  br.bits(1);
  EXPECT_TRUE(br.overrun());
}

namespace {

std::array<uint8_t, 16> readBack(const vornw::TreeChoice &choice, bool *ok = nullptr) {
  vornw::BitWriter w;
  // Write through a one-tree plane header is overkill: write the tree alone.
  w.put(choice.tree, 4);
  if (choice.tree != 0) {
    if (choice.form == vornw::MapForm::kListed) {
      w.put(1, 1);
      w.put(unsigned(choice.order.size() - 1), 3);
      for (uint8_t v : choice.order) w.put(v, 4);
    }
  }
  std::vector<uint8_t> bytes = w.words();
  BitReader br(bytes.data(), bytes.size(), 0);
  kav::vorn::Tree t;
  bool r = kav::vorn::readTree(br, t);
  if (ok) *ok = r;
  std::array<uint8_t, 16> m;
  std::copy(t.map, t.map + 16, m.begin());
  return m;
}

}  // namespace

TEST(VornTrees, ListedMapPutsListedValuesFirstAndRejectsRepeats) {
  vornw::TreeChoice s;
  s.tree = 3;
  s.order = {9, 2, 15};
  std::array<uint8_t, 16> want = {9, 2, 15, 0, 1, 3, 4, 5, 6, 7, 8, 10, 11, 12, 13, 14};
  EXPECT_EQ(readBack(s), want);
  s.tree = 0;  // tree 0 reads no map
  std::array<uint8_t, 16> id;
  for (int i = 0; i < 16; ++i) id[i] = uint8_t(i);
  EXPECT_EQ(readBack(s), id);
  s.tree = 5;
  s.order = {4, 7, 4};
  bool ok = true;
  readBack(s, &ok);
  EXPECT_FALSE(ok);
}

TEST(VornTrees, MergedMapsAtEveryDepthRoundTrip) {
  // Each depth can order values only within runs of 2, 4, 8 or 16.
  std::mt19937 rng(7);
  for (unsigned depth = 0; depth < 4; ++depth)
    for (int iter = 0; iter < 20; ++iter) {
      unsigned run = 2u << depth;
      std::vector<uint8_t> perm(16);
      for (int i = 0; i < 16; ++i) perm[i] = uint8_t(i);
      for (unsigned base = 0; base < 16; base += run) std::shuffle(perm.begin() + base, perm.begin() + base + run, rng);
      vornw::PlaneDesc p = skipPlane(8, 8);
      p.coding[vornw::kColours].tree = {6, vornw::MapForm::kMerged, perm, depth};
      // Decode a raw block whose low nibbles run through every symbol.
      std::array<uint8_t, 64> px;
      for (int i = 0; i < 64; ++i) px[i] = uint8_t(i * 37);
      p.rows[0][0] = Block::raw(px);
      p.coding[vornw::kColours].allowFill = false;
      VornFrameBuffers b(8, 8);
      vornw::FrameDesc f = skipFrame(b);
      f.luma = p;
      f.grey = true;
      ASSERT_EQ(b.expand(vornw::writeFrame(f), VORN_GREY_SCALE), ExpandStatus::kOk);
      for (int i = 0; i < 64; ++i) ASSERT_EQ(b.cur[(i / 8) * b.pitch + i % 8], px[i]) << depth << " " << i;
    }
}

namespace {

// Decodes a grey frame of one luma plane and compares it with the model.
void expectPlane(VornFrameBuffers &b, const vornw::PlaneDesc &p, uint32_t flags = VORN_GREY_SCALE) {
  vornw::FrameDesc f = skipFrame(b);
  f.luma = p;
  f.grey = true;
  f.oldRevision = flags & VORN_OLD_REVISION;
  std::vector<uint8_t> data = vornw::writeFrame(f);
  std::vector<uint8_t> want = b.cur;
  ModelPlane m{want.data(), b.prev.data(), b.pitch};
  modelPlane(m, p);
  ASSERT_EQ(b.expand(data, flags), ExpandStatus::kOk);
  ASSERT_EQ(b.cur, want);
}

}  // namespace

TEST(VornBundles, FillAndSymbolFormsOfEveryBundleDecode) {
  for (int fill = 0; fill < 2; ++fill) {
    VornFrameBuffers b(64, 24);
    auto p = skipPlane(64, 24);
    // Row 1: equal offsets and DCs (the fill form when allowed); rows 0 and 2
    // mixed values.
    for (int i = 1; i < 8; ++i) p.rows[1][i] = Block::inter(-2, -3, -40, 5, {0, 8, -3});
    p.rows[0] = {Block::fill(10), Block::fill(200), Block::intra(5, 0), Block::intra(1500, 1),
                 Block::run(2, {{true, 16, {1}}, {true, 16, {2}}, {true, 16, {3}}, {true, 16, {4}}}),
                 Block::run(2, {{true, 4, {1}}, {true, 15, {2}}, {true, 16, {3}}, {false, 3, {7, 8, 9}},
                                {true, 5, {4}}, {true, 16, {1}}, {true, 5, {6}}}),
                 Block::pattern8(1, 2, {3, 4, 5, 6, 7, 8, 9, 10}), Block::pattern8(1, 2, {3, 3, 3, 3, 3, 3, 3, 3})};
    p.rows[2] = {Block::motion(1, -1), Block::motion(-4, 0), Block::motion(5, 2), Block::motion(0, -8),
                 Block::inter(3, -3, 700, 0), Block::inter(-3, 3, -700, 0), Block::fill(4), Block::fill(4)};
    for (auto &c : p.coding) {
      c.allowFill = fill;
      c.tree.tree = 9;
      c.tree.order = {3, 1};
    }
    expectPlane(b, p);
  }
}

TEST(VornBundles, BlockTypeRepeatsCoverLongRuns) {
  VornFrameBuffers b(320, 16);
  auto p = skipPlane(320, 16);
  // 40 blocks: 1 + 32 + 4 + 3 singles of fill, then a different type.
  for (int i = 0; i < 37; ++i) p.rows[0][i] = Block::fill(uint8_t(i));
  p.rows[1][0] = Block::motion(1, -1);
  for (int i = 1; i < 14; ++i) p.rows[1][i] = Block::skip();  // last value 0 from the start of a refill
  p.coding[vornw::kTypes].allowFill = false;
  p.coding[vornw::kTypes].tree = {14, vornw::MapForm::kListed, {6, 12, 13, 14, 15, 0}};
  expectPlane(b, p);
}

TEST(VornBundles, OneRefillServesSeveralRowsAndACountOfZeroFinishesTheBundle) {
  VornFrameBuffers b(16, 48);
  auto p = skipPlane(16, 48);
  // Colours: rows 0 and 1 from one refill (a value is left over at row 1).
  p.rows[0] = {Block::fill(1), Block::fill(2)};
  p.rows[1] = {Block::fill(3), Block::skip()};
  p.rows[2] = {Block::skip(), Block::skip()};
  p.rows[3] = {Block::fill(4), Block::skip()};
  // Colours stop after row 3: the refill at row 4 reads a count of 0 and
  // row 5 must read no count at all.
  p.rows[4] = {Block::skip(), Block::motion(0, -8)};
  p.rows[5] = {Block::skip(), Block::motion(-8, -8)};
  p.coding[vornw::kColours].rowsPerRefill = 2;
  p.coding[vornw::kTypes].rowsPerRefill = 6;
  expectPlane(b, p);
}

TEST(VornBundles, DcGroupsWithZeroAndWideSteps) {
  VornFrameBuffers b(160, 8);
  auto p = skipPlane(160, 8);
  const int dcs[20] = {100, 100, 100, 100, 100, 100, 100, 100, 100, 2000,
                       0,   1,   2,   3,   4,   5,   6,   7,   8,   2047};
  for (int i = 0; i < 20; ++i) p.rows[0][i] = Block::intra(dcs[i], i % 16);
  expectPlane(b, p);
  auto q = skipPlane(160, 8);
  for (int i = 0; i < 20; ++i) q.rows[0][i] = Block::inter(0, 0, (i % 2 ? 1 : -1) * dcs[i] / 2, 15 - i % 16);
  expectPlane(b, q);
}

TEST(VornBundles, OlderRevisionColoursUseSignMagnitude) {
  // Coded 0x85 becomes 123 and 0x05 becomes 133 with the revision flag.
  VornFrameBuffers b(16, 8);
  auto p = skipPlane(16, 8);
  p.rows[0] = {Block::fill(0x85), Block::fill(0x05)};
  vornw::FrameDesc f = skipFrame(b);
  f.luma = p;
  f.grey = true;
  std::vector<uint8_t> data = vornw::writeFrame(f);
  ASSERT_EQ(b.expand(data, VORN_GREY_SCALE), ExpandStatus::kOk);
  EXPECT_EQ(b.cur[0], 0x85);
  EXPECT_EQ(b.cur[8], 0x05);
  // The same coded values under the flag (no plane-size word: drop it).
  std::vector<uint8_t> old(data.begin() + 4, data.end());
  ASSERT_EQ(b.expand(old, VORN_GREY_SCALE | VORN_OLD_REVISION), ExpandStatus::kOk);
  EXPECT_EQ(b.cur[0], 123);
  EXPECT_EQ(b.cur[8], 133);
  // And the writer's inverse mapping round-trips every codable colour.
  auto q = skipPlane(16, 8);
  std::array<uint8_t, 64> px;
  for (int i = 0; i < 64; ++i) px[i] = uint8_t(1 + i * 4);
  q.rows[0] = {Block::raw(px), Block::pattern8(128, 255, {1, 3, 7, 15, 31, 63, 127, 255})};
  q.oldRevision = true;
  expectPlane(b, q, VORN_GREY_SCALE | VORN_OLD_REVISION);
}

TEST(VornBitstream, HandBuiltPlaneOfOneFillBlock) {
  // An 8x8 plane written bit by bit: 23 trees of number 0 (4 zero bits each),
  // then the row-0 refills. Count widths for an 8-pixel plane: 10 bits, but 9
  // for the sub-block types (no 16-pixel column).
  vornw::BitWriter w;
  w.put(0, 92);
  w.put(1, 10);  // block types: one value,
  w.put(1, 1);   //   fill form,
  w.put(6, 4);   //   type 6
  w.put(0, 9);   // sub-block types: finished
  w.put(1, 10);  // colours: one value, no fill flag,
  w.put(0, 1);
  w.put(0xB, 4);  //   high nibble through high-nibble tree 0, raw
  w.put(0x4, 4);  //   low nibble
  for (int i = 0; i < 6; ++i) w.put(0, 10);  // patterns .. run lengths: finished
  std::vector<uint8_t> plane = w.words();
  std::vector<uint8_t> data(4);
  data[0] = uint8_t(4 + plane.size());
  data.insert(data.end(), plane.begin(), plane.end());
  VornFrameBuffers b(8, 8);
  ASSERT_EQ(b.expand(data, VORN_GREY_SCALE), ExpandStatus::kOk);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) ASSERT_EQ(b.cur[y * b.pitch + x], 0xB4);
  EXPECT_EQ(b.map[0], 1);
}
