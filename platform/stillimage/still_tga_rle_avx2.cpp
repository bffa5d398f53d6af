// AVX2 versions of the TGA run-length encoder's row kernel: the neighbour
// map (a word of 64 pixels a step, from byte compares), and a packet
// writer that finds all packet boundaries from the map at once and copies
// in 32-byte blocks. Same results as the portable ones, bit for bit and
// byte for byte.
#include "platform/stillimage/still_tga_rle.h"

#include <algorithm>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)

#include <cpuid.h>
#include <immintrin.h>

#include "platform/os_cpu.h"

#define KAV_TARGET_AVX2 __attribute__((target("avx2,bmi")))

namespace kav::still::tgarle {

bool avx2Usable() { return !kav::os::simdDisabled() && __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi"); }

namespace {

#define KAV_TARGET_PEXT __attribute__((target("avx2,bmi,bmi2")))

// Bit t: byte t of the 32 at s equals the byte px on.
KAV_TARGET_PEXT inline uint64_t byteMatches32(const uint8_t *s, size_t px) {
  const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(s));
  const __m256i y = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(s + px));
  return static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(x, y)));
}

// The map word of the 64 pixels from s (pixel 64 read too, never past it).
// Three-byte pixels: bytes against the bytes three on, 192 in all, then a
// pixel is equal when its three bytes are (a bit and the two above it),
// and pext keeps every third bit. Pixels 22 and 43 start at bytes 66 and
// 129, so the second and third 64-byte parts keep bits from 2 and 1 on.
template <size_t px>
KAV_TARGET_PEXT inline uint64_t mapWord(const uint8_t *s) {
  if constexpr (px == 1) {
    return byteMatches32(s, 1) | (byteMatches32(s + 32, 1) << 32);
  } else {
    const uint64_t a = byteMatches32(s, 3) | (byteMatches32(s + 32, 3) << 32);
    const uint64_t b = byteMatches32(s + 64, 3) | (byteMatches32(s + 96, 3) << 32);
    const uint64_t c = byteMatches32(s + 128, 3) | (byteMatches32(s + 160, 3) << 32);
    const uint64_t ta = a & ((a >> 1) | (b << 63)) & ((a >> 2) | (b << 62));
    const uint64_t tb = b & ((b >> 1) | (c << 63)) & ((b >> 2) | (c << 62));
    const uint64_t tc = c & (c >> 1) & (c >> 2);
    return _pext_u64(ta, 0x9249249249249249ull) | (_pext_u64(tb, 0x4924924924924924ull) << 22) |
           (_pext_u64(tc, 0x2492492492492492ull) << 43);
  }
}

// Every word written once (no clearing first): whole words straight from
// the row while pixel k + 64 is in it, the last from a padded copy of the
// row's tail, then the spare word.
template <size_t px>
KAV_TARGET_PEXT void equalMapPext(const uint8_t *row, size_t w, uint64_t *map) {
  size_t k = 0;
  for (; k + 65 <= w; k += 64) map[k >> 6] = mapWord<px>(row + k * px);
  // At most 64 pixels are left (at least one); their bits stop short of
  // the row's last pixel.
  alignas(32) uint8_t tail[65 * px + 32] = {};
  std::memcpy(tail, row + k * px, (w - k) * px);
  map[k >> 6] = mapWord<px>(tail) & ((1ull << (w - 1 - k)) - 1);
  for (size_t j = (k >> 6) + 1; j < equalMapWords(static_cast<int32_t>(w)); ++j) map[j] = 0;
}

// pext is fast where BMI2 is, except on the first Zen generations, which
// take hundreds of cycles over it: AMD's family 17h, and Hygon's 18h built
// on the same core.
bool zenBeforeZen3() {
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (!__get_cpuid(0, &a, &b, &c, &d)) return false;
  char vendor[12];
  std::memcpy(vendor, &b, 4);
  std::memcpy(vendor + 4, &d, 4);
  std::memcpy(vendor + 8, &c, 4);
  const bool amd = std::memcmp(vendor, "AuthenticAMD", 12) == 0, hygon = std::memcmp(vendor, "HygonGenuine", 12) == 0;
  if ((!amd && !hygon) || !__get_cpuid(1, &a, &b, &c, &d)) return false;
  unsigned family = (a >> 8) & 0xFu;
  if (family == 0xFu) family += (a >> 20) & 0xFFu;
  return amd ? family == 0x17 : family == 0x18;
}

