// AVX2 cells of eight pixels a step. 24-bit pixels are first spread to one
// pixel a 32-bit lane: a dword permutation gives each 128-bit half the
// twelve bytes of its four pixels, a byte shuffle then spreads them. The
// last pixels, whose 32-byte load would reach past the row, are done one by
// one.
#include "colour/row_cells.h"

#if defined(__x86_64__) || defined(__i386__)

#include <immintrin.h>

#include "colour/histogram.h"

#define KAV_TARGET_AVX2 __attribute__((target("avx2")))

namespace kav::colour {
namespace {

// 0x00RRGGBB in each lane to red6 << 12 | green6 << 6 | blue6.
KAV_TARGET_AVX2 inline __m256i cellsOf(__m256i p) {
  const __m256i six = _mm256_set1_epi32(0x3F);
  const __m256i blue = _mm256_and_si256(_mm256_srli_epi32(p, 2), six);
  const __m256i green = _mm256_and_si256(_mm256_srli_epi32(p, 4), _mm256_set1_epi32(0x3F << 6));
  const __m256i red = _mm256_and_si256(_mm256_srli_epi32(p, 6), _mm256_set1_epi32(0x3F << 12));
  return _mm256_or_si256(_mm256_or_si256(blue, green), red);
}

}  // namespace

KAV_TARGET_AVX2 void rowCellsAvx2(uint32_t *cells, const uint8_t *pixels, uint32_t width, uint32_t bytesPerPixel) {
  uint32_t x = 0;
  if (bytesPerPixel == 4) {
    for (; x + 8 <= width; x += 8) {
      const __m256i p = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(pixels + 4 * static_cast<size_t>(x)));
      _mm256_storeu_si256(reinterpret_cast<__m256i *>(cells + x), cellsOf(p));
    }
  } else {
    const __m256i halves = _mm256_setr_epi32(0, 1, 2, 0, 3, 4, 5, 0);
    const __m256i spread = _mm256_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1,  //
                                            0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
    // The load reads 32 bytes for 24 used.
    for (; 3 * static_cast<size_t>(x) + 32 <= 3 * static_cast<size_t>(width); x += 8) {
      const __m256i raw = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(pixels + 3 * static_cast<size_t>(x)));
      const __m256i p = _mm256_shuffle_epi8(_mm256_permutevar8x32_epi32(raw, halves), spread);
      _mm256_storeu_si256(reinterpret_cast<__m256i *>(cells + x), cellsOf(p));
    }
  }
  if (x < width) rowCellsPortable(cells + x, pixels + bytesPerPixel * static_cast<size_t>(x), width - x, bytesPerPixel);
}

}  // namespace kav::colour

#else

namespace kav::colour {

void rowCellsAvx2(uint32_t *cells, const uint8_t *pixels, uint32_t width, uint32_t bytesPerPixel) {
  rowCellsPortable(cells, pixels, width, bytesPerPixel);
}

}  // namespace kav::colour

#endif
