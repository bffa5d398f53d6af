// Reading the tree block: byte sub-trees, value trees with escape leaves,
// the marker value and the lookup tables.
#include "zanther/zanther_trees.h"

#include <algorithm>
#include <cstring>

#include "kavutil/kavbase.h"

namespace kav::zanther {
namespace {

// Pre-order parse shared by both tree kinds. Nodes get the index of their
// second branch in words[] and a mark in isNode[]; leaves get what leaf()
// returns. pending[] holds the nodes whose first branch is still open.
template <class LeafFn>
int64_t parsePreorder(BitReader &b, uint32_t *words, uint8_t *isNode, uint32_t *pending, uint32_t capacity,
                      LeafFn leaf) {
  uint32_t count = 0, open = 0;
  for (;;) {
    if (count >= capacity || b.overrun()) return -1;
    if (b.get1()) {
      isNode[count] = 1;
      pending[open++] = count;
      words[count++] = 0;
      continue;
    }
    uint32_t value;
    if (!leaf(count, value)) return -1;
    isNode[count] = 0;
    words[count++] = value;
    if (open == 0) break;
    words[pending[--open]] = count;  // the second branch starts here
  }
  b.get1();  // the closing 0 bit
  if (b.overrun()) return -1;
  return count;
}

bool readValueTree(BitReader &b, Tree &t, uint32_t *nodes, uint8_t *usedValues, uint8_t *isNode, uint32_t *pending,
                   uint32_t *lowTree, uint32_t *highTree) {
  t.present = b.get1() != 0;
  if (!t.present) return !b.overrun();
  const bool lowPresent = b.get1() != 0;
  if (lowPresent && !readByteTree(b, lowTree)) return false;
  const bool highPresent = b.get1() != 0;
  if (highPresent && !readByteTree(b, highTree)) return false;
  for (uint32_t &e : t.escapes) e = b.get(16);

  uint32_t escapeLeaf[3] = {~0u, ~0u, ~0u};
  auto leaf = [&](uint32_t at, uint32_t &value) {
    // A leaf needs both byte sub-trees: without one its value is undefined.
    if (!lowPresent || !highPresent) return false;
    const uint32_t low = decodeByte(lowTree, b);
    const uint32_t high = decodeByte(highTree, b);
    value = high << 8 | low;
    usedValues[value >> 3] |= static_cast<uint8_t>(1u << (value & 7));
    for (int i = 0; i < 3; ++i) {
      if (value == t.escapes[i]) {
        escapeLeaf[i] = at;  // a later leaf of the same value takes over
        break;
      }
    }
    return true;
  };
  const int64_t words = parsePreorder(b, nodes, isNode, pending, t.nodeCapacity, leaf);
  if (words < 0) return false;
  t.nodeCount = static_cast<uint32_t>(words);
  for (int i = 0; i < 3; ++i)
    if (escapeLeaf[i] != ~0u) nodes[escapeLeaf[i]] |= static_cast<uint32_t>(i + 1) << 16;
  return true;
}

// Nodes become marker | (nodes in the first branch) << 16; the first branch
// of a full binary tree with k nodes has 2k + 1 words, so k fits 16 bits.
void finishNodes(Tree &t, uint32_t *nodes, const uint8_t *isNode, uint32_t marker) {
  for (uint32_t n = 0; n < t.nodeCount; ++n)
    if (isNode[n]) nodes[n] = ((nodes[n] - n - 2) / 2) << 16 | marker;
}

void buildLookup(Tree &t, uint32_t *lookup, uint32_t bits, uint32_t marker) {
  t.lookup = lookup;
  t.lookupBits = bits;
  const uint32_t entries = 1u << bits;
  if (!t.present || t.nodeCount == 0) {
    for (uint32_t x = 0; x < entries; ++x) lookup[x] = kEntryNode | kEntryAbsent;
    return;
  }
  for (uint32_t x = 0; x < entries; ++x) {
    uint32_t i = 0, used = 0;
    while (used < bits && (t.nodes[i] & 0xFFFF) == marker) {
      const uint32_t w = t.nodes[i];
      i = (x >> used) & 1 ? i + 2 * (w >> 16) + 2 : i + 1;
      ++used;
    }
    if ((t.nodes[i] & 0xFFFF) != marker)
      lookup[x] = (t.nodes[i] & kLeafWordMask) | used << 24;
    else
      lookup[x] = kEntryNode | i | bits << 24;
  }
}

uint32_t boundedCapacityBytes(uint32_t declared) { return std::min(declared / 4, kMaxTreeWords) * 4; }

}  // namespace

bool readByteTree(BitReader &b, uint32_t *words) {
  uint8_t isNode[kMaxByteTreeWords];
  uint32_t pending[kMaxByteTreeWords];
  auto leaf = [&](uint32_t, uint32_t &value) {
    value = b.get(8);
    return true;
  };
  const int64_t count = parsePreorder(b, words, isNode, pending, kMaxByteTreeWords, leaf);
  if (count < 0) return false;
  for (uint32_t n = 0; n < count; ++n)
    if (isNode[n]) words[n] |= kByteNode;
  return true;
}

uint32_t treesAllocationBytes(const uint32_t declaredSizes[kTreeCount]) {
  uint32_t bytes = sizeof(Trees);
  for (uint32_t i = 0; i < kTreeCount; ++i) bytes += boundedCapacityBytes(declaredSizes[i]);
  return bytes;
}

bool readTrees(Trees *trees, const uint32_t declaredSizes[kTreeCount], const uint8_t *block, uint32_t bytes) {
  std::memset(trees, 0, sizeof *trees);
  auto *nodeArea = reinterpret_cast<uint32_t *>(trees + 1);
  uint32_t largest = 0, total = 0;
  for (uint32_t i = 0; i < kTreeCount; ++i) {
    trees->declaredSize[i] = declaredSizes[i];
    Tree &t = trees->tree[i];
    t.nodes = nodeArea;
    t.nodeCapacity = boundedCapacityBytes(declaredSizes[i]) / 4;
    nodeArea += t.nodeCapacity;
    largest = std::max(largest, t.nodeCapacity);
    total += t.nodeCapacity;
  }

  // Scratch: two byte sub-trees, the 65536-bit map of leaf values, the open
  // nodes of the largest tree and the node marks of all four.
  const uint32_t scratchBytes = 2 * 2048 + 8192 + largest * 4 + total + 8;
  auto *scratch = static_cast<uint8_t *>(kavmalloc(scratchBytes));
  if (!scratch) return false;
  std::memset(scratch, 0, 2 * 2048 + 8192);
  auto *lowTree = reinterpret_cast<uint32_t *>(scratch);
  auto *highTree = reinterpret_cast<uint32_t *>(scratch + 2048);
  uint8_t *usedValues = scratch + 4096;
  auto *pending = reinterpret_cast<uint32_t *>(scratch + 4096 + 8192);
  uint8_t *isNodeAll = scratch + 4096 + 8192 + 4 * largest;
  uint8_t *isNode[kTreeCount];
  for (uint32_t i = 0, at = 0; i < kTreeCount; at += trees->tree[i].nodeCapacity, ++i) isNode[i] = isNodeAll + at;

  BitReader b;
  b.init(block, bytes);
  bool ok = true;
  for (uint32_t i = 0; i < kTreeCount && ok; ++i) {
    Tree &t = trees->tree[i];
    ok = readValueTree(b, t, const_cast<uint32_t *>(t.nodes), usedValues, isNode[i], pending, lowTree, highTree);
  }
  uint32_t marker = 0x10000;
  if (ok) {
    for (uint32_t v = 0; v < 0x10000; ++v) {
      if (!(usedValues[v >> 3] & (1u << (v & 7)))) {
        marker = v;
        break;
      }
    }
    // Every value is some leaf's: nothing could tell a node from a leaf.
    ok = marker < 0x10000;
  }
  if (!ok) {
    kavfree(scratch);
    return false;
  }

  trees->marker = marker;
  uint32_t *lookups[kTreeCount] = {trees->mapLookup, trees->colourLookup, trees->fullLookup, trees->typeLookup};
  for (uint32_t i = 0; i < kTreeCount; ++i) {
    Tree &t = trees->tree[i];
    finishNodes(t, const_cast<uint32_t *>(t.nodes), isNode[i], marker);
    buildLookup(t, lookups[i], i == kTypeTree ? 10 : 12, marker);
  }
  kavfree(scratch);
  return true;
}

void resetRecentValues(Trees *trees) {
  for (Tree &t : trees->tree) t.recent[0] = t.recent[1] = t.recent[2] = 0;
}

uint32_t decodeSlow(Tree &t, uint32_t marker, BitReader &b, uint32_t entry) {
  if (entry & kEntryAbsent) {
    b.failed = true;  // a frame used a tree the file does not have
    return 0;
  }
  b.skip(t.lookupBits);
  uint32_t i = entry & kLeafWordMask;
  for (;;) {
    const uint32_t w = t.nodes[i];
    if ((w & 0xFFFF) != marker) return w & kLeafWordMask;
    i = b.get1() ? i + 2 * (w >> 16) + 2 : i + 1;
  }
}

}  // namespace kav::zanther
