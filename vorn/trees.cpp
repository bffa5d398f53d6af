#include "vorn/trees.h"

#include <array>

namespace kav::vorn {
namespace {

// The codes of indices 0..15 of each tree, bits in reading order.
constexpr const char *kCodes[16][16] = {
    {"0000", "1000", "0100", "1100", "0010", "1010", "0110", "1110", "0001", "1001", "0101", "1101", "0011", "1011",
     "0111", "1111"},
    {"0", "1000", "11000", "10100", "11100", "10010", "11010", "10110", "11110", "11001", "10101", "11101", "10011",
     "11011", "10111", "11111"},
    {"00", "01", "1000", "1001", "10100", "10101", "10110", "10111", "11000", "11001", "11010", "11011", "11100",
     "11101", "11110", "11111"},
    {"00", "010", "011", "1000", "1001", "1010", "10110", "10111", "11000", "11001", "11010", "11011", "11100", "11101",
     "11110", "11111"},
    {"000", "001", "010", "011", "1000", "1001", "1010", "1011", "11000", "11001", "11010", "11011", "11100", "11101",
     "11110", "11111"},
    {"000", "001", "0100", "0101", "0110", "0111", "1000", "1001", "1010", "1011", "1100", "1101", "11100", "11101",
     "11110", "11111"},
    {"00", "0100", "0101", "0110", "0111", "1000", "1001", "1010", "1011", "1100", "11010", "11011", "11100", "11101",
     "11110", "11111"},
    {"0", "100", "101", "11000", "11001", "11010", "110110", "110111", "111000", "111001", "111010", "111011",
     "111100", "111101", "111110", "111111"},
    {"0", "10", "11000", "11001", "110100", "110101", "110110", "110111", "111000", "111001", "111010", "111011",
     "111100", "111101", "111110", "111111"},
    {"0", "100", "1010", "1011", "11000", "11001", "11010", "11011", "111000", "111001", "111010", "111011", "111100",
     "111101", "111110", "111111"},
    {"00", "01", "100", "1010", "1011", "11000", "11001", "11010", "11011", "11100", "111010", "111011", "111100",
     "111101", "111110", "111111"},
    {"0", "1000", "1001", "1010", "1011", "11000", "11001", "11010", "11011", "11100", "111010", "111011", "111100",
     "111101", "111110", "111111"},
    {"00", "01", "10", "11000", "11001", "11010", "110110", "110111", "111000", "111001", "111010", "111011", "111100",
     "111101", "111110", "111111"},
    {"0", "100", "101", "110", "111000", "111001", "111010", "111011", "1111000", "1111001", "1111010", "1111011",
     "1111100", "1111101", "1111110", "1111111"},
    {"0", "100", "101", "110", "11100", "111010", "1110110", "1110111", "1111000", "1111001", "1111010", "1111011",
     "1111100", "1111101", "1111110", "1111111"},
    {"00", "01", "100", "101", "110", "111000", "111001", "111010", "111011", "111100", "1111010", "1111011",
     "1111100", "1111101", "1111110", "1111111"},
};

using Lookup = std::array<std::array<uint8_t, 1u << kTreeLookahead>, 16>;

// The first bit read is the least significant bit of the peeked value, so a
// code of length n fills every entry whose low n bits spell it.
constexpr Lookup buildLookup() {
  Lookup t{};
  for (int tree = 0; tree < 16; ++tree)
    for (int idx = 0; idx < 16; ++idx) {
      const char *code = kCodes[tree][idx];
      unsigned len = 0, value = 0;
      for (; code[len]; ++len)
        if (code[len] == '1') value |= 1u << len;
      for (unsigned hi = 0; hi < (1u << (kTreeLookahead - len)); ++hi)
        t[tree][value | (hi << len)] = uint8_t(len * 16 + idx);
    }
  return t;
}

constexpr Lookup kLookup = buildLookup();

}  // namespace

const uint8_t *treeLookup(unsigned tree) { return kLookup[tree & 15].data(); }

bool readTree(BitReader &br, Tree &tree) {
  unsigned t = br.bits(4);
  tree.lookup = treeLookup(t);
  for (int i = 0; i < 16; ++i) tree.map[i] = uint8_t(i);
  if (t == 0) return true;
  if (br.bit()) {
    // Listed form: up to eight values first, the rest in increasing order.
    unsigned listed = br.bits(3) + 1;
    bool used[16] = {};
    unsigned n = 0;
    for (unsigned i = 0; i < listed; ++i) {
      unsigned v = br.bits(4);
      if (used[v]) return false;
      used[v] = true;
      tree.map[n++] = uint8_t(v);
    }
    for (unsigned v = 0; v < 16; ++v)
      if (!used[v]) tree.map[n++] = uint8_t(v);
    return true;
  }
  // Merge form: pairs swapped by one bit each, then runs of 2, 4 and 8 merged
  // up to the depth, one bit per element taken while both runs last.
  unsigned depth = br.bits(2);
  uint8_t list[16], merged[16];
  for (unsigned i = 0; i < 16; i += 2) {
    bool swap = br.bit();
    list[i] = uint8_t(swap ? i + 1 : i);
    list[i + 1] = uint8_t(swap ? i : i + 1);
  }
  for (unsigned run = 2; run <= (1u << depth); run *= 2) {
    for (unsigned base = 0; base < 16; base += 2 * run) {
      unsigned a = base, aEnd = base + run, b = aEnd, bEnd = aEnd + run, out = base;
      while (a < aEnd && b < bEnd) merged[out++] = br.bit() ? list[b++] : list[a++];
      while (a < aEnd) merged[out++] = list[a++];
      while (b < bEnd) merged[out++] = list[b++];
    }
    for (unsigned i = 0; i < 16; ++i) list[i] = merged[i];
  }
  for (unsigned i = 0; i < 16; ++i) tree.map[i] = list[i];
  return true;
}

}  // namespace kav::vorn
