#include "platform/os_file.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kav::os {
namespace {

constexpr int64_t kWindowsEpochOffsetSeconds = 11644473600LL;
constexpr uint64_t kMaxFileSize = 0xFFFFFFFFull;  // positions are 32-bit

// An open that a signal interrupted is tried again.
int openRetrying(const char *name, int flags, mode_t mode = 0) {
  int fd;
  do {
    fd = ::open(name, flags | O_CLOEXEC, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// A folder is never a file here; the 32-bit positions of the bit file also
// rule out files of 4 GiB or more, unless the caller keeps its own positions.
bool acceptable(int fd, bool anySize = false) {
  struct stat st;
  if (fstat(fd, &st) != 0) return false;
  if (S_ISDIR(st.st_mode)) return false;
  if (!anySize && S_ISREG(st.st_mode) && static_cast<uint64_t>(st.st_size) >= kMaxFileSize) return false;
  return true;
}

// Opens an existing file for reading in sequence, or gives the invalid value.
KavOsFile openForReading(const char *name, bool writable, bool anySize) {
  const int fd = openRetrying(name, writable ? O_RDWR : O_RDONLY);
  if (fd < 0) return KAV_INVALID_OS_FILE;
  if (!acceptable(fd, anySize)) {
    ::close(fd);
    return KAV_INVALID_OS_FILE;
  }
  posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  return fd;
}

}  // namespace

KavOsFile openExisting(const char *name, bool writable) { return openForReading(name, writable, false); }

KavOsFile openExistingAnySize(const char *name) { return openForReading(name, false, true); }

KavOsFile createAlways(const char *name, Share share) {
  const int fd = openRetrying(name, O_RDWR | O_CREAT, 0666);
  if (fd < 0) return KAV_INVALID_OS_FILE;
  struct stat st;
  if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    ::close(fd);
    return KAV_INVALID_OS_FILE;
  }
  if (share == Share::None && flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return KAV_INVALID_OS_FILE;
  }
  if (S_ISREG(st.st_mode) && ftruncate(fd, 0) != 0) {
    ::close(fd);
    return KAV_INVALID_OS_FILE;
  }
  posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  return fd;
}

void close(KavOsFile file) {
  if (file >= 0) ::close(file);
}

size_t read(KavOsFile file, void *dest, size_t count) {
  auto *p = static_cast<char *>(dest);
  size_t done = 0;
  while (done < count) {
    ssize_t r = ::read(file, p + done, count - done);
    if (r < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (r == 0) break;
    done += static_cast<size_t>(r);
  }
  return done;
}

size_t write(KavOsFile file, const void *source, size_t count) {
  const auto *p = static_cast<const char *>(source);
  size_t done = 0;
  while (done < count) {
    ssize_t w = ::write(file, p + done, count - done);
    if (w < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (w == 0) break;
    done += static_cast<size_t>(w);
  }
  return done;
}

bool seek(KavOsFile file, uint64_t position) {
  return lseek(file, static_cast<off_t>(position), SEEK_SET) == static_cast<off_t>(position);
}

bool currentPosition(KavOsFile file, uint64_t &position) {
  if (file < 0) return false;
  const off_t at = lseek(file, 0, SEEK_CUR);
  if (at < 0) return false;
  position = static_cast<uint64_t>(at);
  return true;
}

int64_t size(KavOsFile file) {
  struct stat st;
  if (fstat(file, &st) != 0) return -1;
  if (S_ISREG(st.st_mode)) return st.st_size;
  // Not a regular file: ask for the end offset and go back.
  off_t here = lseek(file, 0, SEEK_CUR);
  if (here < 0) return -1;
  off_t end = lseek(file, 0, SEEK_END);
  lseek(file, here, SEEK_SET);
  return end < 0 ? -1 : end;
}

bool sync(KavOsFile file) { return fsync(file) == 0; }

bool truncate(KavOsFile file, uint64_t size) {
  int r;
  do {
    r = ::ftruncate(file, static_cast<off_t>(size));
  } while (r != 0 && errno == EINTR);
  return r == 0;
}

bool lastWriteTime(KavOsFile file, uint64_t *fileTime) {
  struct stat st;
  if (fstat(file, &st) != 0) return false;
  int64_t seconds = static_cast<int64_t>(st.st_mtim.tv_sec) + kWindowsEpochOffsetSeconds;
  if (seconds < 0) {
    *fileTime = 0;
    return true;
  }
  *fileTime = static_cast<uint64_t>(seconds) * 10000000ull + static_cast<uint64_t>(st.st_mtim.tv_nsec) / 100;
  return true;
}

bool setTimes(KavOsFile file, uint64_t fileTime) {
  struct timespec ts[2];
  int64_t seconds = static_cast<int64_t>(fileTime / 10000000ull) - kWindowsEpochOffsetSeconds;
  ts[0].tv_sec = static_cast<time_t>(seconds);
  ts[0].tv_nsec = static_cast<long>(fileTime % 10000000ull) * 100;
  ts[1] = ts[0];
  return futimens(file, ts) == 0;
}

int erase(const char *name) {
  if (::unlink(name) == 0) return 0;
  return errno == ENOENT ? 1 : 2;
}

int rename(const char *existing, const char *newName) {
  if (::rename(existing, newName) == 0) return 0;
  return errno == ENOENT ? 1 : 2;
}

}  // namespace kav::os
