// Damaged files through open and a full read: a fixed-seed run of truncated
// and bit-flipped copies of written animations and of hand-built files with
// the chunk types the writer never emits. Under the sanitizers this shows
// that no damage reads or writes outside the buffers; everywhere it shows
// that every read ends.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "flic/flic_animation.h"
#include "flic/flic_test_util.h"
#include "kavutil/flic.h"
#include "support/temp_dir.h"

using namespace flictest;

namespace {

Bytes writtenAnimation(const kavtest::TempDir &dir, uint32_t w, uint32_t h) {
  const std::string name = dir.file("seed.flc");
  KAVOFlic *o = KAVOFlicCreate(name.c_str(), w, h, -4000);
  std::vector<uint8_t> pal(768);
  for (int i = 0; i < 768; ++i) pal[i] = static_cast<uint8_t>(i);
  for (uint32_t t = 0; t < 5; ++t) {
    if (t == 3) pal[40] ^= 0xFF;
    KAVOFlicPutNext(o, movingFrame(w, h, t).data(), pal.data());
  }
  KAVOFlicClose(o);
  return kavtest::readFile(name);
}

Bytes handBuiltFli() {
  FlicBuilder b(21, 9);
  b.magic = 0xAF11;
  b.speed = 3;
  Chunk pal{11, {}};
  put16(pal.data, 1);
  pal.data.insert(pal.data.end(), {3, 4});
  for (int i = 0; i < 12; ++i) pal.data.push_back(static_cast<uint8_t>(i * 5));
  Chunk run{15, {}};
  for (int y = 0; y < 9; ++y) run.data.insert(run.data.end(), {1, 0xF0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 5, 9});
  Chunk delta{12, {}};
  put16(delta.data, 2);
  put16(delta.data, 3);
  for (int y = 0; y < 3; ++y) delta.data.insert(delta.data.end(), {2, 1, 0xFC, 7, 3, 2, 8, 9});
  Chunk word{7, {}};
  put16(word.data, 2);
  put16(word.data, 0xFFFE);
  put16(word.data, 0x8011);
  put16(word.data, 1);
  word.data.insert(word.data.end(), {2, 0xFE, 1, 2});
  put16(word.data, 2);
  word.data.insert(word.data.end(), {0, 2, 5, 6, 7, 8, 4, 0xFF, 3, 3});
  Chunk copy{16, Bytes(21 * 9, 0x42)};
  b.frame({pal, run}).frame({delta}).frame({word}).frame({{13, {}}}).frame({copy});
  return b.build();
}

// Opens and reads a damaged file the way a player would; the guard bytes
// after the picture must survive.
void playDamaged(const std::string &name) {
  KAVFlic *f = KAVFlicOpen(name.c_str());
  if (!f) return;
  // Damaged headers may claim pictures far larger than the seeds; keep the
  // buffer affordable (the writes are bounded by width and height anyway).
  if (static_cast<uint64_t>(f->pitch) * f->paddedHeight > (1u << 20)) {
    KAVFlicClose(f);
    return;
  }
  std::vector<uint8_t> buf(static_cast<size_t>(f->pitch) * f->paddedHeight + 32, 0xA5);
  const size_t end = buf.size() - 32;
  const uint32_t reads = std::min<uint32_t>(f->frameCount, 64) + 2;
  for (uint32_t i = 0; i < reads; ++i) KAVFlicGetNext(f, buf.data());
  KAVFlicGoto(f, std::min<uint32_t>(f->frameCount, 64), buf.data());
  for (size_t i = end; i < buf.size(); ++i) ASSERT_EQ(buf[i], 0xA5);
  KAVFlicClose(f);
}

TEST(FlicMutation, TruncatedAndBitFlippedFilesFailCleanly) {
  kavtest::TempDir dir;
  const std::vector<Bytes> seeds = {writtenAnimation(dir, 320, 200), writtenAnimation(dir, 46, 30), handBuiltFli()};
  std::mt19937 rng(20240607);
  const std::string name = dir.file("damaged.flc");
  int runs = 0;
  for (const Bytes &seed : seeds) {
    for (int i = 0; i < 1000; ++i) {
      Bytes m = seed;
      const int kind = i % 3;
      if (kind != 1) m.resize(rng() % (m.size() + 1));  // cut off
      if (kind != 0 && !m.empty()) {
        const int flips = 1 + static_cast<int>(rng() % 8);
        for (int k = 0; k < flips; ++k) {
          // Mostly in the frame data; sometimes in the header.
          const size_t at = (rng() % 4 == 0 || m.size() <= 128) ? rng() % m.size() : 128 + rng() % (m.size() - 128);
          if (rng() % 2)
            m[at] ^= static_cast<uint8_t>(1u << (rng() % 8));
          else
            m[at] = static_cast<uint8_t>(rng());
        }
      }
      kavtest::writeFile(name, m);
      playDamaged(name);
      ++runs;
    }
  }
  EXPECT_EQ(runs, 3000);
}

// The corrupt files kept with the tests, each named for what it breaks.
TEST(FlicMutation, KeptBadFilesFailCleanly) {
  size_t count = 0;
  for (const auto &e : std::filesystem::directory_iterator(std::string(KAV_FLIC_DATA_DIR) + "/bad")) {
    SCOPED_TRACE(e.path().filename().string());
    playDamaged(e.path().string());
    ++count;
  }
  EXPECT_GE(count, 20u);
}

}  // namespace
