// Damaged WAVE files and damaged .EXE hosts of a movie: every truncation
// and many byte mutations open cleanly or fail cleanly (run under asan).
#include <cstring>
#include <random>

#include "sfile/sfile_movies.h"
#include "sfile_test_support.h"

using namespace sftest;
namespace wave = kavtest::wave;

namespace {

void openAndRead(const std::string &name) {
  SFile *s = SFileOpen(name.c_str(), 0, 0, 0, 0, 0, 0, 0, 0, nullptr);
  if (!s) return;
  uint8_t buf[4096];
  for (int i = 0; i < 64 && SFileGet(s, buf, sizeof buf); ++i) {
  }
  SFileClose(s);
}

void mutate(const std::string &name, const Bytes &good, size_t headerBytes, int rounds) {
  for (size_t cut = 0; cut < good.size(); cut += 1 + cut / 8) {
    kavtest::writeFile(name, Bytes(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(cut)));
    openAndRead(name);
  }
  std::mt19937 rng(99);
  for (int round = 0; round < rounds; ++round) {
    Bytes bad = good;
    for (int c = 0; c < 1 + round % 6; ++c) {
      const size_t pos = (round & 1 ? rng() % headerBytes : rng()) % bad.size();
      bad[pos] = static_cast<uint8_t>(round & 2 ? rng() : bad[pos] ^ (1u << (rng() % 8)));
      if (round % 5 == 0 && pos + 4 <= bad.size()) std::memset(bad.data() + pos, 0xFF, 4);
    }
    kavtest::writeFile(name, bad);
    openAndRead(name);
  }
}

TEST(SFileMutation, WaveFiles) {
  kavtest::TempDir dir;
  const Bytes good = wave::riff({{"JUNK", Bytes(5, 1)},
                                 {"fmt ", wave::extensibleBody(8000, 16, 2)},
                                 {"fact", {1, 2, 3, 4}},
                                 {"data", wave::pcm16(300, 2, 5)},
                                 {"LIST", Bytes(9, 'a')}});
  mutate(dir.file("m.wav"), good, 120, 400);
}

TEST(SFileMutation, ExeHosts) {
  kavtest::TempDir dir;
  std::vector<std::vector<Bytes>> sound(1);
  for (int f = 0; f < 3; ++f) sound[0].push_back(rawChunk(wave::pcm8(400, 1, f)));
  const Bytes good = exeWithMovie(zantherMovie(100, {zantherTrackWord(4000, false, false, false)}, sound, 3));
  mutate(dir.file("m.exe"), good, 0x400 + 200, 300);
}

}  // namespace
