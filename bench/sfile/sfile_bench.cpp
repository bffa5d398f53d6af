// Sound input conversion speed (MB/s of source) and compressed sound block
// speed (multiple of real time), each beside the plain read of the same
// PCM measured in the same run.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <unistd.h>
#include <vector>

#include "bench/support/ratio_reporter.h"
#include "kavutil/csfile.h"
#include "kavutil/sfile.h"

namespace {

constexpr uint32_t kSeconds = 3;

void le16(std::vector<uint8_t> &b, uint32_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}
void le32(std::vector<uint8_t> &b, uint32_t v) {
  le16(b, v & 0xFFFF);
  le16(b, v >> 16);
}

// A WAVE file of music-like sound (two tones and some noise).
std::string makeWave(uint32_t rate, uint32_t bits, uint32_t channels) {
  const std::string name = "/tmp/kav_sfile_bench_" + std::to_string(getpid()) + "_" + std::to_string(rate) + "_" +
                           std::to_string(bits) + "_" + std::to_string(channels) + ".wav";
  std::vector<uint8_t> pcm;
  uint32_t noise = 1;
  for (uint32_t i = 0; i < rate * kSeconds; ++i)
    for (uint32_t c = 0; c < channels; ++c) {
      noise = noise * 1664525u + 1013904223u;
      const double v = 9000 * std::sin(i * (0.031 + 0.01 * c)) + 3000 * std::sin(i * 0.0071) + (int32_t(noise >> 22) - 512);
      if (bits == 16)
        le16(pcm, static_cast<uint32_t>(static_cast<int32_t>(v)) & 0xFFFF);
      else
        pcm.push_back(static_cast<uint8_t>(static_cast<int32_t>(v) / 256 + 128));
    }
  std::vector<uint8_t> f = {'R', 'I', 'F', 'F'};
  le32(f, static_cast<uint32_t>(36 + pcm.size()));
  for (char ch : std::string("WAVEfmt ")) f.push_back(static_cast<uint8_t>(ch));
  le32(f, 16);
  le16(f, 1);
  le16(f, channels);
  le32(f, rate);
  le32(f, rate * channels * bits / 8);
  le16(f, channels * bits / 8);
  le16(f, bits);
  for (char ch : std::string("data")) f.push_back(static_cast<uint8_t>(ch));
  le32(f, static_cast<uint32_t>(pcm.size()));
  f.insert(f.end(), pcm.begin(), pcm.end());
  FILE *out = std::fopen(name.c_str(), "wb");
  std::fwrite(f.data(), 1, f.size(), out);
  std::fclose(out);
  return name;
}

const std::string &wave44() {
  static const std::string n = makeWave(44100, 16, 2);
  return n;
}
const std::string &wave22() {
  static const std::string n = makeWave(22050, 8, 1);
  return n;
}

void readThrough(benchmark::State &state, const std::string &name, uint32_t rate, uint32_t bits, uint32_t channels) {
  std::vector<uint8_t> buf(16384);
  uint64_t source = 0;
  for (auto _ : state) {
    SFile *s = SFileOpen(name.c_str(), rate, bits, channels, 0, 0, 0, 0, 0, nullptr);
    while (SFileGet(s, buf.data(), static_cast<uint32_t>(buf.size())) > 0) {
    }
    source += s->length;
    SFileClose(s);
  }
  state.SetBytesProcessed(static_cast<int64_t>(source));
}

void BM_Copy44Stereo16(benchmark::State &state) { readThrough(state, wave44(), 0, 0, 0); }
void BM_Convert44Stereo16To22Mono8(benchmark::State &state) { readThrough(state, wave44(), 22050, 8, 1); }
void BM_Copy22Mono8(benchmark::State &state) { readThrough(state, wave22(), 0, 0, 0); }
void BM_Convert22Mono8To44Stereo16(benchmark::State &state) { readThrough(state, wave22(), 44100, 16, 2); }

// Blocks of one 1/15 second frame each; the output file is rewritten.
void compress(benchmark::State &state, const std::string &name, uint32_t method) {
  const std::string out = "/tmp/kav_csfile_bench_" + std::to_string(getpid()) + ".bin";
  double seconds = 0;
  for (auto _ : state) {
    CSFile *h = CSFileOpen(name.c_str(), method, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, nullptr);
    KAVFile *f = KAVFileCreate(1 << 16, out.c_str());
    CSFileSetOutput(h, f);
    const uint32_t piece = h->sound->outRate * h->sound->outFrameSize / 15;
    do {
      CSFilePut(h, piece);
    } while (h->blockSize);
    seconds += static_cast<double>(h->totalInput) / (h->sound->outRate * h->sound->outFrameSize);
    KAVFileClose(f);
    CSFileClose(h);
  }
  state.counters["x_realtime"] = benchmark::Counter(seconds, benchmark::Counter::kIsRate);
  std::remove(out.c_str());
}

void BM_ReadOnly44Stereo16(benchmark::State &state) { readThrough(state, wave44(), 0, 0, 0); }
void BM_DeltaLevel0(benchmark::State &state) { compress(state, wave44(), 0); }
void BM_DeltaLevel45(benchmark::State &state) { compress(state, wave44(), 45); }
void BM_TransformLevel4(benchmark::State &state) { compress(state, wave44(), 104); }

BENCHMARK(BM_Copy44Stereo16)->Unit(benchmark::kMillisecond)->MinTime(0.3);
BENCHMARK(BM_Convert44Stereo16To22Mono8)->Unit(benchmark::kMillisecond)->MinTime(0.3);
BENCHMARK(BM_Copy22Mono8)->Unit(benchmark::kMillisecond)->MinTime(0.3);
BENCHMARK(BM_Convert22Mono8To44Stereo16)->Unit(benchmark::kMillisecond)->MinTime(0.3);
BENCHMARK(BM_ReadOnly44Stereo16)->Unit(benchmark::kMillisecond)->MinTime(0.3);
BENCHMARK(BM_DeltaLevel0)->Unit(benchmark::kMillisecond)->MinTime(0.3);
BENCHMARK(BM_DeltaLevel45)->Unit(benchmark::kMillisecond)->MinTime(0.3);
BENCHMARK(BM_TransformLevel4)->Unit(benchmark::kMillisecond)->MinTime(0.3);

}  // namespace

int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  kavbench::RatioReporter reporter;
  const std::string t = "/min_time:0.300";
  reporter.pair("BM_Convert44Stereo16To22Mono8" + t, "BM_Copy44Stereo16" + t);
  reporter.pair("BM_Convert22Mono8To44Stereo16" + t, "BM_Copy22Mono8" + t);
  reporter.pair("BM_DeltaLevel0" + t, "BM_ReadOnly44Stereo16" + t);
  reporter.pair("BM_DeltaLevel45" + t, "BM_ReadOnly44Stereo16" + t);
  reporter.pair("BM_TransformLevel4" + t, "BM_ReadOnly44Stereo16" + t);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::remove(wave44().c_str());
  std::remove(wave22().c_str());
  return 0;
}
