// The resampler against a straightforward separable one written here: a
// horizontal pass into a float intermediate picture, then a vertical pass,
// with the same kernels and tables. 640 x 480 to half and to double size.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "bench/support/ratio_reporter.h"
#include "colour/resample.h"
#include "colour/resample_kernels.h"

namespace kc = kav::colour;

namespace {

constexpr uint32_t kSrcW = 640, kSrcH = 480;

const std::vector<uint32_t> &sourcePicture() {
  static const std::vector<uint32_t> pic = [] {
    std::mt19937 rng(1);
    std::vector<uint32_t> p(kSrcW * kSrcH);
    for (uint32_t y = 0; y < kSrcH; ++y)
      for (uint32_t x = 0; x < kSrcW; ++x)
        p[y * kSrcW + x] = ((x + rng() % 16) & 0xFF) | ((y + rng() % 16) & 0xFF) << 8 | ((x ^ y) & 0xFF) << 16;
    return p;
  }();
  return pic;
}

// The plain resampler: per axis a list of (index, weight) per output pixel.
struct Axis {
  std::vector<uint32_t> start;  // offset into idx / w, per output pixel, plus one
  std::vector<int32_t> idx;
  std::vector<float> w;
};

Axis axis(const kc::ResampleKernel &k, uint32_t dst, uint32_t src) {
  Axis a;
  const double c = double(dst) / src;
  const double width = c >= 1 ? k.support : k.support / c;
  a.start.push_back(0);
  for (uint32_t i = 0; i < dst; ++i) {
    const double centre = i / c;
    for (int64_t j = int64_t(std::ceil(centre - width)); j <= int64_t(std::floor(centre + width)); ++j) {
      a.idx.push_back(kc::resampleReflect(j, src));
      a.w.push_back(float(c >= 1 ? k.value(centre - j) : k.value((centre - j) * c) * c));
    }
    a.start.push_back(uint32_t(a.idx.size()));
  }
  return a;
}

inline uint32_t clampRound(float v) { return v <= 0 ? 0 : v > 255 ? 255 : uint32_t(v + 0.5f); }

void plainResample(const Axis &h, const Axis &v, uint32_t dw, uint32_t dh, const uint32_t *src, uint32_t sw,
                   uint32_t sh, std::vector<float> &mid, uint32_t *dst) {
  mid.resize(size_t(dw) * sh * 4);
  for (uint32_t y = 0; y < sh; ++y) {
    const uint32_t *row = src + size_t(y) * sw;
    float *m = &mid[size_t(y) * dw * 4];
    for (uint32_t x = 0; x < dw; ++x) {
      float a[4] = {0, 0, 0, 0};
      for (uint32_t k = h.start[x]; k < h.start[x + 1]; ++k) {
        const uint32_t p = row[h.idx[k]];
        for (int ch = 0; ch < 4; ++ch) a[ch] += h.w[k] * float((p >> (8 * ch)) & 0xFF);
      }
      for (int ch = 0; ch < 4; ++ch) m[4 * x + ch] = a[ch];
    }
  }
  std::vector<float> acc(size_t(dw) * 4);
  for (uint32_t y = 0; y < dh; ++y) {
    std::fill(acc.begin(), acc.end(), 0.0f);
    for (uint32_t k = v.start[y]; k < v.start[y + 1]; ++k) {
      const float *m = &mid[size_t(v.idx[k]) * dw * 4];
      const float w = v.w[k];
      for (size_t i = 0; i < acc.size(); ++i) acc[i] += w * m[i];
    }
    uint32_t *out = dst + size_t(y) * dw;
    for (uint32_t x = 0; x < dw; ++x)
      out[x] = clampRound(acc[4 * x]) | clampRound(acc[4 * x + 1]) << 8 | clampRound(acc[4 * x + 2]) << 16 |
               clampRound(acc[4 * x + 3]) << 24;
  }
}

void kavResample(benchmark::State &state, uint32_t sel, uint32_t dw, uint32_t dh) {
  const auto &src = sourcePicture();
  kc::Resampler *r = kc::resamplerCreate(sel, dw, dh, kSrcW, kSrcH);
  std::vector<uint32_t> dst(size_t(dw) * dh);
  for (auto _ : state) {
    kc::resamplerApply(r, dst.data(), reinterpret_cast<const uint8_t *>(src.data()), kSrcW * 4, kc::resampleFetch32);
    benchmark::DoNotOptimize(dst.data());
  }
  kc::resamplerFree(r);
  state.SetItemsProcessed(state.iterations() * dw * dh);
}

void plainResampleBench(benchmark::State &state, uint32_t sel, uint32_t dw, uint32_t dh) {
  const auto &src = sourcePicture();
  const auto &k = kc::resampleKernel(sel);
  const Axis h = axis(k, dw, kSrcW), v = axis(k, dh, kSrcH);
  std::vector<float> mid;
  std::vector<uint32_t> dst(size_t(dw) * dh);
  for (auto _ : state) {
    plainResample(h, v, dw, dh, src.data(), kSrcW, kSrcH, mid, dst.data());
    benchmark::DoNotOptimize(dst.data());
  }
  state.SetItemsProcessed(state.iterations() * dw * dh);
}

}  // namespace

int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  kavbench::RatioReporter reporter;
  const char *kernels[3] = {"cubic", "triangle", "box"};
  const uint32_t sizes[2][2] = {{320, 240}, {1280, 960}};
  for (uint32_t sel = 0; sel < 3; ++sel)
    for (const auto &s : sizes) {
      const std::string tag = std::string(kernels[sel]) + "/" + std::to_string(s[0]) + "x" + std::to_string(s[1]);
      const uint32_t dw = s[0], dh = s[1];
      benchmark::RegisterBenchmark(("Plain/" + tag).c_str(), plainResampleBench, sel, dw, dh)
          ->Unit(benchmark::kMillisecond)->MinTime(0.2);
      benchmark::RegisterBenchmark(("Kav/" + tag).c_str(), kavResample, sel, dw, dh)
          ->Unit(benchmark::kMillisecond)->MinTime(0.2);
      reporter.pair("Kav/" + tag + "/min_time:0.200", "Plain/" + tag + "/min_time:0.200", ">= 1.0x");
    }
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
