// How the library's messages reach a person. One backend is active at a time;
// the terminal backend is the default, the recording backend serves tests.
#pragma once

#include <string>

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
};

class Backend {
 public:
  virtual ~Backend() = default;
  // Shows the box and returns the button taken (an Answer).
  virtual int messageBox(const MessageBox &box) = 0;
};

// The active backend. Installing null restores the terminal backend.
Backend &backend();
void setBackend(Backend *backend);

// The answer a box gives when nobody can be asked: its default button.
int defaultAnswer(const MessageBox &box);

// Shorthand for backend().messageBox(box).
int showMessageBox(const MessageBox &box);

}  // namespace kav::ui
