// The default backend. The status window is a block of lines on standard
// error, redrawn in place on a terminal and printed as plain lines into a
// log. Questions go to the controlling terminal; without one every question
// takes its default button (a message box its first), so a script never
// hangs. Ctrl-C is the Cancel button (a close request for a dialog);
// terminate and hang-up raise the quit flag, and so does Ctrl-C when there
// is no terminal to ask on. Output that cannot be written (a log pipe whose
// reader went away) is dropped: it never ends the process.
#include "ui/terminal_backend.h"

#include <atomic>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <string>
#include <termios.h>
#include <unistd.h>

#include "platform/owner_channel.h"
#include "ui/progress_text.h"

namespace kav::ui {
namespace {

volatile sig_atomic_t gInterrupts = 0;
// Stays raised once a terminate or hang-up came, so a pump that drops the
// quit (StatusSet pumps and ignores the result) cannot hide it from the
// next one.
volatile sig_atomic_t gQuit = 0;

extern "C" void onInterrupt(int) { gInterrupts = gInterrupts + 1; }
extern "C" void onQuit(int) { gQuit = 1; }

// The keys a box takes, the default one in capitals (or named for Enter).
std::string choices(const MessageBox &box) {
  const bool second = box.defaultButton == 1;
  switch (box.buttons) {
    case Buttons::Ok: return " [Enter]";
    case Buttons::OkCancel: return second ? " [o = OK, Enter = Cancel]" : " [Enter = OK, c = Cancel]";
    case Buttons::YesNo: return second ? " [y/N]" : " [Y/n]";
    case Buttons::YesNoCancel:
      return box.defaultButton == 2 ? " [y/n/C]" : (second ? " [y/N/c]" : " [Y/n/c]");
  }
  return "";
}

// Without a terminal: a question takes its default button, a message box
// (OK, or OK and Cancel) its first.
int answerWithoutTerminal(const MessageBox &box) {
  if (box.buttons == Buttons::Ok || box.buttons == Buttons::OkCancel) return kOk;
  return defaultAnswer(box);
}

const char *iconWord(Icon icon) {
  switch (icon) {
    case Icon::Error: return "Error: ";
    case Icon::Warning: return "Warning: ";
    case Icon::Information:
    case Icon::Question:
    case Icon::None: break;
  }
  return "";
}

int answerFor(Buttons b, int key) {
  key = std::tolower(key);
  switch (b) {
    case Buttons::Ok: return kOk;
    case Buttons::OkCancel: return key == 'c' ? kCancel : (key == 'o' ? kOk : 0);
    case Buttons::YesNo: return key == 'y' ? kYes : (key == 'n' ? kNo : 0);
    case Buttons::YesNoCancel: return key == 'y' ? kYes : (key == 'n' ? kNo : (key == 'c' ? kCancel : 0));
  }
  return 0;
}

// Text with the "&" hot-key markers of button labels taken out.
std::string plainLabel(const std::string &s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '&' && i + 1 < s.size() && s[i + 1] != '&') continue;
    out += s[i];
  }
  return out;
}

// A closed log pipe (the reader of `kavconv ... | tee log` was stopped
// first) fails the write instead of raising SIGPIPE, and the text is lost.
void writeAll(int fd, const std::string &s) { kav::os::writeRecord(fd, s.data(), s.size()); }

int openTerminal() { return ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC); }

// First non-blank byte of what was typed, 0 for Enter alone, -1 for end of
// input or an error. `lineEnded` tells whether the terminal's echo ended the
// line (it does not for end of input, Ctrl-D).
int readKey(int tty, bool *lineEnded = nullptr) {
  char buf[128];
  ssize_t n = ::read(tty, buf, sizeof buf);
  if (lineEnded) *lineEnded = n > 0 && buf[n - 1] == '\n';
  if (n < 0 && errno == EINTR) return -2;
  if (n <= 0) return -1;
  for (ssize_t i = 0; i < n; ++i)
    if (!std::isspace(static_cast<unsigned char>(buf[i]))) return static_cast<unsigned char>(buf[i]);
  return 0;
}

