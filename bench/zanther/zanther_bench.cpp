// Zanther frame decoding at 320 x 200 and 640 x 480 for a realistic mix of
// block types (mostly unchanged and solid areas, some two-colour and full
// blocks), beside memcpy of the same frame bytes; and HuffEncode throughput
// beside a plain byte-copying loop of the same symbols.
#include <benchmark/benchmark.h>
#include <kavutil/huffman.h>
#include <kavutil/kavfile.h>
#include <kavutil/zanther.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "bench/support/ratio_reporter.h"
#include "support/temp_dir.h"
#include "support/zanther_writer.h"

namespace {

using namespace kavtest::zantw;

constexpr uint32_t kFrames = 24;

// A talking-head style movie: a solid background with a few changing
// regions; each frame changes about a tenth of the blocks.
Movie realisticMovie(uint32_t w, uint32_t h) {
  std::mt19937 rng(w);
  auto rnd = [&](uint32_t n) { return static_cast<uint32_t>(rng() % n); };
  Movie m;
  m.width = w;
  m.height = h;
  std::vector<uint8_t> pic(static_cast<size_t>(w) * h, 17);
  auto block = [&](uint32_t bx, uint32_t by) {
    const uint32_t kind = rnd(10);
    const uint8_t a = static_cast<uint8_t>(rnd(256)), b = static_cast<uint8_t>(rnd(256));
    for (uint32_t r = 0; r < 4; ++r)
      for (uint32_t c = 0; c < 4; ++c) {
        uint8_t v = kind < 4 ? a : kind < 8 ? (rnd(3) ? a : b) : static_cast<uint8_t>(a + rnd(6) + 4 * c);
        pic[static_cast<size_t>(by * 4 + r) * w + bx * 4 + c] = v;
      }
  };
  for (uint32_t by = 0; by < h / 4; ++by)
    for (uint32_t bx = 0; bx < w / 4; ++bx)
      if (rnd(100) < 40) block(bx, by);
  for (uint32_t f = 0; f < kFrames; ++f) {
    if (f)
      for (uint32_t by = h / 8; by < h / 4 - h / 8; ++by)
        for (uint32_t bx = w / 8; bx < w / 4 - w / 8; ++bx)
          if (rnd(100) < 25) block(bx, by);
    Frame fr;
    fr.pixels = pic;
    if (f == 0) {
      fr.hasPalette = true;
      for (uint32_t i = 0; i < 256; ++i)
        fr.palette.push_back(PaletteCommand::literal(static_cast<uint8_t>(i & 63), static_cast<uint8_t>(i / 4), 9));
    }
    m.frames.push_back(fr);
  }
  return m;
}

struct MovieOnDisk {
  kavtest::TempDir dir;
  std::string name;
  uint32_t w, h;
  MovieOnDisk(uint32_t w_, uint32_t h_) : name(dir.file("b.znt")), w(w_), h(h_) {
    kavtest::writeFile(name, writeMovie(realisticMovie(w, h)));
  }
};

MovieOnDisk &movie(uint32_t w) {
  static MovieOnDisk small(320, 200), large(640, 480);
  return w == 320 ? small : large;
}

void BM_ZantherDecode(benchmark::State &state) {
  MovieOnDisk &m = movie(static_cast<uint32_t>(state.range(0)));
  // Whole-file reading, so the figure is the decoder's and not the disk's.
  ZanthHandle *h = ZanthOpen(m.name.c_str(), KAV_INVALID_OS_FILE, 0, 1u << 26);
  std::vector<uint8_t> target(static_cast<size_t>(m.w) * m.h);
  ZanthSetTarget(h, 0, 0, static_cast<int32_t>(m.w), m.h, target.data(), 0);
  for (auto _ : state) {
    ZanthDecodeFrame(h);
    ZanthAdvance(h);
    benchmark::DoNotOptimize(target.data());
  }
  ZanthClose(h);
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(target.size()));
}

void BM_MemcpyFrame(benchmark::State &state) {
  const size_t bytes = static_cast<size_t>(state.range(0)) * (state.range(0) == 320 ? 200 : 480);
  std::vector<uint8_t> a(bytes, 1), b(bytes);
  for (auto _ : state) {
    std::memcpy(b.data(), a.data(), bytes);
    benchmark::DoNotOptimize(b.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes));
}

std::vector<uint32_t> huffSymbols(bool word) {
  std::mt19937 rng(3);
  std::geometric_distribution<int> geo(word ? 0.01 : 0.05);
  std::vector<uint32_t> s(1 << 20);
  for (auto &v : s) v = static_cast<uint32_t>(geo(rng)) & (word ? 0xFFFF : 0xFF);
  return s;
}

void BM_HuffEncode(benchmark::State &state) {
  const bool word = state.range(0) == 2;
  const auto symbols = huffSymbols(word);
  kavtest::TempDir dir;
  const std::string name = dir.file("h.bin");
  KAVFile *f = KAVFileCreate(1 << 16, name.c_str());
  HuffCoder *c = HuffOpen(word ? 0 : 1);
  HuffSetOutput(c, f);
  HuffInitStats(c);
  for (uint32_t v : symbols) HuffAddStat(c, v);
  HuffStartEncode(c);
  for (auto _ : state) {
    KAVFileSetPos(f, 0);
    HuffInitLasts(c);
    for (uint32_t v : symbols) HuffEncode(c, v);
  }
  HuffClose(c);
  KAVFileClose(f);
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(symbols.size()) * (word ? 2 : 1));
}

// Baseline: writing the same symbols' bytes through the buffered file.
void BM_PutSymbolBytes(benchmark::State &state) {
  const bool word = state.range(0) == 2;
  const auto symbols = huffSymbols(word);
  kavtest::TempDir dir;
  const std::string name = dir.file("p.bin");
  KAVFile *f = KAVFileCreate(1 << 16, name.c_str());
  for (auto _ : state) {
    KAVFileSetPos(f, 0);
    for (uint32_t v : symbols) KAVFilePutBits(f, v, word ? 16 : 8);
  }
  KAVFileClose(f);
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(symbols.size()) * (word ? 2 : 1));
}

BENCHMARK(BM_ZantherDecode)->Arg(320)->Arg(640);
BENCHMARK(BM_MemcpyFrame)->Arg(320)->Arg(640);
BENCHMARK(BM_HuffEncode)->Arg(1)->Arg(2);
BENCHMARK(BM_PutSymbolBytes)->Arg(1)->Arg(2);

}  // namespace

int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  kavbench::RatioReporter reporter;
  reporter.pair("BM_ZantherDecode/320", "BM_MemcpyFrame/320", ">= 0.25");
  reporter.pair("BM_ZantherDecode/640", "BM_MemcpyFrame/640", ">= 0.25");
  reporter.pair("BM_HuffEncode/1", "BM_PutSymbolBytes/1", "byte coder");
  reporter.pair("BM_HuffEncode/2", "BM_PutSymbolBytes/2", "word coder");
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
