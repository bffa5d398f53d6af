// AVX2 bulk converters: 32 pixels of two rows per step, the same arithmetic
// as the SSE2 converters (see there) in 256-bit registers.
//
// The unpack instructions work inside each 128-bit half, so the inputs are
// first spread with one 32-bit permutation: luma and alpha bytes so that half
// 0 holds the pixel groups 0-3, 8-11, 16-19, 24-27 and half 1 the groups 4-7,
// 12-15, 20-23, 28-31; the 16 chroma samples (widened to 16 bits) so that
// duplicating or interleaving their lanes lines up with the widened luma.
// Widening, packing and the final byte and word interleaves then produce the
// pixels in memory order without any further shuffle. Chroma terms are
// computed once per chroma sample (twice in the odd phase, for the samples
// from c and from c + 1) and shared by both rows.
#include "vorn/yuv_rows.h"

#if defined(__x86_64__) || defined(__i386__)

#include <immintrin.h>

#include "vorn/yuv_rows_tail.h"

#define KAV_TARGET_AVX2 __attribute__((target("avx2")))

namespace kav::yuv {
namespace {

constexpr int kWidth = 32;

KAV_TARGET_AVX2 inline __m256i spread(__m256i v) {
  return _mm256_permutevar8x32_epi32(v, _mm256_setr_epi32(0, 2, 4, 6, 1, 3, 5, 7));
}

// y16: luma already reduced by 16 (saturating at 0), widened to 16 bits.
KAV_TARGET_AVX2 inline __m256i lumaTerms(__m256i y16) {
  return _mm256_mulhi_epu16(_mm256_slli_epi16(y16, 2), _mm256_set1_epi16(19077));
}

struct Terms {
  __m256i first;   // red coefficient on the first plane
  __m256i second;  // blue coefficient on the second plane
  __m256i green;
};

// Terms of 16 chroma sample pairs (16-bit lanes). The magnitude is scaled
// and then given the sign of d; for d = 0 the magnitude is 0 anyway.
KAV_TARGET_AVX2 inline Terms chromaTerms(__m256i c1, __m256i c2) {
  const __m256i bias = _mm256_set1_epi16(128);
  const __m256i d1 = _mm256_sub_epi16(c1, bias);
  const __m256i d2 = _mm256_sub_epi16(c2, bias);
  const __m256i m1 = _mm256_slli_epi16(_mm256_abs_epi16(d1), 1);
  const __m256i m2 = _mm256_slli_epi16(_mm256_abs_epi16(d2), 1);
  Terms t;
  t.first = _mm256_sign_epi16(_mm256_mulhi_epu16(m1, _mm256_set1_epi16(static_cast<short>(52299))), d1);
  t.second = _mm256_sign_epi16(_mm256_add_epi16(m2, _mm256_mulhi_epu16(m2, _mm256_set1_epi16(565))), d2);
  const __m256i gFirst = _mm256_sign_epi16(_mm256_mulhi_epu16(m1, _mm256_set1_epi16(26639)), d1);
  const __m256i gSecond = _mm256_sign_epi16(_mm256_mulhi_epu16(m2, _mm256_set1_epi16(12837)), d2);
  t.green = _mm256_sub_epi16(_mm256_setzero_si256(), _mm256_add_epi16(gFirst, gSecond));
  return t;
}

// 16 chroma samples widened to 16 bits; sample pair k (32 bits) covers pixel
// group 2k and 2k + 1 and is spread with the same permutation as the luma.
KAV_TARGET_AVX2 inline __m256i chromaSamples(const uint8_t *c) {
  return spread(_mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i *>(c))));
}

// The terms per pixel, low and high halves in the layout of the widened
// luma. Pixel i takes chroma sample (phase + i) >> 1: in the even phase each
// sample's terms are duplicated, in the odd phase they are interleaved with
// those of the next sample.
struct PixelTerms {
  __m256i first[2], second[2], green[2];
};

