#include "ui/backend.h"

#include <cstring>
#include <vector>

#include "platform/owner_channel.h"
#include "ui/terminal_backend.h"

namespace kav::ui {
namespace {

Backend *active = nullptr;

void putLE32(unsigned char *p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

}  // namespace

Backend &backend() { return active ? *active : terminalBackend(); }

void setBackend(Backend *b) { active = b; }

int defaultAnswer(const MessageBox &box) {
  static constexpr int kOkOnly[] = {kOk};
  static constexpr int kOkCancel[] = {kOk, kCancel};
  static constexpr int kYesNo[] = {kYes, kNo};
  static constexpr int kYesNoCancel[] = {kYes, kNo, kCancel};
  const int *answers = kOkOnly;
  int count = 1;
  switch (box.buttons) {
    case Buttons::Ok: break;
    case Buttons::OkCancel: answers = kOkCancel; count = 2; break;
    case Buttons::YesNo: answers = kYesNo; count = 2; break;
    case Buttons::YesNoCancel: answers = kYesNoCancel; count = 3; break;
  }
  int i = box.defaultButton;
  if (i < 0 || i >= count) i = 0;
  return answers[i];
}

int showMessageBox(const MessageBox &box) { return backend().messageBox(box); }

int Backend::sendRecord(KavWindow owner, uint32_t sender, uint32_t tag, const void *data, uint32_t size) {
  return writeOwnerRecord(owner, sender, tag, data, size);
}

int writeOwnerRecord(KavWindow owner, uint32_t sender, uint32_t tag, const void *data, uint32_t size) {
  if (owner < 0 || (size != 0 && !data)) return 0;
  // One write of the whole record, so a reader never sees a header whose
  // data is interleaved with another writer's.
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
  return kav::os::writeRecord(owner, record.data(), record.size()) ? 1 : 0;
}

}  // namespace kav::ui
