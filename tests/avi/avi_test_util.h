// Writing test movies with our writer and reading them back.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/avi/avi_file.h"

namespace avitest {

namespace avi = kav::avi;

// What follows a DIB header (colour table, then bits).
inline const uint8_t *afterHeader(const avi::BitmapInfoHeader *b) {
  return reinterpret_cast<const uint8_t *>(reinterpret_cast<uintptr_t>(b) + sizeof *b);
}

// Frame n of a w x h picture at `bits`: DIB bits, bottom-up, padded rows.
inline std::vector<uint8_t> pattern(uint32_t w, uint32_t h, uint32_t bits, uint32_t n) {
  const uint32_t row = avi::dibRowBytes(w, bits);
  std::vector<uint8_t> b(size_t{row} * h, 0);
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w * bits / 8; ++x) b[size_t{y} * row + x] = static_cast<uint8_t>(x * 7 + y * 13 + n * 31);
  return b;
}

inline std::vector<uint8_t> paletteFor(uint32_t n) {
  std::vector<uint8_t> t(256 * 4);
  for (uint32_t i = 0; i < 256; ++i) {
    t[i * 4] = static_cast<uint8_t>(i + n);
    t[i * 4 + 1] = static_cast<uint8_t>(255 - i);
    t[i * 4 + 2] = static_cast<uint8_t>(i * 3 + n);
    t[i * 4 + 3] = 0;
  }
  return t;
}

inline std::vector<uint8_t> dibFormat(uint32_t w, uint32_t h, uint16_t bits, const std::vector<uint8_t> &table) {
  avi::BitmapInfoHeader b{};
  b.biSize = 40;
  b.biWidth = static_cast<int32_t>(w);
  b.biHeight = static_cast<int32_t>(h);
  b.biPlanes = 1;
  b.biBitCount = bits;
  b.biSizeImage = avi::dibRowBytes(w, bits) * h;
  b.biClrUsed = bits == 8 ? 256 : 0;
  std::vector<uint8_t> f(sizeof b + (bits == 8 ? table.size() : 0));
  std::memcpy(f.data(), &b, sizeof b);
  if (bits == 8 && !table.empty()) std::memcpy(f.data() + sizeof b, table.data(), table.size());
  return f;
}

inline avi::StreamInfo videoInfo(uint32_t w, uint32_t h, uint32_t rate, uint32_t scale) {
  avi::StreamInfo i{};
  i.fccType = avi::kStreamVideo;
  i.fccHandler = avi::kHandlerDib;
  i.dwScale = scale;
  i.dwRate = rate;
  i.dwQuality = -1;
  i.rcFrame = {0, 0, static_cast<int32_t>(w), static_cast<int32_t>(h)};
  return i;
}

inline avi::WaveFormat pcmFormat(uint32_t rate, uint16_t bits, uint16_t channels) {
  avi::WaveFormat f{};
  f.wFormatTag = 1;
  f.nChannels = channels;
  f.nSamplesPerSec = rate;
  f.nBlockAlign = static_cast<uint16_t>(bits * channels / 8);
  f.nAvgBytesPerSec = rate * f.nBlockAlign;
  f.wBitsPerSample = bits;
  return f;
}

inline avi::StreamInfo audioInfo(const avi::WaveFormat &f) {
  avi::StreamInfo i{};
  i.fccType = avi::kStreamAudio;
  i.dwScale = f.nBlockAlign;
  i.dwRate = f.nAvgBytesPerSec;
  i.dwSampleSize = f.nBlockAlign;
  i.dwQuality = -1;
  return i;
}

inline std::vector<uint8_t> sound(size_t bytes, uint32_t seed) {
  std::vector<uint8_t> s(bytes);
  for (size_t i = 0; i < bytes; ++i) s[i] = static_cast<uint8_t>(i * 11 + seed + (i >> 8));
  return s;
}

// All the sound of a stream, read in pieces of `samplesPerRead`.
inline std::vector<uint8_t> readAllSound(avi::Stream *s, int32_t samplesPerRead) {
  std::vector<uint8_t> out;
  std::vector<uint8_t> buf(1 << 16);
  int32_t pos = avi::streamStart(s);
  const int32_t end = pos + avi::streamLength(s);
  while (pos < end) {
    int32_t bytes = 0, samples = 0;
    if (avi::streamRead(s, pos, samplesPerRead, buf.data(), static_cast<int32_t>(buf.size()), &bytes, &samples) != 0 ||
        samples == 0)
      break;
    out.insert(out.end(), buf.begin(), buf.begin() + bytes);
    pos += samples;
  }
  return out;
}

}  // namespace avitest
