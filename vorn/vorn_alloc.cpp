// Grouped allocation of the Vorn reader's buffers and its last-error text.
#include <kavutil/kavbase.h>

#include <cstring>

#include "vorn/vorn_handle.h"

namespace kav::vorn {
namespace {

uint64_t roundUp16(uint64_t v) { return (v + 15) & ~uint64_t(15); }

char gLastError[64];

}  // namespace

void AllocationGroup::reserve(void *place, uint64_t size) {
  if (count_ == kMaxEntries || size > kLargestBlock) {
    overflow_ = true;
    return;
  }
  // The pad moves each buffer to a different 32-byte line within a 1 KiB
  // span relative to the ones before it, so buffers walked together do not
  // fall on the same cache sets.
  uint64_t k = ((total_ / 32) - ((size + 15) / 32) + 1) & 31;  // mod 32 of the wrapped difference
  uint64_t reservation = roundUp16(size) + k * 32;
  places_[count_] = place;
  reservations_[count_] = reservation;
  ++count_;
  total_ += reservation;
  if (total_ > kLargestBlock) overflow_ = true;
}

bool AllocationGroup::allocate(void *place, uint64_t ownSize) {
  uint64_t own = roundUp16(ownSize);
  bool ok = !overflow_ && own <= kLargestBlock && own + total_ <= kLargestBlock && own + total_ > 0;
  uint8_t *block = ok ? static_cast<uint8_t *>(kavmalloc(uint32_t(own + total_))) : nullptr;
  if (block) {
    std::memset(block, 0, size_t(own + total_));
    std::memcpy(place, &block, sizeof block);
    uint64_t offset = own;
    for (unsigned i = 0; i < count_; ++i) {
      uint8_t *address = block + offset;
      std::memcpy(places_[i], &address, sizeof address);
      offset += reservations_[i];
    }
  }
  clear();
  return block != nullptr;
}

void setLastError(const char *text) {
  std::strncpy(gLastError, text ? text : "", sizeof gLastError - 1);
  gLastError[sizeof gLastError - 1] = 0;
}

const char *lastError() { return gLastError; }

}  // namespace kav::vorn
