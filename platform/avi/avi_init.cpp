// The process-wide start-up flag of the AVI layer. Our reader and writer
// need no global set-up; the flag is kept so that the first call is the
// one place where such set-up would go, and tests can see it was made.
#include "kavutil/avi.h"
#include "platform/avi/avi_init.h"

namespace {
bool initialised = false;
}

namespace kav::avi {
bool aviInitialised() { return initialised; }
}  // namespace kav::avi

extern "C" {

KAV_EXPORT void KAVAPI KAVAVIInit(void) {
  if (!initialised) initialised = true;
}

}
