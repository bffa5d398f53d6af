// Files our writer makes, read back frame for frame and sample for sample.
#include <gtest/gtest.h>

#include <filesystem>

#include "kavutil/avi.h"
#include "kavutil/kavnames.h"
#include "platform/avi/avi_init.h"
#include "support/temp_dir.h"
#include "tests/avi/avi_builder.h"
#include "tests/avi/avi_test_util.h"

using namespace avitest;

namespace {

struct Movie {
  uint32_t width, height, bits, frames;
  uint32_t soundBytesPerFrame;  // 0: no sound; otherwise blocks written after each frame
  uint32_t riffLimit = avi::kDefaultRiffLimitBytes;
  std::vector<uint32_t> paletteChangesAt = {};
  uint64_t origin = 0;  // where the movie starts in its file
};

// Writes the movie; returns the sound written.
std::vector<uint8_t> writeMovie(const std::string &name, const Movie &m) {
  avi::WriterOptions o;
  o.riffLimitBytes = m.riffLimit;
  o.originBytes = m.origin;
  avi::Writer *w = avi::fileCreate(name.c_str(), &o);
  EXPECT_NE(w, nullptr);
  avi::WriteStream *v = avi::fileCreateStream(w, videoInfo(m.width, m.height, 30000, 1001));
  EXPECT_NE(v, nullptr);
  avi::WriteStream *a = nullptr;
  const avi::WaveFormat wf = pcmFormat(22050, 16, 2);
  std::vector<uint8_t> allSound;
  uint32_t palette = 0;
  for (uint32_t n = 0; n < m.frames; ++n) {
    for (uint32_t at : m.paletteChangesAt)
      if (at == n) palette = n;
    const std::vector<uint8_t> fmt = dibFormat(m.width, m.height, static_cast<uint16_t>(m.bits), paletteFor(palette));
    EXPECT_TRUE(avi::streamSetFormat(v, static_cast<int32_t>(n), fmt.data(), static_cast<int32_t>(fmt.size())));
    const std::vector<uint8_t> bits = pattern(m.width, m.height, m.bits, n);
    int32_t written = 0;
    EXPECT_TRUE(avi::streamWrite(v, static_cast<int32_t>(n), 1, bits.data(), static_cast<int32_t>(bits.size()),
                                 avi::kKeyFrame, nullptr, &written));
    EXPECT_GE(written, static_cast<int32_t>(bits.size()));
    if (m.soundBytesPerFrame) {
      if (!a) {  // the sound stream comes after the first frame, as the graphics output creates it
        a = avi::fileCreateStream(w, audioInfo(wf));
        EXPECT_TRUE(avi::streamSetFormat(a, 0, &wf, sizeof wf));
      }
      const std::vector<uint8_t> s = sound(m.soundBytesPerFrame + (n % 3) * 4, n);
      EXPECT_TRUE(avi::streamWrite(a, 0, static_cast<int32_t>(s.size() / 4), s.data(), static_cast<int32_t>(s.size()),
                                   0, nullptr, nullptr));
      allSound.insert(allSound.end(), s.begin(), s.end());
    }
  }
  avi::streamRelease(v);
  avi::streamRelease(a);
  EXPECT_TRUE(avi::fileRelease(w));
  return allSound;
}

void expectFrames(const std::string &name, const Movie &m) {
  avi::Stream *s = avi::streamOpenFromFileAt(name.c_str(), m.origin, avi::kStreamVideo, 0);
  ASSERT_NE(s, nullptr);
  avi::StreamInfo info;
  ASSERT_TRUE(avi::streamInfo(s, &info));
  EXPECT_EQ(info.dwRate, 30000u);
  EXPECT_EQ(info.dwScale, 1001u);
  EXPECT_EQ(info.dwLength, m.frames);
  EXPECT_EQ(info.rcFrame.right, static_cast<int32_t>(m.width));
  EXPECT_EQ(info.rcFrame.bottom, static_cast<int32_t>(m.height));
  avi::FrameGetter *g = avi::streamGetFrameOpen(s);
  ASSERT_NE(g, nullptr);
  // Forwards, then a few backwards, so palette changes are undone correctly.
  std::vector<uint32_t> order;
  for (uint32_t n = 0; n < m.frames; ++n) order.push_back(n);
  for (uint32_t n = m.frames; n-- > 0;) if (n % 3 == 1) order.push_back(n);
  for (uint32_t n : order) {
    int32_t size = 0;
    ASSERT_EQ(avi::streamRead(s, static_cast<int32_t>(n), 1, nullptr, 0, &size, nullptr), 0);
    EXPECT_EQ(static_cast<uint32_t>(size), avi::dibRowBytes(m.width, m.bits) * m.height);
    const avi::BitmapInfoHeader *b = avi::streamGetFrame(g, static_cast<int32_t>(n));
    ASSERT_NE(b, nullptr) << n;
    EXPECT_EQ(b->biBitCount, m.bits);
    EXPECT_EQ(b->biWidth, static_cast<int32_t>(m.width));
    EXPECT_EQ(b->biHeight, static_cast<int32_t>(m.height));
    const auto *table = afterHeader(b);
    const uint8_t *bits = table + b->biClrUsed * 4;
    const std::vector<uint8_t> want = pattern(m.width, m.height, m.bits, n);
    ASSERT_EQ(std::memcmp(bits, want.data(), want.size()), 0) << "frame " << n;
    if (m.bits == 8) {
      uint32_t palette = 0;
      for (uint32_t at : m.paletteChangesAt)
        if (at <= n) palette = at;
      const std::vector<uint8_t> t = paletteFor(palette);
      ASSERT_EQ(b->biClrUsed, 256u);
      for (int i = 0; i < 256; ++i)
        ASSERT_EQ(std::memcmp(table + i * 4, t.data() + i * 4, 3), 0) << "frame " << n << " entry " << i;
    }
  }
  EXPECT_EQ(avi::streamGetFrame(g, static_cast<int32_t>(m.frames)), nullptr);
  EXPECT_EQ(avi::streamGetFrame(g, -1), nullptr);
  avi::streamGetFrameClose(g);
  avi::streamRelease(s);
}

TEST(AviRoundTrip, TwentyFourBitOddWidthWithSound) {
  kavtest::TempDir dir;
  const std::string name = dir.file("odd.avi");
  const Movie m{33, 17, 24, 12, 1470 * 4 / 2};
  const std::vector<uint8_t> written = writeMovie(name, m);
  expectFrames(name, m);

  avi::Stream *a = avi::streamOpenFromFile(name.c_str(), avi::kStreamAudio, 0);
  ASSERT_NE(a, nullptr);
  avi::StreamInfo info;
  ASSERT_TRUE(avi::streamInfo(a, &info));
  EXPECT_EQ(info.dwLength, written.size() / 4);  // not a whole number of frames' worth
  EXPECT_EQ(info.dwSampleSize, 4u);
  EXPECT_EQ(info.dwRate / info.dwScale, 22050u);
  avi::WaveFormat f{};
  int32_t fsize = sizeof f;
  ASSERT_TRUE(avi::streamReadFormat(a, 0, &f, &fsize));
  EXPECT_EQ(fsize, 16);
  EXPECT_EQ(f.wFormatTag, 1);
  EXPECT_EQ(f.nChannels, 2);
  EXPECT_EQ(f.wBitsPerSample, 16);
  // Whole, in odd pieces, and chunk by chunk: the same bytes.
  EXPECT_EQ(readAllSound(a, 1 << 20), written);
  EXPECT_EQ(readAllSound(a, 777), written);
  EXPECT_EQ(readAllSound(a, avi::kReadConvenient), written);
  // Size queries read nothing and tell what a read would give.
  int32_t bytes = 0, samples = 0;
  ASSERT_EQ(avi::streamRead(a, 100, 50, nullptr, 0, &bytes, &samples), 0);
  EXPECT_EQ(bytes, 200);
  EXPECT_EQ(samples, 50);
  // A buffer smaller than one block fails; past the end gives nothing.
  uint8_t small[3];
  EXPECT_NE(avi::streamRead(a, 0, 1, small, 3, &bytes, &samples), 0);
  EXPECT_EQ(avi::streamRead(a, static_cast<int32_t>(info.dwLength), 10, small, 3, &bytes, &samples), 0);
  EXPECT_EQ(samples, 0);
  avi::streamRelease(a);
  EXPECT_EQ(avi::streamOpenFromFile(name.c_str(), avi::kStreamAudio, 1), nullptr);
}

TEST(AviRoundTrip, EightBitPaletteChangesAsXxpc) {
  kavtest::TempDir dir;
  const std::string name = dir.file("pal.avi");
  Movie m{31, 9, 8, 8, 0};
  m.paletteChangesAt = {3, 6};
  writeMovie(name, m);
  const std::vector<uint8_t> bytes = kavtest::readFile(name);
  EXPECT_NE(find(bytes, "00pc"), std::string::npos);
  EXPECT_EQ(find(bytes, "indx"), std::string::npos);  // small files stay AVI 1.0
  expectFrames(name, m);
}

TEST(AviRoundTrip, PastTheRiffLimitGoesOpenDml) {
  kavtest::TempDir dir;
  const std::string name = dir.file("big.avi");
  Movie m{40, 30, 24, 60, 2940};
  m.riffLimit = 64 * 1024;
  const std::vector<uint8_t> written = writeMovie(name, m);
  const std::vector<uint8_t> bytes = kavtest::readFile(name);
  EXPECT_NE(find(bytes, "AVIX"), std::string::npos);
  EXPECT_NE(find(bytes, "indx"), std::string::npos);
  EXPECT_NE(find(bytes, "ix00"), std::string::npos);
  EXPECT_NE(find(bytes, "ix01"), std::string::npos);
  // Every RIFF segment keeps within the limit.
  for (size_t at = 0; (at = find(bytes, "RIFF", at)) != std::string::npos; at += 4) {
    const uint32_t size = bytes[at + 4] | bytes[at + 5] << 8 | bytes[at + 6] << 16 | bytes[at + 7] << 24;
    EXPECT_LE(size + 8, m.riffLimit);
    at += size;
  }
  expectFrames(name, m);
  avi::Stream *a = avi::streamOpenFromFile(name.c_str(), avi::kStreamAudio, 0);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(readAllSound(a, 1000), written);
  avi::streamRelease(a);

  // Without the idx1 of the first RIFF the OpenDML indexes still find all.
  std::vector<uint8_t> damaged = bytes;
  const size_t idx = find(damaged, "idx1");
  ASSERT_NE(idx, std::string::npos);
  std::memcpy(damaged.data() + idx, "JUNK", 4);
  kavtest::writeFile(name, damaged);
  expectFrames(name, m);
}

TEST(AviRoundTrip, EightBitPalettesSurviveOpenDml) {
  kavtest::TempDir dir;
  const std::string name = dir.file("bigpal.avi");
  Movie m{64, 40, 8, 40, 0};
  m.riffLimit = 32 * 1024;
  m.paletteChangesAt = {5, 21, 33};
  writeMovie(name, m);
  EXPECT_NE(find(kavtest::readFile(name), "AVIX"), std::string::npos);
  expectFrames(name, m);
}

// A movie that starts 5 GiB into a sparse file: every position the writer
// keeps and every offset in the OpenDML indexes lies past 4 GiB, so a
// position cut to 32 bits anywhere in the writer or the reader shows.
TEST(AviRoundTrip, PositionsPast4GiBKeepAll64Bits) {
  kavtest::TempDir dir;
  const std::string name = dir.file("far.avi");
  Movie m{40, 30, 8, 50, 2940};
  m.riffLimit = 48 * 1024;
  m.paletteChangesAt = {7, 31};
  m.origin = (5ull << 30) + 4093;  // odd, and not on a page
  const std::vector<uint8_t> written = writeMovie(name, m);
  EXPECT_GT(std::filesystem::file_size(name), m.origin + 3 * m.riffLimit);  // several segments
  EXPECT_EQ(kavfilesize(name.c_str()), 0xFFFFFFFFu);  // the 32-bit size says "at least this much"
  expectFrames(name, m);
  avi::Stream *a = avi::streamOpenFromFileAt(name.c_str(), m.origin, avi::kStreamAudio, 0);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(readAllSound(a, 1000), written);
  avi::streamRelease(a);
}

TEST(AviRoundTrip, MotionJpegOutput) {
  kavtest::TempDir dir;
  const std::string name = dir.file("mjpg.avi");
  const uint32_t w = 48, h = 32;
  avi::Writer *wr = avi::fileCreate(name.c_str());
  avi::WriteStream *raw = avi::fileCreateStream(wr, videoInfo(w, h, 15, 1));
  avi::WriteStream *v = avi::makeCompressedStream(raw, {avi::kHandlerMjpeg, 9000});
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(avi::makeCompressedStream(raw, {avi::fourcc('c', 'v', 'i', 'd'), 0}), nullptr);
  const std::vector<uint8_t> fmt = dibFormat(w, h, 24, {});
  ASSERT_TRUE(avi::streamSetFormat(v, 0, fmt.data(), static_cast<int32_t>(fmt.size())));
  // Smooth pictures: a gradient whose level moves per frame.
  auto picture = [&](uint32_t n) {
    std::vector<uint8_t> b(avi::dibRowBytes(w, 24) * h);
    for (uint32_t y = 0; y < h; ++y)
      for (uint32_t x = 0; x < w; ++x)
        for (uint32_t c = 0; c < 3; ++c)
          b[y * avi::dibRowBytes(w, 24) + x * 3 + c] = static_cast<uint8_t>(40 + x * 2 + y + c * 30 + n * 10);
    return b;
  };
  for (uint32_t n = 0; n < 4; ++n) {
    const std::vector<uint8_t> b = picture(n);
    ASSERT_TRUE(avi::streamWrite(v, static_cast<int32_t>(n), 1, b.data(), static_cast<int32_t>(b.size()),
                                 avi::kKeyFrame, nullptr, nullptr));
  }
  ASSERT_TRUE(avi::fileRelease(wr));
  avi::Stream *s = avi::streamOpenFromFile(name.c_str(), avi::kStreamVideo, 0);
  ASSERT_NE(s, nullptr);
  avi::StreamInfo info;
  avi::streamInfo(s, &info);
  EXPECT_EQ(info.fccHandler, avi::kHandlerMjpeg);
  avi::FrameGetter *g = avi::streamGetFrameOpen(s);
  ASSERT_NE(g, nullptr);
  for (uint32_t n = 0; n < 4; ++n) {
    const avi::BitmapInfoHeader *b = avi::streamGetFrame(g, static_cast<int32_t>(n));
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->biBitCount, 24);
    EXPECT_EQ(b->biCompression, 0u);
    const auto *bits = afterHeader(b);
    const std::vector<uint8_t> want = picture(n);
    int worst = 0;
    for (size_t i = 0; i < want.size(); ++i) worst = std::max(worst, std::abs(bits[i] - want[i]));
    EXPECT_LE(worst, 12) << "frame " << n;
  }
  avi::streamGetFrameClose(g);
  avi::streamRelease(s);
}