bool fastPext() {
  static const bool fast = __builtin_cpu_supports("bmi2") && !zenBeforeZen3();
  return fast;
}

}  // namespace

// The map without pext, for processors where it is slow. Eight pixels a
// step: each half of a register takes four pixels and the one after them
// from a 16-byte load, widened to one 32-bit slot each, so a 32-bit
// compare of the pixels against their right-hand neighbours gives one bit
// a pixel. One-byte pixels: 32 bytes against the bytes one on.
KAV_TARGET_AVX2 void equalMapShuffleAvx2(const uint8_t *row, int32_t width, size_t px, uint64_t *map) {
  std::memset(map, 0, equalMapWords(width) * sizeof(uint64_t));
  const auto w = static_cast<size_t>(width);
  size_t k = 0;
  // Each word is gathered in a register and stored once, so the steps do
  // not wait on each other's stores.
  uint64_t word = 0;
  if (px == 1) {
    // Loads reach pixel k + 32, the last one compared.
    for (; k + 33 <= w; k += 32) {
      const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(row + k));
      const __m256i y = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(row + k + 1));
      const auto bits = static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(x, y)));
      word |= static_cast<uint64_t>(bits) << (k & 63);
      if ((k & 63) == 32) {
        map[k >> 6] = word;
        word = 0;
      }
    }
  } else {
    const __m256i self = _mm256_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1,  //
                                          0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
    const __m256i next = _mm256_setr_epi8(3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1, 12, 13, 14, -1,  //
                                          3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1, 12, 13, 14, -1);
    // The second half's load ends at byte 3 k + 28, so pixel k + 9 must
    // start in the row (k + 8 is the last one compared).
    auto step = [&](size_t at) KAV_TARGET_AVX2 {
      const uint8_t *b = row + 3 * at;
      const __m256i v = _mm256_inserti128_si256(
          _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i *>(b))),
          _mm_loadu_si128(reinterpret_cast<const __m128i *>(b + 12)), 1);
      const __m256i eq = _mm256_cmpeq_epi32(_mm256_shuffle_epi8(v, self), _mm256_shuffle_epi8(v, next));
      return static_cast<uint64_t>(static_cast<uint32_t>(_mm256_movemask_ps(_mm256_castsi256_ps(eq))));
    };
    // Whole words first, their eight steps written out so that no step
    // waits on a test of where it is in the word.
    for (; k + 66 <= w; k += 64) {
      uint64_t m = 0;
      for (size_t t = 0; t < 64; t += 8) m |= step(k + t) << t;
      map[k >> 6] = m;
    }
    for (; k + 10 <= w; k += 8) {
      word |= step(k) << (k & 63);
      if ((k & 63) == 56) {
        map[k >> 6] = word;
        word = 0;
      }
    }
  }
  // The word k is in (the spare word after the row's at most).
  map[k >> 6] = word;
  for (; k + 1 < w; ++k)
    if (samePixel(row + k * px, px)) map[k >> 6] |= 1ull << (k & 63);
}

void equalMapAvx2(const uint8_t *row, int32_t width, size_t px, uint64_t *map) {
  // (The vector paths are known not to be ruled out here.)
  if (!fastPext()) return equalMapShuffleAvx2(row, width, px, map);
  const auto w = static_cast<size_t>(width);
  if (w == 0) {
    map[0] = 0;
    return;
  }
  if (px == 1) equalMapPext<1>(row, w, map);
  else equalMapPext<3>(row, w, map);
}

