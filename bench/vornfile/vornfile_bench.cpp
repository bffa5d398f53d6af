// Playback speed of a 640 x 480 movie at 30 frames a second: decode plus
// copy to 32-bit pixels per frame, read through the ring and read whole.
// The figure is the multiple of real time (frames per second / 30).
#include <benchmark/benchmark.h>
#include <kavutil/vornfile.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "support/temp_dir.h"
#include "support/vorn_file_writer.h"
#include "support/vorn_writer.h"

namespace {

using namespace kavtest;

constexpr uint32_t kWidth = 640, kHeight = 480, kRate = 30, kFrames = 60;

vornw::PlaneDesc plane(uint32_t w, uint32_t h, bool key, uint32_t seed) {
  using vornw::Block;
  vornw::PlaneDesc p;
  p.width = (w + 7) & ~7u;
  p.height = (h + 7) & ~7u;
  uint32_t s = seed * 2654435761u + 1;
  auto next = [&] { return (s = s * 1103515245u + 12345u) >> 16; };
  p.rows.assign(p.height / 8, {});
  for (uint32_t by = 0; by < p.height / 8; ++by)
    for (uint32_t bx = 0; bx < p.width / 8; ++bx) {
      const bool interior = bx > 0 && by > 0 && bx + 1 < p.width / 8 && by + 1 < p.height / 8;
      uint32_t r = next() % 8;
      if (key) {
        std::array<int32_t, 64> c{};
        c[1] = int32_t(next() % 31) - 15;
        c[2] = int32_t(next() % 31) - 15;
        c[5] = int32_t(next() % 9) - 4;
        p.rows[by].push_back(Block::intra(int32_t(200 + next() % 1200), 2 + next() % 6, c));
      } else if (interior && r < 3) {
        p.rows[by].push_back(Block::motion(int(next() % 3) - 1, int(next() % 3) - 1));
      } else if (r == 3) {
        p.rows[by].push_back(Block::fill(uint8_t(next())));
      } else {
        p.rows[by].push_back(Block::skip());
      }
    }
  return p;
}

// The movie file, written once per run.
const std::string &movie(bool whole) {
  static kavtest::TempDir dir;
  static std::string names[2];
  std::string &name = names[whole];
  if (!name.empty()) return name;
  static std::vector<vornf::Frame> frames;
  if (frames.empty()) {
    vornf::SoundTrackEncoder sound(44100, 2, 1);
    for (uint32_t i = 0; i < kFrames; ++i) {
      vornw::FrameDesc f;
      const bool key = i % 30 == 0;
      f.luma = plane(kWidth, kHeight, key, i);
      f.chroma[0] = plane(kWidth / 2, kHeight / 2, key, i + 1000);
      f.chroma[1] = plane(kWidth / 2, kHeight / 2, key, i + 2000);
      vornf::Frame fr;
      fr.key = key;
      fr.sound.push_back(sound.chunk(1));
      fr.video = vornw::writeFrame(f);
      frames.push_back(std::move(fr));
    }
  }
  vornf::FileDesc d;
  d.width = kWidth;
  d.height = kHeight;
  d.rateNumerator = whole ? kFrames : kRate;  // one "second" holding every frame is read whole
  d.tracks.push_back({vornf::descriptor(44100, true, true), 1, {}});
  d.frames = frames;
  name = dir.file(whole ? "whole.vrn" : "ring.vrn");
  kavtest::writeFile(name, vornf::writeFile(d));
  return name;
}

void BM_PlayCopy32(benchmark::State &state) {
  const bool whole = state.range(0) != 0;
  const std::string &name = movie(whole);
  VornSetPreferredTrack(-1);
  VornHandle *h = VornOpen(name.c_str(), KAV_INVALID_OS_FILE, 0x8104000);
  if (!h) {
    state.SkipWithError("open failed");
    return;
  }
  std::vector<uint8_t> picture(size_t(kWidth) * kHeight * 4);
  // The key frame must really have been expanded: its intra blocks leave
  // no luma row flat.
  VornDecodeFrame(h);
  const uint8_t *luma = h->planeSets[h->currentSet] + size_t(h->lumaWidth) * (kHeight - 5);
  if (std::count(luma, luma + kWidth, luma[0]) == kWidth) state.SkipWithError("frame 1 did not decode");
  for (auto _ : state) {
    VornDecodeFrame(h);
    VornCopyToBuffer(h, picture.data(), int32_t(kWidth * 4), kHeight, 0, 0, 5);
    VornNextFrame(h);
    benchmark::DoNotOptimize(picture.data());
  }
  state.SetLabel(whole ? "whole stream" : "ring");
  state.counters["fps"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
  state.counters["x_realtime"] =
      benchmark::Counter(double(state.iterations()) / kRate, benchmark::Counter::kIsRate);
  VornClose(h);
}

}  // namespace

BENCHMARK(BM_PlayCopy32)->Arg(0)->Arg(1)->MinTime(0.5)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
