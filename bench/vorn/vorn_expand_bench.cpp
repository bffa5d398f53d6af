// Frame expansion speed for 640 x 480 streams of three kinds. Each benchmark
// reports frames per second and the bytes of planes written per second as a
// ratio to memcpy of the same plane set, measured in the same run.
#include <benchmark/benchmark.h>
#include <kavutil/vorn.h>

#include <ctime>
#include <cstring>
#include <random>
#include <vector>

#include "support/vorn_writer.h"

namespace {

using namespace kavtest::vornw;

constexpr uint32_t kWidth = 640, kHeight = 480;

PlaneDesc blankPlane(uint32_t w, uint32_t h) {
  PlaneDesc p;
  p.width = w;
  p.height = h;
  p.rows.assign(h / 8, std::vector<Block>(w / 8));
  return p;
}

enum Kind { kIntraKind, kMotionKind, kFillKind };

void fillPlane(PlaneDesc &p, Kind kind, std::mt19937 &rng) {
  auto rnd = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  if (kind == kFillKind) {
    // Flat content: stretches of 1..16 blocks, unchanged (skip, 2 in 3) or
    // one flat colour, as cartoons and screen captures give.
    for (auto &row : p.rows)
      for (size_t c = 0; c < row.size();) {
        size_t n = std::min<size_t>(size_t(rnd(1, 16)), row.size() - c);
        bool skip = rnd(0, 2) != 0;
        uint8_t colour = uint8_t(rnd(0, 3) * 60);
        for (size_t i = 0; i < n; ++i) row[c + i] = skip ? Block::skip() : Block::fill(colour);
        c += n;
      }
    return;
  }
  for (unsigned r = 0; r < p.rows.size(); ++r) {
    auto &row = p.rows[r];
    for (unsigned c = 0; c < row.size(); ++c) {
      std::array<int32_t, 64> coef{};
      for (int n = rnd(2, 10); n > 0; --n) coef[rnd(1, 40)] = rnd(-60, 60);
      int dx = r == 0 || r + 1 == p.rows.size() || c == 0 || c + 1 == row.size() ? 0 : rnd(-4, 4);
      int dy = r == 0 || r + 1 == p.rows.size() || c == 0 || c + 1 == row.size() ? 0 : rnd(-4, 4);
      switch (kind) {
        case kIntraKind: row[c] = Block::intra(rnd(200, 1800), rnd(0, 4), coef); break;
        case kMotionKind:
          switch (rnd(0, 3)) {
            case 0: row[c] = Block::motion(dx, dy); break;
            case 1: {
              std::array<int8_t, 64> res{};
              for (int n = rnd(1, 8); n > 0; --n) res[rnd(0, 63)] = int8_t(rnd(-15, 15));
              row[c] = Block::residueBlock(dx, dy, 3, res);
              break;
            }
            default:
              for (int k = 12; k < 64; ++k) coef[k] = 0;
              row[c] = Block::inter(dx, dy, rnd(-50, 50), rnd(2, 6), coef);
          }
          break;
        case kFillKind: break;
      }
    }
  }
}

std::vector<uint8_t> makeFrame(Kind kind) {
  std::mt19937 rng(99 + kind);
  FrameDesc f;
  f.luma = blankPlane(kWidth, kHeight);
  fillPlane(f.luma, kind, rng);
  for (auto &c : f.chroma) {
    c = blankPlane(kWidth / 2, kHeight / 2);
    fillPlane(c, kind, rng);
  }
  // Trees suited to small values, as an encoder would choose.
  for (auto *p : {&f.luma, &f.chroma[0], &f.chroma[1]}) {
    for (auto &c : p->coding) c.tree = {7, MapForm::kListed, {0, 6, 2}};
    p->coding[kTypes].rowsPerRefill = 2;
  }
  std::vector<uint8_t> data = writeFrame(f);
  data.resize(data.size() + 8, 0);
  return data;
}

void expandBench(benchmark::State &state, Kind kind) {
  const uint32_t cw = kWidth / 2, ch = kHeight / 2, pitch = 2 * cw, planeHeight = 2 * ch;
  const size_t setBytes = size_t(pitch) * planeHeight + 2 * size_t(cw) * ch;
  std::vector<uint8_t> data = makeFrame(kind);
  std::vector<uint8_t> cur(setBytes, 0), prev(setBytes, 0x40), map(size_t(pitch / 16) * (planeHeight / 16));
  for (size_t i = 0; i < setBytes; ++i) prev[i] = uint8_t(i * 31 + (i >> 9));
  uint32_t sizes[VORN_BUNDLE_COUNT];
  ExpandBundleSizes(sizes, pitch);
  std::vector<std::vector<uint8_t>> bundles(VORN_BUNDLE_COUNT);
  void *ptrs[VORN_BUNDLE_COUNT];
  for (int i = 0; i < VORN_BUNDLE_COUNT; ++i) {
    bundles[i].resize(sizes[i]);
    ptrs[i] = bundles[i].data();
  }

  // Baseline in the same run: a memcpy of one plane set beside every frame,
  // both timed in processor time (the machine is shared) under the same
  // cache conditions; only the expansion counts for the benchmark's timer.
  std::vector<uint8_t> copy(setBytes);
  double copySeconds = 0, decodeSeconds = 0;
  for (auto _ : state) {
    state.PauseTiming();
    std::clock_t c0 = std::clock();
    std::memcpy(copy.data(), prev.data(), setBytes);
    benchmark::ClobberMemory();
    copySeconds += double(std::clock() - c0);
    std::memset(map.data(), 0, map.size());
    state.ResumeTiming();
    std::clock_t d0 = std::clock();
    ExpandVorn(cur.data(), prev.data(), nullptr, nullptr, map.data(), kWidth, kHeight, pitch, planeHeight,
               data.data(), kind == kIntraKind, ptrs, 0, 0);
    benchmark::ClobberMemory();
    decodeSeconds += double(std::clock() - d0);
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(int64_t(state.iterations() * setBytes));
  state.counters["fps"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
  // Plane bytes written per second as a fraction of memcpy's bytes per second.
  state.counters["vs_memcpy"] = decodeSeconds > 0 ? copySeconds / decodeSeconds : 0;
  state.counters["stream_bytes"] = double(data.size());
}

}  // namespace

BENCHMARK_CAPTURE(expandBench, intra, kIntraKind)->Unit(benchmark::kMicrosecond)->MinTime(0.3);
BENCHMARK_CAPTURE(expandBench, motion_residue, kMotionKind)->Unit(benchmark::kMicrosecond)->MinTime(0.3);
BENCHMARK_CAPTURE(expandBench, fill_skip, kFillKind)->Unit(benchmark::kMicrosecond)->MinTime(0.3);

BENCHMARK_MAIN();
