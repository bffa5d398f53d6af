// Tree building and writing: the sorted list with its insertion rule, code
// assignment, and the pre-order tree stream.
#include <cstring>

#include "kavutil/kavbase.h"
#include "sound/huffman_coder.h"

using namespace kav::huff;

namespace {

// Process-wide work tables indexed by node number, owned by the outermost
// HuffStartEncode running (word coders nest two byte-coder calls).
uint32_t *gWeight = nullptr;
uint32_t *gLeft = nullptr;
uint32_t *gRight = nullptr;

constexpr uint32_t kTableEntries = 65536;

bool allocateWorkTables() {
  gWeight = static_cast<uint32_t *>(kavmalloc(kTableEntries * 4));
  gLeft = static_cast<uint32_t *>(kavmalloc(kTableEntries * 4));
  gRight = static_cast<uint32_t *>(kavmalloc(kTableEntries * 4));
  return gWeight && gLeft && gRight;
}

void freeWorkTables() {
  kavfree(gWeight);
  kavfree(gLeft);
  kavfree(gRight);
  gWeight = gLeft = gRight = nullptr;
}

// The list of pending entries, kept in decreasing weight.
struct SortedList {
  uint32_t *entries;
  uint32_t size;
  const uint32_t *counts;

  uint32_t weight(uint32_t id) const { return id < kNodeBase ? counts[id] : gWeight[id - kNodeBase]; }

  void insert(uint32_t id) {
    const uint32_t w = weight(id);
    // First position whose weight is below w, after every entry of equal or
    // greater weight.
    uint32_t lo = 0, hi = size;
    while (lo < hi) {
      const uint32_t mid = (lo + hi) / 2;
      if (weight(entries[mid]) < w)
        hi = mid;
      else
        lo = mid + 1;
    }
    if (lo == size) {
      entries[size++] = id;
      return;
    }
    if (weight(entries[lo]) == weight(entries[size - 1])) {
      // Everything from lo on weighs the same: moving one of them to the end
      // keeps the order and saves the block move.
      entries[size++] = entries[lo];
      entries[lo] = id;
      return;
    }
    std::memmove(entries + lo + 1, entries + lo, (size - lo) * sizeof(uint32_t));
    entries[lo] = id;
    ++size;
  }
};

void putBits(HuffCoder *c, uint32_t value, uint32_t bits) { KAVFilePutBits(c->output, value, bits); }

void writeLeaf(HuffCoder *c, uint32_t symbol) {
  putBits(c, 0, 1);
  if (isWordCoder(c)) {
    HuffEncode(c->lowCoder, symbol & 0xFF);
    HuffEncode(c->highCoder, symbol >> 8);
  } else {
    putBits(c, symbol, 8);
  }
}

// Depth is at most kMaxCodeBits here: deeper trees were refused before.
void writeSubtree(HuffCoder *c, uint32_t id) {
  if (id < kNodeBase) {
    writeLeaf(c, id);
    return;
  }
  putBits(c, 1, 1);
  c->bits += 8;
  writeSubtree(c, gLeft[id - kNodeBase]);
  writeSubtree(c, gRight[id - kNodeBase]);
}

void writeEscapes(HuffCoder *c) {
  for (int i = 0; i < 3; ++i) putBits(c, c->escapes[i], 16);
}

// Picks the three escape symbols among the unused values; false when not
// even one value is free (every value has a leaf, so none can stand for a
// recent value).
bool chooseEscapes(HuffCoder *c) {
  uint32_t next = 0;
  for (int i = 0; i < 3; ++i) {
    const uint32_t hits = c->escapes[i];
    uint32_t s = next;
    while (s <= 0xFFFF && c->codes[s] != 0) ++s;
    if (s > 0xFFFF) {
      if (i == 0) return false;
      // No free value left: repeat the previous escape, never usable. A
      // reader takes the first escape equal to a leaf, so the repeat never
      // names a leaf of its own.
      c->escapes[i] = c->escapes[i - 1];
      c->escapeUsable[i] = 0;
      next = 0x10000;
      continue;
    }
    if (hits >= 32) {
      c->codes[s] = hits;
      c->escapeUsable[i] = 1;
    } else {
      c->lengths[s] = kDisabledEscape;
      c->escapeUsable[i] = 0;
    }
    c->escapes[i] = s;
    next = s + 1;
  }
  return true;
}

struct StackItem {
  uint32_t id, code, depth;
};

// Gives every leaf its reversed path and depth; false when a code passes
// kMaxCodeBits (too deep is set then).
bool assignCodes(HuffCoder *c, uint32_t root, StackItem *stack) {
  uint32_t top = 0;
  stack[top++] = {root, 0, 0};
  while (top) {
    const StackItem it = stack[--top];
    if (it.depth > kMaxCodeBits) {
      c->tooDeep = 1;
      continue;
    }
    if (it.id < kNodeBase) {
      c->codes[it.id] = it.code;
      c->lengths[it.id] = static_cast<uint8_t>(it.depth);
      c->entries[it.id] = makeEntry(it.code, it.depth);
      continue;
    }
    const uint32_t k = it.id - kNodeBase;
    // The step nearest the root is bit 0, so KAVFilePutBits sends it first.
    const uint32_t stepBit = it.depth < 32 ? (1u << it.depth) : 0;
    stack[top++] = {gRight[k], it.code | stepBit, it.depth + 1};
    stack[top++] = {gLeft[k], it.code, it.depth + 1};
  }
  return !c->tooDeep;
}

// The left subtrees hanging off the rightmost path may hold at most
// kMaxLeftNodes nodes each: readers store such a count in 16 bits.
bool leftSubtreesFit(uint32_t root, uint32_t nodeCount) {
  uint32_t *nodesIn = gWeight;  // the weights are no longer needed
  for (uint32_t k = 0; k < nodeCount; ++k) {
    uint32_t n = 1;
    if (gLeft[k] >= kNodeBase) n += nodesIn[gLeft[k] - kNodeBase];
    if (gRight[k] >= kNodeBase) n += nodesIn[gRight[k] - kNodeBase];
    nodesIn[k] = n;
  }
  for (uint32_t id = root; id >= kNodeBase; id = gRight[id - kNodeBase]) {
    const uint32_t left = gLeft[id - kNodeBase];
    if (left >= kNodeBase && nodesIn[left - kNodeBase] > kMaxLeftNodes) return false;
  }
  return true;
}

int32_t buildAndWrite(HuffCoder *c, uint32_t *listMemory, StackItem *stack) {
  const bool word = isWordCoder(c);
  putBits(c, 1, 1);
  std::memset(c->lengths, 0, c->symbolCount);
  if (word) {
    HuffInitStats(c->lowCoder);
    HuffInitStats(c->highCoder);
    if (!chooseEscapes(c)) return -1;
  }

  SortedList list{listMemory, 0, c->codes};
  for (uint32_t s = 0; s < c->symbolCount; ++s) {
    if (c->codes[s] == 0) continue;
    list.insert(s);
    if (word) {
      HuffAddStat(c->lowCoder, s & 0xFF);
      HuffAddStat(c->highCoder, s >> 8);
    }
  }
  if (word) {
    if (HuffStartEncode(c->lowCoder) < 0) return -1;
    if (HuffStartEncode(c->highCoder) < 0) return -1;
  }

  if (list.size == 1) {
    const uint32_t only = list.entries[0];
    c->lengths[only] = 0;
    c->codes[only] = 0;
    if (word) writeEscapes(c);
    writeLeaf(c, only);
    putBits(c, 0, 1);
    return 20;
  }

  uint32_t nodes = 0;
  while (list.size >= 2) {
    const uint32_t right = list.entries[list.size - 1];
    const uint32_t left = list.entries[list.size - 2];
    gWeight[nodes] = list.weight(left) + list.weight(right);
    gLeft[nodes] = left;
    gRight[nodes] = right;
    list.size -= 2;
    list.insert(kNodeBase + nodes);
    ++nodes;
  }
  const uint32_t root = kNodeBase + nodes - 1;
  if (!assignCodes(c, root, stack)) return -1;

  if (word) writeEscapes(c);
  if (!leftSubtreesFit(root, nodes)) return -1;
  putBits(c, 1, 1);
  c->bits += 8;
  writeSubtree(c, gLeft[root - kNodeBase]);
  writeSubtree(c, gRight[root - kNodeBase]);
  putBits(c, 0, 1);
  return static_cast<int32_t>(c->bits + 16);
}

}  // namespace

