// Little-endian byte builders and readers for hand-made test files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kavtest {

using Bytes = std::vector<uint8_t>;

inline void put16(Bytes &b, uint32_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}
inline void put32(Bytes &b, uint32_t v) {
  put16(b, v & 0xFFFF);
  put16(b, v >> 16);
}
inline uint16_t get16(const Bytes &b, size_t at) { return static_cast<uint16_t>(b[at] | (b[at + 1] << 8)); }
inline uint32_t get32(const Bytes &b, size_t at) {
  return get16(b, at) | (static_cast<uint32_t>(get16(b, at + 2)) << 16);
}

}  // namespace kavtest
