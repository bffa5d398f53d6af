// The buffered bit file record. One buffer serves reading and writing in
// turn; `mode` says which. The record is private to the library, so the
// fields the bit and byte fast paths touch come first, in one cache line,
// and the long name last.
#pragma once

#include <cstdint>

#include "kavutil/kavdefs.h"

struct KAVFile {
  KavOsFile os;           // KAV_INVALID_OS_FILE once closed
  int32_t writeError;     // 1 once a write fell short; never cleared
  unsigned char *buffer;  // null until the first transfer needs it
  uint32_t capacity;      // bytes of buffer; 0 = unbuffered
  // Reading: valid bytes in the buffer. Writing: bytes the buffer may take
  // before it is written out.
  uint32_t fill;
  uint32_t bufferPos;     // next byte to read or write; never above fill
  // Reading: file offset just past the buffered bytes. Writing: offset at
  // which buffer[0] will land.
  uint32_t osPos;
  int64_t cachedSize;     // -1 while unknown
  uint32_t bitCount;      // 0..7 bits of bitByte already read or written
  // The partial byte, low 8 bits. While writing, the bits above bitCount are
  // always 0, so new bits can be OR-ed in without masking.
  uint32_t bitByte;
  uint32_t mode;          // 0 reading, 1 writing
  // Writing only: while bufferPos is below this, a bit write may store four
  // bytes at bufferPos and stay inside the buffer and the 32-bit offset
  // range. 0 whenever that does not hold (reading, no buffer, near the
  // limit), so the bit writers need one comparison to take the fast path.
  uint32_t bitLimit;
  char name[KAV_NAME_MAX];
};

namespace kav {
constexpr uint32_t kModeRead = 0;
constexpr uint32_t kModeWrite = 1;
}  // namespace kav