namespace {

KAV_TARGET_AVX2 inline void copy32(uint8_t *o, const uint8_t *s) {
  _mm256_storeu_si256(reinterpret_cast<__m256i *>(o), _mm256_loadu_si256(reinterpret_cast<const __m256i *>(s)));
}

KAV_TARGET_AVX2 inline void copy16(uint8_t *o, const uint8_t *s) {
  _mm_storeu_si128(reinterpret_cast<__m128i *>(o), _mm_loadu_si128(reinterpret_cast<const __m128i *>(s)));
}

// Exactly bytes from s to o, in a few overlapping blocks (a call to memcpy
// costs more than the short packets near a row's end take).
KAV_TARGET_AVX2 inline void copyExact(uint8_t *o, const uint8_t *s, size_t bytes) {
  if (bytes >= 32) {
    for (size_t k = 0; k + 32 < bytes; k += 32) copy32(o + k, s + k);
    copy32(o + bytes - 32, s + bytes - 32);
  } else if (bytes >= 16) {
    copy16(o, s);
    copy16(o + bytes - 16, s + bytes - 16);
  } else if (bytes >= 8) {
    std::memcpy(o, s, 8);
    std::memcpy(o + bytes - 8, s + bytes - 8, 8);
  } else if (bytes >= 4) {
    std::memcpy(o, s, 4);
    std::memcpy(o + bytes - 4, s + bytes - 4, 4);
  } else {
    o[0] = s[0];
    if (bytes > 1) std::memcpy(o + bytes - 2, s + bytes - 2, 2);
  }
}

// Bytes every raw packet copies whatever it holds (nearly all fit), so the
// common ones take no branch on their length.
constexpr size_t kBlind = 128;

// As the portable packet(): reads stay in the row; writes stay within
// rowWorstBytes + kRowSlack, since a packet at pixel i starts at most
// (px + 1) i bytes in, and the blind copy is only taken kBlind bytes or
// more before the row's end.
template <size_t px>
KAV_TARGET_AVX2 inline uint8_t *packet(uint8_t *o, const uint8_t *row, size_t n, size_t i, size_t count, bool run) {
  const auto c = static_cast<uint8_t>(count - 1);
  const size_t b = i * px;
  if (run) {
    // Header and pixel in one store. A run has a second pixel, so the
    // load of px + 1 bytes stays in the row. Runs and raw packets mostly
    // take turns, so this branch is well predicted, and a run then costs
    // one store instead of the raw packet's blind copy.
    if constexpr (px == 1) {
      const auto v = static_cast<uint16_t>(0x80u | c | (static_cast<unsigned>(row[b]) << 8));
      std::memcpy(o, &v, 2);
    } else {
      uint32_t v;
      std::memcpy(&v, row + b, 4);
      v = (v << 8) | 0x80u | c;
      std::memcpy(o, &v, 4);
    }
    return o + 1 + px;
  }
  *o++ = c;
  const size_t stored = count * px;
  if (b + kBlind <= n) {
    const uint8_t *s = row + b;
    copy32(o, s);
    copy32(o + 32, s + 32);
    copy32(o + 64, s + 64);
    copy32(o + 96, s + 96);
    if (stored > kBlind) {
      if (b + (stored + 31) / 32 * 32 <= n) {
        for (size_t k = kBlind; k < stored; k += 32) copy32(o + k, s + k);
      } else {
        copyExact(o + kBlind, s + kBlind, stored - kBlind);
      }
    }
  } else {
    copyExact(o, row + b, stored);
  }
  return o + stored;
}

// The packets of a row, read off the map as boundaries: a packet starts at
// pixel k when pixel k - 1 is unlike pixel k (its map bit k - 1 clear) and
// either pixel k starts a repeat (bit k) or pixel k - 1 ended one (bit
// k - 2). Taking the boundaries one by one (clearing the lowest bit) keeps
// the packets independent of each other, where walking the map packet by
// packet makes each wait on the last. Packets over 128 pixels are split as
// the pixel-by-pixel coder splits them (see longPacket).
template <size_t px>
class PacketWriter {
 public:
  PacketWriter(const uint8_t *row, size_t n, uint8_t *out) : row_(row), n_(n), o_(out) {}

  // The packet of count pixels from pixel i (count at least 1).
  KAV_TARGET_AVX2 void put(size_t i, size_t count, bool run) {
    if (count <= 128) o_ = packet<px>(o_, row_, n_, i, count, run);
    else longPacket(i, count, run);
  }

