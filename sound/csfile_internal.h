// Pieces of the compressed sound writer shared by its open and block code.
#pragma once

#include <cstdint>

#include "kavutil/csfile.h"

namespace kav::csfile {

// Mask and threshold of a level for 8-bit or 16-bit sound.
struct LevelParams {
  uint32_t mask;
  int32_t threshold;
};
LevelParams levelParams(uint32_t level, bool wide);

// Fills area (c bytes, already holding the silence pattern) from the input,
// with lead silence, range, repeat and loop; returns the bytes produced.
uint32_t readBlockPcm(CSFile *h, uint8_t *area, uint32_t c);

// Writes the delta-coded samples of m PCM bytes: flag bits, trees, first
// samples and codes, byte-aligned.
void writeDeltaSamples(CSFile *h, const uint8_t *pcm, uint32_t m);

}  // namespace kav::csfile
