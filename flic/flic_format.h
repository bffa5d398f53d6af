// Layout of a Flic file: header offsets, frame and chunk types, and the
// little-endian accessors shared by the reader and the writer.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kav::flic {

constexpr uint32_t kHeaderBytes = 128;
constexpr uint32_t kFrameHeaderBytes = 16;
constexpr uint32_t kChunkHeaderBytes = 6;
constexpr uint32_t kPaletteBytes = 768;
constexpr int32_t kFileBufferBytes = 64000;

constexpr uint16_t kMagicFli = 0xAF11;
constexpr uint16_t kMagicFlc = 0xAF12;
constexpr uint16_t kFrameTypeFrame = 0xF1FA;
// Some programs put a chunk of settings before frame 1; it is not a frame.
constexpr uint16_t kFrameTypePrefix = 0xF100;

// Header field offsets.
constexpr uint32_t kOffFileSize = 0;
constexpr uint32_t kOffMagic = 4;
constexpr uint32_t kOffFrameCount = 6;
constexpr uint32_t kOffWidth = 8;
constexpr uint32_t kOffHeight = 10;
constexpr uint32_t kOffDepth = 12;
constexpr uint32_t kOffFlags = 14;
constexpr uint32_t kOffSpeed = 16;
constexpr uint32_t kOffPreciseDuration = 26;
constexpr uint32_t kOffAspectX = 38;
constexpr uint32_t kOffAspectY = 40;
constexpr uint32_t kOffFirstFrame = 80;
constexpr uint32_t kOffSecondFrame = 84;

enum ChunkType : uint16_t {
  kChunkColour256 = 4,
  kChunkWordDelta = 7,
  kChunkColour64 = 11,
  kChunkByteDelta = 12,
  kChunkBlack = 13,
  kChunkByteRun = 15,
  kChunkCopy = 16,
};

// What a written Flic may hold: the header counts frames in 16 bits (the
// ring frame not counted), and the buffered file reads files below 4 GiB.
constexpr uint32_t kMaxFrames = 0xFFFF;
constexpr uint32_t kMaxFileBytes = 0xFFFFFFFFu;
// Tests lower the size a written Flic may reach to see it end cleanly
// without writing gigabytes; 0 puts kMaxFileBytes back.
void setWriterFileLimitForTests(uint32_t bytes);

// The default frame duration, 200 ms, in 10-microsecond units (negated).
constexpr int32_t kDefaultRate = -20000;

inline uint16_t le16(const uint8_t *p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t le32(const uint8_t *p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}
inline void putLe16(uint8_t *p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void putLe32(uint8_t *p, uint32_t v) {
  putLe16(p, v);
  putLe16(p + 2, v >> 16);
}

}  // namespace kav::flic
