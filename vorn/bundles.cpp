#include "vorn/bundles.h"

#include <bit>

namespace kav::vorn {

const uint32_t kValuesPerBlock[kBundleCount] = {1, 1, 64, 8, 1, 1, 1, 1, 48};

namespace {

// Slack values per bundle that let one refill run on into later rows.
constexpr uint32_t kSpareValues = 512;

uint32_t blocksAcross(BundleId id, uint32_t width) { return id == kSubTypes ? (width >> 1) >> 3 : width >> 3; }

uint64_t valueCapacity(BundleId id, uint32_t width) {
  return uint64_t(kValuesPerBlock[id]) * blocksAcross(id, width) + kSpareValues;
}

}  // namespace

void bundleSizes(uint32_t sizes[kBundleCount], uint32_t width) {
  for (unsigned i = 0; i < kBundleCount; ++i) {
    BundleId id = BundleId(i);
    uint64_t bytes = valueCapacity(id, width) * (id == kIntraDc || id == kInterDc ? 2 : 1);
    sizes[i] = uint32_t((bytes + 3) & ~uint64_t(3));
  }
}

BundleSet::BundleSet(void *const *buffers, uint32_t planeWidth, uint32_t bufferWidth) {
  for (unsigned i = 0; i < kBundleCount; ++i) {
    BundleId id = BundleId(i);
    Bundle &b = b_[i];
    b.bytes = static_cast<uint8_t *>(buffers[i]);
    b.words = static_cast<uint16_t *>(buffers[i]);
    uint64_t cap = valueCapacity(id, bufferWidth);
    b.capacity = cap > 0xFFFFFFFFu ? 0xFFFFFFFFu : uint32_t(cap);
    uint64_t e = 511 + uint64_t(kValuesPerBlock[id]) * blocksAcross(id, planeWidth);
    unsigned w = unsigned(std::bit_width(e));
    b.countBits = w > 15 ? 15 : w;
  }
}

bool BundleSet::readTrees(BitReader &br) {
  bool ok = readTree(br, b_[kBlockTypes].tree) && readTree(br, b_[kSubTypes].tree);
  for (unsigned i = 0; ok && i < 16; ++i) ok = readTree(br, highNibble_[i]);
  ok = ok && readTree(br, b_[kColours].tree) && readTree(br, b_[kPatterns].tree) &&
       readTree(br, b_[kXOffsets].tree) && readTree(br, b_[kYOffsets].tree) && readTree(br, b_[kRuns].tree);
  lastHighNibble_ = 0;
  return ok && !br.overrun();
}

bool BundleSet::refill(BitReader &reader, bool oldRevision) {
  // A local copy keeps the reader's cache in registers while values decode.
  BitReader br = reader;
  bool ok = refillAll(br, oldRevision);
  reader = br;
  return ok;
}

bool BundleSet::refillAll(BitReader &br, bool oldRevision) {
  for (unsigned i = 0; i < kBundleCount; ++i) {
    Bundle &b = b_[i];
    if (b.finished || b.read < b.end) continue;
    uint32_t count = br.bits(b.countBits);
    if (count == 0) {
      b.finished = true;
      continue;
    }
    if (count > b.capacity) return false;
    b.read = 0;
    b.end = count;
    switch (BundleId(i)) {
      case kBlockTypes:
      case kSubTypes:
        if (!refillTypes(br, b, count)) return false;
        break;
      case kColours: refillColours(br, b, count, oldRevision); break;
      case kPatterns: refillPatterns(br, b, count); break;
      case kXOffsets:
      case kYOffsets: refillOffsets(br, b, count); break;
      case kIntraDc: refillDc(br, b, count, false); break;
      case kInterDc: refillDc(br, b, count, true); break;
      case kRuns: refillRuns(br, b, count); break;
      default: break;
    }
    if (br.overrun()) return false;
  }
  return true;
}

bool BundleSet::refillTypes(BitReader &br, Bundle &b, uint32_t count) {
  if (br.bit()) {
    uint8_t v = uint8_t(br.bits(4));
    for (uint32_t i = 0; i < count; ++i) b.bytes[i] = v;
    return true;
  }
  static const uint8_t kRepeat[4] = {4, 8, 12, 32};
  uint8_t last = 0;
  uint32_t n = 0;
  while (n < count) {
    uint32_t sym = b.tree.decode(br);
    if (sym < 12) {
      last = uint8_t(sym);
      b.bytes[n++] = last;
    } else {
      uint32_t rep = kRepeat[sym - 12];
      if (rep > count - n) return false;
      for (uint32_t i = 0; i < rep; ++i) b.bytes[n++] = last;
    }
  }
  return true;
}

void BundleSet::refillColours(BitReader &br, Bundle &b, uint32_t count, bool oldRevision) {
  bool fill = br.bit();
  uint32_t decoded = fill ? 1 : count;
  const Tree low = b.tree;
  unsigned last = lastHighNibble_;
  for (uint32_t i = 0; i < decoded; ++i) {
    uint32_t h = highNibble_[last].decode(br);
    uint32_t l = low.decode(br);
    last = h;
    uint32_t v = h * 16 + l;
    // The older revision stored colours as sign and magnitude around 128.
    if (oldRevision) v = v < 128 ? 128 + (v & 0x7f) : 128 - (v & 0x7f);
    b.bytes[i] = uint8_t(v);
  }
  lastHighNibble_ = last;
  if (fill)
    for (uint32_t i = 1; i < count; ++i) b.bytes[i] = b.bytes[0];
}

void BundleSet::refillPatterns(BitReader &br, Bundle &b, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t lo = b.tree.decode(br);
    uint32_t hi = b.tree.decode(br);
    b.bytes[i] = uint8_t(lo | (hi << 4));
  }
}

void BundleSet::refillOffsets(BitReader &br, Bundle &b, uint32_t count) {
  if (br.bit()) {
    int32_t m = int32_t(br.bits(4));
    if (m && br.bit()) m = -m;
    for (uint32_t i = 0; i < count; ++i) b.bytes[i] = uint8_t(m);
    return;
  }
  for (uint32_t i = 0; i < count; ++i) {
    int32_t m = int32_t(b.tree.decode(br));
    if (m && br.bit()) m = -m;
    b.bytes[i] = uint8_t(m);
  }
}

void BundleSet::refillDc(BitReader &br, Bundle &b, uint32_t count, bool isSigned) {
  uint16_t current;
  if (isSigned) {
    int32_t m = int32_t(br.bits(10));
    if (m && br.bit()) m = -m;
    current = uint16_t(m);
  } else {
    current = uint16_t(br.bits(11));
  }
  b.words[0] = current;
  for (uint32_t i = 1; i < count;) {
    uint32_t group = count - i < 8 ? count - i : 8;
    unsigned width = br.bits(4);
    for (uint32_t j = 0; j < group; ++j, ++i) {
      if (width) {
        int32_t d = int32_t(br.bits(width));
        if (d && br.bit()) d = -d;
        current = uint16_t(current + d);
      }
      b.words[i] = current;
    }
  }
}

void BundleSet::refillRuns(BitReader &br, Bundle &b, uint32_t count) {
  if (br.bit()) {
    uint8_t v = uint8_t(br.bits(4));
    for (uint32_t i = 0; i < count; ++i) b.bytes[i] = v;
    return;
  }
  for (uint32_t i = 0; i < count; ++i) b.bytes[i] = uint8_t(b.tree.decode(br));
}

}  // namespace kav::vorn
