// Frame geometry, packed floats, quantiser indices and the frame layout the
// encoder writes, checked against hand-computed values and an independent
// bit-by-bit parser.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "sound/transform_codec.h"
#include "sound/transform_masking.h"
#include "tests/sound/transform_test_support.h"

using namespace kav::sound;

namespace {

TEST(TransformGeometry, StreamsFromTheFormatExamples) {
  TransformGeometry g;
  ASSERT_TRUE(transformGeometryFor(44100, 2, g));
  EXPECT_EQ(g.frameLength, 4096u);
  EXPECT_EQ(g.overlap, 256u);
  EXPECT_EQ(g.bandCount, 25u);
  EXPECT_EQ(g.edges[0], 0u);
  EXPECT_EQ(g.edges[1], 4u);  // 2048 x 100 / 44100
  EXPECT_EQ(g.edges[24], 2048u * 15500 / 44100);
  EXPECT_EQ(g.edges[25], 2048u);

  ASSERT_TRUE(transformGeometryFor(22050, 1, g));
  EXPECT_EQ(g.frameLength, 1024u);
  EXPECT_EQ(g.overlap, 64u);
  EXPECT_EQ(g.bandCount, 23u);  // 12000 is not below 11025
  EXPECT_EQ(g.edges[22], 441u);
  EXPECT_EQ(g.edges[23], 512u);

  ASSERT_TRUE(transformGeometryFor(11025, 1, g));
  EXPECT_EQ(g.frameLength, 512u);
  EXPECT_EQ(g.overlap, 32u);
  EXPECT_EQ(g.bandCount, 20u);  // n = 5513: 5300 is the last frequency below it
  EXPECT_EQ(g.edges[19], 256u * 5300 / 5513);
  EXPECT_EQ(g.edges[20], 256u);

  // Rate thresholds pick the frame length; channels double it.
  ASSERT_TRUE(transformGeometryFor(22049, 2, g));
  EXPECT_EQ(g.frameLength, 1024u);
  ASSERT_TRUE(transformGeometryFor(48000, 1, g));
  EXPECT_EQ(g.frameLength, 2048u);
}

TEST(TransformGeometry, EdgesRiseAndCloseAtHalf) {
  for (uint32_t rate : {1u, 2u, 8000u, 16000u, 32000u, 96000u, 0xFFFFFFu}) {
    for (uint32_t ch : {1u, 2u}) {
      TransformGeometry g;
      ASSERT_TRUE(transformGeometryFor(rate, ch, g)) << rate;
      ASSERT_GE(g.bandCount, 1u);
      ASSERT_LE(g.bandCount, kTransformMaxBands);
      for (uint32_t j = 0; j < g.bandCount; ++j) EXPECT_LE(g.edges[j], g.edges[j + 1]) << rate;
      EXPECT_EQ(g.edges[g.bandCount], g.frameLength / 2);
    }
  }
}

TEST(TransformGeometry, RefusesRateZeroAndOtherChannelCounts) {
  TransformGeometry g;
  EXPECT_FALSE(transformGeometryFor(0, 1, g));
  EXPECT_FALSE(transformGeometryFor(44100, 0, g));
  EXPECT_FALSE(transformGeometryFor(44100, 3, g));
  EXPECT_EQ(transformDecoderCreate(0, 1, 1), nullptr);
  EXPECT_EQ(transformEncoderCreate(22050, 3), nullptr);
}

uint32_t packed(uint32_t e, uint32_t m, uint32_t sign) { return e | (m << 5) | (sign << 28); }

TEST(TransformPackedFloat, ExamplesAndRounding) {
  EXPECT_EQ(transformUnpackFloat(packed(23, 5, 0)), 5.0f);
  EXPECT_EQ(transformUnpackFloat(packed(0, 5, 0)), std::ldexp(5.0f, -23));
  EXPECT_EQ(transformUnpackFloat(packed(23, 5, 1)), -5.0f);
  // Exponents the encoder never writes still follow m x 2^(e - 23).
  EXPECT_EQ(transformUnpackFloat(packed(31, 0x7FFFFF, 0)), std::ldexp(8388607.0f, 8));

  // 5 has bit length 3: mantissa 5 x 2^20.
  EXPECT_EQ(transformPackFloat(5.0f), packed(3, 5u << 20, 0));
  EXPECT_EQ(transformPackFloat(-5.0f), packed(3, 5u << 20, 1));
  EXPECT_EQ(transformPackFloat(0.0f), 0u);
  EXPECT_EQ(transformPackFloat(-0.0f), 0u);
  // |x| is rounded halves to even before its bit length is taken: 0.5 -> 0, 2.5 -> 2, 3.5 -> 4.
  EXPECT_EQ(transformPackFloat(0.5f), packed(0, 1u << 22, 0));
  EXPECT_EQ(transformPackFloat(2.5f), packed(2, 5u << 20, 0));
  EXPECT_EQ(transformPackFloat(3.5f), packed(3, 7u << 19, 0));
  // The mantissa rounds halves to even too: at e = 1 the value 1 + 2^-23 is m = 2^22 + 0.5.
  EXPECT_EQ(transformPackFloat(1.0f + std::ldexp(1.0f, -23)), packed(1, (1u << 22), 0));  // 2^22 + 0.5 -> even
  EXPECT_EQ(transformPackFloat(1.0f + 3 * std::ldexp(1.0f, -23)), packed(1, (1u << 22) + 2, 0));  // +1.5 -> +2
}

TEST(TransformPackedFloat, RoundTripsWithinHalfAMantissaStep) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> mag(-24.0f, 23.0f);
  for (int i = 0; i < 2000; ++i) {
    const float x = std::exp2(mag(rng)) * (i % 2 ? -1.0f : 1.0f);
    const float y = transformUnpackFloat(transformPackFloat(x));
    EXPECT_LE(std::fabs(y - x), std::max(std::fabs(x), 0.5f) * std::ldexp(1.0f, -22)) << x;
    EXPECT_EQ(std::signbit(y), std::signbit(x));
  }
  // The carry of a mantissa rounded up past 23 bits moves into the exponent
  // instead of spilling into the sign.
  const uint32_t big = transformPackFloat(16777215.0f);
  EXPECT_EQ(big >> 28, 0u);
  EXPECT_EQ(transformUnpackFloat(big), 16777216.0f);
  EXPECT_EQ(transformPackFloat(std::nanf("")), 0u);
}

