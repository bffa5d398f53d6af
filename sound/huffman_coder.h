// The Huffman coder record and the tree builder's process-wide work tables.
#pragma once

#include <cstdint>

#include "kavutil/huffman.h"

struct HuffCoder {
  uint32_t symbolsCoded;  // 1 per HuffEncode on a byte coder, 2 on a word coder
  uint32_t bits;          // code bits written, 8 per tree node while writing a tree
  KAVFile *output;
  HuffCoder *lowCoder;   // word coder only: the leaves' low bytes
  HuffCoder *highCoder;  // word coder only: the leaves' high bytes
  uint32_t recent[3];    // most recent first
  // Before HuffStartEncode: cache hits per position; after it, the escape
  // symbol of each position.
  uint32_t escapes[3];
  uint32_t *codes;    // counts before HuffStartEncode, reversed code words after it
  uint8_t *lengths;   // code lengths; kDisabledEscape marks an escape without a code
  uint8_t hasStatistics;
  uint8_t tooDeep;
  // An escape can be usable only when a free value was found for it; kept
  // apart from the lengths so that a position without a free value can never
  // borrow another symbol's code.
  uint8_t escapeUsable[3];
  uint32_t symbolCount;  // 256 or 65536
  // After HuffStartEncode: each symbol's code word in the low 32 bits and
  // its length above, so that coding a symbol takes one load; 0 for a symbol
  // without a code, which then writes nothing. Zeroed at every
  // HuffStartEncode.
  uint64_t *entries;
  // The escapes ready to use: their entries, and their code lengths for the
  // comparison with the value's own (256, longer than any code, while an
  // escape is not usable).
  uint64_t escapeEntry[3];
  uint32_t escapeLength[3];
};

namespace kav::huff {

constexpr uint8_t kDisabledEscape = 0xFF;
constexpr uint32_t kMaxCodeBits = 30;
constexpr uint32_t kNodeBase = 0x10000;  // list entries from here on are nodes
constexpr uint32_t kMaxLeftNodes = 65535;

inline bool isWordCoder(const HuffCoder *c) { return c->lowCoder != nullptr; }

constexpr uint32_t kUnusableEscape = 256;

inline uint64_t makeEntry(uint32_t code, uint32_t length) { return code | (uint64_t{length} << 32); }

inline void updateRecent(HuffCoder *c, uint32_t v) {
  if (v != c->recent[0]) {
    c->recent[2] = c->recent[1];
    c->recent[1] = c->recent[0];
    c->recent[0] = v;
  }
}

}  // namespace kav::huff
