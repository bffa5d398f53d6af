// SSE2 bulk converters: 16 pixels of two rows per step in 16-bit lanes.
//
// Luma term: ((max(y - 16, 0) * 4) * 19077) >> 16, an unsigned high multiply.
// Chroma terms equal the table values exactly: for d = c - 128 the tables
// hold trunc(K * d / 32768), which is sign(d) * ((2|d| * K) >> 16) for K below
// 65536 and sign(d) * (2|d| + ((2|d| * 565) >> 16)) for the blue coefficient
// 66101 = 65536 + 565. Channels are clamped to 0..255 by the signed-to-unsigned
// saturating pack; no sum leaves the 16-bit range, so this equals the
// saturating add and subtract of 0x7F00.
//
// The first chroma plane always feeds the red coefficient and the green one
// for Cr, the second plane the blue coefficient and the green one for Cb.
// Exchanging the chroma roles swaps the tables CB/CR and GU/GV and the planes
// together, which leaves green as it is and only trades the blue and red
// channels: that is all the exchanged kernels do differently.
#include "vorn/yuv_rows.h"

#if defined(__x86_64__) || defined(__i386__)

#include <emmintrin.h>

#include "vorn/yuv_rows_tail.h"

#define KAV_TARGET_SSE2 __attribute__((target("sse2")))

namespace kav::yuv {
namespace {

constexpr int kWidth = 16;

KAV_TARGET_SSE2 inline __m128i applySign(__m128i v, __m128i sign) {
  return _mm_sub_epi16(_mm_xor_si128(v, sign), sign);
}

// y16: luma already reduced by 16 (saturating at 0), widened to 16 bits.
KAV_TARGET_SSE2 inline __m128i lumaTerms(__m128i y16) {
  return _mm_mulhi_epu16(_mm_slli_epi16(y16, 2), _mm_set1_epi16(19077));
}

struct Terms {
  __m128i first;   // red coefficient on the first plane
  __m128i second;  // blue coefficient on the second plane
  __m128i green;
};

// c1, c2: 8 chroma samples of each plane widened to 16 bits.
KAV_TARGET_SSE2 inline Terms chromaTerms(__m128i c1, __m128i c2) {
  const __m128i bias = _mm_set1_epi16(128);
  const __m128i d1 = _mm_sub_epi16(c1, bias);
  const __m128i d2 = _mm_sub_epi16(c2, bias);
  const __m128i s1 = _mm_srai_epi16(d1, 15);
  const __m128i s2 = _mm_srai_epi16(d2, 15);
  const __m128i m1 = _mm_slli_epi16(applySign(d1, s1), 1);
  const __m128i m2 = _mm_slli_epi16(applySign(d2, s2), 1);
  Terms t;
  t.first = applySign(_mm_mulhi_epu16(m1, _mm_set1_epi16(static_cast<short>(52299))), s1);
  t.second = applySign(_mm_add_epi16(m2, _mm_mulhi_epu16(m2, _mm_set1_epi16(565))), s2);
  const __m128i gFirst = applySign(_mm_mulhi_epu16(m1, _mm_set1_epi16(26639)), s1);
  const __m128i gSecond = applySign(_mm_mulhi_epu16(m2, _mm_set1_epi16(12837)), s2);
  t.green = _mm_sub_epi16(_mm_setzero_si128(), _mm_add_epi16(gFirst, gSecond));
  return t;
}

// 8 chroma samples widened to 16 bits.
KAV_TARGET_SSE2 inline __m128i chromaSamples(const uint8_t *c) {
  return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(c)), _mm_setzero_si128());
}

// The terms per pixel for pixels 0-7 and 8-15. Pixel i takes chroma sample
// (phase + i) >> 1: in the even phase each sample's terms are duplicated, in
// the odd phase they are interleaved with those of the next sample.
struct PixelTerms {
  __m128i first[2], second[2], green[2];
};

template <bool Odd>
KAV_TARGET_SSE2 inline PixelTerms pixelTerms(const uint8_t *c1, const uint8_t *c2) {
  const Terms t = chromaTerms(chromaSamples(c1), chromaSamples(c2));
  Terms u = t;
  if constexpr (Odd) u = chromaTerms(chromaSamples(c1 + 1), chromaSamples(c2 + 1));
  PixelTerms p;
  p.first[0] = _mm_unpacklo_epi16(t.first, u.first);
  p.first[1] = _mm_unpackhi_epi16(t.first, u.first);
  p.second[0] = _mm_unpacklo_epi16(t.second, u.second);
  p.second[1] = _mm_unpackhi_epi16(t.second, u.second);
  p.green[0] = _mm_unpacklo_epi16(t.green, u.green);
  p.green[1] = _mm_unpackhi_epi16(t.green, u.green);
  return p;
}

