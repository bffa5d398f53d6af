#include "ui/recording_backend.h"

namespace kav::ui {

RecordingBackend::RecordingBackend() : previous_(&backend()) { setBackend(this); }

RecordingBackend::~RecordingBackend() { setBackend(previous_); }

void RecordingBackend::scriptAnswers(std::initializer_list<int> answers) {
  std::lock_guard<std::mutex> lock(mutex_);
  answers_.insert(answers_.end(), answers);
}

void RecordingBackend::scriptEvents(std::initializer_list<Event> events) {
  std::lock_guard<std::mutex> lock(mutex_);
  events_.insert(events_.end(), events);
}

int RecordingBackend::waits() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return waits_;
}

int RecordingBackend::messageBox(const MessageBox &box) {
  std::lock_guard<std::mutex> lock(mutex_);
  boxes_.push_back(box);
  if (answers_.empty()) return defaultAnswer(box);
  int a = answers_.front();
  answers_.pop_front();
  return a;
}

void RecordingBackend::attach(Surface) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++attached_;
}

void RecordingBackend::detach(Surface) {
  std::lock_guard<std::mutex> lock(mutex_);
  --attached_;
}

void RecordingBackend::drawStatus(const StatusView &v) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (statusViews_.empty() || statusViews_.back().status != v.status || statusViews_.back().button != v.button ||
      statusViews_.back().caption != v.caption)
    statusViews_.push_back(v);
}

void RecordingBackend::drawDialog(const DialogView &v) {
  std::lock_guard<std::mutex> lock(mutex_);
  dialogViews_.push_back(v);
}

bool RecordingBackend::pollEvent(Surface, Event &e) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (events_.empty()) return false;
  e = events_.front();
  events_.pop_front();
  return true;
}

int RecordingBackend::waitEvent(Surface s, Event &e, int) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++waits_;
  }
  return pollEvent(s, e) ? kGotEvent : kNobody;
}

int RecordingBackend::sendRecord(KavWindow owner, uint32_t sender, uint32_t tag, const void *data, uint32_t size) {
  std::lock_guard<std::mutex> lock(mutex_);
  records_.push_back({owner, sender, tag, data ? std::string(static_cast<const char *>(data), size) : std::string()});
  return owner >= 0 ? 1 : 0;
}

std::vector<MessageBox> RecordingBackend::boxes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return boxes_;
}

std::vector<StatusView> RecordingBackend::statusViews() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return statusViews_;
}

std::vector<DialogView> RecordingBackend::dialogViews() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return dialogViews_;
}

std::vector<RecordingBackend::Record> RecordingBackend::records() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return records_;
}

int RecordingBackend::attached() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return attached_;
}

}  // namespace kav::ui
