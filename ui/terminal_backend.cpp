#include "ui/terminal_backend.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace kav::ui {
namespace {

const char *choices(Buttons b) {
  switch (b) {
    case Buttons::Ok: return "";
    case Buttons::OkCancel: return " [Enter = OK, c = Cancel]";
    case Buttons::YesNo: return " [y/n]";
    case Buttons::YesNoCancel: return " [y/n/c]";
  }
  return "";
}

const char *iconWord(Icon icon) {
  switch (icon) {
    case Icon::Error: return "Error";
    case Icon::Warning: return "Warning";
    case Icon::Question: return "Question";
    case Icon::Information: return "Note";
    case Icon::None: break;
  }
  return "";
}

// Maps a typed key to an answer the box offers, or 0.
int answerFor(Buttons b, int key) {
  key = std::tolower(key);
  switch (b) {
    case Buttons::Ok: return kOk;
    case Buttons::OkCancel: return key == 'c' ? kCancel : (key == 'o' ? kOk : 0);
    case Buttons::YesNo: return key == 'y' ? kYes : (key == 'n' ? kNo : 0);
    case Buttons::YesNoCancel:
      return key == 'y' ? kYes : (key == 'n' ? kNo : (key == 'c' ? kCancel : 0));
  }
  return 0;
}

class TerminalBackend final : public Backend {
 public:
  int messageBox(const MessageBox &box) override {
    std::string line;
    if (!box.caption.empty()) line += box.caption + ": ";
    line += box.text;
    line += choices(box.buttons);
    const char *word = iconWord(box.icon);
    std::fprintf(stderr, "%s%s%s\n", word, *word ? ": " : "", line.c_str());
    std::fflush(stderr);

    const int fallback = defaultAnswer(box);
    int tty = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (tty < 0) return fallback;  // nobody to ask: the default button
    int result = fallback;
    for (;;) {
      char buf[64];
      ssize_t n = ::read(tty, buf, sizeof buf);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;  // end of input: the default button
      int key = 0;
      for (ssize_t i = 0; i < n && !key; ++i)
        if (!std::isspace(static_cast<unsigned char>(buf[i]))) key = static_cast<unsigned char>(buf[i]);
      if (!key) break;  // Enter alone takes the default
      if (int a = answerFor(box.buttons, key)) {
        result = a;
        break;
      }
      static const char again[] = "Please answer with one of the letters shown.\n";
      if (::write(tty, again, sizeof again - 1) < 0) break;
    }
    ::close(tty);
    return result;
  }
};

}  // namespace

Backend &terminalBackend() {
  static TerminalBackend instance;
  return instance;
}

}  // namespace kav::ui
