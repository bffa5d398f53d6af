// The bit writer's fast path, inline for the library's own coders. Writes
// exactly what KAVFilePutBits writes; only the call is saved.
#pragma once

#include <cstdint>
#include <cstring>

#include "kavutil/kavfile.h"
#include "util/kavfile_handle.h"

namespace kav {

// Keeps the compiler from moving memory accesses across this point; no
// instruction is emitted.
inline void compilerBarrier() {
#if defined(__GNUC__)
  __asm__ __volatile__("" ::: "memory");
#endif
}

// Pending bits and the new ones in one word: whole bytes go to the buffer,
// the rest stays as the partial byte. Bytes stored past the whole ones are
// scratch until written again. `value` must fit in `n` bits (0..32).
// False when the buffer cannot take it here; a reading or unbuffered handle has
// a bit limit of 0 and always goes the slow way.
inline bool tryPutFittingBits(KAVFile *f, uint32_t value, uint32_t n) {
  const uint32_t pos = f->bufferPos;
  if (pos >= f->bitLimit) return false;
  const uint32_t k = f->bitCount;
  const uint64_t acc = f->bitByte | (static_cast<uint64_t>(value) << k);
  const uint32_t total = k + n;
  uint32_t low = static_cast<uint32_t>(acc);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  low = __builtin_bswap32(low);
#endif
  std::memcpy(f->buffer + pos, &low, 4);
  f->bufferPos = pos + (total >> 3);
  f->bitByte = static_cast<uint32_t>(acc >> (total & ~7u));
  f->bitCount = total & 7;
  return true;
}

// `n` is 0..32 (0 stores nothing); `value` may hold bits above n.
inline bool tryPutBitsFast(KAVFile *f, uint32_t value, uint32_t n) {
  const auto fitting = static_cast<uint32_t>(value & ((uint64_t{1} << n) - 1));
  return tryPutFittingBits(f, fitting, n);
}

// For precomputed codes, which never hold bits above their length `n`
// (0..32): no masking.
inline void putCode(KAVFile *f, uint32_t code, uint32_t n) {
  if (f && tryPutFittingBits(f, code, n)) return;
  KAVFilePutBits(f, code, n);
}

}  // namespace kav
