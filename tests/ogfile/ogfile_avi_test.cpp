// The AVI target: frames and sound written from synthetic input and read
// back with our AVI reader; the sound amounts; a full disk part of the way.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "kavutil/kavnames.h"
#include "kavutil/ogfile.h"
#include "ogfile/ogfile_internal.h"
#include "ogfile/ogfile_test_util.h"
#include "platform/avi/avi_file.h"
#include "support/temp_dir.h"

namespace {

namespace avi = kav::avi;
using ogtest::messages;
using ogtest::recordCallback;

// What a frame of the movie should look like, as 0x00RRGGBB, top row first.
using Picture = std::vector<uint32_t>;

Picture fromTrueColour(const std::vector<uint32_t> &f, uint32_t w, uint32_t h, uint32_t pitch) {
  Picture p(size_t{w} * h);
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x) p[y * w + x] = f[y * pitch + x] & 0xFFFFFF;
  return p;
}

Picture fromPaletted(const std::vector<uint8_t> &f, const std::vector<uint8_t> &pal, uint32_t w, uint32_t h,
                     uint32_t pitch) {
  Picture p(size_t{w} * h);
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x) {
      const uint8_t *c = &pal[3 * f[y * pitch + x]];
      p[y * w + x] = uint32_t{c[0]} << 16 | c[1] << 8 | c[2];
    }
  return p;
}

struct Movie {
  avi::Stream *video = nullptr;
  avi::FrameGetter *getter = nullptr;
  explicit Movie(const std::string &name) {
    video = avi::streamOpenFromFile(name.c_str(), avi::kStreamVideo, 0);
    if (video) getter = avi::streamGetFrameOpen(video);
  }
  ~Movie() {
    if (getter) avi::streamGetFrameClose(getter);
    if (video) avi::streamRelease(video);
  }
  avi::StreamInfo info() const {
    avi::StreamInfo i{};
    avi::streamInfo(video, &i);
    return i;
  }
  // Frame n as 0x00RRGGBB, top row first; the largest channel difference
  // from `want` goes to *worst.
  int compare(int32_t n, const Picture &want, uint32_t w, uint32_t h) const {
    const avi::BitmapInfoHeader *b = avi::streamGetFrame(getter, n);
    if (!b || b->biWidth != static_cast<int32_t>(w) || b->biHeight != static_cast<int32_t>(h)) return 1000;
    const auto *table = reinterpret_cast<const uint8_t *>(b) + b->biSize;
    const uint8_t *bits = table + 4 * b->biClrUsed;
    const uint32_t row = avi::dibRowBytes(w, b->biBitCount);
    int worst = 0;
    for (uint32_t y = 0; y < h; ++y) {
      const uint8_t *r = bits + size_t{row} * (h - 1 - y);
      for (uint32_t x = 0; x < w; ++x) {
        const uint8_t *c = b->biBitCount == 8 ? table + 4 * r[x] : r + 3 * x;
        const uint32_t got = uint32_t{c[2]} << 16 | c[1] << 8 | c[0];
        for (int s = 0; s < 24; s += 8)
          worst = std::max(worst, std::abs(static_cast<int>((got >> s) & 0xFF) -
                                            static_cast<int>((want[y * w + x] >> s) & 0xFF)));
      }
    }
    return worst;
  }
};

std::vector<uint8_t> readSound(const std::string &name, avi::StreamInfo *info) {
  avi::Stream *a = avi::streamOpenFromFile(name.c_str(), avi::kStreamAudio, 0);
  if (!a) return {};
  avi::streamInfo(a, info);
  std::vector<uint8_t> all;
  std::vector<uint8_t> buf(1 << 16);
  int32_t pos = avi::streamStart(a);
  const int32_t end = pos + avi::streamLength(a);
  while (pos < end) {
    int32_t bytes = 0, samples = 0;
    if (avi::streamRead(a, pos, end - pos, buf.data(), static_cast<int32_t>(buf.size()), &bytes, &samples) != 0 ||
        samples <= 0)
      break;
    all.insert(all.end(), buf.begin(), buf.begin() + bytes);
    pos += samples;
  }
  avi::streamRelease(a);
  return all;
}

uint8_t soundByte(uint32_t i) { return static_cast<uint8_t>(i * 131 + (i >> 9)); }

