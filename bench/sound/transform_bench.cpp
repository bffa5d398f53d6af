// Speed of the transform coder: encode and decode as multiples of real
// time, the transform beside a naive radix-2 FFT (and FFTW when present),
// and bits per second with SNR over the quality levels.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <complex>
#include <vector>

#if defined(KAV_BENCH_HAVE_FFTW)
#include <fftw3.h>
#endif

#include "sound/transform_codec.h"
#include "sound/transform_test_support.h"  // tests/sound

using namespace kav::sound;

namespace {

// Textbook radix-2: bit reversal, then butterflies with twiddles from
// std::polar, on N complex points holding the real samples.
void naiveFft(std::vector<std::complex<float>> &z) {
  const size_t n = z.size();
  for (size_t i = 1, j = 0; i < n; ++i) {
    size_t bit = n >> 1;
    for (; j & bit; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) std::swap(z[i], z[j]);
  }
  for (size_t len = 2; len <= n; len <<= 1) {
    const float angle = -2.0f * 3.14159265f / static_cast<float>(len);
    for (size_t i = 0; i < n; i += len)
      for (size_t k = 0; k < len / 2; ++k) {
        const std::complex<float> w = std::polar(1.0f, angle * static_cast<float>(k));
        const std::complex<float> u = z[i + k], v = z[i + k + len / 2] * w;
        z[i + k] = u + v;
        z[i + k + len / 2] = u - v;
      }
  }
}

// Best of several short rounds, so that time lost to other processes on a
// shared machine does not count against either side of a ratio.
template <typename F>
double secondsPerCall(F &&f, int reps) {
  f();
  double best = 1e30;
  for (int round = 0; round < 15; ++round) {
    const auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < reps; ++i) f();
    best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count() / reps);
  }
  return best;
}

void BM_Transform(benchmark::State &state) {
  const auto n = static_cast<uint32_t>(state.range(0));
  TransformTables tables{};
  transformTablesPrepare(tables, n);
  std::vector<float> x(n), work(n);
  for (uint32_t i = 0; i < n; ++i) x[i] = static_cast<float>(std::sin(i * 0.37) * 10000.0);
  const int reps = 200000 / static_cast<int>(n);
  const double ours = secondsPerCall([&] { work = x; transformReal(n, +1, work.data(), tables); }, reps);
  std::vector<std::complex<float>> z(n);
  const double naive = secondsPerCall([&] { for (uint32_t i = 0; i < n; ++i) z[i] = x[i]; naiveFft(z); }, reps / 4);
  state.counters["naive_over_ours"] = naive / ours;
#if defined(KAV_BENCH_HAVE_FFTW)
  float *in = fftwf_alloc_real(n);
  fftwf_complex *out = fftwf_alloc_complex(n / 2 + 1);
  fftwf_plan plan = fftwf_plan_dft_r2c_1d(static_cast<int>(n), in, out, FFTW_MEASURE);
  const double fftw = secondsPerCall([&] { std::copy(x.begin(), x.end(), in); fftwf_execute(plan); }, reps);
  state.counters["ours_over_fftw"] = ours / fftw;
  fftwf_destroy_plan(plan);
  fftwf_free(in);
  fftwf_free(out);
#endif
  for (auto _ : state) {
    work = x;
    transformReal(n, +1, work.data(), tables);
    benchmark::DoNotOptimize(work.data());
  }
  transformTablesRelease(tables);
}
BENCHMARK(BM_Transform)->Arg(1024)->Arg(4096)->Unit(benchmark::kMicrosecond);

void BM_Encode(benchmark::State &state) {
  const auto rate = static_cast<uint32_t>(state.range(0)), ch = static_cast<uint32_t>(state.range(1));
  const auto pcm = kavtest::makeSignal(kavtest::Signal::Music, rate, ch, rate, 10000.0);  // one second
  size_t bytes = 0;
  for (auto _ : state) bytes = kavtest::encodeStream(pcm, rate, ch, 4).bytes.size();
  state.counters["x_realtime"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  state.counters["bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_Encode)->Args({44100, 2})->Args({22050, 1})->Unit(benchmark::kMillisecond);

void BM_Decode(benchmark::State &state) {
  const auto rate = static_cast<uint32_t>(state.range(0)), ch = static_cast<uint32_t>(state.range(1));
  const auto pcm = kavtest::makeSignal(kavtest::Signal::Music, rate, ch, rate, 10000.0);
  const std::vector<uint8_t> stream = kavtest::encodeStream(pcm, rate, ch, 4).bytes;
  TransformDecoder *d = transformDecoderCreate(rate, ch, kTransformDecoderSmall);
  for (auto _ : state) {
    const uint8_t *p = stream.data(), *end = p + stream.size();
    while (p < end) {
      const TransformDecodedFrame f = transformDecodeFrame(d, p, static_cast<size_t>(end - p));
      benchmark::DoNotOptimize(f.samples);
      p = f.next;
    }
  }
  transformFree(d);
  state.counters["x_realtime"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Decode)->Args({44100, 2})->Args({22050, 1})->Unit(benchmark::kMillisecond);

void BM_Levels(benchmark::State &state) {
  const auto level = static_cast<uint32_t>(state.range(0));
  const uint32_t rate = 44100, ch = 2;
  const auto pcm = kavtest::makeSignal(kavtest::Signal::Music, rate, ch, rate * 2, 10000.0);
  kavtest::StreamResult s;
  for (auto _ : state) s = kavtest::encodeStream(pcm, rate, ch, level);
  const std::vector<int16_t> out = kavtest::decodeStream(s.bytes, rate, ch);
  const double seconds = static_cast<double>(out.size()) / (rate * ch);
  state.counters["kbit_per_s"] = s.bytes.size() * 8.0 / seconds / 1000.0;
  state.counters["snr_db"] = kavtest::snrDb(pcm, out, out.size());
}
BENCHMARK(BM_Levels)->Arg(0)->Arg(4)->Arg(20)->Arg(50)->Arg(99)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
