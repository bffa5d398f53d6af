#include "platform/avi/avi_io.h"

#include <algorithm>
#include <cstring>

#include "platform/os_file.h"

namespace kav::avi {

namespace {
constexpr size_t kReadBufferBytes = 64 * 1024;
}  // namespace

InFile::~InFile() { os::close(file_); }

bool InFile::open(const char *name) {
  file_ = os::openExistingAnySize(name);
  if (file_ == KAV_INVALID_OS_FILE) return false;
  const int64_t s = os::size(file_);
  size_ = s < 0 ? 0 : static_cast<uint64_t>(s);
  return true;
}

uint32_t InFile::readAt(uint64_t pos, void *dest, uint32_t count) {
  if (pos >= size_ || count == 0) return 0;
  count = static_cast<uint32_t>(std::min<uint64_t>(count, size_ - pos));
  auto *d = static_cast<uint8_t *>(dest);
  if (pos >= bufferPos_ && pos - bufferPos_ < bufferFill_ && bufferFill_ - (pos - bufferPos_) >= count) {
    std::memcpy(d, buffer_.data() + (pos - bufferPos_), count);
    return count;
  }
  if (count >= kReadBufferBytes / 2) {  // a frame: straight into the caller's memory
    if (!os::seek(file_, pos)) return 0;
    return static_cast<uint32_t>(os::read(file_, d, count));
  }
  buffer_.resize(kReadBufferBytes);
  bufferFill_ = 0;
  bufferPos_ = pos;
  if (!os::seek(file_, pos)) return 0;
  bufferFill_ = os::read(file_, buffer_.data(), buffer_.size());
  const uint32_t got = static_cast<uint32_t>(std::min<size_t>(count, bufferFill_));
  std::memcpy(d, buffer_.data(), got);
  return got;
}

OutFile::~OutFile() { close(); }

bool OutFile::create(const char *name, uint32_t bufferBytes) {
  file_ = os::createAlways(name, os::Share::None);
  if (file_ == KAV_INVALID_OS_FILE) return false;
  buffer_.resize(bufferBytes);
  return true;
}

void OutFile::setPosition(uint64_t position) {
  if (position == this->position()) return;
  flush();
  if (!os::seek(file_, position)) writeError_ = true;
  osPos_ = position;
}

uint32_t OutFile::put(const void *data, uint32_t count) {
  if (file_ == KAV_INVALID_OS_FILE) return 0;
  if (fill_ + count <= buffer_.size()) {
    std::memcpy(buffer_.data() + fill_, data, count);
    fill_ += count;
    return count;
  }
  flush();
  if (count < buffer_.size()) return put(data, count);
  const size_t written = os::write(file_, data, count);
  osPos_ += written;
  if (written < count) writeError_ = true;
  return static_cast<uint32_t>(written);
}

void OutFile::flush() {
  if (!fill_) return;
  const size_t written = os::write(file_, buffer_.data(), fill_);
  osPos_ += written;
  if (written < fill_) writeError_ = true;
  fill_ = 0;
}

uint64_t OutFile::sizeOnDisk() {
  flush();
  const int64_t s = file_ == KAV_INVALID_OS_FILE ? -1 : os::size(file_);
  return s < 0 ? 0 : static_cast<uint64_t>(s);
}

void OutFile::close() {
  if (file_ == KAV_INVALID_OS_FILE) return;
  flush();
  os::close(file_);
  file_ = KAV_INVALID_OS_FILE;
}

}  // namespace kav::avi
