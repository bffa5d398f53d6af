// Pictures through the container: every version letter, alpha and grey,
// copies to 32-bit pixels, frame order, seeking through key frames, ring
// against whole-stream reading, and streams inside a larger file.
#include <gtest/gtest.h>

#include "movie_model.h"
#include "platform/os_file.h"

using namespace kavtest;

namespace {

// Walks the whole movie twice (so past the wrap), checking every picture.
void expectPictures(VornHandle *h, const Movie &m, bool alphaDecoded) {
  for (uint32_t pass = 0; pass < 2; ++pass)
    for (uint32_t i = 0; i < m.planes.size(); ++i) {
      ASSERT_EQ(h->currentFrame, int32_t(i + 1)) << pass;
      VornDecodeFrame(h);
      ASSERT_EQ(currentPlanes(h), m.planes[i]) << "frame " << i + 1 << " pass " << pass;
      if (alphaDecoded) {
        const uint8_t *a = h->alphaPlanes[h->currentSet];
        ASSERT_EQ(std::vector<uint8_t>(a, a + m.alpha[i].size()), m.alpha[i]) << i;
      }
      VornNextFrame(h);
    }
}

}  // namespace

TEST(VornFrames, EveryVersionLetterDecodesThePicturesItWasWrittenWith) {
  TempDir dir;
  for (char v : {'f', 'g', 'h', 'i'}) {
    MovieOptions o;
    o.version = v;
    o.width = 37;
    o.height = 21;
    Movie m = makeMovie(o, 5, 3);
    VornHandle *h = openBytes(dir, m.bytes);
    ASSERT_NE(h, nullptr) << v;
    const uint32_t versionBits = v == 'i' ? 0 : v == 'h' ? 0x8000 : 0x18000;
    EXPECT_EQ(h->flags & 0x18000, versionBits) << v;
    expectPictures(h, m, false);
    VornClose(h);
  }
}

TEST(VornFrames, AlphaIsDecodedOnlyWhenAskedAndPresent) {
  TempDir dir;
  MovieOptions o;
  o.alpha = true;
  Movie m = makeMovie(o, 4, 2);
  VornHandle *h = openBytes(dir, m.bytes, kGraphicsFlags);
  ASSERT_NE(h, nullptr);
  EXPECT_TRUE(h->flags & 0x100000);
  ASSERT_NE(h->alphaPlanes[0], nullptr);
  expectPictures(h, m, true);
  // Format 5 with alpha keeps the alpha plane in the fourth byte.
  VornGoto(h, 2, 0);
  VornDecodeFrame(h);
  std::vector<uint8_t> out(size_t(o.width) * o.height * 4);
  VornCopyToBuffer(h, out.data(), int32_t(o.width * 4), o.height, 0, 0, 5);
  EXPECT_EQ(out, blitPlanes(m.planes[1], &m.alpha[1], o.width, o.height, m.pitch, m.planeHeight, 5));
  VornClose(h);

  // Without the open flag the alpha section is skipped by its length.
  h = openBytes(dir, m.bytes, kSoundFlags);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(h->alphaPlanes[0], nullptr);
  expectPictures(h, m, false);
  VornClose(h);

  // A file without alpha drops the flag.
  o.alpha = false;
  Movie plain = makeMovie(o, 2, 1);
  h = openBytes(dir, plain.bytes, kGraphicsFlags);
  ASSERT_NE(h, nullptr);
  EXPECT_FALSE(h->flags & 0x100000);
  VornClose(h);
}

TEST(VornFrames, GreyFileKeepsItsFlagAndDecodesLumaOnly) {
  TempDir dir;
  MovieOptions o;
  o.grey = true;
  Movie m = makeMovie(o, 3, 3);
  VornHandle *h = openBytes(dir, m.bytes);
  ASSERT_NE(h, nullptr);
  EXPECT_TRUE(h->flags & 0x20000);
  expectPictures(h, m, false);
  VornClose(h);
}