class TerminalBackend final : public Backend {
 public:
  int messageBox(const MessageBox &box) override {
    std::string line = iconWord(box.icon);
    if (!box.caption.empty()) line += box.caption + ": ";
    line += box.text;

    const int fallback = defaultAnswer(box);
    const int tty = openTerminal();
    if (tty < 0) {
      std::lock_guard<std::mutex> lock(drawMutex_);
      writeAll(2, line + "\n");
      drawnLines_ = 0;
      return answerWithoutTerminal(box);  // nobody to ask
    }
    questionOpen_.store(true);
    // Taken before the prompt, and looked at between short polls, so an
    // interrupt that comes just before the read still answers.
    const sig_atomic_t interruptsBefore = gInterrupts;
    {
      std::lock_guard<std::mutex> lock(drawMutex_);
      // Keys typed while the progress ran were meant for nothing: a "y"
      // typed early must not answer a question that was not yet shown.
      tcflush(tty, TCIFLUSH);
      writeAll(tty, "\n" + line + choices(box) + " ");
      drawnLines_ = 0;
    }
    int result = fallback;
    bool lineOpen = true;  // the prompt's line, until an echoed Enter ends it
    for (;;) {
      if (gQuit) break;
      if (gInterrupts != interruptsBefore) {
        if (box.interruptAnswer) {
          // This interrupt answers the box; it is no further request.
          ++consumedInterrupts_;
          result = box.interruptAnswer;
        }
        break;
      }
      struct pollfd p = {tty, POLLIN, 0};
      if (::poll(&p, 1, 100) <= 0) continue;
      bool lineEnded = false;
      const int key = readKey(tty, &lineEnded);
      if (key == -2) continue;
      lineOpen = !lineEnded;
      if (key <= 0) break;  // Enter, end of input: the default button
      if (int a = answerFor(box.buttons, key)) {
        result = a;
        break;
      }
      writeAll(tty, "Please answer with one of the letters shown: ");
      lineOpen = true;
    }
    // The terminal echoed what was typed. An interrupt, a quit or the end of
    // input leaves the line open, and the next status block, which clears
    // its line before drawing, would wipe the question and its answer.
    if (lineOpen) writeAll(tty, "\n");
    ::close(tty);
    questionOpen_.store(false);
    return result;
  }

  void attach(Surface s) override {
    std::lock_guard<std::mutex> lock(drawMutex_);
    if (attached_++ == 0) {
      struct sigaction sa;
      std::memset(&sa, 0, sizeof sa);
      sigemptyset(&sa.sa_mask);
      sa.sa_flags = 0;  // no restart: a question waiting for a key hears Ctrl-C
      sa.sa_handler = onInterrupt;
      sigaction(SIGINT, &sa, &oldInt_);
      sa.sa_handler = onQuit;
      sigaction(SIGTERM, &sa, &oldTerm_);
      sigaction(SIGHUP, &sa, &oldHup_);
      consumedInterrupts_ = gInterrupts;
      gQuit = 0;  // a quit belongs to the windows it reached
    }
    if (s == Surface::Status) drawnLines_ = 0;
  }

  void detach(Surface s) override {
    std::lock_guard<std::mutex> lock(drawMutex_);
    if (s == Surface::Status) {
      drawnLines_ = 0;
      lastPlainStatus_.clear();
      shownCaption_.clear();
    }
    if (attached_ > 0 && --attached_ == 0) {
      sigaction(SIGINT, &oldInt_, nullptr);
      sigaction(SIGTERM, &oldTerm_, nullptr);
      sigaction(SIGHUP, &oldHup_, nullptr);
    }
  }

  void drawStatus(const StatusView &v) override {
    std::lock_guard<std::mutex> lock(drawMutex_);
    if (isatty(2)) {
      std::string out;
      if (drawnLines_) out += "\x1b[" + std::to_string(drawnLines_) + "F";
      auto line = [&](const std::string &s) { out += "\x1b[2K" + s + "\n"; };
      line("== " + v.caption + " ==");
      line(v.status);
      const auto progress = progressPerMille(v.status);
      if (progress) {
        const int cells = 40, filled = *progress * cells / 1000;
        char pct[16];
        std::snprintf(pct, sizeof pct, " %3d%%", *progress / 10);
        line("[" + std::string(filled, '#') + std::string(cells - filled, '-') + "]" + pct);
      } else {
        line("");
      }
      const std::string label = plainLabel(v.button);
      line(v.secondLine + "   [" + label + (label == "Cancel" ? ": Ctrl-C]" : ": Enter]"));
      drawnLines_ = 4;
      writeAll(2, out);
    } else {
      // A log: the caption and second line once, then each new status line.
      if (shownCaption_ != v.caption + "\n" + v.secondLine) {
        shownCaption_ = v.caption + "\n" + v.secondLine;
        writeAll(2, v.caption + (v.secondLine.empty() ? "" : " - " + v.secondLine) + "\n");
      }
      if (v.status != lastPlainStatus_) {
        lastPlainStatus_ = v.status;
        writeAll(2, v.status + "\n");
      }
    }
  }

