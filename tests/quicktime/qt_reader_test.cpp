// Hand-built movies through QTFile* and QTSFile*.
#include <gtest/gtest.h>
#include <png.h>
#include <unistd.h>

#include <cstring>

#include "kavutil/quicktime.h"
#include "platform/avi/avi_jpeg.h"
#include "support/temp_dir.h"
#include "tests/quicktime/qt_builder.h"

using namespace qttest;

namespace {

// Three raw 24-bit frames of 5 x 3, each filled with its own colour,
// stored in two chunks (two samples, then one) with uneven times.
Bytes rawMovie(const Runs &times, uint32_t movieDuration, bool co64 = false) {
  Bytes data;
  for (uint8_t n = 0; n < 3; ++n)
    for (int i = 0; i < 5 * 3; ++i) {
      data.push_back(static_cast<uint8_t>(10 + n));  // red
      data.push_back(static_cast<uint8_t>(20 + n));  // green
      data.push_back(static_cast<uint8_t>(30 + n));  // blue
    }
  TrackSpec v{"vide"};
  v.entries = {videoEntry("raw ", 5, 3, 24)};
  v.times = times;
  v.chunkRuns = {{1, 2}, {2, 1}};
  v.uniformSize = 45;
  v.sampleCount = 3;
  v.offsets = {8, 8 + 90};
  v.co64 = co64;
  return movie(data, 600, movieDuration, {v});
}

uint32_t pixel(const QTFile *f, uint32_t x, uint32_t y) {
  uint32_t v;
  std::memcpy(&v, f->pixels + y * f->rowBytes + x * 4, 4);
  return v;
}

TEST(QtFrames, StepsBySampleTimes) {
  kavtest::TempDir dir;
  const std::string name = dir.file("steps.mov");
  kavtest::writeFile(name, rawMovie({{1, 300}, {1, 100}, {1, 200}}, 600));
  QTFile *f = QTFileOpen(name.c_str());
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->width, 5u);
  EXPECT_EQ(f->height, 3u);
  EXPECT_EQ(f->bits, 32u);
  EXPECT_EQ(f->rowBytes, 20u);
  EXPECT_EQ(f->frameCount, 3u);
  EXPECT_EQ(f->rateNumerator * 1u, 3u);  // 600 x 3 / 600
  EXPECT_EQ(f->rateDenominator, 1u);
  EXPECT_EQ(f->hasSound, 0u);
  // Targets 0, 200, 400: sample 0 shows until 300, sample 2 from 400.
  const uint32_t want[3] = {0xFF0A141E, 0xFF0A141E, 0xFF0C1620};
  for (uint32_t n = 0; n < 3; ++n) {
    EXPECT_EQ(QTFileGet(f), 0);
    EXPECT_EQ(pixel(f, 4, 2), want[n]) << n;
    EXPECT_EQ(f->dataSize, 45u);
  }
  EXPECT_EQ(f->frameNumber, 3u);
  QTFileClose(f);
}

TEST(QtFrames, GotoZeroThenTwoGetsGiveFramesZeroAndOne) {
  kavtest::TempDir dir;
  const std::string name = dir.file("even.mov");
  kavtest::writeFile(name, rawMovie({{3, 200}}, 600, true));  // co64 offsets
  QTFile *f = QTFileOpen(name.c_str());
  ASSERT_NE(f, nullptr);
  QTFileGet(f);
  QTFileGet(f);
  QTFileGoto(f, 0);
  QTFileGet(f);
  EXPECT_EQ(pixel(f, 0, 0), 0xFF0A141Eu);
  QTFileGet(f);
  EXPECT_EQ(pixel(f, 0, 0), 0xFF0B151Fu);
  QTFileGoto(f, 2);
  QTFileGet(f);
  EXPECT_EQ(pixel(f, 0, 0), 0xFF0C1620u);
  QTFileClose(f);
  EXPECT_EQ(KAVQTShutdown(), 1);
  EXPECT_EQ(KAVQTShutdown(), 0);
}

