// The greedy box splitting of the colour reducer: box 0 holds every colour
// cell; the box whose best split lowers the error most is split until the
// colours are all spent or no split gains anything.
#include <cstdio>
#include <cstring>

#include "colour/colour_reduce.h"
#include "colour/histogram.h"
#include "colour/median_boxes.h"
#include "colour/palette_placement.h"
#include "kavutil/kavbase.h"

namespace kav::colour {
namespace {

inline int64_t gainOf(const ColourBox &b) {
  return b.error - static_cast<int64_t>(b.split.error[0]) - static_cast<int64_t>(b.split.error[1]);
}

void clearEntryCells(uint32_t *histogram, const uint8_t *palette, uint32_t from, uint32_t to) {
  for (uint32_t e = from; e < to; ++e)
    histogram[cellOf(palette[3 * e], palette[3 * e + 1], palette[3 * e + 2])] = 0;
}

}  // namespace

uint32_t reduceColours(uint8_t *palette, uint32_t *histogram, uint32_t first, uint32_t count, uint32_t lowReserve,
                       uint32_t highReserve, const uint32_t *slotWeights, StatusCallback status) {
  if (!palette || !histogram || first >= 256) return 0;
  (void)colourSquares();  // shared with the graphics input's colour matching
  if (count > 256 - first) count = 256 - first;
  if (lowReserve > count) lowReserve = count;
  if (highReserve > count - lowReserve) highReserve = count - lowReserve;

  clearEntryCells(histogram, palette, first, first + lowReserve);
  clearEntryCells(histogram, palette, first + count - highReserve, first + count);
  const uint32_t slots = count - lowReserve - highReserve;
  const uint32_t firstSlot = first + lowReserve;

  uint32_t cellCount = 0;
  for (uint32_t i = 0; i < kHistogramCells; ++i) cellCount += histogram[i] != 0;
  if (cellCount == 0 || slots == 0) return 0;

  auto *cells = static_cast<uint32_t *>(kavmalloc(cellCount * 4u));
  const uint32_t boxCapacity = slots > 256 ? slots : 256;
  auto *boxes = static_cast<ColourBox *>(kavmalloc(boxCapacity * static_cast<uint32_t>(sizeof(ColourBox))));
  if (!cells || !boxes) {
    kavfree(cells);
    kavfree(boxes);
    return 0;
  }
  for (uint32_t i = 0, n = 0; i < kHistogramCells; ++i)
    if (histogram[i]) cells[n++] = i;

  initialBox(boxes[0], cells, cellCount, histogram);
  uint32_t made = 1;
  if (slots > 1) {
    for (;;) {
      if (status) {
        char text[64];
        std::snprintf(text, sizeof text, "Reducing the number of colors (%i%%)...",
                      static_cast<int>(100 * (made - 1) / slots + 1));
        if (reportProgress(status, text, made == 1)) break;
      }
      uint32_t chosen = 0;
      int64_t bestGain = gainOf(boxes[0]);
      for (uint32_t i = 1; i < made; ++i) {
        const int64_t g = gainOf(boxes[i]);
        if (g > bestGain) bestGain = g, chosen = i;
      }
      if (bestGain == 0) break;

      ColourBox &box = boxes[chosen];
      ColourBox &added = boxes[made];
      added.start = box.start + box.split.firstCount;
      added.count = box.count - box.split.firstCount;
      added.colour = box.split.colour[1];
      added.error = static_cast<int64_t>(box.split.error[1]);
      box.count = box.split.firstCount;
      box.colour = box.split.colour[0];
      box.error = static_cast<int64_t>(box.split.error[0]);
      ++made;
      if (made >= slots) break;
      findBestSplit(box, cells, histogram);
      findBestSplit(added, cells, histogram);
    }
  }

  uint32_t colours[256];
  const uint32_t written = made < 256 ? made : 256;
  for (uint32_t i = 0; i < written; ++i) colours[i] = boxes[i].colour;
  kavfree(boxes);
  kavfree(cells);

  uint32_t noWeights[256];
  if (!slotWeights) {
    std::memset(noWeights, 0, sizeof noWeights);
    slotWeights = noWeights;
  }
  if (slots <= 256 && made <= 256) {
    reportProgress(status, "Minimizing palette changes...", true);
    placeColours(palette, firstSlot, slots, colours, made, slotWeights);
  } else {
    for (uint32_t i = 0; i < written; ++i) {
      uint8_t *e = palette + 3 * (firstSlot + i);
      e[0] = static_cast<uint8_t>(colours[i] >> 16);
      e[1] = static_cast<uint8_t>(colours[i] >> 8);
      e[2] = static_cast<uint8_t>(colours[i]);
    }
  }
  return made;
}

}  // namespace kav::colour
