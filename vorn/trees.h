// The sixteen fixed prefix codes and the per-plane symbol maps that permute
// their decoded indices.
#pragma once

#include <cstdint>

#include "vorn/bitreader.h"

namespace kav::vorn {

// Every code is looked up on the next 7 bits (the longest code of any tree):
// entry = code length x 16 + index.
constexpr unsigned kTreeLookahead = 7;
const uint8_t *treeLookup(unsigned tree);

struct Tree {
  const uint8_t *lookup = treeLookup(0);
  uint8_t map[16] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};

  // The symbol, already passed through the map. The look-ahead may see bits
  // past the code; only the code's own bits are consumed.
  uint32_t decode(BitReader &br) const {
    uint32_t e = lookup[br.peek(kTreeLookahead)];
    br.skip(e >> 4);
    return map[e & 15];
  }
};

// Reads a tree number and its symbol map. False when the map lists a value
// twice (a permutation is required).
bool readTree(BitReader &br, Tree &tree);

}  // namespace kav::vorn
