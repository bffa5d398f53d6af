// WAVE files for tests: a RIFF header, chunks in any order (with the pad
// byte after odd sizes), and PCM or WAVE_FORMAT_EXTENSIBLE "fmt " contents.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kavtest::wave {

using Bytes = std::vector<uint8_t>;

struct Chunk {
  std::string tag;  // four characters
  Bytes body;
  bool pad = true;  // add the pad byte after an odd size
  int64_t sizeOverride = -1;
};

Bytes fmtBody(uint32_t rate, uint32_t bits, uint32_t channels, uint16_t tag = 1);
// WAVE_FORMAT_EXTENSIBLE with the PCM sub-format (or another first word).
Bytes extensibleBody(uint32_t rate, uint32_t bits, uint32_t channels, uint16_t subFormat = 1);

Bytes riff(const std::vector<Chunk> &chunks);
// The plain layout: "fmt " then "data".
Bytes simple(uint32_t rate, uint32_t bits, uint32_t channels, const Bytes &pcm);

// Test signals: a slow walk of 8-bit or 16-bit samples, frames x channels.
Bytes pcm8(uint32_t frames, uint32_t channels, uint32_t seed);
Bytes pcm16(uint32_t frames, uint32_t channels, uint32_t seed);

}  // namespace kavtest::wave
