// Pieces the PCX run-length expansions share: picking up a run carried over
// from the last line, and writing one run whose count and value are at s.
// Plain code on purpose: inlined into a vector kernel, the fixed-size fill
// becomes that kernel's own full-width stores.
#pragma once

#include <algorithm>
#include <cstring>

#include "platform/stillimage/still_pcx_kernels.h"

namespace kav::still {

// Writes what is left of a run from the last line at d (up to the line's
// n bytes). True when that run fills the line (it carries on again).
inline bool resumeRun(uint8_t *&d, size_t n, PcxRunCarry &carry) {
  if (!carry.count) return false;
  const size_t k = std::min(carry.count, n);
  std::memset(d, carry.value, k);
  d += k;
  carry.count -= k;
  return carry.count != 0;
}

// s[0] is a count and s[1] its value: writes the run, or the part that
// fits with the rest carried into the next line. False when the line is
// full.
inline bool writeRun(const uint8_t *&s, uint8_t *&d, uint8_t *dEnd, PcxRunCarry &carry) {
  const size_t count = s[0] & 0x3Fu;
  const uint8_t value = s[1];
  s += 2;
  const size_t room = static_cast<size_t>(dEnd - d);
  if (count > room) {
    std::memset(d, value, room);
    d = dEnd;
    carry.count = count - room;
    carry.value = value;
    return false;
  }
  // With room for the longest count, one fixed fill whatever the count:
  // no length to branch on.
  if (room >= 64) std::memset(d, value, 64);
  else std::memset(d, value, count);
  d += count;
  return d < dEnd;
}

// Writes the run at s and the runs straight after it whose counts are over
// `over` (the caller's window loop codes shorter ones itself): runs often
// follow runs. True when a run was cut at the line's end, its rest carried.
inline bool writeRuns(const uint8_t *&s, uint8_t *&d, uint8_t *dEnd, const uint8_t *sEnd, unsigned over,
                      PcxRunCarry &carry) {
  while (writeRun(s, d, dEnd, carry) && sEnd - s >= 2 && (s[0] & 0xC0) == 0xC0 && (s[0] & 0x3Fu) > over) {
  }
  return carry.count != 0;
}

}  // namespace kav::still
