// The bit writer's fast path, inline for the library's own coders. Writes
// exactly what KAVFilePutBits writes; only the call is saved.
#pragma once

#include <cstdint>
#include <cstring>

#include "kavutil/kavfile.h"
#include "util/kavfile_handle.h"

namespace kav {

// Pending bits and the new ones in one word: whole bytes go to the buffer,
// the rest stays as the partial byte. Bytes stored past the whole ones are
// scratch until written again. False when the buffer cannot take it here.
// `n` is 1..32.
inline bool tryPutBitsFast(KAVFile *f, uint32_t value, uint32_t n) {
  if (!f->buffer || f->mode != kModeWrite || f->fill - f->bufferPos < 4 ||
      static_cast<uint64_t>(f->osPos) + f->fill > 0xFFFFFFFFu)
    return false;
  const uint32_t k = f->bitCount;
  const uint64_t mask = (uint64_t{1} << n) - 1;
  const uint64_t acc = (k ? (f->bitByte & 0xFFu) : 0u) | ((value & mask) << k);
  const uint32_t total = k + n;
  const uint32_t bytes = total / 8;
  uint32_t low = static_cast<uint32_t>(acc);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  low = __builtin_bswap32(low);
#endif
  std::memcpy(f->buffer + f->bufferPos, &low, 4);
  f->bufferPos += bytes;
  f->bitByte = static_cast<uint32_t>(acc >> (8 * bytes)) & 0xFFu;
  f->bitCount = total & 7;
  return true;
}

inline void putBits(KAVFile *f, uint32_t value, uint32_t n) {
  if (n - 1u < 32u && f && f->os != KAV_INVALID_OS_FILE && tryPutBitsFast(f, value, n)) return;
  KAVFilePutBits(f, value, n);
}

}  // namespace kav
