// AVX2 nearest-entry search: sixteen entries a step in 16-bit lanes. A
// distance is at most 3 x 63 x 63 = 11907 inside the window and at least
// 3 x 64 x 64 = 12288 past it, so unsigned 16-bit lanes hold both. The
// first pass keeps the distances and their minimum; the second finds the
// lowest entry at that minimum.
#include "colour/nearest_entry.h"

#if defined(__x86_64__) || defined(__i386__)

#include <immintrin.h>

#define KAV_TARGET_AVX2 __attribute__((target("avx2")))

namespace kav::colour {

KAV_TARGET_AVX2 uint32_t nearestEntryAvx2(const PaletteWindow &w, uint32_t r6, uint32_t g6, uint32_t b6) {
  if (w.count == 0) return w.first;
  const uint32_t blocks = (w.count + 15) / 16;
  const __m256i r = _mm256_set1_epi16(static_cast<short>(r6));
  const __m256i g = _mm256_set1_epi16(static_cast<short>(g6));
  const __m256i b = _mm256_set1_epi16(static_cast<short>(b6));
  __m256i distances[16];
  __m256i least = _mm256_set1_epi16(-1);
  for (uint32_t k = 0; k < blocks; ++k) {
    const __m256i dr = _mm256_sub_epi16(_mm256_load_si256(reinterpret_cast<const __m256i *>(w.red + 16 * k)), r);
    const __m256i dg = _mm256_sub_epi16(_mm256_load_si256(reinterpret_cast<const __m256i *>(w.green + 16 * k)), g);
    const __m256i db = _mm256_sub_epi16(_mm256_load_si256(reinterpret_cast<const __m256i *>(w.blue + 16 * k)), b);
    const __m256i d = _mm256_add_epi16(_mm256_add_epi16(_mm256_mullo_epi16(dr, dr), _mm256_mullo_epi16(dg, dg)),
                                       _mm256_mullo_epi16(db, db));
    distances[k] = d;
    least = _mm256_min_epu16(least, d);
  }
  // The minimum into every lane.
  __m128i m = _mm_min_epu16(_mm256_castsi256_si128(least), _mm256_extracti128_si256(least, 1));
  m = _mm_minpos_epu16(m);
  const __m256i target = _mm256_set1_epi16(static_cast<short>(_mm_extract_epi16(m, 0)));
  for (uint32_t k = 0;; ++k) {
    const uint32_t hits =
        static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi16(distances[k], target)));
    if (hits) return w.first + 16 * k + static_cast<uint32_t>(__builtin_ctz(hits)) / 2;
  }
}

}  // namespace kav::colour

#else

namespace kav::colour {

uint32_t nearestEntryAvx2(const PaletteWindow &w, uint32_t r6, uint32_t g6, uint32_t b6) {
  return nearestEntryPortable(w, r6, g6, b6);
}

}  // namespace kav::colour

#endif
