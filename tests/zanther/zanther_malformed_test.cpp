// Damaged files end in a clean failure or a bounded result: the files of
// tests/data/zanther/bad, hand-built trees and runs, and random mutations of
// good movies (run under the sanitizers).
#include <gtest/gtest.h>
#include <kavutil/huffman.h>
#include <kavutil/kavfile.h>

#include <cstdlib>
#include <filesystem>
#include <functional>

#include "zanther_test_support.h"

namespace {

using namespace ztest;
using namespace kavtest::zantw;

void put32(std::vector<uint8_t> &v, size_t at, uint32_t x) {
  for (int i = 0; i < 4; ++i) v[at + i] = static_cast<uint8_t>(x >> (8 * i));
}
uint32_t get32(const std::vector<uint8_t> &v, size_t at) {
  return v[at] | v[at + 1] << 8 | v[at + 2] << 16 | static_cast<uint32_t>(v[at + 3]) << 24;
}

// Opens, decodes every frame twice round with all tracks, and closes.
// Returns whether the open succeeded.
bool exercise(const std::vector<uint8_t> &bytes, uint32_t request = 0) {
  MovieFile file(bytes);
  ZanthHandle *h = openBytes(file, request);
  if (!h) return false;
  std::vector<uint8_t> target;
  if (static_cast<uint64_t>(h->Width) * h->Height <= (1u << 22)) {
    target.assign(static_cast<size_t>(h->Width) * h->Height + 16, 0);
    ZanthSetTarget(h, 0, 0, static_cast<int32_t>(h->Width), h->Height, target.data(), 0);
  }
  std::vector<uint8_t> sound;
  for (uint32_t i = 0; i < 2 * std::min<uint32_t>(h->FrameCount, 64) + 2; ++i) {
    ZanthDecodeFrame(h);
    for (int t = 0; t < 7; ++t) {
      const uint32_t info = h->TrackInfo[t];
      const uint64_t cap = uint64_t{info & 0xFFFFFF} * 2 * 2 * 2;
      if (cap > (1u << 22)) continue;
      sound.assign(cap + 16, 0);
      ZanthTrackData(h, sound.data(), ZANTH_TRACK_MASK_0 << t);
    }
    ZanthAdvance(h);
    if (i % 7 == 3) ZanthSeek(h, i % 5);
  }
  ZanthClose(h);
  return true;
}

Movie goodMovie(uint32_t version, uint32_t frames, uint32_t w, uint32_t h) {
  std::mt19937 rng(version * 7 + frames);
  Movie m;
  m.version = version;
  m.width = w;
  m.height = h;
  auto pic = randomPicture(w, h, rng);
  for (uint32_t f = 0; f < frames; ++f) {
    Frame fr;
    if (f) pic = changedPicture(pic, w, h, 25, rng);
    fr.pixels = pic;
    if (f % 3 == 0) {
      fr.hasPalette = true;
      fr.palette = literalPalette(f);
    }
    std::vector<uint8_t> pcm(200 + 4 * f);
    for (size_t i = 0; i < pcm.size(); ++i) pcm[i] = static_cast<uint8_t>(i * 3 + f);
    fr.sound[0] = rawSoundChunk(pcm);
    fr.sound[1] = deltaSoundChunk(pcm, true, true);
    m.frames.push_back(fr);
  }
  m.trackInfo[0] = trackWord(8000, false, false, false, false);
  m.trackInfo[1] = trackWord(8000, true, true, true, false);
  return m;
}

// A file with hand-chosen tree contents (empty list: absent tree) and raw
// video for each frame.
std::vector<uint8_t> fileWithTrees(const std::vector<uint32_t> (&symbols)[4], uint32_t w, uint32_t h,
                                   const std::vector<std::vector<uint8_t>> &videos) {
  Movie m;
  m.width = w;
  m.height = h;
  for (const auto &v : videos) {
    Frame f;
    f.rawVideo = v;
    m.frames.push_back(f);
  }
  // The writer builds trees from coded pictures; here the trees come from
  // the lists, so write the block ourselves and splice it in.
  std::vector<uint8_t> file = writeMovie(m);
  kavtest::TempDir dir;
  const std::string name = dir.file("trees.bin");
  KAVFile *out = KAVFileCreate(4096, name.c_str());
  uint32_t sizes[4];
  for (int t = 0; t < 4; ++t) {
    HuffCoder *c = HuffOpen(0);
    HuffInitStats(c);
    HuffSetOutput(c, out);
    for (uint32_t s : symbols[t]) HuffAddStat(c, s);
    const int32_t r = HuffStartEncode(c);
    sizes[t] = r <= 12 ? 0 : r == 20 ? 4 : 4 * (2 * (static_cast<uint32_t>(r - 16) / 8 + 1) - 1);
    HuffClose(c);
  }
  KAVFileAlign(out, 4);
  KAVFileClose(out);
  const auto block = kavtest::readFile(name);
  const uint32_t n = get32(file, 12);
  const size_t treeAt = 104 + 5 * n;
  const uint32_t oldBytes = get32(file, 52);
  file.erase(file.begin() + treeAt, file.begin() + treeAt + oldBytes);
  file.insert(file.begin() + treeAt, block.begin(), block.end());
  put32(file, 52, static_cast<uint32_t>(block.size()));
  for (int t = 0; t < 4; ++t) put32(file, 56 + 4 * t, sizes[t]);
  return file;
}

using Mutator = std::function<void(std::vector<uint8_t> &)>;

struct BadCase {
  const char *name;
  Mutator mutate;
  bool opens;
};

std::vector<BadCase> badCases() {
  return {
      {"header_short.znt", [](auto &f) { f.resize(3); }, false},
      {"wrong_magic.znt", [](auto &f) { f[3] = '3'; }, false},
      {"frame_count_zero.znt", [](auto &f) { put32(f, 12, 0); }, false},
      {"frame_tables_past_file.znt", [](auto &f) { put32(f, 12, 0x30000000); }, false},
      {"tree_bytes_past_file.znt", [](auto &f) { put32(f, 52, 0x7FFFFFF0); }, false},
      {"tree_needs_more_nodes.znt", [](auto &f) { put32(f, 68, get32(f, 68) - 8); }, false},
      {"frame_size_past_file.znt", [](auto &f) { put32(f, 104 + 4, get32(f, 104 + 4) + 0x100000); }, false},
      {"tree_block_cut.znt", [](auto &f) { put32(f, 52, 8); }, false},
      {"sound_chunk_past_frame.znt",
       [](auto &f) {
         // Frame 0 starts with a palette chunk; its first sound chunk follows.
         const uint32_t n = get32(f, 12);
         const size_t frame0 = 104 + 5 * n + get32(f, 52);
         put32(f, frame0 + 4u * f[frame0], 0x01000000);
       },
       true},
      {"sound_count_past_frame.znt",
       [](auto &f) {
         const uint32_t n = get32(f, 12);
         const size_t frame0 = 104 + 5 * n + get32(f, 52);
         const size_t chunk1 = frame0 + 4u * f[frame0] + get32(f, frame0 + 4u * f[frame0]);
         put32(f, chunk1 + 4, 0x7FFFFFFF);
       },
       true},
  };
}

TEST(ZantherMalformed, DamagedHeadersTablesAndChunksFailCleanly) {
  const auto good = writeMovie(goodMovie(4, 8, 48, 32));
  ASSERT_TRUE(exercise(good));
  for (const auto &c : badCases()) {
    SCOPED_TRACE(c.name);
    auto bytes = good;
    c.mutate(bytes);
    EXPECT_EQ(exercise(bytes), c.opens);
    EXPECT_EQ(exercise(bytes, 1u << 24), c.opens);
  }
}

TEST(ZantherMalformed, StoredBadFilesFailCleanly) {
  const std::filesystem::path dir = std::filesystem::path(KAV_ZANTHER_DATA_DIR) / "bad";
  if (std::getenv("KAV_ZANTHER_WRITE_DATA")) {
    std::filesystem::create_directories(dir);
    const auto good = writeMovie(goodMovie(4, 8, 48, 32));
    for (const auto &c : badCases()) {
      auto bytes = good;
      c.mutate(bytes);
      kavtest::writeFile((dir / c.name).string(), bytes);
    }
    kavtest::writeFile((std::filesystem::path(KAV_ZANTHER_DATA_DIR) / "corpus" / "v4_sound.znt").string(), good);
    kavtest::writeFile((std::filesystem::path(KAV_ZANTHER_DATA_DIR) / "corpus" / "v2.znt").string(),
                       writeMovie(goodMovie(2, 5, 32, 16)));
  }
  size_t seen = 0;
  for (const auto &e : std::filesystem::directory_iterator(dir)) {
    SCOPED_TRACE(e.path().string());
    bool opens = false;
    for (const auto &c : badCases())
      if (e.path().filename() == c.name) opens = c.opens;
    EXPECT_EQ(exercise(kavtest::readFile(e.path().string())), opens);
    ++seen;
  }
  EXPECT_GE(seen, badCases().size());
}

TEST(ZantherMalformed, AbsentTreeUsedByAFrameStopsThatFrame) {
  // The type tree has one value, a two-colour run: the colour and map trees
  // are absent, so decoding stops at the first block.
  const std::vector<uint32_t> trees[4] = {{}, {}, {}, {0x0000, 0x0000}};
  const auto file = fileWithTrees(trees, 16, 16, {std::vector<uint8_t>(8, 0xFF)});
  MovieFile mf(file);
  ZanthHandle *h = openBytes(mf);
  ASSERT_NE(h, nullptr);
  std::vector<uint8_t> target(256, 0x77);
  ZanthSetTarget(h, 0, 0, 16, 16, target.data(), 0);
  ZanthDecodeFrame(h);
  ZanthClose(h);
  // The first block was drawn from the zero value the absent tree gives.
  size_t untouched = 0;
  for (uint8_t v : target) untouched += v == 0x77;
  EXPECT_GE(untouched, 256u - 16u);
}

TEST(ZantherMalformed, RunPastThePictureIsCutAtItsEnd) {
  // One type value: a solid run of 2048 blocks in colour 9 (index 63).
  const uint32_t value = 3 | 63 << 2 | 9 << 8;
  const std::vector<uint32_t> trees[4] = {{}, {}, {}, {value, value}};
  const auto file = fileWithTrees(trees, 16, 16, {std::vector<uint8_t>(4, 0)});
  MovieFile mf(file);
  ZanthHandle *h = openBytes(mf);
  ASSERT_NE(h, nullptr);
  std::vector<uint8_t> target(256 + 64, 0x77);
  ZanthSetTarget(h, 0, 0, 16, 16, target.data(), 0);
  ZanthDecodeFrame(h);
  ZanthClose(h);
  for (size_t i = 0; i < 256; ++i) ASSERT_EQ(target[i], 9);
  for (size_t i = 256; i < target.size(); ++i) ASSERT_EQ(target[i], 0x77);
}

TEST(ZantherMalformed, SolidRunOf256BlocksFromTypeValueF3) {
  const std::vector<uint32_t> trees[4] = {{}, {}, {}, {0x00F3, 0x00F3}};
  // 64 x 64 holds exactly 256 blocks.
  const auto file = fileWithTrees(trees, 64, 64, {std::vector<uint8_t>(4, 0)});
  MovieFile mf(file);
  ZanthHandle *h = openBytes(mf);
  ASSERT_NE(h, nullptr);
  std::vector<uint8_t> target(64 * 64, 0x77);
  ZanthSetTarget(h, 0, 0, 64, 64, target.data(), 0);
  ZanthDecodeFrame(h);
  ZanthClose(h);
  for (uint8_t v : target) ASSERT_EQ(v, 0);
}

TEST(ZantherMalformed, PaletteCommandsPastEntry255AndHighLevelsAreBounded) {
  Movie m = goodMovie(4, 2, 16, 16);
  m.frames[0].palette = literalPalette(0);
  m.frames[1].hasPalette = true;
  m.frames[1].paletteChunkBytes = {3, 0xFF, 0xFE, 0x7F, 250, 0x3F, 0xC8, 0xF0, 0xBF, 0x40, 0x01, 0};
  // keep 128, keep 127, copy 64 from 250 (one entry left), then commands past
  // the end of the palette and of the chunk.
  MovieFile mf(writeMovie(m));
  ZanthHandle *h = openBytes(mf);
  ASSERT_NE(h, nullptr);
  const std::vector<uint8_t> first(h->Palette, h->Palette + 768);
  ZanthDecodeFrame(h);
  ZanthAdvance(h);
  for (int i = 0; i < 255 * 3; ++i) ASSERT_EQ(h->Palette[i], first[i]);
  for (int c = 0; c < 3; ++c) EXPECT_EQ(h->Palette[3 * 255 + c], first[3 * 250 + c]);
  ZanthClose(h);

  // A literal with levels above 63 is clamped to 63.
  m.frames[1].paletteChunkBytes = {1, 10, 200, 64};
  MovieFile mf2(writeMovie(m));
  h = openBytes(mf2);
  ASSERT_NE(h, nullptr);
  ZanthAdvance(h);
  EXPECT_EQ(h->Palette[0], widen(10));
  EXPECT_EQ(h->Palette[1], 255);
  EXPECT_EQ(h->Palette[2], 255);
  ZanthClose(h);
}

TEST(ZantherMalformed, RandomMutationsNeverLeaveTheBuffers) {
  std::mt19937 rng(2024);
  const std::vector<uint8_t> goods[] = {writeMovie(goodMovie(4, 6, 32, 24)), writeMovie(goodMovie(2, 6, 24, 16))};
  size_t opened = 0;
  for (int iter = 0; iter < 240; ++iter) {
    auto bytes = goods[iter % 2];
    const int flips = 1 + static_cast<int>(rng() % 6);
    for (int k = 0; k < flips; ++k) {
      const size_t at = rng() % bytes.size();
      bytes[at] = static_cast<uint8_t>(rng() % 3 == 0 ? bytes[at] ^ (1u << (rng() % 8)) : rng());
    }
    if (iter % 11 == 0) bytes.resize(rng() % bytes.size());
    opened += exercise(bytes, iter % 3 == 0 ? 1u << 24 : 0);
  }
  EXPECT_GT(opened, 20u);
}

}  // namespace
