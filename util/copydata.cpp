// Sends a data record to an owner window (the front end's descriptor).
#include <cstring>
#include <vector>

#include "kavutil/kavbase.h"
#include "platform/owner_channel.h"

namespace {

void putLE32(unsigned char *p, uint32_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
  p[2] = static_cast<unsigned char>(v >> 16);
  p[3] = static_cast<unsigned char>(v >> 24);
}

}  // namespace

extern "C" KAV_EXPORT int32_t KAVAPI CopyData(KavWindow target, uint32_t sender, uint32_t tag, uint32_t size,
                                              const void *data) {
  if (target < 0 || (size != 0 && !data)) return 0;
  // One write of the whole record, so a reader never sees a header without
  // its data from this call interleaved with another writer's.
  std::vector<unsigned char> record;
  try {
    record.resize(12 + static_cast<size_t>(size));
  } catch (...) {
    return 0;
  }
  putLE32(record.data(), sender);
  putLE32(record.data() + 4, tag);
  putLE32(record.data() + 8, size);
  if (size) std::memcpy(record.data() + 12, data, size);
  return kav::os::writeRecord(target, record.data(), record.size()) ? 1 : 0;
}
