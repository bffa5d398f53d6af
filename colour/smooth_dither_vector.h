// The vector kernels of the smooth-area dither and the choice among them.
// The kernels work on rows of 4-byte pixels (blue, green, red, a fourth byte
// they ignore), so 32-bit input is read in place and the other layouts are
// widened to it a row at a time.
#pragma once

#include <cstdint>

namespace kav::colour {

// Filters the interior pixels 1 .. n of one row into `out` (the output row:
// 3 bytes a pixel) and returns n: every interior pixel when the row holds at
// least one whole block besides its two border pixels, else none. The rows
// above, at and below hold `width` pixels. thresholds[j] is the dither
// threshold of pixel 1 + j and of every pixel a multiple of 8 beyond it.
using DitherBlocksFn = uint32_t (*)(uint8_t *out, const uint8_t *above, const uint8_t *mid, const uint8_t *below,
                                    uint32_t width, const uint8_t thresholds[8]);

uint32_t ditherBlocksAvx2(uint8_t *out, const uint8_t *above, const uint8_t *mid, const uint8_t *below,
                          uint32_t width, const uint8_t thresholds[8]);
uint32_t ditherBlocksSse41(uint8_t *out, const uint8_t *above, const uint8_t *mid, const uint8_t *below,
                           uint32_t width, const uint8_t thresholds[8]);

enum class DitherUnit { kPortable = 0, kSse41 = 1, kAvx2 = 2 };

// The unit in use: probed at the first dither (KAV_NO_SIMD=1 rules the
// vector units out).
DitherUnit ditherUnit();

// Uses at most the given unit (never more than the processor has); for tests
// and benchmarks that compare the units.
void limitDitherUnit(DitherUnit unit);

}  // namespace kav::colour