KAV_TARGET_SSE2 inline void storePixels(uint8_t *dst, __m128i px, int index, bool wide) {
  if (wide) {
    _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + index * 32), _mm_unpacklo_epi32(px, px));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + index * 32 + 16), _mm_unpackhi_epi32(px, px));
  } else {
    _mm_storeu_si128(reinterpret_cast<__m128i *>(dst + index * 16), px);
  }
}

template <bool Alpha, bool Grey, bool Wide, bool Exchange, bool Odd>
KAV_TARGET_SSE2 void step(const Span &s, int32_t j) {
  const __m128i zero = _mm_setzero_si128();
  PixelTerms terms;
  if constexpr (!Grey) terms = pixelTerms<Odd>(s.chroma1 + j / 2, s.chroma2 + j / 2);
  for (int r = 0; r < 2; ++r) {
    const __m128i y =
        _mm_subs_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(s.luma[r] + j)), _mm_set1_epi8(16));
    const __m128i lo = lumaTerms(_mm_unpacklo_epi8(y, zero));
    const __m128i hi = lumaTerms(_mm_unpackhi_epi8(y, zero));
    __m128i a = zero;
    if constexpr (Alpha) a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(s.alpha[r] + j));
    __m128i b, g, red;
    if constexpr (Grey) {
      g = _mm_packus_epi16(lo, hi);
      b = g;
      red = g;
    } else {
      const __m128i chanFirst =
          _mm_packus_epi16(_mm_add_epi16(lo, terms.first[0]), _mm_add_epi16(hi, terms.first[1]));
      const __m128i chanSecond =
          _mm_packus_epi16(_mm_add_epi16(lo, terms.second[0]), _mm_add_epi16(hi, terms.second[1]));
      g = _mm_packus_epi16(_mm_add_epi16(lo, terms.green[0]), _mm_add_epi16(hi, terms.green[1]));
      b = Exchange ? chanFirst : chanSecond;
      red = Exchange ? chanSecond : chanFirst;
    }
    const __m128i bgLo = _mm_unpacklo_epi8(b, g);
    const __m128i bgHi = _mm_unpackhi_epi8(b, g);
    const __m128i raLo = _mm_unpacklo_epi8(red, a);
    const __m128i raHi = _mm_unpackhi_epi8(red, a);
    uint8_t *dst = s.dst[r] + j * (Wide ? 8 : 4);
    storePixels(dst, _mm_unpacklo_epi16(bgLo, raLo), 0, Wide);
    storePixels(dst, _mm_unpackhi_epi16(bgLo, raLo), 1, Wide);
    storePixels(dst, _mm_unpacklo_epi16(bgHi, raHi), 2, Wide);
    storePixels(dst, _mm_unpackhi_epi16(bgHi, raHi), 3, Wide);
  }
}

template <bool Alpha, bool Grey, bool Wide, bool Exchange, bool Odd>
KAV_TARGET_SSE2 void run(const Span &s) {
  const int32_t full = s.n & ~(kWidth - 1);
  for (int32_t j = 0; j < full; j += kWidth) step<Alpha, Grey, Wide, Exchange, Odd>(s, j);
  if (full < s.n) {
    TailStage<kWidth> tail;
    const Span staged = tail.stage(s, full, s.n - full);
    step<Alpha, Grey, Wide, Exchange, Odd>(staged, 0);
    tail.unstage(s, full, s.n - full, Wide ? 8 : 4);
  }
}

template <bool Alpha, bool Grey, bool Wide>
void bulk(const Span &s, const RowContext &ctx) {
  if (Grey) {
    run<Alpha, Grey, Wide, false, false>(s);
  } else if (ctx.exchanged) {
    s.phase ? run<Alpha, Grey, Wide, true, true>(s) : run<Alpha, Grey, Wide, true, false>(s);
  } else {
    s.phase ? run<Alpha, Grey, Wide, false, true>(s) : run<Alpha, Grey, Wide, false, false>(s);
  }
}

template <bool Alpha>
void fillFor(ConverterSet &set) {
  set.bulk[kBulkNormal][0] = set.bulk[kBulkNormal][1] = &bulk<Alpha, false, false>;
  set.bulk[kBulkGrey][0] = set.bulk[kBulkGrey][1] = &bulk<Alpha, true, false>;
  set.bulk[kBulkWide][0] = set.bulk[kBulkWide][1] = &bulk<Alpha, false, true>;
  set.bulk[kBulkGreyWide][0] = set.bulk[kBulkGreyWide][1] = &bulk<Alpha, true, true>;
  for (uint32_t &shift : set.blockShift) shift = 2;
}

}  // namespace

bool fillSse2Bulk(ConverterSet &set, bool withAlpha) {
  withAlpha ? fillFor<true>(set) : fillFor<false>(set);
  return true;
}

}  // namespace kav::yuv

#else

namespace kav::yuv {
bool fillSse2Bulk(ConverterSet &, bool) { return false; }
}  // namespace kav::yuv

#endif
