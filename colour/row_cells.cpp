#include "colour/row_cells.h"

#include "colour/histogram.h"
#include "platform/os_cpu.h"

namespace kav::colour {

void rowCellsPortable(uint32_t *cells, const uint8_t *pixels, uint32_t width, uint32_t bytesPerPixel) {
  for (uint32_t x = 0; x < width; ++x, pixels += bytesPerPixel) cells[x] = cellOf(pixels[2], pixels[1], pixels[0]);
}

namespace {

RowCellsFn choose() {
  if (kav::os::simdDisabled()) return rowCellsPortable;
#if defined(__x86_64__) || defined(__i386__)
  if (__builtin_cpu_supports("avx2")) return rowCellsAvx2;
#endif
  return rowCellsPortable;
}

}  // namespace

// Chosen once per process; the choice never changes afterwards.
RowCellsFn rowCells() {
  static const RowCellsFn fn = choose();
  return fn;
}

}  // namespace kav::colour
