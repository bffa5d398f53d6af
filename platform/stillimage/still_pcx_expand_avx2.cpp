// AVX2 run-length expansion of PCX plane lines.
//
// The coded bytes are taken 32 at a time at a fixed step, so the next load
// never waits on this window's arithmetic. Bytes with the top two bits set
// are counts or, straight after a count, its value; which is which follows
// from the parity of each stretch of such bytes. Whether lane 0 is the value
// of a count in the last window changes only the first stretch, so the count
// map is worked out for both cases and one is picked: the chain from window
// to window is a select and a shift.
//
// Each lane owns two output slots. A literal fills one; a count fills as
// many as its value needs, up to two, with its value (taken from the next
// byte); the value's own lane gives the copies beyond two. So counts of up
// to four (escaped literals, pairs and the short runs of noisy pictures) are
// written by the same shuffles as literals, four lanes (eight slots) a
// shuffle, with no data-dependent branch. A longer count ends the window and
// is written as a run; those are rare in noisy pictures and, in flat ones,
// cover many bytes each. Near the ends of the data and of the line the
// SSSE3 loop finishes.
#include "platform/stillimage/still_pcx_expand_avx2.h"
#include "platform/stillimage/still_pcx_expand_common.h"

#if defined(__x86_64__) || defined(__i386__)

#include <immintrin.h>

#include <algorithm>
#include <cstring>

#define KAV_TARGET_EXPAND __attribute__((target("avx2,bmi,bmi2,popcnt")))

namespace kav::still {

namespace {

// For the eight slot bits of four lanes: the lanes (4 * quarter + slot / 2)
// whose slots are kept, in order, for a shuffle of one 16-byte half.
struct SlotTables {
  uint8_t lanes[4][256][8];
  constexpr SlotTables() : lanes() {
    for (int q = 0; q < 4; ++q)
      for (int m = 0; m < 256; ++m) {
        int k = 0;
        for (int slot = 0; slot < 8; ++slot)
          if (m & (1 << slot)) lanes[q][m][k++] = static_cast<uint8_t>(4 * q + slot / 2);
        for (; k < 8; ++k) lanes[q][m][k] = 0x80;
      }
  }
};

inline constexpr SlotTables kSlots;

KAV_TARGET_EXPAND inline __m256i load32(const uint8_t *p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p));
}

KAV_TARGET_EXPAND inline uint32_t lanesOf(__m256i m) { return static_cast<uint32_t>(_mm256_movemask_epi8(m)); }

// Among the high bytes (counts and values), those whose low six bits are t
// or more: below t the sum wraps under 0x80.
KAV_TARGET_EXPAND inline uint32_t atLeast(__m256i v, int t) {
  return ~lanesOf(_mm256_add_epi8(v, _mm256_set1_epi8(static_cast<char>(0x40 - t))));
}

// Byte lane i all ones where bit i of bits is set.
KAV_TARGET_EXPAND inline __m256i laneMask(uint32_t bits) {
  const __m256i select = _mm256_set1_epi64x(static_cast<long long>(0x8040201008040201ull));
  const __m256i spread = _mm256_setr_epi8(0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1,  //
                                          2, 2, 2, 2, 2, 2, 2, 2, 3, 3, 3, 3, 3, 3, 3, 3);
  const __m256i m = _mm256_shuffle_epi8(_mm256_set1_epi32(static_cast<int>(bits)), spread);
  return _mm256_cmpeq_epi8(_mm256_and_si256(m, select), select);
}

// The counts among the high bytes, each stretch of them starting with a
// count. Adding a stretch's start bit clears the stretch: that marks the
// stretches starting at even lanes, whose counts sit at even lanes (64-bit
// sums, since a stretch may reach lane 31).
KAV_TARGET_EXPAND inline uint32_t countsOf(uint32_t high) {
  const uint64_t h = high;
  const uint64_t starts = h & ~(h << 1);
  const uint64_t even = h & ~(h + (starts & 0x55555555u));
  return static_cast<uint32_t>((even & 0x55555555u) | (h & ~even & 0xAAAAAAAAu));
}

// Four lanes (eight slots) of one 16-byte half at d.
template <int Quarter>
KAV_TARGET_EXPAND inline void writeQuarter(__m128i half, uint32_t m, uint8_t *&d) {
  const __m128i order = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(kSlots.lanes[Quarter][m]));
  _mm_storel_epi64(reinterpret_cast<__m128i *>(d), _mm_shuffle_epi8(half, order));
  d += __builtin_popcount(m);
}

// Writes the lanes of x whose slot bits are set in slots (two a lane), in
// order, at d.
KAV_TARGET_EXPAND inline void writeSlots(__m256i x, uint64_t slots, uint8_t *&d) {
  const __m128i lo = _mm256_castsi256_si128(x), hi = _mm256_extracti128_si256(x, 1);
  const uint32_t a = static_cast<uint32_t>(slots), b = static_cast<uint32_t>(slots >> 32);
  writeQuarter<0>(lo, a & 0xFF, d);
  writeQuarter<1>(lo, (a >> 8) & 0xFF, d);
  writeQuarter<2>(lo, (a >> 16) & 0xFF, d);
  writeQuarter<3>(lo, a >> 24, d);
  writeQuarter<0>(hi, b & 0xFF, d);
  writeQuarter<1>(hi, (b >> 8) & 0xFF, d);
  writeQuarter<2>(hi, (b >> 16) & 0xFF, d);
  writeQuarter<3>(hi, b >> 24, d);
}

