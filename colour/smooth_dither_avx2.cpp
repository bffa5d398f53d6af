// AVX2 kernel of the smooth-area dither: eight pixels a step, one pixel to a
// 32-bit lane with its components in bytes. The 3 x 3 extremes are byte
// maxima and minima of nine loads (three rows, shifted by one pixel either
// way); the range sum comes from two multiply-adds with ones, and the
// quantisation is a saturating byte add, which also caps 256 at 255.
#include "colour/smooth_dither_vector.h"

#if defined(__x86_64__) || defined(__i386__)

#include <immintrin.h>

#define KAV_TARGET_AVX2 __attribute__((target("avx2")))

namespace kav::colour {
namespace {

constexpr uint32_t kBlock = 8;

KAV_TARGET_AVX2 inline __m256i load(const uint8_t *p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p));
}

// Filters the eight pixels x .. x + 7, reading the pixels x - 1 .. x + 8.
KAV_TARGET_AVX2 inline void filterBlock(uint8_t *out, const uint8_t *above, const uint8_t *mid, const uint8_t *below,
                                        uint32_t x, __m256i t) {
  const __m256i components = _mm256_set1_epi32(0x00FFFFFF);
  const __m256i high3 = _mm256_set1_epi32(0x00E0E0E0);  // a component of 32 or more
  const __m256i lowNibble = _mm256_set1_epi8(15);
  const __m256i highNibble = _mm256_set1_epi8(static_cast<char>(0xF0));
  const __m256i sixteen = _mm256_set1_epi8(16);
  // Three bytes of each lane to the front of each half, then the halves'
  // twelve bytes side by side.
  const __m256i pack = _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1,  //
                                        0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
  const __m256i join = _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 3, 7);

  const uint8_t *a = above + 4 * static_cast<size_t>(x - 1);
  const uint8_t *m = mid + 4 * static_cast<size_t>(x - 1);
  const uint8_t *b = below + 4 * static_cast<size_t>(x - 1);
  const __m256i a0 = load(a), a1 = load(a + 4), a2 = load(a + 8);
  const __m256i m0 = load(m), centre = load(m + 4), m2 = load(m + 8);
  const __m256i b0 = load(b), b1 = load(b + 4), b2 = load(b + 8);
  const __m256i hi = _mm256_max_epu8(
      _mm256_max_epu8(_mm256_max_epu8(_mm256_max_epu8(a0, a1), _mm256_max_epu8(a2, m0)),
                      _mm256_max_epu8(_mm256_max_epu8(centre, m2), _mm256_max_epu8(b0, b1))),
      b2);
  const __m256i lo = _mm256_min_epu8(
      _mm256_min_epu8(_mm256_min_epu8(_mm256_min_epu8(a0, a1), _mm256_min_epu8(a2, m0)),
                      _mm256_min_epu8(_mm256_min_epu8(centre, m2), _mm256_min_epu8(b0, b1))),
      b2);
  const __m256i range = _mm256_and_si256(_mm256_sub_epi8(hi, lo), components);
  const __m256i sum =
      _mm256_madd_epi16(_mm256_maddubs_epi16(range, _mm256_set1_epi8(1)), _mm256_set1_epi16(1));
  const __m256i dark = _mm256_cmpeq_epi32(_mm256_and_si256(hi, high3), _mm256_setzero_si256());
  const __m256i band = _mm256_and_si256(_mm256_cmpgt_epi32(sum, _mm256_set1_epi32(4)),
                                        _mm256_cmpgt_epi32(_mm256_set1_epi32(16), sum));
  const __m256i dither = _mm256_andnot_si256(dark, band);

  const __m256i up = _mm256_and_si256(_mm256_cmpgt_epi8(_mm256_and_si256(centre, lowNibble), t), sixteen);
  const __m256i quantised = _mm256_adds_epu8(_mm256_and_si256(centre, highNibble), up);
  const __m256i result = _mm256_blendv_epi8(centre, quantised, dither);

  const __m256i packed = _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(result, pack), join);
  uint8_t *o = out + 3 * static_cast<size_t>(x);
  _mm_storeu_si128(reinterpret_cast<__m128i *>(o), _mm256_castsi256_si128(packed));
  _mm_storel_epi64(reinterpret_cast<__m128i *>(o + 16), _mm256_extracti128_si256(packed, 1));
}

// The thresholds of the block starting at pixel x, in all four bytes of
// each lane.
KAV_TARGET_AVX2 inline __m256i blockThresholds(const uint8_t thresholds[8], uint32_t x) {
  alignas(32) uint32_t lanes[kBlock];
  for (uint32_t j = 0; j < kBlock; ++j) lanes[j] = thresholds[(x - 1 + j) & 7] * 0x01010101u;
  return _mm256_load_si256(reinterpret_cast<const __m256i *>(lanes));
}

}  // namespace

KAV_TARGET_AVX2 uint32_t ditherBlocksAvx2(uint8_t *out, const uint8_t *above, const uint8_t *mid,
                                          const uint8_t *below, uint32_t width, const uint8_t thresholds[8]) {
  const __m256i t = blockThresholds(thresholds, 1);
  uint32_t x = 1;
  for (; x + kBlock + 1 <= width; x += kBlock) filterBlock(out, above, mid, below, x, t);
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

uint32_t ditherBlocksAvx2(uint8_t *, const uint8_t *, const uint8_t *, const uint8_t *, uint32_t, const uint8_t *) {
  return 0;
}

}  // namespace kav::colour

#endif
