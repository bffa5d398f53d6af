// GFileGet on a 640 x 480 H.264 MP4 read through GStreamer, beside
// gst-launch-1.0 decoding the same file to a fakesink in the same run. Each
// iteration reads the whole movie; gst-launch's time includes starting the
// program, ours opening the file. The movie is made first with x264enc.
#include <benchmark/benchmark.h>
#include <kavutil/gfile.h>

#include <cstdlib>
#include <string>

#include "bench/support/ratio_reporter.h"
#include "support/temp_dir.h"

namespace {

constexpr uint32_t kFrames = 300;

const std::string &movie() {
  static kavtest::TempDir dir;
  static std::string name;
  if (!name.empty()) return name;
  const std::string file = dir.file("bench.mp4");
  const std::string command =
      "gst-launch-1.0 -q videotestsrc pattern=ball num-buffers=" + std::to_string(kFrames) +
      " ! video/x-raw,width=640,height=480,framerate=30/1 ! x264enc ! video/x-h264,profile=main ! mp4mux ! "
      "filesink location=" + file + " >/dev/null 2>&1";
  if (std::system(command.c_str()) == 0) name = file;
  return name;
}

void BM_GstLaunchFakesink(benchmark::State &state) {
  if (movie().empty()) return state.SkipWithError("gst-launch-1.0 or x264enc is missing");
  const std::string command =
      "gst-launch-1.0 -q filesrc location=" + movie() + " ! decodebin ! fakesink >/dev/null 2>&1";
  for (auto _ : state)
    if (std::system(command.c_str()) != 0) return state.SkipWithError("gst-launch-1.0 failed");
  state.counters["fps"] = benchmark::Counter(double(state.iterations()) * kFrames, benchmark::Counter::kIsRate);
}

void BM_GFileGet(benchmark::State &state) {
  if (movie().empty()) return state.SkipWithError("gst-launch-1.0 or x264enc is missing");
  uint64_t frames = 0;
  for (auto _ : state) {
    GFile *g = GFileOpen(movie().c_str(), 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 256, 0, 2, 0, nullptr,
                         nullptr, nullptr);
    if (!g) return state.SkipWithError("GFileOpen failed");
    while (!g->endFlag) {
      benchmark::DoNotOptimize(GFileGet(g, 0, 0, 100, 1.0f, 0));
      ++frames;
    }
    GFileClose(g);
  }
  state.counters["fps"] = benchmark::Counter(double(frames), benchmark::Counter::kIsRate);
}

BENCHMARK(BM_GstLaunchFakesink)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();
BENCHMARK(BM_GFileGet)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

}  // namespace

int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  kavbench::RatioReporter reporter;
  reporter.pair("BM_GFileGet/iterations:5/real_time", "BM_GstLaunchFakesink/iterations:5/real_time",
                ">= 0.91 (time at most 1.1x)");
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