TEST(TransformQuantiser, IndexAndStepExamples) {
  EXPECT_EQ(transformStepOfIndex(0), 1.0f);
  EXPECT_FLOAT_EQ(transformStepOfIndex(100), static_cast<float>(std::pow(10.0, 6.64)));
  EXPECT_EQ(transformIndexOfStep(1.0f), 0u);
  EXPECT_EQ(transformIndexOfStep(10.0f), 15u);
  EXPECT_FLOAT_EQ(transformStepOfIndex(15), static_cast<float>(std::pow(10.0, 0.996)));
  EXPECT_EQ(transformIndexOfStep(0.5f), 0u);
  EXPECT_EQ(transformIndexOfStep(0.0f), 0u);
  // The largest start step, 2^44: 10 log10(2^44) x 1.506 = 199.47.
  EXPECT_EQ(transformIndexOfStep(17592186044416.0f), 199u);
}

TEST(TransformMasking, StartStepsAndSpreading) {
  // Level 0 in band 0 starts at 500000^0.25 = 26.59; nothing to code stops at once.
  const float one[2] = {1.0f, 1.0f};
  EXPECT_NEAR(transformStepSearch(one, 2, 0.0f, 0, transformAbsoluteThreshold(0)), 26.591f, 0.001f);
  EXPECT_EQ(transformStepSearch(one, 2, 0.0f, 99, transformAbsoluteThreshold(0)), 17592186044416.0f);
  EXPECT_EQ(transformStepSearch(one, 2, 0.0f, 0, transformAbsoluteThreshold(13)), 1.0f);  // below 1 -> 1

  // Normalisation of band k sums spread(i - k) over the stream's bands.
  float norm[kTransformMaxBands];
  transformSpreadNormalisation(25, norm);
  // For k = 0 the distances i - k run over 0..24: spread(0..7).
  EXPECT_FLOAT_EQ(norm[0], 1.0f / (1.0f + 0.07875f + 0.0146941f + 0.0052495f + 0.0005273f + 5.07e-5f + 4.8e-6f + 4.0e-7f));
  // For k = 24 they run over -24..0: spread(-3..0).
  EXPECT_FLOAT_EQ(norm[24], 1.0f / (3.8e-6f + 0.0010497f + 0.13477010f + 1.0f));
  transformSpreadNormalisation(1, norm);
  EXPECT_EQ(norm[0], 1.0f);

  // A flat spectrum has tonality 0; a single line has tonality 1.
  std::vector<float> flat(256, 4.0f), line(256, 0.0f);
  EXPECT_NEAR(transformTonality(flat.data(), 256), 0.0f, 1e-6f);
  line[0] = 2.0f;
  line[10] = 1e6f;
  EXPECT_EQ(transformTonality(line.data(), 256), 1.0f);

  // Loud bands mask, silent ones do not.
  float energy[3] = {2.0f, 1e8f, 0.0f}, allowed[3];
  float n3[3];
  transformSpreadNormalisation(3, n3);
  transformMaskingLevels(energy, 3, 0.0f, n3, allowed);
  EXPECT_GT(allowed[1], 1e7f);
  EXPECT_GT(allowed[2], 0.0f);  // from band 1 spread up
  EXPECT_LT(allowed[2], allowed[1]);
}

