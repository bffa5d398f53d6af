// The vector PCX kernels against the portable ones: same bytes out for
// random and awkward inputs, every buffer sized exactly so that a stray read
// or write shows under the sanitizers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "platform/stillimage/still_pcx_kernels.h"

namespace {

using kav::still::PcxKernels;
using kav::still::PcxRunCarry;

const PcxKernels &portable() { return kav::still::pcxPortableKernels(); }

// Packs line with the portable and the vector packer, each into a buffer of
// exactly the worst case; they must give the same bytes. The portable
// coding is left in coded.
::testing::AssertionResult packsAlike(const PcxKernels &vec, const std::vector<uint8_t> &line,
                                      std::vector<uint8_t> &coded) {
  const size_t n = line.size();
  std::vector<uint8_t> a(2 * n), b(2 * n);
  const size_t na = portable().packLine(line.data(), n, a.data());
  const size_t nb = vec.packLine(line.data(), n, b.data());
  if (na != nb) return ::testing::AssertionFailure() << "lengths " << na << " and " << nb;
  const auto diff = std::mismatch(a.begin(), a.begin() + static_cast<std::ptrdiff_t>(na), b.begin());
  if (diff.first != a.begin() + static_cast<std::ptrdiff_t>(na))
    return ::testing::AssertionFailure() << "differ at byte " << (diff.first - a.begin());
  coded.assign(a.begin(), a.begin() + static_cast<std::ptrdiff_t>(na));
  return ::testing::AssertionSuccess();
}

// Each vector set in turn (null where the processor lacks it).
class PcxVectorKernels : public ::testing::TestWithParam<int> {
 protected:
  const PcxKernels *vectorKernels() const {
    return GetParam() == 0 ? kav::still::pcxSsse3Kernels() : kav::still::pcxAvx2Kernels();
  }
};

// Lines of the kinds that stress the coder: noise, a few values (many short
// runs, some high), long flat stretches around the 63-byte run limit, and
// all high bytes.
std::vector<uint8_t> makeLine(std::mt19937 &rng, int kind, size_t n) {
  std::vector<uint8_t> v(n);
  const uint8_t few[4] = {0x10, 0xC1, 0xFF, static_cast<uint8_t>(rng())};
  size_t i = 0;
  while (i < n) {
    switch (kind) {
      case 0:
        v[i++] = static_cast<uint8_t>(rng());
        break;
      case 1:
        v[i++] = few[rng() % 4];
        break;
      case 2: {
        const size_t len = std::min<size_t>(n - i, 1 + rng() % 130);
        const uint8_t b = few[rng() % 4];
        for (size_t k = 0; k < len; ++k) v[i++] = b;
        break;
      }
      default:
        v[i++] = static_cast<uint8_t>(0xC0 | (rng() % 3));
        break;
    }
  }
  return v;
}

TEST_P(PcxVectorKernels, PackingMatchesPortableAndExpandsBack) {
  const PcxKernels *vec = vectorKernels();
  if (!vec) GTEST_SKIP() << "not on this processor";
  std::mt19937 rng(7);
  for (int trial = 0; trial < 3000; ++trial) {
    const int kind = trial % 4;
    const size_t n = trial < 200 ? static_cast<size_t>(trial) : 1 + rng() % 700;
    const std::vector<uint8_t> line = makeLine(rng, kind, n);
    std::vector<uint8_t> coded;
    ASSERT_TRUE(packsAlike(*vec, line, coded)) << "kind " << kind << " n " << n;
    // And back, by both expanders, into a line of exactly n bytes.
    for (const PcxKernels *k : {&portable(), vec}) {
      std::vector<uint8_t> back(n);
      size_t pos = 0;
      PcxRunCarry carry;
      ASSERT_TRUE(k->expandLine(coded.data(), pos, coded.size(), back.data(), n, carry));
      EXPECT_EQ(pos, coded.size());
      EXPECT_EQ(back, line);
    }
  }
}

// Long lines: flat ones whose runs split into many 63-byte tokens, flat
// stretches with noise between them, and widths either side of the longest
// line the bit-map walk takes.
TEST_P(PcxVectorKernels, LongLinesMatchPortable) {
  const PcxKernels *vec = vectorKernels();
  if (!vec) GTEST_SKIP() << "not on this processor";
  std::mt19937 rng(5);
  for (const size_t n : {1008u, 1070u, 1071u, 1135u, 2500u, 4095u, 4096u, 4097u, 6000u}) {
    for (int kind = 0; kind < 3; ++kind) {
      std::vector<uint8_t> line(n, kind == 1 ? 0xD5 : 0x20);
      if (kind == 2)
        for (size_t i = 0; i < n; i += 1 + rng() % 300)
          for (size_t k = i; k < std::min(n, i + rng() % 20); ++k) line[k] = static_cast<uint8_t>(rng());
      std::vector<uint8_t> coded;
      ASSERT_TRUE(packsAlike(*vec, line, coded)) << "kind " << kind << " n " << n;
    }
  }
}

// Runs of every length from 1 to 130 placed at every offset around the
// packer's window edges, between bytes that are high or low, noisy or
// repeating: runs of four (the longest a window codes itself) and five (the
// shortest measured), runs that end 63 bytes in with one byte over, and
// lines ending inside a run. Each line is exactly its length, so a read
// past its end shows under the sanitizers.
TEST_P(PcxVectorKernels, RunsAtWindowEdgesMatchPortable) {
  const PcxKernels *vec = vectorKernels();
  if (!vec) GTEST_SKIP() << "not on this processor";
  std::mt19937 rng(13);
  for (size_t run = 1; run <= 130; run += (run < 10 || (run > 60 && run < 68) || run > 124) ? 1 : 9) {
    for (size_t at = 0; at < 40; ++at) {
      for (const size_t after : {0u, 1u, 3u, 17u, 19u, 20u, 21u, 40u}) {
        const size_t n = at + run + after;
        std::vector<uint8_t> line(n);
        const uint8_t value = (run + at) & 1 ? 0xC7 : 0x41;
        for (size_t i = 0; i < n; ++i) {
          const uint32_t r = rng();
          line[i] = (r & 3) == 0 ? line[i ? i - 1 : 0] : static_cast<uint8_t>(r >> 8);
        }
        for (size_t i = at; i < at + run; ++i) line[i] = value;
        // Bytes either side differ from the run, so it is exactly run long.
        if (at) line[at - 1] = static_cast<uint8_t>(value ^ 0x5A);
        if (after) line[at + run] = static_cast<uint8_t>(value ^ 0x3C);
        std::vector<uint8_t> coded;
        ASSERT_TRUE(packsAlike(*vec, line, coded)) << "run " << run << " at " << at << " after " << after;
      }
    }
  }
}

// Lines made of short runs only (lengths 1 to 6 of random, often high,
// values) at every length up to 300 and some long ones: the mix of pairs,
// escapes and runs of three to five that the window packer codes in place.
TEST_P(PcxVectorKernels, ShortRunMixesMatchPortable) {
  const PcxKernels *vec = vectorKernels();
  if (!vec) GTEST_SKIP() << "not on this processor";
  std::mt19937 rng(17);
  for (size_t n = 0; n < 2400; n += n < 300 ? 1 : 97) {
    std::vector<uint8_t> line(n);
    for (size_t i = 0; i < n;) {
      const size_t len = 1 + rng() % 6;
      const uint8_t v = static_cast<uint8_t>(rng() % 3 == 0 ? 0xC0 | rng() : rng());
      for (size_t k = 0; k < len && i < n; ++k) line[i++] = v;
    }
    std::vector<uint8_t> coded;
    ASSERT_TRUE(packsAlike(*vec, line, coded)) << "n " << n;
  }
}

// Arbitrary coded bytes (any count, zero counts, runs over line ends, data
// ending anywhere) decoded as a sequence of lines: both expanders must give
// the same lines and fail at the same line.
TEST_P(PcxVectorKernels, ExpansionMatchesPortableOnAnyData) {
  const PcxKernels *vec = vectorKernels();
  if (!vec) GTEST_SKIP() << "not on this processor";
  std::mt19937 rng(11);
  for (int trial = 0; trial < 3000; ++trial) {
    const size_t size = rng() % 600;
    std::vector<uint8_t> data(size);
    const int mix = trial % 3;
    for (auto &b : data) {
      const uint32_t r = rng();
      if (mix == 0) b = static_cast<uint8_t>(r);
      else if (mix == 1) b = (r & 1) ? static_cast<uint8_t>(0xC0 | ((r >> 1) % 4)) : static_cast<uint8_t>(r >> 8);
      else b = (r % 5 == 0) ? static_cast<uint8_t>(0xC0 | ((r >> 3) & 0x3F)) : static_cast<uint8_t>((r >> 9) & 0x7F);
    }
    const size_t n = 1 + rng() % 90;
    size_t posA = 0, posB = 0;
    PcxRunCarry carryA, carryB;
    for (int lineNo = 0; lineNo < 40; ++lineNo) {
      std::vector<uint8_t> la(n), lb(n);
      const bool okA = portable().expandLine(data.data(), posA, data.size(), la.data(), n, carryA);
      const bool okB = vec->expandLine(data.data(), posB, data.size(), lb.data(), n, carryB);
      ASSERT_EQ(okA, okB) << "trial " << trial << " line " << lineNo;
      if (!okA) break;
      ASSERT_EQ(la, lb) << "trial " << trial << " line " << lineNo;
    }
  }
}

TEST_P(PcxVectorKernels, PlaneSplitMatchesPortable) {
  const PcxKernels *vec = vectorKernels();
  if (!vec) GTEST_SKIP() << "not on this processor";
  std::mt19937 rng(3);
  for (size_t w = 0; w < 120; ++w) {
    std::vector<uint8_t> bgr(3 * w);
    for (auto &b : bgr) b = static_cast<uint8_t>(rng());
    std::vector<uint8_t> planesA(3 * w), planesB(3 * w);
    portable().bgrToPlanes(bgr.data(), planesA.data(), planesA.data() + w, planesA.data() + 2 * w, w);
    vec->bgrToPlanes(bgr.data(), planesB.data(), planesB.data() + w, planesB.data() + 2 * w, w);
    ASSERT_EQ(planesA, planesB) << "width " << w;
    for (size_t i = 0; i < w; ++i) ASSERT_EQ(planesA[i], bgr[3 * i + 2]);  // red first
    std::vector<uint8_t> back(3 * w);
    vec->planesToBgr(planesB.data(), planesB.data() + w, planesB.data() + 2 * w, back.data(), w);
    ASSERT_EQ(back, bgr) << "width " << w;
    portable().planesToBgr(planesA.data(), planesA.data() + w, planesA.data() + 2 * w, back.data(), w);
    ASSERT_EQ(back, bgr) << "width " << w;
  }
}

INSTANTIATE_TEST_SUITE_P(Sets, PcxVectorKernels, ::testing::Values(0, 1),
                         [](const ::testing::TestParamInfo<int> &i) { return i.param == 0 ? "Ssse3" : "Avx2"; });

}  // namespace
