// Sound tracks through writer and reader: uncompressed, delta-coded in all
// four layouts, and transform-coded; track selection and the count rules.
#include <gtest/gtest.h>

#include <cstring>

#include "sound/transform_codec.h"
#include "zanther_test_support.h"

namespace {

using namespace ztest;
using namespace kavtest::zantw;

std::vector<uint8_t> randomWalk(size_t bytes, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> out(bytes);
  uint8_t v = 128;
  for (auto &b : out) b = v = static_cast<uint8_t>(v + static_cast<int>(rng() % 9) - 4);
  return out;
}

Movie soundMovie(uint32_t frames) {
  std::mt19937 rng(77);
  Movie m;
  m.width = 16;
  m.height = 16;
  auto pic = randomPicture(16, 16, rng);
  for (uint32_t f = 0; f < frames; ++f) {
    Frame fr;
    fr.pixels = pic;
    m.frames.push_back(fr);
  }
  return m;
}

TEST(ZantherSound, UncompressedAndDeltaTracksRoundTripExactly) {
  struct Layout {
    bool stereo, wide;
  };
  const Layout layouts[] = {{false, false}, {false, true}, {true, false}, {true, true}};
  Movie m = soundMovie(6);
  std::vector<uint8_t> pcm[7][6];
  for (uint32_t f = 0; f < 6; ++f) {
    pcm[0][f] = randomWalk(735, f);
    m.frames[f].sound[0] = rawSoundChunk(pcm[0][f]);
    for (int l = 0; l < 4; ++l) {
      const uint32_t lanes = (layouts[l].stereo ? 2 : 1) * (layouts[l].wide ? 2 : 1);
      pcm[l + 1][f] = randomWalk(lanes * (400 + 37 * f), 100 * l + f);
      m.frames[f].sound[l + 1] = deltaSoundChunk(pcm[l + 1][f], layouts[l].stereo, layouts[l].wide);
    }
  }
  m.trackInfo[0] = trackWord(11025, false, false, false, false);
  for (int l = 0; l < 4; ++l) m.trackInfo[l + 1] = trackWord(22050, layouts[l].stereo, layouts[l].wide, true, false);
  MovieFile file(writeMovie(m));
  ZanthHandle *h = openBytes(file);
  ASSERT_NE(h, nullptr);
  std::vector<uint8_t> out(200000);
  for (uint32_t round = 0; round < 2; ++round)
    for (uint32_t f = 0; f < 6; ++f) {
      for (int t = 0; t < 5; ++t) {
        SCOPED_TRACE(testing::Message() << "frame " << f << " track " << t);
        const uint32_t n = ZanthTrackData(h, out.data(), ZANTH_TRACK_MASK_0 << t);
        ASSERT_EQ(n, pcm[t][f].size());
        EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + n), pcm[t][f]);
      }
      EXPECT_EQ(ZanthTrackData(h, out.data(), ZANTH_TRACK_MASK_0 << 5), 0u);  // no chunk
      ZanthAdvance(h);
    }
  // The lowest track bit wins; bits outside 13-19 name no track.
  EXPECT_EQ(ZanthTrackData(h, out.data(), 0x7u << 14), pcm[1][0].size());
  EXPECT_EQ(ZanthTrackData(h, out.data(), 0x1FFF), 0u);
  ZanthClose(h);
}

TEST(ZantherSound, StereoEightBitStartsWithTheSecondInitialValue) {
  Movie m = soundMovie(1);
  const std::vector<uint8_t> pcm = {10, 200, 11, 201, 13, 199};
  auto chunk = deltaSoundChunk(pcm, true, false);
  // Initial values follow three flag bits and two trees; read them back.
  m.frames[0].sound[0] = chunk;
  m.trackInfo[0] = trackWord(8000, true, false, true, false);
  MovieFile file(writeMovie(m));
  ZanthHandle *h = openBytes(file);
  ASSERT_NE(h, nullptr);
  uint8_t out[64];
  ASSERT_EQ(ZanthTrackData(h, out, ZANTH_TRACK_MASK_0), 6u);
  EXPECT_EQ(std::vector<uint8_t>(out, out + 6), pcm);
  ZanthClose(h);
}