TEST(VornFrames, CopyMatchesTheConverterTopDownAndBottomUp) {
  TempDir dir;
  MovieOptions o;
  o.width = 50;
  o.height = 30;
  o.version = 'g';  // chroma exchanged: the flag must reach the converter
  Movie m = makeMovie(o, 2, 2);
  VornHandle *h = openBytes(dir, m.bytes);
  ASSERT_NE(h, nullptr);
  VornDecodeFrame(h);
  const uint32_t w = o.width, ht = o.height;
  std::vector<uint8_t> want = blitPlanes(m.planes[0], nullptr, w, ht, m.pitch, m.planeHeight, 3 | 0x10000);
  std::vector<uint8_t> top(size_t(w) * ht * 4, 0);
  VornCopyToBuffer(h, top.data(), int32_t(w * 4), ht, 0, 0, 3);
  EXPECT_EQ(top, want);
  // Bottom-up: row r of the picture lands in buffer row height - r - 1.
  std::vector<uint8_t> bottom(size_t(w) * ht * 4, 0);
  VornCopyToBuffer(h, bottom.data(), -int32_t(w * 4), ht, 0, 0, 3);
  for (uint32_t r = 0; r < ht; ++r)
    ASSERT_TRUE(std::equal(top.begin() + r * w * 4, top.begin() + (r + 1) * w * 4,
                           bottom.begin() + (ht - 1 - r) * w * 4))
        << r;
  // Formats other than 3 and 5 draw nothing.
  std::vector<uint8_t> none(top.size(), 0x77);
  VornCopyToBuffer(h, none.data(), int32_t(w * 4), ht, 0, 0, 4);
  EXPECT_EQ(none, std::vector<uint8_t>(top.size(), 0x77));
  VornClose(h);
}

TEST(VornFrames, CopyDrawsOnlyWhatFitsTheCallersBuffer) {
  TempDir dir;
  MovieOptions o;
  o.width = 32;
  o.height = 16;
  Movie m = makeMovie(o, 1, 1);
  // Scaling modes from the header, the open flags, or switched off by them.
  for (uint32_t mode : {0u, 1u, 2u, 3u, 4u, 5u, 6u}) {
    m.desc.videoFlags = mode << 28;
    VornHandle *h = openBytes(dir, vornf::writeFile(m.desc));
    ASSERT_NE(h, nullptr);
    uint32_t wantW = o.width * (mode >= 3 && mode <= 5 ? 2 : 1);
    uint32_t wantH = o.height * (mode == 1 || mode == 2 || mode == 4 || mode == 5 ? 2 : 1);
    EXPECT_EQ(h->width, wantW) << mode;
    EXPECT_EQ(h->height, wantH) << mode;
    VornDecodeFrame(h);
    // Buffers exactly the displayed size, and smaller ones, at offsets: the
    // sanitizers see any write past them.
    for (uint32_t shrink : {0u, 5u})
      for (int32_t at : {0, 3}) {
        uint32_t bw = wantW - shrink, bh = wantH - shrink;
        std::vector<uint8_t> buf(size_t(bw) * bh * 4);
        VornCopyToBuffer(h, buf.data(), int32_t(bw * 4), bh, at, at, 3);
        VornCopyToBuffer(h, buf.data(), -int32_t(bw * 4), bh, at, at, 3);
      }
    VornClose(h);
  }
  m.desc.videoFlags = 0x40000000;
  std::vector<uint8_t> bytes = vornf::writeFile(m.desc);
  VornHandle *h = openBytes(dir, bytes, kGraphicsFlags | 0x10000000);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(h->height, 2 * o.height);
  EXPECT_EQ(h->width, o.width);
  VornClose(h);
  h = openBytes(dir, bytes, kGraphicsFlags | 0x70000000);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(h->height, o.height);
  EXPECT_EQ(h->flags & 0x70000000, 0u);
  VornClose(h);
}

