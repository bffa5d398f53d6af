// The decoder on hand-built frames: dequantisation, scaling and rounding,
// the first-frame rule and the cross-fade, and damaged input.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "sound/transform_codec.h"
#include "tests/sound/transform_test_support.h"

using namespace kav::sound;

namespace {

const double kPi = 3.14159265358979323846;

// N = 512 (11025 Hz mono, 20 bands). Sum term a0, bin 10 (band 2, index 15)
// holding 3 and -2, everything else zero.
std::vector<uint8_t> handBuiltFrame(float a0, kavtest::Bits *out = nullptr) {
  kavtest::Bits b;
  b.put(transformPackFloat(a0), 29);
  b.put(0, 29);
  for (uint32_t j = 0; j < 20; ++j) b.put(j == 2 ? 15 : 0, 8);
  b.put(1 | (0 << 1), 5);  // long run of 2 groups: coefficients 2..17
  b.put(0, 4);
  b.put(0, 1);  // single group 18..25
  b.put(2, 4);
  const int values[8] = {0, 0, 3, -2, 0, 0, 0, 0};
  for (int v : values) {
    b.put(static_cast<uint32_t>(std::abs(v)), 2);
    if (v != 0) b.put(v < 0 ? 1 : 0, 1);
  }
  b.put(1 | (15 << 1), 5);  // 512 coefficients from 26, cut at N
  b.put(0, 4);
  if (out) *out = b;
  return b.words();
}

int16_t expectedSample(double a0, uint32_t t) {
  const double q = std::pow(10.0, 15 * 0.0664);
  const double angle = 2.0 * kPi * 10.0 * t / 512.0;
  const double x = a0 / 2.0 + q * (3.0 * std::cos(angle) - 2.0 * std::sin(angle));
  return static_cast<int16_t>(std::nearbyint(x * 2.0 / std::sqrt(512.0)));
}

TEST(TransformDecoder, HandBuiltFrameDecodes) {
  TransformDecoder *d = transformDecoderCreate(11025, 1, kTransformDecoderSmall);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->extra, nullptr);
  kavtest::Bits bits;
  std::vector<uint8_t> frame = handBuiltFrame(10000.0f, &bits);
  EXPECT_EQ(bits.bitCount(), 259u);
  ASSERT_EQ(frame.size(), 36u);
  frame.resize(64, 0xA5);  // the next frame's bytes must not be read
  const TransformDecodedFrame f = transformDecodeFrame(d, frame.data(), frame.size());
  EXPECT_FALSE(f.truncated);
  EXPECT_EQ(f.frameBytes, 36u);
  EXPECT_EQ(f.next, frame.data() + 36);
  ASSERT_EQ(f.sampleBytes, (512u - 32) * 2);
  int off = 0;
  for (uint32_t t = 0; t < 480; ++t) {
    const int diff = std::abs(f.samples[t] - expectedSample(10000.0, t));
    EXPECT_LE(diff, 1) << t;
    off += diff;
  }
  EXPECT_LE(off, 3);  // only values on a rounding boundary may differ
  // The tail kept for the next frame is the last L samples.
  for (uint32_t t = 480; t < 512; ++t) EXPECT_LE(std::abs(d->tail[t - 480] - expectedSample(10000.0, t)), 1);
  transformFree(d);
}

TEST(TransformDecoder, FirstFrameIsNotFadedAndLaterFramesCrossFade) {
  TransformDecoder *d = transformDecoderCreate(11025, 1, 0);
  ASSERT_NE(d, nullptr);
  EXPECT_NE(d->extra, nullptr);  // the larger state has its spare area
  auto dcFrame = [](float a0) {
    kavtest::Bits b;
    b.put(transformPackFloat(a0), 29);
    b.put(0, 29);
    for (int j = 0; j < 20; ++j) b.put(0, 8);
    b.put(1 | (15 << 1), 9);  // one run of width 0 covers everything
    return b.words();
  };
  // a0 / 2 x 2 / sqrt(512) = a0 / 22.63: 22627.4 gives 1000, -45254.8 gives -2000.
  const std::vector<uint8_t> one = dcFrame(22627.417f), two = dcFrame(-45254.834f);
  TransformDecodedFrame f = transformDecodeFrame(d, one.data(), one.size());
  for (uint32_t i = 0; i < 480; ++i) ASSERT_EQ(f.samples[i], 1000) << i;
  f = transformDecodeFrame(d, two.data(), two.size());
  for (int32_t i = 0; i < 32; ++i) {
    const int32_t want = (1000 * (32 - i) + -2000 * i) >> 5;  // floor
    EXPECT_EQ(f.samples[i], want) << i;
  }
  for (uint32_t i = 32; i < 480; ++i) ASSERT_EQ(f.samples[i], -2000) << i;
  transformFree(d);
}

