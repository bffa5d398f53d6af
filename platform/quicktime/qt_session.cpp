// Our reader needs no outside media layer; the state only records that a
// reader set the layer up, so KAVQTShutdown can report and reset it.
#include "kavutil/quicktime.h"
#include "platform/quicktime/qt_session.h"

namespace {
int state = 0;  // 0 not set up, 1 ready
}

namespace kav::qt {

bool connect() {
  state = 1;
  return true;
}

bool connected() { return state == 1; }

}  // namespace kav::qt

extern "C" {

KAV_EXPORT int32_t KAVAPI KAVQTShutdown(void) {
  const int32_t was = state == 1 ? 1 : 0;
  state = 0;
  return was;
}

}