TEST(QtFrames, EightBitPaletteFromTheDescription) {
  kavtest::TempDir dir;
  // 3 x 2 pixels, rows padded to 4 bytes in the sample.
  Bytes data = {0, 1, 2, 0xEE, 2, 1, 0, 0xEE};
  Bytes table = {255, 0, 0, 0, 255, 0, 0, 0, 255};
  TrackSpec v{"vide"};
  v.entries = {videoEntry("raw ", 3, 2, 8, table)};
  v.times = {{1, 600}};
  v.chunkRuns = {{1, 1}};
  v.uniformSize = 8;
  v.sampleCount = 1;
  v.offsets = {8};
  const std::string name = dir.file("pal.mov");
  kavtest::writeFile(name, movie(data, 600, 600, {v}));
  QTFile *f = QTFileOpen(name.c_str());
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->bits, 8u);
  EXPECT_EQ(f->rowBytes, 4u);
  QTFileGet(f);
  EXPECT_EQ(f->pixels[0], 0);
  EXPECT_EQ(f->pixels[2], 2);
  EXPECT_EQ(f->pixels[4], 2);
  EXPECT_EQ(f->pixels[6], 0);
  const uint8_t red[4] = {0, 0, 255, 0}, blue[4] = {255, 0, 0, 0}, none[4] = {0, 0, 0, 0};
  EXPECT_EQ(std::memcmp(f->palette, red, 4), 0);
  EXPECT_EQ(std::memcmp(f->palette + 8, blue, 4), 0);
  EXPECT_EQ(std::memcmp(f->palette + 12, none, 4), 0);  // missing entries are zeroed
  QTFileClose(f);

  // Without a table of its own: the system table, white first, black last.
  v.entries = {videoEntry("raw ", 3, 2, 8)};
  kavtest::writeFile(name, movie(data, 600, 600, {v}));
  f = QTFileOpen(name.c_str());
  ASSERT_NE(f, nullptr);
  QTFileGet(f);
  const uint8_t white[4] = {255, 255, 255, 0};
  EXPECT_EQ(std::memcmp(f->palette, white, 4), 0);
  EXPECT_EQ(std::memcmp(f->palette + 255 * 4, none, 4), 0);
  QTFileClose(f);
}

TEST(QtFrames, SixteenBitAndCodecs) {
  kavtest::TempDir dir;
  const std::string name = dir.file("c.mov");
  // 16-bit: one pixel of pure red (0x7C00) and one of blue (0x001F).
  Bytes data = {0x7C, 0x00, 0x00, 0x1F};
  TrackSpec v{"vide"};
  v.entries = {videoEntry("raw ", 2, 1, 16)};
  v.times = {{1, 600}};
  v.chunkRuns = {{1, 1}};
  v.uniformSize = 4;
  v.sampleCount = 1;
  v.offsets = {8};
  kavtest::writeFile(name, movie(data, 600, 600, {v}));
  QTFile *f = QTFileOpen(name.c_str());
  ASSERT_NE(f, nullptr);
  QTFileGet(f);
  EXPECT_EQ(pixel(f, 0, 0), 0xFFFF0000u);
  EXPECT_EQ(pixel(f, 1, 0), 0xFF0000FFu);
  QTFileClose(f);

  // 'jpeg': a flat grey picture.
  std::vector<uint8_t> grey(16 * 8 * 3, 128), jpeg;
  ASSERT_TRUE(kav::avi::encodeJpegBgr(grey.data(), 16 * 3, 16, 8, 95, jpeg));
  v.entries = {videoEntry("jpeg", 16, 8, 24)};
  v.uniformSize = static_cast<uint32_t>(jpeg.size());
  kavtest::writeFile(name, movie(jpeg, 600, 600, {v}));
  f = QTFileOpen(name.c_str());
  ASSERT_NE(f, nullptr);
  QTFileGet(f);
  const uint32_t p = pixel(f, 7, 5);
  EXPECT_NEAR(static_cast<int>(p & 0xFF), 128, 3);
  EXPECT_NEAR(static_cast<int>((p >> 16) & 0xFF), 128, 3);
  QTFileClose(f);

  // 'png ': two pixels, written by libpng.
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = 2;
  image.height = 1;
  image.format = PNG_FORMAT_RGB;
  const uint8_t rgb[6] = {1, 2, 3, 200, 100, 50};
  png_alloc_size_t size = 0;
  ASSERT_TRUE(png_image_write_to_memory(&image, nullptr, &size, 0, rgb, 0, nullptr));
  Bytes png(size);
  ASSERT_TRUE(png_image_write_to_memory(&image, png.data(), &size, 0, rgb, 0, nullptr));
  png.resize(size);
  v.entries = {videoEntry("png ", 2, 1, 24)};
  v.uniformSize = static_cast<uint32_t>(png.size());
  kavtest::writeFile(name, movie(png, 600, 600, {v}));
  f = QTFileOpen(name.c_str());
  ASSERT_NE(f, nullptr);
  QTFileGet(f);
  EXPECT_EQ(pixel(f, 0, 0), 0xFF010203u);
  EXPECT_EQ(pixel(f, 1, 0), 0xFFC86432u);
  QTFileClose(f);

  // Another codec does not open.
  v.entries = {videoEntry("cvid", 2, 1, 24)};
  kavtest::writeFile(name, movie(png, 600, 600, {v}));
  EXPECT_EQ(QTFileOpen(name.c_str()), nullptr);
}

