// The terminal backend as a person sees it: the driver program runs under a
// pseudo-terminal, this test types at it, and the screen it leaves is
// compared with the expected one.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <poll.h>
#include <pty.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "kavutil/dialog.h"
#include "kavutil/questions.h"
#include "kavutil/status.h"

namespace {

// Just enough of a terminal for what the backend writes: text that wraps
// at the right margin, CR, LF, "ESC [ n F" (up n lines), "ESC [ n A",
// "ESC [ J" (clear to the end of the screen) and "ESC [ 2 K" (clear the
// line). The screen keeps every row ever written (nothing scrolls away), and
// on a resize it re-wraps rows longer than the new width, as tmux and most
// terminals do.
class Screen {
 public:
  explicit Screen(size_t width) : width_(width) {}
  void feed(const std::string &bytes) {
    for (size_t i = 0; i < bytes.size(); ++i) {
      const char c = bytes[i];
      if (c == '\x1b' && i + 1 < bytes.size() && bytes[i + 1] == '[') {
        size_t j = i + 2;
        int n = 0;
        bool given = false;
        while (j < bytes.size() && isdigit(static_cast<unsigned char>(bytes[j]))) {
          n = n * 10 + (bytes[j++] - '0');
          given = true;
        }
        if (!given) n = bytes[j] == 'J' || bytes[j] == 'K' ? 0 : 1;
        if (j < bytes.size()) {
          if (bytes[j] == 'F' || bytes[j] == 'A') {
            row_ = row_ >= n ? row_ - n : 0;
            if (bytes[j] == 'F') col_ = 0;
          } else if (bytes[j] == 'K') {
            line().clear();
          } else if (bytes[j] == 'J') {
            line().resize(std::min(line().size(), col_));
            rows_.resize(row_ + 1);
          }
        }
        i = j;
      } else if (c == '\r') {
        col_ = 0;
      } else if (c == '\n') {
        ++row_;
        col_ = 0;  // the terminal's output processing turns LF into CR LF
      } else if (c == '\a') {
      } else if (static_cast<unsigned char>(c) >= 32) {
        if (col_ == width_) {  // the right margin: the line wraps
          wrapped_ = true;
          ++row_;
          col_ = 0;
        }
        std::string &l = line();
        if (l.size() < col_ + 1) l.resize(col_ + 1, ' ');
        l[col_++] = c;
      }
    }
  }
  // The rows longer than the new width become several, above the cursor
  // as below it.
  void resize(size_t width) {
    std::vector<std::string> rows;
    size_t cursorRow = 0;
    for (size_t r = 0; r < rows_.size(); ++r) {
      if (r == static_cast<size_t>(row_)) cursorRow = rows.size();
      const std::string &l = rows_[r];
      if (l.size() <= width) {
        rows.push_back(l);
        continue;
      }
      for (size_t at = 0; at < l.size(); at += width) rows.push_back(l.substr(at, width));
    }
    if (static_cast<size_t>(row_) >= rows_.size()) cursorRow = rows.size() + (row_ - rows_.size());
    rows_ = rows;
    row_ = static_cast<int>(cursorRow);
    width_ = width;
  }
  std::vector<std::string> lines() const {
    std::vector<std::string> out = rows_;
    for (std::string &l : out) l.erase(l.find_last_not_of(' ') + 1);
    while (!out.empty() && out.back().empty()) out.pop_back();
    return out;
  }
  // Whether a line ever ran into the right margin.
  bool wrapped() const { return wrapped_; }

