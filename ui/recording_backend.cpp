#include "ui/recording_backend.h"

namespace kav::ui {

RecordingBackend::RecordingBackend() : previous_(&backend()) { setBackend(this); }

RecordingBackend::~RecordingBackend() { setBackend(previous_); }

int RecordingBackend::messageBox(const MessageBox &box) {
  boxes_.push_back(box);
  if (answers_.empty()) return defaultAnswer(box);
  int a = answers_.front();
  answers_.pop_front();
  return a;
}

}  // namespace kav::ui
