// Opening: the header fields in the handle, window and ring request, the
// reading strategy, the grouped allocation, the preferred track, and every
// way a damaged file must fail with its text.
#include <gtest/gtest.h>

#include <kavutil/kavbase.h>

#include <filesystem>

#include "movie_model.h"

using namespace kavtest;
using kav::vorn::lastError;

namespace {

Movie smallMovie(uint32_t frames = 4, uint32_t keyEvery = 2) { return makeMovie({}, frames, keyEvery); }

bool isAligned16(const void *p) { return (reinterpret_cast<uintptr_t>(p) & 15) == 0; }

}  // namespace

TEST(VornOpen, HandleCarriesTheHeaderAndThePlaneGeometry) {
  TempDir dir;
  MovieOptions o;
  o.width = 50;
  o.height = 34;
  Movie m = makeMovie(o, 3, 3);
  m.desc.rateNumerator = 30000;
  m.desc.rateDenominator = 1001;
  VornHandle *h = openBytes(dir, vornf::writeFile(m.desc));
  ASSERT_NE(h, nullptr);
  EXPECT_STREQ(lastError(), "");
  EXPECT_EQ(h->width, 50u);
  EXPECT_EQ(h->height, 34u);
  EXPECT_EQ(h->frameCount, 3u);
  EXPECT_EQ(h->currentFrame, 1);
  EXPECT_EQ(h->rateNumerator, 30000u);
  EXPECT_EQ(h->rateDenominator, 1001u);
  EXPECT_EQ(h->indexEntries, 3u);
  EXPECT_EQ(h->chromaWidth, 32u);  // (25 + 7) & ~7
  EXPECT_EQ(h->chromaHeight, 24u);  // (17 + 7) & ~7
  EXPECT_EQ(h->lumaWidth, 64u);
  EXPECT_EQ(h->lumaHeight, 48u);
  EXPECT_EQ(rec(h).window, 30u);  // 30000/1001 frames a second
  EXPECT_EQ(rec(h).mapBytes, 4u * 3u);
  EXPECT_EQ(h->blockMap[rec(h).mapBytes], 0xFF);
  EXPECT_EQ(h->frameIndex[0] & 1, 1u);
  EXPECT_NE(h->planeSets[0], h->planeSets[1]);
  // Every buffer of a group lies 16-aligned inside its block, in order.
  for (void *p : {(void *)h->blockMap, (void *)h->bundles[0], (void *)h->bundles[8], (void *)h->frameIndex,
                  (void *)h->planeSets[1]})
    EXPECT_TRUE(isAligned16(p));
  EXPECT_LT((uint8_t *)h->blockMap, (uint8_t *)h->bundles[0]);
  EXPECT_LT((uint8_t *)h->bundles[8], (uint8_t *)h->frameIndex);
  VornClose(h);
}

TEST(VornOpen, StaggeringPadsFollowTheRunningTotal) {
  // Each size rounded to 16, then a pad of k 32 bytes with k from the
  // running total: k(100) = (0 - 3 + 1) mod 32 = 30, so 112 + 960 = 1072;
  // k(40) = (33 - 1 + 1) mod 32 = 1, so 48 + 32 = 80.
  kav::vorn::AllocationGroup g;
  uint8_t *a = nullptr, *b = nullptr, *c = nullptr, *block = nullptr;
  g.reserve(&a, 100);
  g.reserve(&b, 40);
  g.reserve(&c, 200);
  ASSERT_TRUE(g.allocate(&block, 20));
  EXPECT_EQ(a - block, 32);
  EXPECT_EQ(b - a, 1072);
  EXPECT_EQ(c - b, 80);
  kavfree(block);
  // A group too large for one block allocates nothing.
  uint8_t *huge = nullptr;
  g.reserve(&huge, 0x7FFFFFF0);
  g.reserve(&a, 0x100);
  block = nullptr;
  EXPECT_FALSE(g.allocate(&block, 16));
  EXPECT_EQ(block, nullptr);
}