 private:
  std::string &line() {
    if (rows_.size() <= static_cast<size_t>(row_)) rows_.resize(row_ + 1);
    return rows_[row_];
  }
  size_t width_;
  std::vector<std::string> rows_;
  int row_ = 0;
  size_t col_ = 0;
  bool wrapped_ = false;
};

class Pty {
 public:
  explicit Pty(const char *program, const char *mode = nullptr, unsigned short columns = 100) {
    struct winsize ws = {40, columns, 0, 0};
    pid_ = forkpty(&master_, nullptr, nullptr, &ws);
    if (pid_ == 0) {
      execl(program, program, mode, static_cast<char *>(nullptr));
      _exit(127);
    }
  }
  ~Pty() {
    if (pid_ > 0 && !reaped_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (master_ >= 0) close(master_);
  }
  bool started() const { return pid_ > 0; }

  // Reads until `text` has appeared `times` times in all output so far.
  bool waitFor(const std::string &text, int times = 1) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (count(text) < times) {
      if (std::chrono::steady_clock::now() > until) return false;
      if (!readSome(100)) return count(text) >= times;
    }
    return true;
  }
  // The window's new width; the kernel tells the program (SIGWINCH).
  // What was read before it was drawn at the old width, the rest at the new.
  void resize(unsigned short columns) {
    for (;;) {
      struct pollfd p = {master_, POLLIN, 0};
      char buf[4096];
      if (poll(&p, 1, 0) <= 0) break;
      const ssize_t n = read(master_, buf, sizeof buf);
      if (n <= 0) break;
      out_.append(buf, static_cast<size_t>(n));
    }
    struct winsize ws = {40, columns, 0, 0};
    ASSERT_EQ(ioctl(master_, TIOCSWINSZ, &ws), 0);
    resizes_.push_back({out_.size(), columns});
  }
  // The screen after everything so far, with the resizes where they came.
  Screen screen(size_t columns) const {
    Screen s(columns);
    size_t at = 0;
    for (const auto &r : resizes_) {
      s.feed(out_.substr(at, r.first - at));
      s.resize(r.second);
      at = r.first;
    }
    s.feed(out_.substr(at));
    return s;
  }
  void type(const std::string &keys) { ASSERT_EQ(write(master_, keys.data(), keys.size()), ssize_t(keys.size())); }
  int finish() {
    while (readSome(100)) {
    }
    int status = 0;
    waitpid(pid_, &status, 0);
    reaped_ = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  const std::string &output() const { return out_; }

 private:
  int count(const std::string &text) const {
    int n = 0;
    for (size_t p = out_.find(text); p != std::string::npos; p = out_.find(text, p + 1)) ++n;
    return n;
  }
  // False once the child has closed the terminal.
  bool readSome(int timeoutMs) {
    struct pollfd p = {master_, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) <= 0) return true;
    char buf[4096];
    ssize_t n = read(master_, buf, sizeof buf);
    if (n <= 0) return false;
    out_.append(buf, static_cast<size_t>(n));
    return true;
  }

  int master_ = -1;
  std::vector<std::pair<size_t, size_t>> resizes_;  // output offset, new width
  pid_t pid_ = -1;
  bool reaped_ = false;
  std::string out_;
};

}  // namespace

TEST(TerminalBackend, CancelNoThenInterruptYesThenDoneLeavesTheExpectedScreen) {
  Pty pty(KAV_STATUS_TTY_DRIVER);
  ASSERT_TRUE(pty.started());
  ASSERT_TRUE(pty.waitFor("frame 12 of 300")) << pty.output();
  pty.type("\x03");  // Ctrl-C: the Cancel button
  ASSERT_TRUE(pty.waitFor("[y/N] ")) << pty.output();
  pty.type("n");  // one key answers
  ASSERT_TRUE(pty.waitFor("frame 150 of 300")) << pty.output();
  pty.type("\x03");
  ASSERT_TRUE(pty.waitFor("[y/N] ", 3)) << pty.output();  // the first prompt, its record, the second prompt
  pty.type("\x03");  // a second Ctrl-C while the question is open: Yes
  ASSERT_TRUE(pty.waitFor("[Done: Enter]")) << pty.output();

  // Each question and its answer took the block's place, and the block was
  // drawn again under them; no "^C" was echoed.
  const std::vector<std::string> waiting = {
      "Converting: Do you want to cancel? [y/N] No",
      "Converting: Do you want to cancel? [y/N] Yes",
      "Converting: clip.avi to clip.flc  [Done: Enter]",
      "Stopped at frame 150.",
  };
  EXPECT_EQ(pty.screen(100).lines(), waiting) << pty.output();

  pty.type("\n");
  ASSERT_TRUE(pty.waitFor("closed")) << pty.output();
  EXPECT_EQ(pty.finish(), 0) << pty.output();
  // The window went, and its block with it.
  const std::vector<std::string> closed = {waiting[0], waiting[1], "closed"};
  EXPECT_EQ(pty.screen(100).lines(), closed) << pty.output();
}

