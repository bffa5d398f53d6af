// Byte builders for hand-made RIFF AVI files in tests.
#pragma once

#include "support/le_bytes.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/avi/avi_file.h"

namespace avitest {

using kavtest::Bytes;

using kavtest::put16;
using kavtest::put32;
inline void putId(Bytes &b, const char *id) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(id[i]));
}
inline void append(Bytes &b, const Bytes &more) {
  if (more.empty()) return;
  const size_t at = b.size();
  b.resize(at + more.size());
  std::memcpy(b.data() + at, more.data(), more.size());
}

inline Bytes chunk(const char *id, const Bytes &data) {
  Bytes b;
  putId(b, id);
  put32(b, static_cast<uint32_t>(data.size()));
  append(b, data);
  if (data.size() & 1) b.push_back(0);
  return b;
}
inline Bytes list(const char *listId, const char *type, const std::vector<Bytes> &children) {
  Bytes inner;
  putId(inner, type);
  for (const Bytes &c : children) append(inner, c);
  Bytes b;
  putId(b, listId);
  put32(b, static_cast<uint32_t>(inner.size()));
  append(b, inner);
  return b;
}

inline Bytes streamHeader(const char *type, const char *handler, uint32_t scale, uint32_t rate, uint32_t length,
                          uint32_t sampleSize, uint32_t suggested = 0) {
  Bytes b;
  putId(b, type);
  if (handler) putId(b, handler); else put32(b, 0);
  put32(b, 0);  // flags
  put32(b, 0);  // priority, language
  put32(b, 0);  // initial frames
  put32(b, scale);
  put32(b, rate);
  put32(b, 0);  // start
  put32(b, length);
  put32(b, suggested);
  put32(b, 0xFFFFFFFF);
  put32(b, sampleSize);
  put32(b, 0);
  put32(b, 0);
  return chunk("strh", b);
}

inline Bytes bitmapHeader(int32_t width, int32_t height, uint16_t bits, uint32_t compression, uint32_t sizeImage,
                          uint32_t clrUsed = 0) {
  Bytes b;
  put32(b, 40);
  put32(b, static_cast<uint32_t>(width));
  put32(b, static_cast<uint32_t>(height));
  put16(b, 1);
  put16(b, bits);
  put32(b, compression);
  put32(b, sizeImage);
  put32(b, 0);
  put32(b, 0);
  put32(b, clrUsed);
  put32(b, 0);
  return b;
}

inline Bytes waveFormat(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits) {
  Bytes b;
  put16(b, tag);
  put16(b, channels);
  put32(b, rate);
  put32(b, rate * channels * bits / 8);
  put16(b, static_cast<uint16_t>(channels * bits / 8));
  put16(b, bits);
  return b;
}

inline Bytes mainHeader(uint32_t usPerFrame, uint32_t streams, uint32_t width, uint32_t height) {
  Bytes b;
  put32(b, usPerFrame);
  for (int i = 0; i < 3; ++i) put32(b, 0);
  put32(b, 0);  // total frames
  put32(b, 0);
  put32(b, streams);
  put32(b, 0);
  put32(b, width);
  put32(b, height);
  for (int i = 0; i < 4; ++i) put32(b, 0);
  return chunk("avih", b);
}

// RIFF "AVI " around the given top-level chunks.
inline Bytes riffAvi(const std::vector<Bytes> &children) { return list("RIFF", "AVI ", children); }

// An idx1 entry list; offsets of chunk headers relative to the "movi" type.
struct IndexItem {
  std::string id;
  uint32_t flags, offset, size;
};
inline Bytes idx1(const std::vector<IndexItem> &items) {
  Bytes b;
  for (const IndexItem &i : items) {
    putId(b, i.id.c_str());
    put32(b, i.flags);
    put32(b, i.offset);
    put32(b, i.size);
  }
  return chunk("idx1", b);
}

// Finds the first occurrence of a four-character code; npos when absent.
inline size_t find(const Bytes &b, const char *id, size_t from = 0) {
  for (size_t i = from; i + 4 <= b.size(); ++i)
    if (std::memcmp(b.data() + i, id, 4) == 0) return i;
  return std::string::npos;
}

}  // namespace avitest
