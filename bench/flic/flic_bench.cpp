// Flic decoding and encoding of a moving synthetic animation, one frame per
// iteration, against memcpy of the same frame bytes.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/support/ratio_reporter.h"
#include "kavutil/flic.h"
#include "kavutil/kavfile.h"
#include "tests/flic/flic_animation.h"

namespace {

constexpr uint32_t kFrames = 48;

std::string scratch(const char *what, int64_t w) {
  const char *dir = std::getenv("TMPDIR");
  return std::string(dir && *dir ? dir : "/tmp") + "/kavbench-flic-" + what + std::to_string(w) + "-" +
         std::to_string(getpid()) + ".flc";
}

std::vector<std::vector<uint8_t>> animation(uint32_t w, uint32_t h) {
  std::vector<std::vector<uint8_t>> frames;
  for (uint32_t t = 0; t < kFrames; ++t) frames.push_back(flictest::movingFrame(w, h, t));
  return frames;
}

std::vector<uint8_t> palette() {
  std::vector<uint8_t> p(768);
  for (int i = 0; i < 768; ++i) p[i] = static_cast<uint8_t>(i * 3);
  return p;
}

void BM_Memcpy(benchmark::State &state) {
  const auto w = static_cast<uint32_t>(state.range(0)), h = static_cast<uint32_t>(state.range(1));
  const auto frames = animation(w, h);
  std::vector<uint8_t> dst(static_cast<size_t>(w) * h);
  uint32_t i = 0;
  for (auto _ : state) {
    std::memcpy(dst.data(), frames[i++ % kFrames].data(), dst.size());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * int64_t{w} * h);
}

void BM_Decode(benchmark::State &state) {
  const auto w = static_cast<uint32_t>(state.range(0)), h = static_cast<uint32_t>(state.range(1));
  const std::string name = scratch("decode", w);
  const auto frames = animation(w, h);
  const auto pal = palette();
  KAVOFlic *o = KAVOFlicCreate(name.c_str(), w, h, -4000);
  for (const auto &f : frames) KAVOFlicPutNext(o, f.data(), pal.data());
  KAVOFlicClose(o);
  KAVFlic *f = KAVFlicOpen(name.c_str());
  std::vector<uint8_t> buf(static_cast<size_t>(f->pitch) * f->paddedHeight);
  for (auto _ : state) {
    benchmark::DoNotOptimize(KAVFlicGetNext(f, buf.data()));  // loops after the last frame
    benchmark::ClobberMemory();
  }
  KAVFlicClose(f);
  KAVFileErase(name.c_str());
  state.SetBytesProcessed(state.iterations() * int64_t{w} * h);
}

void BM_Encode(benchmark::State &state) {
  const auto w = static_cast<uint32_t>(state.range(0)), h = static_cast<uint32_t>(state.range(1));
  const std::string name = scratch("encode", w);
  const auto frames = animation(w, h);
  const auto pal = palette();
  KAVOFlic *o = KAVOFlicCreate(name.c_str(), w, h, -4000);
  uint32_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(KAVOFlicPutNext(o, frames[i % kFrames].data(), i == 0 ? pal.data() : nullptr));
    ++i;
  }
  KAVOFlicClose(o);
  KAVFileErase(name.c_str());
  state.SetBytesProcessed(state.iterations() * int64_t{w} * h);
}

}  // namespace

BENCHMARK(BM_Memcpy)->Args({320, 200})->Args({640, 480});
BENCHMARK(BM_Decode)->Args({320, 200})->Args({640, 480});
BENCHMARK(BM_Encode)->Args({320, 200})->Args({640, 480});

int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  kavbench::RatioReporter reporter;
  for (const char *size : {"320/200", "640/480"}) {
    reporter.pair(std::string("BM_Decode/") + size, std::string("BM_Memcpy/") + size, ">= 0.25x");
    reporter.pair(std::string("BM_Encode/") + size, std::string("BM_Memcpy/") + size, ">= 0.05x");
  }
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
