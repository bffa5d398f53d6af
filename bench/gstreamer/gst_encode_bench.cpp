// A 640 x 480, 300-frame movie written to MP4 through the graphics output
// (OGFileCreate, OGFilePut, OGFileClose), beside gst-launch-1.0 encoding the
// same raw frames with the same elements and settings (videoconvert to I420,
// x264enc in constant quality 23, mp4mux keeping its index at the front) in
// the same run. Both read the frames from one raw file, which the page cache
// holds after the first pass; gst-launch's time includes starting the
// program, ours creating the output.
#include <benchmark/benchmark.h>
#include <kavutil/ogfile.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/support/ratio_reporter.h"
#include "support/temp_dir.h"

namespace {

constexpr uint32_t kFrames = 300, kWidth = 640, kHeight = 480;
constexpr size_t kFrameBytes = size_t{kWidth} * kHeight * 4;

kavtest::TempDir &dir() {
  static kavtest::TempDir d;
  return d;
}

// Moving test pictures as 32-bit pixels (B, G, R, unused), made once.
const std::string &frames() {
  static std::string name;
  if (!name.empty()) return name;
  const std::string file = dir().file("frames.bgrx");
  const std::string command = "gst-launch-1.0 -q videotestsrc pattern=ball num-buffers=" + std::to_string(kFrames) +
                              " ! video/x-raw,format=BGRx,width=640,height=480,framerate=30/1 ! filesink location=" +
                              file + " >/dev/null 2>&1";
  if (std::system(command.c_str()) == 0) name = file;
  return name;
}

void BM_GstLaunchMp4(benchmark::State &state) {
  if (frames().empty()) return state.SkipWithError("gst-launch-1.0 is missing");
  const std::string out = dir().file("launch.mp4");
  const std::string command =
      "gst-launch-1.0 -q filesrc location=" + frames() +
      " ! rawvideoparse format=bgrx width=640 height=480 framerate=30/1 ! videoconvert ! video/x-raw,format=I420 ! "
      "x264enc pass=qual quantizer=23 ! queue ! mp4mux reserved-max-duration=13250000000 "
      "reserved-moov-update-period=1000000000 ! filesink location=" + out + " >/dev/null 2>&1";
  for (auto _ : state)
    if (std::system(command.c_str()) != 0) return state.SkipWithError("gst-launch-1.0 or x264enc failed");
  state.counters["fps"] = benchmark::Counter(double(state.iterations()) * kFrames, benchmark::Counter::kIsRate);
}

void BM_OGFileMp4(benchmark::State &state) {
  if (frames().empty()) return state.SkipWithError("gst-launch-1.0 is missing");
  const std::string out = dir().file("ogfile.mp4");
  std::vector<uint8_t> frame(kFrameBytes);
  for (auto _ : state) {
    FILE *in = std::fopen(frames().c_str(), "rb");
    OGFile *o = OGFileCreate(KAV_NO_WINDOW, out.c_str(), kFrames, 30, 1, kWidth, kHeight, kWidth, nullptr,
                             OGFILE_OVERWRITE, 0);
    if (!in || !o) return state.SkipWithError("cannot read the frames or create the MP4");
    while (std::fread(frame.data(), 1, kFrameBytes, in) == kFrameBytes) OGFilePut(o, frame.data(), nullptr);
    std::fclose(in);
    if (o->errorFlag) return state.SkipWithError("writing the MP4 failed");
    benchmark::DoNotOptimize(OGFileClose(o));
  }
  state.counters["fps"] = benchmark::Counter(double(state.iterations()) * kFrames, benchmark::Counter::kIsRate);
}

BENCHMARK(BM_GstLaunchMp4)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();
BENCHMARK(BM_OGFileMp4)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

}  // namespace

int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  kavbench::RatioReporter reporter;
  reporter.pair("BM_OGFileMp4/iterations:5/real_time", "BM_GstLaunchMp4/iterations:5/real_time",
                ">= 0.91 (time at most 1.1x)");
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
