// Portable bulk converters: groups of 4 pixels on two rows, chroma terms
// looked up once per chroma sample and shared by the 2x2 luma pixels it
// covers. They are the reference the vector converters are measured against.
#include <cassert>

#include "vorn/yuv_rows.h"

namespace kav::yuv {
namespace {

// The three chroma terms of one chroma sample, as offsets into the
// saturation table.
struct ChromaTerms {
  int32_t blue, green, red;
};

inline ChromaTerms termsAt(const Tables &t, uint8_t cb, uint8_t cr) {
  return {t.cb[cb], t.gu[cb] + t.gv[cr], t.cr[cr]};
}

inline uint32_t colour(const Tables &t, uint8_t y, const ChromaTerms &c) {
  const uint8_t *base = t.sat + kSatZero + t.yt[y];
  return static_cast<uint32_t>(base[c.blue]) | static_cast<uint32_t>(base[c.green]) << 8 |
         static_cast<uint32_t>(base[c.red]) << 16;
}

template <bool Alpha, bool Grey, bool Wide, int Phase>
void bulkPortable(const Span &s, const RowContext &ctx) {
  assert(s.n % 4 == 0 && s.phase == Phase);
  constexpr int kStep = Wide ? 8 : 4;
  const Tables &t = *ctx.tables;
  const uint8_t *cb = ctx.exchanged ? s.chroma1 : s.chroma2;
  const uint8_t *cr = ctx.exchanged ? s.chroma2 : s.chroma1;
  const uint8_t *y0 = s.luma[0];
  const uint8_t *y1 = s.luma[1];
  uint8_t *d0 = s.dst[0];
  uint8_t *d1 = s.dst[1];
  for (int32_t i = 0; i < s.n; i += 4) {
    uint32_t p0[4], p1[4];
    if constexpr (Grey) {
      for (int k = 0; k < 4; ++k) {
        p0[k] = t.grey[y0[i + k]];
        p1[k] = t.grey[y1[i + k]];
      }
    } else {
      // Even phase: chroma samples c, c, c+1, c+1. Odd phase: the second
      // half of sample c, then c+1 twice, then the first half of c+2.
      const int32_t c = i / 2;
      const ChromaTerms t0 = termsAt(t, cb[c], cr[c]);
      const ChromaTerms t1 = termsAt(t, cb[c + 1], cr[c + 1]);
      if constexpr (Phase == 0) {
        const ChromaTerms *use[4] = {&t0, &t0, &t1, &t1};
        for (int k = 0; k < 4; ++k) {
          p0[k] = colour(t, y0[i + k], *use[k]);
          p1[k] = colour(t, y1[i + k], *use[k]);
        }
      } else {
        const ChromaTerms t2 = termsAt(t, cb[c + 2], cr[c + 2]);
        const ChromaTerms *use[4] = {&t0, &t1, &t1, &t2};
        for (int k = 0; k < 4; ++k) {
          p0[k] = colour(t, y0[i + k], *use[k]);
          p1[k] = colour(t, y1[i + k], *use[k]);
        }
      }
    }
    if constexpr (Alpha) {
      for (int k = 0; k < 4; ++k) {
        p0[k] |= static_cast<uint32_t>(s.alpha[0][i + k]) << 24;
        p1[k] |= static_cast<uint32_t>(s.alpha[1][i + k]) << 24;
      }
    }
    for (int k = 0; k < 4; ++k) {
      storePixel(d0 + (i + k) * kStep, p0[k]);
      storePixel(d1 + (i + k) * kStep, p1[k]);
      if constexpr (Wide) {
        storePixel(d0 + (i + k) * kStep + 4, p0[k]);
        storePixel(d1 + (i + k) * kStep + 4, p1[k]);
      }
    }
  }
}

template <bool Alpha>
void fillFor(ConverterSet &set) {
  set.bulk[kBulkNormal][0] = &bulkPortable<Alpha, false, false, 0>;
  set.bulk[kBulkNormal][1] = &bulkPortable<Alpha, false, false, 1>;
  set.bulk[kBulkGrey][0] = &bulkPortable<Alpha, true, false, 0>;
  set.bulk[kBulkGrey][1] = &bulkPortable<Alpha, true, false, 1>;
  set.bulk[kBulkWide][0] = &bulkPortable<Alpha, false, true, 0>;
  set.bulk[kBulkWide][1] = &bulkPortable<Alpha, false, true, 1>;
  set.bulk[kBulkGreyWide][0] = &bulkPortable<Alpha, true, true, 0>;
  set.bulk[kBulkGreyWide][1] = &bulkPortable<Alpha, true, true, 1>;
  for (uint32_t &shift : set.blockShift) shift = 2;
}

}  // namespace

void fillPortableBulk(ConverterSet &set, bool withAlpha) { withAlpha ? fillFor<true>(set) : fillFor<false>(set); }

}  // namespace kav::yuv
