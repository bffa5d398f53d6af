// Placement of new palette colours into palette slots so that the picture on
// screen, drawn with the palette in use, changes as little as possible.
#pragma once

#include <cstdint>

namespace kav::colour {

// 100 x the Euclidean distance of two packed colours (red << 16 | green << 8
// | blue), rounded to the nearest integer and limited to 32768.
uint32_t placementDistance(uint32_t a, uint32_t b);

// palette: 256 (red, green, blue) entries holding the palette in use; the
// slots are entries [firstSlot, firstSlot + slotCount). colours: colourCount
// packed colours (colourCount, slotCount <= 256). slotWeights: 256 pixel
// counts indexed by palette entry. Two greedy assignments (colours first,
// slots first) are tried and the one that disturbs the weighted picture less
// is written; slots that receive no colour keep theirs.
void placeColours(uint8_t *palette, uint32_t firstSlot, uint32_t slotCount, const uint32_t *colours,
                  uint32_t colourCount, const uint32_t *slotWeights);

}  // namespace kav::colour
