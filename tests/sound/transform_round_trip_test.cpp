// Encode-then-decode round trips over rates, channel counts and signals:
// sample counts, timing alignment, joins without clicks, quality against
// level, determinism and input accounting.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <tuple>
#include <vector>

#include "sound/transform_codec.h"
#include "tests/sound/transform_test_support.h"

using namespace kav::sound;
using kavtest::Signal;

namespace {

struct Case {
  uint32_t rate, channels;
  Signal signal;
  double minSnrLevel0;
};

class TransformRoundTrip : public ::testing::TestWithParam<std::tuple<uint32_t, uint32_t, Signal>> {};

double minimumSnr(Signal s) {
  switch (s) {
    // The hearing model lets noise up to about 15 dB below a tonal band
    // and 5.5 dB below a noisy one, so these are modest.
    case Signal::Sweep: return 15.0;
    case Signal::Music: return 14.0;
    case Signal::Noise: return 7.0;
    default: return 0.0;
  }
}

TEST_P(TransformRoundTrip, LengthAlignmentAndQuality) {
  const auto [rate, ch, signal] = GetParam();
  TransformGeometry g;
  ASSERT_TRUE(transformGeometryFor(rate, ch, g));
  const uint32_t n = g.frameLength, l = g.overlap;
  // Whole frames: N for the first, N - L for each later one.
  const uint32_t frames = 6;
  const uint32_t samples = n + (frames - 1) * (n - l);
  const auto pcm = kavtest::makeSignal(signal, rate, ch, samples / ch, 12000.0, rate + ch);
  ASSERT_EQ(pcm.size(), samples);

  double previousSnr = 1e9;
  for (uint32_t level : {0u, 20u, 50u}) {
    const kavtest::StreamResult s = kavtest::encodeStream(pcm, rate, ch, level);
    ASSERT_EQ(s.frameSizes.size(), frames);
    size_t decodedFrames = 0;
    const std::vector<int16_t> out = kavtest::decodeStream(s.bytes, rate, ch, &decodedFrames);
    ASSERT_EQ(decodedFrames, frames);
    ASSERT_EQ(out.size(), static_cast<size_t>(frames) * (n - l));
    const double snr = kavtest::snrDb(pcm, out, out.size());
    if (level == 0) {
      EXPECT_GT(snr, minimumSnr(signal)) << rate << "/" << ch;
    }
    EXPECT_LE(snr, previousSnr + 0.5) << "level " << level;  // quality falls as the level rises
    previousSnr = snr;
  }
}

INSTANTIATE_TEST_SUITE_P(RatesAndSignals, TransformRoundTrip,
                         ::testing::Combine(::testing::Values(11025u, 22050u, 44100u), ::testing::Values(1u, 2u),
                                            ::testing::Values(Signal::Sweep, Signal::Noise, Signal::Music)));

TEST(TransformRoundTripDetail, FramesJoinWithoutClicksAndStayAligned) {
  const uint32_t rate = 22050, ch = 1;
  const uint32_t n = 1024, l = 64, frames = 8;
  const size_t count = n + (frames - 1) * (n - l);
  // A steady tone: the error where frames join is no larger than elsewhere.
  std::vector<int16_t> tone(count);
  const double pi = 3.14159265358979323846;
  for (size_t t = 0; t < count; ++t) tone[t] = static_cast<int16_t>(std::lround(10000.0 * std::sin(2.0 * pi * 440.0 * t / rate)));
  const std::vector<int16_t> out = kavtest::decodeStream(kavtest::encodeStream(tone, rate, ch, 0).bytes, rate, ch);
  ASSERT_EQ(out.size(), frames * (n - l));
  double joinError = 0.0, allError = 0.0;
  size_t joinCount = 0;
  for (size_t t = 0; t < out.size(); ++t) {
    const double e = static_cast<double>(out[t]) - tone[t];
    allError += e * e;
    if (t >= n - l && t % (n - l) < l) {
      joinError += e * e;
      ++joinCount;
    }
  }
  EXPECT_LT(joinError / joinCount, 2.0 * allError / out.size());

  // Noise has no correlation from one sample to the next, so the decoded
  // stream matches the input best at lag 0 and clearly worse one off.
  const auto noise = kavtest::makeSignal(Signal::Noise, rate, ch, static_cast<uint32_t>(count), 12000.0, 3);
  const std::vector<int16_t> back = kavtest::decodeStream(kavtest::encodeStream(noise, rate, ch, 0).bytes, rate, ch);
  auto correlation = [&](int lag) {
    double c = 0.0;
    for (size_t t = 8; t + 8 < back.size(); ++t) c += static_cast<double>(back[t]) * noise[t + lag];
    return c;
  };
  const double at0 = correlation(0);
  for (int lag : {-2, -1, 1, 2}) EXPECT_LT(std::fabs(correlation(lag)), 0.2 * at0) << lag;
}

TEST(TransformRoundTripDetail, SnrRisesAsTheLevelFalls) {
  const uint32_t rate = 44100, ch = 2;
  const auto pcm = kavtest::makeSignal(Signal::Music, rate, ch, 4096 * 4, 10000.0, 5);
  double last = -1e9;
  for (uint32_t level : {99u, 50u, 20u, 4u, 0u}) {
    const kavtest::StreamResult s = kavtest::encodeStream(pcm, rate, ch, level);
    const std::vector<int16_t> out = kavtest::decodeStream(s.bytes, rate, ch);
    const double snr = kavtest::snrDb(pcm, out, out.size());
    EXPECT_GE(snr, last - 0.5) << level;
    last = snr;
  }
  EXPECT_GT(last, 14.0);
}

TEST(TransformRoundTripDetail, EncodingTwiceGivesIdenticalBytes) {
  const auto pcm = kavtest::makeSignal(Signal::Music, 22050, 2, 5000, 12000.0, 9);
  const kavtest::StreamResult a = kavtest::encodeStream(pcm, 22050, 2, 4);
  const kavtest::StreamResult b = kavtest::encodeStream(pcm, 22050, 2, 4);
  EXPECT_EQ(a.bytes, b.bytes);
}

TEST(TransformEncoderAccounting, InputAreaAndShortLastFrame) {
  TransformEncoder *e = transformEncoderCreate(22050, 1);
  ASSERT_NE(e, nullptr);
  const uint32_t n = 1024, l = 64;
  TransformInputArea area = transformInputArea(e);
  EXPECT_EQ(area.samples, e->input);
  EXPECT_EQ(area.bytesWanted, n * 2);
  for (uint32_t i = 0; i < n; ++i) area.samples[i] = static_cast<int16_t>(i);
  TransformEncodedFrame f = transformEncodeFrame(e, 4, n * 2);
  EXPECT_EQ(f.inputBytes, (n - l) * 2);
  // The last L samples move to the front of the area.
  for (uint32_t i = 0; i < l; ++i) ASSERT_EQ(e->input[i], static_cast<int16_t>(n - l + i));

  area = transformInputArea(e);
  EXPECT_EQ(area.samples, e->input + l);
  EXPECT_EQ(area.bytesWanted, (n - l) * 2);
  // A short frame: 100 samples, then the last one repeated.
  for (uint32_t i = 0; i < 100; ++i) area.samples[i] = static_cast<int16_t>(-7000 + i);
  f = transformEncodeFrame(e, 4, 200);
  // 1024 + 100 samples supplied, 960 accounted before: 164 left.
  EXPECT_EQ(f.inputBytes, (n + 100 - (n - l)) * 2);
  // Padding repeated sample 100 of the area; its last L samples moved to the front.
  for (uint32_t i = 0; i < l; ++i) ASSERT_EQ(e->input[i], static_cast<int16_t>(-7000 + 99));
  f = transformEncodeFrame(e, 4, 0);
  EXPECT_EQ(f.inputBytes, 0u);
  EXPECT_EQ(e->bytesAccounted, e->bytesSupplied);
  transformFree(e);
}

TEST(TransformEncoderAccounting, ShortFrameRepeatsTheLastSample) {
  // 300 samples, the last of them 5000, on a first frame of 512: the rest
  // of the frame holds 5000, which the decoder reproduces.
  TransformEncoder *e = transformEncoderCreate(11025, 1);
  ASSERT_NE(e, nullptr);
  TransformInputArea area = transformInputArea(e);
  for (uint32_t i = 0; i < 300; ++i) area.samples[i] = 5000;
  for (uint32_t i = 300; i < 512; ++i) area.samples[i] = -12345;  // stale, must be replaced
  const TransformEncodedFrame f = transformEncodeFrame(e, 0, 600);
  EXPECT_EQ(f.inputBytes, 600u);
  std::vector<uint8_t> bytes(f.bytes, f.bytes + f.byteCount);
  transformFree(e);
  const std::vector<int16_t> out = kavtest::decodeStream(bytes, 11025, 1);
  ASSERT_EQ(out.size(), 480u);
  for (uint32_t i = 0; i < 480; ++i) EXPECT_NEAR(out[i], 5000, 30) << i;
}

TEST(TransformEncoderAccounting, SuppliedBytesBeyondTheAreaCountAsTheArea) {
  TransformEncoder *e = transformEncoderCreate(22050, 2);
  ASSERT_NE(e, nullptr);
  TransformInputArea area = transformInputArea(e);
  std::memset(area.samples, 0, area.bytesWanted);
  TransformEncodedFrame f = transformEncodeFrame(e, 4, 1u << 30);
  EXPECT_EQ(f.inputBytes, (2048u - 128) * 2);
  EXPECT_EQ(e->bytesSupplied, 2048u * 2);
  transformFree(e);
}

}  // namespace
