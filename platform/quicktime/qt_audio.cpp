#include "platform/quicktime/qt_audio.h"

#include <algorithm>
#include <cstring>

namespace kav::qt {

namespace {

constexpr uint32_t kTwos = atomType('t', 'w', 'o', 's');
constexpr uint32_t kSowt = atomType('s', 'o', 'w', 't');
constexpr uint32_t kRaw = atomType('r', 'a', 'w', ' ');
constexpr uint32_t kLpcm = atomType('l', 'p', 'c', 'm');
constexpr uint32_t kMaxRate = 768000;

}  // namespace

bool parseSoundDescription(const std::vector<uint8_t> &e, SoundFormat &f) {
  if (e.size() < 36) return false;
  f.codec = be32(e.data() + 4);
  const uint16_t version = be16(e.data() + 16);
  f.channels = be16(e.data() + 24);
  f.bits = be16(e.data() + 26);
  f.rate = be32(e.data() + 32) >> 16;
  if (f.codec == kTwos) {
    f.bigEndian = true;
    f.isSigned = true;
  } else if (f.codec == kSowt) {
    f.bigEndian = false;
    f.isSigned = true;
  } else if (f.codec == kRaw) {
    f.bigEndian = true;
    f.isSigned = f.bits != 8;  // 8-bit 'raw ' is offset binary
  } else if (f.codec == kLpcm) {
    f.bigEndian = true;
    f.isSigned = true;
    if (version == 2) {
      if (e.size() < 72) return false;
      double rate;
      uint64_t bitsOfRate = be64(e.data() + 40);
      std::memcpy(&rate, &bitsOfRate, sizeof rate);
      if (!(rate >= 1 && rate <= kMaxRate)) return false;
      f.rate = static_cast<uint32_t>(rate);
      f.channels = be32(e.data() + 48);
      f.bits = be32(e.data() + 56);
      const uint32_t flags = be32(e.data() + 60);
      if (flags & 1) return false;  // floating point
      f.bigEndian = (flags & 2) != 0;
      f.isSigned = (flags & 4) != 0 || f.bits != 8;
    }
  } else {
    return false;
  }
  if (f.channels < 1 || f.channels > 2 || f.rate == 0 || f.rate > kMaxRate) return false;
  if (f.bits != 8 && f.bits != 16 && f.bits != 24 && f.bits != 32) return false;
  f.bytesPerFrame = f.channels * f.bits / 8;
  return true;
}

void layoutSound(const Movie &m, const Track &t, const SoundFormat &f, SoundLayout &out) {
  out.framesBefore.clear();
  out.offset.clear();
  uint64_t frames = 0;
  uint64_t sample = 0;  // stsz sample index of the chunk's first sample
  for (const Chunk &c : t.chunks) {
    uint64_t bytes = 0;
    if (t.uniformSize) {
      // Old files count a sample per frame with size 1; others give bytes.
      bytes = uint64_t{c.samples} * (t.uniformSize >= f.bytesPerFrame ? t.uniformSize : f.bytesPerFrame);
    } else {
      for (uint64_t k = 0; k < c.samples && sample + k < t.sizes.size(); ++k) bytes += t.sizes[sample + k];
    }
    sample += c.samples;
    if (c.offset >= m.fileSize) break;
    const bool cut = bytes > m.fileSize - c.offset;
    if (cut) bytes = m.fileSize - c.offset;
    out.framesBefore.push_back(frames);
    out.offset.push_back(c.offset);
    frames += bytes / f.bytesPerFrame;
    if (cut) break;
  }
  out.framesBefore.push_back(frames);
}

void convertPcm(const SoundFormat &f, const uint8_t *src, uint32_t frames, uint8_t *dst) {
  const uint32_t values = frames * f.channels;
  const uint32_t bytes = f.bits / 8;
  for (uint32_t i = 0; i < values; ++i, src += bytes) {
    if (f.bits == 8) {
      *dst++ = f.isSigned ? static_cast<uint8_t>(src[0] ^ 0x80) : src[0];
      continue;
    }
    // The two most significant bytes of the sample.
    const uint8_t hi = f.bigEndian ? src[0] : src[bytes - 1];
    const uint8_t lo = f.bigEndian ? src[1] : src[bytes - 2];
    *dst++ = lo;
    *dst++ = f.isSigned ? hi : static_cast<uint8_t>(hi ^ 0x80);
  }
}

}  // namespace kav::qt
