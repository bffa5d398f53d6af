// The status window: one per process, all state process-wide. Without a
// window system the "window" is what the backend draws; the window procedure
// below handles what the user did, as the pump delivers it.
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

#include "kavutil/status.h"
#include "ui/backend.h"
#include "ui/status_internal.h"

namespace {

using kav::ui::Event;
using kav::ui::EventKind;
using kav::ui::Surface;

constexpr size_t kLineBytes = 96;  // status and second line, terminator included

struct StatusState {
  void *instance = nullptr;
  KavWindow owner = KAV_NO_WINDOW;
  uint8_t noWait = 0;

  bool registered = false;  // the window class
  bool window = false;      // the window handle is set
  bool destroyed = false;   // destroyed; the quit message is on its way
  bool visible = false;
  bool attached = false;    // the backend has the interrupt keys
  bool quitPosted = false;

  std::string caption;
  std::string status = "Loading...";
  std::string secondLine;
  std::string button = "&Cancel";
  char className[16] = "KAVSTATUS0000";
  KAVStatusCancel cancel = nullptr;

  uint8_t cancelled = 0;
  uint8_t requests = 0;  // wraps, as a byte
};

StatusState g;

// Texts are held to the window's 96-byte lines: a longer text is cut for
// display, never written past its buffer.
std::string fitLine(const char *text) {
  std::string s = text ? text : "";
  if (s.size() > kLineBytes - 1) s.resize(kLineBytes - 1);
  return s;
}

bool windowExists() { return g.window && !g.destroyed; }

void redraw() {
  if (!windowExists() || !g.visible) return;
  kav::ui::backend().drawStatus({g.caption, g.status, g.secondLine, g.button});
}

void destroyWindow() {
  if (!windowExists()) return;
  g.destroyed = true;
  g.visible = false;
  g.quitPosted = true;  // destruction posts the quit message
}

void forgetWindow() {
  g.window = false;
  g.destroyed = false;
  g.visible = false;
}

void dispatch(const Event &e) {
  switch (e.kind) {
    case EventKind::Command:
      StatusDoCancel();
      break;
    case EventKind::Close:
      if (StatusDoCancel()) destroyWindow();
      break;
    case EventKind::EndSession:
      StatusDoCancel();
      break;
    case EventKind::Quit:
      break;
  }
}

// One message: the posted quit message first, then what the user did.
// Returns 1 when it was the quit message, 0 after another, -1 when none.
int handleOne(bool wait) {
  if (g.quitPosted) {
    g.quitPosted = false;
    forgetWindow();
    return 1;
  }
  Event e;
  if (wait) {
    if (kav::ui::backend().waitEvent(Surface::Status, e, -1) != kav::ui::kGotEvent)
      e = Event{EventKind::Command, 2};  // nobody can press Done: take it as pressed
  } else if (!kav::ui::backend().pollEvent(Surface::Status, e)) {
    return -1;
  }
  if (e.kind == EventKind::Quit) {
    // A terminate or hang-up: there is nobody to ask, and a job that only
    // listens to its cancel routine must stop too, so this counts as a
    // confirmed cancel.
    if (!g.cancelled) {
      g.cancelled = 1;
      if (g.cancel) g.cancel();
    }
    forgetWindow();
    return 1;
  }
  dispatch(e);
  return 0;
}

int ask(const char *question, int32_t defaultNo, bool interruptAnswersYes) {
  const std::string q = question ? question : "";
  // Keep room for the answer on the 96-byte line.
  g.status = q.substr(0, kLineBytes - 1 - 5);
  kav::ui::MessageBox box;
  box.text = q;
  box.caption = windowExists() ? g.caption : "";
  box.icon = kav::ui::Icon::Question;
  box.buttons = kav::ui::Buttons::YesNo;
  box.defaultButton = (defaultNo & 0xFF) ? 1 : 0;
  box.owner = StatusGetHWND();
  box.interruptAnswer = interruptAnswersYes ? kav::ui::kYes : 0;
  const bool yes = kav::ui::showMessageBox(box) == kav::ui::kYes;
  g.status += yes ? " Yes." : " No.";
  redraw();
  StatusCheck();
  return yes ? 1 : 0;
}

}  // namespace

