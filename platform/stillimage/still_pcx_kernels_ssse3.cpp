// SSSE3 PCX kernels, chosen at run time (the build itself assumes only SSE2).
//
// Expansion looks at 16 coded bytes at once. Bytes with the top two bits set
// are counts or, straight after a count, its value; which is which follows
// from the parity of each stretch of such bytes (a stretch starting at a
// token boundary alternates count, value, count ...). Counts of one (an
// escaped literal) are dropped and counts of two are replaced by their value,
// so the window becomes its output by one byte shuffle that packs the kept
// bytes together. Any other count ends the window early and is written as a
// run. Packing steps through the line 16 bytes at a time whatever they
// hold: each byte that starts a token (differs from the one before) gets
// its run length from compares with the next four bytes, every lane offers
// a count byte and its value, and the bytes kept are packed together by
// table shuffles; only a run of five or more (rare in noisy lines) leaves
// the constant step and is measured with whole-vector compares. Near the
// end of the data the portable expansion finishes; the packer's last bytes
// go through a padded copy.
#include "platform/stillimage/still_pcx_kernels.h"
#include "platform/stillimage/still_pcx_expand_common.h"
#include "platform/stillimage/still_pcx_shuffle_tables.h"

#if defined(__x86_64__) || defined(__i386__)

#include <immintrin.h>

#include <algorithm>
#include <cstring>

#define KAV_TARGET_SSSE3 __attribute__((target("ssse3,popcnt")))

namespace kav::still {

namespace {

constexpr const PcxShuffleTables &kTables = kPcxShuffleTables;

KAV_TARGET_SSSE3 inline __m128i load(const void *p) { return _mm_loadu_si128(static_cast<const __m128i *>(p)); }

// Byte lane i all ones where bit i of bits is set.
KAV_TARGET_SSSE3 inline __m128i laneMask(uint32_t bits) {
  const __m128i select = _mm_set1_epi64x(static_cast<long long>(0x8040201008040201ull));
  const __m128i spread = _mm_setr_epi8(0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1);
  const __m128i m = _mm_shuffle_epi8(_mm_cvtsi32_si128(static_cast<int>(bits)), spread);
  return _mm_cmpeq_epi8(_mm_and_si128(m, select), select);
}

KAV_TARGET_SSSE3 inline uint32_t highBytes(__m128i v) {
  const __m128i c0 = _mm_set1_epi8(static_cast<char>(0xC0));
  return static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_and_si128(v, c0), c0)));
}

KAV_TARGET_SSSE3 inline uint32_t equalTo(__m128i v, int byte) {
  return static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8(static_cast<char>(byte)))));
}

// Writes the lanes of x whose bits are set in keep, in order, at d.
KAV_TARGET_SSSE3 inline void packKept(__m128i x, uint32_t keep, uint8_t *&d) {
  const __m128i lo = _mm_shuffle_epi8(x, _mm_loadl_epi64(reinterpret_cast<const __m128i *>(kTables.pack[keep & 0xFF])));
  _mm_storel_epi64(reinterpret_cast<__m128i *>(d), lo);
  d += __builtin_popcount(keep & 0xFFu);
  const __m128i hi = _mm_shuffle_epi8(_mm_srli_si128(x, 8),
                                      _mm_loadl_epi64(reinterpret_cast<const __m128i *>(kTables.pack[keep >> 8])));
  _mm_storel_epi64(reinterpret_cast<__m128i *>(d), hi);
  d += __builtin_popcount(keep >> 8);
}