template <bool Odd>
KAV_TARGET_AVX2 inline PixelTerms pixelTerms(const uint8_t *c1, const uint8_t *c2) {
  const Terms t = chromaTerms(chromaSamples(c1), chromaSamples(c2));
  Terms u = t;
  if constexpr (Odd) u = chromaTerms(chromaSamples(c1 + 1), chromaSamples(c2 + 1));
  PixelTerms p;
  p.first[0] = _mm256_unpacklo_epi16(t.first, u.first);
  p.first[1] = _mm256_unpackhi_epi16(t.first, u.first);
  p.second[0] = _mm256_unpacklo_epi16(t.second, u.second);
  p.second[1] = _mm256_unpackhi_epi16(t.second, u.second);
  p.green[0] = _mm256_unpacklo_epi16(t.green, u.green);
  p.green[1] = _mm256_unpackhi_epi16(t.green, u.green);
  return p;
}

KAV_TARGET_AVX2 inline void storePixels(uint8_t *dst, __m256i px, int index, bool wide) {
  if (wide) {
    const __m256i lo = _mm256_permutevar8x32_epi32(px, _mm256_setr_epi32(0, 0, 1, 1, 2, 2, 3, 3));
    const __m256i hi = _mm256_permutevar8x32_epi32(px, _mm256_setr_epi32(4, 4, 5, 5, 6, 6, 7, 7));
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(dst + index * 64), lo);
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(dst + index * 64 + 32), hi);
  } else {
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(dst + index * 32), px);
  }
}

template <bool Alpha, bool Grey, bool Wide, bool Exchange, bool Odd>
KAV_TARGET_AVX2 void step(const Span &s, int32_t j) {
  const __m256i zero = _mm256_setzero_si256();
  PixelTerms terms;
  if constexpr (!Grey) terms = pixelTerms<Odd>(s.chroma1 + j / 2, s.chroma2 + j / 2);
  for (int r = 0; r < 2; ++r) {
    const __m256i y = _mm256_subs_epu8(
        spread(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(s.luma[r] + j))), _mm256_set1_epi8(16));
    const __m256i lo = lumaTerms(_mm256_unpacklo_epi8(y, zero));
    const __m256i hi = lumaTerms(_mm256_unpackhi_epi8(y, zero));
    __m256i a = zero;
    if constexpr (Alpha) a = spread(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(s.alpha[r] + j)));
    __m256i b, g, red;
    if constexpr (Grey) {
      g = _mm256_packus_epi16(lo, hi);
      b = g;
      red = g;
    } else {
      const __m256i chanFirst =
          _mm256_packus_epi16(_mm256_add_epi16(lo, terms.first[0]), _mm256_add_epi16(hi, terms.first[1]));
      const __m256i chanSecond =
          _mm256_packus_epi16(_mm256_add_epi16(lo, terms.second[0]), _mm256_add_epi16(hi, terms.second[1]));
      g = _mm256_packus_epi16(_mm256_add_epi16(lo, terms.green[0]), _mm256_add_epi16(hi, terms.green[1]));
      b = Exchange ? chanFirst : chanSecond;
      red = Exchange ? chanSecond : chanFirst;
    }
    const __m256i bgLo = _mm256_unpacklo_epi8(b, g);
    const __m256i bgHi = _mm256_unpackhi_epi8(b, g);
    const __m256i raLo = _mm256_unpacklo_epi8(red, a);
    const __m256i raHi = _mm256_unpackhi_epi8(red, a);
    uint8_t *dst = s.dst[r] + j * (Wide ? 8 : 4);
    storePixels(dst, _mm256_unpacklo_epi16(bgLo, raLo), 0, Wide);
    storePixels(dst, _mm256_unpackhi_epi16(bgLo, raLo), 1, Wide);
    storePixels(dst, _mm256_unpacklo_epi16(bgHi, raHi), 2, Wide);
    storePixels(dst, _mm256_unpackhi_epi16(bgHi, raHi), 3, Wide);
  }
}

template <bool Alpha, bool Grey, bool Wide, bool Exchange, bool Odd>
KAV_TARGET_AVX2 void run(const Span &s) {
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

bool fillAvx2Bulk(ConverterSet &set, bool withAlpha) {
  withAlpha ? fillFor<true>(set) : fillFor<false>(set);
  return true;
}

}  // namespace kav::yuv

#else

namespace kav::yuv {
bool fillAvx2Bulk(ConverterSet &, bool) { return false; }
}  // namespace kav::yuv

#endif
