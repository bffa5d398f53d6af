// The compressed sound writer: level tables and method choice, delta blocks
// decoded back by the Zanther sound decoder, transform blocks by the
// transform decoder, raw blocks, block framing, lead silence, repeat, loop.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "kavutil/csfile.h"
#include "sfile/sfile_movies.h"
#include "sound/csfile_internal.h"
#include "sound/transform_codec.h"
#include "support/temp_dir.h"
#include "support/wave_writer.h"

namespace {

using Bytes = std::vector<uint8_t>;
namespace wave = kavtest::wave;

uint32_t le32(const Bytes &b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

// Writes blocks of `piece` bytes until one comes back empty; returns the
// blocks as written.
std::vector<Bytes> writeBlocks(CSFile *h, const std::string &out, uint32_t piece, int maxBlocks = 100000) {
  KAVFile *f = KAVFileCreate(4096, out.c_str());
  CSFileSetOutput(h, f);
  std::vector<uint32_t> sizes;
  for (int i = 0; i < maxBlocks; ++i) {
    CSFilePut(h, piece);
    if (h->blockSize == 0) break;
    sizes.push_back(h->blockSize);
  }
  KAVFileClose(f);
  const Bytes all = kavtest::readFile(out);
  std::vector<Bytes> blocks;
  size_t at = 0;
  for (uint32_t s : sizes) {
    EXPECT_EQ(s % 4, 0u);
    EXPECT_EQ(le32(all, at), s);  // the size field counts itself and the padding
    blocks.emplace_back(all.begin() + static_cast<std::ptrdiff_t>(at), all.begin() + static_cast<std::ptrdiff_t>(at + s));
    at += s;
  }
  EXPECT_EQ(at, all.size());
  return blocks;
}

// Delta or raw blocks as the sound chunks of a Zanther track, read back.
Bytes decodeThroughZanther(const kavtest::TempDir &dir, const std::vector<Bytes> &blocks, uint32_t rate, bool stereo,
                           bool wide, bool compressed) {
  std::vector<std::vector<Bytes>> sound(1, blocks);
  const std::string name = dir.file("back.znt");
  kavtest::writeFile(name, sftest::zantherMovie(100, {sftest::zantherTrackWord(rate, stereo, wide, compressed)}, sound,
                                                static_cast<uint32_t>(blocks.size())));
  return sftest::zantherTrackPcm(name, 0);
}

CSFile *openWave(const std::string &name, uint32_t method, uint32_t lead = 0, uint32_t length = 0, uint32_t repeat = 0,
                 uint32_t loop = 0) {
  return CSFileOpen(name.c_str(), method, repeat, loop, lead, length, 0, 0, 0, 0, 0, 0, 0, 0, nullptr);
}

TEST(CSFileLevels, TablesAndMethodChoice) {
  using kav::csfile::levelParams;
  EXPECT_EQ(levelParams(45, true).mask, 0xFFC0u);
  EXPECT_EQ(levelParams(45, true).threshold, 96);
  EXPECT_EQ(levelParams(4, false).mask, 0xFFu);
  EXPECT_EQ(levelParams(4, false).threshold, 0);
  EXPECT_EQ(levelParams(0, true).mask, 0xFFFFu);
  EXPECT_EQ(levelParams(99, true).mask, 0xF800u);
  EXPECT_EQ(levelParams(99, true).threshold, 2048 + 1024 * 9 / 10);
  EXPECT_EQ(levelParams(99, false).threshold, 24 + 8 * 9 / 10);
  EXPECT_EQ(levelParams(37, false).mask, 0xFCu);

  kavtest::TempDir dir;
  kavtest::writeFile(dir.file("w16.wav"), wave::simple(22050, 16, 1, wave::pcm16(100, 1, 1)));
  kavtest::writeFile(dir.file("w8.wav"), wave::simple(22050, 8, 1, wave::pcm8(100, 1, 1)));
  CSFile *h = openWave(dir.file("w16.wav"), 104);
  ASSERT_NE(h, nullptr);
  EXPECT_NE(h->transform, nullptr);
  EXPECT_EQ(h->level, 4u);
  CSFileClose(h);
  h = openWave(dir.file("w8.wav"), 104);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(h->transform, nullptr);
  EXPECT_EQ(h->deltaMask, 0xFFu);
  EXPECT_EQ(h->deltaThreshold, 0);
  EXPECT_EQ(h->silence, 0x80808080u);
  CSFileClose(h);
  h = openWave(dir.file("w16.wav"), 45);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(h->transform, nullptr);
  EXPECT_EQ(h->deltaMask, 0xFFC0u);
  EXPECT_EQ(h->deltaThreshold, 96);
  EXPECT_EQ(h->silence, 0u);
  CSFileClose(h);
  EXPECT_EQ(openWave(dir.file("none.wav"), 0), nullptr);

  char line[] = "x.wav /L45 /P /R22050";
  uint32_t method = 0, flag = 0, rate = 0;
  CSFileCommandline(line, &method, &flag, &rate, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
  EXPECT_EQ(method, 45u);
  EXPECT_EQ(flag, 1u);
  EXPECT_EQ(rate, 22050u);
  char plain[] = "x.wav";
  CSFileCommandline(plain, &method, &flag, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
  EXPECT_EQ(method, 104u);
  EXPECT_EQ(flag, 0u);
}

TEST(CSFileDelta, EveryLayoutDecodesBackWithinTheThreshold) {
  kavtest::TempDir dir;
  struct Case {
    uint32_t bits, channels, level;
  };
  for (const Case c : {Case{8, 1, 0}, Case{8, 2, 0}, Case{16, 1, 0}, Case{16, 2, 0}, Case{16, 2, 45}, Case{8, 1, 37},
                       Case{16, 1, 99}}) {
    SCOPED_TRACE(testing::Message() << c.bits << " bits " << c.channels << " ch level " << c.level);
    const uint32_t frames = 5000;
    const Bytes pcm = c.bits == 8 ? wave::pcm8(frames, c.channels, 7) : wave::pcm16(frames, c.channels, 7);
    const std::string name = dir.file("in.wav");
    kavtest::writeFile(name, wave::simple(11025, c.bits, c.channels, pcm));
    CSFile *h = openWave(name, c.level);
    ASSERT_NE(h, nullptr);
    const std::vector<Bytes> blocks = writeBlocks(h, dir.file("out.bin"), 1999);
    EXPECT_EQ(h->totalInput, pcm.size());
    CSFileClose(h);
    ASSERT_FALSE(blocks.empty());
    // The flag bits: present, stereo, 16-bit.
    const uint32_t flags = 1u | (c.channels == 2 ? 2u : 0u) | (c.bits == 16 ? 4u : 0u);
    for (const Bytes &b : blocks) ASSERT_EQ(b[8] & 7u, flags);
    const Bytes back = decodeThroughZanther(dir, blocks, 11025, c.channels == 2, c.bits == 16, true);
    ASSERT_EQ(back.size(), pcm.size());
    const int32_t threshold = kav::csfile::levelParams(c.level, c.bits == 16).threshold;
    int32_t worst = 0;
    for (size_t i = 0; i < pcm.size() / (c.bits / 8); ++i) {
      const int32_t a = c.bits == 8 ? pcm[i] : static_cast<int16_t>(pcm[2 * i] | pcm[2 * i + 1] << 8);
      const int32_t b = c.bits == 8 ? back[i] : static_cast<int16_t>(back[2 * i] | back[2 * i + 1] << 8);
      worst = std::max(worst, std::abs(a - b));
    }
    EXPECT_LE(worst, threshold);
    if (c.level == 0) {
      EXPECT_EQ(back, pcm);
    }
  }
}

TEST(CSFileDelta, SingleFrameBlocksDecode) {
  kavtest::TempDir dir;
  for (uint32_t bits : {8u, 16u})
    for (uint32_t channels : {1u, 2u}) {
      const Bytes pcm = bits == 8 ? wave::pcm8(5, channels, 3) : wave::pcm16(5, channels, 3);
      const std::string name = dir.file("one.wav");
      kavtest::writeFile(name, wave::simple(8000, bits, channels, pcm));
      CSFile *h = openWave(name, 0);
      ASSERT_NE(h, nullptr);
      // One frame per block: no deltas at all.
      const std::vector<Bytes> blocks = writeBlocks(h, dir.file("o.bin"), bits / 8 * channels);
      CSFileClose(h);
      ASSERT_EQ(blocks.size(), 5u);
      EXPECT_EQ(decodeThroughZanther(dir, blocks, 8000, channels == 2, bits == 16, true), pcm);
    }
}

TEST(CSFileRaw, BlocksCarryThePcmPaddedWithSilence) {
  kavtest::TempDir dir;
  const std::string name = dir.file("in.raw");
  const Bytes pcm = wave::pcm8(3003, 1, 4);
  kavtest::writeFile(name, pcm);
  CSFile *h = CSFileOpen(name.c_str(), 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 8000 * 8, 0, nullptr);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(h->raw, 1u);
  const std::vector<Bytes> blocks = writeBlocks(h, dir.file("r.bin"), 1001);
  CSFileClose(h);
  ASSERT_EQ(blocks.size(), 3u);
  for (const Bytes &b : blocks) {
    ASSERT_EQ(b.size(), 1008u);  // 4 + 1001, padded to 1008
    EXPECT_EQ(b[1005], 0x80);
    EXPECT_EQ(b[1007], 0x80);
  }
  // What a reader of uncompressed chunks plays: the PCM, then silence.
  const Bytes back = decodeThroughZanther(dir, blocks, 8000, false, false, false);
  ASSERT_EQ(back.size(), 3u * 1004);
  for (size_t k = 0; k < 3; ++k) {
    EXPECT_EQ(Bytes(back.begin() + 1004 * k, back.begin() + 1004 * k + 1001),
              Bytes(pcm.begin() + 1001 * k, pcm.begin() + 1001 * (k + 1)));
    EXPECT_EQ(Bytes(back.begin() + 1004 * k + 1001, back.begin() + 1004 * (k + 1)), Bytes(3, 0x80));
  }
}

TEST(CSFileTransform, BlocksDecodeBackByTheTransformDecoder) {
  kavtest::TempDir dir;
  const uint32_t rate = 22050, frames = 22050;
  Bytes pcm;
  for (uint32_t i = 0; i < frames; ++i) {
    const auto v = static_cast<int16_t>(8000 * std::sin(2 * M_PI * 440.0 * i / rate));
    pcm.push_back(static_cast<uint8_t>(v));
    pcm.push_back(static_cast<uint8_t>(static_cast<uint16_t>(v) >> 8));
  }
  const std::string name = dir.file("tone.wav");
  kavtest::writeFile(name, wave::simple(rate, 16, 1, pcm));
  CSFile *h = openWave(name, 104);
  ASSERT_NE(h, nullptr);
  const std::vector<Bytes> blocks = writeBlocks(h, dir.file("t.bin"), 8820);
  CSFileClose(h);
  ASSERT_GT(blocks.size(), 3u);
  kav::sound::TransformDecoder *d = kav::sound::transformDecoderCreate(rate, 1, 1);
  std::vector<int16_t> out;
  uint64_t consumed = 0;
  for (const Bytes &b : blocks) {
    consumed += le32(b, 4);
    size_t pos = 8;
    while (pos < b.size()) {
      const auto r = kav::sound::transformDecodeFrame(d, b.data() + pos, b.size() - pos);
      if (r.frameBytes == 0) break;
      out.insert(out.end(), r.samples, r.samples + r.sampleBytes / 2);
      pos += r.frameBytes;
    }
  }
  kav::sound::transformFree(d);
  EXPECT_GE(consumed, pcm.size());
  ASSERT_GE(out.size(), frames);
  double signal = 0, noise = 0;
  for (uint32_t i = 0; i < frames; ++i) {
    const double a = static_cast<int16_t>(pcm[2 * i] | pcm[2 * i + 1] << 8);
    signal += a * a;
    noise += (a - out[i]) * (a - out[i]);
  }
  EXPECT_LT(noise, signal * 0.05) << "signal-to-noise below 13 dB";
}

TEST(CSFileRange, LeadSilenceRepeatAndLoop) {
  kavtest::TempDir dir;
  // 100 ms of lead at 22050 Hz 16-bit mono: 4410 bytes of zeros.
  const Bytes pcm = wave::pcm16(2205, 1, 5);
  kavtest::writeFile(dir.file("a.wav"), wave::simple(22050, 16, 1, pcm));
  CSFile *h = openWave(dir.file("a.wav"), 0, 100);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(h->lead, 4410u);
  Bytes back = decodeThroughZanther(dir, writeBlocks(h, dir.file("l.bin"), 3000), 22050, false, true, true);
  CSFileClose(h);
  Bytes want(4410, 0);
  want.insert(want.end(), pcm.begin(), pcm.end() - 4410);  // the lead counts against the range
  EXPECT_EQ(back, want);

  // 1000 Hz 8-bit mono, half a second of input.
  const Bytes in = wave::pcm8(500, 1, 6);
  kavtest::writeFile(dir.file("b.wav"), wave::simple(1000, 8, 1, in));
  auto concat = [](std::initializer_list<Bytes> parts) {
    Bytes o;
    for (const Bytes &p : parts) o.insert(o.end(), p.begin(), p.end());
    return o;
  };
  // A length past the input: repeated, or filled with silence.
  h = openWave(dir.file("b.wav"), 0, 0, 1200, 1);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(h->range, 1200u);
  back = decodeThroughZanther(dir, writeBlocks(h, dir.file("r.bin"), 333), 1000, false, false, true);
  CSFileClose(h);
  EXPECT_EQ(back, concat({in, in, Bytes(in.begin(), in.begin() + 200)}));
  h = openWave(dir.file("b.wav"), 0, 0, 1200, 0);
  ASSERT_NE(h, nullptr);
  back = decodeThroughZanther(dir, writeBlocks(h, dir.file("s.bin"), 333), 1000, false, false, true);
  CSFileClose(h);
  EXPECT_EQ(back, concat({in, Bytes(700, 0x80)}));

  // Looping the range, lead included: blocks never run dry.
  h = openWave(dir.file("b.wav"), 0, 100, 0, 0, 1);
  ASSERT_NE(h, nullptr);
  back = decodeThroughZanther(dir, writeBlocks(h, dir.file("p.bin"), 300, 4), 1000, false, false, true);
  CSFileClose(h);
  const Bytes lead(100, 0x80), body(in.begin(), in.begin() + 400);
  EXPECT_EQ(back, concat({lead, body, lead, body, lead, Bytes(in.begin(), in.begin() + 100)}));
}

}  // namespace
