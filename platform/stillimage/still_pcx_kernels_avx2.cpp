// AVX2 PCX kernels, chosen at run time over the SSSE3 set (which they
// extend: expansion stays the SSSE3 one).
//
// Packing has two walks giving the same bytes. Lines with many equal
// neighbours (flat pictures) get a bit map of them, built 32 bytes a
// compare; the starts and ends of runs are bit maps of that, taken lowest
// bit first, so each run costs a few register operations and the position
// in the line never waits on a chain of loads and compares (the SSSE3 loop
// spent most of its time in mispredicted exits of its run measure). Noisy
// lines, told from their first 64 bytes, keep the SSSE3 window loop (a
// constant 16-byte step with short runs coded in the lanes). The plane split and merge move 32 pixels a step:
// each 128-bit half holds 16 pixels, so the SSSE3 shuffle tables apply per
// half.
#include "platform/stillimage/still_pcx_kernels.h"
#include "platform/stillimage/still_pcx_expand_avx2.h"
#include "platform/stillimage/still_pcx_shuffle_tables.h"

#if defined(__x86_64__) || defined(__i386__)

#include <immintrin.h>

#include <algorithm>
#include <cstring>

#define KAV_TARGET_AVX2 __attribute__((target("avx2,bmi,popcnt")))

namespace kav::still {

namespace {

constexpr const PcxShuffleTables &kTables = kPcxShuffleTables;

KAV_TARGET_AVX2 inline __m128i load(const void *p) { return _mm_loadu_si128(static_cast<const __m128i *>(p)); }
KAV_TARGET_AVX2 inline __m256i load32(const void *p) { return _mm256_loadu_si256(static_cast<const __m256i *>(p)); }
// Two 16-byte loads, lo in the low half.
KAV_TARGET_AVX2 inline __m256i load2(const uint8_t *lo, const uint8_t *hi) {
  return _mm256_inserti128_si256(_mm256_castsi128_si256(load(lo)), load(hi), 1);
}
KAV_TARGET_AVX2 inline __m256i both(const uint8_t (&t)[16]) { return _mm256_broadcastsi128_si256(load(t)); }

// Byte lane i all ones where bit i of bits is set.
KAV_TARGET_AVX2 inline __m128i laneMask(uint32_t bits) {
  const __m128i select = _mm_set1_epi64x(static_cast<long long>(0x8040201008040201ull));
  const __m128i spread = _mm_setr_epi8(0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1);
  const __m128i m = _mm_shuffle_epi8(_mm_cvtsi32_si128(static_cast<int>(bits)), spread);
  return _mm_cmpeq_epi8(_mm_and_si128(m, select), select);
}

KAV_TARGET_AVX2 inline uint32_t highBytes(__m128i v) {
  const __m128i c0 = _mm_set1_epi8(static_cast<char>(0xC0));
  return static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_and_si128(v, c0), c0)));
}

// Noisy lines: the SSSE3 window loop, which every processor with AVX2 has.
size_t packWindows(const uint8_t *s, size_t n, uint8_t *out) {
  static const PcxKernels &windows = pcxSsse3Kernels() ? *pcxSsse3Kernels() : pcxPortableKernels();
  return windows.packLine(s, n, out);
}

// Literals s[i, j) with their escapes; a store of 16 lanes (32 bytes out)
// stays inside the input and the output while 16 bytes are left.
KAV_TARGET_AVX2 inline void packLiterals(const uint8_t *s, size_t i, size_t j, size_t n, uint8_t *&o) {
  const __m128i escapes = _mm_set1_epi8(static_cast<char>(0xC1));
  while (i < j) {
    if (n - i < 16) {
      for (; i < j; ++i) {
        if ((s[i] & 0xC0) == 0xC0) *o++ = 0xC1;
        *o++ = s[i];
      }
      return;
    }
    const size_t take = std::min<size_t>(16, j - i);
    const __m128i v = load(s + i);
    const uint32_t esc = highBytes(v) & ((1u << take) - 1);
    const __m128i lo = _mm_shuffle_epi8(_mm_unpacklo_epi64(v, escapes), load(kTables.escape[esc & 0xFF]));
    const __m128i hi = _mm_shuffle_epi8(_mm_unpackhi_epi64(v, escapes), load(kTables.escape[esc >> 8]));
    const uint32_t loTaken = static_cast<uint32_t>(std::min<size_t>(take, 8));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(o), lo);
    o += loTaken + static_cast<uint32_t>(__builtin_popcount(esc & 0xFFu));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(o), hi);
    o += (take - static_cast<uint32_t>(loTaken)) + static_cast<uint32_t>(__builtin_popcount(esc >> 8));
    i += take;
  }
}

