// The nine bundles: streams of small per-block values, refilled from the
// bitstream at the start of a block row when used up.
#pragma once

#include <cstddef>
#include <cstdint>

#include "vorn/bitreader.h"
#include "vorn/trees.h"

namespace kav::vorn {

enum BundleId : unsigned {
  kBlockTypes,
  kSubTypes,
  kColours,
  kPatterns,
  kXOffsets,
  kYOffsets,
  kIntraDc,
  kInterDc,
  kRuns,
  kBundleCount
};

// Values one 8x8 block of the plane width can need from each bundle (the
// sub-block types count per 16 pixels).
extern const uint32_t kValuesPerBlock[kBundleCount];

// Byte size of each bundle buffer for planes up to `width` pixels wide.
void bundleSizes(uint32_t sizes[kBundleCount], uint32_t width);

struct Bundle {
  uint8_t *bytes = nullptr;    // the 8-bit bundles
  uint16_t *words = nullptr;   // the DC bundles
  uint32_t read = 0, end = 0;  // next value, one past the last
  uint32_t capacity = 0;       // values the buffer holds
  unsigned countBits = 9;      // width of each refill count
  bool finished = false;       // a count of 0 was read
  Tree tree;
};

// Working state of all bundles for one plane.
class BundleSet {
 public:
  // Sets up the bundles for a plane `planeWidth` pixels wide over buffers
  // sized by bundleSizes(bufferWidth).
  BundleSet(void *const *buffers, uint32_t planeWidth, uint32_t bufferWidth);

  // Reads the trees and symbol maps of one plane, in stream order.
  bool readTrees(BitReader &br);
  // Refills every bundle that is used up; false on a count that does not fit,
  // a block-type run past its count, or a data overrun.
  bool refill(BitReader &br, bool oldRevision);

  // Next value of a bundle; a bundle that has run dry yields 0 and marks the
  // set as failed (checked once per block).
  uint32_t take(BundleId id) {
    Bundle &b = b_[id];
    if (b.read >= b.end) {
      failed_ = true;
      return 0;
    }
    return b.bytes[b.read++];
  }
  int32_t takeSigned(BundleId id) { return int8_t(take(id)); }
  // Takes the values equal to `value` that come next, at most `max` of them;
  // returns how many were taken.
  uint32_t takeRepeats(BundleId id, uint8_t value, uint32_t max) {
    Bundle &b = b_[id];
    uint32_t n = 0;
    while (n < max && b.read + n < b.end && b.bytes[b.read + n] == value) ++n;
    b.read += n;
    return n;
  }
  uint32_t takeIntraDc() {
    Bundle &b = b_[kIntraDc];
    if (b.read >= b.end) {
      failed_ = true;
      return 0;
    }
    return b.words[b.read++];
  }
  int32_t takeInterDc() {
    Bundle &b = b_[kInterDc];
    if (b.read >= b.end) {
      failed_ = true;
      return 0;
    }
    return int16_t(b.words[b.read++]);
  }
  // Pointer to the next n colours, or null when fewer remain.
  const uint8_t *takeColours(uint32_t n) {
    Bundle &b = b_[kColours];
    if (b.end - b.read < n || b.read > b.end) {
      failed_ = true;
      return nullptr;
    }
    const uint8_t *p = b.bytes + b.read;
    b.read += n;
    return p;
  }
  // Takes the fill blocks that come next with the same colour, at most
  // `max`: block types `fillType` paired with colours `colour`.
  uint32_t takeFillRepeats(uint8_t fillType, uint8_t colour, uint32_t max) {
    Bundle &t = b_[kBlockTypes], &c = b_[kColours];
    uint32_t n = 0;
    while (n < max && t.read + n < t.end && c.read + n < c.end && t.bytes[t.read + n] == fillType &&
           c.bytes[c.read + n] == colour)
      ++n;
    t.read += n;
    c.read += n;
    return n;
  }
  bool failed() const { return failed_; }

 private:
  bool refillAll(BitReader &br, bool oldRevision);
  bool refillTypes(BitReader &br, Bundle &b, uint32_t count);
  void refillColours(BitReader &br, Bundle &b, uint32_t count, bool oldRevision);
  void refillPatterns(BitReader &br, Bundle &b, uint32_t count);
  void refillOffsets(BitReader &br, Bundle &b, uint32_t count);
  void refillDc(BitReader &br, Bundle &b, uint32_t count, bool isSigned);
  void refillRuns(BitReader &br, Bundle &b, uint32_t count);

  Bundle b_[kBundleCount];
  Tree highNibble_[16];
  unsigned lastHighNibble_ = 0;
  bool failed_ = false;
};

}  // namespace kav::vorn
