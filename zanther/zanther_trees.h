// The four Huffman trees of a Zanther file: reading the tree block, the
// marker value that tells nodes from leaves, the direct lookup tables, and
// value decoding with the recent-value escapes.
#pragma once

#include <cstdint>

#include "zanther/zanther_bits.h"

namespace kav::zanther {

enum TreeIndex : uint32_t { kMapTree = 0, kColourTree = 1, kFullTree = 2, kTypeTree = 3, kTreeCount = 4 };

// Lookup entries. A leaf entry holds the leaf word and the bits it used; a
// node entry the node reached after all lookup bits; an absent tree has only
// absent entries.
constexpr uint32_t kEntryNode = 0x80000000u;
constexpr uint32_t kEntryAbsent = 0x40000000u;
constexpr uint32_t kLeafWordMask = 0x3FFFF;  // value, and escape position + 1 in bits 16-17

// A tree holds at most one leaf per 16-bit value (one value is always left
// for the marker) and one node fewer.
constexpr uint32_t kMaxTreeWords = 131071;
constexpr uint32_t kMaxByteTreeWords = 511;

struct Tree {
  const uint32_t *nodes;  // pre-order words
  uint32_t nodeCapacity;  // words the header declared (bounded)
  uint32_t nodeCount;
  const uint32_t *lookup;
  uint32_t lookupBits;    // 12, or 10 for the type tree
  uint32_t recent[3];
  uint32_t escapes[3];
  bool present;
};

struct Trees {
  uint32_t declaredSize[kTreeCount];
  uint32_t mapLookup[4096];
  uint32_t colourLookup[4096];
  uint32_t fullLookup[4096];
  uint32_t typeLookup[1024];
  uint32_t marker;
  Tree tree[kTreeCount];
  // The node arrays follow the record.
};

// Bytes for the trees of these declared sizes (bounded to what a tree can use).
uint32_t treesAllocationBytes(const uint32_t declaredSizes[kTreeCount]);

// Reads the tree block into `trees` (an allocation of treesAllocationBytes).
// False when the block is damaged: a tree needing more words than declared,
// a leaf of an absent byte sub-tree, bits past the block, or no value left
// for the marker.
bool readTrees(Trees *trees, const uint32_t declaredSizes[kTreeCount], const uint8_t *block, uint32_t bytes);

void resetRecentValues(Trees *trees);

uint32_t decodeSlow(Tree &t, uint32_t marker, BitReader &b, uint32_t entry);

inline uint32_t decodeValue(Tree &t, uint32_t marker, BitReader &b) {
  b.refill();
  const uint32_t entry = t.lookup[b.acc & ((1u << t.lookupBits) - 1)];
  uint32_t leaf;
  if (__builtin_expect(!(entry & kEntryNode), 1)) {
    b.skip((entry >> 24) & 15);
    leaf = entry & kLeafWordMask;
  } else {
    leaf = decodeSlow(t, marker, b, entry);
  }
  const uint32_t escape = leaf >> 16;
  const uint32_t v = escape ? t.recent[escape - 1] : leaf;
  if (v != t.recent[0]) {
    t.recent[2] = t.recent[1];
    t.recent[1] = t.recent[0];
    t.recent[0] = v;
  }
  return v;
}

}  // namespace kav::zanther

namespace kav::zanther {

// Byte sub-trees (the leaf bytes of a value tree, and the sound delta trees):
// pre-order words, a node holding kByteNode | index of its second branch.
constexpr uint32_t kByteNode = 0x80000000u;

// Reads one byte sub-tree (pre-order and the final 0 bit) into words[511].
bool readByteTree(BitReader &b, uint32_t *words);

inline uint32_t decodeByte(const uint32_t *words, BitReader &b) {
  uint32_t i = 0;
  while (words[i] & kByteNode) i = b.get1() ? (words[i] & ~kByteNode) : i + 1;
  return words[i];
}

}  // namespace kav::zanther