TEST(VornOpen, WholeStreamWhenOneSecondCoversNineTenths) {
  TempDir dir;
  MovieOptions o;
  o.width = 64;
  o.height = 64;
  Movie m = makeMovie(o, 20, 4);
  // Key frames of raw blocks, small inter frames between. At one frame a
  // second the peak window is one key frame.
  m.desc.rateNumerator = 1;
  VornHandle *h = openBytes(dir, vornf::writeFile(m.desc));
  ASSERT_NE(h, nullptr);
  const uint64_t peak = rec(h).ringRequest;
  EXPECT_FALSE(rec(h).wholeMode);
  EXPECT_TRUE(rec(h).io.open);
  EXPECT_EQ(peak, 8192u);
  EXPECT_EQ(rec(h).io.held, peak);  // filled ahead in whole blocks
  VornClose(h);
  m.desc.rateNumerator = 20;  // one window holds every frame
  h = openBytes(dir, vornf::writeFile(m.desc));
  ASSERT_NE(h, nullptr);
  EXPECT_TRUE(rec(h).wholeMode);
  EXPECT_EQ(rec(h).wholeBytes, h->frameIndex[20] - (h->frameIndex[0] & ~1u));
  VornClose(h);
}

TEST(VornOpen, PreferredTrackIsUsedOnceAndReset) {
  TempDir dir;
  vornf::SoundTrackEncoder a(22050, 1, 1), b(22050, 1, 2);
  Movie m = makeMovie({}, 2, 1, {&a, &b});
  m.desc.tracks[0].id = 7;
  m.desc.tracks[1].id = 9;
  writeFile(dir.file("t.vrn"), vornf::writeFile(m.desc));
  const std::string name = dir.file("t.vrn");
  VornSetPreferredTrack(9);
  VornHandle *h = VornOpen(name.c_str(), KAV_INVALID_OS_FILE, kGraphicsFlags);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(rec(h).playbackTrack, 1);
  VornClose(h);
  h = VornOpen(name.c_str(), KAV_INVALID_OS_FILE, kGraphicsFlags);  // reset to -1: no track
  EXPECT_EQ(rec(h).playbackTrack, -1);
  VornClose(h);
  VornSetPreferredTrack(9);
  h = VornOpen(name.c_str(), KAV_INVALID_OS_FILE, 0x8000000);  // without 0x4000: the first track
  EXPECT_EQ(rec(h).playbackTrack, 0);
  VornClose(h);
  VornSetPreferredTrack(5);
  h = VornOpen(name.c_str(), KAV_INVALID_OS_FILE, kGraphicsFlags);  // matches none
  EXPECT_EQ(rec(h).playbackTrack, -1);
  VornClose(h);
}

