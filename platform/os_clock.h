// A monotonic clock.
#pragma once

#include <cstdint>

namespace kav::os {

// Nanoseconds from an unspecified origin; never goes backwards.
uint64_t monotonicNanoseconds();

}  // namespace kav::os
