// The buffered bit file. One buffer serves reading and writing in turn; the
// bit cursor lets a format mix bit fields, bytes and words, least significant
// bit first.
#include "kavutil/kavfile.h"

#include <algorithm>
#include <cstring>

#include "kavutil/kavbase.h"
#include "platform/os_file.h"
#include "util/kavfile_handle.h"
#include "util/kavfile_inline.h"

using kav::kModeRead;
using kav::kModeWrite;

namespace {

constexpr uint32_t kMaxOffset = 0xFFFFFFFFu;  // positions are 32-bit

bool isOpen(const KAVFile *f) { return f && f->os != KAV_INVALID_OS_FILE; }

// Called whenever the mode, the buffer, its fill or the file offset change.
void refreshBitLimit(KAVFile *f) {
  const bool fast = f->buffer && f->mode == kModeWrite && f->fill >= 4 &&
                    static_cast<uint64_t>(f->osPos) + f->fill <= kMaxOffset;
  f->bitLimit = fast ? f->fill - 3 : 0;
}

uint32_t logicalPos(const KAVFile *f) {
  if (f->mode == kModeWrite && f->bufferPos <= f->fill) return f->osPos + f->bufferPos;
  // Unsigned arithmetic: osPos - fill may wrap before bufferPos is added back.
  return f->osPos - f->fill + f->bufferPos - (f->bitCount ? 1u : 0u);
}

void ensureBuffer(KAVFile *f) {
  if (f->buffer || f->capacity == 0) return;
  f->buffer = static_cast<unsigned char *>(kavmalloc(f->capacity));
  if (!f->buffer) {
    // Out of memory (the user has been told): carry on unbuffered.
    f->capacity = 0;
    f->fill = 0;
    f->bufferPos = 0;
  }
  refreshBitLimit(f);
}

// Forgets what the read buffer holds; the next read refills it.
void dropReadBuffer(KAVFile *f) {
  f->fill = f->capacity;
  f->bufferPos = f->fill;
}

void moveOsPointer(KAVFile *f, uint32_t p) {
  kav::os::seek(f->os, p);
  f->osPos = p;
  f->bitCount = 0;
  f->bitByte = 0;
  refreshBitLimit(f);
}

void enterReadMode(KAVFile *f) {
  if (f->mode != kModeWrite) return;
  const uint32_t pos = logicalPos(f);
  KAVFileFlush(f, 0);
  f->mode = kModeRead;
  dropReadBuffer(f);
  moveOsPointer(f, pos);  // also drops the bit limit
}

// An unbuffered handle switches too: it has no buffer to reset, but in read
// mode a pending partial byte of written bits would count as already taken
// and the position would run one byte behind.
void enterWriteMode(KAVFile *f) {
  if (f->mode != kModeRead) return;
  const uint32_t pos = logicalPos(f);
  f->mode = kModeWrite;
  f->fill = f->capacity;
  f->bufferPos = 0;
  moveOsPointer(f, pos);
}

// Offset at which the next written byte lands.
uint32_t writeOffset(const KAVFile *f) { return f->osPos + (f->mode == kModeWrite ? f->bufferPos : 0u); }

// Returns the bytes the system took.
uint32_t writeOut(KAVFile *f, const void *src, uint32_t n) {
  const size_t w = kav::os::write(f->os, src, n);
  if (w < n) f->writeError = 1;
  f->osPos += static_cast<uint32_t>(w);
  refreshBitLimit(f);
  return static_cast<uint32_t>(w);
}

void writeBuffered(KAVFile *f) {
  if (f->bufferPos == 0) return;
  writeOut(f, f->buffer, f->bufferPos);
  f->bufferPos = 0;
}

uint32_t load32LE(const unsigned char *p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  v = __builtin_bswap32(v);
#endif
  return v;
}

uint32_t loadLE(const unsigned char *p, int bytes) {
  uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

void storeLE(unsigned char *p, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

uint32_t getValue(KAVFile *f, int bytes) {
  if (!isOpen(f)) return 0;
  if (f->buffer && f->mode == kModeRead && f->bitCount == 0 && f->fill - f->bufferPos >= static_cast<uint32_t>(bytes)) {
    uint32_t v = loadLE(f->buffer + f->bufferPos, bytes);
    f->bufferPos += static_cast<uint32_t>(bytes);
    return v;
  }
  unsigned char t[4] = {0, 0, 0, 0};
  KAVFileGet(f, t, static_cast<uint32_t>(bytes));
  return loadLE(t, bytes);
}

void putValue(KAVFile *f, uint32_t v, int bytes) {
  if (!isOpen(f)) return;
  if (f->buffer && f->mode == kModeWrite && f->bitCount == 0 && f->fill - f->bufferPos >= static_cast<uint32_t>(bytes) &&
      static_cast<uint64_t>(f->osPos) + f->fill <= kMaxOffset) {
    storeLE(f->buffer + f->bufferPos, v, bytes);
    f->bufferPos += static_cast<uint32_t>(bytes);
    return;
  }
  unsigned char t[4];
  storeLE(t, v, bytes);
  KAVFilePut(f, t, static_cast<uint32_t>(bytes));
}

uint32_t lowMask(uint32_t bits) { return bits >= 32 ? 0xFFFFFFFFu : (1u << bits) - 1u; }

// Bit counts are taken modulo 32 into 1..32 (33 reads one bit).
uint32_t normaliseBits(uint32_t n) { return ((n - 1u) & 31u) + 1u; }

KAVFile *newHandle(int32_t bufferSize, const char *name) {
  if (!name || std::strlen(name) >= KAV_NAME_MAX) return nullptr;
  auto *f = static_cast<KAVFile *>(kavmalloc(sizeof(KAVFile)));
  if (!f) return nullptr;
  std::memset(f, 0, sizeof *f);
  f->os = KAV_INVALID_OS_FILE;
  f->capacity = bufferSize < 0 ? 0u - static_cast<uint32_t>(bufferSize) : static_cast<uint32_t>(bufferSize);
  f->fill = f->capacity;
  f->cachedSize = -1;
  std::strcpy(f->name, name);
  return f;
}

KAVFile *create(int32_t bufferSize, const char *name, kav::os::Share share) {
  KAVFile *f = newHandle(bufferSize, name);
  if (!f) return nullptr;
  f->os = kav::os::createAlways(name, share);
  if (f->os == KAV_INVALID_OS_FILE) {
    kavfree(f);
    return nullptr;
  }
  f->bufferPos = 0;
  f->mode = kModeWrite;
  refreshBitLimit(f);
  return f;
}

// Bit reads that cannot be served from the buffer in one go, step by step:
// whole bytes first, then the last 1 to 7 bits through the partial byte.
__attribute__((noinline)) uint32_t getBitsSlow(KAVFile *f, uint32_t n) {
  ensureBuffer(f);
  enterReadMode(f);
  uint32_t low = 0, m = n, lowBits = 0;
  switch (n) {
    case 32: return KAVFileGet32(f);
    case 16: return KAVFileGet16(f);
    case 8: return KAVFileGet8(f);
    case 24: {
      unsigned char t[3] = {0, 0, 0};
      KAVFileGet(f, t, 3);
      return loadLE(t, 3);
    }
    default: break;
  }
  if (n > 8) {
    lowBits = n > 24 ? 24 : (n > 16 ? 16 : 8);
    unsigned char t[3] = {0, 0, 0};
    KAVFileGet(f, t, lowBits / 8);
    low = loadLE(t, static_cast<int>(lowBits / 8));
    m = n - lowBits;
  }
  const uint32_t kk = f->bitCount;
  const uint32_t avail = (8 - kk) & 7;
  uint32_t val = kk ? (f->bitByte & 0xFFu) >> kk : 0;
  if (avail < m) {
    unsigned char b = 0;
    if (KAVFileGetNB(f, &b, 1) == 1) {
      val |= static_cast<uint32_t>(b) << avail;
      f->bitByte = b;
      f->bitCount = (kk + m) & 7;
    } else {
      // Past the end: zero bits, and the cursor stays at the end, whole.
      f->bitByte = 0;
      f->bitCount = 0;
    }
  } else {
    f->bitCount = (kk + m) & 7;
  }
  return low | ((val & lowMask(m)) << lowBits);
}

// Bit writes that cannot go straight into the buffer: whole bytes through
// KAVFilePut, then the last 1 to 7 bits into the partial byte.
__attribute__((noinline)) void putBitsSlow(KAVFile *f, uint32_t value, uint32_t n) {
  ensureBuffer(f);
  enterWriteMode(f);
  if (n == 32 || n == 24 || n == 16 || n == 8) {
    unsigned char t[4];
    storeLE(t, value, 4);
    KAVFilePut(f, t, n / 8);
    return;
  }
  uint32_t m = n;
  if (n > 8) {
    const uint32_t lowBits = n > 24 ? 24 : (n > 16 ? 16 : 8);
    unsigned char t[4];
    storeLE(t, value, 4);
    KAVFilePut(f, t, lowBits / 8);
    value >>= lowBits;
    m = n - lowBits;
  }
  const uint32_t k = f->bitCount;
  const uint32_t v = (k ? (f->bitByte & 0xFFu) : 0u) | ((value & lowMask(m)) << k);
  const uint32_t total = k + m;
  if (total >= 8) {
    const auto b = static_cast<unsigned char>(v);
    KAVFilePutNB(f, &b, 1);
    f->bitCount = total & 7;
    f->bitByte = (v >> 8) & 0xFFu;
  } else {
    f->bitCount = total;
    f->bitByte = v & 0xFFu;
  }
}

}  // namespace

extern "C" {

KAV_EXPORT KAVFile *KAVAPI KAVFileOpen(int32_t bufferSize, const char *name, int32_t access) {
  if (access != KAV_FILE_READ && access != KAV_FILE_READWRITE) return nullptr;
  KAVFile *f = newHandle(bufferSize, name);
  if (!f) return nullptr;
  f->os = kav::os::openExisting(name, access == KAV_FILE_READWRITE);
  if (f->os == KAV_INVALID_OS_FILE) {
    kavfree(f);
    return nullptr;
  }
  f->bufferPos = f->fill;
  f->mode = kModeRead;
  return f;
}

KAV_EXPORT KAVFile *KAVAPI KAVFileCreate(int32_t bufferSize, const char *name) {
  return create(bufferSize, name, kav::os::Share::None);
}

KAV_EXPORT KAVFile *KAVAPI KAVFileCreateWithRead(int32_t bufferSize, const char *name) {
  return create(bufferSize, name, kav::os::Share::Read);
}

KAV_EXPORT void KAVAPI KAVFileClose(KAVFile *f) {
  if (!f) return;
  if (isOpen(f)) {
    KAVFileFlush(f, 0);
    kav::os::close(f->os);
    f->os = KAV_INVALID_OS_FILE;
  }
  kavfree(f->buffer);
  std::memset(f, 0, sizeof *f);
  kavfree(f);
}

KAV_EXPORT uint32_t KAVAPI KAVFileGetPos(KAVFile *f) { return isOpen(f) ? logicalPos(f) : 0; }

KAV_EXPORT uint32_t KAVAPI KAVFileBitPos(KAVFile *f) { return isOpen(f) ? f->bitCount : 0; }

KAV_EXPORT int32_t KAVAPI KAVFileWriteError(KAVFile *f) { return f ? f->writeError : 0; }

KAV_EXPORT uint32_t KAVAPI KAVFileSetPos(KAVFile *f, uint32_t p) {
  if (!isOpen(f)) return 0;
  const uint32_t c = logicalPos(f);
  if (p == c) return c;
  // A file that grew by writing keeps its new size once we move away.
  if (f->cachedSize >= 0 && c > f->cachedSize) f->cachedSize = c;
  if (f->mode == kModeWrite) {
    KAVFileFlush(f, 0);
    moveOsPointer(f, p);
  } else if (f->osPos > p && p >= f->osPos - f->fill && f->bufferPos < f->fill) {
    // Still buffered: no system call. The bit count is kept; callers
    // byte-align before seeking.
    f->bufferPos = f->fill - f->osPos + p;
  } else {
    dropReadBuffer(f);
    moveOsPointer(f, p);
  }
  return c;
}

KAV_EXPORT uint32_t KAVAPI KAVFileSize(KAVFile *f) {
  if (!isOpen(f)) return 0;
  if (f->cachedSize < 0) {
    const int64_t s = kav::os::size(f->os);
    f->cachedSize = s < 0 ? 0 : std::min<int64_t>(s, kMaxOffset);
  }
  const uint32_t pos = logicalPos(f);
  return std::max<uint32_t>(static_cast<uint32_t>(f->cachedSize), pos);
}

KAV_EXPORT int32_t KAVAPI KAVFileAtEnd(KAVFile *f) {
  if (!isOpen(f)) return 1;
  KAVFileSize(f);
  return logicalPos(f) >= static_cast<uint32_t>(f->cachedSize) ? 1 : 0;
}

KAV_EXPORT int32_t KAVAPI KAVFileIsInBuffer(KAVFile *f, uint32_t p) {
  if (!isOpen(f) || f->mode != kModeRead) return 0;
  return (f->osPos > p && p >= f->osPos - f->fill && f->bufferPos < f->fill) ? 1 : 0;
}

KAV_EXPORT void KAVAPI KAVFileByteAlign(KAVFile *f) {
  if (!isOpen(f)) return;
  if (f->mode == kModeWrite && f->bitCount) KAVFilePutBits(f, 0, 8 - f->bitCount);
  f->bitCount = 0;
}

KAV_EXPORT void KAVAPI KAVFileAlign(KAVFile *f, uint32_t multiple) {
  if (!isOpen(f)) return;
  KAVFileByteAlign(f);
  if (multiple <= 1) return;
  const uint32_t p = logicalPos(f);
  const uint32_t r = p % multiple;
  if (r == 0) return;
  const uint64_t target64 = static_cast<uint64_t>(p) + multiple - r;
  if (target64 > kMaxOffset) {
    f->writeError = 1;  // the padding would pass the 32-bit limit
    return;
  }
  const auto target = static_cast<uint32_t>(target64);
  const uint32_t size = KAVFileSize(f);
  if (target > size) {
    KAVFileSetPos(f, size);
    static const unsigned char zeros[256] = {};
    for (uint32_t left = target - size; left;) {
      const uint32_t n = std::min<uint32_t>(left, sizeof zeros);
      if (KAVFilePut(f, zeros, n) != n) break;
      left -= n;
    }
  } else {
    KAVFileSetPos(f, target);
  }
}

KAV_EXPORT void KAVAPI KAVFileFlush(KAVFile *f, int32_t hard) {
  if (!isOpen(f)) return;
  KAVFileByteAlign(f);
  if (f->mode == kModeWrite) writeBuffered(f);
  // A hard flush commits even what went straight past the buffer.
  if (hard) kav::os::sync(f->os);
}

KAV_EXPORT uint32_t KAVAPI KAVFileGetNB(KAVFile *f, void *dest, uint32_t n) {
  if (!isOpen(f) || n == 0 || !dest) return 0;
  ensureBuffer(f);
  enterReadMode(f);
  auto *d = static_cast<unsigned char *>(dest);
  uint32_t count = 0;
  for (;;) {
    const uint32_t take = std::min(f->fill - f->bufferPos, n - count);
    if (take) {
      std::memcpy(d + count, f->buffer + f->bufferPos, take);
      f->bufferPos += take;
      count += take;
    }
    const uint32_t remaining = n - count;
    if (remaining == 0) return count;
    if (remaining < f->fill) {
      const auto r = static_cast<uint32_t>(kav::os::read(f->os, f->buffer, f->capacity));
      f->fill = r;
      f->osPos += r;
      f->bufferPos = 0;
      if (r == 0) return count;
    } else {
      // At least a whole buffer's worth: straight into the caller's memory.
      const auto r = static_cast<uint32_t>(kav::os::read(f->os, d + count, remaining));
      f->osPos += r;
      return count + r;
    }
  }
}

KAV_EXPORT uint32_t KAVAPI KAVFileGet(KAVFile *f, void *dest, uint32_t n) {
  if (!isOpen(f) || n == 0 || !dest) return 0;
  ensureBuffer(f);
  enterReadMode(f);
  const uint32_t k = f->bitCount;
  const uint32_t got = KAVFileGetNB(f, dest, n);
  if (k && got) {
    auto *d = static_cast<unsigned char *>(dest);
    uint32_t carry = (f->bitByte & 0xFFu) >> k;
    uint32_t c = 0;
    for (uint32_t i = 0; i < got; ++i) {
      c = d[i];
      d[i] = static_cast<unsigned char>((c << (8 - k)) | carry);
      carry = c >> k;
    }
    f->bitByte = c;  // the last raw byte is the new partial byte
  }
  return got;
}

KAV_EXPORT uint32_t KAVAPI KAVFileGet8(KAVFile *f) { return getValue(f, 1); }
KAV_EXPORT uint32_t KAVAPI KAVFileGet16(KAVFile *f) { return getValue(f, 2); }
KAV_EXPORT uint32_t KAVAPI KAVFileGet32(KAVFile *f) { return getValue(f, 4); }

KAV_EXPORT uint32_t KAVAPI KAVFileGetBits(KAVFile *f, uint32_t n) {
  if (!isOpen(f) || n == 0) return 0;
  n = normaliseBits(n);
  if (f->buffer && f->mode == kModeRead && f->fill - f->bufferPos >= 4) {
    // Fast path: the bits still in the partial byte, then up to four
    // buffered bytes, taken as one little-endian word. Written without
    // branches on the bit counts, which follow no pattern a predictor sees.
    const uint32_t k = f->bitCount;
    const uint32_t avail = (8 - k) & 7;
    const uint32_t pending = ((f->bitByte & 0xFFu) >> k) & (k ? 0xFFu : 0u);
    const uint64_t acc = pending | (static_cast<uint64_t>(load32LE(f->buffer + f->bufferPos)) << avail);
    const int32_t need = static_cast<int32_t>(n) - static_cast<int32_t>(avail);
    const uint32_t bytes = static_cast<uint32_t>(need > 0 ? need + 7 : 0) >> 3;
    f->bufferPos += bytes;
    f->bitByte = bytes ? f->buffer[f->bufferPos - 1] : f->bitByte;
    f->bitCount = (k + n) & 7;
    return static_cast<uint32_t>(acc & ((uint64_t{1} << n) - 1));
  }
  return getBitsSlow(f, n);
}

KAV_EXPORT uint32_t KAVAPI KAVFilePutNB(KAVFile *f, const void *source, uint32_t n) {
  if (!isOpen(f) || n == 0 || !source) return 0;
  ensureBuffer(f);
  enterWriteMode(f);
  const uint32_t room = kMaxOffset - writeOffset(f);
  if (n > room) {
    f->writeError = 1;  // the file may not pass the 32-bit limit
    n = room;
    if (n == 0) return 0;
  }
  const auto *s = static_cast<const unsigned char *>(source);
  uint32_t count = 0;
  for (;;) {
    const uint32_t remaining = n - count;
    if (f->bufferPos < f->fill && (f->bufferPos > 0 || remaining <= f->fill)) {
      const uint32_t take = std::min(f->fill - f->bufferPos, remaining);
      std::memcpy(f->buffer + f->bufferPos, s + count, take);
      f->bufferPos += take;
      count += take;
    }
    const uint32_t left = n - count;
    if (left == 0) return count;
    writeBuffered(f);
    if (left < f->fill) continue;
    return count + writeOut(f, s + count, left);
  }
}

KAV_EXPORT uint32_t KAVAPI KAVFilePut(KAVFile *f, const void *source, uint32_t n) {
  if (!isOpen(f) || n == 0 || !source) return 0;
  ensureBuffer(f);
  enterWriteMode(f);
  const uint32_t k = f->bitCount;
  if (k == 0) return KAVFilePutNB(f, source, n);
  // Each byte is shifted up past the k pending bits; its top k bits become
  // the new partial byte.
  const auto *s = static_cast<const unsigned char *>(source);
  unsigned char chunk[1024];
  uint32_t bitByte = f->bitByte & 0xFFu;
  uint32_t accepted = 0;
  for (uint32_t done = 0; done < n;) {
    const uint32_t len = std::min<uint32_t>(n - done, sizeof chunk);
    for (uint32_t i = 0; i < len; ++i) {
      const uint32_t c = s[done + i];
      chunk[i] = static_cast<unsigned char>(bitByte | (c << k));
      bitByte = c >> (8 - k);
    }
    const uint32_t put = KAVFilePutNB(f, chunk, len);
    accepted += put;
    done += len;
    if (put < len) break;
  }
  f->bitByte = bitByte;
  return accepted;
}

KAV_EXPORT void KAVAPI KAVFilePut8(KAVFile *f, uint32_t v) { putValue(f, v, 1); }
KAV_EXPORT void KAVAPI KAVFilePut16(KAVFile *f, uint32_t v) { putValue(f, v, 2); }
KAV_EXPORT void KAVAPI KAVFilePut32(KAVFile *f, uint32_t v) { putValue(f, v, 4); }

KAV_EXPORT void KAVAPI KAVFilePutBits(KAVFile *f, uint32_t value, uint32_t n) {
  if (!isOpen(f) || n == 0) return;
  n = normaliseBits(n);
  if (kav::tryPutBitsFast(f, value, n)) return;
  putBitsSlow(f, value, n);
}

KAV_EXPORT const char *KAVAPI KAVFileGetName(KAVFile *f, char *dest) {
  if (!isOpen(f)) return nullptr;
  if (dest) std::memcpy(dest, f->name, std::strlen(f->name) + 1);
  return f->name;
}

KAV_EXPORT char *KAVAPI KAVFileGetLine(KAVFile *f, char *dest, uint32_t capacity) {
  if (!dest || capacity == 0) return dest;
  dest[0] = '\0';
  if (capacity < 2 || !isOpen(f)) return dest;
  uint32_t len = 0;
  while (len < capacity - 1) {
    unsigned char c;
    if (KAVFileGet(f, &c, 1) != 1) break;
    dest[len++] = static_cast<char>(c);
    if (c == '\n') break;
  }
  while (len > 0 && (dest[len - 1] == '\n' || dest[len - 1] == '\r')) --len;
  dest[len] = '\0';
  return dest;
}

KAV_EXPORT uint32_t KAVAPI KAVFileGetTime(KAVFile *f) {
  if (!isOpen(f)) return 0;
  uint64_t t = 0;
  if (!kav::os::lastWriteTime(f->os, &t)) return 0;
  return static_cast<uint32_t>(t >> 32);
}

KAV_EXPORT void KAVAPI KAVFileSetTime(KAVFile *f, uint32_t timeHigh) {
  if (!isOpen(f)) return;
  KAVFileFlush(f, 0);
  kav::os::setTimes(f->os, static_cast<uint64_t>(timeHigh) << 32);
}

KAV_EXPORT int32_t KAVAPI KAVFileErase(const char *name) {
  if (!name) return 2;
  return kav::os::erase(name);
}

KAV_EXPORT int32_t KAVAPI KAVFileRename(const char *newName, const char *existingName) {
  if (!newName || !existingName) return 2;
  return kav::os::rename(existingName, newName);
}

}  // extern "C"
