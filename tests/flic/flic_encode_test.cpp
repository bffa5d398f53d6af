// The encoders' exact output on small pictures, worked out by hand from the
// packet rules (runs, literals, skips and their limits).
#include <gtest/gtest.h>

#include <vector>

#include "flic/flic_encode.h"

using namespace kav::flic;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes byteRun(const Bytes &px, uint32_t w, uint32_t h, size_t limit = 1000) {
  Bytes out(limit);
  const size_t n = encodeByteRun(px.data(), w, h, out.data(), limit);
  if (n == kEncodeFailed) return {};
  out.resize(n);
  return out;
}

template <typename F>
Bytes delta(F encode, const Bytes &cur, const Bytes &prev, uint32_t w, uint32_t h, size_t limit = 1000) {
  Bytes out(limit);
  const size_t n = encode(cur.data(), prev.data(), w, h, out.data(), limit);
  if (n == kEncodeFailed) return {};
  out.resize(n);
  return out;
}

TEST(FlicEncode, ByteRunSplitsRunsAndLiterals) {
  EXPECT_EQ(byteRun({1, 1, 1, 2, 3, 3}, 6, 1), (Bytes{0, 3, 1, 0xFF, 2, 2, 3}));
  // A literal takes the row's last byte; rows each start with a count byte.
  EXPECT_EQ(byteRun({4, 5, 6, 7, 7, 8}, 3, 2), (Bytes{0, 0xFD, 4, 5, 6, 0, 2, 7, 0xFF, 8}));
  // Runs stop at 127 bytes.
  Bytes long_(130, 9);
  EXPECT_EQ(byteRun(long_, 130, 1), (Bytes{0, 127, 9, 3, 9}));
  // The output must stay strictly below the limit.
  EXPECT_EQ(byteRun({1, 1, 1, 2, 3, 3}, 6, 1, 8).size(), 7u);
  EXPECT_TRUE(byteRun({1, 1, 1, 2, 3, 3}, 6, 1, 7).empty());
}

TEST(FlicEncode, WordDeltaSkipsRunsAndLiterals) {
  const Bytes zero8(8, 0);
  EXPECT_EQ(delta(encodeWordDelta, {0, 0, 5, 6, 5, 6, 0, 0}, zero8, 8, 1),
            (Bytes{1, 0, 1, 0, 2, 0xFE, 5, 6}));
  EXPECT_EQ(delta(encodeWordDelta, {1, 2, 3, 4, 5, 6, 7, 8}, zero8, 8, 1),
            (Bytes{1, 0, 1, 0, 0, 4, 1, 2, 3, 4, 5, 6, 7, 8}));
  // An unchanged first row becomes a line skip; unchanged last rows are not
  // written at all.
  EXPECT_EQ(delta(encodeWordDelta, {0, 0, 7, 8, 0, 0}, Bytes(6, 0), 2, 3), (Bytes{1, 0, 0xFF, 0xFF, 1, 0, 0, 0xFF, 7, 8}));
  // Two unchanged words end a literal: a new packet skips them.
  EXPECT_EQ(delta(encodeWordDelta, {1, 2, 0, 0, 0, 0, 3, 4}, zero8, 8, 1),
            (Bytes{1, 0, 2, 0, 0, 1, 1, 2, 4, 0xFF, 3, 4}));
  EXPECT_TRUE(delta(encodeWordDelta, {1, 2, 3, 4, 5, 6, 7, 8}, zero8, 8, 1, 14).empty());
}

TEST(FlicEncode, ByteDeltaSkipsRunsAndLiterals) {
  const Bytes prev(24, 0);
  Bytes cur(24, 0);
  const Bytes row1 = {0, 0, 9, 9, 9, 9, 9, 0, 0, 0, 0, 5};
  std::copy(row1.begin(), row1.end(), cur.begin() + 12);
  EXPECT_EQ(delta(encodeByteDelta, cur, prev, 12, 2), (Bytes{1, 0, 1, 0, 2, 2, 0xFB, 9, 4, 1, 5}));
  // Fewer than four equal bytes stay in a literal.
  EXPECT_EQ(delta(encodeByteDelta, {3, 3, 3, 1, 0, 0, 0, 0}, Bytes(8, 0), 8, 1),
            (Bytes{0, 0, 1, 0, 1, 0, 4, 3, 3, 3, 1}));
  EXPECT_TRUE(delta(encodeByteDelta, Bytes(8, 0), Bytes(8, 0), 8, 1).empty());  // nothing to encode
}

}  // namespace
