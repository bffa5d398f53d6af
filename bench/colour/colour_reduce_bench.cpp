// The colour reducer on a 640 x 480 photo-like picture to 236 colours,
// beside libimagequant at the same colour count (default speed, no
// dithering). Time covers the histogram and the palette; the PSNR of each
// palette is measured on the picture mapped to its nearest entries.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "bench/support/ratio_reporter.h"
#include "colour/colour_reduce.h"
#include "colour/histogram.h"

#if defined(KAV_HAVE_IMAGEQUANT)
#include <libimagequant.h>
#endif

namespace kc = kav::colour;

namespace {

constexpr uint32_t kW = 640, kH = 480, kColours = 236;

// Smooth lit shapes over a gradient sky, with sensor-like noise: many
// distinct colours, most of them in gentle ramps.
const std::vector<uint8_t> &photo() {
  static const std::vector<uint8_t> bgr = [] {
    std::mt19937 rng(42);
    std::normal_distribution<double> noise(0.0, 3.0);
    std::vector<uint8_t> p(size_t(kW) * kH * 3);
    struct Blob {
      double x, y, r, cr, cg, cb;
    } blobs[12];
    for (auto &b : blobs)
      b = {double(rng() % kW), double(rng() % kH), 30.0 + rng() % 120, double(rng() % 256), double(rng() % 256),
           double(rng() % 256)};
    for (uint32_t y = 0; y < kH; ++y)
      for (uint32_t x = 0; x < kW; ++x) {
        double r = 90 + 100.0 * y / kH, g = 130 + 60.0 * std::sin(x * 0.01), b = 220 - 80.0 * y / kH;
        for (const auto &bl : blobs) {
          const double d = std::hypot(x - bl.x, y - bl.y) / bl.r;
          if (d < 1) {
            const double shade = 0.55 + 0.45 * std::cos(d * 1.5);
            r = bl.cr * shade, g = bl.cg * shade, b = bl.cb * shade;
          }
        }
        const double t = 12 * std::sin(x * 0.13) * std::sin(y * 0.09);  // texture
        uint8_t *q = &p[(size_t(y) * kW + x) * 3];
        auto put = [&](double v) { return uint8_t(std::lround(std::fmin(255, std::fmax(0, v + t + noise(rng))))); };
        q[2] = put(r), q[1] = put(g), q[0] = put(b);
      }
    return p;
  }();
  return bgr;
}

// PSNR over the three components of the picture mapped to the nearest entry.
double psnr(const uint8_t *palette, uint32_t count) {
  const auto &img = photo();
  std::vector<int32_t> cache(1 << 24, -1);
  double se = 0;
  for (size_t i = 0; i < size_t(kW) * kH; ++i) {
    const uint8_t *q = &img[3 * i];
    const uint32_t key = uint32_t(q[2]) << 16 | q[1] << 8 | q[0];
    int32_t best = cache[key];
    if (best < 0) {
      best = 1 << 30;
      for (uint32_t e = 0; e < count; ++e) {
        const int dr = palette[3 * e] - q[2], dg = palette[3 * e + 1] - q[1], db = palette[3 * e + 2] - q[0];
        best = std::min(best, dr * dr + dg * dg + db * db);
      }
      cache[key] = best;
    }
    se += best;
  }
  const double mse = se / (3.0 * kW * kH);
  return 10 * std::log10(255.0 * 255.0 / mse);
}

void BM_Reduce_Kav(benchmark::State &state) {
  const auto &img = photo();
  std::vector<uint32_t> hist(kc::kHistogramCells);
  uint8_t palette[768] = {};
  uint32_t made = 0;
  for (auto _ : state) {
    std::fill(hist.begin(), hist.end(), 0u);
    kc::histogramAddPixels(hist.data(), img.data(), kW, kH, kW * 3, 24, nullptr);
    made = kc::reduceColours(palette, hist.data(), 0, kColours, 0, 0, nullptr, nullptr);
    benchmark::DoNotOptimize(palette);
  }
  state.counters["colours"] = made;
  state.counters["PSNR_dB"] = psnr(palette, made);
}

#if defined(KAV_HAVE_IMAGEQUANT)
void BM_Reduce_Liq(benchmark::State &state) {
  const auto &img = photo();
  std::vector<uint8_t> rgba(size_t(kW) * kH * 4);
  for (size_t i = 0; i < size_t(kW) * kH; ++i) {
    rgba[4 * i] = img[3 * i + 2], rgba[4 * i + 1] = img[3 * i + 1], rgba[4 * i + 2] = img[3 * i];
    rgba[4 * i + 3] = 255;
  }
  uint8_t palette[768] = {};
  uint32_t made = 0;
  for (auto _ : state) {
    liq_attr *attr = liq_attr_create();
    liq_set_max_colors(attr, kColours);
    liq_image *image = liq_image_create_rgba(attr, rgba.data(), kW, kH, 0);
    liq_result *result = nullptr;
    if (liq_image_quantize(image, attr, &result) == LIQ_OK) {
      liq_set_dithering_level(result, 0);
      const liq_palette *pal = liq_get_palette(result);
      made = pal->count;
      for (uint32_t i = 0; i < pal->count; ++i) {
        palette[3 * i] = pal->entries[i].r, palette[3 * i + 1] = pal->entries[i].g;
        palette[3 * i + 2] = pal->entries[i].b;
      }
      liq_result_destroy(result);
    }
    liq_image_destroy(image);
    liq_attr_destroy(attr);
    benchmark::DoNotOptimize(palette);
  }
  state.counters["colours"] = made;
  state.counters["PSNR_dB"] = psnr(palette, made);
}
BENCHMARK(BM_Reduce_Liq)->Unit(benchmark::kMillisecond)->MinTime(1.0);
#endif

}  // namespace

BENCHMARK(BM_Reduce_Kav)->Unit(benchmark::kMillisecond)->MinTime(1.0);

int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  kavbench::RatioReporter reporter;
  reporter.pair("BM_Reduce_Kav/min_time:1.000", "BM_Reduce_Liq/min_time:1.000", ">= 1.0x, PSNR within 1 dB");
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
