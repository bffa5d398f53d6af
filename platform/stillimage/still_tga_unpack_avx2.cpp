#include "platform/stillimage/still_tga_unpack.h"

#include "platform/os_cpu.h"

#if defined(__x86_64__) || defined(__i386__)

#include <immintrin.h>

#define KAV_TARGET_AVX2 __attribute__((target("avx2")))

namespace kav::still::tgaunpack {

bool useAvx2() { return !kav::os::simdDisabled() && __builtin_cpu_supports("avx2"); }

namespace {

// Raw packets are copied this many bytes at least, whatever their length
// (nearly all are shorter), so the common ones take no branch on it.
constexpr size_t kRawBlind = 128;

// Byte t of a run, for the three 32-byte stretches that repeat every 96
// bytes: the pixel's byte (t + 32 * phase) % 3. Both 128-bit halves hold
// the pixel (broadcast), so in-half shuffles reach it.
KAV_TARGET_AVX2 inline __m256i runIndex(int phase) {
  alignas(32) int8_t t[32];
  for (int i = 0; i < 32; ++i) t[i] = static_cast<int8_t>((i + 32 * phase) % 3);
  return _mm256_load_si256(reinterpret_cast<const __m256i *>(t));
}

// n 32-byte blocks, written out (the compiler keeps such a loop rolled).
template <size_t n>
KAV_TARGET_AVX2 inline void copy32(uint8_t *o, const uint8_t *s) {
  _mm256_storeu_si256(reinterpret_cast<__m256i *>(o), _mm256_loadu_si256(reinterpret_cast<const __m256i *>(s)));
  if constexpr (n > 1) copy32<n - 1>(o + 32, s + 32);
}

}  // namespace

KAV_TARGET_AVX2 size_t unpack24Avx2(const uint8_t *src, size_t avail, size_t &atRef, uint8_t *row, size_t filled,
                                    size_t rowBytes) {
  const __m256i i0 = runIndex(0), i1 = runIndex(1), i2 = runIndex(2);
  size_t at = atRef;
  for (;;) {
    // Every packet reads its header and at least 16 bytes after it.
    if (at >= avail || avail - at < 17) break;
    const size_t room = rowBytes - filled;
    const uint8_t head = src[at];
    const size_t bytes = ((head & 0x7Fu) + 1u) * 3u;
    const uint8_t *s = src + at + 1;
    uint8_t *o = row + filled;
    if (head & 0x80) {
      // Runs of up to ten pixels take one store, longer ones whole
      // 96-byte periods.
      const size_t span = bytes <= 32 ? 32 : (bytes + 95) / 96 * 96;
      if (span > room) break;
      const __m256i px = _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i *>(s)));
      const __m256i a = _mm256_shuffle_epi8(px, i0);
      _mm256_storeu_si256(reinterpret_cast<__m256i *>(o), a);
      if (bytes > 32) {
        const __m256i b = _mm256_shuffle_epi8(px, i1), c = _mm256_shuffle_epi8(px, i2);
        for (size_t k = 0; k < bytes; k += 96) {
          _mm256_storeu_si256(reinterpret_cast<__m256i *>(o + k), a);
          _mm256_storeu_si256(reinterpret_cast<__m256i *>(o + k + 32), b);
          _mm256_storeu_si256(reinterpret_cast<__m256i *>(o + k + 64), c);
        }
      }
      at += 4;
    } else {
      const size_t span = bytes <= kRawBlind ? kRawBlind : (bytes + 31) / 32 * 32;
      if (span > room || span > avail - at - 1) break;
      copy32<kRawBlind / 32>(o, s);
      for (size_t k = kRawBlind; k < bytes; k += 32)
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(o + k),
                            _mm256_loadu_si256(reinterpret_cast<const __m256i *>(s + k)));
      at += 1 + bytes;
    }
    filled += bytes;
  }
  atRef = at;
  return filled;
}

}  // namespace kav::still::tgaunpack

#else

namespace kav::still::tgaunpack {

bool useAvx2() { return false; }

size_t unpack24Avx2(const uint8_t *, size_t, size_t &, uint8_t *, size_t filled, size_t) { return filled; }

}  // namespace kav::still::tgaunpack

#endif
