// Pixel counting into the colour histogram and the shared squares table.
#include "colour/histogram.h"

#include "colour/row_cells.h"

namespace kav::colour {
namespace {

// A counter that has reached the top stays there: a colour seen more than
// 2^32 times over a long scan is still the most frequent one, not a rare one.
inline void bump(uint32_t *histogram, uint32_t cell) { histogram[cell] += histogram[cell] != 0xFFFFFFFFu; }

struct SquaresTable {
  uint16_t entries[4096];
  SquaresTable() {
    for (int m = 0; m < 64; ++m)
      for (int c = 0; c < 64; ++c) entries[m * 64 + c] = static_cast<uint16_t>((m - c) * (m - c));
  }
};

}  // namespace

const uint16_t *colourSquares() {
  static const SquaresTable table;
  return table.entries;
}

void histogramAddCount(uint32_t *histogram, uint32_t cell, uint64_t count) {
  if (!histogram || cell >= kHistogramCells) return;
  const uint64_t sum = histogram[cell] + count;
  histogram[cell] = sum > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(sum);
}

bool histogramAddPixels(uint32_t *histogram, const uint8_t *pixels, uint32_t width, uint32_t height,
                        ptrdiff_t pitchBytes, uint32_t bitsPerPixel, const uint8_t *palette) {
  if (!histogram || !pixels) return false;
  switch (bitsPerPixel) {
    case 8: {
      if (!palette) return false;
      uint32_t cells[256];
      for (uint32_t i = 0; i < 256; ++i) cells[i] = cellOf(palette[3 * i], palette[3 * i + 1], palette[3 * i + 2]);
      for (uint32_t y = 0; y < height; ++y) {
        const uint8_t *row = pixels + static_cast<ptrdiff_t>(y) * pitchBytes;
        for (uint32_t x = 0; x < width; ++x) bump(histogram, cells[row[x]]);
      }
      return true;
    }
    case 16:
      for (uint32_t y = 0; y < height; ++y) {
        const uint8_t *row = pixels + static_cast<ptrdiff_t>(y) * pitchBytes;
        for (uint32_t x = 0; x < width; ++x) {
          const uint32_t v = row[2 * x] | static_cast<uint32_t>(row[2 * x + 1]) << 8;
          bump(histogram, ((v >> 10) & 31) << 13 | ((v >> 5) & 31) << 7 | (v & 31) << 1);
        }
      }
      return true;
    case 24:
    case 32: {
      const uint32_t step = bitsPerPixel / 8;
      const RowCellsFn toCells = rowCells();
      uint32_t cells[kCellRun];
      for (uint32_t y = 0; y < height; ++y) {
        const uint8_t *p = pixels + static_cast<ptrdiff_t>(y) * pitchBytes;
        for (uint32_t x = 0; x < width; x += kCellRun) {
          const uint32_t n = width - x < kCellRun ? width - x : kCellRun;
          toCells(cells, p + step * static_cast<size_t>(x), n, step);
          for (uint32_t i = 0; i < n; ++i) bump(histogram, cells[i]);
        }
      }
      return true;
    }
    default:
      return false;
  }
}

}  // namespace kav::colour
