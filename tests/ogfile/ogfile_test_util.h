// Helpers for the graphics output tests: a status callback that keeps what
// it was told, synthetic frames and palettes, and a limit on file sizes that
// makes the operating system refuse writes past a point (a full disk, as
// the file layer sees it).
#pragma once

#include "support/file_size_limit.h"

#include <csignal>
#include <cstdint>
#include <string>
#include <sys/resource.h>
#include <utility>
#include <vector>

#include "kavutil/ogfile.h"

namespace ogtest {

struct Message {
  std::string text;  // "(null)" for a null text
  int32_t code;
};

inline std::vector<Message> &messages() {
  static std::vector<Message> m;
  return m;
}

inline uint32_t KAVAPI recordCallback(const char *text, int32_t code) {
  messages().push_back({text ? text : "(null)", code});
  return 0;
}

// Frames of w x h pixels in rows of `pitch`, different for every n.
inline std::vector<uint32_t> trueColourFrame(uint32_t w, uint32_t h, uint32_t pitch, uint32_t n) {
  std::vector<uint32_t> f(size_t{pitch} * h, 0xDEADBEEFu);  // padding that must not show
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x)
      f[y * pitch + x] = ((x * 37 + n * 11) & 0xFF) << 16 | ((y * 53 + n * 7) & 0xFF) << 8 | ((x * y + n) & 0xFF);
  return f;
}

inline std::vector<uint8_t> pagedFrame(uint32_t w, uint32_t h, uint32_t pitch, uint32_t n) {
  std::vector<uint8_t> f(size_t{pitch} * h, 0xEE);
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x) f[y * pitch + x] = static_cast<uint8_t>((x + 3 * y + 5 * n) % 200);
  return f;
}

// A palette whose entries are all different; `shift` makes a variant.
inline std::vector<uint8_t> palette(uint32_t shift) {
  std::vector<uint8_t> p(768);
  for (int i = 0; i < 256; ++i) {
    p[3 * i + 0] = static_cast<uint8_t>(i + shift);
    p[3 * i + 1] = static_cast<uint8_t>(255 - i);
    p[3 * i + 2] = static_cast<uint8_t>(i * 7 + shift * 3);
  }
  return p;
}


using kavtest::FileSizeLimit;

}  // namespace ogtest
