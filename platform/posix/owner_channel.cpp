#include "platform/owner_channel.h"

#include <cerrno>
#include <csignal>
#include <ctime>
#include <pthread.h>
#include <unistd.h>

namespace kav::os {

bool writeRecord(KavWindow owner, const void *bytes, size_t count) {
  if (owner < 0) return false;
  // Block SIGPIPE for this thread while writing, and swallow one that the
  // write raised, so a closed pipe is an ordinary failure.
  sigset_t pipeSet, oldSet;
  sigemptyset(&pipeSet);
  sigaddset(&pipeSet, SIGPIPE);
  sigset_t pending;
  sigemptyset(&pending);
  sigpending(&pending);
  const bool wasPending = sigismember(&pending, SIGPIPE) == 1;
  pthread_sigmask(SIG_BLOCK, &pipeSet, &oldSet);

  const auto *p = static_cast<const char *>(bytes);
  size_t done = 0;
  bool broken = false;
  while (done < count) {
    ssize_t w = ::write(owner, p + done, count - done);
    if (w < 0) {
      if (errno == EINTR) continue;
      broken = errno == EPIPE;
      break;
    }
    if (w == 0) break;
    done += static_cast<size_t>(w);
  }

  if (broken && !wasPending) {
    struct timespec zero = {0, 0};
    sigtimedwait(&pipeSet, nullptr, &zero);
  }
  pthread_sigmask(SIG_SETMASK, &oldSet, nullptr);
  return done == count;
}

}  // namespace kav::os