// Feeds one frame's sound as the handle asks for it; returns the amount.
uint32_t feedSound(OGFile *o, uint32_t rate, uint32_t bits, uint32_t channels, std::vector<uint8_t> &given) {
  const uint32_t amount = OGFilePutSoundAmount(o, rate, bits, channels);
  std::vector<uint8_t> chunk(amount);
  for (uint32_t i = 0; i < amount; ++i) chunk[i] = soundByte(static_cast<uint32_t>(given.size()) + i);
  OGFilePutSound(o, chunk.data(), amount);
  given.insert(given.end(), chunk.begin(), chunk.end());
  return amount;
}

uint32_t le32(const std::vector<uint8_t> &b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t{b[at + 3]} << 24;
}
size_t findTag(const std::vector<uint8_t> &b, const char *tag, size_t from = 0) {
  for (size_t i = from; i + 4 <= b.size(); ++i)
    if (std::memcmp(&b[i], tag, 4) == 0) return i;
  return std::string::npos;
}

TEST(OGFileAvi, TrueColourAndPalettedFramesReadBack) {
  kavtest::TempDir tmp;
  const uint32_t w = 13, h = 9, pitch = 16;
  for (uint32_t mode : {0u, 1u}) {
    SCOPED_TRACE(mode ? "8-bit" : "24-bit");
    const std::string name = tmp.file(mode ? "p.avi" : "t.avi");
    OGFile *o = OGFileCreate(0, name.c_str(), 7, 30000, 1001, w, h, pitch, nullptr, OGFILE_OVERWRITE, mode);
    ASSERT_NE(o, nullptr);
    EXPECT_EQ(o->aviReady, 1u);
    EXPECT_EQ(o->dibPitch, -static_cast<int32_t>(avi::dibRowBytes(w, mode ? 8 : 24)));
    EXPECT_EQ(OGFilePutSoundAmount(o, 0, 16, 1), 0u);  // an unusable format gives no sound track
    std::vector<Picture> want;
    uint32_t written = 0;
    for (uint32_t n = 0; n < 7; ++n) {
      if (mode) {
        const auto f = ogtest::pagedFrame(w, h, pitch, n);
        const auto pal = ogtest::palette(n / 3 * 50);  // changes at frames 3 and 6
        OGFilePut(o, f.data(), pal.data());
        want.push_back(fromPaletted(f, pal, w, h, pitch));
      } else {
        const auto f = ogtest::trueColourFrame(w, h, pitch, n);
        OGFilePut(o, f.data(), nullptr);
        want.push_back(fromTrueColour(f, w, h, pitch));
      }
      EXPECT_EQ(o->frameNumber, n + 1);
      written += avi::dibRowBytes(w, mode ? 8 : 24) * h + 8;
    }
    EXPECT_EQ(o->bytesWritten, written);
    EXPECT_EQ(o->errorFlag, 0u);
    const uint32_t size = OGFileClose(o);
    EXPECT_EQ(size, kavfilesize(name.c_str()));
    Movie m(name);
    ASSERT_NE(m.getter, nullptr);
    const avi::StreamInfo i = m.info();
    EXPECT_EQ(i.dwLength, 7u);
    EXPECT_EQ(i.dwScale, 1001u);
    EXPECT_EQ(i.dwRate, 30000u);
    EXPECT_EQ(i.fccHandler, avi::fourcc('D', 'I', 'B', ' '));  // names no codec, so players take raw frames
    for (int32_t n = 0; n < 7; ++n) EXPECT_EQ(m.compare(n, want[n], w, h), 0) << "frame " << n;
  }
}

TEST(OGFileAvi, MotionJpegIsTheCompressorOnOffer) {
  kavtest::TempDir tmp;
  const std::string name = tmp.file("m.avi");
  const uint32_t w = 32, h = 16;
  const OGFileCompressor mjpg{OGFILE_COMPRESS_MJPEG, 0};
  OGFile *o = OGFileCreateCompressed(0, name.c_str(), 3, 25, 1, w, h, w, nullptr, OGFILE_OVERWRITE, 1, &mjpg);
  ASSERT_NE(o, nullptr);
  EXPECT_NE(o->videoStream, o->uncompressedStream);
  std::vector<Picture> want;
  for (uint32_t n = 0; n < 3; ++n) {
    std::vector<uint8_t> f(w * h);
    for (uint32_t i = 0; i < w * h; ++i) f[i] = static_cast<uint8_t>((i % w) * 8);  // smooth: JPEG keeps it well
    const auto pal = ogtest::palette(n * 20);
    std::vector<uint8_t> grey(768);
    for (int k = 0; k < 768; ++k) grey[k] = static_cast<uint8_t>(k / 3 + n * 10);
    OGFilePut(o, f.data(), grey.data());
    want.push_back(fromPaletted(f, grey, w, h, w));
  }
  OGFileClose(o);
  Movie m(name);
  ASSERT_NE(m.getter, nullptr);
  EXPECT_EQ(m.info().fccHandler, avi::kHandlerMjpeg);
  for (int32_t n = 0; n < 3; ++n) EXPECT_LT(m.compare(n, want[n], w, h), 12) << "frame " << n;
}

