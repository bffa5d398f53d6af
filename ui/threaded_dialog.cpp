// The threaded dialog: the calling thread owns the dialog and runs its loop
// and every callback; the job runs on a second thread and reaches the dialog
// only through the posted end-of-job message.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <errno.h>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "kavutil/dialog.h"
#include "ui/backend.h"

namespace {

using kav::ui::Event;
using kav::ui::EventKind;
using kav::ui::Surface;
using Clock = std::chrono::steady_clock;

constexpr int kCancelId = 2;
constexpr size_t kMaxControls = 256;

struct Posted {
  uint32_t message;
  int32_t jobResult;
};

// Process-wide: one dialog per process.
struct DialogState {
  KavWindow parent = KAV_NO_WINDOW;
  int32_t userValue = 0;
  std::atomic<int32_t> autoClose{0};
  KAVDialogJob job = nullptr;
  KAVDialogControlCallback control = nullptr;
  KAVDialogTimerCallback timer = nullptr;
  uint32_t timerPeriodMs = 0;
  Clock::time_point nextTick;

  std::atomic<bool> exists{false};
  std::atomic<int32_t> finished{0};
  std::atomic<int32_t> result{1};
  bool quit = false;
  bool shown = false;

  std::mutex mutex;  // guards the texts and the posted queue
  std::condition_variable posted;
  std::deque<Posted> queue;
  std::string caption;
  std::vector<std::pair<int, std::string>> controls;
};

DialogState d;

void *dialogHandle() { return &d; }

void redraw() {
  if (!d.shown || !d.exists) return;
  kav::ui::DialogView v;
  {
    std::lock_guard<std::mutex> lock(d.mutex);
    v.caption = d.caption;
    v.controls = d.controls;
  }
  kav::ui::backend().drawDialog(v);
}

void destroy() {
  if (!d.exists) return;
  d.exists = false;
  d.quit = true;  // destruction posts the quit message
}

bool callControl(int id) { return d.control ? d.control(id, dialogHandle()) != 0 : false; }

void onEvent(const Event &e) {
  switch (e.kind) {
    case EventKind::Command:
      if (!callControl(e.command)) destroy();
      break;
    case EventKind::Close:
      // While the job runs the close box only tells the control callback.
      if (d.finished)
        destroy();
      else
        callControl(kCancelId);
      break;
    case EventKind::EndSession:
      if (!d.finished) callControl(kCancelId);
      break;
    case EventKind::Quit:
      d.exists = false;
      d.quit = true;
      break;
  }
}

void onPosted(const Posted &p) {
  if (p.message != KAV_DIALOG_JOB_ENDED) return;
  {
    std::lock_guard<std::mutex> lock(d.mutex);
    if (p.jobResult == 0) {
      for (auto &c : d.controls)
        if (c.first == kCancelId) c.second = "&Done";
      char buf[256];
      std::snprintf(buf, sizeof buf, "%s - Done!", d.caption.c_str());
      d.caption = buf;
    }
  }
  if (p.jobResult != 0) d.autoClose = 1;
  if (d.autoClose) destroy();
  redraw();
}

void runJob() {
  const int32_t r = d.job ? d.job(d.userValue, dialogHandle()) : 0;
  d.result = r;
  if (d.exists) {
    std::lock_guard<std::mutex> lock(d.mutex);
    d.queue.push_back({KAV_DIALOG_JOB_ENDED, r});
  }
  d.posted.notify_all();
  d.finished = 1;
}

bool makeDialog(const void *instance) {
  std::lock_guard<std::mutex> lock(d.mutex);
  d.controls.clear();
  if (!instance) {
    d.caption = program_invocation_short_name ? program_invocation_short_name : "";
    d.controls.push_back({kCancelId, "&Cancel"});
  } else {
    const auto *t = static_cast<const KAVDialogTemplate *>(instance);
    if (t->control_count < 0 || static_cast<size_t>(t->control_count) > kMaxControls ||
        (t->control_count > 0 && !t->controls))
      return false;
    d.caption = t->caption ? t->caption : "";
    for (int32_t i = 0; i < t->control_count; ++i)
      d.controls.push_back({t->controls[i].id, t->controls[i].text ? t->controls[i].text : ""});
  }
  if (d.caption.size() > 255) d.caption.resize(255);
  return true;
}

std::string captionNow() {
  std::lock_guard<std::mutex> lock(d.mutex);
  return d.exists ? d.caption : std::string();
}

int box(const char *text, kav::ui::Buttons buttons, kav::ui::Icon icon, int defaultButton) {
  kav::ui::MessageBox b;
  b.text = text ? text : "";
  b.caption = captionNow();
  b.icon = icon;
  b.buttons = buttons;
  b.defaultButton = defaultButton;
  b.owner = d.exists ? KAV_DIALOG_WINDOW : d.parent;
  return kav::ui::showMessageBox(b);
}

}  // namespace

