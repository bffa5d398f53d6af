// A backend for tests: answers from a script, and a record of every box.
#pragma once

#include <deque>
#include <vector>

#include "ui/backend.h"

namespace kav::ui {

class RecordingBackend final : public Backend {
 public:
  // Installs itself on construction and restores the previous backend after.
  RecordingBackend();
  ~RecordingBackend() override;
  RecordingBackend(const RecordingBackend &) = delete;
  RecordingBackend &operator=(const RecordingBackend &) = delete;

  // Answers given in order; once they run out, each box takes its default.
  void scriptAnswers(std::initializer_list<int> answers) { answers_.insert(answers_.end(), answers); }

  int messageBox(const MessageBox &box) override;

  const std::vector<MessageBox> &boxes() const { return boxes_; }

 private:
  Backend *previous_;
  std::deque<int> answers_;
  std::vector<MessageBox> boxes_;
};

}  // namespace kav::ui