KAV_TARGET_SSSE3 bool expandLineSsse3(const uint8_t *p, size_t &pos, size_t end, uint8_t *dst, size_t n,
                                     PcxRunCarry &carry) {
  uint8_t *d = dst;
  uint8_t *const dEnd = dst + n;
  const uint8_t *s = p + pos;
  const uint8_t *const sEnd = p + end;
  if (resumeRun(d, n, carry)) return true;
  // The count that closed the last window was one or two: its first copy
  // is written, and lane 0 (its value) gives the second, or the only, one.
  uint32_t valueFirst = 0;
  // A window yields at most 16 bytes before a closing run, so the stores
  // stay in the line while 16 bytes of room are left; a count of two in the
  // last lane takes its value from the byte after the window.
  while (dEnd - d >= 16 && sEnd - s >= 17) {
    const __m128i v = load(s);
    // (No shortcut for windows without high bytes: in real pictures they
    // come and go at random, and a mispredicted branch costs more than the
    // general path.)
    const uint32_t high = highBytes(v) & ~valueFirst;
    // Adding a stretch's start bit clears the stretch: that marks the
    // stretches starting at even lanes, whose counts sit at even lanes.
    const uint32_t starts = high & ~(high << 1);
    const uint32_t evenStretches = high & ~(high + (starts & 0x5555u));
    const uint32_t counts = (evenStretches & 0x5555u) | (high & ~evenStretches & 0xAAAAu);
    const uint32_t ones = equalTo(v, 0xC1) & counts;
    const uint32_t twos = equalTo(v, 0xC2) & counts;
    const uint32_t others = counts & ~(ones | twos);
    const __m128i twoMask = laneMask(twos);
    const __m128i x = _mm_or_si128(_mm_and_si128(twoMask, load(s + 1)), _mm_andnot_si128(twoMask, v));
    // The common window is taken whole (a constant step keeps the next load
    // off the chain of this window's arithmetic).
    if (__builtin_expect(others == 0, 1)) {
      packKept(x, ~ones & 0xFFFFu, d);
      s += 16;
      valueFirst = counts >> 15;
      continue;
    }
    const uint32_t take = static_cast<uint32_t>(__builtin_ctz(others));
    packKept(x, ~ones & ((1u << take) - 1), d);
    s += take;
    valueFirst = 0;
    // s[0] is a count and s[1] its value, both before sEnd.
    if (writeRuns(s, d, dEnd, sEnd, 2, carry)) {
      pos = static_cast<size_t>(s - p);
      return true;
    }
  }
  if (valueFirst) {
    if (d == dEnd) {
      carry.count = 1;
      carry.value = *s++;
      pos = static_cast<size_t>(s - p);
      return true;
    }
    *d++ = *s++;
  }
  pos = static_cast<size_t>(s - p);
  return pcxPortableKernels().expandLine(p, pos, end, d, static_cast<size_t>(dEnd - d), carry);
}

// Measures the run starting at s[i] (at most 63 bytes, within n).
KAV_TARGET_SSSE3 inline size_t runLength(const uint8_t *s, size_t i, size_t n) {
  const uint8_t value = s[i];
  const size_t limit = std::min<size_t>(63, n - i);
  size_t run = 1;
  const __m128i splat = _mm_set1_epi8(static_cast<char>(value));
  while (run + 16 <= limit) {
    const uint32_t same = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(load(s + i + run), splat)));
    if (same != 0xFFFFu) return run + static_cast<size_t>(__builtin_ctz(~same));
    run += 16;
  }
  if (run == limit) return run;
  if (limit < 16) {
    while (run < limit && s[i + run] == value) ++run;
    return run;
  }
  // The last 16 bytes of the limit, overlapping what is known to match.
  const size_t base = limit - 16;
  const uint32_t same = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(load(s + i + base), splat))) |
                        ((1u << (run - base)) - 1);
  return same == 0xFFFFu ? limit : base + static_cast<size_t>(__builtin_ctz(~same));
}

// Writes the run starting at s[i] and any runs straight after it; returns
// where the next token starts.
KAV_TARGET_SSSE3 inline size_t packRuns(const uint8_t *s, size_t i, size_t n, uint8_t *&o) {
  do {
    const size_t run = runLength(s, i, n);
    *o++ = static_cast<uint8_t>(0xC0 | run);
    *o++ = s[i];
    i += run;
  } while (n - i >= 2 && s[i + 1] == s[i]);
  return i;
}

