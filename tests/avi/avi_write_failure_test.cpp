// Movies whose writing runs out of room part of the way (a file size limit
// stands in for a full disk): the file must still open, and its headers and
// indexes must describe exactly the chunks that reached it whole.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <cstring>
#include <string>
#include <vector>

#include "support/file_size_limit.h"
#include "support/temp_dir.h"
#include "tests/avi/avi_test_util.h"

using namespace avitest;

using kavtest::FileSizeLimit;

namespace {


constexpr uint32_t kWidth = 40, kHeight = 30, kFrames = 24, kSoundBytes = 588;

uint32_t le32(const std::vector<uint8_t> &b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}
uint32_t cc(const char *s) { return avi::fourcc(s[0], s[1], s[2], s[3]); }

struct Outcome {
  bool released = false;
  uint32_t acceptedFrames = 0;  // streamWrite calls that returned true
};

Outcome writeMovie(const std::string &name, uint32_t riffLimit, bool withSound) {
  Outcome out;
  avi::WriterOptions o;
  o.riffLimitBytes = riffLimit;
  avi::Writer *w = avi::fileCreate(name.c_str(), &o);
  if (!w) return out;
  avi::WriteStream *v = avi::fileCreateStream(w, videoInfo(kWidth, kHeight, 25, 1));
  const std::vector<uint8_t> fmt = dibFormat(kWidth, kHeight, 24, {});
  avi::streamSetFormat(v, 0, fmt.data(), static_cast<int32_t>(fmt.size()));
  avi::WriteStream *a = nullptr;
  const avi::WaveFormat wf = pcmFormat(11025, 16, 2);
  if (withSound) {
    a = avi::fileCreateStream(w, audioInfo(wf));
    avi::streamSetFormat(a, 0, &wf, sizeof wf);
  }
  bool failed = false;
  for (uint32_t n = 0; n < kFrames; ++n) {
    const std::vector<uint8_t> bits = pattern(kWidth, kHeight, 24, n);
    const bool ok = avi::streamWrite(v, static_cast<int32_t>(n), 1, bits.data(), static_cast<int32_t>(bits.size()),
                                     avi::kKeyFrame, nullptr, nullptr);
    // Once a write has failed, nothing more is taken.
    if (failed) {
      EXPECT_FALSE(ok) << "frame " << n;
    }
    if (!ok) failed = true;
    if (ok) ++out.acceptedFrames;
    if (a) {
      const std::vector<uint8_t> s = sound(kSoundBytes, n);
      if (!avi::streamWrite(a, 0, kSoundBytes / 4, s.data(), kSoundBytes, 0, nullptr, nullptr)) failed = true;
    }
  }
  out.released = avi::fileRelease(w);
  return out;
}

// What the file holds, walked by hand: the whole chunks of every movi list
// and the RIFF sizes, up to where the file ends.
struct Layout {
  uint32_t wholeFrames = 0, wholeSoundBytes = 0;
  uint32_t framesBeforeLastRiff = 0;
  uint32_t riffs = 0;
  bool hdrl = false;
  bool idx1 = false;
  uint32_t idx1Entries = 0, moviChunksFirstRiff = 0;
  bool sizesInside = true;  // every RIFF and movi size within the file
};

Layout walk(const std::vector<uint8_t> &b) {
  Layout l;
  size_t riff = 0;
  while (riff + 12 <= b.size() && le32(b, riff) == cc("RIFF")) {
    const uint32_t riffSize = le32(b, riff + 4);
    if (riff + 8 + uint64_t{riffSize} > b.size()) l.sizesInside = false;
    const size_t riffEnd = std::min<size_t>(b.size(), riff + 8 + uint64_t{riffSize});
    ++l.riffs;
    l.framesBeforeLastRiff = l.wholeFrames;
    size_t p = riff + 12;
    while (p + 8 <= riffEnd) {
      const uint32_t id = le32(b, p), size = le32(b, p + 4);
      if (id == cc("LIST") && p + 12 <= riffEnd && le32(b, p + 8) == cc("hdrl")) l.hdrl = true;
      if (id == cc("LIST") && p + 12 <= riffEnd && le32(b, p + 8) == cc("movi")) {
        if (p + 8 + uint64_t{size} > riffEnd) l.sizesInside = false;
        const size_t moviEnd = std::min<size_t>(riffEnd, p + 8 + uint64_t{size});
        size_t c = p + 12;
        while (c + 8 <= moviEnd) {
          const uint32_t cid = le32(b, c), csize = le32(b, c + 4);
          const uint64_t next = c + 8 + uint64_t{csize} + (csize & 1);
          if (next > moviEnd) break;
          if (l.riffs == 1) ++l.moviChunksFirstRiff;
          if (cid == cc("00db")) ++l.wholeFrames;
          if (cid == cc("01wb")) l.wholeSoundBytes += csize;
          c = static_cast<size_t>(next);
        }
      }
      if (id == cc("idx1") && l.riffs == 1) {
        l.idx1 = true;
        l.idx1Entries = size / 16;
      }
      p += 8 + uint64_t{size} + (size & 1);
    }
    riff = riffEnd;
  }
  return l;
}

// Every frame the reader offers is the one written.
uint32_t readFrames(const std::string &name) {
  avi::Stream *s = avi::streamOpenFromFile(name.c_str(), avi::kStreamVideo, 0);
  EXPECT_NE(s, nullptr);
  if (!s) return 0;
  const auto length = static_cast<uint32_t>(avi::streamLength(s));
  avi::FrameGetter *g = avi::streamGetFrameOpen(s);
  EXPECT_NE(g, nullptr);
  for (uint32_t n = 0; g && n < length; ++n) {
    const avi::BitmapInfoHeader *b = avi::streamGetFrame(g, static_cast<int32_t>(n));
    EXPECT_NE(b, nullptr) << n;
    if (!b) break;
    const std::vector<uint8_t> want = pattern(kWidth, kHeight, 24, n);
    EXPECT_EQ(std::memcmp(afterHeader(b), want.data(), want.size()), 0) << "frame " << n;
  }
  if (g) avi::streamGetFrameClose(g);
  avi::streamRelease(s);
  return length;
}

// The sound the reader offers, checked against what was written; its
// length in blocks.
uint32_t soundLength(const std::string &name) {
  avi::Stream *s = avi::streamOpenFromFile(name.c_str(), avi::kStreamAudio, 0);
  EXPECT_NE(s, nullptr);
  if (!s) return 0;
  const auto length = static_cast<uint32_t>(avi::streamLength(s));
  const std::vector<uint8_t> all = readAllSound(s, avi::kReadConvenient);
  avi::streamRelease(s);
  EXPECT_EQ(all.size(), size_t{length} * 4);
  std::vector<uint8_t> want;
  for (uint32_t n = 0; want.size() < all.size(); ++n) {
    const std::vector<uint8_t> piece = sound(kSoundBytes, n);
    want.insert(want.end(), piece.begin(), piece.end());
  }
  want.resize(all.size());
  EXPECT_TRUE(all == want);
  return length;
}

// Caps spread over the movi list, some just at a chunk's end, some inside.
std::vector<uint32_t> capsFor(const std::vector<uint8_t> &full, uint32_t from) {
  std::vector<uint32_t> caps;
  const auto size = static_cast<uint32_t>(full.size());
  for (uint32_t c = from; c < size; c += (size - from) / 17 + 1) caps.push_back(c);
  caps.push_back(size - 1);
  return caps;
}

uint32_t moviDataStart(const std::vector<uint8_t> &full) {
  for (size_t p = 12; p + 12 <= full.size(); p += 8 + le32(full, p + 4))
    if (le32(full, p) == cc("LIST") && le32(full, p + 8) == cc("movi")) return static_cast<uint32_t>(p + 12);
  return 0;
}

TEST(AviWriteFailure, SingleRiffDescribesExactlyTheWholeChunks) {
  kavtest::TempDir dir;
  const std::string fullName = dir.file("full.avi");
  ASSERT_TRUE(writeMovie(fullName, avi::kDefaultRiffLimitBytes, true).released);
  const std::vector<uint8_t> full = kavtest::readFile(fullName);
  const uint32_t movi = moviDataStart(full);
  ASSERT_GT(movi, 0u);
  std::vector<uint32_t> caps = capsFor(full, movi + 1);
  // Exactly at the end of the third frame (frame, sound, frame, sound, ...).
  caps.push_back(movi + 2 * (8 + 3600) + 3 * (8 + kSoundBytes) - (8 + kSoundBytes));
  bool sawIdx1 = false, sawNoIdx1 = false;
  for (uint32_t cap : caps) {
    SCOPED_TRACE("cap " + std::to_string(cap));
    const std::string name = dir.file("cut" + std::to_string(cap) + ".avi");
    Outcome out;
    {
      FileSizeLimit limit(cap);
      out = writeMovie(name, avi::kDefaultRiffLimitBytes, true);
    }
    EXPECT_FALSE(out.released);
    const std::vector<uint8_t> b = kavtest::readFile(name);
    ASSERT_LE(b.size(), cap);
    const Layout l = walk(b);
    EXPECT_TRUE(l.hdrl);
    EXPECT_TRUE(l.sizesInside);
    EXPECT_EQ(l.riffs, 1u);
    if (l.idx1) {
      EXPECT_EQ(l.idx1Entries, l.moviChunksFirstRiff);
      sawIdx1 = true;
    } else {
      sawNoIdx1 = true;
    }
    EXPECT_LE(l.wholeFrames, out.acceptedFrames);
    EXPECT_EQ(readFrames(name), l.wholeFrames);
    EXPECT_EQ(soundLength(name) * 4, l.wholeSoundBytes);
  }
  // Both ends of the trailer question came up: idx1 fitted in the room the
  // cut chunk left, or the movi list ends the file.
  EXPECT_TRUE(sawIdx1);
  EXPECT_TRUE(sawNoIdx1);
}

TEST(AviWriteFailure, CutInsideTheHeaderRoomLeavesNoMovie) {
  kavtest::TempDir dir;
  const std::string name = dir.file("tiny.avi");
  Outcome out;
  {
    FileSizeLimit limit(600);
    out = writeMovie(name, avi::kDefaultRiffLimitBytes, false);
  }
  EXPECT_FALSE(out.released);
  EXPECT_EQ(avi::streamOpenFromFile(name.c_str(), avi::kStreamVideo, 0), nullptr);
}

TEST(AviWriteFailure, EveryWholeFrameOfALaterSegmentIsIndexed) {
  kavtest::TempDir dir;
  constexpr uint32_t kRiffLimit = 20000;  // about four frames a segment
  const std::string fullName = dir.file("full.avi");
  ASSERT_TRUE(writeMovie(fullName, kRiffLimit, false).released);
  const std::vector<uint8_t> full = kavtest::readFile(fullName);
  ASSERT_GT(walk(full).riffs, 3u);
  ASSERT_EQ(readFrames(fullName), kFrames);
  for (uint32_t cap : capsFor(full, moviDataStart(full) + 1)) {
    SCOPED_TRACE("cap " + std::to_string(cap));
    const std::string name = dir.file("cut" + std::to_string(cap) + ".avi");
    {
      FileSizeLimit limit(cap);
      EXPECT_FALSE(writeMovie(name, kRiffLimit, false).released);
    }
    const std::vector<uint8_t> b = kavtest::readFile(name);
    const Layout l = walk(b);
    EXPECT_TRUE(l.hdrl);
    EXPECT_TRUE(l.sizesInside);
    // The last segment's last chunks give up their room to its standard
    // indexes when the disk has none left, so every frame held is listed.
    EXPECT_EQ(readFrames(name), l.wholeFrames);
  }
}

}  // namespace
