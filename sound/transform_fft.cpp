// The coder's real Fourier transform: N real samples are read as N / 2
// complex values, transformed by an iterative radix-2 FFT on split real and
// imaginary arrays, and separated into the spectrum of the real signal.
//
// The vector stages compute exactly the same products and sums, in the same
// order, as the portable stages, so both give bit-identical results (the
// file is built without contraction into fused multiply-adds).
#include <cmath>
#include <cstdlib>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define KAV_TRANSFORM_AVX 1
#endif

#include "kavutil/kavbase.h"
#include "platform/os_cpu.h"
#include "sound/transform_codec.h"

namespace kav::sound {

namespace {

constexpr uint32_t kSmallestLength = 8;
constexpr uint32_t kLargestLength = 65536;

bool simdWanted() {
#if defined(__SSE2__)
  return !kav::os::simdDisabled();
#else
  return false;
#endif
}

// Bit-reversal and the stages of half-size 1 and 2 at once: each group of
// four outputs gathers its inputs from the interleaved complex values and
// needs no products (its twiddles are 1 and -i).
void gatherRadix4(const uint32_t *reverse, const float *z, float *re, float *im, uint32_t count) {
  for (uint32_t p = 0; p < count; p += 4) {
    const float *z0 = z + 2 * reverse[p], *z1 = z + 2 * reverse[p + 1];
    const float *z2 = z + 2 * reverse[p + 2], *z3 = z + 2 * reverse[p + 3];
    const float ar = z0[0] + z1[0], ai = z0[1] + z1[1];
    const float br = z0[0] - z1[0], bi = z0[1] - z1[1];
    const float cr = z2[0] + z3[0], ci = z2[1] + z3[1];
    const float dr = z2[0] - z3[0], di = z2[1] - z3[1];
    re[p] = ar + cr;
    im[p] = ai + ci;
    re[p + 2] = ar - cr;
    im[p + 2] = ai - ci;
    // -i x d = (di, -dr)
    re[p + 1] = br + di;
    im[p + 1] = bi - dr;
    re[p + 3] = br - di;
    im[p + 3] = bi + dr;
  }
}

void radix2StagePortable(float *re, float *im, uint32_t count, uint32_t half, const float *wRe, const float *wIm) {
  for (uint32_t g = 0; g < count; g += 2 * half) {
    float *ar = re + g, *ai = im + g, *br = re + g + half, *bi = im + g + half;
    for (uint32_t j = 0; j < half; ++j) {
      const float tr = wRe[j] * br[j] - wIm[j] * bi[j];
      const float ti = wRe[j] * bi[j] + wIm[j] * br[j];
      br[j] = ar[j] - tr;
      bi[j] = ai[j] - ti;
      ar[j] = ar[j] + tr;
      ai[j] = ai[j] + ti;
    }
  }
}

#if defined(__SSE2__)
inline void butterflySse(float *ar, float *ai, float *br, float *bi, __m128 wr, __m128 wi) {
  const __m128 xr = _mm_load_ps(br), xi = _mm_load_ps(bi);
  const __m128 tr = _mm_sub_ps(_mm_mul_ps(wr, xr), _mm_mul_ps(wi, xi));
  const __m128 ti = _mm_add_ps(_mm_mul_ps(wr, xi), _mm_mul_ps(wi, xr));
  const __m128 yr = _mm_load_ps(ar), yi = _mm_load_ps(ai);
  _mm_store_ps(br, _mm_sub_ps(yr, tr));
  _mm_store_ps(bi, _mm_sub_ps(yi, ti));
  _mm_store_ps(ar, _mm_add_ps(yr, tr));
  _mm_store_ps(ai, _mm_add_ps(yi, ti));
}

// One radix-2 stage; half is a multiple of 4.
void radix2StageSse(float *re, float *im, uint32_t count, uint32_t half, const float *wRe, const float *wIm) {
  for (uint32_t g = 0; g < count; g += 2 * half)
    for (uint32_t j = 0; j < half; j += 4)
      butterflySse(re + g + j, im + g + j, re + g + half + j, im + g + half + j, _mm_load_ps(wRe + j),
                   _mm_load_ps(wIm + j));
}

// Stages of half-size h and 2h in one pass over memory. Every butterfly
// sees the same inputs as in two separate stages, so results are identical.
void radix2PairSse(float *re, float *im, uint32_t count, uint32_t half, const TransformTables &t) {
  const float *w1r = t.twiddleRe + half, *w1i = t.twiddleIm + half;
  const float *w2r = t.twiddleRe + 2 * half, *w2i = t.twiddleIm + 2 * half;
  for (uint32_t g = 0; g < count; g += 4 * half)
    for (uint32_t j = 0; j < half; j += 4) {
      float *r0 = re + g + j, *i0 = im + g + j;
      const __m128 ar = _mm_load_ps(w1r + j), ai = _mm_load_ps(w1i + j);
      butterflySse(r0, i0, r0 + half, i0 + half, ar, ai);
      butterflySse(r0 + 2 * half, i0 + 2 * half, r0 + 3 * half, i0 + 3 * half, ar, ai);
      butterflySse(r0, i0, r0 + 2 * half, i0 + 2 * half, _mm_load_ps(w2r + j), _mm_load_ps(w2i + j));
      butterflySse(r0 + half, i0 + half, r0 + 3 * half, i0 + 3 * half, _mm_load_ps(w2r + half + j),
                   _mm_load_ps(w2i + half + j));
    }
}
#endif

#if defined(KAV_TRANSFORM_AVX)
__attribute__((target("avx"))) inline void butterflyAvx(float *ar, float *ai, float *br, float *bi, __m256 wr,
                                                         __m256 wi) {
  const __m256 xr = _mm256_load_ps(br), xi = _mm256_load_ps(bi);
  const __m256 tr = _mm256_sub_ps(_mm256_mul_ps(wr, xr), _mm256_mul_ps(wi, xi));
  const __m256 ti = _mm256_add_ps(_mm256_mul_ps(wr, xi), _mm256_mul_ps(wi, xr));
  const __m256 yr = _mm256_load_ps(ar), yi = _mm256_load_ps(ai);
  _mm256_store_ps(br, _mm256_sub_ps(yr, tr));
  _mm256_store_ps(bi, _mm256_sub_ps(yi, ti));
  _mm256_store_ps(ar, _mm256_add_ps(yr, tr));
  _mm256_store_ps(ai, _mm256_add_ps(yi, ti));
}

// As the SSE stages, eight lanes at a time; half is a multiple of 8.
__attribute__((target("avx"))) void radix2StageAvx(float *re, float *im, uint32_t count, uint32_t half,
                                                   const float *wRe, const float *wIm) {
  for (uint32_t g = 0; g < count; g += 2 * half)
    for (uint32_t j = 0; j < half; j += 8)
      butterflyAvx(re + g + j, im + g + j, re + g + half + j, im + g + half + j, _mm256_load_ps(wRe + j),
                   _mm256_load_ps(wIm + j));
}

__attribute__((target("avx"))) void radix2PairAvx(float *re, float *im, uint32_t count, uint32_t half,
                                                  const TransformTables &t) {
  const float *w1r = t.twiddleRe + half, *w1i = t.twiddleIm + half;
  const float *w2r = t.twiddleRe + 2 * half, *w2i = t.twiddleIm + 2 * half;
  for (uint32_t g = 0; g < count; g += 4 * half)
    for (uint32_t j = 0; j < half; j += 8) {
      float *r0 = re + g + j, *i0 = im + g + j;
      const __m256 ar = _mm256_load_ps(w1r + j), ai = _mm256_load_ps(w1i + j);
      butterflyAvx(r0, i0, r0 + half, i0 + half, ar, ai);
      butterflyAvx(r0 + 2 * half, i0 + 2 * half, r0 + 3 * half, i0 + 3 * half, ar, ai);
      butterflyAvx(r0, i0, r0 + 2 * half, i0 + 2 * half, _mm256_load_ps(w2r + j), _mm256_load_ps(w2i + j));
      butterflyAvx(r0 + half, i0 + half, r0 + 3 * half, i0 + 3 * half, _mm256_load_ps(w2r + half + j),
                   _mm256_load_ps(w2i + half + j));
    }
}

bool avxAvailable() { return __builtin_cpu_supports("avx"); }
#else
bool avxAvailable() { return false; }
#endif

// Forward complex FFT of the N / 2 interleaved values z into the split
// arrays, in natural order.
void complexForward(const TransformTables &t, const float *z, float *re, float *im) {
  const uint32_t count = t.length / 2;
  gatherRadix4(t.bitReverse, z, re, im, count);
  uint32_t half = 4;
#if defined(__SSE2__)
  if (t.simd) {
#if defined(KAV_TRANSFORM_AVX)
    if (t.wide) {
      // The pair (4, 8) needs 4-lane twiddle loads; from 16 on, 8 lanes fit.
      if (half * 2 < count) {
        radix2PairSse(re, im, count, half, t);
        half *= 4;
      }
      for (; half * 2 < count; half *= 4) radix2PairAvx(re, im, count, half, t);
      if (half < count) {
        if (half >= 8)
          radix2StageAvx(re, im, count, half, t.twiddleRe + half, t.twiddleIm + half);
        else
          radix2StageSse(re, im, count, half, t.twiddleRe + half, t.twiddleIm + half);
      }
      return;
    }
#endif
    for (; half * 2 < count; half *= 4) radix2PairSse(re, im, count, half, t);
    if (half < count) radix2StageSse(re, im, count, half, t.twiddleRe + half, t.twiddleIm + half);
    return;
  }
#endif
  for (; half < count; half *= 2)
    radix2StagePortable(re, im, count, half, t.twiddleRe + half, t.twiddleIm + half);
}

#if defined(__SSE2__)
inline __m128 reversed(__m128 v) { return _mm_shuffle_ps(v, v, _MM_SHUFFLE(0, 1, 2, 3)); }

// The separation below, four bins k at a time with their partners M - k.
void separateSse(const TransformTables &t, const float *re, const float *im, float *data) {
  const uint32_t count = t.length / 2;
  const __m128 halfV = _mm_set1_ps(0.5f);
  for (uint32_t k = 1; k <= count / 2; k += 4) {
    const uint32_t j = count - k;  // lanes hold j, j - 1, j - 2, j - 3
    const __m128 rk = _mm_loadu_ps(re + k), ik = _mm_loadu_ps(im + k);
    const __m128 rj = reversed(_mm_loadu_ps(re + j - 3)), ij = reversed(_mm_loadu_ps(im + j - 3));
    const __m128 c = _mm_loadu_ps(t.rotationCos + k), s = _mm_loadu_ps(t.rotationSin + k);
    const __m128 er = _mm_mul_ps(_mm_add_ps(rk, rj), halfV), ei = _mm_mul_ps(_mm_sub_ps(ik, ij), halfV);
    const __m128 dr = _mm_mul_ps(_mm_sub_ps(rk, rj), halfV), di = _mm_mul_ps(_mm_add_ps(ik, ij), halfV);
    const __m128 u = _mm_sub_ps(_mm_mul_ps(c, di), _mm_mul_ps(s, dr));
    const __m128 v = _mm_add_ps(_mm_mul_ps(s, di), _mm_mul_ps(c, dr));
    const __m128 lowRe = _mm_add_ps(er, u), lowIm = _mm_sub_ps(v, ei);
    _mm_storeu_ps(data + 2 * k, _mm_unpacklo_ps(lowRe, lowIm));
    _mm_storeu_ps(data + 2 * k + 4, _mm_unpackhi_ps(lowRe, lowIm));
    const __m128 highRe = reversed(_mm_sub_ps(er, u)), highIm = reversed(_mm_add_ps(ei, v));
    _mm_storeu_ps(data + 2 * (j - 3), _mm_unpacklo_ps(highRe, highIm));
    _mm_storeu_ps(data + 2 * (j - 3) + 4, _mm_unpackhi_ps(highRe, highIm));
  }
}
#endif

void forwardReal(const TransformTables &t, float *data) {
  const uint32_t count = t.length / 2;  // M
  float *re = t.scratch, *im = t.scratch + count;
  complexForward(t, data, re, im);
  data[0] = re[0] + im[0];
  data[1] = re[0] - im[0];
#if defined(__SSE2__)
  if (t.simd && count >= 8) {  // four bins and their partners per step
    separateSse(t, re, im, data);
    return;
  }
#endif
  // X[k] = (Z[k] + Z*[M-k]) / 2 - i/2 W^k (Z[k] - Z*[M-k]), W = e^(-2 pi i / N);
  // the odd coefficient holds -Im X[k].
  for (uint32_t k = 1; k <= count / 2; ++k) {
    const uint32_t j = count - k;
    const float c = t.rotationCos[k], s = t.rotationSin[k];
    const float er = (re[k] + re[j]) * 0.5f, ei = (im[k] - im[j]) * 0.5f;
    const float dr = (re[k] - re[j]) * 0.5f, di = (im[k] + im[j]) * 0.5f;
    const float u = c * di - s * dr;
    const float v = s * di + c * dr;
    data[2 * k] = er + u;
    data[2 * k + 1] = v - ei;
    data[2 * j] = er - u;
    data[2 * j + 1] = ei + v;
  }
}

void inverseReal(const TransformTables &t, float *data) {
  const uint32_t count = t.length / 2;
  float *re = t.scratch, *im = t.scratch + count;
  // Rebuild Z[k] = Fe[k] + i Fo[k] from the real spectrum, in place (each
  // step reads and writes only bins k and M - k), stored conjugated so the
  // forward kernel computes the inverse.
  {
    const float fr = (data[0] + data[1]) * 0.5f, fi = (data[0] - data[1]) * 0.5f;
    data[0] = fr;
    data[1] = -fi;
  }
  for (uint32_t k = 1; k <= count / 2; ++k) {
    const uint32_t j = count - k;
    const float c = t.rotationCos[k], s = t.rotationSin[k];
    const float p = data[2 * k], q = data[2 * k + 1], pj = data[2 * j], qj = data[2 * j + 1];
    const float fer = (p + pj) * 0.5f, fei = (qj - q) * 0.5f;
    const float gr = (p - pj) * 0.5f, gi = (-q - qj) * 0.5f;
    const float for_ = gr * c - gi * s, foi = gr * s + gi * c;
    data[2 * k] = fer - foi;
    data[2 * k + 1] = -(fei + for_);
    data[2 * j] = fer + foi;
    data[2 * j + 1] = -(for_ - fei);
  }
  complexForward(t, data, re, im);
  for (uint32_t n = 0; n < count; ++n) {
    data[2 * n] = re[n];
    data[2 * n + 1] = -im[n];
  }
}

template <typename T>
T *allocate(uint32_t count) {
  return static_cast<T *>(kavmalloc(count * static_cast<uint32_t>(sizeof(T))));
}

}  // namespace

void transformTablesRelease(TransformTables &tables) {
  kavfree(tables.bitReverse);
  kavfree(tables.twiddleRe);
  kavfree(tables.twiddleIm);
  kavfree(tables.rotationCos);
  kavfree(tables.rotationSin);
  kavfree(tables.scratch);
  tables = TransformTables{};
}

bool transformTablesPrepare(TransformTables &tables, uint32_t length) {
  if (tables.length == length && length != 0) return true;
  if (length < kSmallestLength || length > kLargestLength || (length & (length - 1)) != 0) return false;
  transformTablesRelease(tables);
  const uint32_t count = length / 2;
  const uint32_t quarter = length / 4;
  TransformTables t{};
  t.bitReverse = allocate<uint32_t>(count);
  t.twiddleRe = allocate<float>(count);
  t.twiddleIm = allocate<float>(count);
  t.rotationCos = allocate<float>(quarter + 1);
  t.rotationSin = allocate<float>(quarter + 1);
  t.scratch = allocate<float>(length);
  if (!t.bitReverse || !t.twiddleRe || !t.twiddleIm || !t.rotationCos || !t.rotationSin || !t.scratch) {
    transformTablesRelease(t);
    return false;
  }
  uint32_t bits = 0;
  while ((1u << bits) < count) ++bits;
  for (uint32_t n = 0; n < count; ++n) {
    uint32_t r = 0;
    for (uint32_t b = 0; b < bits; ++b) r |= ((n >> b) & 1u) << (bits - 1 - b);
    t.bitReverse[n] = r;
  }
  const double pi = 3.14159265358979323846;
  t.twiddleRe[0] = 1.0f;
  t.twiddleIm[0] = 0.0f;
  for (uint32_t half = 1; half < count; half *= 2)
    for (uint32_t j = 0; j < half; ++j) {
      const double angle = pi * j / half;
      t.twiddleRe[half + j] = static_cast<float>(std::cos(angle));
      t.twiddleIm[half + j] = static_cast<float>(-std::sin(angle));
    }
  for (uint32_t k = 0; k <= quarter; ++k) {
    // Taken from the nearer axis so that the quarter turn is exactly 0 and 1.
    const uint32_t toQuarter = quarter - k;
    if (k <= toQuarter) {
      const double angle = 2.0 * pi * k / length;
      t.rotationCos[k] = static_cast<float>(std::cos(angle));
      t.rotationSin[k] = static_cast<float>(std::sin(angle));
    } else {
      const double angle = 2.0 * pi * toQuarter / length;
      t.rotationCos[k] = static_cast<float>(std::sin(angle));
      t.rotationSin[k] = static_cast<float>(std::cos(angle));
    }
  }
  t.length = length;
  t.log2Half = bits;
  t.simd = simdWanted();
  t.wide = t.simd && avxAvailable();
  tables = t;
  return true;
}

bool transformReal(uint32_t length, int direction, float *data, TransformTables &tables) {
  if (!transformTablesPrepare(tables, length)) return false;
  if (direction >= 0)
    forwardReal(tables, data);
  else
    inverseReal(tables, data);
  return true;
}

}  // namespace kav::sound
