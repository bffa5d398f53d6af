// The operating-system services the Zanther reader uses, by the names it
// uses them.
#pragma once

#include <cstdint>

#include "platform/os_file.h"
#include "platform/os_profile.h"

namespace kav::zanther {

inline bool osCurrentPosition(KavOsFile file, uint64_t &position) { return kav::os::currentPosition(file, position); }

// "Debug" in section "Zanther" of the user's profile (ZANTHER_DEBUG first).
inline int32_t osReadDebugSetting() { return kav::os::profileInteger("Zanther", "Debug", "ZANTHER_DEBUG", 0); }

inline void osDebugWrite(const char *text) { kav::os::debugOutput(text); }

}  // namespace kav::zanther
