// Both readers walk the same work list. An entry names a coefficient index and
// a mode: 0 covers the group at the index and the three groups after the next
// one (20 coefficients), 1 the four groups from the index, 2 one group of four,
// 3 a single coefficient. A set bit at an entry splits it; a group's set bit
// defers a coefficient to a later plane as a single entry in front of the list.
#include "vorn/coefficients.h"

#include <cassert>

namespace kav::vorn {
namespace {

enum : uint8_t { kModeGroupTree, kModeGroups, kModeGroup, kModeSingle, kModeCleared };

class WorkList {
 public:
  // Groups are split at most once each (16 of them), so at most 64 entries go
  // in front; appends come only from the three mode-1 splits.
  static constexpr int kFront = 64, kCapacity = kFront + 32;

  void append(uint8_t idx, uint8_t mode) {
    assert(tail_ < kCapacity);
    e_[tail_++] = entry(idx, mode);
  }
  void prepend(uint8_t idx) {
    assert(head_ > 0);
    e_[--head_] = entry(idx, kModeSingle);
  }

  // One plane's walk. `value(k)` reads a value for coefficient k and returns
  // false to end the walk (and everything after it) at once.
  template <class Value>
  bool walk(BitReader &br, Value &&value) {
    compact();
    // Entries are cleared only as the walk leaves them and appended live, so
    // every entry from i on is live: a run of z zero bits passes z entries.
    for (int i = head_; i < tail_;) {
      unsigned zeros = br.zeroRun();
      if (zeros) {
        unsigned n = zeros < unsigned(tail_ - i) ? zeros : unsigned(tail_ - i);
        br.skip(n);
        i += int(n);
        continue;
      }
      br.skip(1);
      uint8_t c = uint8_t(e_[i]);
      switch (e_[i] >> 8) {
        case kModeGroupTree:
          e_[i] = entry(uint8_t(c + 4), kModeGroups);
          if (!group(br, c, value)) return false;
          break;
        case kModeGroups:
          e_[i] = entry(c, kModeGroup);
          append(uint8_t(c + 4), kModeGroup);
          append(uint8_t(c + 8), kModeGroup);
          append(uint8_t(c + 12), kModeGroup);
          break;
        case kModeGroup:
          clear(i++);
          if (!group(br, c, value)) return false;
          break;
        default:
          clear(i++);
          if (!value(c)) return false;
          break;
      }
    }
    return true;
  }

 private:
  static uint16_t entry(uint8_t idx, uint8_t mode) { return uint16_t(idx | mode << 8); }
  void clear(int i) {
    e_[i] = entry(0, kModeCleared);
    if (i < firstCleared_) firstCleared_ = i;
  }
  // Drops cleared entries, keeping the order of the rest. Most entries are
  // long-lived deferred coefficients at the front, so the copy starts at the
  // first cleared entry.
  void compact() {
    if (firstCleared_ >= tail_) return;
    int out = firstCleared_;
    for (int i = firstCleared_; i < tail_; ++i) {
      e_[out] = e_[i];
      out += (e_[i] >> 8) != kModeCleared;
    }
    tail_ = out;
    firstCleared_ = kCapacity;
  }

  template <class Value>
  bool group(BitReader &br, uint8_t c, Value &value) {
    for (uint8_t k = c; k < c + 4; ++k) {
      if (br.bit())
        prepend(k);
      else if (!value(k))
        return false;
    }
    return true;
  }

  uint16_t e_[kCapacity];  // index | mode << 8
  int head_ = kFront, tail_ = kFront;
  int firstCleared_ = kCapacity;
};

}  // namespace

namespace {
void readCoefficientsFrom(BitReader &br, int32_t coef[64]);
void readResidueFrom(BitReader &br, int8_t residue[64], unsigned budget);
}  // namespace

void readCoefficients(BitReader &reader, int32_t coef[64]) {
  // A local copy keeps the reader's cache in registers through the walk.
  BitReader br = reader;
  readCoefficientsFrom(br, coef);
  reader = br;
}

void readResidue(BitReader &reader, int8_t residue[64], unsigned budget) {
  BitReader br = reader;
  readResidueFrom(br, residue, budget);
  reader = br;
}

namespace {

void readCoefficientsFrom(BitReader &br, int32_t coef[64]) {
  unsigned planes = br.bits(4);
  if (planes == 0) return;
  WorkList list;
  list.append(4, kModeGroupTree);
  list.append(24, kModeGroupTree);
  list.append(44, kModeGroupTree);
  list.append(1, kModeSingle);
  list.append(2, kModeSingle);
  list.append(3, kModeSingle);
  for (int b = int(planes) - 1; b >= 0; --b) {
    list.walk(br, [&](uint8_t k) {
      int32_t v;
      if (b > 0) {
        v = int32_t(br.bits(unsigned(b))) + (1 << b);
        if (br.bit()) v = -v;
      } else {
        v = br.bit() ? -1 : 1;
      }
      coef[k] = v;
      return true;
    });
  }
}

void readResidueFrom(BitReader &br, int8_t residue[64], unsigned budget) {
  unsigned s = br.bits(3);
  int8_t mask = int8_t(uint8_t(1u << s));
  uint8_t coded[64];
  unsigned codedCount = 0, changes = 0;
  // Applies nothing itself: true while more changes may follow.
  auto counted = [&]() {
    if (changes == budget) return false;
    ++changes;
    return true;
  };
  WorkList list;
  list.append(4, kModeGroupTree);
  list.append(24, kModeGroupTree);
  list.append(44, kModeGroupTree);
  list.append(0, kModeGroup);
  for (unsigned pass = 0; pass <= s; ++pass) {
    for (unsigned j = 0; j < codedCount; ++j) {
      if (!br.bit()) continue;
      int8_t &r = residue[coded[j]];
      r = int8_t(uint8_t(r >= 0 ? r + mask : r - mask));
      if (!counted()) return;
    }
    bool more = list.walk(br, [&](uint8_t k) {
      assert(codedCount < 64);
      coded[codedCount++] = k;
      residue[k] = br.bit() ? int8_t(uint8_t(-mask)) : mask;
      return counted();
    });
    if (!more) return;
    mask = int8_t(mask >> 1);
  }
}

}  // namespace

}  // namespace kav::vorn
