// Bit reading and writing for transform frames: least significant bit
// first, in little-endian 32-bit words (so byte order on the wire is the
// order of the bytes of each word, low byte first).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace kav::sound {

// Reads from a buffer of known length. Past the end it yields zero bits and
// sets `overrun`, which the caller checks once per frame.
class TransformBitReader {
 public:
  TransformBitReader(const uint8_t *data, size_t sizeBytes) : next_(data), end_(data + sizeBytes) {}

  // count is 0..32
  uint32_t get(uint32_t count) {
    if (count > available_) refill();
    if (count > available_) {
      overrun_ = true;
      missingBits_ += count - available_;
      available_ = count;  // the bits above the buffered ones are zero
    }
    const uint32_t value = static_cast<uint32_t>(buffer_ & ((uint64_t{1} << count) - 1));
    buffer_ >>= count;
    available_ -= count;
    return value;
  }

  bool overrun() const { return overrun_; }
  // Bits taken so far, those read as missing included.
  uint64_t bitsRead() const {
    return static_cast<uint64_t>(consumedBytes_) * 8 - available_ + missingBits_;
  }

 private:
  // Leaves at least 56 bits buffered while input remains: whole bytes are
  // added while they fit below the 64-bit limit.
  void refill() {
    if (static_cast<size_t>(end_ - next_) >= 8) {
      uint64_t word = 0;
      for (int i = 7; i >= 0; --i) word = (word << 8) | next_[i];
      const uint32_t take = (63 - available_) / 8;
      buffer_ |= (word & ((uint64_t{1} << (take * 8)) - 1)) << available_;  // take is at most 7
      next_ += take;
      consumedBytes_ += take;
      available_ += take * 8;
      return;
    }
    while (available_ <= 56 && next_ < end_) {
      buffer_ |= static_cast<uint64_t>(*next_++) << available_;
      ++consumedBytes_;
      available_ += 8;
    }
  }

  const uint8_t *next_;
  const uint8_t *end_;
  uint64_t buffer_ = 0;
  uint32_t available_ = 0;
  size_t consumedBytes_ = 0;
  uint64_t missingBits_ = 0;
  bool overrun_ = false;
};

// Writes into a buffer the caller sized for the largest frame.
class TransformBitWriter {
 public:
  explicit TransformBitWriter(uint8_t *data) : data_(data) {}

  // count is 0..32; value has no bits above count.
  void put(uint32_t value, uint32_t count) {
    buffer_ |= static_cast<uint64_t>(value) << pending_;
    pending_ += count;
    if (pending_ >= 32) {
      const auto word = static_cast<uint32_t>(buffer_);
      data_[size_] = static_cast<uint8_t>(word);
      data_[size_ + 1] = static_cast<uint8_t>(word >> 8);
      data_[size_ + 2] = static_cast<uint8_t>(word >> 16);
      data_[size_ + 3] = static_cast<uint8_t>(word >> 24);
      size_ += 4;
      buffer_ >>= 32;
      pending_ -= 32;
    }
  }

  // Pads with zero bits to a whole 32-bit word; returns the size in bytes.
  uint32_t finish() {
    if (pending_ > 0) put(0, 32 - pending_);
    return size_;
  }

 private:
  uint8_t *data_;
  uint64_t buffer_ = 0;
  uint32_t pending_ = 0;  // below 32 between calls
  uint32_t size_ = 0;
};

}  // namespace kav::sound
