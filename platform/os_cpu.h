// What the processor may be asked for.
#pragma once

namespace kav::os {

// True when the user ruled the vector paths out: KAV_NO_SIMD set to anything
// but empty or "0". Read at each call (callers probe when they set up);
// the portable paths are the reference.
bool simdDisabled();

}  // namespace kav::os
