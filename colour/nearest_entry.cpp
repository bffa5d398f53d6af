#include "colour/nearest_entry.h"

#include <cstddef>

#include "platform/os_cpu.h"

namespace kav::colour {

void preparePaletteWindow(PaletteWindow &w, const uint8_t *palette, uint32_t first, uint32_t count) {
  if (first > 255) first = 0, count = 0;
  if (count > 256 - first) count = 256 - first;
  w.first = first;
  w.count = count;
  for (uint32_t i = 0; i < 256; ++i) {
    const bool inside = i < count;
    const uint8_t *p = palette + 3 * static_cast<std::size_t>(first + (inside ? i : 0));
    w.red[i] = inside ? static_cast<int16_t>(p[0] >> 2) : PaletteWindow::kFarComponent;
    w.green[i] = inside ? static_cast<int16_t>(p[1] >> 2) : PaletteWindow::kFarComponent;
    w.blue[i] = inside ? static_cast<int16_t>(p[2] >> 2) : PaletteWindow::kFarComponent;
  }
}

uint32_t nearestEntryPortable(const PaletteWindow &w, uint32_t r6, uint32_t g6, uint32_t b6) {
  uint32_t best = 0xFFFFFFFFu, bestIndex = 0;
  for (uint32_t i = 0; i < w.count; ++i) {
    const int32_t dr = w.red[i] - static_cast<int32_t>(r6), dg = w.green[i] - static_cast<int32_t>(g6),
                  db = w.blue[i] - static_cast<int32_t>(b6);
    const uint32_t d = static_cast<uint32_t>(dr * dr + dg * dg + db * db);
    if (d < best) {
      best = d;
      bestIndex = i;
      if (d == 0) break;
    }
  }
  return w.first + bestIndex;
}

namespace {

NearestEntryFn choose() {
  if (kav::os::simdDisabled()) return nearestEntryPortable;
#if defined(__x86_64__) || defined(__i386__)
  if (__builtin_cpu_supports("avx2")) return nearestEntryAvx2;
#endif
  return nearestEntryPortable;
}

}  // namespace

// Chosen once per process; the choice never changes afterwards.
NearestEntryFn nearestEntry() {
  static const NearestEntryFn fn = choose();
  return fn;
}

}  // namespace kav::colour
