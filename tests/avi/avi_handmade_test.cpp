// Hand-built AVI files for what our writer does not produce, and the lies
// real writers put into headers.
#include <gtest/gtest.h>

#include "platform/avi/avi_jpeg.h"
#include "support/temp_dir.h"
#include "tests/avi/avi_builder.h"
#include "tests/avi/avi_test_util.h"

using namespace avitest;

namespace {

// A one-video-stream file (plus optional audio) whose movi holds `chunks`.
struct Hand {
  Bytes videoFormat;
  Bytes audioFormat;  // empty: no audio stream
  std::vector<Bytes> chunks;
  bool withIdx1 = true;
  uint32_t claimedLength = 1000;  // what the stream header says
};

Bytes build(const Hand &h) {
  std::vector<Bytes> strls = {list("LIST", "strl", {streamHeader("vids", "DIB ", 1, 25, h.claimedLength, 0, 7),
                                                    chunk("strf", h.videoFormat)})};
  if (!h.audioFormat.empty())
    strls.push_back(list("LIST", "strl", {streamHeader("auds", nullptr, 4, 4 * 8000, 99999, 0), chunk("strf", h.audioFormat)}));
  std::vector<Bytes> hdrl = {mainHeader(40000, 9, 0, 0)};
  hdrl.insert(hdrl.end(), strls.begin(), strls.end());
  std::vector<IndexItem> items;
  uint32_t at = 4;
  for (const Bytes &c : h.chunks) {
    items.push_back({std::string(c.begin(), c.begin() + 4), 0x10, at, static_cast<uint32_t>(c.size() - 8 - (c.size() & 1 ? 0 : 0))});
    items.back().size = c[4] | c[5] << 8 | c[6] << 16 | c[7] << 24;
    at += static_cast<uint32_t>(c.size());
  }
  std::vector<Bytes> top = {list("LIST", "hdrl", hdrl), list("LIST", "movi", h.chunks)};
  if (h.withIdx1) top.push_back(idx1(items));
  return riffAvi(top);
}

const avi::BitmapInfoHeader *frameOf(const std::string &name, int32_t n, avi::Stream **keep, avi::FrameGetter **g) {
  *keep = avi::streamOpenFromFile(name.c_str(), avi::kStreamVideo, 0);
  if (!*keep) return nullptr;
  *g = avi::streamGetFrameOpen(*keep);
  return *g ? avi::streamGetFrame(*g, n) : nullptr;
}

void closeAll(avi::Stream *s, avi::FrameGetter *g) {
  avi::streamGetFrameClose(g);
  avi::streamRelease(s);
}

TEST(AviHandmade, TopDownSixteenBitWithLyingSizes) {
  kavtest::TempDir dir;
  const std::string name = dir.file("td.avi");
  // 3 x 2 at 16 bits: rows of 6 bytes padded to 8; biSizeImage says 5.
  Hand h;
  h.videoFormat = bitmapHeader(3, -2, 16, 0, 5);
  const Bytes top = {1, 0, 2, 0, 3, 0, 0, 0}, bottom = {4, 0, 5, 0, 6, 0, 0, 0};
  Bytes pixels = top;
  append(pixels, bottom);
  h.chunks = {chunk("00db", pixels), chunk("00db", pixels)};
  kavtest::writeFile(name, build(h));
  avi::Stream *s = nullptr;
  avi::FrameGetter *g = nullptr;
  const avi::BitmapInfoHeader *b = frameOf(name, 1, &s, &g);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->biHeight, 2);  // delivered bottom-up
  EXPECT_EQ(b->biBitCount, 16);
  EXPECT_EQ(b->biSizeImage, 16u);
  const auto *bits = afterHeader(b);
  EXPECT_EQ(Bytes(bits, bits + 8), bottom);
  EXPECT_EQ(Bytes(bits + 8, bits + 16), top);
  avi::StreamInfo info;
  avi::streamInfo(s, &info);
  EXPECT_EQ(info.dwLength, 2u);  // the index, not the header's 1000
  EXPECT_EQ(info.dwSuggestedBufferSize, 16u);
  EXPECT_EQ(info.rcFrame.bottom, 2);
  closeAll(s, g);
}