// A long run under a long second line, in terminals of three widths and in
// two that are resized during the run: every line fits (none reaches the
// right margin), the block is redrawn in place, so the screen holds it
// once, long names lose their middle, and after the run only the message
// and the program's own last line are left.
TEST(TerminalBackend, TheBlockFitsEveryWidthAndNeverScrolls) {
  const std::string second = "/home/someone/videos/holiday/beach.avi -> /home/someone/out/beach-final.flc";
  const struct {
    unsigned short width, resizedTo;
  } cases[] = {{40, 0}, {80, 0}, {200, 0}, {80, 40}, {40, 120}};
  for (const auto &c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + " columns, then " + std::to_string(c.resizedTo));
    Pty pty(KAV_STATUS_TTY_DRIVER, "progress", c.width);
    ASSERT_TRUE(pty.started());
    ASSERT_TRUE(pty.waitFor("Half way there. [Enter] ")) << pty.output();
    const Screen half = pty.screen(c.width);
    const std::vector<std::string> lines = half.lines();
    EXPECT_FALSE(half.wrapped()) << pty.output();
    ASSERT_EQ(lines.size(), 4u) << pty.output();  // the block once, the message under it
    for (const std::string &l : lines) EXPECT_LT(l.size(), c.width) << l;
    if (c.width >= 100) {
      EXPECT_EQ(lines[0], "kavconv: " + second + "  [Cancel: Ctrl-C]");
    } else {
      EXPECT_EQ(lines[0].substr(0, 13), "kavconv: /hom");
      EXPECT_NE(lines[0].find("..."), std::string::npos) << lines[0];
      EXPECT_NE(lines[0].find(".flc  [Cancel: Ctrl-C]"), std::string::npos) << lines[0];
    }
    EXPECT_EQ(lines[1], "Writing frame 150 of 300 (50%)...");
    EXPECT_NE(lines[2].find("150/300  50%"), std::string::npos) << lines[2];
    EXPECT_EQ(lines[3], "kavconv: Half way there. [Enter]");

    if (c.resizedTo) pty.resize(c.resizedTo);  // while the message waits
    pty.type("\n");
    if (c.resizedTo) {
      usleep(300000);  // and again while the frames go on
      pty.resize(c.width);
    }
    ASSERT_TRUE(pty.waitFor("closed")) << pty.output();
    EXPECT_EQ(pty.finish(), 0) << pty.output();
    const Screen end = pty.screen(c.width);
    const std::vector<std::string> left = {"kavconv: Half way there. [Enter]", "closed"};
    EXPECT_EQ(end.lines(), left) << pty.output();
    if (!c.resizedTo) EXPECT_FALSE(end.wrapped()) << pty.output();
  }
}

// Every prompt names the answer that Enter gives, whichever button is the
// default.
TEST(TerminalBackend, PromptsShowWhatEnterAnswers) {
  Pty pty(KAV_STATUS_TTY_DRIVER, "questions");
  ASSERT_TRUE(pty.started());
  const struct {
    const char *prompt, *answer;
  } steps[] = {
      {"Stop the batch? [o = OK, Enter = Cancel] ", "answer 2"},  // KAVDialogMessage, style 0x22
      {"Keep the log? [Y/n] ", "answer 1"},                       // KAVDialogAsk, style 1
      {"Replace it? [y/N/c] ", "answer 0"},                       // KAVDialogAsk, style 0x20
  };
  for (const auto &s : steps) {
    ASSERT_TRUE(pty.waitFor(s.prompt)) << pty.output();
    pty.type("\n");
    ASSERT_TRUE(pty.waitFor(s.answer)) << pty.output();
  }
  EXPECT_EQ(pty.finish(), 0) << pty.output();
}

namespace {

// No controlling terminal (a new session), as under cron or CI: a question
// takes its default button and is still printed to standard error.
void askWithoutATerminal(const std::string &existing) {
  setsid();
  StatusInit(nullptr, KAV_NO_WINDOW, 0);
  StatusOpen("Batch", "job", nullptr);
  StatusSet("Working");
  const int go = overwrite(existing.c_str(), 0);
  StatusMessage("Done with it", 0);
  const int ok = KAVDialogMessage("Stop the batch?", 0x22);  // the first button, OK, though Cancel is the default
  StatusClose(1);  // nobody to press Done: returns
  _exit(go == 0 && ok == 0 ? 0 : 1);
}

}  // namespace

TEST(TerminalBackendDeathTest, WithoutATerminalQuestionsTakeTheirDefaultAndAreLogged) {
  char name[] = "/tmp/kavtest-exists-XXXXXX";
  const int fd = mkstemp(name);
  ASSERT_GE(fd, 0);
  close(fd);
  EXPECT_EXIT(askWithoutATerminal(name), ::testing::ExitedWithCode(0),
              "Batch - job\nWorking\nBatch: File .* exists, overwrite\\?\nFile .* exists, overwrite\\? No.\nBatch: Done with it\nStop the batch\\?\n");
  unlink(name);
}
