// Megapixels per second of the YUV blit, portable and vector paths, in
// normal, grey, double-width and double-height modes, beside libyuv's
// I420ToARGB (same BT.601 limited-range matrix) on the same planes in the
// same run. Ratios are printed as time ratios after the table.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "kavutil/yuv.h"
#include "vorn/yuv_dispatch.h"

#if defined(KAV_HAVE_LIBYUV)
#include <libyuv.h>
#endif

namespace {

struct Frame {
  int32_t width, height, pitch, planeHeight;
  std::vector<uint8_t> planes;
  std::vector<uint8_t> surface;

  Frame(int32_t w, int32_t h) : width(w), height(h), pitch(w), planeHeight(h) {
    planes.resize(static_cast<size_t>(pitch) * planeHeight * 3 / 2);
    std::mt19937 rng(static_cast<uint32_t>(w));
    // Smooth-ish content, as a decoded frame would be.
    for (size_t i = 0; i < planes.size(); ++i) planes[i] = static_cast<uint8_t>(((i * 7) >> 3) + (rng() & 15));
    // Room for doubling in both directions.
    surface.resize(static_cast<size_t>(w) * h * 16);
  }
  const uint8_t *first() const { return planes.data() + static_cast<size_t>(pitch) * planeHeight; }
  const uint8_t *second() const { return first() + static_cast<size_t>(planeHeight / 2) * (pitch / 2); }
};

Frame &frameFor(int32_t w, int32_t h) {
  static std::map<int64_t, Frame> frames;
  const int64_t key = int64_t{w} << 32 | h;
  auto it = frames.find(key);
  if (it == frames.end()) it = frames.emplace(key, Frame(w, h)).first;
  return it->second;
}

struct Mode {
  const char *name;
  uint32_t flags;
  int outputPixelsPerSource;
};

constexpr Mode kModes[] = {{"normal", 0, 1},
                           {"grey", YUV_FLAG_GREY, 1},
                           {"double_width", YUV_MODE_DOUBLE_WIDTH, 2},
                           {"double_height", YUV_MODE_DOUBLE_HEIGHT, 2}};

void blitBench(benchmark::State &state, int32_t w, int32_t h, Mode mode, bool portable,
               kav::yuv::HeightDoubling doubling) {
  YUV_init(YUV_TYPE_32BPP);
  const kav::yuv::Strategy saved = kav::yuv::strategy();
  kav::yuv::setStrategy({saved.leading, doubling});
  Frame &f = frameFor(w, h);
  const bool wide = mode.flags == YUV_MODE_DOUBLE_WIDTH;
  const int32_t dstPitch = (wide ? 8 : 4) * w;
  const uint32_t flags = mode.flags | (portable ? YUV_FLAG_NO_SIMD : 0);
  for (auto _ : state) {
    YUV_blit_32bpp(f.surface.data(), 0, 0, dstPitch, f.planes.data(), 0, 0, w, h, f.pitch, f.planeHeight, flags);
    benchmark::ClobberMemory();
  }
  kav::yuv::setStrategy(saved);
  state.counters["MPix/s"] =
      benchmark::Counter(static_cast<double>(w) * h / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}

#if defined(KAV_HAVE_LIBYUV)
void libyuvBench(benchmark::State &state, int32_t w, int32_t h) {
  Frame &f = frameFor(w, h);
  for (auto _ : state) {
    // U is Cb (our second plane), V is Cr (our first plane).
    libyuv::I420ToARGB(f.planes.data(), f.pitch, f.second(), f.pitch / 2, f.first(), f.pitch / 2,
                       f.surface.data(), 4 * w, w, h);
    benchmark::ClobberMemory();
  }
  state.counters["MPix/s"] =
      benchmark::Counter(static_cast<double>(w) * h / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}
#endif

std::string nameOf(int32_t w, int32_t h, const char *what, const char *path) {
  return "yuv/" + std::to_string(w) + "x" + std::to_string(h) + "/" + what + "/" + path;
}

class TimeRatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run> &runs) override {
    for (const auto &r : runs) {
      if (r.run_type != Run::RT_Iteration || r.error_occurred || r.iterations <= 0) continue;
      // CPU time: the machine is shared, and a descheduled run should not
      // count against either side of a ratio.
      std::string name = r.benchmark_name();
      name = name.substr(0, name.find("/min_time"));
      seconds_[name] = r.GetAdjustedCPUTime();
    }
    ConsoleReporter::ReportRuns(runs);
  }

  // Prints time(measured) / time(baseline) x perPixel.
  void line(const std::string &measured, const std::string &baseline, double perPixel, const char *target) {
    auto m = seconds_.find(measured), b = seconds_.find(baseline);
    if (m == seconds_.end() || b == seconds_.end() || b->second <= 0) return;
    std::printf("  %-34s / %-30s %6.3f   %s\n", measured.c_str(), baseline.c_str(), m->second / b->second * perPixel,
                target);
  }

 private:
  std::map<std::string, double> seconds_;
};

}  // namespace

