// The Flic writer running out of room part of the way (a file size limit
// stands in for a full disk): the failing frame is reported, nothing more
// is taken, and the header counts exactly the frames that reached the file.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "flic/flic_test_util.h"
#include "kavutil/flic.h"
#include "support/file_size_limit.h"
#include "support/temp_dir.h"

using namespace flictest;

using kavtest::FileSizeLimit;

namespace {


constexpr uint32_t kW = 64, kH = 48, kFrames = 10;

// Noise, so every frame is about as large as the picture and the file
// grows steadily; frame n differs from frame n - 1 everywhere.
std::vector<uint8_t> noiseFrame(uint32_t n) {
  std::mt19937 rng(n + 1);
  std::vector<uint8_t> f(size_t{kW} * kH);
  for (auto &p : f) p = static_cast<uint8_t>(rng());
  return f;
}

std::vector<uint8_t> grey() {
  std::vector<uint8_t> p(768);
  for (int i = 0; i < 768; ++i) p[i] = static_cast<uint8_t>(i / 3);
  return p;
}

struct Written {
  uint32_t accepted = 0;        // PutNext calls that returned 1
  uint32_t writeErrorAfter = 0; // the handle's flag after the last frame
  uint32_t framesField = 0;     // the handle's count after the last frame
};

Written writeFlic(const std::string &name) {
  Written w;
  KAVOFlic *o = KAVOFlicCreate(name.c_str(), kW, kH, 40);
  EXPECT_NE(o, nullptr);
  if (!o) return w;
  const std::vector<uint8_t> palette = grey();
  bool failed = false;
  for (uint32_t n = 0; n < kFrames; ++n) {
    const std::vector<uint8_t> f = noiseFrame(n);
    const uint8_t r = KAVOFlicPutNext(o, f.data(), n == 0 ? palette.data() : nullptr);
    if (failed) {
      EXPECT_EQ(r, 0) << "frame " << n;  // once failed, nothing more is taken
    }
    if (r == 0) {
      failed = true;
      EXPECT_EQ(o->writeError, 1u);
    } else {
      ++w.accepted;
    }
  }
  w.writeErrorAfter = o->writeError;
  w.framesField = o->framesWritten;
  KAVOFlicClose(o);
  return w;
}

// The whole frames of the file, walked by hand, and where the last ends.
struct Walk {
  uint32_t frames = 0, end = 128, second = 0;
};

Walk walk(const Bytes &b) {
  Walk w;
  uint32_t pos = 128;
  while (b.size() >= pos + 16u) {
    const uint32_t size = get32(b, pos);
    if (get16(b, pos + 4) != 0xF1FA || size < 16 || size > b.size() - pos) break;
    pos += size;
    ++w.frames;
    if (w.frames == 1) w.second = pos;
    w.end = pos;
  }
  return w;
}

TEST(FlicWriteFailure, HeaderCountsOnlyTheFramesThatArrived) {
  kavtest::TempDir dir;
  const std::string fullName = dir.file("full.flc");
  const Written full = writeFlic(fullName);
  ASSERT_EQ(full.accepted, kFrames);
  ASSERT_EQ(full.writeErrorAfter, 0u);
  const Bytes whole = kavtest::readFile(fullName);
  const Walk all = walk(whole);
  ASSERT_EQ(all.frames, kFrames + 1);  // the ring frame follows

  std::vector<uint32_t> caps;
  for (uint32_t c = 200; c < whole.size(); c += static_cast<uint32_t>(whole.size()) / 13) caps.push_back(c);
  caps.push_back(all.second);                               // just frame 1
  caps.push_back(static_cast<uint32_t>(whole.size()) - 1);  // all but the ring frame
  for (uint32_t cap : caps) {
    SCOPED_TRACE("cap " + std::to_string(cap));
    const std::string name = dir.file("cut" + std::to_string(cap) + ".flc");
    Written w;
    {
      FileSizeLimit limit(cap);
      w = writeFlic(name);
    }
    const Bytes b = kavtest::readFile(name);
    ASSERT_GE(b.size(), 128u);
    const Walk got = walk(b);
    // No ring frame arrived: every whole frame counts, and the frames the
    // writer counted are exactly those.
    ASSERT_LE(got.frames, kFrames);
    EXPECT_EQ(got.frames, w.framesField);
    EXPECT_EQ(got.frames, std::min(w.accepted, kFrames));
    if (w.accepted < kFrames) {
      EXPECT_EQ(w.writeErrorAfter, 1u);
    }
    EXPECT_EQ(get16(b, 6), got.frames);
    EXPECT_EQ(get32(b, 0), got.end);
    EXPECT_EQ(get32(b, 84), got.frames ? got.second : got.end);
    if (got.frames == 0) continue;

    KAVFlic *f = KAVFlicOpen(name.c_str());
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(f->frameCount, got.frames);
    std::vector<uint8_t> buf(size_t{f->pitch} * f->paddedHeight, 0);
    for (uint32_t n = 0; n < got.frames; ++n) {
      ASSERT_NE(KAVFlicGetNext(f, buf.data()), 0);
      const std::vector<uint8_t> want = noiseFrame(n);
      for (uint32_t y = 0; y < kH; ++y)
        ASSERT_EQ(std::memcmp(buf.data() + size_t{y} * f->pitch, want.data() + size_t{y} * kW, kW), 0)
            << "frame " << n << " row " << y;
    }
    KAVFlicClose(f);
  }
}

}  // namespace