extern "C" {

KAV_EXPORT void *KAVAPI StatusInit(void *instance, KavWindow owner, int32_t noWait) {
  g.instance = instance;
  g.owner = owner;
  g.noWait = static_cast<uint8_t>(noWait & 0xFF);
  return instance;
}

KAV_EXPORT int32_t KAVAPI StatusOpen(const char *caption, const char *secondLine, KAVStatusCancel cancel) {
  g.cancel = cancel;
  g.secondLine = fitLine(secondLine);
  // The class name carries the instance's low 16 bits as four letters A..P,
  // so each module that loads the library has a window class of its own.
  const auto id = static_cast<unsigned>(reinterpret_cast<uintptr_t>(g.instance) & 0xFFFFu);
  std::memcpy(g.className, "KAVSTATUS0000", 14);
  for (int i = 0; i < 4; ++i) g.className[9 + i] = static_cast<char>('A' + ((id >> (12 - 4 * i)) & 0xF));
  if (g.registered || windowExists()) return 0;  // the class is taken: one window per process
  g.registered = true;
  g.caption = caption ? caption : "";
  if (g.caption.size() > 255) g.caption.resize(255);
  g.window = true;
  g.destroyed = false;
  g.visible = false;
  g.quitPosted = false;
  g.button = "&Cancel";
  if (!g.attached) {
    kav::ui::backend().attach(Surface::Status);
    g.attached = true;
  }
  g.status = "Loading...";
  StatusCheck();
  return 1;
}

KAV_EXPORT void KAVAPI StatusSet(const char *status) {
  if (!windowExists()) return;
  if (!g.visible) {
    StatusCheck();
    g.visible = windowExists();
    StatusCheck();
    if (!windowExists()) return;
  }
  g.status = fitLine(status);
  redraw();
  StatusCheck();
}

KAV_EXPORT int32_t KAVAPI StatusCheck(void) {
  for (;;) {
    const int r = handleOne(false);
    if (r < 0) return 0;
    if (r > 0) return 1;
  }
}

KAV_EXPORT int32_t KAVAPI StatusMessageTitle(const char *text, const char *caption, int32_t error) {
  kav::ui::MessageBox box;
  box.text = text ? text : "";
  box.caption = caption ? caption : "";
  box.icon = (error & 0xFF) ? kav::ui::Icon::Error : kav::ui::Icon::Information;
  box.buttons = kav::ui::Buttons::Ok;
  box.owner = StatusGetHWND();
  kav::ui::showMessageBox(box);
  redraw();
  return StatusCheck();
}

KAV_EXPORT int32_t KAVAPI StatusMessage(const char *text, int32_t error) {
  return StatusMessageTitle(text, windowExists() ? g.caption.c_str() : "", error);
}

KAV_EXPORT int32_t KAVAPI StatusAsk(const char *question, int32_t defaultNo) { return ask(question, defaultNo, false); }

KAV_EXPORT int32_t KAVAPI StatusDoCancel(void) {
  ++g.requests;
  if (g.cancelled) return g.cancelled;
  // A second interrupt while this question is open answers it Yes.
  if (!ask("Do you want to cancel?", 1, true)) return g.cancelled;
  g.cancelled = 1;
  if (g.cancel) g.cancel();
  return g.cancelled;
}

KAV_EXPORT KavWindow KAVAPI StatusGetHWND(void) {
  return windowExists() && g.visible ? KAV_STATUS_WINDOW : g.owner;
}

KAV_EXPORT int32_t KAVAPI StatusClose(int32_t wait) {
  if (windowExists() && g.owner >= 0) {
    std::string record = g.caption.substr(0, 255) + " - " + g.secondLine + "\r\n  " + g.status;
    // The sender is this process: the front end may run several converters.
    kav::ui::backend().sendRecord(g.owner, static_cast<uint32_t>(getpid()), KAV_STATUS_RECORD_TAG, record.c_str(),
                                  static_cast<uint32_t>(record.size() + 1));
  }
  bool waiting = g.noWait == 0 && wait != 0 && windowExists() && g.visible;
  uint8_t noted = 0;
  if (waiting) {
    g.cancelled = 1;  // pressing Done asks nothing
    noted = g.requests;
    g.button = "&Done";
    redraw();
  } else {
    destroyWindow();
  }
  while (g.window) {
    if (handleOne(waiting && !g.destroyed) > 0) break;
    if (waiting && g.requests != noted) {
      destroyWindow();
      waiting = false;
    }
  }
  forgetWindow();
  if (g.attached) {
    kav::ui::backend().detach(Surface::Status);
    g.attached = false;
  }
  const bool wasRegistered = g.registered;
  g.registered = false;
  return wasRegistered ? 1 : 0;
}

}  // extern "C"

namespace kav::ui {

std::string statusClassName() { return g.className; }
std::string statusLine() { return g.status; }

}  // namespace kav::ui
