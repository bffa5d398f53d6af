// The 24-bit row unpacker: bulk packets straight into the row, the row's
// last packets through scratch. Every buffer here is exactly the size the
// call may touch, so the sanitizer build sees any stray access.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "platform/stillimage/still_tga_unpack.h"

namespace {

using namespace kav::still;
using Bytes = std::vector<uint8_t>;

// Packets of 3-byte pixels with no regard for rows: mostly short ones,
// some up to the longest, runs and raw mixed.
Bytes randomPackets(size_t pixels, std::mt19937 &rng) {
  Bytes out;
  size_t made = 0;
  while (made < pixels) {
    const bool run = rng() % 2;
    const unsigned count = rng() % 5 == 0 ? 1 + rng() % 128 : 1 + rng() % 16;
    out.push_back(static_cast<uint8_t>((run ? 0x80 : 0) | (count - 1)));
    for (unsigned i = 0; i < (run ? 3 : 3 * count); ++i) out.push_back(static_cast<uint8_t>(rng()));
    made += count;
  }
  return out;
}

// What whole packets from src[0] on give, up to (not past) rowBytes - start
// bytes, and where the first packet left out starts.
struct Replay {
  Bytes row;
  size_t at = 0;
};
Replay replay(const Bytes &src, size_t stopAt, size_t start, size_t rowBytes) {
  Replay r;
  r.row.assign(rowBytes, 0xEE);
  size_t out = start;
  while (r.at < stopAt) {
    const uint8_t head = src[r.at];
    const size_t count = (head & 0x7Fu) + 1u;
    for (size_t k = 0; k < count; ++k)
      std::memcpy(&r.row[out + 3 * k], &src[r.at + 1 + ((head & 0x80) ? 0 : 3 * k)], 3);
    out += 3 * count;
    r.at += 1 + ((head & 0x80) ? 3 : 3 * count);
  }
  return r;
}

TEST(TgaUnpack, RowUnpackerFillsTheRowUpToACrossingPacket) {
  if (!tgaunpack::useAvx2()) GTEST_SKIP() << "no AVX2 here, or vector paths ruled out";
  std::mt19937 rng(29);
  for (int round = 0; round < 60; ++round) {
    const size_t w = round < 20 ? 1 + rng() % 48 : 1 + rng() % 700;
    const size_t rowBytes = 3 * w;
    const Bytes all = randomPackets(3 * w + 300, rng);
    for (size_t cut : {size_t{0}, size_t{5}, size_t{120}, size_t{390}, all.size() / 2}) {
      if (cut >= all.size()) continue;
      const Bytes src(all.begin(), all.end() - static_cast<std::ptrdiff_t>(cut));
      for (size_t start : {size_t{0}, size_t{3}, rowBytes / 2 / 3 * 3}) {
        Bytes row(rowBytes, 0xEE);
        size_t at = 0;
        const size_t filled = tgaunpack::unpack24RowAvx2(src.data(), src.size(), at, row.data(), start, rowBytes);
        ASSERT_GE(filled, start);
        ASSERT_LE(filled, rowBytes);
        ASSERT_LE(at, src.size());
        const Replay want = replay(src, at, start, rowBytes);
        ASSERT_EQ(want.at, at) << "stopped inside a packet, width " << w;
        ASSERT_TRUE(std::equal(row.begin() + static_cast<std::ptrdiff_t>(start),
                               row.begin() + static_cast<std::ptrdiff_t>(filled),
                               want.row.begin() + static_cast<std::ptrdiff_t>(start)))
            << "width " << w << " cut " << cut << " start " << start;
        // Well before the input's end, only a packet running past the row
        // is left to the caller.
        if (filled < rowBytes && src.size() - at > 400) {
          const size_t bytes = 3 * ((src[at] & 0x7Fu) + 1u);
          EXPECT_GT(bytes, rowBytes - filled) << "width " << w << " left a packet that fits";
        }
      }
    }
  }
}

}  // namespace