TEST(ZantherSound, CountRulesOfCompressedChunks) {
  Movie m = soundMovie(1);
  std::vector<uint8_t> zero = {12, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0};
  std::vector<uint8_t> all = {12, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 1, 0, 0, 0};
  std::vector<uint8_t> absent = {12, 0, 0, 0, 100, 0, 0, 0, 0, 0, 0, 0};  // data-present bit 0
  // More than two seconds of 8 kHz mono: delivered up to the capacity only.
  std::vector<uint8_t> huge = deltaSoundChunk(randomWalk(64, 3), false, false);
  huge[4] = 0x00;
  huge[5] = 0x00;
  huge[6] = 0x01;  // U = 65536
  m.frames[0].sound = {zero, all, absent, huge};
  for (int t = 0; t < 4; ++t) m.trackInfo[t] = trackWord(8000, false, false, true, false);
  MovieFile file(writeMovie(m));
  ZanthHandle *h = openBytes(file);
  ASSERT_NE(h, nullptr);
  std::vector<uint8_t> out(16000 + 64, 0xCC);
  EXPECT_EQ(ZanthTrackData(h, out.data(), ZANTH_TRACK_MASK_0), 0u);
  EXPECT_EQ(ZanthTrackData(h, out.data(), ZANTH_TRACK_MASK_0 << 1), 0xFFFFFFFFu);
  EXPECT_EQ(ZanthTrackData(h, out.data(), ZANTH_TRACK_MASK_0 << 2), 100u);
  EXPECT_EQ(out[0], 0xCC);  // nothing written
  EXPECT_EQ(ZanthTrackData(h, out.data(), ZANTH_TRACK_MASK_0 << 3), 16000u);
  EXPECT_EQ(out[16000], 0xCC);
  ZanthClose(h);
}

TEST(ZantherSound, TransformTracksMatchTheirDecoder) {
  using namespace kav::sound;
  const uint32_t rate = 22050, channels = 2;
  TransformEncoder *enc = transformEncoderCreate(rate, channels);
  ASSERT_NE(enc, nullptr);
  std::mt19937 rng(5);
  Movie m = soundMovie(4);
  std::vector<std::vector<std::vector<uint8_t>>> encoded(4);
  uint32_t phase = 0;
  for (uint32_t f = 0; f < 4; ++f) {
    for (int k = 0; k < 2; ++k) {
      TransformInputArea area = transformInputArea(enc);
      const uint32_t samples = area.bytesWanted / 2;
      for (uint32_t i = 0; i < samples; ++i, ++phase)
        area.samples[i] = static_cast<int16_t>(8000 * ((phase / 37) % 2 ? 1 : -1) + static_cast<int>(rng() % 200));
      TransformEncodedFrame e = transformEncodeFrame(enc, 30, area.bytesWanted);
      encoded[f].emplace_back(e.bytes, e.bytes + e.byteCount);
    }
  }
  transformFree(enc);

  // The reference: a separate decoder over the same frames.
  TransformDecoder *ref = transformDecoderCreate(rate, channels, kTransformDecoderSmall);
  ASSERT_NE(ref, nullptr);
  std::vector<std::vector<uint8_t>> expected(4);
  for (uint32_t f = 0; f < 4; ++f) {
    for (const auto &blob : encoded[f]) {
      TransformDecodedFrame d = transformDecodeFrame(ref, blob.data(), blob.size());
      const auto *p = reinterpret_cast<const uint8_t *>(d.samples);
      expected[f].insert(expected[f].end(), p, p + d.sampleBytes);
    }
    // U asks for a bit more than one block: both blocks are delivered.
    m.frames[f].sound[2] = transformSoundChunk(encoded[f], static_cast<uint32_t>(expected[f].size() / 2 + 2));
  }
  transformFree(ref);
  m.trackInfo[2] = trackWord(rate, true, true, true, true);
  MovieFile file(writeMovie(m));
  ZanthHandle *h = openBytes(file);
  ASSERT_NE(h, nullptr);
  std::vector<uint8_t> out(rate * 4 * 2);
  for (uint32_t f = 0; f < 4; ++f) {
    const uint32_t n = ZanthTrackData(h, out.data(), ZANTH_TRACK_MASK_0 << 2);
    ASSERT_EQ(n, expected[f].size());
    EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + n), expected[f]);
    ZanthAdvance(h);
  }
  ZanthClose(h);
}

}  // namespace