TEST(AviHandmade, NoIndexIsScannedAndDroppedFramesRepeat) {
  kavtest::TempDir dir;
  const std::string name = dir.file("noidx.avi");
  Hand h;
  h.videoFormat = bitmapHeader(1, 1, 24, 0, 0);
  h.audioFormat = waveFormat(1, 2, 8000, 16);
  h.withIdx1 = false;
  // Frames A, empty (dropped), B, with sound between and a "rec " list and junk.
  h.chunks = {chunk("00db", {1, 2, 3, 0}), chunk("01wb", {9, 9, 9, 9, 8, 8, 8, 8}), chunk("JUNK", {0, 0}),
              chunk("00db", {}), list("LIST", "rec ", {chunk("00db", {4, 5, 6, 0}), chunk("01wb", {7, 7, 7, 7})})};
  kavtest::writeFile(name, build(h));
  avi::Stream *s = nullptr;
  avi::FrameGetter *g = nullptr;
  ASSERT_NE(frameOf(name, 0, &s, &g), nullptr);
  EXPECT_EQ(avi::streamLength(s), 3);
  const auto *b = avi::streamGetFrame(g, 1);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(afterHeader(b)[0], 1);  // the dropped frame shows frame 0
  b = avi::streamGetFrame(g, 2);
  EXPECT_EQ(afterHeader(b)[0], 4);
  closeAll(s, g);
  avi::Stream *a = avi::streamOpenFromFile(name.c_str(), avi::kStreamAudio, 0);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(avi::streamLength(a), 3);  // 12 bytes of 4-byte blocks, whatever the header claims
  EXPECT_EQ(readAllSound(a, 2), (Bytes{9, 9, 9, 9, 8, 8, 8, 8, 7, 7, 7, 7}));
  avi::streamRelease(a);
}

TEST(AviHandmade, BrokenIdx1FallsBackToScanning) {
  kavtest::TempDir dir;
  const std::string name = dir.file("broken.avi");
  Hand h;
  h.videoFormat = bitmapHeader(1, 1, 24, 0, 0);
  h.chunks = {chunk("00db", {1, 2, 3, 0}), chunk("00db", {4, 5, 6, 0})};
  Bytes file = build(h);
  // The second entry's size now runs past the end of the file.
  const size_t idx = find(file, "idx1");
  file[idx + 8 + 16 + 12] = 0xFF;
  file[idx + 8 + 16 + 13] = 0xFF;
  kavtest::writeFile(name, file);
  avi::Stream *s = nullptr;
  avi::FrameGetter *g = nullptr;
  ASSERT_NE(frameOf(name, 1, &s, &g), nullptr);
  EXPECT_EQ(avi::streamLength(s), 2);
  EXPECT_EQ(afterHeader(avi::streamGetFrame(g, 1))[0], 4);
  closeAll(s, g);
}

