// Constant tables of the Vorn bitstream, shared read-only by every plane.
#pragma once

#include <cstdint>

namespace kav::vorn {

// Coding index of a coefficient to its raster position (8 x row + column).
extern const uint8_t kScan[64];
// The sixteen fill orders of run blocks, as raster positions.
extern const uint8_t kRunPatterns[16][64];

// Dequantisation rows, 16 quantiser numbers of 64 raster entries each.
const uint32_t *intraQuant(unsigned q);
const uint32_t *interQuant(unsigned q);

}  // namespace kav::vorn
