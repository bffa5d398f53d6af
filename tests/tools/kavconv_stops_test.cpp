// How a kavconv run ends when it cannot end normally, tried as it happens to
// a user: the log pipe's reader goes away (`| head -c 300`, a `tee` stopped
// first), a terminate, hang-up or interrupt reaches a job without a terminal,
// the disk fills up, keys are typed before a question. Every time the output
// is a whole, closed file (or, holding no frame, is gone) and the exit status
// and the last message say what happened.
//
// No step waits for time to pass: a child's log goes into a one-page pipe
// that the test reads only as far as it needs, so the child can run at most
// a page of messages ahead of what the test has seen, and the 300-frame
// source holds far more messages than that (with --verbose, which prints a
// line for every text; the ordinary log folds them into a few).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <kavutil/kavutil.h>

#include "support/temp_dir.h"
#include "tests/tools/tool_test_util.h"

namespace {

using namespace kavtooltest;

constexpr uint32_t kFrames = 300;

// kavconv in a session of its own (no terminal), its standard output and
// error into a one-page pipe whose read end the test holds.
struct Child {
  pid_t pid = -1;
  int log = -1;
  std::string seen;

  Child(const std::vector<std::string> &args, const std::function<void()> &beforeExec = {}) {
    int p[2];
    if (pipe2(p, O_CLOEXEC) != 0) return;
    if (fcntl(p[0], F_SETPIPE_SZ, 4096) < 0) {
      close(p[0]);
      close(p[1]);
      return;
    }
    pid = fork();
    if (pid == 0) {
      setsid();
      const int in = open("/dev/null", O_RDONLY);
      dup2(in, 0);
      dup2(p[1], 1);
      dup2(p[1], 2);
      if (beforeExec) beforeExec();
      std::vector<char *> argv{const_cast<char *>(KAVCONV_PATH)};
      for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
      argv.push_back(nullptr);
      execv(KAVCONV_PATH, argv.data());
      _exit(127);
    }
    close(p[1]);
    log = p[0];
  }
  ~Child() {
    if (pid > 0) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
    stopReading();
  }
  void stopReading() {
    if (log >= 0) close(log);
    log = -1;
  }
  // Reads at most `limit` more bytes, a little at a time; false at the end
  // of the log. The poll's limit only guards against a hang.
  bool readSome(size_t limit = 256) {
    pollfd p{log, POLLIN, 0};
    if (log < 0 || poll(&p, 1, 60000) <= 0) return false;
    char buf[256];
    const ssize_t n = read(log, buf, std::min(sizeof buf, limit));
    if (n <= 0) return false;
    seen.append(buf, size_t(n));
    return true;
  }
  bool readUntil(const std::string &text) {
    while (seen.find(text) == std::string::npos)
      if (!readSome()) return false;
    return true;
  }
  // Reads the rest of the log, then the exit status (128 + signal when killed).
  int finish() {
    while (readSome()) {
    }
    int st = 0;
    waitpid(pid, &st, 0);
    pid = -1;
    return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
  }
};

// Run in the child before kavconv starts: a full disk after `limit` bytes of
// any one file (the write fails; the signal it would raise is ignored).
std::function<void()> diskFullAt(rlim_t limit) {
  return [limit] {
    signal(SIGXFSZ, SIG_IGN);
    rlimit r{limit, limit};
    setrlimit(RLIMIT_FSIZE, &r);
  };
}

class KavconvStops : public ::testing::Test {
 protected:
  kavtest::TempDir dir;
};

TEST_F(KavconvStops, ALogWhoseReaderGoesAwayLeavesTheConversionWhole) {
  const std::string in = writeSequence(dir, kFrames);
  // 0: the reader was gone before the first message (a tee stopped first);
  // 300: it read 300 bytes and left (head -c 300).
  for (size_t readBytes : {size_t{0}, size_t{300}}) {
    SCOPED_TRACE(readBytes);
    const std::string out = dir.file("log" + std::to_string(readBytes) + ".flc");
    Child c({"--verbose", in, out});
    ASSERT_GT(c.pid, 0);
    while (c.seen.size() < readBytes && c.readSome(readBytes - c.seen.size())) {
    }
    ASSERT_EQ(c.seen.size(), readBytes);
    c.stopReading();
    EXPECT_EQ(c.finish(), 0);
    EXPECT_EQ(readPictures(out, 1).frames.size(), kFrames);
  }
}

TEST_F(KavconvStops, TerminateHangUpAndInterruptWithoutATerminalCancelAtTheNextFrame) {
  const std::string in = writeSequence(dir, kFrames);
  struct Case {
    int signal;
    const char *during;
    bool framesWritten;
  };
  const Case cases[] = {
      {SIGTERM, "Writing frame", true},
      {SIGHUP, "Writing frame", true},
      {SIGINT, "Writing frame", true},  // nobody to ask "Do you want to cancel?"
      // Before a frame is written the colours of the whole source are
      // analysed: a Flic without frames opens nowhere, so it is removed.
      {SIGTERM, "Analyzing colors", false},
  };
  for (const Case &k : cases) {
    SCOPED_TRACE(std::string(strsignal(k.signal)) + " during " + k.during);
    const std::string out = dir.file("cut.flc");
    Child c({"--verbose", "--overwrite", in, out});
    ASSERT_GT(c.pid, 0);
    ASSERT_TRUE(c.readUntil(k.during)) << c.seen;
    kill(c.pid, k.signal);
    ASSERT_EQ(c.finish(), 3) << c.seen;
    if (!k.framesWritten) {
      EXPECT_NE(c.seen.find("Cancelled before the first frame was written; " + out + " was removed."),
                std::string::npos)
          << c.seen;
      EXPECT_FALSE(exists(out));
      continue;
    }
    const Pictures p = readPictures(out, 1);
    ASSERT_GE(p.frames.size(), 1u);
    ASSERT_LT(p.frames.size(), kFrames);
    EXPECT_NE(c.seen.find("Cancelled: " + out + " holds " + std::to_string(p.frames.size()) + " of 300 frames"),
              std::string::npos)
        << c.seen;
    EXPECT_EQ(c.seen.find("Done:"), std::string::npos);
  }
}

// A movie written by GStreamer, cancelled or cut short by a full disk,
// plays up to where it stopped: the cancel finishes the muxer, and an MP4's
// index at the front is kept up to date as it goes.
TEST_F(KavconvStops, ACutShortMoviePlaysTheFramesItHolds) {
  const std::string in = writeSequence(dir, kFrames);
  for (const char *name : {"cut.mp4", "cut.webm", "cut.mkv"}) {
    SCOPED_TRACE(name);
    const std::string out = dir.file(name);
    Child c({"--verbose", "--overwrite", in, out});
    ASSERT_GT(c.pid, 0);
    ASSERT_TRUE(c.readUntil("Writing frame 21 ")) << c.seen;
    kill(c.pid, SIGTERM);
    ASSERT_EQ(c.finish(), 3) << c.seen;
    const Pictures p = readPictures(out, 0);
    ASSERT_GE(p.frames.size(), 21u);
    ASSERT_LT(p.frames.size(), kFrames);
    EXPECT_NE(c.seen.find("Cancelled: " + out + " holds " + std::to_string(p.frames.size()) + " of 300 frames"),
              std::string::npos)
        << c.seen;
  }
  const std::string whole = dir.file("whole.mp4");
  ASSERT_EQ(Child({in, whole}).finish(), 0);
  struct stat st;
  ASSERT_EQ(stat(whole.c_str(), &st), 0);
  const rlim_t limit = static_cast<rlim_t>(st.st_size) * 2 / 3;
  const std::string out = dir.file("full.mp4");
  Child c({"--overwrite", in, out}, diskFullAt(limit));
  EXPECT_EQ(c.finish(), 1) << c.seen;
  const Pictures p = readPictures(out, 0);
  EXPECT_GE(p.frames.size(), 1u);
  EXPECT_LT(p.frames.size(), kFrames);
  EXPECT_NE(c.seen.find("writing " + out + " failed; it holds " + std::to_string(p.frames.size()) + " of 300"),
            std::string::npos)
      << c.seen;
}

// A full disk, made by a file-size limit on the child: whether the write
// fails during the frames or only when the close writes the last bytes, the
// run fails and the file holds what reached it.
TEST_F(KavconvStops, AFailedWriteNeverEndsInDone) {
  const std::string in = writeSequence(dir, kFrames);
  const std::string whole = dir.file("whole.flc");
  Child first({in, whole});
  ASSERT_EQ(first.finish(), 0) << first.seen;
  struct stat st;
  ASSERT_EQ(stat(whole.c_str(), &st), 0);
  const rlim_t size = static_cast<rlim_t>(st.st_size);

  // Cut after the header, half way, and by the last byte (the close's).
  for (rlim_t limit : {rlim_t{200}, size / 2, size - 1}) {
    SCOPED_TRACE(limit);
    const std::string out = dir.file("full.flc");
    Child c({"--overwrite", in, out}, diskFullAt(limit));
    EXPECT_EQ(c.finish(), 1) << c.seen;
    EXPECT_NE(c.seen.find("Error writing the output file."), std::string::npos) << c.seen;
    EXPECT_EQ(c.seen.find("Done:"), std::string::npos) << c.seen;
    if (limit == 200) {
      EXPECT_NE(c.seen.find("writing " + out + " failed before a whole frame reached it; it was removed"),
                std::string::npos)
          << c.seen;
      EXPECT_FALSE(exists(out));
      continue;
    }
    const Pictures p = readPictures(out, 1);
    EXPECT_GE(p.frames.size(), 1u);
    EXPECT_NE(c.seen.find("writing " + out + " failed; it holds " + std::to_string(p.frames.size()) + " of 300"),
              std::string::npos)
        << c.seen;
  }
}

// Keys typed while the progress runs ("y" for a question not yet asked)
// are discarded: the overwrite question waits for its own answer, and its
// prompt shows that No is the default.
TEST_F(KavconvStops, KeysTypedBeforeAQuestionDoNotAnswerIt) {
  const std::string in = writeSequence(dir, kFrames);
  const std::string existing = dir.file("keep.flc");
  kavtest::writeFile(existing, std::vector<uint8_t>{'k', 'e', 'e', 'p'});
  int go[2];
  ASSERT_EQ(pipe(go), 0);
  int master = -1;
  const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    close(go[1]);
    char byte;
    if (read(go[0], &byte, 1) != 1) _exit(126);  // starts once the early keys are in
    const char *argv[] = {KAVCONV_PATH, in.c_str(), existing.c_str(), nullptr};
    execv(KAVCONV_PATH, const_cast<char *const *>(argv));
    _exit(127);
  }
  close(go[0]);
  std::string seen;
  auto readUntil = [&](const std::string &text) {
    while (seen.find(text) == std::string::npos) {
      pollfd p{master, POLLIN, 0};
      if (poll(&p, 1, 60000) <= 0) return false;
      char buf[1024];
      const ssize_t n = read(master, buf, sizeof buf);
      if (n <= 0) return false;
      seen.append(buf, size_t(n));
    }
    return true;
  };
  ASSERT_EQ(write(master, "y\n", 2), 2);
  ASSERT_TRUE(readUntil("y\r\n")) << seen;  // echoed: the terminal holds the keys
  ASSERT_EQ(write(go[1], "g", 1), 1);
  close(go[1]);
  ASSERT_TRUE(readUntil("exists, overwrite? [y/N] ")) << seen;
  ASSERT_EQ(write(master, "n\n", 2), 2);
  readUntil("\x01");  // the rest, to the end
  int st = 0;
  waitpid(pid, &st, 0);
  close(master);
  ASSERT_TRUE(WIFEXITED(st));
  EXPECT_EQ(WEXITSTATUS(st), 1) << seen;
  EXPECT_NE(seen.find("overwrite? No."), std::string::npos) << seen;
  EXPECT_EQ(kavtest::readFile(existing), (std::vector<uint8_t>{'k', 'e', 'e', 'p'}));
}

}  // namespace