extern "C" {

KAV_EXPORT int32_t KAVAPI KAVDialogInit(const void *instance, KavWindow parent, int32_t userValue, int32_t showCommand,
                                        int32_t autoClose, KAVDialogJob job, KAVDialogControlCallback control) {
  if (d.exists) return 0;  // one dialog per process
  d.parent = parent;
  d.userValue = userValue;
  d.autoClose = autoClose;
  d.job = job;
  d.control = control;
  d.quit = false;
  {
    std::lock_guard<std::mutex> lock(d.mutex);
    d.timer = nullptr;
    d.timerPeriodMs = 0;
    d.queue.clear();
  }
  if (!makeDialog(instance)) {
    KAVDialogMessage("Couldn't create window.", 0);
    return 0;
  }
  d.exists = true;
  d.shown = showCommand != 0;
  kav::ui::backend().attach(Surface::Dialog);
  redraw();

  d.finished = 0;
  d.result = 1;
  try {
    std::thread(runJob).detach();
  } catch (...) {
    d.exists = false;
    kav::ui::backend().detach(Surface::Dialog);
    KAVDialogMessage("Couldn't create window.", 0);
    return 0;
  }

  // The message loop: posted messages first, then the timer, then what the
  // person did. Without anyone to act, a finished dialog takes its default:
  // Done is pressed, and if the control callback keeps the dialog, it is
  // closed.
  while (!d.quit) {
    std::deque<Posted> posted;
    {
      std::lock_guard<std::mutex> lock(d.mutex);
      posted.swap(d.queue);
    }
    for (const auto &p : posted) onPosted(p);
    if (d.quit) break;

    int sliceMs = 50;
    KAVDialogTimerCallback timer;
    uint32_t period;
    Clock::time_point tick;
    {
      std::lock_guard<std::mutex> lock(d.mutex);
      timer = d.timer;
      period = d.timerPeriodMs;
      tick = d.nextTick;
    }
    if (timer && period) {
      const auto now = Clock::now();
      if (now >= tick) {
        timer(dialogHandle());
        tick = now + std::chrono::milliseconds(period);
        std::lock_guard<std::mutex> lock(d.mutex);
        if (d.timer == timer) d.nextTick = tick;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(tick - Clock::now()).count();
      if (left < sliceMs) sliceMs = left < 1 ? 1 : static_cast<int>(left);
    }

    Event e;
    const int w = kav::ui::backend().waitEvent(Surface::Dialog, e, sliceMs);
    if (w == kav::ui::kGotEvent) {
      onEvent(e);
    } else if (w == kav::ui::kNobody) {
      bool jobEndedPending;
      {
        std::lock_guard<std::mutex> lock(d.mutex);
        jobEndedPending = !d.queue.empty();
      }
      if (d.finished && !jobEndedPending) {
        onEvent(Event{EventKind::Command, kCancelId});
        if (!d.quit) onEvent(Event{EventKind::Close, 0});
      } else {
        std::unique_lock<std::mutex> lock(d.mutex);
        d.posted.wait_for(lock, std::chrono::milliseconds(sliceMs), [] { return !d.queue.empty(); });
      }
    }
  }
  d.exists = false;
  kav::ui::backend().detach(Surface::Dialog);
  return d.result;
}

KAV_EXPORT int32_t KAVAPI KAVDialogAsk(const char *text, int32_t style) {
  const auto set = static_cast<uint32_t>(style) & 0xFFFFFFE0u;
  const int def = style & 0x1F;
  const int a = box(text, set == 0x20 ? kav::ui::Buttons::YesNoCancel : kav::ui::Buttons::YesNo,
                    kav::ui::Icon::Question, def == 0 ? 1 : (def == 2 ? 2 : 0));
  return a == kav::ui::kYes ? 1 : (a == kav::ui::kNo ? 0 : 2);
}

KAV_EXPORT int32_t KAVAPI KAVDialogMessage(const char *text, int32_t style) {
  const auto set = static_cast<uint32_t>(style) & 0xFFFFFFE0u;
  const int a = box(text, set == 0x20 ? kav::ui::Buttons::OkCancel : kav::ui::Buttons::Ok, kav::ui::Icon::Information,
                    (style & 0x1F) == 2 ? 1 : 0);
  return a == kav::ui::kOk ? 0 : 2;
}

KAV_EXPORT int32_t KAVAPI KAVDialogSetTimer(KAVDialogTimerCallback timer, uint32_t periodMs) {
  if (!d.exists) return 0;
  std::lock_guard<std::mutex> lock(d.mutex);
  d.timer = timer;
  d.timerPeriodMs = periodMs;
  d.nextTick = Clock::now() + std::chrono::milliseconds(periodMs);
  return 1;
}

}  // extern "C"
