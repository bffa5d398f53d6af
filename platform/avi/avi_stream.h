// A reader stream: one stream of a parsed file, sharing the file with any
// other stream opened from it.
#pragma once

#include <memory>

#include "platform/avi/avi_container.h"

namespace kav::avi {

struct Stream {
  Stream(std::shared_ptr<Container> c, size_t n) : file(std::move(c)), number(n) {}
  StreamData &data() const { return file->streams[number]; }
  Container &container() const { return *file; }
  // PCM (and any stream with a fixed sample size) counts blocks; other
  // streams count chunks.
  bool blockAudio() const;
  uint32_t length() const;

  std::shared_ptr<Container> file;
  size_t number;
};

}  // namespace kav::avi
