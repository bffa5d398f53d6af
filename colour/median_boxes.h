// Boxes of the colour reducer: contiguous ranges of the cell list, each with
// its colour, its error and its best split into two parts.
#pragma once

#include <cstdint>

namespace kav::colour {

struct BoxSplit {
  uint32_t firstCount;   // cells of the first part, which lead the box after reordering
  uint32_t colour[2];    // packed red << 16 | green << 8 | blue
  uint64_t error[2];
};

struct ColourBox {
  uint32_t start;  // in the cell list
  uint32_t count;
  int64_t error;
  uint32_t colour;
  BoxSplit split;
};

// The luminance-weighted error of a set of cells around their truncated
// mean, and that mean, from the sums of the cells (count-weighted).
struct CellMoments {
  uint64_t pixels;
  uint64_t cells;
  uint64_t sum[3];      // red6, green6, blue6, each times the cell's count
  uint64_t squares[3];  // component6 squared times the count
  void add(const CellMoments &o);
  void subtractFrom(const CellMoments &total);  // *this = total - *this
  uint64_t error() const;
  // Packed means at 8 bits (0 to 252); a set of one cell gives that cell's
  // own colour widened to 8 bits (0 to 255).
  uint32_t colour(uint32_t singleCell) const;
};

CellMoments momentsOf(const uint32_t *cells, uint32_t count, const uint32_t *histogram);

// Sets box.split and reorders the box's cells so that the first part leads.
// Boxes of one or two cells split into their cells; larger ones try the 512
// limit candidates and keep the one with the smallest total error.
void findBestSplit(ColourBox &box, uint32_t *cells, const uint32_t *histogram);

// Fills box 0 over the whole cell list: colour, error and best split. Its
// error is made to exceed its split's errors when there are two cells or more,
// so that the first split always happens.
void initialBox(ColourBox &box, uint32_t *cells, uint32_t count, const uint32_t *histogram);

}  // namespace kav::colour