TEST(VornFrames, NextFrameWrapsToFrameOne) {
  TempDir dir;
  Movie m = makeMovie({}, 3, 2);
  VornHandle *h = openBytes(dir, m.bytes);
  ASSERT_NE(h, nullptr);
  std::vector<int32_t> order;
  for (int i = 0; i < 7; ++i) {
    order.push_back(h->currentFrame);
    if (i == 3) {
      EXPECT_EQ(h->previousFrame, 3);
    }
    VornNextFrame(h);
  }
  EXPECT_EQ(order, (std::vector<int32_t>{1, 2, 3, 1, 2, 3, 1}));
  VornClose(h);
}

TEST(VornFrames, GotoDecodesFromTheKeyFrameOnlyWhatItMust) {
  TempDir dir;
  Movie m = makeMovie({}, 12, 5);  // key frames 1, 6, 11
  VornHandle *h = openBytes(dir, m.bytes);
  ASSERT_NE(h, nullptr);
  auto &r = rec(h);
  auto expanded = [&] { return r.framesExpanded; };

  // Forward inside the span 6..10 from a decoded frame 7: only 7 (already
  // decoded) and 8 lie before 9, so one expansion.
  VornGoto(h, 7, 0);
  EXPECT_EQ(h->currentFrame, 7);
  VornDecodeFrame(h);
  ASSERT_EQ(currentPlanes(h), m.planes[6]);
  uint32_t before = expanded();
  VornGoto(h, 9, 0);
  EXPECT_EQ(expanded() - before, 1u);
  EXPECT_EQ(h->currentFrame, 9);
  VornDecodeFrame(h);
  EXPECT_EQ(currentPlanes(h), m.planes[8]);

  // Backward: from 9 to 8 starts again at 6 and decodes 6 and 7.
  before = expanded();
  VornGoto(h, 8, 0);
  EXPECT_EQ(expanded() - before, 2u);
  VornDecodeFrame(h);
  EXPECT_EQ(currentPlanes(h), m.planes[7]);

  // Into the next span: 12 is reached from key frame 11.
  before = expanded();
  VornGoto(h, 40, 0);  // clamped to 12
  EXPECT_EQ(h->currentFrame, 12);
  EXPECT_EQ(expanded() - before, 1u);
  VornDecodeFrame(h);
  EXPECT_EQ(currentPlanes(h), m.planes[11]);

  // Goto to a key frame loads it directly.
  before = expanded();
  VornGoto(h, 6, 0);
  EXPECT_EQ(expanded(), before);
  EXPECT_EQ(h->currentFrame, 6);

  // The rewinds of the inputs load frame 1 without decoding.
  VornGoto(h, 4, 0);
  for (uint32_t frame : {1u, 0u}) {
    before = expanded();
    VornGoto(h, frame, 1);
    EXPECT_EQ(h->currentFrame, 1);
    EXPECT_EQ(expanded(), before);
  }
  VornDecodeFrame(h);
  EXPECT_EQ(currentPlanes(h), m.planes[0]);
  VornClose(h);
}

TEST(VornFrames, GotoAfterJumpsWithoutDecodingStillGivesTheRightPicture) {
  TempDir dir;
  Movie m = makeMovie({}, 10, 10);
  VornHandle *h = openBytes(dir, m.bytes);
  ASSERT_NE(h, nullptr);
  VornGoto(h, 5, 1);  // loaded, planes still show nothing
  VornGoto(h, 7, 0);  // must start again at frame 1
  VornDecodeFrame(h);
  EXPECT_EQ(currentPlanes(h), m.planes[6]);
  // With video decoding off the planes stop following the frames.
  VornSetVideoDecoding(h, 0);
  VornNextFrame(h);
  VornDecodeFrame(h);
  VornSetVideoDecoding(h, 1);
  VornGoto(h, 9, 0);
  VornDecodeFrame(h);
  EXPECT_EQ(currentPlanes(h), m.planes[8]);
  VornClose(h);
}

