// The AVI layer's own file access, with 64-bit positions: OpenDML files grow
// far past the 4 GiB that the library's bit file reaches, so the reader and
// the writer do not go through it.
//
// A file may hold its movie from an origin on rather than from byte 0 (a
// movie stored inside another file; tests use an origin past 4 GiB in a
// sparse file). Positions are always absolute file positions, as the
// OpenDML indexes hold them.
#pragma once

#include <cstdint>
#include <vector>

#include "kavutil/kavdefs.h"

namespace kav::avi {

class InFile {
 public:
  InFile() = default;
  InFile(const InFile &) = delete;
  InFile &operator=(const InFile &) = delete;
  ~InFile();
  bool open(const char *name);
  uint64_t size() const { return size_; }
  // Reads up to count bytes at pos; the count read (short at the end).
  uint32_t readAt(uint64_t pos, void *dest, uint32_t count);

 private:
  KavOsFile file_ = KAV_INVALID_OS_FILE;
  uint64_t size_ = 0;
  std::vector<uint8_t> buffer_;
  uint64_t bufferPos_ = 0;  // file position of buffer_[0]
  size_t bufferFill_ = 0;
};

// Writes go through a buffer that is written out only when it is full or
// flushed, so after a flush the position tells exactly how far the data
// reached the file (a short write leaves it where the data ended).
class OutFile {
 public:
  OutFile() = default;
  OutFile(const OutFile &) = delete;
  OutFile &operator=(const OutFile &) = delete;
  ~OutFile();
  // Creates or empties the file; other processes may not create it meanwhile.
  bool create(const char *name, uint32_t bufferBytes);
  uint64_t position() const { return osPos_ + fill_; }
  void setPosition(uint64_t position);
  // The bytes taken: buffered, or written when the data passes the buffer.
  uint32_t put(const void *data, uint32_t count);
  void flush();
  bool writeError() const { return writeError_; }
  // Flushes, then the size of the file (which may pass the last position).
  uint64_t sizeOnDisk();
  void close();

 private:
  KavOsFile file_ = KAV_INVALID_OS_FILE;
  std::vector<uint8_t> buffer_;
  size_t fill_ = 0;
  uint64_t osPos_ = 0;
  bool writeError_ = false;
};

}  // namespace kav::avi
