// Sources for the graphics input tests, made by our own writers.
#pragma once

#include <kavutil/flic.h>
#include <kavutil/gfile.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace gtest_gfile {

inline void le32(std::vector<uint8_t> &b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// Frame n of a w x h 8-bit picture: distinct per pixel and per frame.
inline std::vector<uint8_t> picture8(uint32_t w, uint32_t h, uint32_t n) {
  std::vector<uint8_t> p(size_t{w} * h);
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x) p[size_t{y} * w + x] = static_cast<uint8_t>((x * 7 + y * 13 + n * 31) & 0xFF);
  return p;
}

inline std::vector<uint8_t> greyRamp() {
  std::vector<uint8_t> pal(768);
  for (int i = 0; i < 256; ++i) pal[i * 3] = pal[i * 3 + 1] = pal[i * 3 + 2] = static_cast<uint8_t>(i);
  return pal;
}

inline std::vector<uint8_t> colourfulPalette() {
  std::vector<uint8_t> pal(768);
  for (int i = 0; i < 256; ++i) {
    pal[i * 3] = static_cast<uint8_t>(i);
    pal[i * 3 + 1] = static_cast<uint8_t>(255 - i);
    pal[i * 3 + 2] = static_cast<uint8_t>((i * 5) & 0xFF);
  }
  return pal;
}

// A Flic of `frames` pictures from picture8.
inline std::string writeFlic(kavtest::TempDir &dir, const char *name, uint32_t w, uint32_t h, uint32_t frames,
                             const std::vector<uint8_t> &pal = colourfulPalette()) {
  const std::string file = dir.file(name);
  KAVOFlic *o = KAVOFlicCreate(file.c_str(), w, h, -10000);  // 10 frames per second
  for (uint32_t n = 0; n < frames; ++n) KAVOFlicPutNext(o, picture8(w, h, n).data(), n == 0 ? pal.data() : nullptr);
  KAVOFlicClose(o);
  return file;
}

// A raw "RAWB" file; frames given as w x h bytes; palette written first.
inline std::string writeRaw(kavtest::TempDir &dir, const char *name, uint32_t w, uint32_t h,
                            const std::vector<std::vector<uint8_t>> &frames, const std::vector<uint8_t> &pal,
                            int32_t period = 10000) {
  std::vector<uint8_t> b = {'R', 'A', 'W', 'B'};
  le32(b, static_cast<uint32_t>(frames.size()));
  le32(b, w);
  le32(b, h);
  le32(b, static_cast<uint32_t>(period));
  for (size_t i = 0; i < frames.size(); ++i) {
    if (i == 0) {
      le32(b, 0);
      b.insert(b.end(), pal.begin(), pal.end());
    }
    le32(b, 1);
    b.insert(b.end(), frames[i].begin(), frames[i].end());
  }
  const std::string file = dir.file(name);
  kavtest::writeFile(file, b);
  return file;
}

inline std::string writeWave(kavtest::TempDir &dir, const char *name, uint32_t rate, uint32_t channels,
                             uint32_t bits, uint32_t dataBytes) {
  std::vector<uint8_t> b = {'R', 'I', 'F', 'F'};
  le32(b, 36 + dataBytes);
  for (char c : std::string("WAVEfmt ")) b.push_back(static_cast<uint8_t>(c));
  le32(b, 16);
  b.push_back(1), b.push_back(0);
  b.push_back(static_cast<uint8_t>(channels)), b.push_back(0);
  le32(b, rate);
  le32(b, rate * channels * bits / 8);
  b.push_back(static_cast<uint8_t>(channels * bits / 8)), b.push_back(0);
  b.push_back(static_cast<uint8_t>(bits)), b.push_back(0);
  for (char c : std::string("data")) b.push_back(static_cast<uint8_t>(c));
  le32(b, dataBytes);
  b.resize(b.size() + dataBytes, 0x80);
  const std::string file = dir.file(name);
  kavtest::writeFile(file, b);
  return file;
}

inline GFile *open(const std::string &name, uint32_t flags = 0, uint32_t inN = 0, uint32_t inD = 0,
                   uint32_t outN = 0, uint32_t outD = 0, int32_t w = 0, int32_t h = 0, uint32_t first = 0,
                   uint32_t last = 0, KAVStatusCallback cb = nullptr) {
  return GFileOpen(name.c_str(), flags, inN, inD, outN, outD, w, h, 0, 0, 0, 0, first, last, 0, 0, 256, 0, 0, 2,
                   nullptr, nullptr, cb);
}

inline uint32_t pixel32(const GFile *g, uint32_t x, uint32_t y) {
  uint32_t v;
  std::memcpy(&v, g->canvas + size_t{y} * g->canvasPitch + x * 4, 4);
  return v;
}

inline uint32_t rgbOf(const std::vector<uint8_t> &pal, uint8_t i) {
  return static_cast<uint32_t>(pal[i * 3]) << 16 | pal[i * 3 + 1] << 8 | pal[i * 3 + 2];
}

// Messages the status callback received.
struct Messages {
  std::vector<std::pair<std::string, int32_t>> list;
  bool contains(const std::string &text, int32_t code) const {
    for (const auto &m : list)
      if (m.first == text && m.second == code) return true;
    return false;
  }
};
Messages &messages();
uint32_t KAVAPI record(const char *text, int32_t code);

}  // namespace gtest_gfile

namespace gtest_gfile {
inline void writeText(const std::string &name, const std::string &text) {
  kavtest::writeFile(name, std::vector<uint8_t>(text.begin(), text.end()));
}
}  // namespace gtest_gfile
