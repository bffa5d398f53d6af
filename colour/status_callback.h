// The progress callback of the graphics input, as the colour code calls it:
// a text and a code (0 progress, 1 the first message of a series, 2 an
// error); a non-zero low byte of the answer asks the caller to cancel.
#pragma once

#include <cstdint>

#include "kavutil/kavdefs.h"

namespace kav::colour {

using StatusCallback = uint32_t(KAVAPI *)(const char *text, int32_t code);

// Sends one progress text; true when the callback asked to cancel. A null
// callback never cancels.
inline bool reportProgress(StatusCallback status, const char *text, bool first) {
  if (!status) return false;
  return (status(text, first ? 1 : 0) & 0xFFu) != 0;
}

}  // namespace kav::colour