// Lines this long or shorter are walked by their bit maps (on the stack).
constexpr size_t kMapBytes = 4096;
constexpr size_t kMapWords = kMapBytes / 64 + 2;

// Walks the runs of a line from bit maps: same[k] where s[k] equals
// s[k + 1]. A stretch of set bits from a to e is a run of bytes a .. e + 1,
// so the runs' starts and ends are bit maps too, taken in step lowest bit
// first; the position in the line is then never on a chain of loads and
// compares, and flat lines cost a few operations a run. Greedy coding splits
// a run after each 63 bytes, a lone byte left over being a literal.
KAV_TARGET_AVX2 size_t packByMaps(const uint8_t *s, size_t n, uint8_t *out, const uint64_t *same, size_t words) {
  uint8_t *o = out;
  size_t cursor = 0;  // first byte not yet written
  size_t ws = 0, we = 0;
  auto startsOf = [same](size_t w) {
    const uint64_t before = w ? same[w - 1] >> 63 : 0;
    return same[w] & ~((same[w] << 1) | before);
  };
  auto endsOf = [same](size_t w) { return same[w] & ~((same[w] >> 1) | (same[w + 1] << 63)); };
  const __m256i fullRuns = _mm256_set1_epi16(static_cast<short>(0xFF));
  uint64_t xs = startsOf(0), xe = endsOf(0);
  for (;;) {
    while (!xs && ++ws < words) xs = startsOf(ws);
    if (ws >= words) break;
    while (!xe) xe = endsOf(++we);
    const size_t a = ws * 64 + static_cast<size_t>(__builtin_ctzll(xs));
    const size_t e = we * 64 + static_cast<size_t>(__builtin_ctzll(xe));
    xs &= xs - 1;
    xe &= xe - 1;
    packLiterals(s, cursor, a, n, o);
    cursor = e + 2;
    const uint8_t value = s[a];
    const size_t run = e + 2 - a;
    size_t rest = run;
    if (run > 63) {
      const size_t full = run / 63;
      rest = run - 63 * full;
      if (full <= 16 && n - a >= 16) {
        // Up to 16 tokens of 63 in one store (room: see packLiterals).
        const __m256i v = _mm256_or_si256(fullRuns, _mm256_set1_epi16(static_cast<short>(value << 8)));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(o), v);
        o += 2 * full;
      } else {
        for (size_t k = 0; k < full; ++k) {
          o[0] = 0xFF;
          o[1] = value;
          o += 2;
        }
      }
    }
    // The rest: a run of two or more, a literal (escaped when high) or
    // nothing; two bytes are written whatever.
    const bool escape = (value & 0xC0) == 0xC0;
    o[0] = rest >= 2 ? static_cast<uint8_t>(0xC0 | rest) : escape ? uint8_t{0xC1} : value;
    o[1] = value;
    o += rest >= 2 ? 2 : rest == 1 ? 1 + static_cast<size_t>(escape) : 0;
  }
  packLiterals(s, cursor, n, n, o);
  return static_cast<size_t>(o - out);
}

// Bit k where p[k] equals p[k + 1], for 32 bytes (reads 33).
KAV_TARGET_AVX2 inline uint64_t equalMask(const uint8_t *p) {
  return static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(load32(p), load32(p + 1))));
}

KAV_TARGET_AVX2 size_t packLineAvx2(const uint8_t *s, size_t n, uint8_t *out) {
  if (n < 64 || n > kMapBytes) return packWindows(s, n, out);
  uint64_t same[kMapWords];
  const size_t words = (n + 63) / 64;
  auto equalBits = [s](size_t k) { return equalMask(s + k); };
  size_t equalCount = 0, k = 0;
  // Whole words while 65 bytes are left, in registers.
  for (; k + 65 <= n; k += 64) {
    const uint64_t e = equalBits(k) | (equalBits(k + 32) << 32);
    same[k >> 6] = e;
    equalCount += static_cast<size_t>(__builtin_popcountll(e));
    // A line that starts with few equal neighbours (noise) is likely to go
    // on so: no more maps.
    if (k == 0 && equalCount < 16) return packWindows(s, n, out);
  }
  for (size_t w = k >> 6; w <= words; ++w) same[w] = 0;
  // The rest by 32 bytes and the one after them; the last step, overlapping,
  // ends at the last byte.
  for (;; k += 32) {
    const bool last = k + 33 > n;
    if (last) k = n - 33;
    const uint64_t e = equalBits(k);
    equalCount += static_cast<size_t>(__builtin_popcountll(e));
    const size_t w = k >> 6, b = k & 63;
    same[w] |= e << b;
    same[w + 1] |= (e >> 1) >> (63 - b);
    if (last) break;
  }
  // Where equal neighbours are rare the windows take pairs in their stride.
  if (equalCount * 4 < n) return packWindows(s, n, out);
  return packByMaps(s, n, out, same, words);
}