TEST(VornFrames, RingAndWholeStreamGiveIdenticalFrames) {
  TempDir dir;
  MovieOptions o;
  o.width = 64;
  o.height = 48;
  Movie m = makeMovie(o, 30, 7);
  // A rate of 1 frame per second makes the window one frame: the ring covers
  // far less than the stream. A rate of 60 makes one window the whole file.
  m.desc.rateNumerator = 1;
  VornHandle *ring = openBytes(dir, vornf::writeFile(m.desc), kGraphicsFlags, "ring.vrn");
  m.desc.rateNumerator = 60;
  VornHandle *whole = openBytes(dir, vornf::writeFile(m.desc), kGraphicsFlags, "whole.vrn");
  ASSERT_NE(ring, nullptr);
  ASSERT_NE(whole, nullptr);
  EXPECT_FALSE(rec(ring).wholeMode);
  EXPECT_TRUE(rec(whole).wholeMode);
  EXPECT_FALSE(rec(whole).io.open);  // the file is closed once read
  EXPECT_GT(rec(ring).ringRequest, 0u);
  EXPECT_EQ(rec(ring).ringRequest % 4096, 0u);
  for (int i = 0; i < 75; ++i) {
    if (i == 40) {
      VornGoto(ring, 3, 0);
      VornGoto(whole, 3, 0);
    }
    VornDecodeFrame(ring);
    VornDecodeFrame(whole);
    ASSERT_EQ(ring->currentFrame, whole->currentFrame);
    ASSERT_EQ(currentPlanes(ring), currentPlanes(whole)) << i;
    ASSERT_EQ(currentPlanes(ring), m.planes[ring->currentFrame - 1]) << i;
    VornNextFrame(ring);
    VornNextFrame(whole);
  }
  VornClose(ring);
  VornClose(whole);
}

TEST(VornFrames, StreamInsideALargerFileOpensByItsDescriptor) {
  TempDir dir;
  MovieOptions o;
  o.width = 96;
  o.height = 64;
  Movie m = makeMovie(o, 10, 5);
  for (uint32_t rate : {1u, 60u}) {  // ring and whole-stream
    m.desc.rateNumerator = rate;
    std::vector<uint8_t> stream = vornf::writeFile(m.desc);
    std::vector<uint8_t> file(777 + stream.size() + 5000, 0x11);
    std::fill(file.begin(), file.begin() + 777, uint8_t(0xEE));
    std::copy(stream.begin(), stream.end(), file.begin() + 777);
    writeFile(dir.file("host.exe"), file);
    KavOsFile fd = kav::os::openExisting(dir.file("host.exe").c_str(), false);
    ASSERT_NE(fd, KAV_INVALID_OS_FILE);
    ASSERT_TRUE(kav::os::seek(fd, 777));
    VornSetPreferredTrack(-1);
    VornHandle *h = VornOpen(nullptr, fd, 0x8804000);
    ASSERT_NE(h, nullptr) << rate;
    EXPECT_EQ(rec(h).io.streamStart, 777u);
    EXPECT_EQ(rec(h).wholeMode, rate == 60);
    expectPictures(h, m, false);
    VornClose(h);
    // The descriptor stays the caller's.
    EXPECT_TRUE(kav::os::seek(fd, 0));
    kav::os::close(fd);
  }
}

TEST(VornFrames, NullHandleOperationsDoNothing) {
  EXPECT_EQ(VornDecodeFrame(nullptr), 0);
  uint8_t px[4];
  EXPECT_EQ(VornCopyToBuffer(nullptr, px, 4, 1, 0, 0, 3), 0);
  VornNextFrame(nullptr);
  VornGoto(nullptr, 3, 0);
  VornSetVideoDecoding(nullptr, 1);
  VornClose(nullptr);
  EXPECT_EQ(VornTrackInfo(nullptr, 0), 0u);
  EXPECT_EQ(VornTrackId(nullptr, 0), 0u);
  EXPECT_EQ(VornTrackOpen(nullptr, 0), nullptr);
  EXPECT_EQ(VornTrackRead(nullptr, px), 0u);
  VornTrackClose(nullptr);
}
