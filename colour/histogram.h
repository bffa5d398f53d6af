// The colour histogram the palette is computed from: one 32-bit counter per
// colour cell, a cell being a colour at 6 bits per component
// (red6 x 4096 + green6 x 64 + blue6). Also the process-wide table of
// squared 6-bit differences that colour matching shares.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kav::colour {

constexpr uint32_t kHistogramCells = 1u << 18;

inline uint32_t cellOf(uint32_t red8, uint32_t green8, uint32_t blue8) {
  return (red8 >> 2) << 12 | (green8 >> 2) << 6 | (blue8 >> 2);
}
inline uint32_t cellRed(uint32_t cell) { return cell >> 12; }
inline uint32_t cellGreen(uint32_t cell) { return (cell >> 6) & 63; }
inline uint32_t cellBlue(uint32_t cell) { return cell & 63; }

// 6-bit component to 8 bits with the low bits refilled: 0 -> 0, 63 -> 255.
inline uint32_t expand6(uint32_t v) { return v * 4 + v / 16; }
// The cell's colour packed as red << 16 | green << 8 | blue.
inline uint32_t cellColour(uint32_t cell) {
  return expand6(cellRed(cell)) << 16 | expand6(cellGreen(cell)) << 8 | expand6(cellBlue(cell));
}

// Entry m x 64 + c is (m - c) squared, for m and c in 0..63. Built on first
// use and kept for the life of the process.
const uint16_t *colourSquares();

// Counts every pixel of a picture into its cell. bitsPerPixel: 8 (indices
// into a palette of (red, green, blue) entries), 16 (5-5-5, red in bits
// 10-14, each 5-bit component doubled to 6 bits), 24 (blue, green, red) or
// 32 (blue, green, red, ignored). Counters saturate instead of wrapping.
// False, with nothing counted, for any other depth or a missing palette.
bool histogramAddPixels(uint32_t *histogram, const uint8_t *pixels, uint32_t width, uint32_t height,
                        ptrdiff_t pitchBytes, uint32_t bitsPerPixel, const uint8_t *palette);
// Adds `count` to one cell, saturating.
void histogramAddCount(uint32_t *histogram, uint32_t cell, uint64_t count);

}  // namespace kav::colour