TEST(TransformMasking, StepSearchKeepsNoiseBelowAllowed) {
  std::mt19937 rng(3);
  std::uniform_real_distribution<float> u(-5000.0f, 5000.0f);
  std::vector<float> a(200);
  for (float &x : a) x = u(rng);
  for (float allowed : {1e3f, 1e6f, 1e8f}) {
    const float q = transformStepSearch(a.data(), 200, allowed, 0, 1.2589254f);
    double err = 0.0;
    const float inv = 1.0f / q;
    for (float x : a) {
      const double e = x - std::round(x * inv) * q;
      err += e * e;
    }
    if (q > 1.0f) {
      EXPECT_LT(err, allowed * 1.001);
    }
  }
  EXPECT_EQ(transformRoundAway(2.5f), 3.0f);
  EXPECT_EQ(transformRoundAway(-2.5f), -3.0f);
  EXPECT_EQ(transformRoundAway(0.49999997f), 0.0f);
  EXPECT_EQ(transformRoundAway(-1.5f), -2.0f);
}

// The bits of a frame of silence, written out by hand.
TEST(TransformEncoderLayout, SilenceFrameHasExactLayout) {
  for (uint32_t level : {0u, 4u, 99u}) {
    TransformEncoder *e = transformEncoderCreate(44100, 2);
    ASSERT_NE(e, nullptr);
    TransformInputArea area = transformInputArea(e);
    ASSERT_EQ(area.bytesWanted, 4096u * 2);
    std::memset(area.samples, 0, area.bytesWanted);
    const TransformEncodedFrame f = transformEncodeFrame(e, level, area.bytesWanted);

    kavtest::Bits want;
    want.put(0, 29);
    want.put(0, 29);
    for (uint32_t j = 0; j < 25; ++j) {
      double start = std::pow(transformAbsoluteThreshold(j) * 0.5, (level + 1) * 0.25);
      start = std::clamp(start, 1.0, 17592186044416.0);
      want.put(transformIndexOfStep(static_cast<float>(start)) & 0xFF, 8);
    }
    // 4094 coefficients in runs of 512: 8 runs, flag 1, index 15, width 0.
    for (int r = 0; r < 8; ++r) want.put(1 | (15 << 1), 9);
    const std::vector<uint8_t> bytes = want.words();
    ASSERT_EQ(f.byteCount, bytes.size()) << level;
    EXPECT_EQ(std::vector<uint8_t>(f.bytes, f.bytes + f.byteCount), bytes) << level;
    EXPECT_EQ(f.inputBytes, (4096u - 256) * 2);
    transformFree(e);
  }
}

