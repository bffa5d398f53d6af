// The user's settings and the debugger output.
#pragma once

#include <cstdint>

#include "kavutil/kavdefs.h"

namespace kav::os {

// An integer setting of the user's profile: the environment variable
// `environmentName` when set, else key `key` of section [`section`] in
// ${XDG_CONFIG_HOME:-$HOME/.config}/kavutil.ini; `fallback` when neither
// holds it.
int32_t profileInteger(const char *section, const char *key, const char *environmentName, int32_t fallback);

// Debugger output: standard error.
void debugOutput(const char *text);

}  // namespace kav::os