// The tokens of the 16 bytes at p, one window of the packer. A byte starts
// a token where it differs from the byte before (prev holds the previous
// window, or a byte unlike p[0] where a token is known to start there);
// the token is its run, measured by comparing it with the next four bytes.
// Each lane yields a count byte and its value, interleaved in lo (lanes 0 to
// 7) and hi; keep marks which of the 32 bytes are written: the value of a
// token's first byte, and the count where the run is two or more or the
// byte is high (0xC0 | 1 is the escape). longRuns marks tokens of five
// bytes or more, which the lanes do not describe.
struct PackWindow {
  __m128i lo, hi;
  uint32_t keep, longRuns;
};

KAV_TARGET_SSSE3 inline PackWindow packWindow(const uint8_t *p, __m128i &prev) {
  const __m128i v = load(p);
  const __m128i before = _mm_alignr_epi8(v, prev, 15);
  prev = v;
  const __m128i start = _mm_xor_si128(_mm_cmpeq_epi8(v, before), _mm_set1_epi8(-1));
  // eqK: the K bytes after this one all equal it.
  const __m128i eq1 = _mm_cmpeq_epi8(v, load(p + 1));
  const __m128i eq2 = _mm_and_si128(eq1, _mm_cmpeq_epi8(v, load(p + 2)));
  const __m128i eq3 = _mm_and_si128(eq2, _mm_cmpeq_epi8(v, load(p + 3)));
  const __m128i eq4 = _mm_and_si128(eq3, _mm_cmpeq_epi8(v, load(p + 4)));
  const __m128i count =
      _mm_sub_epi8(_mm_sub_epi8(_mm_sub_epi8(_mm_set1_epi8(static_cast<char>(0xC1)), eq1), eq2), eq3);
  const __m128i c0 = _mm_set1_epi8(static_cast<char>(0xC0));
  const __m128i high = _mm_cmpeq_epi8(_mm_and_si128(v, c0), c0);
  const __m128i counted = _mm_and_si128(start, _mm_or_si128(eq1, high));
  PackWindow w;
  w.lo = _mm_unpacklo_epi8(count, v);
  w.hi = _mm_unpackhi_epi8(count, v);
  w.keep = static_cast<uint32_t>(_mm_movemask_epi8(_mm_unpacklo_epi8(counted, start))) |
           static_cast<uint32_t>(_mm_movemask_epi8(_mm_unpackhi_epi8(counted, start))) << 16;
  w.longRuns = static_cast<uint32_t>(_mm_movemask_epi8(_mm_and_si128(start, eq4)));
  return w;
}

// Writes the kept bytes of a window; at most 32 bytes are stored.
KAV_TARGET_SSSE3 inline void writeWindow(const PackWindow &w, uint32_t keep, uint8_t *&o) {
  packKept(w.lo, keep & 0xFFFFu, o);
  packKept(w.hi, keep >> 16, o);
}

// Packs s[i, n) window by window, a constant step while the runs are short
// (the photo case: the next loads never wait on this window's arithmetic);
// a run of five or more ends the window there and is measured. Windows read
// s[i, i + 20), so with tail false they stop 20 bytes before n; with tail
// true s must hold padding past n (bytes unlike s[n - 1]) and they go on to
// n. Each byte yields at most two, so o stays within 2 * i of the start
// and the stores (up to 32 bytes) within 2 * n once 16 bytes are left.
template <bool tail>
KAV_TARGET_SSSE3 inline size_t packWindows(const uint8_t *s, size_t i, size_t n, __m128i &prev, uint8_t *&o) {
  while (tail ? i < n : n - i >= 20) {
    const PackWindow w = packWindow(s + i, prev);
    uint32_t keep = w.keep, longRuns = w.longRuns;
    if (tail && n - i < 16) {
      keep &= static_cast<uint32_t>((uint64_t{1} << (2 * (n - i))) - 1);
      longRuns &= (1u << (n - i)) - 1;
    }
    if (__builtin_expect(longRuns != 0, 0)) {
      const uint32_t k = static_cast<uint32_t>(__builtin_ctz(longRuns));
      writeWindow(w, keep & ((1u << (2 * k)) - 1), o);
      i = packRuns(s, i + k, n, o);
      if (i == n) break;
      // A token starts here even where the byte repeats (after 63).
      prev = _mm_set1_epi8(static_cast<char>(~s[i]));
      continue;
    }
    writeWindow(w, keep, o);
    i += 16;
  }
  return i;
}