// Runs as the parser sees them: each covers groups of one width, is as long
// as the table allows, and only the last one is cut at N.
TEST(TransformEncoderLayout, RunsAreMaximalAndCutAtTheEnd) {
  for (uint32_t rate : {11025u, 22050u, 44100u}) {
    for (uint32_t ch : {1u, 2u}) {
      TransformGeometry g;
      ASSERT_TRUE(transformGeometryFor(rate, ch, g));
      const uint32_t n = g.frameLength;
      auto pcm = kavtest::makeSignal(kavtest::Signal::Music, rate, ch, n * 3 / ch, 8000.0);
      kavtest::StreamResult s = kavtest::encodeStream(pcm, rate, ch, 4);
      size_t offset = 0;
      for (uint32_t size : s.frameSizes) {
        ASSERT_EQ(size % 4, 0u);
        ASSERT_LE(size, transformMaxFrameBytes(g));
        kavtest::ParsedFrame f = kavtest::parseFrame(s.bytes.data() + offset, size, n, g.bandCount);
        ASSERT_TRUE(f.ok);
        EXPECT_EQ((f.bits + 31) / 32 * 4, size);
        // Widths of every group recomputed from the values.
        std::vector<uint32_t> widths;
        for (uint32_t st = 2; st < n; st += 8) {
          uint32_t m = 0;
          for (uint32_t i = st; i < std::min(n, st + 8); ++i) m = std::max<uint32_t>(m, std::abs(f.values[i]));
          widths.push_back(m == 0 ? 0 : 32 - __builtin_clz(m));
        }
        const uint32_t groups = static_cast<uint32_t>(widths.size());
        for (size_t r = 0; r < f.runs.size(); ++r) {
          const kavtest::ParsedRun &run = f.runs[r];
          const uint32_t g0 = (run.start - 2) / 8, g1 = (run.end - 2 + 7) / 8;
          for (uint32_t k = g0; k < g1; ++k) EXPECT_EQ(widths[k], run.width);
          if (r + 1 < f.runs.size()) {
            EXPECT_EQ(run.end, run.start + 8 * (run.longRun ? kTransformRunTable[run.tableIndex] : 1));
          }
          // The next longer table length would have broken the run.
          const int next = run.longRun ? static_cast<int>(run.tableIndex) + 1 : 0;
          if (next < 16 && g0 + (run.longRun ? kTransformRunTable[run.tableIndex] : 1) < groups) {
            const uint32_t reach = std::min(groups, g0 + kTransformRunTable[next]);
            bool same = true;
            for (uint32_t k = g0; k < reach; ++k) same = same && widths[k] == run.width;
            EXPECT_FALSE(same) << "run at group " << g0 << " could be longer";
          }
        }
        EXPECT_EQ(f.runs.back().end, n);
        offset += size;
      }
    }
  }
}

TEST(TransformEncoderLayout, LoneLastGroupIsALongRunCutAtTheEnd) {
  // N = 512: a cosine on bin 255 leaves only the last group (coefficients
  // 506..511) with a width, so it stands alone after the zero runs.
  TransformEncoder *e = transformEncoderCreate(11025, 1);
  ASSERT_NE(e, nullptr);
  TransformInputArea area = transformInputArea(e);
  const double pi = 3.14159265358979323846;
  for (uint32_t t = 0; t < 512; ++t)
    area.samples[t] = static_cast<int16_t>(std::lround(12000.0 * std::cos(2.0 * pi * 255.0 * t / 512.0)));
  const TransformEncodedFrame f = transformEncodeFrame(e, 0, area.bytesWanted);
  kavtest::ParsedFrame p = kavtest::parseFrame(f.bytes, f.byteCount, 512, 20);
  ASSERT_TRUE(p.ok);
  ASSERT_GE(p.runs.size(), 2u);
  const kavtest::ParsedRun &last = p.runs.back();
  EXPECT_EQ(last.start, 506u);
  EXPECT_EQ(last.end, 512u);
  EXPECT_NE(last.width, 0u);
  EXPECT_TRUE(last.longRun);
  EXPECT_EQ(last.tableIndex, 15u);
  EXPECT_EQ(p.runs[p.runs.size() - 2].width, 0u);
  transformFree(e);
}

}  // namespace
