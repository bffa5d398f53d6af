// Sound sample descriptions ('twos', 'sowt', 'raw ', 'lpcm': integer PCM),
// where each chunk's sample frames lie, and conversion to the PCM we deliver
// (8-bit unsigned, or 16-bit signed little-endian).
#pragma once

#include <cstdint>
#include <vector>

#include "platform/quicktime/qt_movie.h"

namespace kav::qt {

struct SoundFormat {
  uint32_t codec = 0;
  uint32_t channels = 0, bits = 0, rate = 0;
  bool bigEndian = true, isSigned = true;
  uint32_t bytesPerFrame = 0;  // stored
  uint32_t outBits() const { return bits == 8 ? 8 : 16; }
  uint32_t outBytesPerFrame() const { return channels * outBits() / 8; }
};

bool parseSoundDescription(const std::vector<uint8_t> &entry, SoundFormat &f);

struct SoundLayout {
  std::vector<uint64_t> framesBefore;  // per chunk, then the total
  std::vector<uint64_t> offset;        // per chunk
};

// Chunks of the track in order, cut where the file ends.
void layoutSound(const Movie &m, const Track &t, const SoundFormat &f, SoundLayout &out);

// Converts `frames` stored sample frames to delivered ones.
void convertPcm(const SoundFormat &f, const uint8_t *src, uint32_t frames, uint8_t *dst);

}  // namespace kav::qt
