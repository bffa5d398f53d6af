// The default backend. The status window is a block of lines on standard
// error. On a terminal the block is redrawn in place: every line is cut to
// the window's width (measured again after a resize), so the block never
// wraps and never scrolls, and it goes away when the window does. Into a log
// it is plain lines, and texts that differ only in their numbers (one per
// frame) are folded: the first of each kind, then at most one a second, and
// the last. Questions go to the controlling terminal, under the block, and
// take one key; without a terminal every question takes its default button
// (a message box its first), so a script never hangs. Ctrl-C is the Cancel
// button (a close request for a dialog); terminate and hang-up raise the
// quit flag, and so does Ctrl-C when there is no terminal to ask on. Output
// that cannot be written (a log pipe whose reader went away) is dropped: it
// never ends the process.
#include "ui/terminal_backend.h"

#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <poll.h>
#include <set>
#include <string>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "platform/owner_channel.h"
#include "ui/progress_text.h"
#include "ui/terminal_layout.h"

namespace kav::ui {
namespace {

using Clock = std::chrono::steady_clock;

volatile sig_atomic_t gInterrupts = 0;
// Stays raised once a terminate or hang-up came, so a pump that drops the
// quit (StatusSet pumps and ignores the result) cannot hide it from the
// next one.
volatile sig_atomic_t gQuit = 0;
volatile sig_atomic_t gResized = 0;

extern "C" void onInterrupt(int) { gInterrupts = gInterrupts + 1; }
extern "C" void onQuit(int) { gQuit = 1; }
extern "C" void onResize(int) { gResized = 1; }

// The terminal's modes as they were before a window took the keys; put back
// when the last window goes and, should the program end without closing
// it, at exit.
struct SavedModes {
  int fd = -1;
  struct termios modes {};
};
SavedModes gSaved;

void restoreModes() {
  if (gSaved.fd < 0) return;
  tcsetattr(gSaved.fd, TCSANOW, &gSaved.modes);
  ::close(gSaved.fd);
  gSaved.fd = -1;
}

extern "C" void restoreModesAtExit() { restoreModes(); }

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

const char *answerWord(int answer) {
  switch (answer) {
    case kYes: return "Yes";
    case kNo: return "No";
    case kCancel: return "Cancel";
    default: return "";
  }
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

// A closed log pipe (the reader of `kavconv ... | tee log` was stopped
// first) fails the write instead of raising SIGPIPE, and the text is lost.
void writeAll(int fd, const std::string &s) { kav::os::writeRecord(fd, s.data(), s.size()); }

int openTerminal() { return ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC); }

// First non-blank byte of what was typed, 0 for Enter alone, -1 for end of
// input or an error, -2 when a signal came first.
int readKey(int tty) {
  char buf[128];
  ssize_t n = ::read(tty, buf, sizeof buf);
  if (n < 0 && errno == EINTR) return -2;
  if (n <= 0) return -1;
  for (ssize_t i = 0; i < n; ++i) {
    if (buf[i] == 4) return -1;  // Ctrl-D
    if (!std::isspace(static_cast<unsigned char>(buf[i]))) return static_cast<unsigned char>(buf[i]);
  }
  return 0;
}

// The window's width less one column: a line that fills the last column
// leaves the cursor there on some terminals and wraps on others.
size_t usableWidth() {
  struct winsize ws {};
  if (::ioctl(2, TIOCGWINSZ, &ws) != 0 || ws.ws_col < 2) return 79;
  return ws.ws_col - 1u;
}

// Frames per second and the time left, measured from the first text of
// each kind: texts of several kinds take turns (a frame is read, then
// written), so each kind keeps its own start; another total, or a count
// that went back, starts that kind afresh.
class PaceMeter {
 public:
  Pace update(const std::optional<Progress> &p, const std::string &key, Clock::time_point now) {
    if (!p) return {};
    Start &s = starts_[key];
    if (!s.valid || p->total != s.total || p->done < s.done || p->perMille < s.perMille) {
      s = Start{true, p->total, p->done, p->perMille, now};
      if (starts_.size() > 16) starts_ = {{key, s}};  // kinds come and go; a few are enough
      return {};
    }
    const double seconds = std::chrono::duration<double>(now - s.at).count();
    Pace pace;
    if (seconds < 1.0) return pace;
    if (p->total && p->done > s.done) {
      const double fps = static_cast<double>(p->done - s.done) / seconds;
      pace.framesPerSecond = fps;
      pace.secondsLeft = static_cast<uint64_t>(static_cast<double>(p->total - p->done) / fps + 0.5);
    } else if (!p->total && p->perMille > s.perMille) {
      pace.secondsLeft = static_cast<uint64_t>((1000 - p->perMille) * seconds / (p->perMille - s.perMille) + 0.5);
    }
    return pace;
  }
  // Time spent waiting for an answer is no time the work took.
  void pause(Clock::duration d) {
    for (auto &k : starts_) k.second.at += d;
  }