// Lane j of vector k of 16 interleaved pixels holds channel (k + j) % 3:
// one shuffle a plane moves its bytes to their lanes (each in its own
// vector) and blends pick the plane of each lane, three shuffles and six
// blends for 16 pixels where a shuffle from each plane into each vector
// takes nine shuffles and six ors. The way back is the same in reverse.
KAV_TARGET_AVX2 inline __m256i pick(__m256i x, __m256i y, __m256i z, const uint8_t (&toY)[16],
                                    const uint8_t (&toZ)[16]) {
  return _mm256_blendv_epi8(_mm256_blendv_epi8(x, y, both(toY)), z, both(toZ));
}

KAV_TARGET_AVX2 void planesToBgrAvx2(const uint8_t *r, const uint8_t *g, const uint8_t *b, uint8_t *dst, size_t w) {
  size_t i = 0;
  if (w >= 32) {
    const auto &t = kTables;
    const __m256i sb = both(t.spreadBgr[0]), sg = both(t.spreadBgr[1]), sr = both(t.spreadBgr[2]);
    for (; i + 32 <= w; i += 32) {
      const __m256i vb = _mm256_shuffle_epi8(load32(b + i), sb), vg = _mm256_shuffle_epi8(load32(g + i), sg),
                    vr = _mm256_shuffle_epi8(load32(r + i), sr);
      // Each half: the 48 bytes of its 16 pixels, in three vectors.
      const __m256i o0 = pick(vb, vg, vr, t.pickBgr[0][0], t.pickBgr[0][1]);
      const __m256i o1 = pick(vb, vg, vr, t.pickBgr[1][0], t.pickBgr[1][1]);
      const __m256i o2 = pick(vb, vg, vr, t.pickBgr[2][0], t.pickBgr[2][1]);
      __m256i *out = reinterpret_cast<__m256i *>(dst + 3 * i);
      _mm256_storeu_si256(out, _mm256_permute2x128_si256(o0, o1, 0x20));
      _mm256_storeu_si256(out + 1, _mm256_permute2x128_si256(o2, o0, 0x30));
      _mm256_storeu_si256(out + 2, _mm256_permute2x128_si256(o1, o2, 0x31));
    }
  }
  pcxSsse3Kernels()->planesToBgr(r + i, g + i, b + i, dst + 3 * i, w - i);
}

KAV_TARGET_AVX2 void bgrToPlanesAvx2(const uint8_t *src, uint8_t *r, uint8_t *g, uint8_t *b, size_t w) {
  size_t i = 0;
  if (w >= 32) {
    const auto &t = kTables;
    const __m256i gb = both(t.gatherPlanes[0]), gg = both(t.gatherPlanes[1]), gr = both(t.gatherPlanes[2]);
    for (; i + 32 <= w; i += 32) {
      const uint8_t *p = src + 3 * i;
      // Half 0 the first 16 pixels, half 1 the next 16.
      const __m256i in0 = load2(p, p + 48), in1 = load2(p + 16, p + 64), in2 = load2(p + 32, p + 80);
      const __m256i vb = pick(in0, in1, in2, t.pickPlanes[0][0], t.pickPlanes[0][1]);
      const __m256i vg = pick(in0, in1, in2, t.pickPlanes[1][0], t.pickPlanes[1][1]);
      const __m256i vr = pick(in0, in1, in2, t.pickPlanes[2][0], t.pickPlanes[2][1]);
      _mm256_storeu_si256(reinterpret_cast<__m256i *>(b + i), _mm256_shuffle_epi8(vb, gb));
      _mm256_storeu_si256(reinterpret_cast<__m256i *>(g + i), _mm256_shuffle_epi8(vg, gg));
      _mm256_storeu_si256(reinterpret_cast<__m256i *>(r + i), _mm256_shuffle_epi8(vr, gr));
    }
  }
  pcxSsse3Kernels()->bgrToPlanes(src + 3 * i, r + i, g + i, b + i, w - i);
}

}  // namespace

const PcxKernels *pcxAvx2Kernels() {
  __builtin_cpu_init();
  const PcxKernels *base = pcxSsse3Kernels();
  if (!base || !__builtin_cpu_supports("avx2") || !__builtin_cpu_supports("bmi") ||
      !__builtin_cpu_supports("popcnt"))
    return nullptr;
  static const PcxKernels kAvx2 = {pcxExpandLineAvx2, packLineAvx2, planesToBgrAvx2, bgrToPlanesAvx2};
  return &kAvx2;
}

}  // namespace kav::still

#else

namespace kav::still {
const PcxKernels *pcxAvx2Kernels() { return nullptr; }
}  // namespace kav::still

#endif
