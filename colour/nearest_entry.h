// The palette entry nearest a colour at 6 bits per component: the smallest
// sum of squared component differences (6-bit entry components, each the
// top six bits of the 8-bit one); of equals the lowest entry wins.
#pragma once

#include <cstdint>

namespace kav::colour {

// A window of consecutive palette entries, held as 6-bit component planes so
// that many entries are measured at once. Positions past the window hold a
// component no colour comes near (see kFarComponent).
struct PaletteWindow {
  static constexpr int16_t kFarComponent = 127;  // every distance to it exceeds any real one
  alignas(32) int16_t red[256];
  alignas(32) int16_t green[256];
  alignas(32) int16_t blue[256];
  uint32_t first = 0;
  uint32_t count = 0;
};

// palette: 256 (red, green, blue) entries; the window is entries first ..
// first + count - 1 (clipped to the palette).
void preparePaletteWindow(PaletteWindow &w, const uint8_t *palette, uint32_t first, uint32_t count);

using NearestEntryFn = uint32_t (*)(const PaletteWindow &w, uint32_t r6, uint32_t g6, uint32_t b6);

// The reference; `first` for an empty window.
uint32_t nearestEntryPortable(const PaletteWindow &w, uint32_t r6, uint32_t g6, uint32_t b6);
// AVX2 twin; call only where the processor has AVX2.
uint32_t nearestEntryAvx2(const PaletteWindow &w, uint32_t r6, uint32_t g6, uint32_t b6);
// The fastest variant this processor runs (the reference when KAV_NO_SIMD=1).
NearestEntryFn nearestEntry();

}  // namespace kav::colour
