// Damaged movies: truncations and byte mutations of hand-built movies must
// open cleanly or fail cleanly (run under asan).
#include <gtest/gtest.h>

#include <random>

#include "kavutil/quicktime.h"
#include "support/temp_dir.h"
#include "tests/quicktime/qt_builder.h"

using namespace qttest;

namespace {

void playEverything(const std::string &name) {
  if (QTFile *f = QTFileOpen(name.c_str())) {
    for (uint32_t n = 0; n < std::min<uint32_t>(f->frameCount, 8) + 2; ++n) QTFileGet(f);
    QTFileGoto(f, 0xFFFFFFFFu);
    QTFileGet(f);
    QTFileClose(f);
  }
  for (int32_t track : {0, 2}) {
    if (QTSFile *s = QTSFileOpen(name.c_str(), track)) {
      std::vector<uint8_t> buf(3000);
      for (int i = 0; i < 6; ++i) QTSFileGet(s, buf.data(), static_cast<uint32_t>(buf.size()));
      QTSFileGoto(s, 500);
      QTSFileGet(s, buf.data(), 7);
      QTSFileClose(s);
    }
  }
}

Bytes sampleMovie() {
  Bytes data;
  for (int i = 0; i < 3 * 4 * 3 * 3; ++i) data.push_back(static_cast<uint8_t>(i));
  const size_t soundAt = data.size() + 8;
  for (int i = 0; i < 2 * 1500; ++i) data.push_back(static_cast<uint8_t>(i * 3));
  TrackSpec v("vide");
  v.entries = {videoEntry("raw ", 4, 3, 24), videoEntry("raw ", 4, 3, 8, {1, 2, 3, 4, 5, 6})};
  v.times = {{2, 100}, {1, 400}};
  v.chunkRuns = {{1, 2}, {2, 1}};
  v.uniformSize = 36;
  v.sampleCount = 3;
  v.offsets = {8, 8 + 72};
  TrackSpec s("soun");
  s.timeScale = 1000;
  s.duration = 1500;
  s.entries = {soundEntry("twos", 1, 16, 1000)};
  s.times = {{1500, 1}};
  s.chunkRuns = {{1, 1000}, {2, 500}};
  s.uniformSize = 1;
  s.sampleCount = 1500;
  s.offsets = {soundAt, soundAt + 2000};
  TrackSpec s2 = s;
  s2.entries = {lpcmEntry(2, 8, 1000.0, 0)};
  s2.co64 = true;
  return movie(data, 600, 600, {v, s, s2});
}

TEST(QtMutation, TruncatedAndMutatedMoviesFailCleanly) {
  kavtest::TempDir dir;
  const std::string name = dir.file("m.mov");
  const Bytes good = sampleMovie();
  kavtest::writeFile(name, good);
  QTFile *f = QTFileOpen(name.c_str());
  ASSERT_NE(f, nullptr);  // the sample itself is sound
  QTFileClose(f);
  for (size_t cut = 0; cut < good.size(); cut += 1 + cut / 32) {
    kavtest::writeFile(name, Bytes(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(cut)));
    playEverything(name);
  }
  std::mt19937 rng(99);
  const size_t moov = static_cast<size_t>(good[0] << 24 | good[1] << 16 | good[2] << 8 | good[3]);  // after mdat
  for (int round = 0; round < 600; ++round) {
    Bytes bad = good;
    for (int c = 0; c < 1 + round % 6; ++c) {
      // Mostly inside the movie atom, where the sizes and tables are.
      const size_t pos = (round % 4) ? moov + rng() % (good.size() - moov) : rng() % good.size();
      bad[pos] = static_cast<uint8_t>(round & 1 ? rng() : bad[pos] ^ (1u << (rng() % 8)));
      if (round % 7 == 0 && pos + 4 <= bad.size()) std::memset(bad.data() + pos, 0xFF, 4);
    }
    kavtest::writeFile(name, bad);
    playEverything(name);
  }
}

}  // namespace
