// The best split of a box. A candidate k (0..511) limits red, green and blue
// to t = k & 63 unless bit 6, 7 or 8 respectively lifts that component's
// limit to 63; the first part holds the cells inside all three limits. The
// part errors are sums of count x (30 dr^2 + 58 dg^2 + 12 db^2) around the
// part's truncated 6-bit mean; they are computed from per-part moments
// (counts, sums and sums of squares), which gives the same integers as
// summing cell by cell, so all 512 candidates cost one pass over the box.
#include "colour/median_boxes.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "colour/histogram.h"

namespace kav::colour {
namespace {

constexpr uint64_t kWeights[3] = {30, 58, 12};
constexpr uint64_t kNoSplitBound = 0x1FFFFFFDE0000002ull;
constexpr uint32_t kCombos = 7;  // limit patterns 0-6; pattern 7 lifts every limit

inline uint32_t component(uint32_t cell, int c) {
  return c == 0 ? cellRed(cell) : c == 1 ? cellGreen(cell) : cellBlue(cell);
}

// For limit pattern p, the t from which on a cell lies in the first part:
// the largest of its limited components.
inline uint32_t entryOf(uint32_t p, uint32_t r, uint32_t g, uint32_t b) {
  uint32_t key = 0;
  if (!(p & 1)) key = r;
  if (!(p & 2)) key = std::max(key, g);
  if (!(p & 4)) key = std::max(key, b);
  return key;
}

inline void limitsOf(uint32_t k, uint32_t limit[3]) {
  const uint32_t t = k & 63;
  limit[0] = (k & 64) ? 63 : t;
  limit[1] = (k & 128) ? 63 : t;
  limit[2] = (k & 256) ? 63 : t;
}

}  // namespace

void CellMoments::add(const CellMoments &o) {
  pixels += o.pixels;
  cells += o.cells;
  for (int c = 0; c < 3; ++c) {
    sum[c] += o.sum[c];
    squares[c] += o.squares[c];
  }
}

void CellMoments::subtractFrom(const CellMoments &total) {
  pixels = total.pixels - pixels;
  cells = total.cells - cells;
  for (int c = 0; c < 3; ++c) {
    sum[c] = total.sum[c] - sum[c];
    squares[c] = total.squares[c] - squares[c];
  }
}

uint64_t CellMoments::error() const {
  if (pixels == 0) return 0;
  uint64_t e = 0;
  for (int c = 0; c < 3; ++c) {
    // (mean8 >> 2) with mean8 = sum x 4 / pixels is sum / pixels.
    const uint64_t m = sum[c] / pixels;
    // sum over cells of count x (m - v)^2, which is never negative.
    e += kWeights[c] * (squares[c] + pixels * m * m - 2 * m * sum[c]);
  }
  return e;
}

uint32_t CellMoments::colour(uint32_t singleCell) const {
  if (cells == 1) return cellColour(singleCell);
  if (pixels == 0) return 0;
  uint32_t packed = 0;
  for (int c = 0; c < 3; ++c) packed = packed << 8 | static_cast<uint32_t>(sum[c] * 4 / pixels);
  return packed;
}

CellMoments momentsOf(const uint32_t *cells, uint32_t count, const uint32_t *histogram) {
  CellMoments m{};
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t cell = cells[i];
    const uint64_t n = histogram[cell];
    m.pixels += n;
    m.cells += 1;
    for (int c = 0; c < 3; ++c) {
      const uint64_t v = component(cell, c);
      m.sum[c] += n * v;
      m.squares[c] += n * v * v;
    }
  }
  return m;
}

void findBestSplit(ColourBox &box, uint32_t *cells, const uint32_t *histogram) {
  uint32_t *c = cells + box.start;
  if (box.count <= 2) {
    box.split.firstCount = 1;
    box.split.colour[0] = cellColour(c[0]);
    box.split.colour[1] = cellColour(c[box.count == 2 ? 1 : 0]);
    box.split.error[0] = box.split.error[1] = 0;
    return;
  }

  // Moments by limit pattern and by the t at which a cell enters the first
  // part; running sums over t then give the first part of every candidate.
  CellMoments buckets[kCombos][64];
  std::memset(buckets, 0, sizeof(buckets));
  CellMoments total{};
  for (uint32_t i = 0; i < box.count; ++i) {
    const uint32_t cell = c[i];
    const uint64_t n = histogram[cell];
    const uint32_t r = cellRed(cell), g = cellGreen(cell), b = cellBlue(cell);
    CellMoments m;
    m.pixels = n;
    m.cells = 1;
    m.sum[0] = n * r, m.sum[1] = n * g, m.sum[2] = n * b;
    m.squares[0] = m.sum[0] * r, m.squares[1] = m.sum[1] * g, m.squares[2] = m.sum[2] * b;
    total.add(m);
    for (uint32_t p = 0; p < kCombos; ++p) buckets[p][entryOf(p, r, g, b)].add(m);
  }

  uint64_t best = kNoSplitBound;
  uint32_t bestK = 512;
  CellMoments bestFirst{}, bestSecond{};
  for (uint32_t p = 0; p < kCombos; ++p) {
    CellMoments first{};
    for (uint32_t t = 0; t < 64; ++t) {
      first.add(buckets[p][t]);
      if (first.pixels == 0 || first.pixels == total.pixels) continue;  // an empty part
      CellMoments second = first;
      second.subtractFrom(total);
      const uint64_t sum = first.error() + second.error();
      if (sum < best) {  // k rises with p and t, so the lower k keeps a tie
        best = sum;
        bestK = p * 64 + t;
        bestFirst = first;
        bestSecond = second;
      }
    }
  }

  if (bestK == 512) {
    // No candidate below the bound: the box stays whole (its gain is 0).
    box.split.firstCount = box.count;
    box.split.colour[0] = box.split.colour[1] = box.colour;
    box.split.error[0] = box.error > 0 ? static_cast<uint64_t>(box.error) : 0;
    box.split.error[1] = 0;
    return;
  }

  uint32_t limit[3];
  limitsOf(bestK, limit);
  uint32_t front = 0, back = box.count;
  while (front < back) {
    const uint32_t cell = c[front];
    if (cellRed(cell) > limit[0] || cellGreen(cell) > limit[1] || cellBlue(cell) > limit[2]) {
      std::swap(c[front], c[back - 1]);
      --back;
    } else {
      ++front;
    }
  }
  box.split.firstCount = front;
  box.split.colour[0] = bestFirst.colour(c[0]);
  box.split.colour[1] = bestSecond.colour(c[front < box.count ? front : 0]);
  box.split.error[0] = bestFirst.error();
  box.split.error[1] = bestSecond.error();
}

void initialBox(ColourBox &box, uint32_t *cells, uint32_t count, const uint32_t *histogram) {
  const CellMoments m = momentsOf(cells, count, histogram);
  box.start = 0;
  box.count = count;
  box.colour = m.colour(cells[0]);
  const uint64_t e = m.error();
  box.error = static_cast<int64_t>(std::min<uint64_t>(e, INT64_MAX));
  findBestSplit(box, cells, histogram);
  if (count >= 2) {
    const uint64_t parts = box.split.error[0] + box.split.error[1];
    if (box.error <= 0 || static_cast<uint64_t>(box.error) <= parts)
      box.error = static_cast<int64_t>(std::min<uint64_t>(parts + 1, INT64_MAX));
  } else {
    box.error = 0;
  }
}

}  // namespace kav::colour
