#include "platform/os_cpu.h"

#include <cstdlib>

namespace kav::os {

bool simdDisabled() {
  const char *v = std::getenv("KAV_NO_SIMD");
  return v && v[0] && !(v[0] == '0' && v[1] == '\0');
}

}  // namespace kav::os
