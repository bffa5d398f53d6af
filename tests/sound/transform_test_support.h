// Helpers for the transform coder tests: an independent bit writer and
// frame parser, test signals and whole-stream encode and decode.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "sound/transform_codec.h"

namespace kavtest {

namespace sound = kav::sound;

// LSB-first bits into little-endian 32-bit words, written one bit at a time.
class Bits {
 public:
  void put(uint32_t value, uint32_t count) {
    for (uint32_t b = 0; b < count; ++b) {
      if (bitCount_ % 8 == 0) bytes_.push_back(0);
      if ((value >> b) & 1) bytes_.back() |= static_cast<uint8_t>(1u << (bitCount_ % 8));
      ++bitCount_;
    }
  }
  std::vector<uint8_t> words() const {
    std::vector<uint8_t> out = bytes_;
    while (out.size() % 4) out.push_back(0);
    return out;
  }
  uint64_t bitCount() const { return bitCount_; }

 private:
  std::vector<uint8_t> bytes_;
  uint64_t bitCount_ = 0;
};

struct ParsedRun {
  uint32_t start, end;  // coefficient indices, end exclusive
  bool longRun;
  uint32_t tableIndex;
  uint32_t width;
};

struct ParsedFrame {
  uint32_t a0Bits = 0, a1Bits = 0;
  std::vector<uint32_t> indices;
  std::vector<int32_t> values;  // N entries, a[0] and a[1] left 0
  std::vector<ParsedRun> runs;
  uint64_t bits = 0;
  bool ok = false;
};

// Reads a frame one bit at a time, straight from the layout description.
inline ParsedFrame parseFrame(const uint8_t *data, size_t size, uint32_t length, uint32_t bands) {
  ParsedFrame f;
  uint64_t pos = 0;
  bool past = false;
  auto get = [&](uint32_t count) {
    uint32_t v = 0;
    for (uint32_t b = 0; b < count; ++b, ++pos) {
      if (pos / 8 >= size) {
        past = true;
        continue;
      }
      v |= static_cast<uint32_t>((data[pos / 8] >> (pos % 8)) & 1) << b;
    }
    return v;
  };
  f.a0Bits = get(29);
  f.a1Bits = get(29);
  for (uint32_t j = 0; j < bands; ++j) f.indices.push_back(get(8));
  f.values.assign(length, 0);
  uint32_t i = 2;
  while (i < length && !past) {
    ParsedRun r{};
    r.start = i;
    r.longRun = get(1) != 0;
    uint32_t count = 8;
    if (r.longRun) {
      r.tableIndex = get(4);
      count = 8 * sound::kTransformRunTable[r.tableIndex];
    }
    r.width = get(4);
    r.end = std::min(length, i + count);
    for (; i < r.end; ++i) {
      if (r.width == 0) continue;
      int32_t m = static_cast<int32_t>(get(r.width));
      if (m != 0 && get(1)) m = -m;
      f.values[i] = m;
    }
    f.runs.push_back(r);
  }
  f.bits = pos;
  f.ok = !past;
  return f;
}

enum class Signal { Sweep, Noise, Music, Silence };

// Interleaved 16-bit samples, `frames` sample frames of `channels` each.
inline std::vector<int16_t> makeSignal(Signal kind, uint32_t rate, uint32_t channels, uint32_t frames, double amplitude,
                                       uint32_t seed = 1) {
  std::vector<int16_t> out(static_cast<size_t>(frames) * channels);
  std::mt19937 rng(seed);
  std::normal_distribution<double> gauss(0.0, amplitude / 3.0);
  const double pi = 3.14159265358979323846;
  double phase = 0.0;
  for (uint32_t t = 0; t < frames; ++t) {
    const double time = static_cast<double>(t) / rate;
    for (uint32_t c = 0; c < channels; ++c) {
      double v = 0.0;
      switch (kind) {
        case Signal::Sweep: {
          if (c == 0) {
            const double f = 100.0 + (rate * 0.4 - 100.0) * t / frames;
            phase += 2.0 * pi * f / rate;
          }
          v = amplitude * std::sin(phase + c * 0.5);
          break;
        }
        case Signal::Noise:
          v = std::clamp(gauss(rng), -amplitude, amplitude);
          break;
        case Signal::Music: {
          // A chord with harmonics, a slow tremolo and a little noise.
          const double notes[3] = {220.0, 277.18, 329.63};
          for (double f : notes)
            for (int h = 1; h <= 4; ++h)
              v += std::sin(2.0 * pi * f * h * time + c * h) / (h * 4.0);
          v *= amplitude * (0.75 + 0.25 * std::sin(2.0 * pi * 3.0 * time));
          v += gauss(rng) * 0.02;
          break;
        }
        case Signal::Silence:
          break;
      }
      out[static_cast<size_t>(t) * channels + c] = static_cast<int16_t>(std::lround(std::clamp(v, -32768.0, 32767.0)));
    }
  }
  return out;
}

struct StreamResult {
  std::vector<uint8_t> bytes;
  std::vector<uint32_t> frameSizes;
  std::vector<uint32_t> accounted;
  uint64_t supplied = 0;
};

// Feeds the encoder as the compressed sound writer does: each frame gets
// what its input area asks for, until the samples run out.
inline StreamResult encodeStream(const std::vector<int16_t> &pcm, uint32_t rate, uint32_t channels, uint32_t level) {
  StreamResult r;
  sound::TransformEncoder *e = sound::transformEncoderCreate(rate, channels);
  if (!e) return r;
  size_t pos = 0;
  do {
    const sound::TransformInputArea area = sound::transformInputArea(e);
    const size_t wanted = area.bytesWanted / 2;
    const size_t take = std::min(wanted, pcm.size() - pos);
    std::copy(pcm.begin() + pos, pcm.begin() + pos + take, area.samples);
    pos += take;
    r.supplied += take * 2;
    const sound::TransformEncodedFrame f = sound::transformEncodeFrame(e, level, static_cast<uint32_t>(take * 2));
    r.bytes.insert(r.bytes.end(), f.bytes, f.bytes + f.byteCount);
    r.frameSizes.push_back(f.byteCount);
    r.accounted.push_back(f.inputBytes);
  } while (pos < pcm.size());
  sound::transformFree(e);
  return r;
}

inline std::vector<int16_t> decodeStream(const std::vector<uint8_t> &bytes, uint32_t rate, uint32_t channels,
                                         size_t *frames = nullptr) {
  std::vector<int16_t> out;
  sound::TransformDecoder *d = sound::transformDecoderCreate(rate, channels, sound::kTransformDecoderSmall);
  if (!d) return out;
  const uint8_t *p = bytes.data();
  const uint8_t *end = p + bytes.size();
  size_t count = 0;
  while (p < end) {
    const sound::TransformDecodedFrame f = sound::transformDecodeFrame(d, p, static_cast<size_t>(end - p));
    out.insert(out.end(), f.samples, f.samples + f.sampleBytes / 2);
    ++count;
    if (f.frameBytes == 0 || f.truncated) break;
    p = f.next;
  }
  sound::transformFree(d);
  if (frames) *frames = count;
  return out;
}

// Signal to noise ratio in dB of `got` against `want` over the first
// `count` samples both have.
inline double snrDb(const std::vector<int16_t> &want, const std::vector<int16_t> &got, size_t count) {
  count = std::min({count, want.size(), got.size()});
  double s = 0.0, n = 0.0;
  for (size_t i = 0; i < count; ++i) {
    s += static_cast<double>(want[i]) * want[i];
    const double d = static_cast<double>(want[i]) - got[i];
    n += d * d;
  }
  if (n == 0.0) return 200.0;
  return 10.0 * std::log10(s / n);
}

}  // namespace kavtest