  void drawDialog(const DialogView &v) override {
    std::lock_guard<std::mutex> lock(drawMutex_);
    std::string out = "== " + v.caption + " ==";
    for (const auto &c : v.controls) out += "  [" + plainLabel(c.second) + "]";
    if (out == lastDialog_) return;
    lastDialog_ = out;
    writeAll(2, out + "\n");
    drawnLines_ = 0;
    dialog_ = v;
  }

  bool pollEvent(Surface s, Event &e) override {
    if (gQuit) {
      e = Event{EventKind::Quit, 0};
      return true;
    }
    const sig_atomic_t seen = gInterrupts;
    if (seen != consumedInterrupts_) {
      // Ctrl-C is a button press only for someone who can answer the
      // question it raises; without a terminal (a job killed with SIGINT)
      // nobody can, and it ends the job as a terminate does.
      const int tty = openTerminal();
      if (tty < 0) {
        consumedInterrupts_ = seen;
        gQuit = 1;
        e = Event{EventKind::Quit, 0};
        return true;
      }
      ::close(tty);
      ++consumedInterrupts_;
      e = s == Surface::Status ? Event{EventKind::Command, 2} : Event{EventKind::Close, 0};
      return true;
    }
    return false;
  }

  int waitEvent(Surface s, Event &e, int timeoutMs) override {
    if (pollEvent(s, e)) return kGotEvent;
    const int tty = openTerminal();
    if (tty < 0) return kNobody;  // nobody can act: the caller's default
    bool got = false;
    for (;;) {
      if (pollEvent(s, e)) {
        got = true;
        break;
      }
      if (questionOpen_.load()) {
        // A question of the job thread owns the terminal meanwhile.
        ::usleep(20000);
        if (timeoutMs >= 0 && (timeoutMs -= 20) <= 0) break;
        continue;
      }
      struct pollfd p = {tty, POLLIN, 0};
      const int slice = timeoutMs < 0 ? 100 : (timeoutMs < 100 ? timeoutMs : 100);
      const int r = ::poll(&p, 1, slice);
      if (r > 0 && !questionOpen_.load()) {
        const int key = readKey(tty);
        if (key == -1) {
          ::close(tty);
          return kNobody;  // the terminal went away
        }
        if (key >= 0) {
          e = keyEvent(s, key);
          got = true;
          break;
        }
      }
      if (timeoutMs >= 0 && (timeoutMs -= slice) <= 0) break;
    }
    ::close(tty);
    return got ? kGotEvent : kTimedOut;
  }

 private:
  // Enter presses the default button; a letter presses the control whose
  // label marks it with "&".
  Event keyEvent(Surface s, int key) {
    if (s == Surface::Status || key == 0) return Event{EventKind::Command, 2};
    for (const auto &c : dialog_.controls) {
      const std::string &t = c.second;
      for (size_t i = 0; i + 1 < t.size(); ++i)
        if (t[i] == '&' && std::tolower(static_cast<unsigned char>(t[i + 1])) == std::tolower(key))
          return Event{EventKind::Command, c.first};
    }
    return Event{EventKind::Command, 2};
  }

  std::mutex drawMutex_;
  std::atomic<bool> questionOpen_{false};
  sig_atomic_t consumedInterrupts_ = 0;
  int attached_ = 0;
  struct sigaction oldInt_ {}, oldTerm_{}, oldHup_{};
  int drawnLines_ = 0;
  std::string lastPlainStatus_, shownCaption_, lastDialog_;
  DialogView dialog_;
};

}  // namespace

Backend &terminalBackend() {
  static TerminalBackend instance;
  return instance;
}

}  // namespace kav::ui
