// How the library's messages reach a person. One backend is active at a time;
// the terminal backend is the default, the recording backend serves tests.
// Nothing outside ui/ knows which one runs.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "kavutil/kavdefs.h"

namespace kav::ui {

enum class Icon { None, Error, Warning, Information, Question };
enum class Buttons { Ok, OkCancel, YesNo, YesNoCancel };

// Answers, numbered as the Windows message-box results.
enum Answer : int { kOk = 1, kCancel = 2, kYes = 6, kNo = 7 };

struct MessageBox {
  std::string text;
  std::string caption;
  Icon icon = Icon::None;
  Buttons buttons = Buttons::Ok;
  int defaultButton = 0;  // index into the buttons, 0 = first
  KavWindow owner = KAV_NO_WINDOW;
  // The answer an interrupt (Ctrl-C) gives while the box is open, or 0 when
  // an interrupt only takes the default and stays a pending cancel request.
  int interruptAnswer = 0;
};

// What a person did, as the window procedures see it.
enum class EventKind {
  Command,     // a button or key: `command` says which (the status window's only button is 2)
  Close,       // the window's close box, or Ctrl-C on a dialog
  EndSession,  // the session is ending (hang-up)
  Quit,        // the quit message: terminate or hang-up signal
};

struct Event {
  EventKind kind = EventKind::Command;
  int command = 2;
};

// What the status window shows.
struct StatusView {
  std::string caption;
  std::string status;
  std::string secondLine;
  std::string button;  // "&Cancel", later "&Done"
};

// What the threaded dialog shows.
struct DialogView {
  std::string caption;
  std::vector<std::pair<int, std::string>> controls;  // identifier, text
};

enum WaitResult : int { kNobody = -1, kTimedOut = 0, kGotEvent = 1 };

// Which window a wait is for, so a backend can say what the keys do.
enum class Surface { Status, Dialog };

class Backend {
 public:
  virtual ~Backend() = default;

  // Shows the box and returns the button taken (an Answer). May be called
  // from a dialog's job thread.
  virtual int messageBox(const MessageBox &box) = 0;

  // A window appears (attach) or goes (detach): a backend may take over
  // the interrupt keys meanwhile.
  virtual void attach(Surface) {}
  virtual void detach(Surface) {}

  virtual void drawStatus(const StatusView &) {}
  virtual void drawDialog(const DialogView &) {}

  // The next thing a person did, without waiting; false when nothing.
  virtual bool pollEvent(Surface, Event &) { return false; }
  // Waits up to timeoutMs (negative: without limit) for something a person
  // does: kGotEvent, kTimedOut, or at once kNobody when nobody can act (no
  // terminal), so the caller takes the window's default action.
  virtual int waitEvent(Surface, Event &, int timeoutMs) = 0;

  // Writes one framed record to an owner window.
  virtual int sendRecord(KavWindow owner, uint32_t sender, uint32_t tag, const void *data, uint32_t size);
};

// The active backend. Installing null restores the terminal backend.
Backend &backend();
void setBackend(Backend *backend);

// The answer a box gives when nobody can be asked: its default button.
int defaultAnswer(const MessageBox &box);

// Shorthand for backend().messageBox(box).
int showMessageBox(const MessageBox &box);

// The record CopyData sends, built and written through the platform layer.
int writeOwnerRecord(KavWindow owner, uint32_t sender, uint32_t tag, const void *data, uint32_t size);

}  // namespace kav::ui
