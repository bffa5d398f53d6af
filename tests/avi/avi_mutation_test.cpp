// Damaged files: every truncation point and many byte mutations of files
// our writer made must open cleanly or fail cleanly (run under asan).
#include <gtest/gtest.h>

#include <random>

#include "support/temp_dir.h"
#include "tests/avi/avi_test_util.h"

using namespace avitest;

namespace {

void readEverything(const std::string &name) {
  for (uint32_t type : {avi::kStreamVideo, avi::kStreamAudio}) {
    avi::Stream *s = avi::streamOpenFromFile(name.c_str(), type, 0);
    if (!s) continue;
    avi::StreamInfo info;
    avi::streamInfo(s, &info);
    int32_t size = 0;
    avi::streamReadFormat(s, 0, nullptr, &size);
    const int32_t start = avi::streamStart(s), length = std::min(avi::streamLength(s), 64);
    if (avi::FrameGetter *g = avi::streamGetFrameOpen(s)) {
      for (int32_t n = start - 1; n <= start + length; ++n) avi::streamGetFrame(g, n);
      avi::streamGetFrameClose(g);
    }
    std::vector<uint8_t> buf(1 << 16);
    for (int32_t n = start; n < start + length; ++n) {
      int32_t bytes = 0, samples = 0;
      avi::streamRead(s, n, 1000, nullptr, 0, &bytes, &samples);
      avi::streamRead(s, n, 1000, buf.data(), static_cast<int32_t>(buf.size()), &bytes, &samples);
    }
    avi::streamRelease(s);
  }
}

std::vector<uint8_t> sample(const kavtest::TempDir &dir, uint32_t riffLimit, uint16_t bits) {
  const std::string name = dir.file("src.avi");
  avi::WriterOptions o;
  o.riffLimitBytes = riffLimit;
  avi::Writer *w = avi::fileCreate(name.c_str(), &o);
  avi::WriteStream *v = avi::fileCreateStream(w, videoInfo(7, 5, 15, 1));
  const avi::WaveFormat wf = pcmFormat(8000, 8, 1);
  avi::WriteStream *a = avi::fileCreateStream(w, audioInfo(wf));
  avi::streamSetFormat(a, 0, &wf, sizeof wf);
  for (uint32_t n = 0; n < 12; ++n) {
    const std::vector<uint8_t> f = dibFormat(7, 5, bits, paletteFor(n / 4));
    avi::streamSetFormat(v, static_cast<int32_t>(n), f.data(), static_cast<int32_t>(f.size()));
    const std::vector<uint8_t> p = pattern(7, 5, bits, n);
    avi::streamWrite(v, static_cast<int32_t>(n), 1, p.data(), static_cast<int32_t>(p.size()), avi::kKeyFrame, nullptr,
                     nullptr);
    const std::vector<uint8_t> s = sound(533, n);
    avi::streamWrite(a, 0, 533, s.data(), 533, 0, nullptr, nullptr);
  }
  avi::fileRelease(w);
  return kavtest::readFile(name);
}

TEST(AviMutation, TruncatedAndMutatedFilesFailCleanly) {
  kavtest::TempDir dir;
  const std::string name = dir.file("m.avi");
  for (auto [limit, bits] : {std::pair<uint32_t, uint16_t>{avi::kDefaultRiffLimitBytes, 8}, {4096, 24}}) {
    const std::vector<uint8_t> good = sample(dir, limit, bits);
    for (size_t cut = 0; cut < good.size(); cut += 1 + cut / 16) {
      kavtest::writeFile(name, std::vector<uint8_t>(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(cut)));
      readEverything(name);
    }
    std::mt19937 rng(1234);
    for (int round = 0; round < 300; ++round) {
      std::vector<uint8_t> bad = good;
      const int changes = 1 + round % 8;
      for (int c = 0; c < changes; ++c) {
        const size_t at = rng() % bad.size();
        // Mostly in the headers and indexes, where sizes and counts live.
        const size_t pos = (round & 1) ? at % 2048 : at;
        bad[pos] = static_cast<uint8_t>(round & 2 ? rng() : (bad[pos] ^ (1u << (rng() % 8))));
        if (round % 5 == 0 && pos + 4 <= bad.size()) std::memset(bad.data() + pos, 0xFF, 4);
      }
      kavtest::writeFile(name, bad);
      readEverything(name);
    }
  }
}

}  // namespace
