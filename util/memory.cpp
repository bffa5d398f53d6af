// The aligned allocator every record and buffer of the library comes from.
#include <cstdint>
#include <cstdlib>

#include "kavutil/kavbase.h"
#include "ui/backend.h"

namespace {

constexpr uintptr_t kAlign = 32;

void reportOutOfMemory() {
  kav::ui::MessageBox box;
  box.text = "Error: ran out of memory!";
  box.caption = "Memory Error";
  box.icon = kav::ui::Icon::Error;
  box.buttons = kav::ui::Buttons::Ok;
  kav::ui::showMessageBox(box);
}

}  // namespace

extern "C" {

KAV_EXPORT void *KAVAPI kavmalloc(uint32_t size) {
  if (size == 0 || size == 0xFFFFFFFFu) return nullptr;
  auto *block = static_cast<unsigned char *>(std::malloc(static_cast<size_t>(size) + kAlign));
  if (!block) {
    reportOutOfMemory();
    return nullptr;
  }
  // k is 1..32, so the byte before the returned address lies inside the
  // block and always holds the distance back to its start.
  const auto k = static_cast<unsigned>(kAlign - (reinterpret_cast<uintptr_t>(block) % kAlign));
  block[k - 1] = static_cast<unsigned char>(k);
  return block + k;
}

KAV_EXPORT void KAVAPI kavfree(void *p) {
  if (!p) return;
  auto *q = static_cast<unsigned char *>(p);
  std::free(q - q[-1]);
}

}  // extern "C"
