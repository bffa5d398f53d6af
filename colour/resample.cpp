// Contribution tables and their application. Weights are deliberately not
// normalised: the kernels' own sums are what the pictures were always made
// with, and the channel rounding clamps whatever they overshoot.
#include "colour/resample.h"

#include <cmath>
#include <cstring>

#include "colour/resample_kernels.h"
#include "kavutil/kavbase.h"

namespace kav::colour {

int32_t resampleReflect(int64_t j, uint32_t size) {
  const int64_t s = size;
  if (j < 0) return static_cast<int32_t>(-j >= s ? s - 1 : -j);
  if (j >= s) {
    const int64_t m = 2 * s - j - 1;
    return static_cast<int32_t>(m < 0 ? 0 : m);
  }
  return static_cast<int32_t>(j);
}

uint32_t resampleRoundChannel(double v) {
  if (v <= 0.0) return 0;
  if (v > 255.0) return 255;
  return static_cast<uint32_t>(v + 0.5);
}

uint32_t resampleFetch32(const uint8_t *row, uint32_t column) {
  uint32_t p;
  std::memcpy(&p, row + 4 * static_cast<size_t>(column), 4);
  return p;
}

namespace {

void releaseTable(ResampleTable &t) {
  kavfree(t.counts);
  kavfree(t.contributions);
  t = {};
}

bool buildTable(ResampleTable &t, const ResampleKernel &kernel, uint32_t dest, uint32_t source) {
  const double c = static_cast<double>(dest) / static_cast<double>(source);
  const bool enlarging = c >= 1.0;
  const double w = enlarging ? kernel.support : kernel.support / c;
  const double capacity = std::round(2.0 * w + 1.0);
  // A slot count that cannot be addressed is refused rather than wrapped.
  if (!(capacity >= 1.0) || capacity * dest * sizeof(ResampleContribution) > 0xFFFFFFF0u) return false;
  t.capacity = static_cast<uint32_t>(capacity);
  t.counts = static_cast<uint32_t *>(kavmalloc(dest * 4u));
  t.contributions =
      static_cast<ResampleContribution *>(kavmalloc(t.capacity * dest * static_cast<uint32_t>(sizeof(ResampleContribution))));
  if (!t.counts || !t.contributions) {
    releaseTable(t);
    return false;
  }
  for (uint32_t i = 0; i < dest; ++i) {
    const double centre = i / c;
    const int64_t left = static_cast<int64_t>(std::ceil(centre - w));
    const int64_t right = static_cast<int64_t>(std::floor(centre + w));
    ResampleContribution *slot = t.contributions + static_cast<size_t>(i) * t.capacity;
    uint32_t n = 0;
    // The capacity bounds right - left + 1 for every centre; the check only
    // guards the slot against rounding at the ends of the range.
    for (int64_t j = left; j <= right && n < t.capacity; ++j, ++n) {
      const double x = centre - static_cast<double>(j);
      slot[n].weight = enlarging ? kernel.value(x) : kernel.value(x * c) * c;
      slot[n].source = resampleReflect(j, source);
    }
    t.counts[i] = n;
  }
  return true;
}

struct Sums {
  double c0, c1, c2, c3;  // channels of bits 0-7, 8-15, 16-23, 24-31
};

inline void addPixel(Sums &s, double w, uint32_t p) {
  s.c0 += w * static_cast<double>(p & 0xFFu);
  s.c1 += w * static_cast<double>((p >> 8) & 0xFFu);
  s.c2 += w * static_cast<double>((p >> 16) & 0xFFu);
  s.c3 += w * static_cast<double>(p >> 24);
}

// Column by column: the horizontal sums of one destination column for every
// source row go to the cache, then the vertical contributions of each
// destination row combine them. Only one column of intermediate sums exists.
template <class Fetch>
void applyColumns(const Resampler &r, uint32_t *dest, const uint8_t *source, ptrdiff_t pitch, Fetch fetch) {
  double *cache = r.columnCache;
  for (uint32_t x = 0; x < r.destWidth; ++x) {
    const ResampleContribution *hc = r.horizontal.contributions + static_cast<size_t>(x) * r.horizontal.capacity;
    const uint32_t hn = r.horizontal.counts[x];
    const uint8_t *row = source;
    for (uint32_t y = 0; y < r.sourceHeight; ++y, row += pitch) {
      Sums s{0, 0, 0, 0};
      for (uint32_t k = 0; k < hn; ++k) addPixel(s, hc[k].weight, fetch(row, static_cast<uint32_t>(hc[k].source)));
      double *e = cache + 4 * static_cast<size_t>(y);
      e[0] = s.c0;
      e[1] = s.c1;
      e[2] = s.c2;
      e[3] = s.c3;
    }
    uint32_t *out = dest + x;
    for (uint32_t y = 0; y < r.destHeight; ++y, out += r.destWidth) {
      const ResampleContribution *vc = r.vertical.contributions + static_cast<size_t>(y) * r.vertical.capacity;
      const uint32_t vn = r.vertical.counts[y];
      Sums s{0, 0, 0, 0};
      for (uint32_t k = 0; k < vn; ++k) {
        const double w = vc[k].weight;
        const double *e = cache + 4 * static_cast<size_t>(vc[k].source);
        s.c0 += w * e[0];
        s.c1 += w * e[1];
        s.c2 += w * e[2];
        s.c3 += w * e[3];
      }
      *out = resampleRoundChannel(s.c0) | resampleRoundChannel(s.c1) << 8 | resampleRoundChannel(s.c2) << 16 |
             resampleRoundChannel(s.c3) << 24;
    }
  }
}

}  // namespace

Resampler *resamplerCreate(uint32_t selector, uint32_t destWidth, uint32_t destHeight, uint32_t sourceWidth,
                           uint32_t sourceHeight) {
  if (!destWidth || !destHeight || !sourceWidth || !sourceHeight) return nullptr;
  if (destWidth > 0x3FFFFFFFu || destHeight > 0x3FFFFFFFu || sourceHeight > 0x07FFFFFFu) return nullptr;
  auto *r = static_cast<Resampler *>(kavmalloc(sizeof(Resampler)));
  if (!r) return nullptr;
  std::memset(r, 0, sizeof(*r));
  r->destWidth = destWidth;
  r->destHeight = destHeight;
  r->sourceWidth = sourceWidth;
  r->sourceHeight = sourceHeight;
  const ResampleKernel &kernel = resampleKernel(selector);
  r->columnCache = static_cast<double *>(kavmalloc(sourceHeight * 4u * static_cast<uint32_t>(sizeof(double))));
  if (!r->columnCache || !buildTable(r->horizontal, kernel, destWidth, sourceWidth) ||
      !buildTable(r->vertical, kernel, destHeight, sourceHeight)) {
    resamplerFree(r);
    return nullptr;
  }
  return r;
}

void resamplerApply(const Resampler *r, uint32_t *dest, const uint8_t *source, ptrdiff_t sourcePitchBytes,
                    ResampleFetch fetch) {
  if (!r || !dest || !source || !fetch) return;
  if (fetch == resampleFetch32) {
    applyColumns(*r, dest, source, sourcePitchBytes, [](const uint8_t *row, uint32_t column) {
      uint32_t p;
      std::memcpy(&p, row + 4 * static_cast<size_t>(column), 4);
      return p;
    });
  } else {
    applyColumns(*r, dest, source, sourcePitchBytes, fetch);
  }
}

void resamplerFree(Resampler *r) {
  if (!r) return;
  releaseTable(r->horizontal);
  releaseTable(r->vertical);
  kavfree(r->columnCache);
  std::memset(r, 0, sizeof(*r));
  kavfree(r);
}

}  // namespace kav::colour
