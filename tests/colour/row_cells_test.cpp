// Cells of a row: the AVX2 twin against the reference for both depths and
// every width up to a run, with the row ending exactly where its last pixel
// does (a load past it would be caught by the sanitizers).
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "colour/histogram.h"
#include "colour/row_cells.h"

namespace kc = kav::colour;

TEST(RowCells, VectorTwinMatchesTheReferenceForEveryWidth) {
  if (!__builtin_cpu_supports("avx2")) GTEST_SKIP() << "no AVX2";
  std::mt19937 rng(71);
  for (uint32_t bytes : {3u, 4u}) {
    for (uint32_t w = 0; w <= kc::kCellRun; w += (w < 40 ? 1 : 27)) {
      std::vector<uint8_t> row(bytes * w);
      for (auto &v : row) v = static_cast<uint8_t>(rng());
      std::vector<uint32_t> want(w + 1, 0xDEADBEEF), got(w + 1, 0xDEADBEEF);
      kc::rowCellsPortable(want.data(), row.data(), w, bytes);
      kc::rowCellsAvx2(got.data(), row.data(), w, bytes);
      ASSERT_EQ(got, want) << bytes << " bytes, width " << w;
      for (uint32_t x = 0; x < w; ++x) {
        const uint8_t *p = &row[bytes * x];
        ASSERT_EQ(want[x], kc::cellOf(p[2], p[1], p[0]));
      }
    }
  }
}
