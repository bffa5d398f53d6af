// SSSE3 PCX kernels, chosen at run time (the build itself assumes only SSE2).
//
// Expansion looks at 16 coded bytes at once. Bytes with the top two bits set
// are counts or, straight after a count, its value; which is which follows
// from the parity of each stretch of such bytes (a stretch starting at a
// token boundary alternates count, value, count ...). Counts of one (an
// escaped literal) are dropped and counts of two are replaced by their value,
// so the window becomes its output by one byte shuffle that packs the kept
// bytes together. Any other count ends the window early and is written as a
// run. Packing works the other way round: equal neighbours and high bytes
// are found 16 at a time, a pair becomes count two plus value in place, a
// high literal gets its escape by a shuffle that widens the bytes, and a
// longer run ends the window and is measured with whole-vector compares.
// Near the ends of the data and of the line the portable loops finish.
#include "platform/stillimage/still_pcx_kernels.h"
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

// A count of three or more whose value follows: writes the run (the part
// that fits, the rest carried into the next line). False when the line is
// full.
KAV_TARGET_SSSE3 inline bool writeRun(const uint8_t *&s, uint8_t *&d, uint8_t *dEnd, PcxRunCarry &carry) {
  const size_t count = s[0] & 0x3Fu;
  const uint8_t value = s[1];
  s += 2;
  const size_t room = static_cast<size_t>(dEnd - d);
  if (count > room) {
    std::memset(d, value, room);
    d = dEnd;
    carry.count = count - room;
    carry.value = value;
    return false;
  }
  if (room >= 64) {
    // Four stores whatever the count (at most 63): no loop to mispredict.
    const __m128i v = _mm_set1_epi8(static_cast<char>(value));
    __m128i *out = reinterpret_cast<__m128i *>(d);
    _mm_storeu_si128(out, v);
    _mm_storeu_si128(out + 1, v);
    _mm_storeu_si128(out + 2, v);
    _mm_storeu_si128(out + 3, v);
  } else {
    std::memset(d, value, count);
  }
  d += count;
  return d < dEnd;
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
  if (carry.count) {
    const size_t k = std::min(carry.count, n);
    std::memset(d, carry.value, k);
    d += k;
    carry.count -= k;
    if (carry.count) return true;
  }
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
    // s[0] is a count and s[1] its value, both before sEnd; runs often
    // follow runs.
    while (writeRun(s, d, dEnd, carry) && sEnd - s >= 2 && (s[0] & 0xC0) == 0xC0 && (s[0] & 0x3F) > 2) {
    }
    if (carry.count) {
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

KAV_TARGET_SSSE3 size_t packLineSsse3(const uint8_t *s, size_t n, uint8_t *out) {
  uint8_t *o = out;
  size_t i = 0;
  const __m128i escapes = _mm_set1_epi8(static_cast<char>(0xC1));
  const __m128i pairCount = _mm_set1_epi8(static_cast<char>(0xC2));
  // Lane 0 is the second byte of a pair begun in the last lane of the last
  // window (written as it is).
  uint32_t pairEnd = 0;
  // Each byte taken yields at most two, so with 18 bytes left there is room
  // for the two 16-byte stores of a window (and the repeats of all 16 lanes
  // are known).
  while (n - i >= 18) {
    const __m128i v = load(s + i), w = load(s + i + 1);
    const uint32_t equal = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, w)));
    const uint32_t high = highBytes(v) & ~pairEnd;
    if (!(equal | high)) {
      _mm_storeu_si128(reinterpret_cast<__m128i *>(o), v);
      o += 16;
      i += 16;
      pairEnd = 0;
      continue;
    }
    // equal bit k: byte k repeats in byte k + 1; next bit k: byte k + 1 in
    // byte k + 2. A pair is a repeat with no repeat either side; two repeats
    // in a row start a longer run, which ends the window.
    const uint32_t next = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(w, load(s + i + 2))));
    const uint32_t longer = equal & next;
    const uint32_t take = longer ? static_cast<uint32_t>(__builtin_ctz(longer)) : 16;
    const uint32_t span = (1u << take) - 1;
    const uint32_t pairLanes = equal & ~next & ~(equal << 1) & span;
    const uint32_t escaped = high & ~pairLanes & ~(pairLanes << 1) & span;
    const __m128i pairMask = laneMask(pairLanes);
    const __m128i x = _mm_or_si128(_mm_and_si128(pairMask, pairCount), _mm_andnot_si128(pairMask, v));
    const uint32_t loTaken = std::min(take, 8u);
    const __m128i lo = _mm_shuffle_epi8(_mm_unpacklo_epi64(x, escapes), load(kTables.escape[escaped & 0xFF]));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(o), lo);
    o += loTaken + static_cast<uint32_t>(__builtin_popcount(escaped & 0xFFu));
    const __m128i hi = _mm_shuffle_epi8(_mm_unpackhi_epi64(x, escapes), load(kTables.escape[escaped >> 8]));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(o), hi);
    o += (take - loTaken) + static_cast<uint32_t>(__builtin_popcount(escaped >> 8));
    i += take;
    pairEnd = (pairLanes >> 15) & 1;
    if (longer) i = packRuns(s, i, n, o);
  }
  if (pairEnd) *o++ = s[i++];
  return static_cast<size_t>(o - out) + pcxPortableKernels().packLine(s + i, n - i, o);
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
