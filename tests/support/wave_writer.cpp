#include "support/wave_writer.h"

#include <random>

namespace kavtest::wave {
namespace {

void le16(Bytes &b, uint32_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}
void le32(Bytes &b, uint32_t v) {
  le16(b, v & 0xFFFF);
  le16(b, v >> 16);
}
void tag(Bytes &b, const std::string &t) {
  for (size_t i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(i < t.size() ? t[i] : ' '));
}

}  // namespace

Bytes fmtBody(uint32_t rate, uint32_t bits, uint32_t channels, uint16_t formatTag) {
  Bytes b;
  le16(b, formatTag);
  le16(b, channels);
  le32(b, rate);
  le32(b, rate * channels * bits / 8);
  le16(b, channels * bits / 8);
  le16(b, bits);
  return b;
}

Bytes extensibleBody(uint32_t rate, uint32_t bits, uint32_t channels, uint16_t subFormat) {
  Bytes b = fmtBody(rate, bits, channels, 0xFFFE);
  le16(b, 22);
  le16(b, bits);
  le32(b, channels == 2 ? 3 : 4);
  le16(b, subFormat);
  const uint8_t tail[14] = {0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71};
  b.insert(b.end(), tail, tail + 14);
  return b;
}

Bytes riff(const std::vector<Chunk> &chunks) {
  Bytes body;
  tag(body, "WAVE");
  for (const Chunk &c : chunks) {
    tag(body, c.tag);
    le32(body, c.sizeOverride >= 0 ? static_cast<uint32_t>(c.sizeOverride) : static_cast<uint32_t>(c.body.size()));
    body.insert(body.end(), c.body.begin(), c.body.end());
    if (c.pad && (c.body.size() & 1)) body.push_back(0);
  }
  Bytes out;
  tag(out, "RIFF");
  le32(out, static_cast<uint32_t>(body.size()));
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

Bytes simple(uint32_t rate, uint32_t bits, uint32_t channels, const Bytes &pcm) {
  return riff({{"fmt ", fmtBody(rate, bits, channels)}, {"data", pcm}});
}

Bytes pcm8(uint32_t frames, uint32_t channels, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes b(size_t{frames} * channels);
  int v[2] = {128, 100};
  for (size_t i = 0; i < b.size(); ++i) {
    int &x = v[i % channels];
    x = std::min(255, std::max(0, x + static_cast<int>(rng() % 11) - 5));
    b[i] = static_cast<uint8_t>(x);
  }
  return b;
}

Bytes pcm16(uint32_t frames, uint32_t channels, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes b;
  int v[2] = {0, -3000};
  for (size_t i = 0; i < size_t{frames} * channels; ++i) {
    int &x = v[i % channels];
    x = std::min(32767, std::max(-32768, x + static_cast<int>(rng() % 801) - 400));
    le16(b, static_cast<uint32_t>(x) & 0xFFFF);
  }
  return b;
}

}  // namespace kavtest::wave
