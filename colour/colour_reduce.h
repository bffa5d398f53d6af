// The colour reducer: from a colour histogram to the colours of a palette
// range, placed so that the picture on screen changes as little as possible.
// The graphics input's best-palette scan fills the histogram and the slot
// weights and calls reduceColours; nothing here knows about its handle.
#pragma once

#include <cstddef>
#include <cstdint>

#include "colour/status_callback.h"

namespace kav::colour {

// The 20 fixed colours of entries 0-9 and 246-255, as (red, green, blue).
extern const uint8_t kSystemColours[20][3];

// Writes the system colours into entries 0-9 and 246-255.
void writeSystemColours(uint8_t *palette);

struct PaletteReserve {
  uint32_t low;   // entries at the start of the range that keep their colour
  uint32_t high;  // entries at the end of the range that keep their colour
};

// The reserve of the range [first, first + count) for a palette method:
// method 2 reserves nothing; 0 and 1 reserve the parts of the range that
// cover entries 0-9 and 246-255. The reserve never exceeds the range.
PaletteReserve paletteReserve(uint32_t method, uint32_t first, uint32_t count);

// How many pixels of the picture on screen use each palette index, so that
// placement spares the colours that matter. The picture is width x height
// 8-bit pixels, rows pitchBytes apart; margins are zero or negative, blanks
// zero or positive (as in the graphics input's placement). The blank and
// margin area count toward index 0. Counting starts |topMargin| rows down
// and, when leftMargin is negative, startColumnBytes to the right; it never
// reads outside the picture. A null picture leaves every weight 0.
void computeSlotWeights(uint32_t weights[256], const uint8_t *picture, uint32_t width, uint32_t height,
                        ptrdiff_t pitchBytes, int32_t leftMargin, int32_t topMargin, int32_t rightBlank,
                        int32_t bottomBlank, uint32_t startColumnBytes);

// Reduces the histogram to the colours of palette entries
// [first + reserve.low, first + count - reserve.high) and returns how many
// colours it made (0 for an empty histogram, which leaves the palette as it
// is). palette holds 256 (red, green, blue) entries and on entry the palette
// in use; entries outside the new colours' range are kept. The cells of the
// reserved entries' colours are cleared in the histogram first, so that no
// new colour repeats them. slotWeights (256, indexed by palette entry) may
// be null for all zero. Progress goes to `status`; a cancel there keeps the
// colours made so far.
uint32_t reduceColours(uint8_t *palette, uint32_t *histogram, uint32_t first, uint32_t count, uint32_t lowReserve,
                       uint32_t highReserve, const uint32_t *slotWeights, StatusCallback status);

}  // namespace kav::colour
