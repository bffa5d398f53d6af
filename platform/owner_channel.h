// Records sent to the owner of a window: the front end listens on a file
// descriptor it handed to the library.
#pragma once

#include <cstddef>

#include "kavutil/kavdefs.h"

namespace kav::os {

// Writes the whole block or fails. A reader that has gone away gives false,
// never a SIGPIPE that would end the process.
bool writeRecord(KavWindow owner, const void *bytes, size_t count);

}  // namespace kav::os
