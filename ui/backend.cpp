#include "ui/backend.h"

#include "ui/terminal_backend.h"

namespace kav::ui {
namespace {

Backend *active = nullptr;

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

}  // namespace kav::ui
