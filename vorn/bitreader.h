// Bit reader over a frame's video data: little-endian 32-bit words, bits taken
// from each word's least significant end, fields assembled LSB first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace kav::vorn {

class BitReader {
 public:
  // Reads from data[start] on; `size` bytes of data are readable in all.
  // Words past the end read as zeros; overrun() then tells the caller.
  BitReader(const uint8_t *data, size_t size, size_t start) : data_(data), size_(size), start_(start), next_(start) {}

  // Every field of the format is at most 15 bits wide and the cache always
  // holds fewer than 32 bits before a load, so one load suffices.
  uint32_t peek(unsigned n) {
    if (count_ < n) load();
    return uint32_t(cache_) & ((1u << n) - 1u);
  }
  void skip(unsigned n) {
    cache_ >>= n;
    count_ -= n;
  }
  uint32_t bits(unsigned n) {
    uint32_t v = peek(n);
    skip(n);
    return v;
  }
  uint32_t bit() { return bits(1); }
  // Number of zero bits before the next one bit, as far as the cache holds
  // (at least one bit is loaded); never more than the cached bit count.
  unsigned zeroRun() {
    if (count_ == 0) load();
    // Bits above count_ are always clear, so a zero cache is all zeros.
    return cache_ ? unsigned(__builtin_ctzll(cache_)) : count_;
  }

  size_t consumedBits() const { return (next_ - start_) * 8 - count_; }
  // True once a consumed bit lay past the end of the data.
  bool overrun() const { return (consumedBits() + 7) / 8 > size_ - start_; }
  // The byte offset of the word after the last word a bit was consumed from.
  // A word that was only peeked at does not count.
  size_t endOffset() const { return start_ + 4 * ((consumedBits() + 31) / 32); }

 private:
  void load() {
    uint32_t w = 0;
    if (next_ < size_) {
      if (size_ - next_ >= 4) {
        std::memcpy(&w, data_ + next_, 4);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
        w = __builtin_bswap32(w);
#endif
      } else {
        for (size_t i = 0; next_ + i < size_; ++i) w |= uint32_t(data_[next_ + i]) << (8 * i);
      }
    }
    cache_ |= uint64_t(w) << count_;
    count_ += 32;
    next_ += 4;
  }

  const uint8_t *data_;
  size_t size_;
  size_t start_;
  size_t next_;
  uint64_t cache_ = 0;
  unsigned count_ = 0;
};

}  // namespace kav::vorn
