// Bit reader over a bounded byte range: 32-bit little-endian words taken
// from the least significant bit upwards. Reading past the end yields zero
// bits; overrun() then tells whether any of them were consumed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace kav::zanther {

struct BitReader {
  const uint8_t *p = nullptr;
  const uint8_t *end = nullptr;
  uint64_t acc = 0;
  uint32_t count = 0;       // valid bits in acc, zero padding included
  uint64_t loadedBits = 0;  // bits ever put into acc
  uint64_t dataBits = 0;
  bool failed = false;      // a decoder met an absent tree or a bad value

  void init(const uint8_t *data, size_t bytes) {
    p = data;
    end = data + bytes;
    acc = 0;
    count = 0;
    loadedBits = 0;
    dataBits = static_cast<uint64_t>(bytes) * 8;
    failed = false;
  }

  // Afterwards at least 33 bits are available.
  inline void refill() {
    if (count > 32) return;
    if (end - p >= 4) {
      uint32_t w;
      std::memcpy(&w, p, 4);
      p += 4;
      acc |= static_cast<uint64_t>(w) << count;
    } else {
      uint32_t w = 0;
      for (unsigned i = 0; p < end; ++i) w |= static_cast<uint32_t>(*p++) << (8 * i);
      acc |= static_cast<uint64_t>(w) << count;
    }
    count += 32;
    loadedBits += 32;
  }

  inline void skip(uint32_t n) {
    acc >>= n;
    count -= n;
  }

  // n from 1 to 32.
  inline uint32_t get(uint32_t n) {
    refill();
    const uint32_t v = static_cast<uint32_t>(acc & ((uint64_t{1} << n) - 1));
    skip(n);
    return v;
  }

  inline uint32_t get1() {
    refill();
    const uint32_t v = static_cast<uint32_t>(acc & 1);
    skip(1);
    return v;
  }

  uint64_t consumedBits() const { return loadedBits - count; }
  bool overrun() const { return consumedBits() > dataBits; }
  bool bad() const { return failed || overrun(); }
};

}  // namespace kav::zanther
