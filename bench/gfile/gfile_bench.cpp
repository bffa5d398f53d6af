// GFileGet on a 640 x 480 Vorn movie: unscaled to 32-bit pixels, scaled to
// 320 x 240 with each resampling filter, and to 8-bit output with the
// palette recomputed, each against the bare decoder (decode and copy to
// 32-bit pixels) measured in the same run.
#include <benchmark/benchmark.h>
#include <kavutil/gfile.h>
#include <kavutil/vornfile.h>

#include <array>
#include <string>
#include <vector>

#include "bench/support/ratio_reporter.h"
#include "bench/support/vorn_bench_plane.h"
#include "support/temp_dir.h"
#include "support/vorn_file_writer.h"
#include "support/vorn_writer.h"

namespace {

using namespace kavtest;

constexpr uint32_t kWidth = 640, kHeight = 480, kFrames = 30;

using kavbench::keyOrRefillFrame;

const std::string &movie() {
  static TempDir dir;
  static std::string name;
  if (!name.empty()) return name;
  vornf::FileDesc d;
  d.width = kWidth;
  d.height = kHeight;
  for (uint32_t i = 0; i < kFrames; ++i) {
    const bool key = i % 10 == 0;
    const vornw::FrameDesc f = keyOrRefillFrame(kWidth, kHeight, key, i);
    vornf::Frame fr;
    fr.key = key;
    fr.video = vornw::writeFrame(f);
    d.frames.push_back(std::move(fr));
  }
  name = dir.file("bench.vrn");
  writeFile(name, vornf::writeFile(d));
  return name;
}

void BM_BareDecoder(benchmark::State &state) {
  VornHandle *v = VornOpen(movie().c_str(), KAV_INVALID_OS_FILE, 0x8104000u);
  std::vector<uint8_t> buffer(kWidth * kHeight * 4);
  for (auto _ : state) {
    VornDecodeFrame(v);
    VornCopyToBuffer(v, buffer.data(), kWidth * 4, kHeight, 0, 0, 5);
    VornNextFrame(v);
    benchmark::DoNotOptimize(buffer.data());
  }
  state.counters["fps"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
  VornClose(v);
}

void run(benchmark::State &state, uint32_t flags, int32_t w, int32_t h, uint32_t scale) {
  GFile *g = nullptr;
  for (auto _ : state) {
    if (!g || g->endFlag) {
      state.PauseTiming();
      if (g) {
        GFileReset(g);
      } else {
        g = GFileOpen(movie().c_str(), flags, 0, 0, 0, 0, w, h, 0, 0, 0, 0, 0, 0, scale, 0, 256, 0, 2, 0, nullptr,
                    nullptr, nullptr);
      }
      state.ResumeTiming();
    }
    benchmark::DoNotOptimize(GFileGet(g, 0, 0, 100, 1.0f, 0));
  }
  state.counters["fps"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
  GFileClose(g);
}

void BM_Get32(benchmark::State &s) { run(s, 0, 0, 0, 0); }
void BM_Get32Half(benchmark::State &s) {
  const uint32_t filter[] = {0, GFILE_FILTER_1, GFILE_FILTER_2};
  run(s, filter[s.range(0)], 320, 240, 0);
}
void BM_Get8Palette(benchmark::State &s) { run(s, 1, 0, 0, 5); }  // a new palette every 5 frames

BENCHMARK(BM_BareDecoder)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Get32)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Get32Half)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Get8Palette)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  kavbench::RatioReporter reporter;
  reporter.pair("BM_Get32", "BM_BareDecoder", ">= 0.87 (time at most 1.15x)");
  reporter.pair("BM_Get32Half/0", "BM_BareDecoder");
  reporter.pair("BM_Get32Half/1", "BM_BareDecoder");
  reporter.pair("BM_Get32Half/2", "BM_BareDecoder");
  reporter.pair("BM_Get8Palette", "BM_BareDecoder");
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