TEST(QtFrames, NeedsAnEnabledVideoTrack) {
  kavtest::TempDir dir;
  const std::string name = dir.file("none.mov");
  TrackSpec v{"vide"};
  v.enabled = false;
  v.entries = {videoEntry("raw ", 2, 1, 24)};
  v.times = {{1, 600}};
  v.chunkRuns = {{1, 1}};
  v.uniformSize = 6;
  v.sampleCount = 1;
  v.offsets = {8};
  kavtest::writeFile(name, movie(Bytes(6, 0), 600, 600, {v}));
  EXPECT_EQ(QTFileOpen(name.c_str()), nullptr);
  EXPECT_EQ(QTSFileOpen(name.c_str(), 0), nullptr);
  EXPECT_EQ(QTFileOpen(dir.file("missing.mov").c_str()), nullptr);
}

// A sound track of `frames` frames in chunks of the given sizes.
TrackSpec soundTrack(const Bytes &entry, uint32_t rate, uint32_t frames, const Runs &chunkRuns,
                     const std::vector<uint64_t> &offsets) {
  TrackSpec s{"soun"};
  s.timeScale = rate;
  s.duration = frames;
  s.entries = {entry};
  s.times = {{frames, 1}};
  s.chunkRuns = chunkRuns;
  s.uniformSize = 1;  // one "sample" per frame, the old way
  s.sampleCount = frames;
  s.offsets = offsets;
  return s;
}

std::vector<uint8_t> readAll(QTSFile *s, uint32_t piece) {
  std::vector<uint8_t> out, buf(piece);
  for (;;) {
    const uint32_t n = QTSFileGet(s, buf.data(), piece);
    if (n == 0) break;
    out.insert(out.end(), buf.begin(), buf.begin() + n);
  }
  return out;
}

TEST(QtSound, TwosAndSowtInSeveralChunkRuns) {
  kavtest::TempDir dir;
  const std::string name = dir.file("s.mov");
  // 2000 frames of 16-bit stereo at 1000 Hz: two seconds, so two stretches.
  const uint32_t frames = 2000;
  Bytes be, le, want;
  for (uint32_t i = 0; i < frames * 2; ++i) {
    const auto v = static_cast<uint16_t>(i * 37 + 5);
    be.push_back(static_cast<uint8_t>(v >> 8));
    be.push_back(static_cast<uint8_t>(v));
    le.push_back(static_cast<uint8_t>(v));
    le.push_back(static_cast<uint8_t>(v >> 8));
  }
  want = le;
  // Chunks of 500, 500, 700 and 300 frames: runs starting at chunks 1 and 3.
  const Runs runs = {{1, 500}, {3, 700}, {4, 300}};
  const std::vector<uint64_t> offsets = {8, 8 + 2000, 8 + 4000, 8 + 6800};
  for (int variant = 0; variant < 2; ++variant) {
    const Bytes entry = soundEntry(variant ? "sowt" : "twos", 2, 16, 1000);
    kavtest::writeFile(name, movie(variant ? le : be, 1000, frames, {soundTrack(entry, 1000, frames, runs, offsets)}));
    QTSFile *s = QTSFileOpen(name.c_str(), 0);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->sampleRate, 1000u);
    EXPECT_EQ(s->bits, 16u);
    EXPECT_EQ(s->channels, 2u);
    EXPECT_EQ(s->frameBytes, 4u);
    EXPECT_EQ(s->totalBytes, frames * 4);
    EXPECT_LE(s->pendingBytes, 1000u * 4);  // at most one second converted
    EXPECT_EQ(readAll(s, 333), want) << variant;
    QTSFileGoto(s, 1500);
    const std::vector<uint8_t> tail = readAll(s, 4096);
    EXPECT_EQ(tail, std::vector<uint8_t>(want.begin() + 1500 * 4, want.end()));
    QTSFileClose(s);
  }
  EXPECT_EQ(QTSFileOpen(name.c_str(), 2), nullptr);  // no second sound track
}