TEST(AviRoundTrip, WriterRefusesWhatItCannotWrite) {
  kavtest::TempDir dir;
  avi::Writer *w = avi::fileCreate(dir.file("x.avi").c_str());
  avi::WriteStream *v = avi::fileCreateStream(w, videoInfo(8, 8, 15, 1));
  const std::vector<uint8_t> fmt = dibFormat(8, 8, 24, {});
  uint8_t frame[8 * 8 * 3] = {};
  EXPECT_FALSE(avi::streamWrite(v, 0, 1, frame, sizeof frame, avi::kKeyFrame, nullptr, nullptr));  // no format yet
  ASSERT_TRUE(avi::streamSetFormat(v, 0, fmt.data(), static_cast<int32_t>(fmt.size())));
  ASSERT_TRUE(avi::streamWrite(v, 0, 1, frame, sizeof frame, avi::kKeyFrame, nullptr, nullptr));
  // Another size after the first frame is no palette change.
  const std::vector<uint8_t> other = dibFormat(16, 8, 24, {});
  EXPECT_FALSE(avi::streamSetFormat(v, 1, other.data(), static_cast<int32_t>(other.size())));
  const std::vector<uint8_t> fourBit = dibFormat(8, 8, 4, {});
  EXPECT_FALSE(avi::streamSetFormat(v, 1, fourBit.data(), static_cast<int32_t>(fourBit.size())));
  for (int i = 0; i < 4; ++i) {
    avi::StreamInfo extra = videoInfo(8, 8, 15, 1);
    avi::fileCreateStream(w, extra);
  }
  EXPECT_EQ(avi::fileCreateStream(w, videoInfo(8, 8, 15, 1)), nullptr);  // no room left in the header
  EXPECT_TRUE(avi::fileRelease(w));
}

TEST(AviRoundTrip, InitialiseOnce) {
  KAVAVIInit();
  KAVAVIInit();
  EXPECT_TRUE(kav::avi::aviInitialised());
}

}  // namespace