TEST(AviHandmade, PalettedLowDepthsAndXxpc) {
  kavtest::TempDir dir;
  const std::string name = dir.file("low.avi");
  for (uint16_t bits : {1, 4}) {
    Hand h;
    h.videoFormat = bitmapHeader(9, 1, bits, 0, 0, 2);  // only two colours given
    append(h.videoFormat, {10, 20, 30, 0, 40, 50, 60, 0});
    // A palette change of entry 1 (red, green, blue, flags) before frame 1.
    h.chunks = {chunk("00db", {0x80, 0, 0, 0}), chunk("00pc", {1, 1, 0, 0, 7, 8, 9, 0}), chunk("00db", {0x10, 0, 0, 0})};
    kavtest::writeFile(name, build(h));
    avi::Stream *s = nullptr;
    avi::FrameGetter *g = nullptr;
    const avi::BitmapInfoHeader *b = frameOf(name, 0, &s, &g);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->biClrUsed, 1u << bits);
    const auto *t = afterHeader(b);
    EXPECT_EQ(Bytes(t, t + 8), (Bytes{10, 20, 30, 0, 40, 50, 60, 0}));
    if (bits == 4) {
      EXPECT_EQ(t[8], 0);  // entries the file lacks are black
    }
    b = avi::streamGetFrame(g, 1);
    EXPECT_EQ(Bytes(t + 4, t + 8), (Bytes{9, 8, 7, 0}));
    b = avi::streamGetFrame(g, 0);
    EXPECT_EQ(Bytes(t + 4, t + 8), (Bytes{40, 50, 60, 0}));  // back in time, back to the format's table
    closeAll(s, g);
  }
}

TEST(AviHandmade, MotionJpegAndExtensiblePcm) {
  kavtest::TempDir dir;
  const std::string name = dir.file("mj.avi");
  std::vector<uint8_t> bgr(16 * 16 * 3, 200), jpeg;
  ASSERT_TRUE(avi::encodeJpegBgr(bgr.data(), 48, 16, 16, 90, jpeg));
  Hand h;
  h.videoFormat = bitmapHeader(16, 16, 24, avi::kHandlerMjpeg, 0);
  h.audioFormat = waveFormat(0xFFFE, 2, 8000, 16);
  put16(h.audioFormat, 22);
  put16(h.audioFormat, 16);
  put32(h.audioFormat, 3);
  append(h.audioFormat, {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71});
  h.chunks = {chunk("00dc", jpeg), chunk("01wb", {1, 2, 3, 4}), chunk("00dc", {0xFF, 0xD8, 0xFF})};
  kavtest::writeFile(name, build(h));
  avi::Stream *s = nullptr;
  avi::FrameGetter *g = nullptr;
  const avi::BitmapInfoHeader *b = frameOf(name, 0, &s, &g);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->biBitCount, 24);
  EXPECT_NEAR(afterHeader(b)[100], 200, 3);
  b = avi::streamGetFrame(g, 1);  // a damaged picture is black, not a failure
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(afterHeader(b)[100], 0);
  closeAll(s, g);
  avi::Stream *a = avi::streamOpenFromFile(name.c_str(), avi::kStreamAudio, 0);
  ASSERT_NE(a, nullptr);
  avi::WaveFormat f{};
  int32_t size = sizeof f;
  ASSERT_TRUE(avi::streamReadFormat(a, 0, &f, &size));
  EXPECT_EQ(size, 16);
  EXPECT_EQ(f.wFormatTag, 1);
  EXPECT_EQ(f.nBlockAlign, 4);
  EXPECT_EQ(readAllSound(a, 10), (Bytes{1, 2, 3, 4}));
  avi::streamRelease(a);
}

TEST(AviHandmade, UnknownCompressionHasNoFrameGetter) {
  kavtest::TempDir dir;
  const std::string name = dir.file("cvid.avi");
  Hand h;
  h.videoFormat = bitmapHeader(4, 4, 24, avi::fourcc('c', 'v', 'i', 'd'), 0);
  h.chunks = {chunk("00dc", {1, 2})};
  kavtest::writeFile(name, build(h));
  avi::Stream *s = avi::streamOpenFromFile(name.c_str(), avi::kStreamVideo, 0);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(avi::streamGetFrameOpen(s), nullptr);
  avi::streamRelease(s);
  kavtest::writeFile(name, Bytes{'R', 'I', 'F', 'F', 4, 0, 0, 0, 'W', 'A', 'V', 'E'});
  EXPECT_EQ(avi::streamOpenFromFile(name.c_str(), avi::kStreamVideo, 0), nullptr);
}

}  // namespace