TEST(QtSound, EightBitAndWideSources) {
  kavtest::TempDir dir;
  const std::string name = dir.file("b.mov");
  // 'twos' 8-bit is signed: delivered unsigned.
  Bytes data = {0x00, 0x7F, 0x80, 0xFF};
  kavtest::writeFile(name, movie(data, 8000, 4, {soundTrack(soundEntry("twos", 1, 8, 8000), 8000, 4, {{1, 4}}, {8})}));
  QTSFile *s = QTSFileOpen(name.c_str(), 1);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->bits, 8u);
  EXPECT_EQ(readAll(s, 100), (std::vector<uint8_t>{0x80, 0xFF, 0x00, 0x7F}));
  QTSFileClose(s);
  // 'raw ' 8-bit is unsigned already.
  kavtest::writeFile(name, movie(data, 8000, 4, {soundTrack(soundEntry("raw ", 1, 8, 8000), 8000, 4, {{1, 4}}, {8})}));
  s = QTSFileOpen(name.c_str(), 1);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(readAll(s, 100), data);
  QTSFileClose(s);
  // 'lpcm' 24-bit little-endian signed: the top 16 bits.
  Bytes wide = {0x11, 0x22, 0x33, 0xAA, 0xBB, 0xCC};
  TrackSpec t = soundTrack(lpcmEntry(1, 24, 48000.0, 4), 48000, 2, {{1, 2}}, {8});
  t.uniformSize = 3;
  kavtest::writeFile(name, movie(wide, 48000, 2, {t}));
  s = QTSFileOpen(name.c_str(), 0);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->bits, 16u);
  EXPECT_EQ(s->sampleRate, 48000u);
  EXPECT_EQ(readAll(s, 100), (std::vector<uint8_t>{0x22, 0x33, 0xBB, 0xCC}));
  QTSFileClose(s);
  // Floating-point 'lpcm' and compressed sound do not open.
  kavtest::writeFile(name, movie(wide, 48000, 2, {soundTrack(lpcmEntry(1, 32, 48000.0, 1), 48000, 1, {{1, 1}}, {8})}));
  EXPECT_EQ(QTSFileOpen(name.c_str(), 0), nullptr);
  kavtest::writeFile(name, movie(wide, 48000, 2, {soundTrack(soundEntry("ima4", 1, 16, 8000), 8000, 1, {{1, 1}}, {8})}));
  EXPECT_EQ(QTSFileOpen(name.c_str(), 0), nullptr);
}

TEST(QtSound, FailedFirstConversionGivesSixteenBytesOfSilence) {
  kavtest::TempDir dir;
  const std::string name = dir.file("cut.mov");
  // Three seconds of 16-bit stereo at 48 kHz: a second is more than the
  // reader buffers, so the next stretch really goes to the file.
  const uint32_t frames = 3 * 48000;
  const Bytes data(frames * 4, 0x55);
  kavtest::writeFile(name, movie(data, 48000, frames,
                                 {soundTrack(soundEntry("sowt", 2, 16, 48000), 48000, frames, {{1, frames}}, {8})}));
  QTSFile *s = QTSFileOpen(name.c_str(), 0);
  ASSERT_NE(s, nullptr);
  std::vector<uint8_t> buf(192000, 0xEE);
  EXPECT_EQ(QTSFileGet(s, buf.data(), 192000), 192000u);  // the stretch converted at open
  ASSERT_EQ(truncate(name.c_str(), 100), 0);               // the rest of the file goes away
  std::fill(buf.begin(), buf.end(), 0xEE);
  EXPECT_EQ(QTSFileGet(s, buf.data(), 4000), 16u);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(buf[i], 0);
  EXPECT_EQ(buf[16], 0xEE);
  EXPECT_EQ(QTSFileGet(s, buf.data(), 6), 6u);  // never more than asked for
  QTSFileClose(s);
}

TEST(QtFrames, MovieWithSoundReportsIt) {
  kavtest::TempDir dir;
  const std::string name = dir.file("both.mov");
  Bytes data(6 + 2000, 0);
  TrackSpec v{"vide"};
  v.entries = {videoEntry("raw ", 2, 1, 24)};
  v.times = {{1, 600}};
  v.chunkRuns = {{1, 1}};
  v.uniformSize = 6;
  v.sampleCount = 1;
  v.offsets = {8};
  TrackSpec s = soundTrack(soundEntry("twos", 1, 16, 1000), 1000, 1000, {{1, 1000}}, {14});
  kavtest::writeFile(name, movie(data, 600, 600, {v, s}));
  QTFile *f = QTFileOpen(name.c_str());
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->hasSound, 1u);
  QTFileGet(f);
  EXPECT_EQ(f->dataSize, 6u + 2000u);  // the picture and the second of sound with it
  QTFileClose(f);
}

}  // namespace