extern "C" {

KAV_EXPORT int32_t KAVAPI HuffStartEncode(HuffCoder *c) {
  if (!c) return -1;
  // The figure counts this tree only, whatever earlier blocks coded.
  c->bits = 0;
  c->symbolsCoded = 0;
  c->tooDeep = 0;
  std::memset(c->recent, 0, sizeof c->recent);
  // Until codes are assigned no symbol writes anything, and no escape is
  // taken (the escape counters are not symbols yet).
  std::memset(c->entries, 0, c->symbolCount * sizeof(uint64_t));
  for (uint32_t &l : c->escapeLength) l = kUnusableEscape;
  std::memset(c->escapeUsable, 0, sizeof c->escapeUsable);
  if (!c->hasStatistics) {
    putBits(c, 0, 1);
    return 12;
  }

  const bool outermost = gWeight == nullptr;
  if (outermost && !allocateWorkTables()) {
    freeWorkTables();
    return -1;
  }
  auto *listMemory = static_cast<uint32_t *>(kavmalloc((c->symbolCount + 1) * sizeof(uint32_t)));
  auto *stack = static_cast<StackItem *>(kavmalloc((2 * c->symbolCount + 2) * sizeof(StackItem)));
  int32_t result = -1;
  if (listMemory && stack) result = buildAndWrite(c, listMemory, stack);
  kavfree(listMemory);
  kavfree(stack);
  if (outermost) freeWorkTables();
  if (result >= 0 && isWordCoder(c)) {
    for (int i = 0; i < 3; ++i) {
      if (!c->escapeUsable[i]) continue;
      c->escapeEntry[i] = c->entries[c->escapes[i]];
      c->escapeLength[i] = c->lengths[c->escapes[i]];
    }
  }
  c->bits = 0;
  c->symbolsCoded = 0;
  return result;
}

}  // extern "C"