 private:
  struct Start {
    bool valid = false;
    uint64_t total = 0, done = 0;
    int perMille = 0;
    Clock::time_point at;
  };
  std::map<std::string, Start> starts_;
};

constexpr auto kRedrawEvery = std::chrono::milliseconds(100);
constexpr auto kLogEvery = std::chrono::seconds(1);

class TerminalBackend final : public Backend {
 public:
  int messageBox(const MessageBox &box) override {
    std::string line = iconWord(box.icon);
    if (!box.caption.empty()) line += box.caption + ": ";
    line += box.text;

    const int tty = openTerminal();
    if (tty < 0) {
      std::lock_guard<std::mutex> lock(drawMutex_);
      printAboveBlock(line);
      return answerWithoutTerminal(box);  // nobody to ask
    }
    questionOpen_.store(true);
    const auto asked = Clock::now();
    // Taken before the prompt, and looked at between short polls, so an
    // interrupt that comes just before the read still answers.
    const sig_atomic_t interruptsBefore = gInterrupts;
    const std::string prompt = line + choices(box) + " ";
    {
      std::lock_guard<std::mutex> lock(drawMutex_);
      // Keys typed while the progress ran were meant for nothing: a "y"
      // typed early must not answer a question that was not yet shown.
      tcflush(tty, TCIFLUSH);
      if (pending_ && blockMode_) drawBlock();
      writeAll(tty, prompt);
    }
    // One key answers: the terminal hands over each key as it is typed,
    // without echo, for as long as the question is open.
    struct termios before {};
    const bool keyMode = tcgetattr(tty, &before) == 0 && foreground(tty);
    if (keyMode) {
      struct termios t = before;
      t.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ECHOCTL);
      t.c_cc[VMIN] = 1;
      t.c_cc[VTIME] = 0;
      tcsetattr(tty, TCSANOW, &t);
    }
    int result = defaultAnswer(box);
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
      char buf[64];
      const ssize_t n = ::read(tty, buf, sizeof buf);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;  // the terminal went away: the default button
      bool done = false;
      for (ssize_t i = 0; i < n && !done; ++i) {
        const unsigned char c = static_cast<unsigned char>(buf[i]);
        if (c == '\r' || c == '\n' || c == 4) {
          done = true;  // Enter, or end of input (Ctrl-D): the default button
        } else if (int a = answerFor(box.buttons, c)) {
          result = a;
          done = true;
        }
      }
      if (done) break;
      writeAll(tty, "\a");  // a key the question does not take
    }
    if (keyMode) tcsetattr(tty, TCSANOW, &before);
    {
      std::lock_guard<std::mutex> lock(drawMutex_);
      const std::string word = box.buttons == Buttons::Ok ? "" : answerWord(result);
      writeAll(tty, word + "\n");
      const std::string record = prompt + word;
      if (blockMode_ && !blockLines_.empty()) {
        // The question and its answer take the block's place, and the
        // block is drawn again under them: no old block is left above.
        const size_t width = usableWidth() + 1;
        const size_t rows = blockRows(width) + rowsAt(columnsOf(record), width);
        blockLines_.clear();
        std::string out = "\x1b[" + std::to_string(rows) + "F\x1b[J" + record + "\n";
        writeAll(2, out);
        if (shown_) drawBlock();
      } else if (!isatty(2)) {
        writeAll(2, record + "\n");  // the log keeps what was asked and answered
      }
      pace_.pause(Clock::now() - asked);
    }
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
      sa.sa_flags = SA_RESTART;
      sa.sa_handler = onResize;
      sigaction(SIGWINCH, &sa, &oldWinch_);
      consumedInterrupts_ = gInterrupts;
      gQuit = 0;  // a quit belongs to the windows it reached
      blockMode_ = isatty(2);
      takeKeys();
    }
    if (s == Surface::Status) {
      blockLines_.clear();
      shown_ = false;
    }
  }

  void detach(Surface s) override {
    std::lock_guard<std::mutex> lock(drawMutex_);
    if (s == Surface::Status) {
      if (blockMode_) {
        eraseBlock();  // the window is gone
      } else if (!lastStatusLogged_ && !lastStatus_.empty()) {
        writeAll(2, lastStatus_ + "\n");  // the last progress line
      }
      shown_ = pending_ = false;
      lastStatus_.clear();
      lastStatusLogged_ = true;
      loggedKinds_.clear();
      shownCaption_.clear();
    }
    if (attached_ > 0 && --attached_ == 0) {
      sigaction(SIGINT, &oldInt_, nullptr);
      sigaction(SIGTERM, &oldTerm_, nullptr);
      sigaction(SIGHUP, &oldHup_, nullptr);
      sigaction(SIGWINCH, &oldWinch_, nullptr);
      restoreModes();
    }
  }

  void drawStatus(const StatusView &v) override {
    std::lock_guard<std::mutex> lock(drawMutex_);
    const auto now = Clock::now();
    const bool changedKind = !shown_ || foldKey(v.status) != foldKey(view_.status) || v.button != view_.button ||
                             v.caption != view_.caption || v.secondLine != view_.secondLine;
    view_ = v;
    shown_ = true;
    progress_ = readProgress(v.status);
    pace_shown_ = pace_.update(progress_, foldKey(v.status), now);
    if (!blockMode_) {
      logStatus(v, now);
      return;
    }
    // A run of texts of one kind is drawn at most ten times a second: the
    // terminal, not the work, would set the pace otherwise.
    if (questionOpen_.load() || (!changedKind && now - lastDraw_ < kRedrawEvery)) {
      pending_ = true;
      return;
    }
    drawBlock();
  }

  void drawDialog(const DialogView &v) override {
    std::lock_guard<std::mutex> lock(drawMutex_);
    std::string out = "== " + v.caption + " ==";
    for (const auto &c : v.controls) out += "  [" + plainLabel(c.second) + "]";
    if (out == lastDialog_) return;
    lastDialog_ = out;
    printAboveBlock(out);
    dialog_ = v;
  }

  bool pollEvent(Surface s, Event &e) override {
    if (gQuit) {
      e = Event{EventKind::Quit, 0};
      return true;
    }
    if (blockMode_ && (gResized || pending_) && !questionOpen_.load()) {
      std::lock_guard<std::mutex> lock(drawMutex_);
      if (shown_ && (gResized || Clock::now() - lastDraw_ >= kRedrawEvery)) drawBlock();
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
  static bool foreground(int tty) { return tcgetpgrp(tty) == getpgrp(); }

  // While a window is up, keys reach it one at a time and are not echoed:
  // a typed key (or the "^C" of an interrupt) would land inside the block.
  // A program in the background leaves the terminal alone.
  void takeKeys() {
    if (gSaved.fd >= 0) return;
    const int tty = openTerminal();
    if (tty < 0) return;
    struct termios t {};
    if (!foreground(tty) || tcgetattr(tty, &t) != 0) {
      ::close(tty);
      return;
    }
    static bool registered = false;
    if (!registered) registered = std::atexit(restoreModesAtExit) == 0;
    gSaved.fd = tty;
    gSaved.modes = t;
    t.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ECHOCTL);
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    tcsetattr(tty, TCSANOW, &t);
  }

  // Rows the drawn block takes now: a terminal that re-wraps its lines on
  // a resize gives a line longer than the new width more than one.
  size_t blockRows(size_t width) const {
    size_t rows = 0;
    for (size_t cols : blockLines_) rows += rowsAt(cols, width);
    return rows;
  }

  std::string eraseSequence() {
    if (blockLines_.empty()) return "";
    const size_t rows = blockRows(usableWidth() + 1);
    blockLines_.clear();
    return "\x1b[" + std::to_string(rows) + "F\x1b[J";
  }

  void eraseBlock() {
    const std::string out = eraseSequence();
    if (!out.empty()) writeAll(2, out);
  }

  void drawBlock() {
    gResized = 0;
    std::string out = eraseSequence();
    for (const std::string &l : statusBlock(view_, progress_, pace_shown_, usableWidth())) {
      out += l + "\n";
      blockLines_.push_back(columnsOf(l));
    }
    writeAll(2, out);
    lastDraw_ = Clock::now();
    pending_ = false;
  }

  // A message that stays: written where the block was, the block under it.
  void printAboveBlock(const std::string &text) {
    if (!blockMode_) {
      writeAll(2, text + "\n");
      return;
    }
    writeAll(2, eraseSequence() + text + "\n");
    if (shown_) drawBlock();
  }

  // Into a log: the caption and second line once, then each kind of status
  // text when it first comes, and the latest text at most once a second.
  void logStatus(const StatusView &v, Clock::time_point now) {
    const std::string caption = v.caption + "\n" + v.secondLine;
    if (shownCaption_ != caption) {
      shownCaption_ = caption;
      writeAll(2, v.caption + (v.secondLine.empty() ? "" : " - " + v.secondLine) + "\n");
    }
    if (v.status == lastStatus_) return;
    lastStatus_ = v.status;
    const bool newKind = loggedKinds_.insert(foldKey(v.status)).second;
    if (newKind || now - lastLogLine_ >= kLogEvery) {
      writeAll(2, v.status + "\n");
      lastLogLine_ = now;
      lastStatusLogged_ = true;
    } else {
      lastStatusLogged_ = false;
    }
  }

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
  struct sigaction oldInt_ {}, oldTerm_{}, oldHup_{}, oldWinch_{};

  // The block on a terminal.
  bool blockMode_ = false;
  bool shown_ = false;    // the status window has something to show
  std::atomic<bool> pending_{false};  // a newer view than the one drawn
  StatusView view_;
  std::optional<Progress> progress_;
  PaceMeter pace_;
  Pace pace_shown_;
  std::vector<size_t> blockLines_;  // columns of each line drawn, none when no block is drawn
  Clock::time_point lastDraw_{};

  // The log.
  std::string lastStatus_, shownCaption_;
  bool lastStatusLogged_ = true;
  std::set<std::string> loggedKinds_;
  Clock::time_point lastLogLine_{};

  std::string lastDialog_;
  DialogView dialog_;
};

}  // namespace

Backend &terminalBackend() {
  static TerminalBackend instance;
  return instance;
}

}  // namespace kav::ui
