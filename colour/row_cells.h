// The colour cell of every pixel of a row of 24-bit (blue, green, red) or
// 32-bit (blue, green, red, ignored) pixels: the step that both the
// histogram and the matching of colours to a palette take first.
#pragma once

#include <cstdint>

namespace kav::colour {

// Rows are cut into runs of at most this many pixels.
constexpr uint32_t kCellRun = 256;

// cells[x] = cellOf(red, green, blue) of pixel x, for x < width (at most
// kCellRun); bytesPerPixel 3 or 4.
using RowCellsFn = void (*)(uint32_t *cells, const uint8_t *pixels, uint32_t width, uint32_t bytesPerPixel);

void rowCellsPortable(uint32_t *cells, const uint8_t *pixels, uint32_t width, uint32_t bytesPerPixel);
// AVX2 twin; call only where the processor has AVX2.
void rowCellsAvx2(uint32_t *cells, const uint8_t *pixels, uint32_t width, uint32_t bytesPerPixel);
// The fastest variant this processor runs (the reference when KAV_NO_SIMD=1).
RowCellsFn rowCells();

}  // namespace kav::colour