TEST(OGFileAvi, SoundAmountsRunThreeQuartersOfASecondAhead) {
  kavtest::TempDir tmp;
  const std::string name = tmp.file("s.avi");
  OGFile *o = OGFileCreate(0, name.c_str(), 30, 15, 1, 8, 8, 8, nullptr, OGFILE_OVERWRITE, 0);
  ASSERT_NE(o, nullptr);
  std::vector<uint8_t> given;
  const auto f = ogtest::trueColourFrame(8, 8, 8, 0);
  std::vector<uint32_t> amounts;
  for (uint32_t n = 0; n < 30; ++n) {
    amounts.push_back(feedSound(o, 22050, 16, 1, given));
    if (n == 0) {
      EXPECT_EQ(o->soundPreload, 33080u);
      EXPECT_EQ(o->soundAllowance, 88200u - 33080u);
    }
    OGFilePut(o, f.data(), nullptr);
  }
  EXPECT_EQ(amounts[0], 33080u);
  for (int n = 1; n <= 18; ++n) EXPECT_EQ(amounts[n], 2940u) << n;
  EXPECT_EQ(amounts[19], 88200u - 33080u - 18 * 2940u);  // the movie's end
  for (int n = 20; n < 30; ++n) EXPECT_EQ(amounts[n], 0u) << n;
  EXPECT_EQ(o->soundCalls, 30u);
  EXPECT_EQ(o->soundPosition, 44100u);
  EXPECT_EQ(o->soundBytesWritten, 88200u);
  EXPECT_EQ(o->soundAllowance, 0u);
  const uint8_t fmt[18] = {1, 0, 1, 0, 0x22, 0x56, 0, 0, 0x44, 0xAC, 0, 0, 2, 0, 16, 0, 0, 0};
  EXPECT_EQ(std::memcmp(o->soundFormat, fmt, 18), 0);
  OGFilePutSound(o, given.data(), 3);  // one whole block, one broken byte
  EXPECT_EQ(o->soundPosition, 44101u);
  OGFileClose(o);
  avi::StreamInfo info{};
  auto sound = readSound(name, &info);
  given.resize(88202);
  given[88200] = given[0];
  given[88201] = given[1];
  EXPECT_EQ(sound, given);
  EXPECT_EQ(info.dwInitialFrames, 16540u);
  EXPECT_EQ(info.dwScale, 2u);
  EXPECT_EQ(info.dwRate, 44100u);
  EXPECT_EQ(info.dwSampleSize, 2u);
  // The main header's data rate: 15 frames of 8 x 8 x 3 bytes and 44100
  // bytes of sound per second.
  const auto bytes = kavtest::readFile(name);
  const size_t avih = findTag(bytes, "avih");
  ASSERT_NE(avih, std::string::npos);
  EXPECT_EQ(le32(bytes, avih + 8 + 4), 15u * 8 * 8 * 3 + 44100);

  // Other targets take no sound.
  o = OGFileCreate(0, tmp.file("x.flc").c_str(), 30, 15, 1, 8, 8, 8, nullptr, OGFILE_OVERWRITE, 1);
  ASSERT_NE(o, nullptr);
  EXPECT_EQ(OGFilePutSoundAmount(o, 22050, 16, 1), 0u);
  OGFilePutSound(o, given.data(), 100);
  EXPECT_EQ(o->soundCalls, 0u);
  OGFileClose(o);
}