  // After a long repeat split into 128s has one pixel left over, that pixel
  // is no repeat: the coder makes it the first of a raw packet, which then
  // runs on to the next repeat. True when that is pending (from that
  // pixel on); the caller decides where the raw packet ends.
  bool pendingRaw() const { return pending_; }
  size_t pendingFrom() const { return from_; }
  void clearPending() { pending_ = false; }

  uint8_t *end() const { return o_; }

 private:
  KAV_TARGET_AVX2 void longPacket(size_t i, size_t count, bool run) {
    while (count > 128) {
      o_ = packet<px>(o_, row_, n_, i, 128, run);
      i += 128;
      count -= 128;
    }
    if (run && count == 1) {
      pending_ = true;
      from_ = i;
      return;
    }
    o_ = packet<px>(o_, row_, n_, i, count, run);
  }

  const uint8_t *row_;
  size_t n_;
  uint8_t *o_;
  bool pending_ = false;
  size_t from_ = 0;
};

template <size_t px>
KAV_TARGET_AVX2 size_t writeRowOf(const uint8_t *row, int32_t width, const uint64_t *map, uint8_t *out) {
  const auto w = static_cast<size_t>(width);
  const size_t words = (w + 63) / 64;
  PacketWriter<px> pw(row, w * px, out);
  size_t start = 0;
  bool startRun = map[0] & 1;
  uint64_t prev = 0;  // the previous word's map (its top two bits matter)
  // Ends the packet open at start at boundary b, opening the next there.
  auto boundary = [&](size_t b, bool runAtB) KAV_TARGET_AVX2 {
    pw.put(start, b - start, startRun);
    start = b;
    startRun = runAtB;
    if (pw.pendingRaw()) {
      pw.clearPending();
      // The left-over pixel and, unless b starts a repeat, the raw pixels
      // from b on make one packet: b is no boundary then.
      if (runAtB || b == w) {
        pw.put(b - 1, 1, false);
      } else {
        start = b - 1;
        startRun = false;
      }
    }
  };
  for (size_t j = 0; j < words; ++j) {
    const uint64_t e = map[j];
    const uint64_t e1 = (e << 1) | (prev >> 63);  // bit k: map bit k - 1
    const uint64_t e2 = (e << 2) | (prev >> 62);  // bit k: map bit k - 2
    prev = e;
    uint64_t s = ~e1 & (e | e2);
    if (j == 0) s &= ~1ull;  // pixel 0 opens the first packet anyway
    const size_t base = j * 64;
    // Boundaries at or past the row's end: the end closes the last packet.
    if (w - base < 64) s &= (1ull << (w - base)) - 1;
    while (s) {
      const size_t k = static_cast<size_t>(__builtin_ctzll(s));
      s &= s - 1;
      const size_t b = base + k;
      const bool runAtB = (e >> k) & 1;
      if (b - start <= 128) {
        // The common case, inline.
        pw.put(start, b - start, startRun);
        start = b;
        startRun = runAtB;
      } else {
        boundary(b, runAtB);
      }
    }
  }
  boundary(w, false);
  return static_cast<size_t>(pw.end() - out);
}

}  // namespace

size_t writeRowAvx2(const uint8_t *row, int32_t width, size_t px, const uint64_t *map, uint8_t *out) {
  return px == 1 ? writeRowOf<1>(row, width, map, out) : writeRowOf<3>(row, width, map, out);
}

}  // namespace kav::still::tgarle

#else

namespace kav::still::tgarle {

bool avx2Usable() { return false; }
void equalMapAvx2(const uint8_t *row, int32_t width, size_t px, uint64_t *map) {
  equalMapPortable(row, width, px, map);
}
void equalMapShuffleAvx2(const uint8_t *row, int32_t width, size_t px, uint64_t *map) {
  equalMapPortable(row, width, px, map);
}
size_t writeRowAvx2(const uint8_t *row, int32_t width, size_t px, const uint64_t *map, uint8_t *out) {
  return writeRow(row, width, px, map, out);
}

}  // namespace kav::still::tgarle

#endif
