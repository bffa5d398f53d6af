#include "platform/os_clock.h"

#include <time.h>

namespace kav::os {

uint64_t monotonicNanoseconds() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000000000ull + static_cast<uint64_t>(ts.tv_nsec);
}

}  // namespace kav::os