TEST(TransformDecoder, ReadsOnlyWithinTheGivenLength) {
  std::vector<uint8_t> frame = handBuiltFrame(10000.0f);
  // The frame holds 259 bits: 33 bytes carry all of them.
  for (size_t cut : {0u, 1u, 7u, 8u, 27u, 30u, 32u, 33u, 35u}) {
    TransformDecoder *d = transformDecoderCreate(11025, 1, 1);
    ASSERT_NE(d, nullptr);
    // An exactly sized heap copy, so a read past it is caught by the sanitizer.
    std::vector<uint8_t> part(frame.begin(), frame.begin() + cut);
    const TransformDecodedFrame f = transformDecodeFrame(d, part.empty() ? nullptr : part.data(), part.size());
    EXPECT_EQ(f.truncated, cut < 33) << cut;
    EXPECT_EQ(f.frameBytes, std::min<size_t>(cut, 36)) << cut;
    EXPECT_EQ(f.sampleBytes, 960u);
    if (cut == 0) {
      for (uint32_t i = 0; i < 480; ++i) ASSERT_EQ(f.samples[i], 0);
    }
    transformFree(d);
  }
}

TEST(TransformDecoder, LargestIndicesAndWidthsStayFinite) {
  for (uint32_t rate : {11025u, 44100u}) {
    TransformGeometry g;
    ASSERT_TRUE(transformGeometryFor(rate, 2, g));
    kavtest::Bits b;
    b.put(0x1FFFFFFF, 29);  // e = 31, largest mantissa, negative
    b.put(0x0FFFFFFF, 29);
    for (uint32_t j = 0; j < g.bandCount; ++j) b.put(255, 8);
    for (uint32_t i = 2; i < g.frameLength; i += 512) {
      b.put(1 | (15 << 1), 5);
      b.put(15, 4);
      for (uint32_t k = i; k < std::min(g.frameLength, i + 512); ++k) b.put(0x7FFF | ((k & 1) << 15), 16);
    }
    const std::vector<uint8_t> frame = b.words();
    TransformDecoder *d = transformDecoderCreate(rate, 2, 1);
    ASSERT_NE(d, nullptr);
    for (int rep = 0; rep < 2; ++rep) {
      const TransformDecodedFrame f = transformDecodeFrame(d, frame.data(), frame.size());
      EXPECT_FALSE(f.truncated);
      EXPECT_EQ(f.frameBytes, frame.size());
      bool clipped = false;
      for (uint32_t i = 0; i < f.sampleBytes / 2; ++i) clipped = clipped || f.samples[i] == 32767 || f.samples[i] == -32768;
      EXPECT_TRUE(clipped);
    }
    transformFree(d);
  }
}

// Damaged streams: flipped bits and cuts anywhere. Every frame stays within
// the bytes it is given and the walk over the stream ends.
TEST(TransformDecoder, MutatedStreamsDecodeWithinBounds) {
  const uint32_t rate = 22050, ch = 2;
  const auto pcm = kavtest::makeSignal(kavtest::Signal::Music, rate, ch, 6000, 9000.0);
  const kavtest::StreamResult s = kavtest::encodeStream(pcm, rate, ch, 4);
  ASSERT_FALSE(s.bytes.empty());
  std::mt19937 rng(11);
  for (int trial = 0; trial < 150; ++trial) {
    std::vector<uint8_t> bytes = s.bytes;
    const int flips = 1 + static_cast<int>(rng() % 16);
    for (int k = 0; k < flips; ++k) bytes[rng() % bytes.size()] ^= static_cast<uint8_t>(1u << (rng() % 8));
    if (trial % 3 == 0) bytes.resize(rng() % bytes.size());
    TransformDecoder *d = transformDecoderCreate(rate, ch, 1);
    ASSERT_NE(d, nullptr);
    size_t pos = 0;
    int frames = 0;
    while (pos < bytes.size()) {
      std::vector<uint8_t> rest(bytes.begin() + static_cast<std::ptrdiff_t>(pos), bytes.end());
      const TransformDecodedFrame f = transformDecodeFrame(d, rest.data(), rest.size());
      ASSERT_GT(f.frameBytes, 0u);
      ASSERT_LE(f.frameBytes, rest.size());
      ASSERT_EQ(f.next, rest.data() + f.frameBytes);
      pos += f.frameBytes;
      ASSERT_LT(++frames, 10000);
      if (f.truncated) break;
    }
    transformFree(d);
  }
}

}  // namespace
