// Durations as words, and the millisecond timer.
#include <cstdio>

#include "kavutil/kavnames.h"
#include "platform/os_clock.h"

namespace {

const char *plural(uint32_t n) { return n == 1 ? "" : "s"; }

}  // namespace

extern "C" {

KAV_EXPORT char *KAVAPI GetElapsedTime(char *dest, uint32_t ms) {
  if (!dest) return dest;
  // The longest text, "1193 hours 2 minutes", fits easily in 64 bytes.
  if (ms < 1000) {
    std::snprintf(dest, 64, "%u millisecond%s", ms, plural(ms));
  } else if (ms < 60000) {
    const uint32_t s = ms / 1000;
    std::snprintf(dest, 64, "%u second%s", s, plural(s));
  } else if (ms < 3600000) {
    const uint32_t m = ms / 60000, s = (ms % 60000) / 1000;
    std::snprintf(dest, 64, "%u minute%s %u second%s", m, m == 1 ? "" : "s", s, plural(s));
  } else {
    const uint32_t h = ms / 3600000, m = (ms % 3600000) / 60000;
    std::snprintf(dest, 64, "%u hour%s %u minute%s", h, h == 1 ? "" : "s", m, plural(m));
  }
  return dest;
}

KAV_EXPORT uint32_t KAVAPI KAVTimerRead(void) {
  // The origin is taken on the first call, made before threads share it.
  static const uint64_t origin = kav::os::monotonicNanoseconds();
  return static_cast<uint32_t>((kav::os::monotonicNanoseconds() - origin) / 1000000u);
}

}  // extern "C"