KAV_TARGET_EXPAND bool expandWindows(const uint8_t *p, size_t &pos, size_t end, uint8_t *dst, size_t n,
                                     PcxRunCarry &carry, const PcxKernels &finish) {
  uint8_t *d = dst;
  uint8_t *const dEnd = dst + n;
  const uint8_t *s = p + pos;
  const uint8_t *const sEnd = p + end;
  if (resumeRun(d, n, carry)) return true;
  const uint8_t *const lineStart = s;
  const __m256i c0 = _mm256_set1_epi8(static_cast<char>(0xC0));
  // Lane 0 is the value of the count in the last lane of the last window;
  // beyond3 and beyond4 tell whether that count was over three or four (its
  // first two copies are written).
  uint32_t valueFirst = 0, beyond3 = 0, beyond4 = 0;
  // A window yields at most 64 bytes, all of them in the line while 64
  // bytes of room are left; a count in the last lane takes its value from
  // the byte after the window.
  while (dEnd - d >= 64 && sEnd - s >= 33) {
    const __m256i v = load32(s), next = load32(s + 1);
    const uint32_t high = lanesOf(_mm256_cmpeq_epi8(_mm256_max_epu8(v, c0), v));
    const uint32_t some = atLeast(v, 1), two = atLeast(v, 2), three = atLeast(v, 3), four = atLeast(v, 4),
                   five = atLeast(v, 5);
    // Both outcomes of the carry are ready before it is known.
    const uint32_t countsIfNot = countsOf(high), countsIf = countsOf(high & ~1u);
    const uint32_t counts = valueFirst ? countsIf : countsIfNot;
    const uint32_t values = (counts << 1) | valueFirst;
    const uint32_t literals = ~(counts | values);
    // First slots: literals, counts of one or more, values of counts over
    // two; second slots: counts of two or more, values of counts over three.
    const uint32_t first = literals | (counts & some) | (values & ((three << 1) | (valueFirst & beyond3)));
    const uint32_t second = (counts & two) | (values & ((four << 1) | (valueFirst & beyond4)));
    const uint32_t runs = counts & five;
    // A count's slots show its value.
    const __m256i x = _mm256_blendv_epi8(v, next, laneMask(counts));
    if (__builtin_expect(runs == 0, 1)) {
      writeSlots(x, _pdep_u64(first, 0x5555555555555555ull) | _pdep_u64(second, 0xAAAAAAAAAAAAAAAAull), d);
      s += 32;
      valueFirst = counts >> 31;
      beyond3 = three >> 31;
      beyond4 = four >> 31;
      continue;
    }
    if (s == lineStart) {
      // A line opening with a run is likely flat, with runs every few
      // bytes: the SSSE3 loop, whose windows are shorter, does better there.
      pos = static_cast<size_t>(s - p);
      return finish.expandLine(p, pos, end, d, static_cast<size_t>(dEnd - d), carry);
    }
    const uint32_t take = static_cast<uint32_t>(__builtin_ctz(runs));
    const uint32_t span = (1u << take) - 1;
    // In flat pictures runs follow each other closely: the lanes before the
    // run are often none or a few.
    if (take) {
      const uint64_t slots = _pdep_u64(first & span, 0x5555555555555555ull) |
                             _pdep_u64(second & span, 0xAAAAAAAAAAAAAAAAull);
      if (take <= 4) {
        writeQuarter<0>(_mm256_castsi256_si128(x), static_cast<uint32_t>(slots), d);
      } else {
        writeSlots(x, slots, d);
      }
    }
    s += take;
    valueFirst = 0;
    // s[0] is a count and s[1] its value, both before sEnd.
    if (writeRuns(s, d, dEnd, sEnd, 4, carry)) {
      pos = static_cast<size_t>(s - p);
      return true;
    }
  }
  if (valueFirst) {
    // The count before s[0] had its first two copies written.
    const size_t rest = beyond4 ? 2 : beyond3 ? 1 : 0;
    const size_t room = static_cast<size_t>(dEnd - d);
    const uint8_t value = *s++;
    if (rest > room) {
      std::memset(d, value, room);
      carry.count = rest - room;
      carry.value = value;
      pos = static_cast<size_t>(s - p);
      return true;
    }
    std::memset(d, value, rest);
    d += rest;
  }
  pos = static_cast<size_t>(s - p);
  return finish.expandLine(p, pos, end, d, static_cast<size_t>(dEnd - d), carry);
}

}  // namespace

bool pcxExpandLineAvx2(const uint8_t *p, size_t &pos, size_t end, uint8_t *dst, size_t n, PcxRunCarry &carry) {
  // The window loop needs BMI2 as well; the SSSE3 loop (every processor
  // with AVX2 has SSSE3) takes the ends of lines, or whole lines without it.
  static const PcxKernels &finish = *pcxSsse3Kernels();
  static const bool windows = __builtin_cpu_supports("bmi2");
  if (!windows) return finish.expandLine(p, pos, end, dst, n, carry);
  return expandWindows(p, pos, end, dst, n, carry, finish);
}

}  // namespace kav::still

#endif
