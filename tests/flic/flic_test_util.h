// Helpers for the Flic tests: hand-built files, a walker over the frames and
// chunks of a file, and a picture checksum.
#pragma once

#include "support/le_bytes.h"

#include <cstdint>
#include <string>
#include <vector>

namespace flictest {

using kavtest::Bytes;

using kavtest::put16;
using kavtest::put32;
using kavtest::get16;
using kavtest::get32;

// One chunk: type and data (the 6-byte header is added when built).
struct Chunk {
  uint16_t type;
  Bytes data;
};

// A Flic built by hand, byte by byte.
struct FlicBuilder {
  uint16_t magic = 0xAF12;
  uint16_t width = 0;
  uint16_t height = 0;
  uint32_t speed = 0;
  int32_t precise = 0;
  // Frame count in the header; -1 means the number of frames added.
  int32_t frameCount = -1;
  std::vector<Bytes> frames;  // each a complete frame, header included

  FlicBuilder(uint16_t w, uint16_t h) : width(w), height(h) {}

  FlicBuilder &frame(const std::vector<Chunk> &chunks, uint16_t type = 0xF1FA) {
    Bytes body;
    for (const auto &c : chunks) {
      put32(body, static_cast<uint32_t>(c.data.size() + 6));
      put16(body, c.type);
      body.insert(body.end(), c.data.begin(), c.data.end());
    }
    Bytes f;
    put32(f, static_cast<uint32_t>(body.size() + 16));
    put16(f, type);
    put16(f, static_cast<uint32_t>(chunks.size()));
    f.resize(16, 0);
    f.insert(f.end(), body.begin(), body.end());
    frames.push_back(f);
    return *this;
  }
  FlicBuilder &rawFrame(const Bytes &f) {
    frames.push_back(f);
    return *this;
  }

  Bytes build() const {
    Bytes b;
    put32(b, 0);
    put16(b, magic);
    put16(b, frameCount < 0 ? static_cast<uint32_t>(frames.size()) : static_cast<uint32_t>(frameCount));
    put16(b, width);
    put16(b, height);
    put16(b, 8);
    put16(b, 3);
    put32(b, speed);
    b.resize(26, 0);
    put32(b, static_cast<uint32_t>(precise));
    b.resize(80, 0);
    put32(b, 128);
    b.resize(128, 0);
    for (const auto &f : frames) b.insert(b.end(), f.begin(), f.end());
    for (int i = 0; i < 4; ++i) b[i] = static_cast<uint8_t>(b.size() >> (8 * i));
    return b;
  }
};

// The frames of a file and the chunks in each, as a reader walks them.
struct ChunkInfo {
  uint16_t type;
  size_t offset;  // of the chunk data in the file
  size_t size;    // of the data
};
struct FrameInfo {
  size_t offset;
  uint32_t size;
  uint16_t type;
  std::vector<ChunkInfo> chunks;
};
inline std::vector<FrameInfo> walkFrames(const Bytes &file) {
  std::vector<FrameInfo> out;
  size_t pos = get32(file, 80);
  while (pos + 16 <= file.size()) {
    FrameInfo f{pos, get32(file, pos), get16(file, pos + 4), {}};
    const uint16_t count = get16(file, pos + 6);
    size_t c = pos + 16;
    for (uint16_t i = 0; i < count && c + 6 <= file.size(); ++i) {
      const uint32_t size = get32(file, c);
      f.chunks.push_back({get16(file, c + 4), c + 6, size - 6});
      c += size;
    }
    out.push_back(f);
    if (f.size < 16) break;
    pos += f.size;
  }
  return out;
}

// FNV-1a over the visible picture (width bytes of each row, pitch apart).
inline uint64_t pictureHash(const uint8_t *pixels, uint32_t width, uint32_t height, uint32_t pitch) {
  uint64_t h = 1469598103934665603ull;
  for (uint32_t y = 0; y < height; ++y)
    for (uint32_t x = 0; x < width; ++x) {
      h ^= pixels[static_cast<size_t>(y) * pitch + x];
      h *= 1099511628211ull;
    }
  return h;
}
inline uint64_t bytesHash(const uint8_t *p, size_t n) {
  uint64_t h = 1469598103934665603ull;
  for (size_t i = 0; i < n; ++i) {
    h ^= p[i];
    h *= 1099511628211ull;
  }
  return h;
}

}  // namespace flictest
