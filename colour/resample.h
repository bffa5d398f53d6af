// Separable filtered rescaling of 32-bit pictures. A resampler is built for
// one kernel and one pair of sizes, with every kernel evaluation done at
// creation; applying it costs one multiply-add per contribution and channel.
// The four 8-bit channels of a pixel are filtered independently.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kav::colour {

struct ResampleContribution {
  double weight;
  int32_t source;  // source pixel index along the axis, already reflected
};

// One axis: per destination pixel a count and a slot of `capacity`
// contributions (the slots all have the same size).
struct ResampleTable {
  uint32_t *counts;
  ResampleContribution *contributions;
  uint32_t capacity;
};

struct Resampler {
  uint32_t destWidth;
  uint32_t destHeight;
  uint32_t sourceWidth;
  uint32_t sourceHeight;
  ResampleTable horizontal;
  ResampleTable vertical;
  double *columnCache;  // 4 channel sums per source row
};

// Returns the source pixel at `column` of the row starting at `row`, as a
// 32-bit value with four 8-bit channels.
using ResampleFetch = uint32_t (*)(const uint8_t *row, uint32_t column);

// Fetch for packed 32-bit pixels (little-endian words); apply recognises it
// and reads such rows directly.
uint32_t resampleFetch32(const uint8_t *row, uint32_t column);

// Null for a zero size, a table too large to allocate, or short memory.
// Selectors past the box kernel (2) select the box kernel.
Resampler *resamplerCreate(uint32_t selector, uint32_t destWidth, uint32_t destHeight, uint32_t sourceWidth,
                           uint32_t sourceHeight);
// Fills dest (destWidth x destHeight pixels, rows packed) from the source
// picture whose first row starts at `source`, rows `sourcePitchBytes` apart
// (negative for bottom-up pictures).
void resamplerApply(const Resampler *resampler, uint32_t *dest, const uint8_t *source, ptrdiff_t sourcePitchBytes,
                    ResampleFetch fetch);
void resamplerFree(Resampler *resampler);

// Building blocks, exposed for the tests.
int32_t resampleReflect(int64_t j, uint32_t size);
uint32_t resampleRoundChannel(double v);

}  // namespace kav::colour
