// Graphics output to AVI: 640 x 480 frames of 32-bit pixels through
// OGFilePut (conversion to a bottom-up 24-bit DIB, then the writer) beside
// the AVI writer taking the same frames already as DIBs, in the same run.
// The counter "ratio" is writer-only time / OGFilePut time (1.0 = the
// conversion costs nothing).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "kavutil/ogfile.h"
#include "platform/avi/avi_file.h"

namespace avi = kav::avi;

namespace {

constexpr uint32_t kWidth = 640, kHeight = 480, kFrames = 20;

std::string scratch(const char *what) { return "/tmp/kav-ogfile-bench-" + std::to_string(getpid()) + what; }

double seconds(std::chrono::steady_clock::time_point a) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - a).count();
}

double writerOnly(const std::string &name, const std::vector<uint8_t> &dib) {
  const auto t = std::chrono::steady_clock::now();
  avi::Writer *w = avi::fileCreate(name.c_str());
  avi::StreamInfo info{};
  info.fccType = avi::kStreamVideo;
  info.dwScale = 1;
  info.dwRate = 30;
  info.rcFrame = {0, 0, kWidth, kHeight};
  avi::WriteStream *s = avi::fileCreateStream(w, info);
  avi::BitmapInfoHeader b{40, kWidth, kHeight, 1, 24, 0, 0, 0, 0, 0, 0};
  avi::streamSetFormat(s, 0, &b, sizeof b);
  for (uint32_t n = 0; n < kFrames; ++n)
    avi::streamWrite(s, static_cast<int32_t>(n), 1, dib.data(), static_cast<int32_t>(dib.size()), avi::kKeyFrame,
                     nullptr, nullptr);
  avi::fileRelease(w);
  return seconds(t);
}

double throughOGFile(const std::string &name, const std::vector<uint32_t> &frame) {
  const auto t = std::chrono::steady_clock::now();
  OGFile *o = OGFileCreate(0, name.c_str(), kFrames, 30, 1, kWidth, kHeight, kWidth, nullptr, OGFILE_OVERWRITE, 0);
  for (uint32_t n = 0; n < kFrames; ++n) OGFilePut(o, frame.data(), nullptr);
  OGFileClose(o);
  return seconds(t);
}

void BM_AviPut(benchmark::State &state) {
  std::vector<uint32_t> frame(size_t{kWidth} * kHeight);
  for (size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<uint32_t>(i * 2654435761u) & 0xFFFFFF;
  std::vector<uint8_t> dib(size_t{avi::dibRowBytes(kWidth, 24)} * kHeight);
  for (size_t i = 0; i < dib.size(); ++i) dib[i] = static_cast<uint8_t>(i * 7);
  const std::string a = scratch("-a.avi"), b = scratch("-b.avi");
  double plain = 0, ours = 0;
  for (auto _ : state) {
    plain += writerOnly(a, dib);
    ours += throughOGFile(b, frame);
  }
  std::remove(a.c_str());
  std::remove(b.c_str());
  state.counters["ratio"] = ours > 0 ? plain / ours : 0;
  state.counters["MB/s"] = benchmark::Counter(static_cast<double>(state.iterations()) * kFrames * dib.size() / 1e6 / ours);
}
BENCHMARK(BM_AviPut)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

BENCHMARK_MAIN();