TEST(OGFileAvi, ALongMovieKeepsItsSoundToTheSample) {
  kavtest::TempDir tmp;
  const std::string name = tmp.file("long.avi");
  const uint32_t frames = 1800;  // a minute at 29.97 frames per second
  OGFile *o = OGFileCreate(0, name.c_str(), frames, 30000, 1001, 4, 4, 4, nullptr, OGFILE_OVERWRITE, 0);
  ASSERT_NE(o, nullptr);
  std::vector<uint8_t> given;
  const auto f = ogtest::trueColourFrame(4, 4, 4, 0);
  for (uint32_t n = 0; n < frames; ++n) {
    EXPECT_EQ(feedSound(o, 44100, 16, 2, given) % 4, 0u);
    OGFilePut(o, f.data(), nullptr);
  }
  OGFileClose(o);
  // 1800 * 1001 / 30000 seconds of 44100 samples: 2648646 samples.
  const uint64_t samples = uint64_t{44100} * frames * 1001 / 30000;
  EXPECT_EQ(given.size(), samples * 4);
  avi::StreamInfo info{};
  const auto sound = readSound(name, &info);
  EXPECT_EQ(info.dwLength, samples);
  EXPECT_EQ(sound.size(), given.size());
  EXPECT_TRUE(sound == given);
  Movie m(name);
  EXPECT_EQ(m.info().dwLength, frames);
}

TEST(OGFileAvi, LargeFilesGoOnInOpenDmlSegments) {
  kavtest::TempDir tmp;
  const std::string name = tmp.file("odml.avi");
  kav::og::Settings s;
  s.writer.riffLimitBytes = 64 * 1024;
  OGFile *o = kav::og::createWith(name.c_str(), 40, 10, 1, 40, 30, 40, nullptr, OGFILE_OVERWRITE, 1, s);
  ASSERT_NE(o, nullptr);
  std::vector<Picture> want;
  std::vector<uint8_t> given;
  for (uint32_t n = 0; n < 40; ++n) {
    feedSound(o, 8000, 8, 1, given);
    const auto f = ogtest::pagedFrame(40, 30, 40, n);
    const auto pal = ogtest::palette(n / 10);
    OGFilePut(o, f.data(), pal.data());
    want.push_back(fromPaletted(f, pal, 40, 30, 40));
  }
  EXPECT_EQ(o->errorFlag, 0u);
  OGFileClose(o);
  EXPECT_NE(findTag(kavtest::readFile(name), "AVIX"), std::string::npos);
  Movie m(name);
  ASSERT_NE(m.getter, nullptr);
  EXPECT_EQ(m.info().dwLength, 40u);
  for (int32_t n = 0; n < 40; ++n) EXPECT_EQ(m.compare(n, want[n], 40, 30), 0) << "frame " << n;
  avi::StreamInfo info{};
  EXPECT_EQ(readSound(name, &info), given);
}

// The RIFFs of a file and the whole video chunks in their movi lists, each
// list taken only as far as its own and its RIFF's size say.
struct Held {
  uint32_t riffs = 0, frames = 0;
};
Held heldFrames(const std::vector<uint8_t> &b) {
  Held held;
  for (size_t riff = 0; riff + 12 <= b.size() && findTag(b, "RIFF", riff) == riff;) {
    const size_t riffEnd = std::min<size_t>(b.size(), riff + 8 + uint64_t{le32(b, riff + 4)});
    ++held.riffs;
    for (size_t p = riff + 12; p + 12 <= riffEnd; p += 8 + uint64_t{le32(b, p + 4)} + (le32(b, p + 4) & 1)) {
      if (le32(b, p) != avi::fourcc('L', 'I', 'S', 'T') || le32(b, p + 8) != avi::fourcc('m', 'o', 'v', 'i')) continue;
      const size_t moviEnd = std::min<size_t>(riffEnd, p + 8 + uint64_t{le32(b, p + 4)});
      for (size_t c = p + 12; c + 8 <= moviEnd;) {
        const uint32_t size = le32(b, c + 4);
        if (c + 8 + uint64_t{size} > moviEnd) break;
        if (le32(b, c) == avi::fourcc('0', '0', 'd', 'b')) ++held.frames;
        c += 8 + uint64_t{size} + (size & 1);
      }
    }
    riff = riffEnd + (riffEnd & 1);
  }
  return held;
}

// Frames listed by the video stream's OpenDML indexes: the super index in
// its stream header and the standard indexes it points to.
uint32_t superIndexedFrames(const std::vector<uint8_t> &b) {
  const size_t indx = findTag(b, "indx");
  if (indx == std::string::npos) return 0;
  uint32_t frames = 0;
  const uint32_t inUse = le32(b, indx + 8 + 4);
  for (uint32_t i = 0; i < inUse; ++i) {
    const size_t e = indx + 8 + 24 + 16 * size_t{i};
    const uint64_t at = le32(b, e) | uint64_t{le32(b, e + 4)} << 32;
    if (at + 32 > b.size() || std::memcmp(&b[at], "ix00", 4) != 0) return 0;
    frames += le32(b, at + 8 + 4);
  }
  return frames;
}

