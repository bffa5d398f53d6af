// SSE4.1 kernel of the smooth-area dither: the AVX2 kernel's arithmetic (see
// there) on four pixels a step, for processors without AVX2. The threshold
// pattern repeats every eight pixels, so blocks alternate between two
// threshold vectors.
#include "colour/smooth_dither_vector.h"

#if defined(__x86_64__) || defined(__i386__)

#include <immintrin.h>

#include <cstring>

#define KAV_TARGET_SSE41 __attribute__((target("sse4.1")))

namespace kav::colour {
namespace {

constexpr uint32_t kBlock = 4;

KAV_TARGET_SSE41 inline __m128i load(const uint8_t *p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
}

// Filters the four pixels x .. x + 3, reading the pixels x - 1 .. x + 4.
KAV_TARGET_SSE41 inline void filterBlock(uint8_t *out, const uint8_t *above, const uint8_t *mid,
                                         const uint8_t *below, uint32_t x, __m128i t) {
  const __m128i components = _mm_set1_epi32(0x00FFFFFF);
  const __m128i high3 = _mm_set1_epi32(0x00E0E0E0);
  const __m128i lowNibble = _mm_set1_epi8(15);
  const __m128i highNibble = _mm_set1_epi8(static_cast<char>(0xF0));
  const __m128i sixteen = _mm_set1_epi8(16);
  const __m128i pack = _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);

  const uint8_t *a = above + 4 * static_cast<size_t>(x - 1);
  const uint8_t *m = mid + 4 * static_cast<size_t>(x - 1);
  const uint8_t *b = below + 4 * static_cast<size_t>(x - 1);
  const __m128i a0 = load(a), a1 = load(a + 4), a2 = load(a + 8);
  const __m128i m0 = load(m), centre = load(m + 4), m2 = load(m + 8);
  const __m128i b0 = load(b), b1 = load(b + 4), b2 = load(b + 8);
  const __m128i hi =
      _mm_max_epu8(_mm_max_epu8(_mm_max_epu8(_mm_max_epu8(a0, a1), _mm_max_epu8(a2, m0)),
                                _mm_max_epu8(_mm_max_epu8(centre, m2), _mm_max_epu8(b0, b1))),
                   b2);
  const __m128i lo =
      _mm_min_epu8(_mm_min_epu8(_mm_min_epu8(_mm_min_epu8(a0, a1), _mm_min_epu8(a2, m0)),
                                _mm_min_epu8(_mm_min_epu8(centre, m2), _mm_min_epu8(b0, b1))),
                   b2);
  const __m128i range = _mm_and_si128(_mm_sub_epi8(hi, lo), components);
  const __m128i sum = _mm_madd_epi16(_mm_maddubs_epi16(range, _mm_set1_epi8(1)), _mm_set1_epi16(1));
  const __m128i dark = _mm_cmpeq_epi32(_mm_and_si128(hi, high3), _mm_setzero_si128());
  const __m128i band =
      _mm_and_si128(_mm_cmpgt_epi32(sum, _mm_set1_epi32(4)), _mm_cmplt_epi32(sum, _mm_set1_epi32(16)));
  const __m128i dither = _mm_andnot_si128(dark, band);

  const __m128i up = _mm_and_si128(_mm_cmpgt_epi8(_mm_and_si128(centre, lowNibble), t), sixteen);
  const __m128i quantised = _mm_adds_epu8(_mm_and_si128(centre, highNibble), up);
  const __m128i packed = _mm_shuffle_epi8(_mm_blendv_epi8(centre, quantised, dither), pack);

  uint8_t *o = out + 3 * static_cast<size_t>(x);
  _mm_storel_epi64(reinterpret_cast<__m128i *>(o), packed);
  const uint32_t last = static_cast<uint32_t>(_mm_extract_epi32(packed, 2));
  std::memcpy(o + 8, &last, 4);
}

// The thresholds of the block starting at pixel x, in all four bytes of
// each lane.
KAV_TARGET_SSE41 inline __m128i blockThresholds(const uint8_t thresholds[8], uint32_t x) {
  alignas(16) uint32_t lanes[kBlock];
  for (uint32_t j = 0; j < kBlock; ++j) lanes[j] = thresholds[(x - 1 + j) & 7] * 0x01010101u;
  return _mm_load_si128(reinterpret_cast<const __m128i *>(lanes));
}

}  // namespace

KAV_TARGET_SSE41 uint32_t ditherBlocksSse41(uint8_t *out, const uint8_t *above, const uint8_t *mid,
                                            const uint8_t *below, uint32_t width, const uint8_t thresholds[8]) {
  const __m128i t[2] = {blockThresholds(thresholds, 1), blockThresholds(thresholds, 1 + kBlock)};
  uint32_t x = 1, phase = 0;
  for (; x + kBlock + 1 <= width; x += kBlock, phase ^= 1) filterBlock(out, above, mid, below, x, t[phase]);
  // The pixels left over: one more block ending at the last interior pixel,
  // overlapping the block before it (whose pixels it writes again alike).
  if (x + 1 < width && width >= kBlock + 2) {
    const uint32_t last = width - 1 - kBlock;
    filterBlock(out, above, mid, below, last, blockThresholds(thresholds, last));
    x = width - 1;
  }
  return x - 1;
}

}  // namespace kav::colour

#else

namespace kav::colour {

uint32_t ditherBlocksSse41(uint8_t *, const uint8_t *, const uint8_t *, const uint8_t *, uint32_t, const uint8_t *) {
  return 0;
}

}  // namespace kav::colour

#endif
