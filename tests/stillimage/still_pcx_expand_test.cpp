// The AVX2 window expansion against the portable one on lines long enough
// for its 32-byte windows: the same lines and the same failures whatever
// the coded bytes hold, with every buffer sized exactly so that a stray
// read or write shows under the sanitizers.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "platform/stillimage/still_pcx_expand_avx2.h"
#include "platform/stillimage/still_pcx_kernels.h"

namespace {

using kav::still::PcxRunCarry;

bool haveAvx2() { return kav::still::pcxAvx2Kernels() != nullptr; }

// Decodes data as lines of n bytes by both expanders and compares them line
// by line until the data runs out (which both must report at the same line).
void expectSameLines(const std::vector<uint8_t> &data, size_t start, size_t n, int lines, const char *what) {
  size_t posA = start, posB = start;
  PcxRunCarry carryA, carryB;
  for (int lineNo = 0; lineNo < lines; ++lineNo) {
    std::vector<uint8_t> la(n), lb(n);
    const bool okA = kav::still::pcxPortableKernels().expandLine(data.data(), posA, data.size(), la.data(), n, carryA);
    const bool okB = kav::still::pcxExpandLineAvx2(data.data(), posB, data.size(), lb.data(), n, carryB);
    ASSERT_EQ(okA, okB) << what << " line " << lineNo;
    if (!okA) return;
    ASSERT_EQ(la, lb) << what << " line " << lineNo;
  }
}

// Coded bytes of the kinds a noisy picture gives (literals, escapes, pairs,
// short runs), mixed with zero counts, long runs and high values.
std::vector<uint8_t> noisyTokens(std::mt19937 &rng, size_t size, int mix) {
  std::vector<uint8_t> v;
  while (v.size() < size) {
    const uint32_t r = rng();
    const uint32_t kind = r % 16;
    const uint8_t value = (r >> 8) & 1 ? static_cast<uint8_t>(0xC0 | (r >> 9)) : static_cast<uint8_t>(r >> 9);
    if (static_cast<int>(kind) < 9 - 3 * mix) {
      v.push_back(static_cast<uint8_t>((r >> 9) % 0xC0));
    } else if (kind < 14) {
      v.push_back(static_cast<uint8_t>(0xC0 | (1 + (r >> 4) % 5)));  // counts 1 to 5
      v.push_back(value);
    } else if (kind == 14) {
      v.push_back(static_cast<uint8_t>(0xC0 | ((r >> 4) & 0x3F)));  // any count, zero too
      v.push_back(value);
    } else {
      v.push_back(static_cast<uint8_t>(0xC0 | ((r >> 4) & 1)));  // counts 0 and 1 in a row
      v.push_back(0xC0);
    }
  }
  v.resize(size);
  return v;
}

TEST(PcxExpandAvx2, MatchesPortableOnLongLinesOfAnyTokens) {
  if (!haveAvx2()) GTEST_SKIP() << "not on this processor";
  std::mt19937 rng(21);
  for (int trial = 0; trial < 400; ++trial) {
    const size_t n = 60 + rng() % 700;
    const int lines = 6;
    // Sometimes ending short of the lines: the data ends inside some window.
    const size_t size = n * lines * (trial % 4 == 0 ? 1 : 2) - rng() % n;
    const std::vector<uint8_t> data = noisyTokens(rng, size, trial % 3);
    expectSameLines(data, 0, n, lines, "random tokens");
    // And from an odd start, so windows fall elsewhere.
    expectSameLines(data, 1 + rng() % 40, n, lines, "odd start");
  }
}

// Counts of every size on both sides of a window's end (the count in the
// last lane, its value in the next window), and lines ending inside a short
// run, so that its copies beyond the window carry into the next line.
TEST(PcxExpandAvx2, CountsAtWindowEndsAndRunsOverLineEnds) {
  if (!haveAvx2()) GTEST_SKIP() << "not on this processor";
  for (int count = 0; count < 64; ++count) {
    for (size_t at = 24; at < 72; ++at) {
      std::vector<uint8_t> data;
      for (size_t i = 0; i < at; ++i) data.push_back(static_cast<uint8_t>(i * 7 % 0xC0));
      data.push_back(static_cast<uint8_t>(0xC0 | count));
      data.push_back(0xE7);
      // High literals (escaped) after it keep the parity going.
      for (int i = 0; i < 40; ++i) {
        data.push_back(0xC1);
        data.push_back(static_cast<uint8_t>(0xC0 + i));
      }
      for (int i = 0; i < 90; ++i) data.push_back(static_cast<uint8_t>(i));
      for (const size_t n : {at + 1, at + 2, at + 3, at + 64, at + 65, at + 66, size_t{100}}) {
        expectSameLines(data, 0, n, 4, "count at a window end");
      }
    }
  }
}

// Whole plane lines of a noisy picture, as the loader meets them: many
// lines one after the other with the data ending exactly at the last one,
// and the same data cut short at every few bytes near its end.
TEST(PcxExpandAvx2, WholePicturesAndTruncatedOnes) {
  if (!haveAvx2()) GTEST_SKIP() << "not on this processor";
  std::mt19937 rng(4);
  const size_t n = 1920;
  const int lines = 12;
  std::vector<uint8_t> plain(n * lines);
  for (size_t i = 0; i < plain.size(); ++i) {
    const uint32_t r = rng();
    plain[i] = r % 8 == 0 && i > 0 ? plain[i - 1] : static_cast<uint8_t>(128 + (i % 640) / 8 + (r >> 8) % 8 * 9);
  }
  std::vector<uint8_t> coded(2 * n * lines);
  size_t size = 0;
  for (int y = 0; y < lines; ++y)
    size += kav::still::pcxPortableKernels().packLine(plain.data() + y * n, n, coded.data() + size);
  coded.resize(size);
  size_t pos = 0;
  PcxRunCarry carry;
  for (int y = 0; y < lines; ++y) {
    std::vector<uint8_t> line(n);
    ASSERT_TRUE(kav::still::pcxExpandLineAvx2(coded.data(), pos, coded.size(), line.data(), n, carry));
    ASSERT_TRUE(std::equal(line.begin(), line.end(), plain.begin() + static_cast<std::ptrdiff_t>(y * n)))
        << "line " << y;
  }
  EXPECT_EQ(pos, coded.size());
  for (size_t cut = 1; cut < 200; cut += 3) {
    const std::vector<uint8_t> shorter(coded.begin(), coded.end() - static_cast<std::ptrdiff_t>(cut));
    expectSameLines(shorter, 0, n, lines, "cut short");
  }
}

}  // namespace