// Writes 40 frames with sound while no file may pass `limit` bytes, then
// checks that the file's headers describe exactly what it holds.
void fillTheDisk(uint32_t limit, uint32_t mode, bool roomForIndex, uint32_t riffLimit = 0, uint32_t riffs = 1) {
  kavtest::TempDir tmp;
  const std::string name = tmp.file("full.avi");
  const uint32_t w = 64, h = 48;
  messages().clear();
  std::vector<Picture> want;
  std::vector<uint8_t> given;
  {
    ogtest::FileSizeLimit cap(limit);
    kav::og::Settings settings;
    if (riffLimit) settings.writer.riffLimitBytes = riffLimit;
    OGFile *o = kav::og::createWith(name.c_str(), 40, 25, 1, w, h, w, recordCallback, OGFILE_OVERWRITE, mode, settings);
    ASSERT_NE(o, nullptr);
    for (uint32_t n = 0; n < 40; ++n) {
      feedSound(o, 11025, 16, 1, given);
      if (mode) {
        const auto f = ogtest::pagedFrame(w, h, w, n);
        const auto pal = ogtest::palette(n);
        OGFilePut(o, f.data(), pal.data());
        want.push_back(fromPaletted(f, pal, w, h, w));
      } else {
        const auto f = ogtest::trueColourFrame(w, h, w, n);
        OGFilePut(o, f.data(), nullptr);
        want.push_back(fromTrueColour(f, w, h, w));
      }
    }
    OGFileClose(o);
  }
  ASSERT_EQ(messages().size(), 1u);
  EXPECT_EQ(messages()[0].text, "Error writing the output file.");
  EXPECT_EQ(messages()[0].code, 2);
  const auto bytes = kavtest::readFile(name);
  EXPECT_LE(bytes.size(), limit);
  // idx1 goes in when the bytes after the last whole chunk can take it.
  EXPECT_EQ(findTag(bytes, "idx1") != std::string::npos, roomForIndex);

  Movie m(name);
  ASSERT_NE(m.getter, nullptr);
  const uint32_t kept = m.info().dwLength;
  EXPECT_GT(kept, 2u);
  EXPECT_LT(kept, 40u);
  for (uint32_t n = 0; n < kept; ++n) EXPECT_EQ(m.compare(static_cast<int32_t>(n), want[n], w, h), 0) << n;
  // The headers themselves say so: avih's frame count and each strh length.
  const size_t avih = findTag(bytes, "avih");
  ASSERT_NE(avih, std::string::npos);
  if (!riffLimit) {
    EXPECT_EQ(le32(bytes, avih + 8 + 16), kept);
  } else {
    EXPECT_NE(findTag(bytes, "AVIX"), std::string::npos);
    const size_t dmlh = findTag(bytes, "dmlh");
    ASSERT_NE(dmlh, std::string::npos);
    EXPECT_EQ(le32(bytes, dmlh + 8), kept);
    // Every frame the file holds is listed in the OpenDML indexes, which
    // players use to find the frames of the later segments.
    const Held held = heldFrames(bytes);
    EXPECT_EQ(held.riffs, riffs);
    EXPECT_EQ(held.frames, kept);
    EXPECT_EQ(superIndexedFrames(bytes), kept);
  }
  // Headers rebuilt after the failure give the same handler and data rate as
  // a whole file: 25 frames and 22050 bytes of sound per second.
  EXPECT_EQ(le32(bytes, avih + 8 + 4), 25 * avi::dibRowBytes(w, mode ? 8 : 24) * h + 22050);
  const size_t videoStrh = findTag(bytes, "strh");
  ASSERT_NE(videoStrh, std::string::npos);
  EXPECT_EQ(le32(bytes, videoStrh + 8 + 4), avi::fourcc('D', 'I', 'B', ' '));
  EXPECT_EQ(le32(bytes, videoStrh + 8 + 32), kept);
  const size_t soundStrh = findTag(bytes, "strh", videoStrh + 4);
  ASSERT_NE(soundStrh, std::string::npos);
  avi::StreamInfo info{};
  const auto sound = readSound(name, &info);
  EXPECT_EQ(le32(bytes, soundStrh + 8 + 32), sound.size() / 2);
  ASSERT_LE(sound.size(), given.size());
  EXPECT_TRUE(std::equal(sound.begin(), sound.end(), given.begin()));
  EXPECT_GT(sound.size(), 11025u);  // the preload at least
}

