// Sends a data record to an owner window (the front end's descriptor), through
// the user-interface layer so a recording backend sees it too.
#include "kavutil/kavbase.h"
#include "ui/backend.h"

extern "C" KAV_EXPORT int32_t KAVAPI CopyData(KavWindow target, uint32_t sender, uint32_t tag, uint32_t size,
                                              const void *data) {
  return kav::ui::backend().sendRecord(target, sender, tag, data, size);
}
