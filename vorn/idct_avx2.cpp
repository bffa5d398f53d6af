// AVX2 twin of inverseTransformPortable: the same 32-bit wrapping arithmetic,
// eight columns (then eight rows) at a time.
#include "vorn/idct.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>

namespace kav::vorn {
namespace {

#define KAV_AVX2 __attribute__((target("avx2")))

KAV_AVX2 inline __m256i mulShift(__m256i x, int32_t k) {
  return _mm256_srai_epi32(_mm256_mullo_epi32(x, _mm256_set1_epi32(k)), 11);
}

KAV_AVX2 inline void transform8(__m256i s[8]) {
  __m256i a0 = _mm256_add_epi32(s[0], s[4]), a1 = _mm256_sub_epi32(s[0], s[4]);
  __m256i a2 = _mm256_add_epi32(s[2], s[6]);
  __m256i a3 = mulShift(_mm256_sub_epi32(s[2], s[6]), 2896);
  __m256i a4 = _mm256_add_epi32(s[5], s[3]), a5 = _mm256_sub_epi32(s[5], s[3]);
  __m256i a6 = _mm256_add_epi32(s[1], s[7]), a7 = _mm256_sub_epi32(s[1], s[7]);
  __m256i b0 = _mm256_add_epi32(a4, a6);
  __m256i b1 = mulShift(_mm256_add_epi32(a5, a7), 3784);
  __m256i b2 = _mm256_add_epi32(_mm256_sub_epi32(mulShift(a5, -5352), b0), b1);
  __m256i b3 = _mm256_sub_epi32(mulShift(_mm256_sub_epi32(a6, a4), 2896), b2);
  __m256i b4 = _mm256_sub_epi32(_mm256_add_epi32(mulShift(a7, 2217), b3), b1);
  __m256i e0 = _mm256_add_epi32(a0, a2), e3 = _mm256_sub_epi32(a0, a2);
  __m256i e1 = _mm256_sub_epi32(_mm256_add_epi32(a1, a3), a2);
  __m256i e2 = _mm256_add_epi32(_mm256_sub_epi32(a1, a3), a2);
  s[0] = _mm256_add_epi32(e0, b0);
  s[1] = _mm256_add_epi32(e1, b2);
  s[2] = _mm256_add_epi32(e2, b3);
  s[3] = _mm256_sub_epi32(e3, b4);
  s[4] = _mm256_add_epi32(e3, b4);
  s[5] = _mm256_sub_epi32(e2, b3);
  s[6] = _mm256_sub_epi32(e1, b2);
  s[7] = _mm256_sub_epi32(e0, b0);
}

KAV_AVX2 inline void transpose8(__m256i r[8]) {
  __m256i t0 = _mm256_unpacklo_epi32(r[0], r[1]), t1 = _mm256_unpackhi_epi32(r[0], r[1]);
  __m256i t2 = _mm256_unpacklo_epi32(r[2], r[3]), t3 = _mm256_unpackhi_epi32(r[2], r[3]);
  __m256i t4 = _mm256_unpacklo_epi32(r[4], r[5]), t5 = _mm256_unpackhi_epi32(r[4], r[5]);
  __m256i t6 = _mm256_unpacklo_epi32(r[6], r[7]), t7 = _mm256_unpackhi_epi32(r[6], r[7]);
  __m256i u0 = _mm256_unpacklo_epi64(t0, t2), u1 = _mm256_unpackhi_epi64(t0, t2);
  __m256i u2 = _mm256_unpacklo_epi64(t1, t3), u3 = _mm256_unpackhi_epi64(t1, t3);
  __m256i u4 = _mm256_unpacklo_epi64(t4, t6), u5 = _mm256_unpackhi_epi64(t4, t6);
  __m256i u6 = _mm256_unpacklo_epi64(t5, t7), u7 = _mm256_unpackhi_epi64(t5, t7);
  r[0] = _mm256_permute2x128_si256(u0, u4, 0x20);
  r[1] = _mm256_permute2x128_si256(u1, u5, 0x20);
  r[2] = _mm256_permute2x128_si256(u2, u6, 0x20);
  r[3] = _mm256_permute2x128_si256(u3, u7, 0x20);
  r[4] = _mm256_permute2x128_si256(u0, u4, 0x31);
  r[5] = _mm256_permute2x128_si256(u1, u5, 0x31);
  r[6] = _mm256_permute2x128_si256(u2, u6, 0x31);
  r[7] = _mm256_permute2x128_si256(u3, u7, 0x31);
}

}  // namespace

KAV_AVX2 void inverseTransformAvx2(const int32_t coef[64], const uint32_t quant[64], uint8_t out[64]) {
  __m256i v[8];
  for (int r = 0; r < 8; ++r) {
    __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(coef + 8 * r));
    __m256i q = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(quant + 8 * r));
    v[r] = _mm256_srai_epi32(_mm256_mullo_epi32(c, q), 11);
  }
  // Columns: each vector is a row of the block, each lane a column. Columns
  // whose AC inputs are zero come out as their DC either way.
  transform8(v);
  // Rows: transposed, each vector holds one input position of all rows.
  transpose8(v);
  transform8(v);
  transpose8(v);
  const __m256i bias = _mm256_set1_epi32(127), low = _mm256_set1_epi32(0xFF);
  for (int r = 0; r < 8; ++r) v[r] = _mm256_and_si256(_mm256_srli_epi32(_mm256_add_epi32(v[r], bias), 8), low);
  // Values are 0..255, so the saturating packs keep them; the packs work per
  // 128-bit lane, which the final permutation undoes.
  for (int r = 0; r < 8; r += 4) {
    __m256i p01 = _mm256_packus_epi32(v[r], v[r + 1]);
    __m256i p23 = _mm256_packus_epi32(v[r + 2], v[r + 3]);
    __m256i b = _mm256_packus_epi16(p01, p23);
    b = _mm256_permutevar8x32_epi32(b, _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7));
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + 8 * r), b);
  }
}

}  // namespace kav::vorn
#endif