int main(int argc, char **argv) {
  YUV_init(YUV_TYPE_32BPP);
  const char *vectorPath = kav::yuv::simdLevel() == kav::yuv::SimdLevel::kAvx2   ? "avx2"
                           : kav::yuv::simdLevel() == kav::yuv::SimdLevel::kSse2 ? "sse2"
                                                                                  : "none";
  const int32_t sizes[][2] = {{640, 480}, {1280, 720}};
  for (const auto &s : sizes) {
#if defined(KAV_HAVE_LIBYUV)
    benchmark::RegisterBenchmark(nameOf(s[0], s[1], "normal", "libyuv").c_str(), libyuvBench, s[0], s[1])
        ->MinTime(0.2)
        ->Unit(benchmark::kMicrosecond);
#endif
    for (const Mode &m : kModes) {
      for (bool portable : {true, false}) {
        benchmark::RegisterBenchmark(nameOf(s[0], s[1], m.name, portable ? "portable" : "vector").c_str(),
                                     blitBench, s[0], s[1], m, portable,
                                     kav::yuv::HeightDoubling::kCopyLineBuffer)
            ->MinTime(0.2)
            ->Unit(benchmark::kMicrosecond);
      }
    }
    // The other height-doubling strategy: the bulk converted once per
    // destination row instead of copied from the line buffer.
    for (bool portable : {true, false}) {
      benchmark::RegisterBenchmark(nameOf(s[0], s[1], "double_height_twice", portable ? "portable" : "vector").c_str(),
                                   blitBench, s[0], s[1], kModes[3], portable, kav::yuv::HeightDoubling::kConvertTwice)
          ->MinTime(0.2)
          ->Unit(benchmark::kMicrosecond);
    }
  }
  benchmark::Initialize(&argc, argv);
  TimeRatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\nvector path: %s\ntime ratios (lower is faster; per output pixel for the doubled modes)\n",
              vectorPath);
  for (const auto &s : sizes) {
    const std::string vecNormal = nameOf(s[0], s[1], "normal", "vector");
#if defined(KAV_HAVE_LIBYUV)
    reporter.line(vecNormal, nameOf(s[0], s[1], "normal", "libyuv"), 1.0, "target <= 1.0");
    reporter.line(nameOf(s[0], s[1], "normal", "portable"), nameOf(s[0], s[1], "normal", "libyuv"), 1.0, "");
#else
    std::printf("  (libyuv not found: no comparison with I420ToARGB)\n");
#endif
    for (const Mode &m : kModes) {
      reporter.line(nameOf(s[0], s[1], m.name, "vector"), nameOf(s[0], s[1], m.name, "portable"), 1.0, "");
    }
    for (const char *doubled : {"double_width", "double_height", "double_height_twice"}) {
      reporter.line(nameOf(s[0], s[1], doubled, "vector"), vecNormal, 0.5, "target <= 1.2");
      reporter.line(nameOf(s[0], s[1], doubled, "portable"), nameOf(s[0], s[1], "normal", "portable"), 0.5, "");
    }
  }
  benchmark::Shutdown();
  return 0;
}
