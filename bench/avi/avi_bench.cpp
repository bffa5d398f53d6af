// AVI write and read throughput for 640 x 480 24-bit frames, each beside a
// plain write()/read() of the same bytes in the same run. The counter
// "ratio" is plain time / AVI time (1.0 = as fast as the plain calls).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/avi/avi_file.h"

namespace avi = kav::avi;

namespace {

constexpr uint32_t kWidth = 640, kHeight = 480, kFrames = 30;
const size_t kFrameBytes = size_t{avi::dibRowBytes(kWidth, 24)} * kHeight;

std::string scratch(const char *what) { return "/tmp/kav-avi-bench-" + std::to_string(getpid()) + what; }

std::vector<uint8_t> frame() {
  std::vector<uint8_t> f(kFrameBytes);
  for (size_t i = 0; i < f.size(); ++i) f[i] = static_cast<uint8_t>(i * 7);
  return f;
}

double seconds(std::chrono::steady_clock::time_point a) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - a).count();
}

double plainWrite(const std::string &name, const std::vector<uint8_t> &f) {
  const auto t = std::chrono::steady_clock::now();
  const int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  for (uint32_t n = 0; n < kFrames; ++n)
    if (write(fd, f.data(), f.size()) != static_cast<ssize_t>(f.size())) std::abort();
  close(fd);
  return seconds(t);
}

double aviWrite(const std::string &name, const std::vector<uint8_t> &f) {
  const auto t = std::chrono::steady_clock::now();
  avi::Writer *w = avi::fileCreate(name.c_str());
  avi::StreamInfo info{};
  info.fccType = avi::kStreamVideo;
  info.dwScale = 1;
  info.dwRate = 30;
  info.rcFrame = {0, 0, kWidth, kHeight};
  avi::WriteStream *s = avi::fileCreateStream(w, info);
  avi::BitmapInfoHeader b{40, kWidth, kHeight, 1, 24, 0, static_cast<uint32_t>(kFrameBytes), 0, 0, 0, 0};
  avi::streamSetFormat(s, 0, &b, sizeof b);
  for (uint32_t n = 0; n < kFrames; ++n)
    avi::streamWrite(s, static_cast<int32_t>(n), 1, f.data(), static_cast<int32_t>(f.size()), avi::kKeyFrame, nullptr,
                     nullptr);
  if (!avi::fileRelease(w)) std::abort();
  return seconds(t);
}

void BM_AviWrite(benchmark::State &state) {
  const std::vector<uint8_t> f = frame();
  const std::string a = scratch(".avi"), p = scratch(".raw");
  double plain = 0, ours = 0;
  for (auto _ : state) {
    plain += plainWrite(p, f);
    ours += aviWrite(a, f);
  }
  state.counters["ratio"] = plain / ours;
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kFrames * kFrameBytes));
  std::remove(a.c_str());
  std::remove(p.c_str());
}

void BM_AviRead(benchmark::State &state) {
  const std::vector<uint8_t> f = frame();
  const std::string a = scratch(".avi"), p = scratch(".raw");
  plainWrite(p, f);
  aviWrite(a, f);
  std::vector<uint8_t> buf(kFrameBytes);
  double plain = 0, ours = 0;
  const bool viaGetter = state.range(0) != 0;
  for (auto _ : state) {
    auto t = std::chrono::steady_clock::now();
    const int fd = open(p.c_str(), O_RDONLY | O_CLOEXEC);
    for (uint32_t n = 0; n < kFrames; ++n)
      if (read(fd, buf.data(), buf.size()) != static_cast<ssize_t>(buf.size())) std::abort();
    close(fd);
    plain += seconds(t);
    t = std::chrono::steady_clock::now();
    avi::Stream *s = avi::streamOpenFromFile(a.c_str(), avi::kStreamVideo, 0);
    avi::FrameGetter *g = viaGetter ? avi::streamGetFrameOpen(s) : nullptr;
    for (int32_t n = 0; n < static_cast<int32_t>(kFrames); ++n) {
      if (g) {
        benchmark::DoNotOptimize(avi::streamGetFrame(g, n));
      } else {
        int32_t bytes = 0;
        avi::streamRead(s, n, 1, buf.data(), static_cast<int32_t>(buf.size()), &bytes, nullptr);
      }
    }
    avi::streamGetFrameClose(g);
    avi::streamRelease(s);
    ours += seconds(t);
  }
  state.counters["ratio"] = plain / ours;
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kFrames * kFrameBytes));
  std::remove(a.c_str());
  std::remove(p.c_str());
}

}  // namespace

BENCHMARK(BM_AviWrite)->Unit(benchmark::kMillisecond)->Iterations(8);
BENCHMARK(BM_AviRead)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK_MAIN();
