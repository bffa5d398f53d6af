#include "platform/stillimage/still_tga_unpack.h"

#include "platform/os_cpu.h"

#if defined(__x86_64__) || defined(__i386__)

#include <immintrin.h>

#include <cstring>

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

// The most a packet's stores reach past its start: a 128-pixel packet
// rounded up to whole 32- or 96-byte blocks.
constexpr size_t kReach = 384;

// What a run of bytes stores: runs of up to ten pixels one store, longer
// ones whole 96-byte periods.
inline size_t runReach(size_t bytes) { return bytes <= 32 ? 32 : (bytes + 95) / 96 * 96; }
// What a raw packet of bytes reads and stores.
inline size_t rawReach(size_t bytes) { return bytes <= kRawBlind ? kRawBlind : (bytes + 31) / 32 * 32; }

// The run of the pixel at px over runReach(bytes) bytes at o; index holds
// the three byte orders of a 96-byte period.
KAV_TARGET_AVX2 inline void fillRun(uint8_t *o, const uint8_t *px, size_t bytes, const __m256i (&index)[3]) {
  const __m256i pixel = _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i *>(px)));
  const __m256i a = _mm256_shuffle_epi8(pixel, index[0]);
  _mm256_storeu_si256(reinterpret_cast<__m256i *>(o), a);
  if (bytes > 32) {
    const __m256i b = _mm256_shuffle_epi8(pixel, index[1]), c = _mm256_shuffle_epi8(pixel, index[2]);
    for (size_t k = 0; k < bytes; k += 96) {
      _mm256_storeu_si256(reinterpret_cast<__m256i *>(o + k), a);
      _mm256_storeu_si256(reinterpret_cast<__m256i *>(o + k + 32), b);
      _mm256_storeu_si256(reinterpret_cast<__m256i *>(o + k + 64), c);
    }
  }
}

// The raw packet of bytes at s, rawReach(bytes) bytes read and stored.
KAV_TARGET_AVX2 inline void copyRaw(uint8_t *o, const uint8_t *s, size_t bytes) {
  copy32<kRawBlind / 32>(o, s);
  for (size_t k = kRawBlind; k < bytes; k += 32)
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(o + k),
                        _mm256_loadu_si256(reinterpret_cast<const __m256i *>(s + k)));
}

// Whole packets that end within limit bytes of o0 and whose full-width
// stores end within capacity (the row itself, or a scratch block with
// room to spare for the row's last packets).
template <bool Scratch>
KAV_TARGET_AVX2 inline size_t unpackPackets(const uint8_t *src, size_t avail, size_t &atRef, uint8_t *o0,
                                            size_t filled, size_t limit, size_t capacity) {
  const __m256i index[3] = {runIndex(0), runIndex(1), runIndex(2)};
  const uint8_t *h = src + atRef;
  const uint8_t *const hEnd = src + avail;
  uint8_t *o = o0 + filled;
  uint8_t *const oLimit = o0 + limit, *const oEnd = o0 + capacity;
  // A raw packet's next header is 3 head + 4 bytes on (head is the count
  // less one there): fewer steps from this header's load to the next
  // one's address than going through its length.
  if constexpr (!Scratch) {
    // Well inside the input and the row, a packet needs only its length
    // told: the common ones fit the blind stores, and only the rare long
    // ones are measured against the row. The checked loop below takes
    // the rest.
    if (hEnd - h > static_cast<std::ptrdiff_t>(kReach) && oEnd - o >= static_cast<std::ptrdiff_t>(kRawBlind)) {
      const uint8_t *const hSafe = hEnd - kReach - 1;
      uint8_t *const oSafe = oEnd - kRawBlind;
      while (h < hSafe && o <= oSafe) {
        const uint8_t head = *h;
        const size_t bytes = ((head & 0x7Fu) + 1u) * 3u;
        if (head & 0x80) {
          if (bytes > 32 && runReach(bytes) > static_cast<size_t>(oEnd - o)) break;
          fillRun(o, h + 1, bytes, index);
          h += 4;
        } else {
          if (bytes > kRawBlind && rawReach(bytes) > static_cast<size_t>(oEnd - o)) break;
          copyRaw(o, h + 1, bytes);
          h += 3 * static_cast<size_t>(head) + 4;
        }
        o += bytes;
      }
    }
  }
  // Every packet reads its header and at least 16 bytes after it.
  while (hEnd - h >= 17) {
    const uint8_t head = *h;
    const size_t bytes = ((head & 0x7Fu) + 1u) * 3u;
    // In the row the stores' reach bounds the packet too; in scratch
    // the packet must also end inside what is left of the row.
    if (Scratch && bytes > static_cast<size_t>(oLimit - o)) break;
    if (head & 0x80) {
      if (runReach(bytes) > static_cast<size_t>(oEnd - o)) break;
      fillRun(o, h + 1, bytes, index);
      h += 4;
    } else {
      const size_t reach = rawReach(bytes);
      if (reach > static_cast<size_t>(oEnd - o) || reach >= static_cast<size_t>(hEnd - h)) break;
      copyRaw(o, h + 1, bytes);
      h += 3 * static_cast<size_t>(head) + 4;
    }
    o += bytes;
  }
  atRef = static_cast<size_t>(h - src);
  return static_cast<size_t>(o - o0);
}

}  // namespace

KAV_TARGET_AVX2 size_t unpack24RowAvx2(const uint8_t *src, size_t avail, size_t &atRef, uint8_t *row, size_t filled,
                                       size_t rowBytes) {
  filled = unpackPackets<false>(src, avail, atRef, row, filled, rowBytes, rowBytes);
  // The bulk stops where a packet's stores would leave the row, so less
  // than kReach is left unless the input ran short. The packets that end
  // in the row go through a scratch block and are copied in exactly,
  // which costs less than taking them one by one byte-exactly.
  const size_t room = rowBytes - filled;
  if (room == 0 || room >= kReach) return filled;
  alignas(32) uint8_t tail[2 * kReach];
  const size_t got = unpackPackets<true>(src, avail, atRef, tail, 0, room, sizeof tail);
  std::memcpy(row + filled, tail, got);
  return filled + got;
}

}  // namespace kav::still::tgaunpack

#else

namespace kav::still::tgaunpack {

bool useAvx2() { return false; }

size_t unpack24RowAvx2(const uint8_t *, size_t, size_t &, uint8_t *, size_t filled, size_t) { return filled; }

}  // namespace kav::still::tgaunpack

#endif