TEST(OGFileAvi, AFullDiskLeavesHeadersForWhatReachedTheFile) {
  fillTheDisk(150000, 0, true);
  fillTheDisk(90000, 1, true);
  // A limit (for this writer's layout) that leaves too few bytes after the
  // last whole chunk for idx1: the movi list then ends the file.
  fillTheDisk(111188, 1, false);
}

TEST(OGFileAvi, AFullDiskPastTheFirstSegmentKeepsTheSegmentsThatReachedIt) {
  fillTheDisk(120000, 1, true, 32 * 1024, 4);  // the first RIFF's idx1 stays
  fillTheDisk(100000, 0, true, 40 * 1024, 3);  // cut in the third segment
  fillTheDisk(101000, 0, true, 40 * 1024, 3);
}

// A real movie past 4 GiB: uncompressed 640 x 480 at 30 frames per second
// with CD sound, written through the public calls and read back frame for
// frame and sample for sample. It takes minutes and 4.4 GB of disk, so it
// runs only when asked: KAV_BIG_AVI names the file to write (kept, to be
// played by other programs).
TEST(OGFileAvi, AMoviePast4GiBWritesAndReadsBack) {
  const char *name = std::getenv("KAV_BIG_AVI");
  if (!name || !*name) GTEST_SKIP() << "set KAV_BIG_AVI to a file name to write a movie past 4 GiB";
  const uint32_t w = 640, h = 480, frames = 4700;  // 156.7 seconds, about 4.36 GB
  auto frame = [&](uint32_t n) {
    std::vector<uint32_t> f(size_t{w} * h);
    for (uint32_t y = 0; y < h; ++y)
      for (uint32_t x = 0; x < w; ++x) f[size_t{y} * w + x] = ((x + n) & 0xFF) << 16 | ((y * 3 + n) & 0xFF) << 8 | (n & 0xFF);
    return f;
  };
  using Clock = std::chrono::steady_clock;
  const auto t0 = Clock::now();
  OGFile *o = OGFileCreate(0, name, frames, 30, 1, w, h, w, nullptr, OGFILE_OVERWRITE, 0);
  ASSERT_NE(o, nullptr);
  std::vector<uint8_t> given;
  for (uint32_t n = 0; n < frames; ++n) {
    const uint32_t amount = OGFilePutSoundAmount(o, 44100, 16, 2);
    std::vector<uint8_t> chunk(amount);
    for (uint32_t i = 0; i < amount; ++i) chunk[i] = soundByte(static_cast<uint32_t>(given.size()) + i);
    OGFilePutSound(o, chunk.data(), amount);
    given.insert(given.end(), chunk.begin(), chunk.end());
    OGFilePut(o, frame(n).data(), nullptr);
  }
  EXPECT_EQ(o->errorFlag, 0u);
  EXPECT_EQ(OGFileClose(o), 0xFFFFFFFFu);  // the 32-bit size says "at least this much"
  const auto t1 = Clock::now();
  const uint64_t bytes = std::filesystem::file_size(name);
  EXPECT_GT(bytes, 0x100000000ull);

  Movie m(name);
  ASSERT_NE(m.getter, nullptr);
  ASSERT_EQ(m.info().dwLength, frames);
  for (uint32_t n = 0; n < frames; ++n) {
    const auto f = frame(n);
    ASSERT_EQ(m.compare(static_cast<int32_t>(n), fromTrueColour(f, w, h, w), w, h), 0) << "frame " << n;
  }
  avi::StreamInfo info{};
  EXPECT_TRUE(readSound(name, &info) == given);
  const auto t2 = Clock::now();
  const double writeSeconds = std::chrono::duration<double>(t1 - t0).count();
  const double readSeconds = std::chrono::duration<double>(t2 - t1).count();
  std::printf("%llu bytes, %u frames: written in %.1f s (%.0f MB/s), read back and compared in %.1f s (%.0f MB/s)\n",
              static_cast<unsigned long long>(bytes), frames, writeSeconds, bytes / writeSeconds / 1e6, readSeconds,
              bytes / readSeconds / 1e6);
}

}  // namespace