TEST(VornOpen, DamagedFilesFailWithTheirText) {
  TempDir dir;
  Movie m = smallMovie();
  vornf::Layout layout;
  const std::vector<uint8_t> good = vornf::writeFile(m.desc, &layout);
  auto expectFailure = [&](const std::vector<uint8_t> &bytes, const char *text, const char *what) {
    VornHandle *h = openBytes(dir, bytes);
    EXPECT_EQ(h, nullptr) << what;
    EXPECT_STREQ(lastError(), text) << what;
    VornClose(h);
  };
  const char *notVorn = "Not a Vorn file.";

  VornSetPreferredTrack(-1);
  EXPECT_EQ(VornOpen(dir.file("missing.vrn").c_str(), KAV_INVALID_OS_FILE, kGraphicsFlags), nullptr);
  EXPECT_STREQ(lastError(), "Error opening file.");

  std::vector<uint8_t> b = good;
  b[3] = 'e';
  expectFailure(b, notVorn, "version letter e");
  b = good;
  b[0] = 'W';
  expectFailure(b, notVorn, "magic");
  expectFailure(std::vector<uint8_t>(good.begin(), good.begin() + 30), notVorn, "header cut short");
  b = good;
  vornf::setLe32(b, 8, 0);
  expectFailure(b, "The file doesn't contain any compressed frames yet.", "no frames");

  for (size_t cut : {size_t(layout.indexOffset + 6), good.size() - 1, size_t(layout.frameOffsets[2] + 3)})
    expectFailure(std::vector<uint8_t>(good.begin(), good.begin() + cut), notVorn, "truncated");

  b = good;  // entries 1 and 2 exchanged
  uint32_t e1 = vornf::getLe32(b, layout.indexOffset + 4), e2 = vornf::getLe32(b, layout.indexOffset + 8);
  vornf::setLe32(b, layout.indexOffset + 4, e2);
  vornf::setLe32(b, layout.indexOffset + 8, e1);
  expectFailure(b, notVorn, "index out of order");
  b = good;
  vornf::setLe32(b, layout.indexOffset + 16, uint32_t(good.size() + 100));
  vornf::setLe32(b, 4, uint32_t(good.size() + 92));
  expectFailure(b, notVorn, "index beyond the file");
  b = good;
  vornf::setLe32(b, layout.indexOffset, 8);  // frame 1 inside the header
  expectFailure(b, notVorn, "frame inside the tables");

  vornf::FileDesc s = m.desc;
  s.largestFrame = 10;
  expectFailure(vornf::writeFile(s), notVorn, "frame larger than the largest-frame field");
  s = m.desc;
  s.trackCount = 5000;
  expectFailure(vornf::writeFile(s), notVorn, "absurd track count");
  s = m.desc;
  s.trackCount = 1000;  // plausible, but its tables run past the file
  expectFailure(vornf::writeFile(s), notVorn, "track table that does not fit");
  s = m.desc;
  s.lastEntry = 0x3FFFFFFF;
  expectFailure(vornf::writeFile(s), notVorn, "index that does not fit");
  s = m.desc;
  s.frameCount = 9;  // more frames than index entries
  expectFailure(vornf::writeFile(s), notVorn, "frame count beyond the index");
  s = m.desc;
  s.width = 20000;
  expectFailure(vornf::writeFile(s), notVorn, "absurd width");
  s = m.desc;
  s.height = 0;
  expectFailure(vornf::writeFile(s), notVorn, "zero height");
  s = m.desc;
  s.rateDenominator = 0;
  expectFailure(vornf::writeFile(s), notVorn, "zero rate denominator");
  s = m.desc;
  s.rateNumerator = 100000000;
  expectFailure(vornf::writeFile(s), notVorn, "absurd frame rate");
}

TEST(VornOpen, ExtraIndexEntriesAndPaddingAreAccepted) {
  TempDir dir;
  Movie m = smallMovie();
  m.desc.extraIndexEntries = 3;
  m.desc.gapBytes = 40;
  m.desc.trailingBytes = 100;
  VornHandle *h = openBytes(dir, vornf::writeFile(m.desc));
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(h->indexEntries, 7u);
  VornDecodeFrame(h);
  EXPECT_EQ(currentPlanes(h), m.planes[0]);
  VornClose(h);
}

TEST(VornOpen, CorruptFilesOfTheDataFolderFailCleanly) {
  TempDir dir;
  const std::filesystem::path bad = std::filesystem::path(KAV_VORNFILE_DATA_DIR) / "bad";
  ASSERT_TRUE(std::filesystem::is_directory(bad));
  int seen = 0;
  for (const auto &e : std::filesystem::directory_iterator(bad)) {
    VornSetPreferredTrack(-1);
    VornHandle *h = VornOpen(e.path().c_str(), KAV_INVALID_OS_FILE, kGraphicsFlags);
    EXPECT_EQ(h, nullptr) << e.path();
    VornClose(h);
    ++seen;
  }
  EXPECT_GT(seen, 0);
}
