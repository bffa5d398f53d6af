// The Huffman coder bit for bit: tree streams, size figures, the insertion
// rule, escapes and the depth limit.
#include <gtest/gtest.h>
#include <kavutil/huffman.h>
#include <kavutil/kavfile.h>

#include <string>
#include <vector>

#include "sound/huffman_coder.h"
#include "support/temp_dir.h"

namespace {

// Collects what a coder writes and gives it back as a string of '0'/'1' in
// stream order.
class Stream {
 public:
  Stream() : name_(dir_.file("h.bin")), file_(KAVFileCreate(4096, name_.c_str())) {}
  ~Stream() {
    if (file_) KAVFileClose(file_);
  }
  KAVFile *file() { return file_; }
  std::string bits() {
    const uint32_t count = KAVFileGetPos(file_) * 8 + KAVFileBitPos(file_);
    KAVFileByteAlign(file_);
    KAVFileClose(file_);
    file_ = nullptr;
    const auto bytes = kavtest::readFile(name_);
    std::string s;
    for (uint32_t i = 0; i < count; ++i) s += (bytes[i / 8] >> (i % 8)) & 1 ? '1' : '0';
    return s;
  }

 private:
  kavtest::TempDir dir_;
  std::string name_;
  KAVFile *file_;
};

std::string bin(uint32_t v, int n) {  // n bits, least significant first
  std::string s;
  for (int i = 0; i < n; ++i) s += (v >> i) & 1 ? '1' : '0';
  return s;
}

struct Coder {
  HuffCoder *c;
  explicit Coder(uint32_t kind) : c(HuffOpen(kind)) { HuffInitStats(c); }
  ~Coder() { HuffClose(c); }
};

TEST(Huffman, ByteCoderWithoutStatisticsWritesOneZeroBit) {
  Stream s;
  Coder c(1);
  HuffSetOutput(c.c, s.file());
  EXPECT_EQ(HuffStartEncode(c.c), 12);
  EXPECT_EQ(s.bits(), "0");
}

TEST(Huffman, SingleSymbolIsCodedWithNoBits) {
  Stream s;
  Coder c(1);
  HuffSetOutput(c.c, s.file());
  for (int i = 0; i < 5; ++i) HuffAddStat(c.c, 7);
  EXPECT_EQ(HuffStartEncode(c.c), 20);
  HuffEncode(c.c, 7);
  HuffEncode(c.c, 7);
  EXPECT_EQ(s.bits(), "1" "0" + bin(7, 8) + "0");
  EXPECT_EQ(c.c->symbolsCoded, 2u);
  EXPECT_EQ(c.c->bits, 0u);
}

TEST(Huffman, ThreeSymbolTreeMatchesTheDescribedStream) {
  Stream s;
  Coder c(1);
  HuffSetOutput(c.c, s.file());
  for (uint32_t v : {1, 1, 1, 2, 3}) HuffAddStat(c.c, v);
  EXPECT_EQ(HuffStartEncode(c.c), 32);
  const std::string tree = "1" "1" "0" + bin(1, 8) + "1" "0" + bin(2, 8) + "0" + bin(3, 8) + "0";
  HuffEncode(c.c, 1);
  HuffEncode(c.c, 2);
  HuffEncode(c.c, 3);
  EXPECT_EQ(s.bits(), tree + "0" "10" "11");
  EXPECT_EQ(c.c->bits, 5u);
  EXPECT_EQ(c.c->symbolsCoded, 3u);
}

TEST(Huffman, EqualWeightsMoveTheDisplacedEntryToTheEnd) {
  // Four symbols of weight 1: node 0 = (2, 3) displaces symbol 0 to the end,
  // so node 1 = (1, 0) and the root is (node 0, node 1).
  Stream s;
  Coder c(1);
  HuffSetOutput(c.c, s.file());
  for (uint32_t v : {0, 1, 2, 3}) HuffAddStat(c.c, v);
  EXPECT_EQ(HuffStartEncode(c.c), 8 * 3 + 16);
  const std::string tree = "1" "1" "1" "0" + bin(2, 8) + "0" + bin(3, 8) + "1" "0" + bin(1, 8) + "0" + bin(0, 8) + "0";
  for (uint32_t v : {0, 1, 2, 3}) HuffEncode(c.c, v);
  EXPECT_EQ(s.bits(), tree + "11" "10" "00" "01");
}

TEST(Huffman, FigureCountsOnlyTheCurrentTree) {
  Stream s;
  Coder c(1);
  HuffSetOutput(c.c, s.file());
  for (int block = 0; block < 2; ++block) {
    HuffInitStats(c.c);
    for (uint32_t v : {1, 1, 1, 2, 3}) HuffAddStat(c.c, v);
    EXPECT_EQ(HuffStartEncode(c.c), 32);
    for (uint32_t v : {1, 2, 3, 3}) HuffEncode(c.c, v);
  }
}

TEST(Huffman, WordCoderStreamCarriesByteTreesAndEscapes) {
  Stream s;
  Coder c(0);
  HuffSetOutput(c.c, s.file());
  for (uint32_t v : {0x0102, 0x0102, 0x0305}) HuffAddStat(c.c, v);
  // Cache hits: the second 0x0102 (escape 0, below 32: disabled).
  EXPECT_EQ(HuffStartEncode(c.c), 8 + 16);
  const std::string low = "1" "1" "0" + bin(0x02, 8) + "0" + bin(0x05, 8) + "0";
  const std::string high = "1" "1" "0" + bin(0x01, 8) + "0" + bin(0x03, 8) + "0";
  // Escapes: the lowest unused values 0, 1, 2; the word tree has leaves
  // 0x0102 (weight 1, counted once for the hit) and 0x0305.
  const std::string escapes = bin(0, 16) + bin(1, 16) + bin(2, 16);
  const std::string tree = "1" "0" "0" "0" "0" "1" "1" "0";
  EXPECT_EQ(s.bits(), "1" + low + high + escapes + tree);
}

TEST(Huffman, RepeatsGiveEscapeZeroACodeOnlyFromThirtyTwoHits) {
  for (int repeats : {40, 20}) {
    SCOPED_TRACE(repeats);
    Stream s;
    Coder c(0);
    HuffSetOutput(c.c, s.file());
    std::vector<uint32_t> symbols;
    for (uint32_t v = 100; v < 140; ++v) symbols.push_back(v);
    for (int i = 0; i < repeats; ++i) symbols.push_back(500);
    for (uint32_t v : symbols) HuffAddStat(c.c, v);
    ASSERT_GT(HuffStartEncode(c.c), 0);
    EXPECT_EQ(c.c->escapes[0], 0u);
    if (repeats == 40) {
      EXPECT_EQ(c.c->escapeUsable[0], 1);
      EXPECT_LT(c.c->lengths[0], c.c->lengths[500]);
    } else {
      EXPECT_EQ(c.c->escapeUsable[0], 0);
      EXPECT_EQ(c.c->lengths[0], 0xFF);
    }
    HuffInitLasts(c.c);
    uint32_t before = 0;
    for (size_t i = 0; i < symbols.size(); ++i) {
      before = c.c->bits;
      HuffEncode(c.c, symbols[i]);
    }
    const uint32_t lastLength = c.c->bits - before;
    EXPECT_EQ(lastLength, repeats == 40 ? c.c->lengths[0] : c.c->lengths[500]);
  }
}

TEST(Huffman, CodesPastThirtyBitsAreRefused) {
  Stream s;
  Coder c(1);
  HuffSetOutput(c.c, s.file());
  // Fibonacci weights make a comb: 33 symbols need a depth of 32.
  uint32_t a = 1, b = 1;
  for (uint32_t v = 0; v < 33; ++v) {
    c.c->codes[v] = a;
    const uint32_t next = a + b;
    a = b;
    b = next;
  }
  c.c->hasStatistics = 1;
  EXPECT_EQ(HuffStartEncode(c.c), -1);
  EXPECT_EQ(c.c->tooDeep, 1);
}

TEST(Huffman, ThirtyBitCodesAreAccepted) {
  Stream s;
  Coder c(1);
  HuffSetOutput(c.c, s.file());
  uint32_t a = 1, b = 1;
  for (uint32_t v = 0; v < 31; ++v) {
    c.c->codes[v] = a;
    const uint32_t next = a + b;
    a = b;
    b = next;
  }
  c.c->hasStatistics = 1;
  EXPECT_EQ(HuffStartEncode(c.c), 8 * 30 + 16);
  uint8_t deepest = 0;
  for (uint32_t v = 0; v < 31; ++v) deepest = std::max(deepest, c.c->lengths[v]);
  EXPECT_EQ(deepest, 30);
}

TEST(Huffman, WordCoderWithEveryValueUsedIsRefused) {
  Stream s;
  Coder c(0);
  HuffSetOutput(c.c, s.file());
  for (uint32_t v = 0; v < 65536; ++v) HuffAddStat(c.c, v);
  EXPECT_EQ(HuffStartEncode(c.c), -1);
}

TEST(Huffman, EncodingTwiceGivesIdenticalStreams) {
  std::string first;
  for (int run = 0; run < 2; ++run) {
    Stream s;
    Coder c(0);
    HuffSetOutput(c.c, s.file());
    std::vector<uint32_t> symbols;
    uint32_t x = 12345;
    for (int i = 0; i < 3000; ++i) {
      x = x * 1103515245 + 12345;
      symbols.push_back((x >> 16) % 7 == 0 ? symbols.empty() ? 1 : symbols.back() : (x >> 8) & 0x3FF);
    }
    for (uint32_t v : symbols) HuffAddStat(c.c, v);
    ASSERT_GT(HuffStartEncode(c.c), 0);
    HuffInitLasts(c.c);
    for (uint32_t v : symbols) HuffEncode(c.c, v);
    const std::string bits = s.bits();
    if (run == 0)
      first = bits;
    else
      EXPECT_EQ(bits, first);
  }
}

// Pass 2 before the tree is written is a caller's mistake. It must stay
// inside the coder's tables even when the escape counters of pass 1 are far
// past the symbol range and the previous block had escapes in use (what it
// writes then is not defined); a coder that never wrote a tree writes nothing.
TEST(Huffman, CodingBeforeTheTreeStaysInsideTheTables) {
  Stream s;
  Coder c(0);
  HuffSetOutput(c.c, s.file());
  for (uint32_t v = 1; v < 50; ++v) HuffAddStat(c.c, v);
  for (int i = 0; i < 100; ++i) HuffAddStat(c.c, 7);
  ASSERT_GT(HuffStartEncode(c.c), 0);
  ASSERT_EQ(c.c->escapeUsable[0], 1);

  HuffInitStats(c.c);
  // A hit counter just past the lengths and codes together (5 bytes per
  // value), not only past the values.
  for (uint32_t i = 0; i <= 65536u * 5; ++i) HuffAddStat(c.c, 7);
  ASSERT_EQ(c.c->escapes[0], 65536u * 5);
  HuffInitLasts(c.c);
  for (int i = 0; i < 10; ++i) HuffEncode(c.c, 7);

  KAVFileByteAlign(s.file());
  const uint32_t before = KAVFileGetPos(s.file()) * 8;
  Coder bytes(1);
  HuffSetOutput(bytes.c, s.file());
  HuffAddStat(bytes.c, 3);
  HuffEncode(bytes.c, 3);
  Coder words(0);
  HuffSetOutput(words.c, s.file());
  HuffAddStat(words.c, 300);
  HuffEncode(words.c, 300);
  EXPECT_EQ(s.bits().size(), before);
}

}  // namespace
