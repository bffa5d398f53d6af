// The tree block reader against streams of our own word coder: values come
// back through the lookup tables and the bit-by-bit walk, escapes stand for
// the recent values, and damaged trees are refused.
#include <gtest/gtest.h>
#include <kavutil/huffman.h>
#include <kavutil/kavfile.h>

#include <random>
#include <string>
#include <vector>

#include "kavutil/kavbase.h"
#include "support/temp_dir.h"
#include "zanther/zanther_trees.h"

namespace {

using namespace kav::zanther;

std::vector<uint8_t> collect(const std::function<void(KAVFile *)> &write) {
  kavtest::TempDir dir;
  const std::string name = dir.file("t.bin");
  KAVFile *f = KAVFileCreate(4096, name.c_str());
  write(f);
  KAVFileAlign(f, 4);
  KAVFileClose(f);
  return kavtest::readFile(name);
}

struct Loaded {
  std::vector<uint8_t> memory;
  Trees *trees = nullptr;
  bool ok = false;
  Loaded(const std::vector<uint8_t> &block, const uint32_t sizes[4]) {
    memory.resize(treesAllocationBytes(sizes) + 64);
    trees = reinterpret_cast<Trees *>((reinterpret_cast<uintptr_t>(memory.data()) + 31) & ~uintptr_t{31});
    ok = readTrees(trees, sizes, block.data(), static_cast<uint32_t>(block.size()));
  }
};

// Codes `symbols` with a word coder used as tree `slot`, the other trees
// absent; returns the tree block, the value stream and the size figure.
struct Coded {
  std::vector<uint8_t> block, stream;
  int32_t figure = 0;
};

Coded codeSymbols(const std::vector<uint32_t> &symbols, int slot) {
  HuffCoder *coders[4];
  for (auto &c : coders) {
    c = HuffOpen(0);
    HuffInitStats(c);
  }
  for (uint32_t v : symbols) HuffAddStat(coders[slot], v);
  Coded out;
  out.block = collect([&](KAVFile *f) {
    for (int t = 0; t < 4; ++t) {
      HuffSetOutput(coders[t], f);
      const int32_t r = HuffStartEncode(coders[t]);
      if (t == slot) out.figure = r;
    }
  });
  out.stream = collect([&](KAVFile *f) {
    HuffSetOutput(coders[slot], f);
    HuffInitLasts(coders[slot]);
    for (uint32_t v : symbols) HuffEncode(coders[slot], v);
  });
  for (auto *c : coders) HuffClose(c);
  return out;
}

uint32_t storageBytes(int32_t figure) {
  if (figure <= 12) return 0;
  const uint32_t leaves = figure == 20 ? 1 : static_cast<uint32_t>(figure - 16) / 8 + 1;
  return 4 * (2 * leaves - 1);
}

std::vector<uint32_t> skewedSymbols(uint32_t seed, size_t count) {
  std::mt19937 rng(seed);
  std::geometric_distribution<int> geo(0.002);
  std::vector<uint32_t> s;
  for (size_t i = 0; i < count; ++i) {
    if (!s.empty() && rng() % 5 == 0) {
      s.push_back(s[s.size() - 1 - rng() % std::min<size_t>(3, s.size())]);  // recent values
      continue;
    }
    s.push_back(static_cast<uint32_t>(geo(rng) * 37 + 11) & 0xFFFF);
  }
  return s;
}

TEST(ZantherTrees, WordCoderStreamsDecodeToTheirSymbolsInEverySlot) {
  for (int slot = 0; slot < 4; ++slot) {
    SCOPED_TRACE(slot);
    const auto symbols = skewedSymbols(slot + 1, 20000);
    const Coded c = codeSymbols(symbols, slot);
    ASSERT_GT(c.figure, 20);
    uint32_t sizes[4] = {0, 0, 0, 0};
    sizes[slot] = storageBytes(c.figure);
    Loaded l(c.block, sizes);
    ASSERT_TRUE(l.ok);
    Tree &t = l.trees->tree[slot];
    EXPECT_EQ(t.nodeCount * 4, sizes[slot]);
    for (int other = 0; other < 4; ++other) EXPECT_EQ(l.trees->tree[other].present, other == slot);
    BitReader b;
    b.init(c.stream.data(), c.stream.size());
    for (size_t i = 0; i < symbols.size(); ++i) ASSERT_EQ(decodeValue(t, l.trees->marker, b), symbols[i]) << i;
    EXPECT_FALSE(b.bad());
  }
}

TEST(ZantherTrees, LongCodesContinuePastTheLookupTable) {
  const auto symbols = skewedSymbols(9, 60000);
  const Coded c = codeSymbols(symbols, kTypeTree);
  uint32_t sizes[4] = {0, 0, 0, storageBytes(c.figure)};
  Loaded l(c.block, sizes);
  ASSERT_TRUE(l.ok);
  uint32_t nodeEntries = 0;
  for (uint32_t e : l.trees->typeLookup) nodeEntries += (e & kEntryNode) != 0;
  EXPECT_GT(nodeEntries, 0u);  // some codes are longer than 10 bits
  BitReader b;
  b.init(c.stream.data(), c.stream.size());
  for (size_t i = 0; i < symbols.size(); ++i) ASSERT_EQ(decodeValue(l.trees->tree[kTypeTree], l.trees->marker, b), symbols[i]);
}

TEST(ZantherTrees, EscapesStandForRecentValues) {
  // 0x4000 repeats 40 times in a row (escape 0), then alternates with
  // 0x4001 (hits on position 1).
  std::vector<uint32_t> symbols;
  for (uint32_t v = 10; v < 60; ++v) symbols.push_back(v * 3);
  for (int i = 0; i < 40; ++i) symbols.push_back(0x4000);
  for (int i = 0; i < 80; ++i) symbols.push_back(i % 2 ? 0x4000 : 0x4001);
  const Coded c = codeSymbols(symbols, kMapTree);
  uint32_t sizes[4] = {storageBytes(c.figure), 0, 0, 0};
  Loaded l(c.block, sizes);
  ASSERT_TRUE(l.ok);
  Tree &t = l.trees->tree[kMapTree];
  EXPECT_EQ(t.escapes[0], 0u);
  EXPECT_EQ(t.escapes[1], 1u);
  uint32_t escapeLeaves = 0;
  for (uint32_t i = 0; i < t.nodeCount; ++i)
    if ((t.nodes[i] & 0xFFFF) != l.trees->marker && (t.nodes[i] >> 16)) ++escapeLeaves;
  EXPECT_EQ(escapeLeaves, 2u);
  BitReader b;
  b.init(c.stream.data(), c.stream.size());
  for (uint32_t v : symbols) ASSERT_EQ(decodeValue(t, l.trees->marker, b), v);
}

TEST(ZantherTrees, MarkerIsTheSmallestValueNoLeafHolds) {
  std::vector<uint32_t> symbols = {0, 1, 2, 4, 4, 7};
  const Coded c = codeSymbols(symbols, kColourTree);
  uint32_t sizes[4] = {0, storageBytes(c.figure), 0, 0};
  Loaded l(c.block, sizes);
  ASSERT_TRUE(l.ok);
  // 0..2, 4 and 7 are leaves; the escapes (3, 5, 6) have no leaves.
  EXPECT_EQ(l.trees->marker, 3u);
}

TEST(ZantherTrees, SingleLeafTreeUsesNoBits) {
  const Coded c = codeSymbols({0x1234, 0x1234}, kFullTree);
  EXPECT_EQ(c.figure, 20);
  uint32_t sizes[4] = {0, 0, 4, 0};
  Loaded l(c.block, sizes);
  ASSERT_TRUE(l.ok);
  BitReader b;
  b.init(nullptr, 0);
  EXPECT_EQ(decodeValue(l.trees->tree[kFullTree], l.trees->marker, b), 0x1234u);
  EXPECT_FALSE(b.bad());
}

TEST(ZantherTrees, DamagedTreeBlocksAreRefused) {
  const auto symbols = skewedSymbols(3, 3000);
  const Coded c = codeSymbols(symbols, kMapTree);
  const uint32_t need = storageBytes(c.figure);
  {
    uint32_t sizes[4] = {need - 4, 0, 0, 0};  // one word short
    Loaded l(c.block, sizes);
    EXPECT_FALSE(l.ok);
  }
  {
    uint32_t sizes[4] = {need, 0, 0, 0};
    std::vector<uint8_t> cut(c.block.begin(), c.block.begin() + c.block.size() / 2);
    Loaded l(cut, sizes);
    EXPECT_FALSE(l.ok);  // bits past the block
  }
  {
    // A value tree whose leaves need an absent low-byte sub-tree: bits
    // 1 (present), 0 (no low), 0 (no high), escapes, leaf.
    std::vector<uint8_t> block = collect([](KAVFile *f) {
      KAVFilePutBits(f, 1, 1);
      KAVFilePutBits(f, 0, 2);
      for (int i = 0; i < 3; ++i) KAVFilePutBits(f, 0, 16);
      KAVFilePutBits(f, 0, 2);
      KAVFilePutBits(f, 0, 3);
    });
    uint32_t sizes[4] = {4, 0, 0, 0};
    Loaded l(block, sizes);
    EXPECT_FALSE(l.ok);
  }
}

TEST(ZantherTrees, AbsentTreeMarksTheReaderFailed) {
  const Coded c = codeSymbols({5, 6, 7}, kMapTree);
  uint32_t sizes[4] = {storageBytes(c.figure), 0, 0, 0};
  Loaded l(c.block, sizes);
  ASSERT_TRUE(l.ok);
  BitReader b;
  b.init(c.stream.data(), c.stream.size());
  EXPECT_EQ(decodeValue(l.trees->tree[kTypeTree], l.trees->marker, b), 0u);
  EXPECT_TRUE(b.bad());
}

}  // namespace
