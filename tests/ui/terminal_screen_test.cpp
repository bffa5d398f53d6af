// The terminal backend as a person sees it: the driver program runs under a
// pseudo-terminal, this test types at it, and the screen it leaves is
// compared with the expected one.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <poll.h>
#include <pty.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "kavutil/dialog.h"
#include "kavutil/questions.h"
#include "kavutil/status.h"

namespace {

// Just enough of a terminal for what the backend writes: text, CR, LF,
// "ESC [ n F" (up n lines) and "ESC [ 2 K" (clear the line).
class Screen {
 public:
  void feed(const std::string &bytes) {
    for (size_t i = 0; i < bytes.size(); ++i) {
      const char c = bytes[i];
      if (c == '\x1b' && i + 1 < bytes.size() && bytes[i + 1] == '[') {
        size_t j = i + 2;
        int n = 0;
        while (j < bytes.size() && isdigit(static_cast<unsigned char>(bytes[j]))) n = n * 10 + (bytes[j++] - '0');
        if (j < bytes.size()) {
          if (bytes[j] == 'F') {
            row_ = row_ >= n ? row_ - n : 0;
            col_ = 0;
          } else if (bytes[j] == 'K') {
            line().clear();
          }
        }
        i = j;
      } else if (c == '\r') {
        col_ = 0;
      } else if (c == '\n') {
        ++row_;
      } else if (static_cast<unsigned char>(c) >= 32) {
        std::string &l = line();
        if (l.size() < col_ + 1) l.resize(col_ + 1, ' ');
        l[col_++] = c;
      }
    }
  }
  std::vector<std::string> lines() const {
    std::vector<std::string> out = rows_;
    while (!out.empty() && out.back().empty()) out.pop_back();
    return out;
  }

 private:
  std::string &line() {
    if (rows_.size() <= static_cast<size_t>(row_)) rows_.resize(row_ + 1);
    return rows_[row_];
  }
  std::vector<std::string> rows_;
  int row_ = 0;
  size_t col_ = 0;
};

class Pty {
 public:
  explicit Pty(const char *program, const char *mode = nullptr) {
    struct winsize ws = {40, 100, 0, 0};
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
  ASSERT_TRUE(pty.waitFor("[y/N]")) << pty.output();
  pty.type("n\n");
  ASSERT_TRUE(pty.waitFor("frame 150 of 300")) << pty.output();
  pty.type("\x03");
  ASSERT_TRUE(pty.waitFor("[y/N]", 2)) << pty.output();
  pty.type("\x03");  // a second Ctrl-C while the question is open: Yes
  ASSERT_TRUE(pty.waitFor("[Done: Enter]")) << pty.output();
  pty.type("\n");
  ASSERT_TRUE(pty.waitFor("closed")) << pty.output();
  EXPECT_EQ(pty.finish(), 0) << pty.output();

  Screen screen;
  screen.feed(pty.output());
  const std::vector<std::string> expected = {
      "== Converting ==",
      "Writing frame 12 of 300...",
      "[#---------------------------------------]   4%",
      "clip.avi to clip.flc   [Cancel: Ctrl-C]",
      "^C",
      "Converting: Do you want to cancel? [y/N] n",
      // The answer's block, redrawn in place by the next progress.
      "== Converting ==",
      "Writing frame 150 of 300...",
      "[####################--------------------]  50%",
      "clip.avi to clip.flc   [Cancel: Ctrl-C]",
      "^C",
      "Converting: Do you want to cancel? [y/N] ^C",
      "== Converting ==",
      "Stopped at frame 150.",
      "",
      "clip.avi to clip.flc   [Done: Enter]",
      "",  // the Enter that pressed Done
      "closed",
  };
  EXPECT_EQ(screen.lines(), expected) << pty.output();
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
