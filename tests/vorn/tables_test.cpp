// The constant tables: quantisation anchors, prefix codes, scan and run
// orders (checked against the writer's separate transcription), bundle sizes.
#include <gtest/gtest.h>
#include <kavutil/vorn.h>

#include <algorithm>
#include <set>

#include "support/vorn_writer.h"
#include "vorn/bitreader.h"
#include "vorn/tables.h"
#include "vorn/trees.h"

using namespace kav::vorn;
namespace vw = kavtest::vornw;

TEST(VornTables, QuantisationAnchorsAndFormula) {
  EXPECT_EQ(intraQuant(0)[0], 65536u);
  EXPECT_EQ(interQuant(0)[0], 65536u);
  EXPECT_EQ(intraQuant(15)[0], 2883584u);
  EXPECT_EQ(interQuant(15)[63], 452718u);
  for (unsigned q = 0; q < 16; ++q)
    for (unsigned k = 0; k < 64; ++k) {
      ASSERT_EQ(intraQuant(q)[k], vw::modelQuant(true, q, k)) << q << " " << k;
      ASSERT_EQ(interQuant(q)[k], vw::modelQuant(false, q, k)) << q << " " << k;
    }
}

TEST(VornTables, EveryPrefixCodeDecodesToItsIndexAndConsumesOnlyItsBits) {
  for (unsigned t = 0; t < 16; ++t)
    for (unsigned i = 0; i < 16; ++i) {
      vw::BitWriter w;
      w.putCode(vw::treeCode(t, i));
      size_t len = w.bitCount();
      w.put(0x5A5A5A5A, 32);
      std::vector<uint8_t> bytes = w.words();
      BitReader br(bytes.data(), bytes.size(), 0);
      Tree tree;
      tree.lookup = treeLookup(t);
      ASSERT_EQ(tree.decode(br), i) << "tree " << t;
      ASSERT_EQ(br.consumedBits(), len) << "tree " << t << " index " << i;
    }
}

TEST(VornTables, ScanAndRunOrdersArePermutationsMatchingTheWriter) {
  std::set<unsigned> seen;
  for (unsigned k = 0; k < 64; ++k) {
    EXPECT_EQ(kScan[k], vw::scanPosition(k));
    seen.insert(kScan[k]);
  }
  EXPECT_EQ(seen.size(), 64u);
  for (unsigned p = 0; p < 16; ++p) {
    std::set<unsigned> s;
    for (unsigned i = 0; i < 64; ++i) {
      EXPECT_EQ(kRunPatterns[p][i], vw::runPatternPosition(p, i)) << p << " " << i;
      s.insert(kRunPatterns[p][i]);
    }
    EXPECT_EQ(s.size(), 64u) << p;
  }
}

TEST(VornTables, BundleSizesFollowWidthAndRoundToWords) {
  uint32_t s[VORN_BUNDLE_COUNT];
  ExpandBundleSizes(s, 640);
  const uint32_t want640[VORN_BUNDLE_COUNT] = {592, 552, 5632, 1152, 592, 592, 1184, 1184, 4352};
  for (int i = 0; i < VORN_BUNDLE_COUNT; ++i) EXPECT_EQ(s[i], want640[i]) << i;
  ExpandBundleSizes(s, 328);  // 41 blocks across, 20 sub-blocks
  const uint32_t want328[VORN_BUNDLE_COUNT] = {556, 532, 3136, 840, 556, 556, 1108, 1108, 2480};
  for (int i = 0; i < VORN_BUNDLE_COUNT; ++i) EXPECT_EQ(s[i], want328[i]) << i;
}

#include <random>

#include "vorn/idct.h"

TEST(VornTransform, SimdTwinMatchesTheReferenceOnRandomAndExtremeInputs) {
#if defined(__x86_64__) || defined(__i386__)
  if (!__builtin_cpu_supports("avx2")) GTEST_SKIP() << "no AVX2";
  std::mt19937 rng(42);
  for (int iter = 0; iter < 20000; ++iter) {
    int32_t coef[64] = {};
    int kind = iter % 4;
    int n = kind == 0 ? 1 : int(rng() % 64) + 1;
    for (int i = 0; i < n; ++i) {
      int k = kind == 0 ? 0 : int(rng() % 64);
      coef[k] = kind == 3 ? int32_t(rng()) : int32_t(rng() % 4001) - 2000;
    }
    const uint32_t *q = (iter & 1 ? intraQuant(rng() % 16) : interQuant(rng() % 16));
    uint8_t a[64], b[64];
    inverseTransformPortable(coef, q, a);
    inverseTransformAvx2(coef, q, b);
    for (int k = 0; k < 64; ++k) ASSERT_EQ(a[k], b[k]) << iter << " " << k;
  }
#else
  GTEST_SKIP() << "no x86 SIMD";
#endif
}

TEST(VornTransform, ReferenceMatchesTheWritersModel) {
  std::mt19937 rng(43);
  for (int iter = 0; iter < 2000; ++iter) {
    std::array<int32_t, 64> coded{};
    for (int n = int(rng() % 10); n >= 0; --n) coded[rng() % 64] = int32_t(rng() % 6001) - 3000;
    bool intra = iter & 1;
    unsigned q = rng() % 16;
    int32_t raster[64];
    for (int k = 0; k < 64; ++k) raster[kScan[k]] = coded[k];
    uint8_t out[64];
    inverseTransformPortable(raster, intra ? intraQuant(q) : interQuant(q), out);
    auto want = vw::modelTransform(coded, intra, q);
    for (int k = 0; k < 64; ++k) ASSERT_EQ(out[k], want[k]) << iter << " " << k;
  }
}
