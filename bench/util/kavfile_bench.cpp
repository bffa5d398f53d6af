// The buffered bit file against plain baselines: 10-bit fields against an
// in-memory LSB-first packer, 64 KiB blocks against stdio.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

#include "bench/support/ratio_reporter.h"
#include "kavutil/kavfile.h"

namespace {

constexpr uint32_t kFields = 1u << 20;          // 10-bit fields per iteration
constexpr uint32_t kBlock = 64u << 10;          // block and buffer size
constexpr uint32_t kBlocks = 256;               // 16 MiB per iteration
constexpr int32_t kBuffer = static_cast<int32_t>(kBlock);

std::string scratch(const char *what) {
  const char *dir = std::getenv("TMPDIR");
  return std::string(dir && *dir ? dir : "/tmp") + "/kavbench-" + what + "-" + std::to_string(getpid());
}

// The baseline: a straightforward 64-bit accumulator packer into memory.
struct MemoryPacker {
  std::vector<uint8_t> out;
  uint64_t acc = 0;
  uint32_t bits = 0;
  void put(uint32_t v, uint32_t n) {
    acc |= static_cast<uint64_t>(v & ((1u << n) - 1)) << bits;
    bits += n;
    while (bits >= 8) {
      out.push_back(static_cast<uint8_t>(acc));
      acc >>= 8;
      bits -= 8;
    }
  }
};

struct MemoryUnpacker {
  const uint8_t *p;
  const uint8_t *end;
  uint64_t acc = 0;
  uint32_t bits = 0;
  uint32_t get(uint32_t n) {
    while (bits < n) {
      acc |= static_cast<uint64_t>(p < end ? *p++ : 0) << bits;
      bits += 8;
    }
    const uint32_t v = static_cast<uint32_t>(acc) & ((1u << n) - 1);
    acc >>= n;
    bits -= n;
    return v;
  }
};

void BM_PutBits10_Memory(benchmark::State &state) {
  for (auto _ : state) {
    MemoryPacker p;
    p.out.reserve(kFields * 10 / 8 + 8);
    for (uint32_t i = 0; i < kFields; ++i) p.put(i * 2654435761u >> 7, 10);
    benchmark::DoNotOptimize(p.out.data());
  }
  state.SetItemsProcessed(state.iterations() * kFields);
}

void BM_PutBits10_KavFile(benchmark::State &state) {
  const std::string name = scratch("bits");
  // Creating and closing the file is a per-file cost, not a per-field one,
  // so it stays outside the timing; the buffer's writes inside it count.
  for (auto _ : state) {
    state.PauseTiming();
    KAVFile *f = KAVFileCreate(kBuffer, name.c_str());
    state.ResumeTiming();
    for (uint32_t i = 0; i < kFields; ++i) KAVFilePutBits(f, i * 2654435761u >> 7, 10);
    state.PauseTiming();
    KAVFileClose(f);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kFields);
  KAVFileErase(name.c_str());
}

std::vector<uint8_t> packedFields() {
  MemoryPacker p;
  for (uint32_t i = 0; i < kFields; ++i) p.put(i * 2654435761u >> 7, 10);
  p.put(0, 16);
  return p.out;
}

void BM_GetBits10_Memory(benchmark::State &state) {
  const std::vector<uint8_t> data = packedFields();
  for (auto _ : state) {
    MemoryUnpacker u{data.data(), data.data() + data.size()};
    uint32_t sum = 0;
    for (uint32_t i = 0; i < kFields; ++i) sum += u.get(10);
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * kFields);
}

void BM_GetBits10_KavFile(benchmark::State &state) {
  const std::string name = scratch("getbits");
  {
    const std::vector<uint8_t> data = packedFields();
    FILE *w = std::fopen(name.c_str(), "wb");
    std::fwrite(data.data(), 1, data.size(), w);
    std::fclose(w);
  }
  for (auto _ : state) {
    state.PauseTiming();
    KAVFile *f = KAVFileOpen(kBuffer, name.c_str(), KAV_FILE_READ);
    state.ResumeTiming();
    uint32_t sum = 0;
    for (uint32_t i = 0; i < kFields; ++i) sum += KAVFileGetBits(f, 10);
    benchmark::DoNotOptimize(sum);
    state.PauseTiming();
    KAVFileClose(f);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kFields);
  KAVFileErase(name.c_str());
}

void BM_PutBlocks_Stdio(benchmark::State &state) {
  const std::string name = scratch("fwrite");
  std::vector<uint8_t> block(kBlock, 0x5A);
  for (auto _ : state) {
    FILE *w = std::fopen(name.c_str(), "wb");
    std::setvbuf(w, nullptr, _IOFBF, kBlock);
    for (uint32_t i = 0; i < kBlocks; ++i) std::fwrite(block.data(), 1, block.size(), w);
    std::fclose(w);
  }
  state.SetBytesProcessed(state.iterations() * int64_t{kBlock} * kBlocks);
  std::remove(name.c_str());
}

void BM_PutBlocks_KavFile(benchmark::State &state) {
  const std::string name = scratch("put");
  std::vector<uint8_t> block(kBlock, 0x5A);
  for (auto _ : state) {
    KAVFile *f = KAVFileCreate(kBuffer, name.c_str());
    for (uint32_t i = 0; i < kBlocks; ++i) KAVFilePut(f, block.data(), kBlock);
    KAVFileClose(f);
  }
  state.SetBytesProcessed(state.iterations() * int64_t{kBlock} * kBlocks);
  KAVFileErase(name.c_str());
}

std::string blockFile() {
  const std::string name = scratch("blocks");
  std::vector<uint8_t> block(kBlock, 0xA5);
  FILE *w = std::fopen(name.c_str(), "wb");
  for (uint32_t i = 0; i < kBlocks; ++i) std::fwrite(block.data(), 1, block.size(), w);
  std::fclose(w);
  return name;
}

void BM_GetBlocks_Stdio(benchmark::State &state) {
  const std::string name = blockFile();
  std::vector<uint8_t> block(kBlock);
  for (auto _ : state) {
    FILE *r = std::fopen(name.c_str(), "rb");
    std::setvbuf(r, nullptr, _IOFBF, kBlock);
    for (uint32_t i = 0; i < kBlocks; ++i) benchmark::DoNotOptimize(std::fread(block.data(), 1, block.size(), r));
    std::fclose(r);
  }
  state.SetBytesProcessed(state.iterations() * int64_t{kBlock} * kBlocks);
  std::remove(name.c_str());
}

void BM_GetBlocks_KavFile(benchmark::State &state) {
  const std::string name = blockFile();
  std::vector<uint8_t> block(kBlock);
  for (auto _ : state) {
    KAVFile *f = KAVFileOpen(kBuffer, name.c_str(), KAV_FILE_READ);
    for (uint32_t i = 0; i < kBlocks; ++i) benchmark::DoNotOptimize(KAVFileGet(f, block.data(), kBlock));
    KAVFileClose(f);
  }
  state.SetBytesProcessed(state.iterations() * int64_t{kBlock} * kBlocks);
  KAVFileErase(name.c_str());
}

}  // namespace

BENCHMARK(BM_PutBits10_Memory)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PutBits10_KavFile)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GetBits10_Memory)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GetBits10_KavFile)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PutBlocks_Stdio)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PutBlocks_KavFile)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GetBlocks_Stdio)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GetBlocks_KavFile)->Unit(benchmark::kMillisecond);

int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  kavbench::RatioReporter reporter;
  reporter.pair("BM_PutBits10_KavFile", "BM_PutBits10_Memory", ">= 0.5x");
  reporter.pair("BM_GetBits10_KavFile", "BM_GetBits10_Memory", ">= 0.5x");
  reporter.pair("BM_PutBlocks_KavFile", "BM_PutBlocks_Stdio", ">= 0.9x");
  reporter.pair("BM_GetBlocks_KavFile", "BM_GetBlocks_Stdio", ">= 0.9x");
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