KAV_TARGET_SSSE3 size_t packLineSsse3(const uint8_t *s, size_t n, uint8_t *out) {
  if (n == 0) return 0;
  uint8_t *o = out;
  __m128i prev = _mm_set1_epi8(static_cast<char>(~s[0]));
  const size_t i = packWindows<false>(s, 0, n, prev, o);
  if (i < n) {
    // The last bytes (fewer than 20) from a padded copy, into a scratch
    // buffer big enough for the windows' stores.
    const size_t m = n - i;
    alignas(16) uint8_t padded[64];
    uint8_t packed[96];
    std::memset(padded, static_cast<uint8_t>(~s[n - 1]), sizeof padded);
    std::memcpy(padded, s + i, m);
    uint8_t *p = packed;
    packWindows<true>(padded, 0, m, prev, p);
    const size_t k = static_cast<size_t>(p - packed);
    std::memcpy(o, packed, k);
    o += k;
  }
  return static_cast<size_t>(o - out);
}

KAV_TARGET_SSSE3 inline __m128i pick3(__m128i a, __m128i b, __m128i c, const uint8_t (&m)[3][16]) {
  return _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(a, load(m[0])), _mm_shuffle_epi8(b, load(m[1]))),
                      _mm_shuffle_epi8(c, load(m[2])));
}

KAV_TARGET_SSSE3 void planesToBgrSsse3(const uint8_t *r, const uint8_t *g, const uint8_t *b, uint8_t *dst,
                                      size_t w) {
  size_t i = 0;
  for (; i + 16 <= w; i += 16) {
    const __m128i vb = load(b + i), vg = load(g + i), vr = load(r + i);
    __m128i *out = reinterpret_cast<__m128i *>(dst + 3 * i);
    _mm_storeu_si128(out, pick3(vb, vg, vr, kTables.toBgr[0]));
    _mm_storeu_si128(out + 1, pick3(vb, vg, vr, kTables.toBgr[1]));
    _mm_storeu_si128(out + 2, pick3(vb, vg, vr, kTables.toBgr[2]));
  }
  pcxPortableKernels().planesToBgr(r + i, g + i, b + i, dst + 3 * i, w - i);
}

KAV_TARGET_SSSE3 void bgrToPlanesSsse3(const uint8_t *src, uint8_t *r, uint8_t *g, uint8_t *b, size_t w) {
  size_t i = 0;
  for (; i + 16 <= w; i += 16) {
    const __m128i in0 = load(src + 3 * i), in1 = load(src + 3 * i + 16), in2 = load(src + 3 * i + 32);
    _mm_storeu_si128(reinterpret_cast<__m128i *>(b + i), pick3(in0, in1, in2, kTables.toPlanes[0]));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(g + i), pick3(in0, in1, in2, kTables.toPlanes[1]));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(r + i), pick3(in0, in1, in2, kTables.toPlanes[2]));
  }
  pcxPortableKernels().bgrToPlanes(src + 3 * i, r + i, g + i, b + i, w - i);
}

const PcxKernels kSsse3 = {expandLineSsse3, packLineSsse3, planesToBgrSsse3, bgrToPlanesSsse3};

}  // namespace

const PcxKernels *pcxSsse3Kernels() {
  __builtin_cpu_init();
  if (__builtin_cpu_supports("ssse3") && __builtin_cpu_supports("popcnt")) return &kSsse3;
  return nullptr;
}

}  // namespace kav::still

#else

namespace kav::still {
const PcxKernels *pcxSsse3Kernels() { return nullptr; }
}  // namespace kav::still

#endif
