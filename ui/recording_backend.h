// A backend for tests: answers and user actions from a script, and a record
// of every box, status line, dialog view and owner record.
#pragma once

#include <deque>
#include <initializer_list>
#include <mutex>
#include <string>
#include <vector>

#include "ui/backend.h"

namespace kav::ui {

class RecordingBackend final : public Backend {
 public:
  struct Record {
    KavWindow owner;
    uint32_t sender, tag;
    std::string data;
  };

  // Installs itself on construction and restores the previous backend after.
  RecordingBackend();
  ~RecordingBackend() override;
  RecordingBackend(const RecordingBackend &) = delete;
  RecordingBackend &operator=(const RecordingBackend &) = delete;

  // Answers given in order; once they run out, each box takes its default.
  void scriptAnswers(std::initializer_list<int> answers);
  // User actions, delivered in order to the pumps and waits.
  void scriptEvents(std::initializer_list<Event> events);
  // How many waits for the user there were. A wait with no scripted action
  // left answers kNobody, as without a terminal.
  int waits() const;

  int messageBox(const MessageBox &box) override;
  void attach(Surface s) override;
  void detach(Surface s) override;
  void drawStatus(const StatusView &v) override;
  void drawDialog(const DialogView &v) override;
  bool pollEvent(Surface s, Event &e) override;
  int waitEvent(Surface s, Event &e, int timeoutMs) override;
  int sendRecord(KavWindow owner, uint32_t sender, uint32_t tag, const void *data, uint32_t size) override;

  std::vector<MessageBox> boxes() const;
  std::vector<StatusView> statusViews() const;
  std::vector<DialogView> dialogViews() const;
  std::vector<Record> records() const;
  int attached() const;

 private:
  Backend *previous_;
  mutable std::mutex mutex_;
  std::deque<int> answers_;
  std::deque<Event> events_;
  std::vector<MessageBox> boxes_;
  std::vector<StatusView> statusViews_;
  std::vector<DialogView> dialogViews_;
  std::vector<Record> records_;
  int attached_ = 0;
  int waits_ = 0;
};

}  // namespace kav::ui
