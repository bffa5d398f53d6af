// Helpers of the sound input tests: a recording status callback and reading
// a handle to its end.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "kavutil/sfile.h"
#include "support/temp_dir.h"
#include "support/wave_writer.h"

namespace sftest {

using Bytes = std::vector<uint8_t>;

// The callback has no context of its own: messages go to one list.
inline std::vector<std::pair<std::string, int32_t>> &messages() {
  static std::vector<std::pair<std::string, int32_t>> m;
  return m;
}
inline uint32_t KAVAPI record(const char *text, int32_t code) {
  messages().emplace_back(text ? text : "", code);
  return 0;
}
inline std::string lastError() {
  for (auto it = messages().rbegin(); it != messages().rend(); ++it)
    if (it->second == 2) return it->first;
  return {};
}

inline Bytes readAll(SFile *s, uint32_t piece = 1000) {
  Bytes out, buf(piece);
  for (;;) {
    const uint32_t n = SFileGet(s, buf.data(), piece);
    if (n == 0) break;
    out.insert(out.end(), buf.begin(), buf.begin() + n);
  }
  return out;
}

inline SFile *open(const std::string &name, uint32_t rate = 0, uint32_t bits = 0, uint32_t channels = 0,
                   int32_t start = 0, int32_t end = 0, uint32_t track = 0) {
  messages().clear();
  return SFileOpen(name.c_str(), rate, bits, channels, start, end, track, 0, 0, record);
}

inline int16_t s16(const Bytes &b, size_t i) { return static_cast<int16_t>(b[2 * i] | b[2 * i + 1] << 8); }

}  // namespace sftest
