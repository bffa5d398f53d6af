// Conversion to packed 24-bit pixels (blue, green, red; rows back to back)
// for the colour analysis. In smooth, low-contrast areas each component is
// quantised to 16 levels with an 8x8 ordered dither, so that the histogram
// sees the gentle gradients as a few well-populated colours; detail, very
// dark and flat areas pass unchanged.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kav::colour {

// Input rows start at `input` and lie `pitchBytes` apart (negative for
// bottom-up pictures); out holds width x height x 3 bytes.
void smoothDither24(uint8_t *out, const uint8_t *input, uint32_t width, uint32_t height, ptrdiff_t pitchBytes);
// 32-bit input: the first three bytes of each four are blue, green, red.
void smoothDither32(uint8_t *out, const uint8_t *input, uint32_t width, uint32_t height, ptrdiff_t pitchBytes);
// 16-bit 5-5-5 input (blue in bits 0-4, green 5-9, red 10-14).
void smoothDither16(uint8_t *out, const uint8_t *input, uint32_t width, uint32_t height, ptrdiff_t pitchBytes);
// 8-bit indices into a palette of 256 (red, green, blue) entries.
void smoothDither8(uint8_t *out, const uint8_t *input, uint32_t width, uint32_t height, ptrdiff_t pitchBytes,
                   const uint8_t *palette);

}  // namespace kav::colour
